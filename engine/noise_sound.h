#pragma once

#include "carrier_sound.h"
#include "white_noise.h"

namespace lumivox::engine {

// White noise from a fixed seed, peaking at about -9 dBFS (vocoded speech on it stays a few dB
// below full scale at the default gain): the same run gives the same bits.
class NoiseSound final : public CarrierSound {
public:
    NoiseSound() = default;
    void render(std::span<double> out) override;

    static constexpr double amplitude = 0.35;
    static constexpr std::uint64_t seed = 0x4c756d69766f78ull;

private:
    WhiteNoise noise { seed };
};

} // namespace lumivox::engine
