#pragma once

#include "creatures/Creature.h"

#include <cstdio>
#include <cstdlib>

namespace bopling::fuzz {

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "creature fuzz: %s\n", what);
    std::abort();
}

// Runs the check on a decoded creature and holds the cleaned one to what the
// rest of the program relies on: it passes the check unchanged, survives its
// own JSON form, and every frame draws as a (W + 2) x (H + 2) image.
inline void checkCreature(const Creature &creature)
{
    // The unchecked creature must draw (or refuse to) without harm, too.
    for (auto it = creature.frames.cbegin(); it != creature.frames.cend(); ++it)
        (void)creature.frameImage(it.key(), 1);

    Creature clean;
    try {
        clean = creature.validated();
    } catch (const Creature::Invalid &invalid) {
        if (invalid.message().isEmpty())
            fail("a refusal without a message");
        return;
    }
    if (clean.validated() != clean)
        fail("the cleaned creature changes when checked again");
    if (Creature::decode(clean.encode()) != clean)
        fail("the cleaned creature does not survive its JSON form");
    if (clean.palette.size() < 2 || clean.palette.size() > 16 || !clean.sound ||
        clean.attacks.isEmpty() || clean.attacks.size() > 4 || clean.name.isEmpty())
        fail("the cleaned creature breaks a rule");
    const QStringList &idle = clean.frames.value(QStringLiteral("idle"));
    const QSize expected(int(idle.value(0).size()) + 2, int(idle.size()) + 2);
    for (auto it = clean.frames.cbegin(); it != clean.frames.cend(); ++it) {
        const QImage image = clean.frameImage(it.key(), 1);
        if (image.size() != expected)
            fail("a cleaned frame does not draw at the creature's size");
    }
}

} // namespace bopling::fuzz
