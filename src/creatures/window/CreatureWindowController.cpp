#include "creatures/window/CreatureWindowController.h"

#include "creatures/ClaudeRunner.h"
#include "creatures/CreatureLibrary.h"
#include "creatures/Move.h"
#include "creatures/window/BusySpinner.h"
#include "creatures/window/LabelTones.h"
#include "creatures/window/MoveList.h"
#include "creatures/window/PhotoDropView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace bopling {

namespace {

constexpr int kContentWidth = 484;
constexpr int kSpacing = 8;
constexpr int kPreviewScale = 6;
constexpr QSize kPreviewSize(220, 140);
constexpr QSize kDropSize(484, 96);
constexpr int kNameWidth = 200;
// The privacy note is 11/13 of the body text.
constexpr double kNoteScale = 11.0 / 13.0;
// Room kept for the window manager's title bar and borders until the window
// has been shown once and they are known.
constexpr int kFrameAllowance = 40;

const QString kCreateTitle = QStringLiteral("Create creature");

QLabel *boldLabel(const QString &text)
{
    auto *label = new QLabel(text);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel *wrappingLabel(const QString &text, LabelTone tone)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    label->setFixedWidth(kContentWidth);
    setTone(label, tone);
    return label;
}

// A row of widgets `spacing` apart, as wide as its content.
QWidget *row(const QList<QWidget *> &widgets, int spacing = kSpacing)
{
    auto *holder = new QWidget;
    auto *layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget *widget : widgets)
        layout->addWidget(widget, 0, Qt::AlignVCenter);
    return holder;
}

// The frame image fitted into the preview, larger or smaller, keeping its
// proportions and its hard pixel edges.
QPixmap fitted(const QImage &image, QSize room, qreal ratio)
{
    if (image.isNull())
        return {};
    QImage scaled = image.scaled(room * ratio, Qt::KeepAspectRatio, Qt::FastTransformation);
    scaled.setDevicePixelRatio(ratio);
    return QPixmap::fromImage(scaled);
}

QString imageNameFilter()
{
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    return QStringLiteral("Images (") + patterns.join(u' ') + u')';
}

} // namespace

CreatureWindowController::CreatureWindowController(const CreatureLibrary &library, QObject *parent)
    : QObject(parent), window(new QWidget), library(library),
      runner(std::make_unique<ClaudeRunner>()), animation(new QTimer(this))
{
    buildWindow();
    connect(animation, &QTimer::timeout, this, &CreatureWindowController::showNextFrame);
    const QPointer<CreatureWindowController> self(this);
    drop->onPhoto = [self](const QByteArray &bytes) {
        if (self)
            self->takePhoto(bytes);
    };
    window->installEventFilter(this);
    setMode(Mode::newCreature);
}

CreatureWindowController::~CreatureWindowController()
{
    runner->cancel();
    delete window;
}

