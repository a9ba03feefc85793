#include "Desktop.h"

#include <QFile>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace bopling::desktop;

namespace {

constexpr QRgb kClientColour = 0xff20c040;

QByteArray sway(const QString &command)
{
    return run(QStringLiteral("swaymsg"), {command});
}

// The screen as the compositor shows it.
QImage screenshot(const QString &folder)
{
    const QString file = folder + QStringLiteral("/screen.png");
    QFile::remove(file);
    run(QStringLiteral("grim"), {file});
    return QImage(file).convertToFormat(QImage::Format_RGB32);
}

// The bounding box of the pixels whose colour is not `background`.
std::optional<QRect> drawnArea(const QImage &screen, QRgb background)
{
    QRect area;
    for (int y = 0; y < screen.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(screen.constScanLine(y));
        for (int x = 0; x < screen.width(); ++x)
            if ((line[x] | 0xff000000) != (background | 0xff000000))
                area |= QRect(x, y, 1, 1);
    }
    return screen.isNull() || area.isEmpty() ? std::nullopt : std::optional(area);
}

} // namespace

// The panel as a layer surface under sway (scripts/wayland-session): in its
// corner with its margins, click-through to a native window below, on every
// workspace, under a full-screen window, and moved by a drag that a restart
// keeps.
class LayerPanelTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir home;
    QProcess bopling;

    void start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        env.insert(QStringLiteral("QX_DEBUG"), QStringLiteral("1"));
        env.insert(QStringLiteral("QX_CMD_DIR"), home.path());
        env.insert(QStringLiteral("QX_TEST_AUDIO"),
                   QStringLiteral(BOPLING_BINARY_DIR "/demo/bopling-demo.wav"));
        bopling.setProcessEnvironment(env);
        bopling.setProcessChannelMode(QProcess::ForwardedChannels);
        bopling.start(QStringLiteral(BOPLING_BINARY_DIR "/bopling"), {});
    }

    void stop()
    {
        bopling.terminate();
        bopling.waitForFinished(10000);
    }

    bool panelAt(const QRect &expected, QRgb background, int milliseconds = 60000)
    {
        std::optional<QRect> seen;
        const bool there = QTest::qWaitFor(
            [&] { return (seen = drawnArea(screenshot(home.path()), background)) == expected; },
            milliseconds);
        if (!there)
            qWarning() << "the panel is at" << seen.value_or(QRect()) << "not at" << expected;
        return there;
    }

    void send(const QByteArray &command)
    {
        QFile draft(home.filePath(QStringLiteral("draft")));
        QVERIFY(draft.open(QIODevice::WriteOnly) && draft.write(command) == command.size());
        draft.close();
        QVERIFY(draft.rename(home.filePath(QStringLiteral("qx-cmd.txt"))));
        QVERIFY(QTest::qWaitFor([&] { return !QFile::exists(draft.fileName()); }, 10000));
    }

private slots:
    void panelOnTheLayerSurface()
    {
        if (qEnvironmentVariableIsEmpty("SWAYSOCK"))
            QSKIP("needs sway (run under scripts/wayland-session)");
        // A native window under the whole panel, without borders, that
        // records where it is clicked.
        sway(QStringLiteral("default_border none"));
        // The compositor draws its cursor into the screenshots unless it hides it.
        sway(QStringLiteral("seat * hide_cursor 100"));
        QProcess client;
        client.start(QStringLiteral(BOPLING_BINARY_DIR "/tests/bopling-wayland-clicks"), {});
        const auto end = qScopeGuard([&] {
            stop();
            client.kill();
            client.waitForFinished();
        });
        QVERIFY(QTest::qWaitFor([&] { return client.canReadLine(); }, 10000));
        QCOMPARE(client.readLine(), QByteArray("ready\n"));

        // The bottom-right corner of the 1440 x 900 output, 16 px from its edges.
        start();
        const QRect corner(784, 404, 640, 480);
        QVERIFY(panelAt(corner, kClientColour));
        // The scene moves: new pictures reach the screen.
        const QImage first = screenshot(home.path()).copy(corner);
        QVERIFY(
            QTest::qWaitFor([&] { return screenshot(home.path()).copy(corner) != first; }, 10000));

        // A click on the panel goes to the window below.
        client.write("to 1000 600\npress\nrelease\n");
        QVERIFY(QTest::qWaitFor([&] { return client.canReadLine(); }, 5000));
        QCOMPARE(client.readLine(), QByteArray("button 1000 600\n"));

        // Another workspace, empty: the panel is there too.
        sway(QStringLiteral("workspace 2"));
        QTest::qWait(500);
        const QRgb desktop = screenshot(home.path()).pixel(0, 0);
        QVERIFY(panelAt(corner, desktop, 10000));
        sway(QStringLiteral("workspace 1"));

        // A full-screen window covers it; it is back afterwards.
        sway(QStringLiteral("[app_id=bopling-clicks] fullscreen enable"));
        QVERIFY(QTest::qWaitFor([&] { return !drawnArea(screenshot(home.path()), kClientColour); },
                                10000));
        sway(QStringLiteral("[app_id=bopling-clicks] fullscreen disable"));
        QVERIFY(panelAt(corner, kClientColour, 10000));
        // The opposite corner, held by its own edges.
        send("set corner topLeft\n");
        QVERIFY(panelAt(QRect(16, 16, 640, 480), kClientColour, 10000));
        send("set corner bottomRight\n");
        QVERIFY(panelAt(corner, kClientColour, 10000));

        // Moving: a drag by (-300, -200), in steps as a hand would.
        send("set move 1\n");
        client.write("to 1100 640\n");
        QTest::qWait(300);
        client.write("press\n");
        for (int step = 1; step <= 10; ++step) {
            client.write("by -30 -20\n");
            QTest::qWait(50);
        }
        client.write("release\n");
        const QRect moved = corner.translated(-300, -200);
        QVERIFY(panelAt(moved, kClientColour, 10000));
        // A press beside the panel locks it and goes no further; the drag
        // reached no window below either. Clicks pass through it again.
        client.write("to 100 100\npress\nrelease\n");
        QTest::qWait(1000);
        client.write("to 800 400\npress\nrelease\n");
        QVERIFY(QTest::qWaitFor([&] { return client.canReadLine(); }, 5000));
        QCOMPARE(client.readLine(), QByteArray("button 800 400\n"));

        // The strip, along the bottom edge at its height.
        send("set layout strip\n");
        QVERIFY(panelAt(QRect(0, 660, 1440, 240), kClientColour, 10000));
        send("set layout corner\n");
        QVERIFY(panelAt(moved, kClientColour, 10000));

        // The position is kept for the next start.
        stop();
        QVERIFY(QTest::qWaitFor([&] { return !drawnArea(screenshot(home.path()), kClientColour); },
                                10000));
        start();
        QVERIFY(panelAt(moved, kClientColour));
    }
};

QTEST_GUILESS_MAIN(LayerPanelTest)
#include "tst_LayerPanel.moc"
