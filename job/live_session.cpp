#include "live_session.h"

#include "engine/vocoder_engine.h"
#include "engine_stages.h"

#include <algorithm>
#include <cmath>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace lumivox::job {

namespace {

    // Full scale 1 in the carrier's 16-bit units, as the output is stored from them.
    constexpr double carrierFullScale = 32768.0;

    // A sample from another program as the engine may take it: a value that is not a number or
    // is endless would leave every filter it passes through without a number for good.
    double finite(float value) { return std::isfinite(value) ? static_cast<double>(value) : 0.0; }

    // Raises a peak held in an atomic that another thread may reset at any time.
    void raisePeak(std::atomic<float>& peak, float value)
    {
        float held = peak.load(std::memory_order_relaxed);
        while (
            value > held && !peak.compare_exchange_weak(held, value, std::memory_order_relaxed)) { }
    }

    // While it lives, the thread's vector unit takes numbers too small for its normal form as 0,
    // in and out (flush to zero, denormals are zero). Once a voice falls silent the filters' states
    // decay towards zero through such numbers, which the processor handles tens of times more
    // slowly: a pause in the singing would otherwise make the callback the slowest it ever is.
    // Restores the thread's own setting after, so a host's thread is left as it was found.
    class FlushDenormals {
    public:
#if defined(__SSE__)
        FlushDenormals()
            : saved(_mm_getcsr())
        {
            _mm_setcsr(saved | flushBits);
        }
        ~FlushDenormals() { _mm_setcsr(saved); }
        static constexpr unsigned flushBits
            = 0x8040; // flush to zero (bit 15), denormals are zero (6)

    private:
        unsigned saved;
#endif
    };

} // namespace

LiveSession::LiveSession(std::unique_ptr<LiveCarrier> liveCarrier, const SoundSettings& sound,
    std::size_t maxFrames, RecordRing* recordRing)
    : LiveSession(std::move(liveCarrier), sound, maxFrames, recordRing,
        engine::DesignedBands { engine::BandLayout::classic(), 1.0 })
{
}

LiveSession::LiveSession(std::unique_ptr<LiveCarrier> liveCarrier, const SoundSettings& sound,
    std::size_t maxFrames, RecordRing* recordRing, const engine::DesignedBands& bands)
    : engine(makeRunEngine(bands))
    , levelGain(bands.levelGain)
    , carrier(std::move(liveCarrier))
    , record(recordRing)
    , voiceValues(std::max<std::size_t>(maxFrames, 1))
    , carrierValues(voiceValues.size())
    , outputValues(voiceValues.size())
    , clearance(sound.clearance)
    , vagueness(sound.vagueness)
    , gain(sound.gain)
    , clarity(sound.clarity)
{
    // As a Vocode with the follow sound does: its saw at another pitch than the voice's must not
    // be filtered down to the voice's own harmonics.
    if (carrier->followsVoice())
        followTheVoice(*engine);
    applySoundIfChanged();
}

LiveSession::~LiveSession() = default;

std::span<const engine::FilterCascade> LiveSession::bandFilters() const
{
    return engine->bank().modulatorBands;
}

std::span<const int> LiveSession::bandsHeldBackByClarity() const
{
    return { engine->alignment().delays(), static_cast<std::size_t>(engine->bandCount()) };
}

void LiveSession::publishBandLevels(BandLevelFeed* feed, double sampleRate)
{
    levelFeed = feed;
    levelRate = sampleRate;
}

void LiveSession::setSound(const SoundSettings& sound)
{
    clearance.store(sound.clearance, std::memory_order_relaxed);
    vagueness.store(sound.vagueness, std::memory_order_relaxed);
    gain.store(sound.gain, std::memory_order_relaxed);
    clarity.store(sound.clarity, std::memory_order_relaxed);
    soundGeneration.fetch_add(1, std::memory_order_release);
}

LiveMeters LiveSession::takeMeters()
{
    return { inputPeak.exchange(0.0F, std::memory_order_relaxed),
        outputPeak.exchange(0.0F, std::memory_order_relaxed) };
}

void LiveSession::applySoundIfChanged()
{
    const std::uint32_t generation = soundGeneration.load(std::memory_order_acquire);
    if (generation == appliedGeneration)
        return;
    appliedGeneration = generation;
    const auto relaxed
        = [](const std::atomic<int>& value) { return value.load(std::memory_order_relaxed); };
    applySound(*engine,
        SoundSettings { relaxed(clearance), relaxed(vagueness), relaxed(gain), relaxed(clarity) },
        levelGain);
}

void LiveSession::process(
    std::span<const float> voice, std::span<const float> carrierPort, std::span<float> out) noexcept
{
    [[maybe_unused]] const FlushDenormals flush;
    applySoundIfChanged();
    const std::size_t frameCount = std::min(voice.size(), out.size());
    const std::size_t most = voiceValues.size();
    for (std::size_t done = 0; done < frameCount; done += most) {
        const std::size_t count = std::min(most, frameCount - done);
        const std::span<const float> port = carrierPort.size() > done
            ? carrierPort.subspan(done, std::min(count, carrierPort.size() - done))
            : std::span<const float>();
        vocode(voice.subspan(done, count), port, out.subspan(done, count));
    }
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(frameCount), out.end(), 0.0F);
    if (record != nullptr)
        static_cast<void>(record->push(out));
    const std::uint64_t playedFrames
        = played.fetch_add(out.size(), std::memory_order_release) + out.size();
    if (levelFeed != nullptr && frameCount > 0)
        levelFeed->publish(engine->bandLevels(), playedFrames, levelRate, 0.0);
}

void LiveSession::vocode(
    std::span<const float> voice, std::span<const float> carrierPort, std::span<float> out)
{
    const std::size_t count = voice.size();
    const std::span<double> modulator(voiceValues.data(), count);
    const std::span<double> carrierSamples(carrierValues.data(), count);
    const std::span<double> output(outputValues.data(), count);
    float voicePeak = 0.0F;
    for (std::size_t i = 0; i < count; ++i) {
        modulator[i] = finite(voice[i]);
        voicePeak = std::max(voicePeak, static_cast<float>(std::abs(modulator[i])));
    }
    carrier->fill(modulator, carrierPort, carrierSamples);
    engine->processBlock(carrierSamples, modulator, output);
    float outPeak = 0.0F;
    for (std::size_t i = 0; i < count; ++i) {
        const double value = std::clamp(output[i] / carrierFullScale, -1.0, 1.0);
        out[i] = static_cast<float>(value);
        outPeak = std::max(outPeak, std::abs(out[i]));
    }
    raisePeak(inputPeak, voicePeak);
    raisePeak(outputPeak, outPeak);
}

} // namespace lumivox::job
