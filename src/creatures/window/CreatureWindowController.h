#pragma once

#include "creatures/Creature.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;
class QWidget;

namespace bopling {

class BusySpinner;
class ClaudeRunner;
class CreatureLibrary;
class MoveList;
class PhotoDropView;

// The creature window, Bopling's one ordinary window: make a creature from a
// photo (choose or drop it, pick a quality, add a note, let Claude Code draw
// it, watch the preview, name it, pick up to four moves, save it), or rename
// a stored creature and change its moves. Created once by the application
// controller and kept; the window is hidden, not destroyed, when closed, and
// every close resets it. Owns its own ClaudeRunner. Main thread only.
class CreatureWindowController final : public QObject
{
    Q_OBJECT

public:
    enum class Mode { newCreature, edit };

    static constexpr int kWidth = 540;
    static constexpr int kMinHeight = 300;
    // The preview steps to the next frame this often.
    static constexpr int kFrameMilliseconds = 450;

    // `library` must outlive the controller.
    explicit CreatureWindowController(const CreatureLibrary &library, QObject *parent = nullptr);
    ~CreatureWindowController() override;

    // After a successful save, once the window has closed: the name the
    // creature was stored under, and the name it replaced when it was edited.
    std::function<void(const QString &stored, const std::optional<QString> &replaced)> onSaved;

    // Resets a visible window, sets new mode and brings the window up.
    void openNew();
    // Resets a visible window and opens it on `creature`, stored under its name, for editing.
    void openForEdit(const Creature &creature);

    // Sizes the window, centres it on the screen under the pointer, shows it
    // and brings it to the front.
    void present();
    // Lays the content out again and sizes the window: 540 wide, as high as
    // its content but at least 300, and no higher than its screen's free
    // area (the content scrolls then). The whole window stays on that area.
    void applySizeRule();

    void setMode(Mode mode);
    // Puts `creature`'s name and moves into the result views and starts the preview.
    void showResult(const Creature &creature);
    void showNextFrame();
    void updatePickCount();
    void resetWindow();

    // Button actions.
    void choosePhoto();
    void createTapped();
    void attackToggled(QCheckBox *box);
    void saveTapped();

    // Gives the window a fixed light palette whatever the desktop's theme
    // (the debug channel's snapshots).
    void useLightAppearance();
    // Writes the window's content as a PNG file; false when nothing could be written.
    bool snapshot(const QString &path) const;

    ClaudeRunner &claudeRunner() const { return *runner; }
    bool isBusy() const { return busy; }
    const QStringList &picked() const { return attackOrder; }
    const std::optional<Creature> &creatureOnShow() const { return creature; }

    // The window and its parts.
    QWidget *const window;
    PhotoDropView *drop = nullptr;
    QLineEdit *note = nullptr;
    QComboBox *quality = nullptr;
    QPushButton *create = nullptr;
    BusySpinner *spinner = nullptr;
    QLabel *status = nullptr;
    QLabel *preview = nullptr;
    QLabel *frameLabel = nullptr;
    QLineEdit *nameField = nullptr;
    MoveList *moves = nullptr;
    QLabel *pickCount = nullptr;
    QPushButton *tryAgain = nullptr;
    QPushButton *save = nullptr;
    // Save failures in edit mode, where `status` is hidden with the photo views.
    QLabel *saveError = nullptr;
    QWidget *resultBox = nullptr;
    QList<QWidget *> creationViews;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    // The window manager's frame around the window: title bar and borders.
    QSize frameExtra() const;
    // Moves the window, at `size`, with its frame onto its screen's free area.
    void keepInsideScreen(QSize size);
    QWidget *buildResultBox();
    void takePhoto(const QByteArray &bytes);
    void runFinished(const std::optional<Creature> &result, const QString &error);
    void showStatus(const QString &text, bool error);
    void showSaveFailure(const QString &message);

    const CreatureLibrary &library;
    QScrollArea *scroller = nullptr;
    std::unique_ptr<ClaudeRunner> runner;
    QTimer *animation = nullptr;
    QStringList attackOrder;
    std::optional<QByteArray> photo;
    std::optional<Creature> creature;
    std::optional<QString> editing;
    bool busy = false;
    int frameIndex = 0;
};

} // namespace bopling
