#pragma once

#include <QMap>
#include <QScrollArea>

class QCheckBox;
class QMovie;

namespace bopling {

// The creature window's scrolling list of moves: the move catalog in its
// order, a heading for each category, and per move a check box titled with
// the move and its animated picture. The pictures play only while the list
// is on screen. Main thread only.
class MoveList final : public QScrollArea
{
    Q_OBJECT

public:
    explicit MoveList(QWidget *parent = nullptr);

    // One check box per move, under the move's id; the box's object name is the id too.
    const QMap<QString, QCheckBox *> &boxes() const { return byId; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QMap<QString, QCheckBox *> byId;
    QList<QMovie *> movies;
};

} // namespace bopling
