#include "run_ending.h"

namespace lumivox::job {

void RunTally::noteInputs(const RunInputs& inputs, bool afterTheLoop)
{
    conversion = inputs.conversion;
    carrierSeconds = inputs.carrierSeconds;
    modulatorSeconds = inputs.modulatorSeconds;
    leftOutAtLeast = inputs.leftOutAtLeast;
    totalKnown = inputs.totalKnown;
    if (afterTheLoop)
        shortInput = inputs.shortInput();
}

void RunTally::noteOutput(const RunSink& sink)
{
    if (const OutputEncoder* encoder = sink.encoder()) {
        clippedSamples = encoder->clippedSamples();
        peak = encoder->level().peak();
        clipFreeGain = encoder->level().clipFreeGain();
    }
    const OutputFile* file = sink.file();
    if (file == nullptr)
        return;
    normalizedBy = file->normalizedBy();
    floatOutput = file->storedDepth() == wave::OutputDepth::Float32;
    if (!file->unknownEnding().empty())
        outputNote = "written as WAV: the ending " + file->unknownEnding()
            + " is not one of .wav, .flac, .ogg, .opus, .mp3 or .aiff";
}

double RunTally::seconds(std::uint64_t frameCount) const
{
    if (sampleRate == 0)
        return 0.0;
    return static_cast<double>(frameCount) / static_cast<double>(sampleRate);
}

RunReport RunTally::report(JobMode mode, const RunEnding& ending) const
{
    RunReport summary;
    summary.mode = mode;
    summary.outcome = ending.outcome;
    summary.secondsDone = seconds(framesDone);
    summary.secondsTotal = seconds(framesTotal);
    summary.totalKnown = totalKnown;
    summary.clippedSamples = clippedSamples;
    summary.conversion = conversion;
    summary.peak = peak;
    summary.clipFreeGain = clipFreeGain;
    summary.carrierSeconds = carrierSeconds;
    summary.modulatorSeconds = modulatorSeconds;
    summary.leftOutAtLeast = leftOutAtLeast;
    summary.floatOutput = floatOutput;
    summary.outputNote = outputNote;
    summary.normalizedByDecibels = normalizedBy;
    summary.failure = std::string(ending.message);
    summary.failureDetail = ending.detail.line();
    summary.shortInput = shortInput;
    return summary;
}

} // namespace lumivox::job
