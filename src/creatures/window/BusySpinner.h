#pragma once

#include <QWidget>

class QTimer;

namespace bopling {

// A small spinning busy indicator: twelve spokes turning while started,
// hidden while stopped. Main thread only.
class BusySpinner final : public QWidget
{
    Q_OBJECT

public:
    explicit BusySpinner(QWidget *parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isSpinning() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer *timer;
    int step = 0;
};

} // namespace bopling
