#include "filter_tables.h"

#include <array>
#include <bit>
#include <cstdint>

namespace lumivox::engine {

namespace {

    constexpr double fromBits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

    // A 4th-order elliptic low-pass at the design rate: 1 dB ripple up to 100 Hz, 80 dB down from
    // 424.5 Hz. The values are taken bit for bit, so every machine follows the same envelope.
    constexpr auto envelopeTable = std::to_array<double>({
        fromBits(0x3F1A3897B0A0B2C1), // gain
        fromBits(0xBFFF9CB283949F83), // section 0: b1, b2, a1, a2
        fromBits(0x3FEFFFFFFFFFFFF7),
        fromBits(0xBFFFD84AF3B78F40),
        fromBits(0x3FEFB10F80B65E7D),
        fromBits(0xBFFFEE876D32B336), // section 1: b1, b2, a1, a2
        fromBits(0x3FEFFFFFFFFFFFF7),
        fromBits(0xBFFFEF5BDE4B99E2),
        fromBits(0x3FEFE05B7ED21438),
    });
    static_assert(envelopeTable.size() == envelopeTableSize);

} // namespace

std::span<const double, envelopeTableSize> envelopeCoefficients() { return envelopeTable; }

} // namespace lumivox::engine
