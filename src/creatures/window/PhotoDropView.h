#pragma once

#include <QByteArray>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;

namespace bopling {

// The creature window's photo area: a rounded, outlined box that takes a
// picture file dragged from a file manager, or one the window's chooser
// picked, and shows it. Anything that is not a readable picture is refused.
// Main thread only.
class PhotoDropView final : public QWidget
{
    Q_OBJECT

public:
    // Files larger than this are refused without being read: no photo needs it.
    static constexpr qint64 kMaxPhotoBytes = 64 * 1024 * 1024;

    explicit PhotoDropView(QWidget *parent = nullptr);

    // Called with the file's bytes whenever a picture is accepted.
    std::function<void(const QByteArray &)> onPhoto;

    // The bytes of the file at `path` when it is a picture the program can
    // decode and not larger than kMaxPhotoBytes; nothing otherwise.
    static std::optional<QByteArray> readPicture(const QString &path);

    // Shows the picture and calls onPhoto; false when the bytes are not a picture.
    bool takePhoto(const QByteArray &bytes);
    // Back to the empty area with its "Drop a photo here" label.
    void clear();
    bool showsPicture() const;

    QLabel *const label;
    QLabel *const image;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showPicture();

    QImage picture;
};

} // namespace bopling
