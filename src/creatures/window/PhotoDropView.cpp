#include "creatures/window/PhotoDropView.h"

#include "creatures/window/LabelTones.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPainter>

namespace bopling {

namespace {

constexpr int kImageInset = 6;
constexpr qreal kCornerRadius = 10;
constexpr qreal kBorderWidth = 1.5;

// The first dragged URL, when it names a local file.
QString draggedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return {};
    const QUrl url = data->urls().first();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

PhotoDropView::PhotoDropView(QWidget *parent)
    : QWidget(parent), label(new QLabel(QStringLiteral("Drop a photo here"), this)),
      image(new QLabel(this))
{
    setAcceptDrops(true);
    label->setAlignment(Qt::AlignCenter);
    setTone(label, LabelTone::secondary);
    image->setAlignment(Qt::AlignCenter);
    image->hide();
}

std::optional<QByteArray> PhotoDropView::readPicture(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxPhotoBytes)
        return std::nullopt;
    QByteArray bytes = file.read(kMaxPhotoBytes + 1);
    if (bytes.size() > kMaxPhotoBytes || QImage::fromData(bytes).isNull())
        return std::nullopt;
    return bytes;
}

bool PhotoDropView::takePhoto(const QByteArray &bytes)
{
    const QImage decoded = QImage::fromData(bytes);
    if (decoded.isNull())
        return false;
    picture = decoded;
    showPicture();
    label->hide();
    image->show();
    if (onPhoto)
        onPhoto(bytes);
    return true;
}

void PhotoDropView::clear()
{
    picture = QImage();
    image->clear();
    image->hide();
    label->show();
}

bool PhotoDropView::showsPicture() const
{
    return !picture.isNull();
}

void PhotoDropView::showPicture()
{
    if (picture.isNull())
        return;
    const QSize room = image->size();
    const qreal ratio = devicePixelRatioF();
    QImage scaled = picture.scaled(room * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    image->setPixmap(QPixmap::fromImage(scaled));
}

void PhotoDropView::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void PhotoDropView::dragMoveEvent(QDragMoveEvent *event)
{
    if (draggedFile(event->mimeData()).isEmpty())
        return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void PhotoDropView::dropEvent(QDropEvent *event)
{
    const QString path = draggedFile(event->mimeData());
    const std::optional<QByteArray> bytes = path.isEmpty() ? std::nullopt : readPicture(path);
    if (!bytes) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    takePhoto(*bytes);
}

void PhotoDropView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(toneColour(palette(), LabelTone::tertiary), kBorderWidth);
    painter.setPen(pen);
    const qreal half = kBorderWidth / 2;
    painter.drawRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), kCornerRadius,
                            kCornerRadius);
}

void PhotoDropView::resizeEvent(QResizeEvent *)
{
    label->setGeometry(rect());
    image->setGeometry(rect().adjusted(kImageInset, kImageInset, -kImageInset, -kImageInset));
    showPicture();
}

} // namespace bopling
