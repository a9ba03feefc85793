#include "overlay/HoverFade.h"
#include "overlay/Placement.h"
#include "overlay/PlacementActions.h"
#include "settings/Settings.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace bopling;

// Placement on a 1440 × 900 primary screen (number 1) with a 1920 × 1080 one
// (number 2) to its right, the actions against a recording panel; the hover
// fade against a clock and an opacity of its own.
class PlacementTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<PlacementActions> actions;
    QList<ScreenInfo> screens;
    Frame frame;
    int configsSent = 0;

    Frame frameOn(const Frame &visible) { return panelFrame(*settings, {1, visible, {}}); }

    double now = 100;
    double opacity = 1;
    HoverFade fade{[this] { return now; },
                   {[this] { return opacity; }, [this](double a) { opacity = a; }}};

    // Steps the running fade every 16 ms until it ends (or `steps` run out); the seconds it took.
    double finish(int steps = 1000)
    {
        const double start = now;
        while (fade.fading() && steps-- > 0) {
            now += 0.016;
            fade.step();
        }
        return now - start;
    }

    // Hover ticks every 60 ms for `seconds`.
    void ticks(double seconds, bool hover)
    {
        for (const double end = now + seconds; now < end - 1e-9; now += 0.06)
            fade.update(true, hover, false);
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        QFile::remove(dir.filePath("settings.json"));
        settings = std::make_unique<Settings>(dir.filePath("settings.json"));
        screens = {{1, {0, 0, 1440, 900}, {0, 0, 1440, 900}},
                   {2, {1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}}};
        frame = {};
        configsSent = 0;
        actions = std::make_unique<PlacementActions>(
            *settings, PlacementActions::Panel{[this] { return screens; }, [this] { return frame; },
                                               [this](const Frame &f) { frame = f; },
                                               [this] { ++configsSent; }});
    }

    // Presets and saved positions stay inside the visible frame; a position
    // saved for another screen does not apply.
    void frameOnOneScreen()
    {
        settings->setCorner(Corner::topRight);
        settings->setCornerSize(2); // larger than the screen: pinned left and bottom
        QCOMPARE(frameOn({10, 20, 500, 400}), (Frame{10, 20, 800, 600}));
        settings->setCornerSize(1);
        settings->savePosition(Layout::corner, 1, 5000, 5000);
        settings->savePosition(Layout::corner, 2, 1, 1);
        QCOMPARE(frameOn({100, 50, 1440, 875}), (Frame{900, 445, 640, 480}));

        settings->setLayout(Layout::strip); // an odd width rounds down to even
        QCOMPARE(frameOn({7, 30, 1511, 870}), (Frame{7, 30, 1510, 240}));
        settings->savePosition(Layout::strip, 1, 0, 900);
        QCOMPARE(frameOn({100, 50, 1440, 875}), (Frame{100, 685, 1440, 240}));
    }

    void targetScreenFollowsSavedScreen()
    {
        QCOMPARE(targetScreen(*settings, screens)->number, 1u); // the primary
        settings->savePosition(Layout::corner, 99, 40, 40);     // a screen unplugged since
        QCOMPARE(targetScreen(*settings, screens)->number, 1u);
        settings->savePosition(Layout::corner, 2, 40, 40);
        QCOMPARE(targetScreen(*settings, screens)->number, 2u);
        settings->setLayout(Layout::strip); // the strip has its own saved screen
        QCOMPARE(targetScreen(*settings, screens)->number, 1u);
        QVERIFY(!targetScreen(*settings, {}));
    }

    // Qt's coordinates (y down from the primary's top) and the stored ones (y up from its bottom).
    void qtConversionRoundTrips()
    {
        const QRectF below(0, 1080, 1440, 900), right(1920, 0, 1440, 900);
        QCOMPARE(frameFromQt(QRectF(10, 0, 100, 100), below), (Frame{10, 1880, 100, 100}));
        QCOMPARE(frameToQt({10, 1880, 100, 100}, below), QRectF(10, 0, 100, 100));
        QCOMPARE(frameFromQt(QRectF(0, 800, 100, 100), right), (Frame{-1920, 0, 100, 100}));
        QCOMPARE(frameToQt({-1920, 0, 100, 100}, right), QRectF(0, 800, 100, 100));
    }

    // Qt scales a screen's size about its top left, which stays in the window
    // manager's pixels: a 2560 × 1440 monitor at 1.5 right of a 1920 × 1080
    // one is (1920, 0, 1707 × 960) to Qt; 2731 / 2 rounds up to 1366.
    void fullScreenWindowAgainstScaledScreens()
    {
        const QRect first(0, 0, 1920, 1080), second(1920, 0, 1707, 960);
        QVERIFY(coversScreen({1920, 0, 2560, 1440}, second, 1.5));
        QVERIFY(!coversScreen(first, second, 1.5) &&
                !coversScreen({1920, 0, 2560, 1000}, second, 1.5));
        QVERIFY(coversScreen({1920, 0, 2731, 1536}, {1920, 0, 1366, 768}, 2));
    }

    // A corner choice forgets the hand-placed corner positions on every
    // screen, a snap the current layout's; the strip's stay.
    void cornerAndSnapForgetHandPlacedPositions()
    {
        settings->savePosition(Layout::corner, 1, 10, 10);
        settings->savePosition(Layout::corner, 2, 20, 20);
        settings->savePosition(Layout::strip, 2, 0, 30);
        actions->setCorner(2);
        QCOMPARE(settings->corner(), Corner::bottomLeft);
        QCOMPARE(frame, (Frame{16, 16, 640, 480}));
        actions->setCorner(7); // a tag outside the menu's is the bottom right
        QCOMPARE(frame, (Frame{784, 16, 640, 480}));

        settings->savePosition(Layout::corner, 2, 100, 200);
        actions->applyPlacement();
        QCOMPARE(frame, (Frame{1540, 200, 640, 480}));
        actions->snapToPreset();
        QCOMPARE(frame, (Frame{784, 16, 640, 480}));
        actions->setLayout(1);
        QCOMPARE(frame, (Frame{1440, 30, 1920, 240}));
    }

    // The page hears of a new size only (here: the strip's layout and width).
    void dragsFollowTheScreenUnderThePointerAndAreStored()
    {
        screens[0].visibleFrame = {0, 30, 1440, 870}; // a panel bar along the bottom
        actions->applyPlacement();
        const QPointF grab(40, 40);
        // Past the top edge: the panel and the stored offset are clamped.
        actions->drag({824, 895}, grab);
        actions->dragEnded();
        QCOMPARE(frame, (Frame{784, 420, 640, 480}));
        QCOMPARE(settings->savedPosition(Layout::corner, 1), QPointF(784, 390));

        // Onto the second screen, which becomes the layout's screen; then over
        // no screen, which keeps to it.
        actions->drag({2000, 500}, grab);
        actions->dragEnded();
        QCOMPARE(settings->savedPosition(Layout::corner, 2), QPointF(520, 460));
        actions->drag({-900, 200}, grab);
        QCOMPARE(frame, (Frame{1440, 160, 640, 480}));

        // A strip moves only up and down, and takes the width of the screen it is dragged to.
        actions->setLayout(1);
        actions->drag({700, 330}, {100, 50});
        QCOMPARE(frame, (Frame{0, 280, 1440, 240}));
        actions->drag({2000, 330}, {100, 50});
        actions->dragEnded();
        QCOMPARE(frame, (Frame{1440, 280, 1920, 240}));
        QCOMPARE(settings->savedPosition(Layout::strip, 2), QPointF(0, 280));

        // Without any screen the panel stays where it is.
        screens.clear();
        actions->snapToPreset();
        actions->drag({100, 100}, {10, 10});
        actions->dragEnded();
        QCOMPARE(frame, (Frame{1440, 280, 1920, 240}));
        QCOMPARE(configsSent, 3);
    }

    // Left by the window manager across both screens, its centre over neither, the panel
    // goes where a hand drag to the pointer would; a move without the pointer on the
    // panel (from the keyboard) ends on the screen under its centre.
    void windowManagerMovesEndAsDrags()
    {
        frame = {1100, 700, 640, 480};
        actions->windowManagerMoveEnded({1600, 900});
        QCOMPARE(frame, (Frame{1440, 600, 640, 480}));
        QCOMPARE(settings->savedPosition(Layout::corner, 2), QPointF(0, 600));
        frame = {1500, 100, 640, 480};
        actions->windowManagerMoveEnded({100, 100});
        QCOMPARE(settings->savedPosition(Layout::corner, 2), QPointF(60, 100));
    }

    void fadesOutAndInAtItsRatesFromWhereItIs()
    {
        fade.update(false, true, false); // the setting is off
        QVERIFY(!fade.fading());
        fade.update(true, true, false);
        QVERIFY(qAbs(finish() - 0.15) < 0.017);
        QCOMPARE(opacity, 0.12);
        // Away for 0.2 s twice: the delay starts afresh, it stays faded.
        ticks(0.2, false);
        ticks(0.06, true);
        ticks(0.3, false);
        QVERIFY(opacity == 0.12 && !fade.fading());
        fade.update(true, false, false);
        QVERIFY(qAbs(finish() - 0.3) < 0.017);
        QCOMPARE(opacity, 1.0);
        // Reversed half-way by a grab, the fade goes on from where it was.
        fade.update(true, true, false);
        finish(5);
        const double halfWay = opacity;
        fade.update(true, true, true);
        QVERIFY(qAbs(finish() - (1 - halfWay) / HoverFade::kFadeInRate) < 0.017);
        QCOMPARE(opacity, 1.0);
    }
};

QTEST_GUILESS_MAIN(PlacementTest)
#include "tst_Placement.moc"
