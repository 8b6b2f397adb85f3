#pragma once

#include "engine/carrier_repeat.h"
#include "engine/carrier_sound.h"
#include "job_settings.h"
#include "mono_input.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lumivox::job {

// Where a run's carrier comes from when it is not the carrier file read once: a built-in sound
// made beside the modulator, or the carrier file played again to the modulator's length. It gives
// the carrier in the engine's values (the output's sample units).
class CarrierSupply {
public:
    enum class Result { Filled, Ended, ReadFailed, ReopenFailed };

    // A built-in sound at the modulator's rate, in the units of an output of bitsPerSample bits.
    // With mayLookAhead (Vocode) the follow sound listens a block ahead of what it renders;
    // without (Preview) it keeps in step with what is heard. May throw std::bad_alloc.
    static std::unique_ptr<CarrierSupply> builtIn(
        const CarrierChoice& choice, double sampleRate, int bitsPerSample, bool mayLookAhead);
    // The carrier file (already open and checked), played again from the start whenever it ends;
    // reopen opens it again and checks it still has the same format. May throw std::bad_alloc.
    static std::unique_ptr<CarrierSupply> repeated(MonoInput& carrier, std::uint8_t* byteBuffer,
        std::function<bool(MonoInput&)> reopen, std::size_t fadeFrames);

    virtual ~CarrierSupply() = default;

    // Whether fill() wants each modulator block one block before the carrier for it.
    [[nodiscard]] virtual bool listensAhead() const { return false; }
    // Hands over the modulator's next block (as the engine takes it).
    virtual void listen(std::span<const double> modulator) { static_cast<void>(modulator); }
    // Fills carrier with the next carrier.size() values; Ended when the carrier has no samples
    // left to give (fewer were filled: count says how many).
    [[nodiscard]] virtual Result fill(std::span<double> carrier, std::size_t& count) = 0;
};

// The 20 ms of a repeated carrier's seams, in frames at a sample rate (at least one).
[[nodiscard]] std::size_t seamFadeFrames(std::uint32_t sampleRate);

// The bit depth of a built-in carrier and so of the output: 16 unless the modulator is wider.
[[nodiscard]] int builtInBitsPerSample(int modulatorBits);

} // namespace lumivox::job
