// The CLI's free-text reply: pull the creature out, then check it.

#include "CreatureFuzzChecks.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString reply = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        bopling::fuzz::checkCreature(bopling::Creature::fromReply(reply));
    } catch (const bopling::Creature::Invalid &invalid) {
        if (invalid.message().isEmpty())
            bopling::fuzz::fail("a refusal without a message");
    }
    return 0;
}
