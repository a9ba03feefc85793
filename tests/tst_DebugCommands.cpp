#include "app/DebugCommands.h"

#include "support/Files.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace bopling;
using namespace bopling::debug;

using Commands = QList<DebugCommand>;
Q_DECLARE_METATYPE(Commands)

class DebugCommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void commandFileText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Commands>("expected");

        QTest::newRow("paths keep inner spaces, runs of spaces split")
            << "snapshot /tmp/my shot.png\n   windowinfo    /tmp/w.txt\njs qx.config({a: 1})"
            << Commands{Snapshot{"/tmp/my shot.png"}, WindowInfo{"/tmp/w.txt"},
                        Script{"qx.config({a: 1})"}};
        QTest::newRow("blank lines, unknown commands, missing arguments")
            << "\n\n   \nfly away\nsnapshot\nsnapshot   \nmenudump /m\nsavecreature /c.json\n"
            << Commands{MenuDump{"/m"}, SaveCreature{"/c.json"}};
        QTest::newRow("makecreature: model and note default, the note keeps its spaces")
            << "makecreature /p.jpg\nmakecreature /p.jpg  opus   a  fluffy cat"
            << Commands{MakeCreature{"/p.jpg", "sonnet", ""},
                        MakeCreature{"/p.jpg", "opus", "a  fluffy cat"}};
        QTest::newRow("creaturewindow needs three parts, edit only when so named")
            << "creaturewindow /c /p\ncreaturewindow /c /p /o edit\ncreaturewindow /c  /p /o x"
            << Commands{CreatureWindow{"/c", "/p", "/o", true},
                        CreatureWindow{"/c", "/p", "/o", false}};
        QTest::newRow("drag takes two finite decimals")
            << "drag 30 -20\ndrag  1.5   2\ndrag x 2\ndrag 1\ndrag 1 2 3\ndrag nan 1\ndrag inf 1"
            << Commands{Drag{30, -20}, Drag{1.5, 2}};
        QTest::newRow("set: integers stored as given, defaults for non-numbers")
            << "set cornerSize +2\nset cornerSize 7\nset intensity -5\nset warriorCount x\n"
               "set stripSize 99999999999\nset intensity 2.5\nset stripSize 1"
            << Commands{Set{Key::cornerSize, 2}, Set{Key::cornerSize, 7},
                        Set{Key::intensity, -5}, Set{Key::warriorCount, -1},
                        Set{Key::stripSize, 0},  Set{Key::intensity, 1},
                        Set{Key::stripSize, 1}};
        QTest::newRow("set: names are case-sensitive, unknown ones and other flags default")
            << "set layout Strip\nset corner up\nset scene walk\nset monsters true\nset hover 0"
            << Commands{Set{Key::layout, Layout::corner}, Set{Key::corner, Corner::bottomRight},
                        Set{Key::scene, Scene::walk}, Set{Key::monsters, false},
                        Set{Key::hover, Hover(false)}};
        QTest::newRow("set: listen takes the rest of the line, songTitles true or 1")
            << "set listen Google Chrome \nset songTitles true\nset songTitles no"
            << Commands{Set{Key::listen, QStringLiteral("Google Chrome")},
                        Set{Key::songTitles, true}, Set{Key::songTitles, false}};
        QTest::newRow("set: exactly three words; an unknown key still counts")
            << "set paused\nset paused 1 2\nset  volume   11" << Commands{Set{std::nullopt, {}}};
    }

    void commandFileText()
    {
        QFETCH(QString, text);
        QFETCH(Commands, expected);
        QVERIFY(parseDebugCommands(text) == expected);
    }

    // Only a regular file of this user holding up to 1 MiB of UTF-8 is taken, and removed;
    // anything else stays, a link is not followed and a FIFO does not block the reader.
    void takesOnlyASmallRegularFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("qx-cmd.txt");
        const auto take = [&](const QByteArray &bytes) {
            const QString text = takeCommandFile(files::write(path, bytes)).value_or("(none)");
            return QFile::remove(path) ? text + " (left)" : text;
        };
        QCOMPARE(take("windowinfo /w"), "windowinfo /w");
        QCOMPARE(take(QByteArray(1 << 20, '\n')).size(), 1 << 20);
        QCOMPARE(take(QByteArray((1 << 20) + 1, '\n')), "(none) (left)");
        QCOMPARE(take("\xff"), "(none) (left)");
        if (::geteuid() == 0) { // another account's file
            files::write(path, "windowinfo /w");
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
            QVERIFY(!takeCommandFile(path) && QFile::remove(path));
        }
        QVERIFY(QFile::link(files::write(dir.filePath("commands"), "windowinfo /w"), path) &&
                !takeCommandFile(path));
        QVERIFY(QFile::remove(path) && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        QVERIFY(!takeCommandFile(path) && QFileInfo(path).exists());
    }
};

QTEST_GUILESS_MAIN(DebugCommandsTest)
#include "tst_DebugCommands.moc"
