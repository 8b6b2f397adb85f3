#pragma once

#include <span>

namespace lumivox::engine {

// A carrier made on the fly beside the modulator, in samples normalised so that 1 is full scale.
class CarrierSound {
public:
    virtual ~CarrierSound() = default;

    // Takes the modulator's next samples (normalised to about +-1) before the carrier for them is
    // rendered; a sound that does not listen ignores them. Feeding it ahead of render() is allowed.
    virtual void listen(std::span<const double> modulator) { static_cast<void>(modulator); }
    // Writes the carrier's next out.size() samples.
    virtual void render(std::span<double> out) = 0;
};

} // namespace lumivox::engine
