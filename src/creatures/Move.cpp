#include "creatures/Move.h"

namespace bopling {

const QList<Move> &moveCatalog()
{
    // The order is the window's list order; the moves of one category stand together.
    static const QList<Move> catalog{
        {QStringLiteral("pounce"), QStringLiteral("Pounce bite"), QStringLiteral("Body")},
        {QStringLiteral("zoomies"), QStringLiteral("Zoomies"), QStringLiteral("Body")},
        {QStringLiteral("blast"), QStringLiteral("Blast (a big sound)"), QStringLiteral("Body")},
        {QStringLiteral("fire"), QStringLiteral("Spit fire"), QStringLiteral("Fire")},
        {QStringLiteral("firebreath"), QStringLiteral("Fire Breath"), QStringLiteral("Fire")},
        {QStringLiteral("firetornado"), QStringLiteral("Fire Tornado"), QStringLiteral("Fire")},
        {QStringLiteral("flamepillar"), QStringLiteral("Flame Pillar"), QStringLiteral("Fire")},
        {QStringLiteral("meteorhowl"), QStringLiteral("Meteor Howl"), QStringLiteral("Fire")},
        {QStringLiteral("tornado"), QStringLiteral("Tornado"), QStringLiteral("Wind and nature")},
        {QStringLiteral("leafstorm"), QStringLiteral("Leaf Storm"),
         QStringLiteral("Wind and nature")},
        {QStringLiteral("vinewhip"), QStringLiteral("Vine Whip (tail)"),
         QStringLiteral("Wind and nature")},
        {QStringLiteral("quake"), QStringLiteral("Quake"), QStringLiteral("Wind and nature")},
        {QStringLiteral("earthspike"), QStringLiteral("Earth Spike (dig)"),
         QStringLiteral("Wind and nature")},
        {QStringLiteral("frost"), QStringLiteral("Frost breath"), QStringLiteral("Water and ice")},
        {QStringLiteral("wavecrash"), QStringLiteral("Wave Crash"),
         QStringLiteral("Water and ice")},
        {QStringLiteral("whirlpool"), QStringLiteral("Whirlpool"), QStringLiteral("Water and ice")},
        {QStringLiteral("blizzardvortex"), QStringLiteral("Blizzard Vortex"),
         QStringLiteral("Water and ice")},
        {QStringLiteral("iciclefall"), QStringLiteral("Icicle Fall"),
         QStringLiteral("Water and ice")},
        {QStringLiteral("zap"), QStringLiteral("Spark zap"), QStringLiteral("Storm")},
        {QStringLiteral("chainlightning"), QStringLiteral("Chain Lightning"),
         QStringLiteral("Storm")},
        {QStringLiteral("thunderclap"), QStringLiteral("Thunderclap"), QStringLiteral("Storm")},
        {QStringLiteral("balllightning"), QStringLiteral("Ball Lightning"),
         QStringLiteral("Storm")},
        {QStringLiteral("starfall"), QStringLiteral("Star Fall"),
         QStringLiteral("Arcane and holy")},
        {QStringLiteral("holypillar"), QStringLiteral("Holy Pillar"),
         QStringLiteral("Arcane and holy")},
    };
    return catalog;
}

const QStringList &moveCategories()
{
    static const QStringList categories{QStringLiteral("Body"),
                                        QStringLiteral("Fire"),
                                        QStringLiteral("Wind and nature"),
                                        QStringLiteral("Water and ice"),
                                        QStringLiteral("Storm"),
                                        QStringLiteral("Arcane and holy")};
    return categories;
}

QList<MoveGroup> movesByCategory()
{
    QList<MoveGroup> groups;
    for (const QString &category : moveCategories()) {
        MoveGroup group{category, {}};
        for (const Move &move : moveCatalog()) {
            if (move.category == category)
                group.moves.append(move);
        }
        groups.append(group);
    }
    return groups;
}

std::optional<Move> findMove(QStringView id)
{
    for (const Move &move : moveCatalog()) {
        if (move.id == id)
            return move;
    }
    return std::nullopt;
}

const QStringList &defaultAttacks()
{
    static const QStringList attacks{QStringLiteral("pounce"), QStringLiteral("zoomies"),
                                     QStringLiteral("blast")};
    return attacks;
}

const QStringList &requiredFrames()
{
    static const QStringList frames{QStringLiteral("idle"),  QStringLiteral("idle2"),
                                    QStringLiteral("run1"),  QStringLiteral("run2"),
                                    QStringLiteral("sleep"), QStringLiteral("attack")};
    return frames;
}

const QStringList &optionalFrames()
{
    static const QStringList frames{QStringLiteral("crouch"), QStringLiteral("leap"),
                                    QStringLiteral("walk1"),  QStringLiteral("walk2"),
                                    QStringLiteral("skid"),   QStringLiteral("sleep2")};
    return frames;
}

const QStringList &previewCycle()
{
    // "attack" comes before "sleep" here, unlike in requiredFrames().
    static const QStringList cycle{QStringLiteral("idle"),   QStringLiteral("idle2"),
                                   QStringLiteral("run1"),   QStringLiteral("run2"),
                                   QStringLiteral("attack"), QStringLiteral("sleep")};
    return cycle;
}

} // namespace bopling
