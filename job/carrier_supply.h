#pragma once

#include "engine/carrier_repeat.h"
#include "engine/carrier_sound.h"
#include "input_source.h"
#include "job_settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lumivox::job {

// A carrier that hears the modulator's values as the run reads them.
class ModulatorListener {
public:
    virtual ~ModulatorListener() = default;
    // Whether it wants each modulator block one block before the carrier for it is read.
    [[nodiscard]] virtual bool listensAhead() const = 0;
    // Hands over the modulator's next block (as the engine takes it).
    virtual void listen(std::span<const double> modulator) = 0;
};

// A built-in sound made as the run goes, in 16-bit units, for as long as it is read.
class BuiltInCarrierSource final : public InputSource, public ModulatorListener {
public:
    // With mayLookAhead (Vocode) the follow sound listens a block ahead of what it renders;
    // without (Preview) it keeps in step with what is heard. The follow sound's pitch tracker
    // runs on the vector unit given (the same sound on every unit). May throw std::bad_alloc.
    BuiltInCarrierSource(const CarrierChoice& choice, std::uint32_t sampleRate,
        wave::OutputDepth depth, bool mayLookAhead,
        engine::VectorUnit unit = engine::widestVectorUnit());

    [[nodiscard]] std::int64_t read(std::span<double> values) override;
    // Without an end of its own: the modulator sets the run's length.
    [[nodiscard]] std::uint64_t frameCount() const override;
    [[nodiscard]] std::string failureCause() const override { return {}; }
    [[nodiscard]] bool listensAhead() const override { return ahead; }
    void listen(std::span<const double> modulator) override { sound->listen(modulator); }

private:
    std::unique_ptr<engine::CarrierSound> sound;
    bool ahead;
};

// A carrier played again from its start whenever it ends, with an equal-power crossfade at each
// seam, for as long as it is read.
class RepeatingSource final : public InputSource {
public:
    // Opens the carrier again from its start; null with the reason in cause when it cannot.
    using Reopen = std::function<std::unique_ptr<InputSource>(std::string& cause)>;

    // A carrier of up to keptFrames frames is read once and played again from memory; a longer
    // one is opened again for each pass. May throw std::bad_alloc.
    RepeatingSource(std::unique_ptr<InputSource> carrier, Reopen reopen, std::size_t fadeFrames,
        std::size_t keptFrames = 0);
    RepeatingSource(const RepeatingSource&) = delete;
    RepeatingSource& operator=(const RepeatingSource&) = delete;

    [[nodiscard]] std::int64_t read(std::span<double> values) override;
    // 0 for an empty carrier, which nothing repeats; otherwise without an end.
    [[nodiscard]] std::uint64_t frameCount() const override;
    [[nodiscard]] std::string failureCause() const override;
    // Whether the failure was the carrier not opening again (rather than not reading).
    [[nodiscard]] bool reopenFailed() const { return pieces.reopenFailed; }

private:
    // The carrier as the repeat reads it: its blocks handed out in pieces of any size.
    class Pieces final : public engine::RepeatSource {
    public:
        Pieces(std::unique_ptr<InputSource> carrier, Reopen reopen, std::size_t keptFrames);
        std::int64_t read(std::span<double> out) override;
        bool rewind() override;

        std::unique_ptr<InputSource> input;
        Reopen reopenInput;
        std::vector<double> values;
        std::size_t next = 0;
        std::size_t available = 0;
        bool reopenFailed = false;
        std::string reopenCause;
        // The first pass as read, while it fits the room taken for it at the start; once whole,
        // every later pass is played from here.
        std::vector<double> kept;
        std::size_t keptNext = 0;
        bool keeping = false;
        bool fromMemory = false;
    };

    bool endless;
    Pieces pieces;
    engine::CarrierRepeat repeat;
};

// A recording held whole in memory (values as the engine takes them), read from its start again
// whenever it is rewound: reading and rewinding allocate nothing and touch no file.
class RecordingSource final : public InputSource {
public:
    RecordingSource(std::vector<double> values, std::uint32_t sampleRate, wave::OutputDepth depth);

    [[nodiscard]] std::int64_t read(std::span<double> values) override;
    [[nodiscard]] std::uint64_t frameCount() const override { return samples.size(); }
    [[nodiscard]] std::string failureCause() const override { return {}; }
    [[nodiscard]] bool rewind() override;

private:
    std::vector<double> samples;
    std::size_t next = 0;
};

// Where a live run's carrier comes from, as the audio callback reads it: without allocating,
// locking or touching a file.
class LiveCarrier {
public:
    virtual ~LiveCarrier() = default;
    // The carrier's next out.size() samples in 16-bit units. voice holds the modulator for the same
    // frames (normalised to about +-1); port the frames of the carrier input port (or nothing).
    virtual void fill(
        std::span<const double> voice, std::span<const float> port, std::span<double> out)
        = 0;
    // Whether the engine should blur the bands narrower than a voice's harmonics (see the follow
    // sound).
    [[nodiscard]] virtual bool followsVoice() const { return false; }
};

// A carrier recording held whole in memory (16-bit units), repeated as a Vocode repeats a carrier
// file: played again from its start whenever it ends, crossfaded at each seam. May throw
// std::bad_alloc.
[[nodiscard]] std::unique_ptr<LiveCarrier> makeLoopedCarrier(
    std::vector<double> samples, std::size_t fadeFrames);
// A built-in sound made at the given rate, as a Preview makes it: kept in step with the voice it
// hears.
[[nodiscard]] std::unique_ptr<LiveCarrier> makeSoundCarrier(
    const CarrierChoice& choice, std::uint32_t sampleRate);
// What arrives on the carrier input port (full scale 1), in 16-bit units.
[[nodiscard]] std::unique_ptr<LiveCarrier> makePortCarrier();

// The 20 ms of a repeated carrier's seams, in frames at a sample rate (at least one).
[[nodiscard]] std::size_t seamFadeFrames(std::uint32_t sampleRate);

// The depth of a built-in carrier and so of the output: 16-bit unless the modulator is wider,
// then as the modulator would give as a carrier.
[[nodiscard]] wave::OutputDepth builtInDepth(wave::OutputDepth modulatorDepth);

} // namespace lumivox::job
