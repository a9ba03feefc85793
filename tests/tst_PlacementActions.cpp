#include "overlay/PlacementActions.h"
#include "settings/Settings.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace bopling;

constexpr quint32 kPrimary = 1;
constexpr quint32 kSecond = 2;

// The controller's placement actions against a recording panel.
class PlacementActionsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<PlacementActions> actions;
    QList<ScreenInfo> screens;
    Frame frame;
    int configsSent = 0;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        QFile::remove(dir.filePath(QStringLiteral("settings.json")));
        settings = std::make_unique<Settings>(dir.filePath(QStringLiteral("settings.json")));
        screens = {{kPrimary, {0, 0, 1440, 900}, {0, 0, 1440, 900}},
                   {kSecond, {1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}}};
        frame = {};
        configsSent = 0;
        PlacementActions::Panel panel;
        panel.screens = [this] { return screens; };
        panel.frame = [this] { return frame; };
        panel.setFrame = [this](const Frame &f) { frame = f; };
        panel.sizeChanged = [this] { ++configsSent; };
        actions = std::make_unique<PlacementActions>(*settings, panel);
    }

    void configIsResentOnlyWhenTheSizeChanges()
    {
        actions->applyPlacement();
        QCOMPARE(frame, (Frame{784, 16, 640, 480}));
        QCOMPARE(configsSent, 1); // from the zero frame of a new panel

        actions->setSize(2); // Medium to Large
        QCOMPARE(frame, (Frame{624, 16, 800, 600}));
        QCOMPARE(configsSent, 2);

        actions->setCorner(0); // same size, new origin
        QCOMPARE(frame, (Frame{16, 900 - 616, 800, 600}));
        QCOMPARE(configsSent, 2);

        screens[0].visibleFrame = {0, 40, 1440, 860}; // a panel bar appeared: moves only
        actions->applyPlacement();
        QCOMPARE(frame, (Frame{16, 900 - 616, 800, 600}));
        QCOMPARE(configsSent, 2);

        actions->setLayout(1);
        QCOMPARE(frame, (Frame{0, 40, 1440, 240}));
        QCOMPARE(configsSent, 3);
        screens[0].visibleFrame = {0, 40, 1441, 860}; // odd width: still 1440
        actions->applyPlacement();
        QCOMPARE(configsSent, 3);
    }

    void sizeGoesToTheCurrentLayout()
    {
        actions->setSize(3);
        QCOMPARE(settings->cornerSize(), 3);
        QCOMPARE(settings->stripSize(), 0);
        actions->setLayout(7); // any tag but 0 is the strip
        QCOMPARE(settings->layout(), Layout::strip);
        actions->setSize(1);
        QCOMPARE(settings->stripSize(), 1);
        QCOMPARE(settings->cornerSize(), 3);
        QCOMPARE(frame.height, 360.0);
        actions->setLayout(0);
        QCOMPARE(settings->layout(), Layout::corner);
        QCOMPARE(frame.height, 270.0);
    }

    void choosingACornerForgetsOnlyCornerPositions_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("corner");
        QTest::newRow("top right") << 1 << int(Corner::topRight);
        QTest::newRow("bottom left") << 2 << int(Corner::bottomLeft);
        QTest::newRow("outside the menu's tags") << 7 << int(Corner::bottomRight);
    }

    void choosingACornerForgetsOnlyCornerPositions()
    {
        QFETCH(int, tag);
        QFETCH(int, corner);

        settings->setCorner(Corner::topLeft);
        settings->savePosition(Layout::corner, kPrimary, 10, 10);
        settings->savePosition(Layout::corner, kSecond, 20, 20);
        settings->savePosition(Layout::strip, kSecond, 0, 30);

        actions->setCorner(tag);
        QCOMPARE(int(settings->corner()), corner);
        QVERIFY(!settings->savedPosition(Layout::corner, kPrimary));
        QVERIFY(!settings->savedPosition(Layout::corner, kSecond));
        QVERIFY(!settings->savedScreen(Layout::corner));
        QCOMPARE(settings->savedPosition(Layout::strip, kSecond), QPointF(0, 30));
        QCOMPARE(settings->savedScreen(Layout::strip), kSecond);
        // Back on the primary screen at the preset corner.
        QVERIFY(frame.x >= 0 && frame.maxX() <= 1440);
    }

    void snapToPresetForgetsTheCurrentLayoutOnly()
    {
        settings->savePosition(Layout::corner, kSecond, 100, 200);
        settings->savePosition(Layout::strip, kPrimary, 0, 300);
        actions->applyPlacement();
        QCOMPARE(frame, (Frame{1540, 200, 640, 480}));

        actions->snapToPreset();
        QCOMPARE(frame, (Frame{784, 16, 640, 480}));
        QCOMPARE(settings->savedPosition(Layout::strip, kPrimary), QPointF(0, 300));

        actions->setLayout(1);
        QCOMPARE(frame, (Frame{0, 300, 1440, 240}));
    }

    void dragsFollowTheScreenUnderThePointerAndAreStoredClamped()
    {
        screens[0].visibleFrame = {0, 30, 1440, 870}; // a panel bar along the bottom
        actions->applyPlacement();
        const QPointF grab(40, 40);
        // Past the top edge: the top stays at the visible top, the offset stored is the clamped
        // one.
        actions->drag({824, 895}, grab);
        actions->dragEnded();
        QCOMPARE(frame, (Frame{784, 420, 640, 480}));
        QCOMPARE(settings->savedPosition(Layout::corner, kPrimary), QPointF(784, 390));

        // Onto the second screen, which becomes the layout's screen; then over
        // no screen, which keeps to it, and a centre outside every screen stores there too.
        actions->drag({2000, 500}, grab);
        actions->dragEnded();
        QCOMPARE(settings->savedPosition(Layout::corner, kSecond), QPointF(520, 460));
        QCOMPARE(settings->savedScreen(Layout::corner), kSecond);
        actions->drag({-900, 200}, grab);
        QCOMPARE(frame, (Frame{1440, 160, 640, 480}));
        frame.x = -2000;
        actions->dragEnded();
        QCOMPARE(settings->savedPosition(Layout::corner, kSecond), QPointF(-3440, 160));
        QCOMPARE(frame, (Frame{1440, 160, 640, 480}));
        QCOMPARE(configsSent, 1);

        // A strip moves only up and down, and takes the width of the screen it is dragged to.
        actions->setLayout(1);
        actions->drag({700, 330}, {100, 50});
        QCOMPARE(frame, (Frame{0, 280, 1440, 240}));
        actions->drag({2000, 330}, {100, 50});
        actions->dragEnded();
        QCOMPARE(frame, (Frame{1440, 280, 1920, 240}));
        QCOMPARE(settings->savedPosition(Layout::strip, kSecond), QPointF(0, 280));
        QCOMPARE(configsSent, 3);
    }

    void withoutScreensThePanelStays()
    {
        frame = {5, 6, 7, 8};
        screens.clear();
        actions->setSize(2);
        actions->setLayout(1);
        actions->snapToPreset();
        actions->drag({100, 100}, {10, 10});
        actions->dragEnded();
        QCOMPARE(frame, (Frame{5, 6, 7, 8}));
        QVERIFY(!settings->savedScreen(Layout::strip));
        QCOMPARE(configsSent, 0);
    }
};

QTEST_GUILESS_MAIN(PlacementActionsTest)
#include "tst_PlacementActions.moc"
