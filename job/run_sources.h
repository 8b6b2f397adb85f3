#pragma once

#include "carrier_supply.h"
#include "input_blocks.h"
#include "input_lengths.h"
#include "input_source.h"
#include "job_environment.h"
#include "job_settings.h"
#include "mono_input.h"
#include "run_report.h"
#include "vocode_pipeline.h"
#include "wave/sound_file.h"
#include "wave/wave_file.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumivox::job {

// A refusal or a failure of a run: the message and its second line.
struct RunFailure {
    std::string_view message;
    FailureDetail detail;
};

// The two inputs of a Vocode or a Preview as the engine takes them: opened, held locked against
// other runs, the modulator resampled to the carrier's rate, a built-in sound made in place of
// the carrier file, and the carrier repeated when asked.
class RunInputs {
public:
    using TakeBuffer = std::function<std::unique_ptr<std::uint8_t[]>(std::size_t)>;

    RunInputs(const JobSettings& settings, const JobEnvironment& environment, TakeBuffer take,
        const std::atomic<bool>& stopRequested);
    RunInputs(const RunInputs&) = delete;
    RunInputs& operator=(const RunInputs&) = delete;

    // The carrier's and the modulator's block buffers.
    [[nodiscard]] std::optional<RunFailure> takeBuffers();
    // Opens and checks both inputs and brings them to one rate; a failure when they are refused.
    [[nodiscard]] std::optional<RunFailure> open();

    [[nodiscard]] InputSource& carrier() { return *carrierSource; }
    [[nodiscard]] InputSource& modulator() { return *modulatorSource; }
    [[nodiscard]] bool builtInCarrier() const { return settings.carrier.kind != CarrierKind::File; }
    // The header of a mono output made from this carrier at the given depth.
    [[nodiscard]] wave::WaveFormat outputFormat(wave::OutputDepth depth) const;
    // The inputs in blocks of blockFrames, a built-in sound hearing the modulator.
    [[nodiscard]] InputBlocks blocks(
        CountedSource& carrierRead, CountedSource& modulatorRead, int blockFrames) const;

    // The failure of a read that ended a run (a stop aside): which input failed and why.
    [[nodiscard]] RunFailure readFailure(InputBlocks::Result failed);
    // After a finished run: each input's length as read, counting on in the longer one.
    void countLengths(CountedSource& carrierRead, CountedSource& modulatorRead, int blockFrames);
    // The input whose data ended before its declared length, if one did.
    [[nodiscard]] std::optional<ShortInput> shortInput() const;

    // What was done to the inputs, for the report ("modulator resampled from ...").
    std::string conversion;
    // Each input's length at the carrier's rate, and whether a total taken from them is borne
    // out by the files.
    double carrierSeconds = 0.0;
    double modulatorSeconds = 0.0;
    bool leftOutAtLeast = false;
    bool totalKnown = true;

private:
    [[nodiscard]] std::optional<RunFailure> openInput(InputRole role);
    [[nodiscard]] std::optional<RunFailure> matchRates();
    void makeBuiltInCarrier();
    void repeatCarrier();
    [[nodiscard]] std::unique_ptr<InputSource> reopenCarrier(std::string& cause);

    const JobSettings& settings;
    TakeBuffer takeBuffer;
    InputReader readInput;
    std::size_t carrierKeptFrames;
    const std::atomic<bool>& stop;

    // Declared so that the sources go before the buffers and files they read through.
    MonoInput modulatorFile;
    MonoInput carrierFile;
    std::unique_ptr<std::uint8_t[]> modulatorBlock;
    std::unique_ptr<std::uint8_t[]> carrierBlock;
    std::unique_ptr<InputSource> modulatorSource;
    std::unique_ptr<InputSource> carrierSource;
    RepeatingSource* repeatingCarrier = nullptr; // set when carrierSource repeats the file
    BuiltInCarrierSource* builtInSound = nullptr; // set when carrierSource is a built-in sound
    wave::SoundFileFormat carrierSoundFormat; // for a carrier read through libsndfile
    // An input whose data was found short only when the rest of it was counted after the run:
    // what was vocoded was not cut by it (a piped file declares a length it never has).
    const MonoInput* countedToItsEnd = nullptr;
};

// The inputs' blocks as the pipeline reads them, on whichever thread reads them. A failed read
// keeps which input failed; the input keeps why.
class InputBlockSource final : public BlockSource {
public:
    explicit InputBlockSource(InputBlocks& inputBlocks)
        : inputs(inputBlocks)
    {
    }
    int readBlock(std::span<double> carrier, std::span<double> modulator,
        std::uint64_t& framesTaken) override;

    InputBlocks::Result failed = InputBlocks::Result::Block;

private:
    InputBlocks& inputs;
};

// A carrier file decoded whole, averaged to mono and brought to the given rate, in 16-bit units
// (a live run loops it from memory); empty with the reason in problem when it cannot be read.
[[nodiscard]] std::optional<std::vector<double>> loadLiveCarrier(
    const std::string& path, std::uint32_t sampleRate, std::string& problem);

} // namespace lumivox::job
