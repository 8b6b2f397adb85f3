#include "carrier_supply.h"

#include "engine/chord_sound.h"
#include "engine/follow_voice_sound.h"
#include "engine/noise_sound.h"
#include "input_blocks.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lumivox::job {

namespace {

    // Full scale 1 in 16-bit units, as a 16-bit modulator is normalised by it.
    constexpr double sixteenBitFullScale = 32767.0;

    std::unique_ptr<engine::CarrierSound> makeSound(
        const CarrierChoice& choice, double sampleRate, engine::VectorUnit unit)
    {
        switch (choice.kind) {
        case CarrierKind::Chord:
            return std::make_unique<engine::ChordSound>(
                sampleRate, choice.chordRoot, choice.chordType);
        case CarrierKind::FollowVoice:
            return std::make_unique<engine::FollowVoiceSound>(sampleRate,
                std::clamp(choice.followSemitones, lowestFollowInterval, highestFollowInterval),
                unit);
        case CarrierKind::Noise:
        case CarrierKind::File:
            break;
        }
        return std::make_unique<engine::NoiseSound>();
    }

    // Full scale 1 in the carrier's 16-bit units, as a live output is stored from them.
    constexpr double liveFullScale = 32768.0;

    // A carrier source as the audio callback reads it: what it cannot give is silence.
    class SourceCarrier final : public LiveCarrier {
    public:
        SourceCarrier(std::unique_ptr<InputSource> carrier, ModulatorListener* hearsVoice,
            bool followsTheVoice)
            : source(std::move(carrier))
            , listener(hearsVoice)
            , follows(followsTheVoice)
        {
        }
        void fill(
            std::span<const double> voice, std::span<const float>, std::span<double> out) override
        {
            // As in a Preview: a sound hears the samples it is about to be mixed with.
            if (listener != nullptr)
                listener->listen(voice);
            const std::int64_t filled = source->read(out);
            std::fill(out.begin() + std::max<std::int64_t>(filled, 0), out.end(), 0.0);
        }
        bool followsVoice() const override { return follows; }

    private:
        std::unique_ptr<InputSource> source;
        ModulatorListener* listener;
        bool follows;
    };

    class PortCarrier final : public LiveCarrier {
    public:
        void fill(
            std::span<const double>, std::span<const float> port, std::span<double> out) override
        {
            const std::size_t count = std::min(port.size(), out.size());
            // A value that is not a number or is endless would leave every filter it passes
            // through without a number for good.
            for (std::size_t i = 0; i < count; ++i)
                out[i]
                    = std::isfinite(port[i]) ? static_cast<double>(port[i]) * liveFullScale : 0.0;
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(count), out.end(), 0.0);
        }
    };

} // namespace

BuiltInCarrierSource::BuiltInCarrierSource(const CarrierChoice& choice, std::uint32_t sampleRate,
    wave::OutputDepth depth, bool mayLookAhead, engine::VectorUnit unit)
    : InputSource(sampleRate, depth)
    , sound(makeSound(choice, static_cast<double>(sampleRate), unit))
    , ahead(mayLookAhead && choice.kind == CarrierKind::FollowVoice)
{
}

std::int64_t BuiltInCarrierSource::read(std::span<double> values)
{
    sound->render(values);
    for (double& value : values)
        value *= sixteenBitFullScale;
    return static_cast<std::int64_t>(values.size());
}

std::uint64_t BuiltInCarrierSource::frameCount() const
{
    return std::numeric_limits<std::uint64_t>::max();
}

RepeatingSource::Pieces::Pieces(
    std::unique_ptr<InputSource> carrier, Reopen reopen, std::size_t keptFrames)
    : input(std::move(carrier))
    , reopenInput(std::move(reopen))
    , values(static_cast<std::size_t>(InputBlocks::maxFrames))
{
    // The room is taken now, so that reading the first pass allocates nothing.
    if (keptFrames > 0 && (!input->lengthKnown() || input->frameCount() <= keptFrames)) {
        kept.reserve(keptFrames);
        keeping = true;
    }
}

