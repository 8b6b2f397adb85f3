#include "input_lengths.h"

namespace lumivox::job {

CountedSource::CountedSource(InputSource& input)
    : InputSource(input.sampleRate(), input.depth())
    , input_(input)
{
}

std::int64_t CountedSource::read(std::span<double> values)
{
    const std::int64_t frames = input_.read(values);
    if (frames > 0)
        framesRead_ += static_cast<std::uint64_t>(frames);
    if (frames < static_cast<std::int64_t>(values.size()))
        endReached_ = true;
    return frames;
}

InputLengths countInputLengths(CountedSource& carrier, CountedSource& modulator,
    bool carrierEndless, std::uint64_t mostFramesCounted, std::span<double> scratch,
    const std::atomic<bool>& stop)
{
    // The input that gave fewer frames is the one that ran out; the other goes on.
    const bool carrierEndedFirst = !carrierEndless && carrier.framesRead() < modulator.framesRead();
    CountedSource& longer = carrierEndedFirst ? modulator : carrier;
    InputLengths lengths;
    if (!(carrierEndless && !carrierEndedFirst)) {
        const std::uint64_t start = longer.framesRead();
        while (!longer.endReached() && !scratch.empty()) {
            if (longer.framesRead() - start >= mostFramesCounted || stop.load()) {
                lengths.longerNotCountedToTheEnd = true;
                break;
            }
            if (longer.read(scratch) <= 0)
                break;
        }
    }
    lengths.carrierFrames = carrier.framesRead();
    lengths.modulatorFrames = modulator.framesRead();
    if (carrierEndless)
        lengths.carrierFrames = std::max(lengths.carrierFrames, lengths.modulatorFrames);
    return lengths;
}

} // namespace lumivox::job
