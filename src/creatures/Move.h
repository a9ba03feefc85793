#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace bopling {

// One move (attack) a creature may know. The id is what a creature's
// `attacks` hold and what the renderer page understands; the title and the
// category are what the creature window shows. Constant data, any thread.
struct Move
{
    QString id;
    QString title;
    QString category;

    bool operator==(const Move &) const = default;
};

// The moves of one category, in catalog order.
struct MoveGroup
{
    QString category;
    QList<Move> moves;
};

// The 24 moves, in the order of the creature window's list.
const QList<Move> &moveCatalog();

// "Body", "Fire", "Wind and nature", "Water and ice", "Storm", "Arcane and holy".
const QStringList &moveCategories();

// The catalog grouped by category, in category order (groups of 3, 5, 5, 5, 4, 2).
QList<MoveGroup> movesByCategory();

// The move with exactly this id (case matters: ids are lower case), or nothing.
std::optional<Move> findMove(QStringView id);

// The moves of a creature that names no known move: "pounce", "zoomies", "blast".
const QStringList &defaultAttacks();

// A creature has at most this many moves.
inline constexpr int kMoveLimit = 4;

// The frames every creature must have: "idle", "idle2", "run1", "run2", "sleep", "attack".
const QStringList &requiredFrames();

// The frames a creature may have: "crouch", "leap", "walk1", "walk2", "skid", "sleep2".
const QStringList &optionalFrames();

// The order in which the creature window animates a creature:
// "idle", "idle2", "run1", "run2", "attack", "sleep".
const QStringList &previewCycle();

} // namespace bopling
