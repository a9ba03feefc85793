#pragma once

#include "creatures/Creature.h"
#include "creatures/Move.h"

#include <QMetaType>
#include <QStringList>

namespace bopling::samples {

// Rows of `width` characters, `height` rows high, whose bottom `drawnRows`
// rows are filled with `letter` and the rest blank.
inline QStringList frame(int width, int height, int drawnRows, QChar letter = u'a')
{
    QStringList rows;
    for (int y = 0; y < height; ++y)
        rows.append(QString(width, y >= height - drawnRows ? letter : u'.'));
    return rows;
}

// A creature that passes the check unchanged except for its sound: two
// colours, the six required frames 10 wide and 8 high with the bottom two
// rows drawn.
inline Creature creature(const QString &name = QStringLiteral("Rex"))
{
    Creature c;
    c.name = name;
    c.palette = {{QStringLiteral("a"), QStringLiteral("#112233")},
                 {QStringLiteral("b"), QStringLiteral("#aabbcc")}};
    for (const QString &name : requiredFrames())
        c.frames.insert(name, frame(10, 8, 2));
    c.attacks = {QStringLiteral("fire"), QStringLiteral("zap")};
    c.sound = QStringLiteral("GRR!");
    return c;
}

// The sample creature with the frame `name` set to `rows`.
inline Creature withFrame(const QString &name, const QStringList &rows)
{
    Creature c = creature();
    c.frames.insert(name, rows);
    return c;
}

// The message of the `Failure` that `call` throws, or an empty text when it throws none.
template <typename Failure, typename Call> QString messageOf(Call call)
{
    try {
        call();
    } catch (const Failure &failure) {
        return failure.message();
    }
    return QString();
}

} // namespace bopling::samples

Q_DECLARE_METATYPE(bopling::Creature)
