#include "app/Familiars.h"
#include "creatures/CreatureLibrary.h"
#include "creatures/window/BusySpinner.h"
#include "creatures/window/CreatureWindowController.h"
#include "creatures/window/MoveList.h"
#include "creatures/window/PhotoDropView.h"
#include "settings/Resources.h"
#include "support/CreatureSamples.h"
#include "support/FakeClaude.h"
#include "support/Files.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace bopling;

namespace {

// A stand-in for Claude Code: notes its process id, the model it was asked
// for and the photo it was given, holds on while a "hold" file exists, then
// prints the reply the test left in "reply.json".
constexpr char kFakeClaude[] = R"(#!/bin/bash
dir=$(dirname "$0")
echo $$ > "$dir/pid"
while [ $# -gt 0 ]; do
  [ "$1" = --model ] && echo "$2" > "$dir/model"
  shift
done
cp photo.jpg "$dir/photo.jpg"
while [ -e "$dir/hold" ]; do sleep 0.05; done
cat "$dir/reply.json"
)";

constexpr int kRunTimeout = 30000;

// Drags the file onto the drop area and drops it; true when the drop was taken.
bool dropFile(PhotoDropView *view, const QString &path)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint centre = view->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &enter);
    if (!enter.isAccepted() || enter.dropAction() != Qt::CopyAction)
        return false;
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &drop);
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

} // namespace

class CreatureWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString bin;
    std::unique_ptr<CreatureLibrary> library;
    std::unique_ptr<CreatureWindowController> controller;
    QList<QPair<QString, std::optional<QString>>> saved;

    QString write(const QString &name, const QByteArray &bytes)
    {
        files::write(dir.filePath(name), bytes);
        return dir.filePath(name);
    }

    void answerWith(const Creature &creature)
    {
        files::write(bin + QStringLiteral("/reply.json"), fakeclaude::prose(creature));
    }

    void hold(bool on)
    {
        if (on)
            files::write(bin + QStringLiteral("/hold"), {});
        else
            QFile::remove(bin + QStringLiteral("/hold"));
    }

    QString recorded(const QString &name)
    {
        return QString::fromUtf8(files::read(bin + u'/' + name)).trimmed();
    }

    bool started() { return !recorded(QStringLiteral("pid")).isEmpty(); }

    void startRun(const std::function<void()> &start)
    {
        QFile::remove(bin + QStringLiteral("/pid"));
        hold(true);
        start();
        QVERIFY(controller->isBusy() && controller->spinner->isSpinning());
        QVERIFY(!controller->create->isEnabled() && !controller->tryAgain->isEnabled() &&
                !controller->save->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(started(), kRunTimeout);
    }

    void finishRun()
    {
        hold(false);
        QTRY_VERIFY_WITH_TIMEOUT(!controller->isBusy(), kRunTimeout);
        QVERIFY(!controller->spinner->isSpinning());
    }

    QColor photoSent()
    {
        const QImage sent(bin + QStringLiteral("/photo.jpg"));
        return sent.isNull() ? QColor() : sent.pixelColor(sent.rect().center());
    }

    QCheckBox *box(const QString &id) { return controller->moves->boxes().value(id); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        bin = dir.filePath(QStringLiteral("bin"));
        QVERIFY(QDir().mkpath(bin));
        QVERIFY(fakeclaude::writeFile(bin + QStringLiteral("/claude"), kFakeClaude, true));
        qputenv("PATH", (bin + u':').toUtf8() + qgetenv("PATH"));

        library = std::make_unique<CreatureLibrary>(
            dir.filePath(QStringLiteral("creatures")),
            resourcePath(QStringLiteral("web/creatures/tobble.json")));
        controller = std::make_unique<CreatureWindowController>(*library);
        controller->onSaved = [this](const QString &stored, const std::optional<QString> &old) {
            QVERIFY(!controller->window->isVisible());
            saved.append({stored, old});
        };
    }

    void init()
    {
        saved.clear();
        controller->openNew();
        QVERIFY(QTest::qWaitForWindowExposed(controller->window, kRunTimeout));
    }

    // Empty -> photo chosen -> running -> result -> moves picked -> saved.
    void makesAndSavesANewCreature()
    {
        CreatureWindowController &c = *controller;
        QVERIFY(!c.create->isEnabled());

        // The chooser: images only, with its message, and the picture goes in.
        const QString red = write(QStringLiteral("red.png"), fakeclaude::png(64, 48, Qt::red));
        QTimer::singleShot(0, this, [red] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QVERIFY(dialog->nameFilters().first().contains(QStringLiteral("*.png")));
            dialog->selectFile(red);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        c.choosePhoto();
        QVERIFY(c.drop->showsPicture() && c.create->isEnabled());

        // The reply's moves reach the window through the runner's check.
        Creature drawn = samples::creature(QStringLiteral("Fluff"));
        drawn.attacks = QStringList{"bark", "fire", "fire", "zap", "quake", "tornado"};
        answerWith(drawn);
        // Return in the note field presses "Create creature".
        startRun([&] { QTest::keyClick(c.note, Qt::Key_Return); });
        // A picture dropped while busy is shown but not used.
        QVERIFY(
            dropFile(c.drop, write(QStringLiteral("blue.png"), fakeclaude::png(64, 48, Qt::blue))));
        finishRun();
        QCOMPARE(recorded(QStringLiteral("model")), QStringLiteral("sonnet"));
        QCOMPARE(photoSent().red() > 200 && photoSent().blue() < 60, true);

        QVERIFY(c.resultBox->isVisible());
        QCOMPARE(c.nameField->text(), QStringLiteral("Fluff"));
        QCOMPARE(c.picked(), (QStringList{"fire", "zap", "quake", "tornado"}));
        QVERIFY(c.save->isEnabled());
        QVERIFY(!c.preview->pixmap().isNull());

        // Try again at Best quality sends the first photo again.
        c.quality->setCurrentIndex(1);
        startRun([&] { c.tryAgain->click(); });
        finishRun();
        QCOMPARE(recorded(QStringLiteral("model")), QStringLiteral("opus"));
        QVERIFY(photoSent().red() > 200 && photoSent().blue() < 60);

        // A fifth pick drops the oldest; no pick at all cannot be saved.
        box(QStringLiteral("blast"))->click();
        QCOMPARE(c.picked(), (QStringList{"zap", "quake", "tornado", "blast"}));
        for (const QString &id : QStringList{"zap", "quake", "tornado", "blast"})
            box(id)->click();
        QVERIFY(!c.save->isEnabled());
        box(QStringLiteral("pounce"))->click();
        box(QStringLiteral("fire"))->click();

        QTest::keyClicks(c.nameField, QStringLiteral(" Jr"));
        c.save->click();
        QVERIFY(saved.size() == 1 && !saved[0].second);
        const QList<Creature> all = library->all();
        QVERIFY(all.size() == 1 && all[0].name == QStringLiteral("Fluff Jr"));
        QCOMPARE(all[0].attacks, (QStringList{"pounce", "fire"}));

        // Closing reset the window to Empty, keeping the note and the quality.
        QVERIFY(!c.resultBox->isVisibleTo(c.window) && !c.drop->showsPicture());
        QCOMPARE(c.quality->currentIndex(), 1);
        c.quality->setCurrentIndex(0);
    }

    void editsAStoredCreature()
    {
        CreatureWindowController &c = *controller;
        Creature stored = samples::creature(QStringLiteral("Rex"));
        stored.attacks = QStringList{"bark", "fire", "fire", "zap", "quake", "tornado"};
        library->save(stored);
        Creature damaged = samples::creature(QStringLiteral("Blot"));
        damaged.palette.remove(QStringLiteral("b"));
        library->save(damaged);
        const qsizetype files = library->all().size();

        // A save that fails shows its message in edit mode too.
        c.openForEdit(*library->find(QStringLiteral("Blot")));
        c.save->click();
        QVERIFY(c.window->isVisible() && c.saveError->isVisible());
        QVERIFY(c.saveError->text().startsWith(QStringLiteral("The palette must have")));
        QVERIFY(saved.isEmpty());

        c.openForEdit(*library->find(QStringLiteral("Rex")));
        QVERIFY(!c.saveError->isVisible());
        QCOMPARE(c.picked(), (QStringList{"blast", "fire", "zap", "quake"}));

        c.nameField->setText(QStringLiteral("Rexy"));
        c.save->click();
        QCOMPARE(saved.value(0), (QPair<QString, std::optional<QString>>("Rexy", "Rex")));
        QCOMPARE(library->all().size(), files);
        QVERIFY(!library->find(QStringLiteral("Rex")));
        QCOMPARE(library->find(QStringLiteral("Rexy"))->attacks,
                 (QStringList{"blast", "fire", "zap", "quake"}));
    }

    void closingDuringARunDropsIt()
    {
        CreatureWindowController &c = *controller;
        answerWith(samples::creature());
        QVERIFY(c.drop->takePhoto(fakeclaude::png(64, 48, Qt::green)));
        startRun([&] { c.create->click(); });
        c.window->close();
        QVERIFY(!c.isBusy());
        QVERIFY(!c.spinner->isSpinning());
        // The photo went with the window: there is nothing to send.
        c.createTapped();
        QVERIFY(!c.isBusy());
        // The CLI is ended and reaped.
        QTRY_VERIFY_WITH_TIMEOUT(fakeclaude::gone(bin + QStringLiteral("/pid")), kRunTimeout);
        hold(false);
        QTest::qWait(1000);
        QVERIFY(!c.creatureOnShow());
        QVERIFY(c.status->text().isEmpty());
    }

    void dropTakesOnlyPictures()
    {
        CreatureWindowController &c = *controller;
        QVERIFY(!dropFile(c.drop, write(QStringLiteral("notes.txt"), "not a picture")));
        QFile big(write(QStringLiteral("big.png"), fakeclaude::png(64, 48, Qt::red)));
        QVERIFY(big.resize(PhotoDropView::kMaxPhotoBytes + 1));
        QVERIFY(!dropFile(c.drop, big.fileName()));
        QVERIFY(!c.create->isEnabled());
        QVERIFY(c.drop->label->isVisible());

        QVERIFY(
            dropFile(c.drop, write(QStringLiteral("red.png"), fakeclaude::png(64, 48, Qt::red))));
        QVERIFY(c.create->isEnabled());
        QVERIFY(!c.drop->label->isVisible());
    }

    // The chosen familiars after a save: a new creature joins while there is room, an edit
    // renames every entry, and nothing is written when nothing changes.
    void familiarsFollowASave()
    {
        QCOMPARE(familiarsAfterSave({"Tobble", "Rex"}, "Fluff", std::nullopt),
                 (QStringList{"Tobble", "Rex", "Fluff"}));
        QCOMPARE(familiarsAfterSave({"Tobble", "Rex", "Max"}, "Fluff", std::nullopt), std::nullopt);
        QCOMPARE(familiarsAfterSave({"Rex", "Tobble", "Rex"}, "Rexy", "Rex"),
                 (QStringList{"Rexy", "Tobble", "Rexy"}));
    }
};

QTEST_MAIN(CreatureWindowTest)
#include "tst_CreatureWindow.moc"