void CreatureWindowController::buildWindow()
{
    // A tool window of the program: a title and a close button; window
    // managers offer nothing to minimise or maximise on it.
    window->setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    window->resize(kWidth, 700);
    // On a screen too short for it the content scrolls inside the window.
    auto *frame = new QVBoxLayout(window);
    frame->setContentsMargins(0, 0, 0, 0);
    scroller = new QScrollArea;
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The focus starts on the first control, not on the scrolling area.
    scroller->setFocusPolicy(Qt::NoFocus);
    frame->addWidget(scroller);
    auto *content = new QWidget;
    auto *stack = new QVBoxLayout(content);
    stack->setContentsMargins(18, 14, 18, 14);
    stack->setSpacing(kSpacing);

    QLabel *heading = boldLabel(QStringLiteral("Make a creature from a photo"));

    drop = new PhotoDropView;
    drop->setFixedSize(kDropSize);

    auto *choose = new QPushButton(QStringLiteral("Choose photo…"));
    connect(choose, &QPushButton::clicked, this, &CreatureWindowController::choosePhoto);
    quality = new QComboBox;
    quality->addItems({QStringLiteral("Standard (faster, cheaper)"),
                       QStringLiteral("Best (slower, costs more)")});
    QWidget *qualityRow = row({choose, new QLabel(QStringLiteral("Quality:")), quality});

    note = new QLineEdit;
    note->setFixedWidth(kContentWidth);
    note->setPlaceholderText(
        QStringLiteral("Optional: anything to emphasize (bigger ears, darker coat…)"));

    create = new QPushButton(kCreateTitle);
    create->setDefault(true);
    create->setEnabled(false);
    connect(create, &QPushButton::clicked, this, &CreatureWindowController::createTapped);
    // Return starts a run from anywhere in the window, as a dialog's default button would.
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto *shortcut = new QShortcut(QKeySequence(key), window);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (create->isVisible() && create->isEnabled())
                create->click();
        });
    }
    spinner = new BusySpinner;
    QWidget *createRow = row({create, spinner});

    status = wrappingLabel(QString(), LabelTone::secondary);
    resultBox = buildResultBox();
    resultBox->hide();

    QLabel *privacy = wrappingLabel(
        QStringLiteral("Your photo is sent to Claude (Anthropic) through your own Claude Code to "
                       "draw the creature. Bopling never saves it, and its temporary copy is "
                       "deleted right after."),
        LabelTone::tertiary);
    QFont small = privacy->font();
    small.setPointSizeF(small.pointSizeF() * kNoteScale);
    privacy->setFont(small);

    creationViews = {heading, drop, qualityRow, note, createRow, status, privacy};
    for (QWidget *view :
         QList<QWidget *>{heading, drop, qualityRow, note, createRow, status, resultBox, privacy})
        stack->addWidget(view, 0, Qt::AlignLeft);
    stack->addStretch();
    scroller->setWidget(content);
    applyTones(window);
}

QWidget *CreatureWindowController::buildResultBox()
{
    preview = new QLabel;
    preview->setFixedSize(kPreviewSize);
    preview->setAlignment(Qt::AlignCenter);
    preview->setStyleSheet(
        QStringLiteral("QLabel { background-color: rgb(36, 43, 71); border-radius: 8px; }"));

    frameLabel = new QLabel;
    setTone(frameLabel, LabelTone::secondary);
    nameField = new QLineEdit;
    nameField->setFixedWidth(kNameWidth);
    nameField->setPlaceholderText(QStringLiteral("Name"));
    auto *column = new QVBoxLayout;
    column->setSpacing(kSpacing);
    column->addStretch();
    column->addWidget(frameLabel, 0, Qt::AlignLeft);
    column->addWidget(row({new QLabel(QStringLiteral("Name")), nameField}), 0, Qt::AlignLeft);
    column->addStretch();
    auto *previewRow = new QHBoxLayout;
    previewRow->setSpacing(14);
    previewRow->addWidget(preview);
    previewRow->addLayout(column);

    pickCount = new QLabel;
    setTone(pickCount, LabelTone::secondary);
    moves = new MoveList;
    for (QCheckBox *box : moves->boxes())
        connect(box, &QCheckBox::clicked, this, [this, box] { attackToggled(box); });

    tryAgain = new QPushButton(QStringLiteral("Try again"));
    connect(tryAgain, &QPushButton::clicked, this, &CreatureWindowController::createTapped);
    save = new QPushButton(QStringLiteral("Save"));
    connect(save, &QPushButton::clicked, this, &CreatureWindowController::saveTapped);
    saveError = wrappingLabel(QString(), LabelTone::error);
    saveError->hide();

    auto *box = new QWidget;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kSpacing);
    layout->addLayout(previewRow);
    for (QWidget *view : QList<QWidget *>{boldLabel(QStringLiteral("Pick up to 4 moves")),
                                          pickCount, moves, row({tryAgain, save}), saveError})
        layout->addWidget(view, 0, Qt::AlignLeft);
    return box;
}

bool CreatureWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window) {
        if (event->type() == QEvent::Close)
            resetWindow();
        else if (event->type() == QEvent::PaletteChange)
            applyTones(window);
    }
    return QObject::eventFilter(watched, event);
}

