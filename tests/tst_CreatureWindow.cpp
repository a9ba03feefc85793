#include "app/Familiars.h"
#include "creatures/ClaudeRunner.h"
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

constexpr int kRunTimeout = 30000;
constexpr int kShowTimeout = 90000;

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
        return files::write(dir.filePath(name), bytes);
    }

    QString picture(const QString &name, QColor colour)
    {
        return write(name, fakeclaude::png(64, 48, colour));
    }

    void answerWith(const Creature &creature)
    {
        files::write(bin + "/out", fakeclaude::prose(creature));
    }

    QString recorded(const QString &name)
    {
        return QString::fromUtf8(files::read(bin + u'/' + name)).trimmed();
    }

    QString model()
    {
        const QStringList args = recorded("args").split(QChar(0));
        return args.value(args.indexOf("--model") + 1);
    }

    // Starts a run that the fake holds until finishRun(); the window is busy meanwhile.
    void startRun(const std::function<void()> &start)
    {
        QFile::remove(bin + "/pid");
        files::write(bin + "/hold", {});
        files::write(bin + "/extra", "while [ -e \"$FAKE_DIR/hold\" ]; do sleep 0.05; done\n");
        start();
        QVERIFY(controller->isBusy() && controller->spinner->isSpinning());
        QVERIFY(!controller->create->isEnabled() && !controller->tryAgain->isEnabled() &&
                !controller->save->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!recorded("pid").isEmpty(), kRunTimeout);
    }

    void finishRun()
    {
        QFile::remove(bin + "/hold");
        QTRY_VERIFY_WITH_TIMEOUT(!controller->isBusy(), kRunTimeout);
        QVERIFY(!controller->spinner->isSpinning() && controller->create->isEnabled() &&
                controller->tryAgain->isEnabled());
    }

    // The photo the fake was given is the red one.
    bool sentRed()
    {
        const QImage sent(bin + "/photo.jpg");
        const QColor centre = sent.isNull() ? QColor() : sent.pixelColor(sent.rect().center());
        return centre.red() > 200 && centre.blue() < 60;
    }

    void click(const QStringList &moves)
    {
        for (const QString &id : moves)
            controller->moves->boxes().value(id)->click();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        bin = dir.filePath("bin");
        QVERIFY(fakeclaude::writeFile(bin + "/claude", fakeclaude::kRecorder, true));
        qputenv("FAKE_DIR", bin.toLocal8Bit());
        qputenv("PATH", (bin + u':').toUtf8() + qgetenv("PATH"));
        // Runs use a folder of their own: a Bopling starting elsewhere on this machine sweeps
        // the shared one and would take the photo from under a run.
        QVERIFY(QDir().mkpath(dir.filePath("tmp")));
        qputenv("TMPDIR", dir.filePath("tmp").toLocal8Bit());

        library = std::make_unique<CreatureLibrary>(
            dir.filePath("creatures"), resourcePath(QStringLiteral("web/creatures/tobble.json")));
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
        // Long enough for a busy machine; a window that never shows still fails here.
        QVERIFY2(QTest::qWaitForWindowExposed(controller->window, kShowTimeout),
                 "the creature window did not show within 90 s");
    }

    // Content taller than the screen, a long failure say: the window, frame
    // and all, stays on the screen and its content scrolls.
    void tallContentStaysOnScreen()
    {
        CreatureWindowController &c = *controller;
        c.status->setText(QStringLiteral("claude failed\n").repeated(120));
        c.applySizeRule();
        const QRect area = c.window->screen()->availableGeometry();
        QTRY_VERIFY(area.contains(c.window->frameGeometry()) &&
                    c.window->frameGeometry().height() > area.height() / 2);
    }

    // Empty -> photo chosen -> running -> result -> moves picked -> saved.
    void makesAndSavesANewCreature()
    {
        CreatureWindowController &c = *controller;
        // Only pictures of a bounded size are taken.
        QVERIFY(!dropFile(c.drop, write("notes.txt", "not a picture")));
        QFile big(picture("big.png", Qt::red));
        QVERIFY(big.resize(PhotoDropView::kMaxPhotoBytes + 1));
        QVERIFY(!dropFile(c.drop, big.fileName()));
        QVERIFY(!c.create->isEnabled() && c.drop->label->isVisible());

        // The chooser: images only, and the picture goes in.
        const QString red = picture("red.png", Qt::red);
        QTimer::singleShot(0, this, [red] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QVERIFY(dialog->nameFilters().first().contains("*.png"));
            dialog->selectFile(red);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        c.choosePhoto();
        QVERIFY(c.drop->showsPicture() && !c.drop->label->isVisible() && c.create->isEnabled());

        // The reply's moves reach the window through the runner's check.
        Creature drawn = samples::creature("Fluff");
        drawn.attacks = QStringList{"bark", "fire", "fire", "zap", "quake", "tornado"};
        answerWith(drawn);
        // Return in the note field presses "Create creature"; a picture dropped while busy
        // is shown but not used.
        startRun([&] { QTest::keyClick(c.note, Qt::Key_Return); });
        QVERIFY(dropFile(c.drop, picture("blue.png", Qt::blue)));
        finishRun();
        QCOMPARE(model(), "sonnet");
        QVERIFY(sentRed());
        // Runs get the 4 minutes that the message of a stopped run speaks of.
        QCOMPARE(c.claudeRunner().limit(), std::chrono::minutes(4));

        QVERIFY(c.resultBox->isVisible() && c.save->isEnabled());
        QCOMPARE(c.nameField->text(), "Fluff");
        QCOMPARE(c.picked(), (QStringList{"fire", "zap", "quake", "tornado"}));
        QVERIFY(!c.preview->pixmap().isNull());

        // Try again at Best quality sends the first photo again. A pick while it runs
        // leaves Save off; a failed run keeps the earlier result, which can be saved.
        c.quality->setCurrentIndex(1);
        files::write(bin + "/out", "no creature here");
        startRun([&] { c.tryAgain->click(); });
        click({"blast"}); // a fifth pick drops the oldest
        QVERIFY(!c.save->isEnabled());
        finishRun();
        QCOMPARE(model(), "opus");
        QVERIFY(sentRed());
        QVERIFY(c.status->text().startsWith("Claude Code did not answer.") && c.save->isEnabled());
        QCOMPARE(c.picked(), (QStringList{"zap", "quake", "tornado", "blast"}));

        // No pick at all cannot be saved.
        click({"zap", "quake", "tornado", "blast"});
        QVERIFY(!c.save->isEnabled());
        click({"pounce", "fire"});

        QTest::keyClicks(c.nameField, " Jr");
        c.save->click();
        QVERIFY(saved.size() == 1 && !saved[0].second);
        const QList<Creature> all = library->all();
        QVERIFY(all.size() == 1 && all[0].name == "Fluff Jr");
        QCOMPARE(all[0].attacks, (QStringList{"pounce", "fire"}));

        // Closing reset the window to Empty, keeping the note and the quality.
        QVERIFY(!c.resultBox->isVisibleTo(c.window) && !c.drop->showsPicture() &&
                c.create->text() == "Create creature");
        QCOMPARE(c.quality->currentIndex(), 1);
        c.quality->setCurrentIndex(0);
    }

    void editsAStoredCreature()
    {
        CreatureWindowController &c = *controller;
        Creature stored = samples::creature("Rex");
        stored.attacks = QStringList{"bark", "fire", "fire", "zap", "quake", "tornado"};
        library->save(stored);
        Creature damaged = samples::creature("Blot");
        damaged.palette.remove("b");
        library->save(damaged);
        const qsizetype files = library->all().size();

        // A save that fails shows its message in edit mode too.
        c.openForEdit(*library->find("Blot"));
        c.save->click();
        QVERIFY(c.window->isVisible() && c.saveError->isVisible());
        QVERIFY(c.saveError->text().startsWith("The palette must have"));
        QVERIFY(saved.isEmpty());

        c.openForEdit(*library->find("Rex"));
        QVERIFY(c.save->text() == "Save changes" && c.tryAgain->isHidden());
        QVERIFY(!c.saveError->isVisible());
        QCOMPARE(c.picked(), (QStringList{"blast", "fire", "zap", "quake"}));
        c.nameField->setText("Rexy");
        c.save->click();
        QCOMPARE(saved.value(0), (QPair<QString, std::optional<QString>>("Rexy", "Rex")));
        QCOMPARE(library->all().size(), files);
        QVERIFY(!library->find("Rex"));
        QCOMPARE(library->find("Rexy")->attacks, (QStringList{"blast", "fire", "zap", "quake"}));
    }

    void closingDuringARunDropsIt()
    {
        CreatureWindowController &c = *controller;
        answerWith(samples::creature());
        QVERIFY(dropFile(c.drop, picture("green.png", Qt::green)));
        startRun([&] { c.create->click(); });
        // Back from editing: the buttons of a new creature.
        QVERIFY(c.save->text() == "Save" && !c.tryAgain->isHidden());
        c.window->close();
        QVERIFY(!c.isBusy() && !c.spinner->isSpinning());
        // The photo went with the window: there is nothing to send.
        c.createTapped();
        QVERIFY(!c.isBusy());
        // The CLI is ended and reaped.
        QTRY_VERIFY_WITH_TIMEOUT(fakeclaude::gone(bin + "/pid"), kRunTimeout);
        QFile::remove(bin + "/hold");
        QTest::qWait(1000);
        QVERIFY(!c.creatureOnShow() && c.status->text().isEmpty());
    }

    // The chosen familiars after a save: a new creature joins while there is room, an edit
    // renames every entry.
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
