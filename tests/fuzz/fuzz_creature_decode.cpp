// Creature JSON as it may come from a file edited by hand: decode, then check.

#include "CreatureFuzzChecks.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        bopling::fuzz::checkCreature(bopling::Creature::decode(json));
    } catch (const bopling::Creature::DecodingError &error) {
        if (error.message().isEmpty())
            bopling::fuzz::fail("a decoding error without a message");
    }
    return 0;
}
