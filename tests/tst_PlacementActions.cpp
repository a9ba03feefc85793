#include "overlay/PlacementActions.h"
#include "settings/Settings.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace bopling;

constexpr quint32 kPrimary = 1;
constexpr quint32 kSecond = 2;

// The controller's placement actions against a recording panel, on a
// 1440 × 900 primary screen with a 1920 × 1080 one to its right.
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
        actions = std::make_unique<PlacementActions>(
            *settings, PlacementActions::Panel{[this] { return screens; }, [this] { return frame; },
                                               [this](const Frame &f) { frame = f; },
                                               [this] { ++configsSent; }});
    }

    // Each layout keeps its own size.
    void sizesGoToTheCurrentLayout()
    {
        actions->setSize(2);
        QCOMPARE(frame, (Frame{624, 16, 800, 600}));
        actions->setLayout(7); // any tag but 0 is the strip
        QCOMPARE(frame, (Frame{0, 0, 1440, 240}));
        actions->setSize(1);
        QCOMPARE(frame.height, 360.0);
        actions->setLayout(0);
        QCOMPARE(frame, (Frame{624, 16, 800, 600}));
    }

    // A corner choice forgets the hand-placed corner positions on every
    // screen, a snap the current layout's; the strip's stay.
    void cornerAndSnapForgetHandPlacedPositions()
    {
        settings->savePosition(Layout::corner, kPrimary, 10, 10);
        settings->savePosition(Layout::corner, kSecond, 20, 20);
        settings->savePosition(Layout::strip, kSecond, 0, 30);
        actions->setCorner(2);
        QCOMPARE(settings->corner(), Corner::bottomLeft);
        QCOMPARE(frame, (Frame{16, 16, 640, 480})); // at the corner of the primary screen
        // A tag outside the menu's is the bottom right.
        actions->setCorner(7);
        QCOMPARE(frame, (Frame{784, 16, 640, 480}));

        settings->savePosition(Layout::corner, kSecond, 100, 200);
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
        // Past the top edge: the top stays at the visible top, the offset
        // stored is the clamped one.
        actions->drag({824, 895}, grab);
        actions->dragEnded();
        QCOMPARE(frame, (Frame{784, 420, 640, 480}));
        QCOMPARE(settings->savedPosition(Layout::corner, kPrimary), QPointF(784, 390));

        // Onto the second screen, which becomes the layout's screen; then over
        // no screen, which keeps to it.
        actions->drag({2000, 500}, grab);
        actions->dragEnded();
        QCOMPARE(settings->savedPosition(Layout::corner, kSecond), QPointF(520, 460));
        actions->drag({-900, 200}, grab);
        QCOMPARE(frame, (Frame{1440, 160, 640, 480}));

        // A strip moves only up and down, and takes the width of the screen it is dragged to.
        actions->setLayout(1);
        actions->drag({700, 330}, {100, 50});
        QCOMPARE(frame, (Frame{0, 280, 1440, 240}));
        actions->drag({2000, 330}, {100, 50});
        actions->dragEnded();
        QCOMPARE(frame, (Frame{1440, 280, 1920, 240}));
        QCOMPARE(settings->savedPosition(Layout::strip, kSecond), QPointF(0, 280));

        // Without any screen the panel stays where it is.
        screens.clear();
        actions->snapToPreset();
        actions->drag({100, 100}, {10, 10});
        actions->dragEnded();
        QCOMPARE(frame, (Frame{1440, 280, 1920, 240}));
        QCOMPARE(configsSent, 3);
    }
};

QTEST_GUILESS_MAIN(PlacementActionsTest)
#include "tst_PlacementActions.moc"