void CreatureWindowController::openNew()
{
    if (window->isVisible())
        resetWindow();
    setMode(Mode::newCreature);
    present();
}

void CreatureWindowController::openForEdit(const Creature &edited)
{
    if (window->isVisible())
        resetWindow();
    editing = edited.name;
    setMode(Mode::edit);
    showResult(edited);
    present();
}

void CreatureWindowController::present()
{
    const QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        window->setScreen(const_cast<QScreen *>(screen));
        applySizeRule();
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(window->frameGeometry().width() / 2,
                                            window->frameGeometry().height() / 2));
    }
    keepInsideScreen(window->maximumSize());
    // Some window managers (openbox) minimise it all the same; opening it brings it back.
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void CreatureWindowController::applySizeRule()
{
    QLayout *layout = scroller->widget()->layout();
    layout->activate();
    const int fitting =
        layout->hasHeightForWidth() ? layout->heightForWidth(kWidth) : layout->sizeHint().height();
    int height = std::max(kMinHeight, fitting);
    if (const QScreen *screen = window->screen())
        height = std::min(height, screen->availableGeometry().height() - frameExtra().height());
    window->setFixedSize(kWidth, height);
    // The window takes its new size once the window manager has agreed to it.
    keepInsideScreen(QSize(kWidth, height));
}

QSize CreatureWindowController::frameExtra() const
{
    const QMargins margins =
        window->windowHandle() ? window->windowHandle()->frameMargins() : QMargins();
    return {margins.left() + margins.right(),
            margins.top() > 0 ? margins.top() + margins.bottom() : kFrameAllowance};
}

void CreatureWindowController::keepInsideScreen(QSize size)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize outer = size + frameExtra();
    const QPoint at = window->pos();
    const QPoint inside(
        std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())),
        std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    if (inside != at)
        window->move(inside);
}

void CreatureWindowController::setMode(Mode mode)
{
    const bool creating = mode == Mode::newCreature;
    if (creating)
        editing.reset();
    window->setWindowTitle(creating ? QStringLiteral("New creature from photo")
                                    : QStringLiteral("Edit creature"));
    for (QWidget *view : creationViews)
        view->setVisible(creating);
    tryAgain->setVisible(creating);
    save->setText(creating ? QStringLiteral("Save") : QStringLiteral("Save changes"));
    if (creating && !creature)
        resultBox->hide();
}

void CreatureWindowController::showResult(const Creature &shown)
{
    creature = shown;
    nameField->setText(shown.name);
    attackOrder.clear();
    for (const QString &attack : shown.attacks) {
        // "bark" was the earlier name of the blast move.
        const QString id = attack == QStringLiteral("bark") ? QStringLiteral("blast") : attack;
        if (moves->boxes().contains(id) && !attackOrder.contains(id))
            attackOrder.append(id);
    }
    attackOrder = attackOrder.mid(0, kMoveLimit);
    for (auto it = moves->boxes().begin(); it != moves->boxes().end(); ++it)
        it.value()->setChecked(attackOrder.contains(it.key()));
    saveError->hide();
    resultBox->show();
    create->setText(QStringLiteral("Create again from scratch"));

    frameIndex = 0;
    animation->start(kFrameMilliseconds);
    showNextFrame();
    updatePickCount();
}

void CreatureWindowController::showNextFrame()
{
    if (!creature)
        return;
    const QStringList &cycle = previewCycle();
    const QString frame = cycle[frameIndex % cycle.size()];
    ++frameIndex;
    preview->setPixmap(fitted(creature->frameImage(frame, kPreviewScale), preview->size(),
                              preview->devicePixelRatioF()));
    frameLabel->setText(QStringLiteral("frame: ") + frame);
}

void CreatureWindowController::attackToggled(QCheckBox *box)
{
    const QString id = box ? box->objectName() : QString();
    if (id.isEmpty())
        return;
    if (box->isChecked())
        attackOrder.append(id);
    else
        attackOrder.removeAll(id);
    while (attackOrder.size() > kMoveLimit) {
        const QString oldest = attackOrder.takeFirst();
        if (QCheckBox *dropped = moves->boxes().value(oldest))
            dropped->setChecked(false);
    }
    updatePickCount();
}

