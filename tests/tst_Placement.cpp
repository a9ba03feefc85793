#include "overlay/Placement.h"
#include "overlay/PlacementActions.h"
#include "settings/Settings.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace bopling;

Q_DECLARE_METATYPE(bopling::Frame)

namespace {

constexpr quint32 kLeft = 11;
constexpr quint32 kRight = 22;
constexpr quint32 kPrimary = 1;
constexpr quint32 kSecond = 2;

// Two screens side by side, the primary first, in the stored convention.
QList<ScreenInfo> twoScreens()
{
    return {{kLeft, {0, 0, 1440, 900}, {0, 0, 1440, 900}},
            {kRight, {1440, 100, 1920, 1050}, {1440, 0, 1920, 1150}}};
}

} // namespace

class PlacementTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<Settings> settings;
    // The placement actions against a recording panel, on a 1440 × 900 primary screen
    // with a 1920 × 1080 one to its right.
    std::unique_ptr<PlacementActions> actions;
    QList<ScreenInfo> screens;
    Frame frame;
    int configsSent = 0;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        QFile::remove(dir.filePath("settings.json"));
        settings = std::make_unique<Settings>(dir.filePath("settings.json"));
        screens = {{kPrimary, {0, 0, 1440, 900}, {0, 0, 1440, 900}},
                   {kSecond, {1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}}};
        frame = {};
        configsSent = 0;
        actions = std::make_unique<PlacementActions>(
            *settings, PlacementActions::Panel{[this] { return screens; }, [this] { return frame; },
                                               [this](const Frame &f) { frame = f; },
                                               [this] { ++configsSent; }});
    }

    void panelFrameForSettings_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("corner");
        QTest::addColumn<int>("size");
        QTest::addColumn<Frame>("visible");
        QTest::addColumn<Frame>("expected");
        QTest::newRow("corner larger than the screen is pinned left and bottom")
            << "corner"
            << "topRight" << 2 << Frame{10, 20, 500, 400} << Frame{10, 20, 800, 600};
        QTest::newRow("odd strip width rounds down to even")
            << "strip"
            << "topLeft" << 0 << Frame{7, 30, 1511, 870} << Frame{7, 30, 1510, 240};
    }
    void panelFrameForSettings()
    {
        QFETCH(QString, layout);
        QFETCH(QString, corner);
        QFETCH(int, size);
        QFETCH(Frame, visible);
        QFETCH(Frame, expected);
        const Layout chosen = layoutFromName(layout);
        settings->setLayout(chosen);
        if (!corner.isEmpty())
            settings->setCorner(cornerFromName(corner));
        if (size >= 0)
            chosen == Layout::strip ? settings->setStripSize(size) : settings->setCornerSize(size);
        QCOMPARE(panelFrame(*settings, {kLeft, visible, {}}), expected);
        QCOMPARE(panelSize(*settings, {kLeft, visible, {}}),
                 QSizeF(expected.width, expected.height));
    }

    void savedPositionIsClamped_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QPointF>("offset");
        QTest::addColumn<Frame>("expected");
        // Visible frame (100, 50, 1440, 875); medium corner panel 640 × 480; short strip.
        QTest::newRow("off the top right")
            << "corner" << QPointF(5000, 5000) << Frame{100 + 1440 - 640, 50 + 875 - 480, 640, 480};
        QTest::newRow("strip off the top")
            << "strip" << QPointF(0, 900) << Frame{100, 685, 1440, 240};
    }
    void savedPositionIsClamped()
    {
        QFETCH(QString, layout);
        QFETCH(QPointF, offset);
        QFETCH(Frame, expected);
        const Layout chosen = layoutFromName(layout);
        settings->setLayout(chosen);
        settings->savePosition(chosen, kLeft, offset.x(), offset.y());
        // A position saved for another screen does not apply here.
        settings->savePosition(chosen, kRight, 1, 1);
        settings->savePosition(chosen, kLeft, offset.x(), offset.y());
        QCOMPARE(panelFrame(*settings, {kLeft, {100, 50, 1440, 875}, {}}), expected);
    }

    void targetScreenFollowsSavedScreen()
    {
        QCOMPARE(targetScreen(*settings, twoScreens()).value().number, kLeft); // the primary
        settings->savePosition(Layout::corner, 99, 40, 40); // a screen unplugged since
        QCOMPARE(targetScreen(*settings, twoScreens()).value().number, kLeft);
        settings->savePosition(Layout::corner, kRight, 40, 40);
        QCOMPARE(targetScreen(*settings, twoScreens()).value().number, kRight);
        // The strip layout has its own saved screen.
        settings->setLayout(Layout::strip);
        QCOMPARE(targetScreen(*settings, twoScreens()).value().number, kLeft);
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

QTEST_GUILESS_MAIN(PlacementTest)
#include "tst_Placement.moc"
