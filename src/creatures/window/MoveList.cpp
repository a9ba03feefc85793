#include "creatures/window/MoveList.h"

#include "creatures/Move.h"
#include "creatures/window/LabelTones.h"
#include "settings/Resources.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMovie>
#include <QScrollBar>
#include <QVBoxLayout>

namespace bopling {

namespace {

constexpr int kWidth = 484;
constexpr int kHeight = 210;
constexpr int kInset = 8;
constexpr int kRowSpacing = 6;
constexpr int kBoxWidth = 200;
constexpr QSize kPictureSize(108, 72);
// The category headings are 10/13 of the body text, semibold.
constexpr double kHeadingScale = 10.0 / 13.0;

} // namespace

MoveList::MoveList(QWidget *parent) : QScrollArea(parent)
{
    setFixedSize(kWidth, kHeight);
    setFrameShape(QFrame::StyledPanel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    viewport()->setAutoFillBackground(false);

    auto *document = new QWidget;
    document->setAutoFillBackground(false);
    auto *stack = new QVBoxLayout(document);
    stack->setContentsMargins(kInset, kInset, kInset, kInset);
    stack->setSpacing(kRowSpacing);
    stack->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QString category;
    for (const Move &move : moveCatalog()) {
        if (move.category != category || byId.isEmpty()) {
            category = move.category;
            auto *heading = new QLabel(category.toUpper());
            QFont font = heading->font();
            font.setPointSizeF(font.pointSizeF() * kHeadingScale);
            font.setWeight(QFont::DemiBold);
            heading->setFont(font);
            setTone(heading, LabelTone::secondary);
            stack->addWidget(heading, 0, Qt::AlignLeft);
        }
        auto *row = new QHBoxLayout;
        row->setSpacing(10);
        auto *box = new QCheckBox(move.title);
        box->setObjectName(move.id);
        box->setFixedWidth(kBoxWidth);
        row->addWidget(box);
        auto *picture = new QLabel;
        picture->setFixedSize(kPictureSize);
        const QString file =
            resourcePath(QStringLiteral("moves/") + move.id + QStringLiteral(".gif"));
        if (QFileInfo::exists(file)) {
            auto *movie = new QMovie(file, QByteArray(), this);
            if (movie->isValid() && movie->jumpToFrame(0)) {
                movie->setScaledSize(
                    movie->frameRect().size().scaled(kPictureSize, Qt::KeepAspectRatio));
                picture->setMovie(movie);
                movies.append(movie);
            } else {
                delete movie;
            }
        }
        row->addWidget(picture);
        row->addStretch();
        stack->addLayout(row);
        byId.insert(move.id, box);
    }
    setWidget(document);
}

void MoveList::showEvent(QShowEvent *event)
{
    QScrollArea::showEvent(event);
    for (QMovie *movie : movies)
        movie->start();
}

void MoveList::hideEvent(QHideEvent *event)
{
    QScrollArea::hideEvent(event);
    for (QMovie *movie : movies)
        movie->stop();
}

} // namespace bopling