std::int64_t RepeatingSource::Pieces::read(std::span<double> out)
{
    if (next == available) {
        if (fromMemory) {
            // The kept pass stands in for the carrier's blocks.
            next = 0;
            available = std::min(values.size(), kept.size() - keptNext);
            std::copy_n(
                kept.begin() + static_cast<std::ptrdiff_t>(keptNext), available, values.begin());
            keptNext += available;
        } else {
            const std::int64_t framesRead = input->read(values);
            if (framesRead < 0)
                return framesRead;
            available = static_cast<std::size_t>(framesRead);
            next = 0;
            if (keeping) {
                if (kept.size() + available > kept.capacity()) {
                    keeping = false; // too long to keep: each pass is read from the file
                    kept.clear();
                } else {
                    kept.insert(kept.end(), values.begin(),
                        values.begin() + static_cast<std::ptrdiff_t>(available));
                }
            }
        }
    }
    const std::size_t count = std::min(out.size(), available - next);
    std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(next), count, out.begin());
    next += count;
    return static_cast<std::int64_t>(count);
}

bool RepeatingSource::Pieces::rewind()
{
    next = available = 0;
    if (keeping || fromMemory) {
        // The whole pass is in memory: nothing is opened or decoded again.
        keeping = false;
        fromMemory = true;
        keptNext = 0;
        return true;
    }
    if (input->rewind())
        return true;
    auto again = reopenInput(reopenCause);
    if (!again) {
        reopenFailed = true;
        return false;
    }
    input = std::move(again);
    return true;
}

RepeatingSource::RepeatingSource(std::unique_ptr<InputSource> carrier, Reopen reopen,
    std::size_t fadeFrames, std::size_t keptFrames)
    : InputSource(carrier->sampleRate(), carrier->depth())
    , endless(carrier->frameCount() > 0 || !carrier->lengthKnown())
    , pieces(std::move(carrier), std::move(reopen), keptFrames)
    , repeat(pieces, fadeFrames)
{
}

std::int64_t RepeatingSource::read(std::span<double> values)
{
    const std::int64_t filled = repeat.fill(values);
    return filled < 0 ? -1 : filled;
}

std::uint64_t RepeatingSource::frameCount() const
{
    return endless ? std::numeric_limits<std::uint64_t>::max() : 0;
}

std::string RepeatingSource::failureCause() const
{
    return pieces.reopenFailed ? pieces.reopenCause : pieces.input->failureCause();
}

RecordingSource::RecordingSource(
    std::vector<double> values, std::uint32_t sampleRate, wave::OutputDepth depth)
    : InputSource(sampleRate, depth)
    , samples(std::move(values))
{
}

std::int64_t RecordingSource::read(std::span<double> values)
{
    const std::size_t count = std::min(values.size(), samples.size() - next);
    std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(next), count, values.begin());
    next += count;
    return static_cast<std::int64_t>(count);
}

bool RecordingSource::rewind()
{
    next = 0;
    return true;
}

std::unique_ptr<LiveCarrier> makeLoopedCarrier(std::vector<double> samples, std::size_t fadeFrames)
{
    // Never opened again: the recording rewinds itself. Its rate and depth are the run's.
    auto recording
        = std::make_unique<RecordingSource>(std::move(samples), 0, wave::OutputDepth::Int16);
    auto looped = std::make_unique<RepeatingSource>(
        std::move(recording), [](std::string&) { return nullptr; }, fadeFrames);
    return std::make_unique<SourceCarrier>(std::move(looped), nullptr, false);
}

std::unique_ptr<LiveCarrier> makeSoundCarrier(const CarrierChoice& choice, std::uint32_t sampleRate)
{
    auto sound = std::make_unique<BuiltInCarrierSource>(
        choice, sampleRate, wave::OutputDepth::Int16, false);
    ModulatorListener* listener = sound.get();
    return std::make_unique<SourceCarrier>(
        std::move(sound), listener, choice.kind == CarrierKind::FollowVoice);
}

std::unique_ptr<LiveCarrier> makePortCarrier() { return std::make_unique<PortCarrier>(); }

std::size_t seamFadeFrames(std::uint32_t sampleRate)
{
    return std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(0.02 * sampleRate)));
}

wave::OutputDepth builtInDepth(wave::OutputDepth modulatorDepth)
{
    return modulatorDepth == wave::OutputDepth::UInt8 ? wave::OutputDepth::Int16 : modulatorDepth;
}

} // namespace lumivox::job