void CreatureWindowController::updatePickCount()
{
    pickCount->setText(QString::number(attackOrder.size()) + QStringLiteral(" of ") +
                       QString::number(kMoveLimit) + QStringLiteral(" picked"));
    save->setEnabled(creature && !attackOrder.isEmpty() && attackOrder.size() <= kMoveLimit &&
                     !busy);
}

void CreatureWindowController::takePhoto(const QByteArray &bytes)
{
    if (busy)
        return;
    photo = bytes;
    create->setEnabled(true);
}

void CreatureWindowController::choosePhoto()
{
    QFileDialog dialog(
        window,
        QStringLiteral("Pick a photo of a pet, an animal or anything you want as a creature"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(imageNameFilter());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    // A file that is not a picture is passed over without a word.
    if (const std::optional<QByteArray> bytes =
            PhotoDropView::readPicture(dialog.selectedFiles().first()))
        drop->takePhoto(*bytes);
}

void CreatureWindowController::createTapped()
{
    if (!photo || editing)
        return;
    showStatus(creature ? QStringLiteral("Asking Claude again… about a minute.")
                        : QStringLiteral("Asking Claude to draw it… this takes about a minute."),
               false);
    busy = true;
    create->setEnabled(false);
    tryAgain->setEnabled(false);
    save->setEnabled(false);
    spinner->startAnimation();

    const QString model =
        quality->currentIndex() == 1 ? QStringLiteral("opus") : QStringLiteral("sonnet");
    const QPointer<CreatureWindowController> self(this);
    runner->run(*photo, note->text(), model, [self](const ClaudeRunner::Outcome &outcome) {
        if (self)
            self->runFinished(outcome.creature, outcome.message);
    });
}

void CreatureWindowController::runFinished(const std::optional<Creature> &result,
                                           const QString &error)
{
    busy = false;
    spinner->stopAnimation();
    create->setEnabled(true);
    tryAgain->setEnabled(true);
    if (result) {
        showStatus(
            QStringLiteral("Done. Look it over; add a note and Try again if you want changes."),
            false);
        showResult(*result);
    } else {
        showStatus(error, true);
        updatePickCount();
    }
    applySizeRule();
}

void CreatureWindowController::saveTapped()
{
    if (!creature)
        return;
    Creature named = *creature;
    named.name = nameField->text();
    named.attacks = attackOrder;
    QString stored;
    try {
        const Creature clean = named.validated();
        stored = editing ? library.replace(*editing, clean) : library.save(clean);
    } catch (const Creature::Invalid &invalid) {
        showSaveFailure(invalid.message());
        return;
    } catch (const CreatureLibrary::Error &failure) {
        showSaveFailure(failure.message());
        return;
    }
    photo.reset();
    const std::optional<QString> replaced = editing;
    window->close();
    if (onSaved)
        onSaved(stored, replaced);
}

void CreatureWindowController::showStatus(const QString &text, bool error)
{
    status->setText(text);
    setTone(status, error ? LabelTone::error : LabelTone::secondary);
}

void CreatureWindowController::showSaveFailure(const QString &message)
{
    if (!editing) {
        showStatus(message, true);
        return;
    }
    saveError->setText(message);
    saveError->show();
    applySizeRule();
}

void CreatureWindowController::resetWindow()
{
    runner->cancel();
    busy = false;
    spinner->stopAnimation();
    tryAgain->setEnabled(true);
    animation->stop();
    photo.reset();
    creature.reset();
    editing.reset();
    resultBox->hide();
    saveError->hide();
    create->setText(kCreateTitle);
    create->setEnabled(false);
    showStatus(QString(), false);
    drop->clear();
    setMode(Mode::newCreature);
}

void CreatureWindowController::useLightAppearance()
{
    window->setPalette(window->style()->standardPalette());
}

bool CreatureWindowController::snapshot(const QString &path) const
{
    const QPixmap content = window->grab();
    return !content.isNull() && content.save(path, "PNG");
}

} // namespace bopling
