#include "carrier_supply.h"

#include "engine/chord_sound.h"
#include "engine/follow_voice_sound.h"
#include "engine/noise_sound.h"
#include "sample_formats.h"

#include <algorithm>
#include <cmath>

namespace lumivox::job {

namespace {

    // A built-in sound, scaled from full scale 1 to the output's sample units.
    class BuiltInSupply final : public CarrierSupply {
    public:
        BuiltInSupply(std::unique_ptr<engine::CarrierSound> made, double units, bool listenAhead)
            : sound(std::move(made))
            , fullScale(units)
            , ahead(listenAhead)
        {
        }
        bool listensAhead() const override { return ahead; }
        void listen(std::span<const double> modulator) override { sound->listen(modulator); }
        Result fill(std::span<double> carrier, std::size_t& count) override
        {
            sound->render(carrier);
            for (double& value : carrier)
                value *= fullScale;
            count = carrier.size();
            return Result::Filled;
        }

    private:
        std::unique_ptr<engine::CarrierSound> sound;
        double fullScale;
        bool ahead;
    };

    // The carrier file as the repeat reads it: mono blocks turned into the engine's values, handed
    // out in pieces of any size, and opened again to start over.
    class FileSource final : public engine::RepeatSource {
    public:
        FileSource(MonoInput& input, std::uint8_t* bytes, std::function<bool(MonoInput&)> again)
            : carrier(input)
            , byteBuffer(bytes)
            , reopen(std::move(again))
            , wide(input.format.bitsPerSample != 8)
            , values(monoBlockBytes)
        {
        }

        std::int64_t read(std::span<double> out) override
        {
            if (next == available) {
                const std::int64_t bytesRead = readMonoBlock(carrier, byteBuffer, wide);
                if (bytesRead < 0) {
                    readFailed = true;
                    return bytesRead;
                }
                available = static_cast<std::size_t>(wide ? bytesRead / 2 : bytesRead);
                next = 0;
                if (wide) {
                    const auto* samples = reinterpret_cast<const std::int16_t*>(byteBuffer);
                    for (std::size_t i = 0; i < available; ++i)
                        values[i] = encoding::Int16::carrier(samples[i]);
                } else {
                    for (std::size_t i = 0; i < available; ++i)
                        values[i] = encoding::UInt8::carrier(byteBuffer[i]);
                }
            }
            const std::size_t count = std::min(out.size(), available - next);
            std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(next), count, out.begin());
            next += count;
            return static_cast<std::int64_t>(count);
        }

        bool rewind() override
        {
            next = available = 0;
            return reopen(carrier);
        }

        bool readFailed = false;

    private:
        MonoInput& carrier;
        std::uint8_t* byteBuffer;
        std::function<bool(MonoInput&)> reopen;
        bool wide;
        std::vector<double> values;
        std::size_t next = 0;
        std::size_t available = 0;
    };

    class RepeatedSupply final : public CarrierSupply {
    public:
        RepeatedSupply(MonoInput& carrier, std::uint8_t* bytes,
            std::function<bool(MonoInput&)> reopen, std::size_t fadeFrames)
            : source(carrier, bytes, std::move(reopen))
            , repeat(source, fadeFrames)
        {
        }
        Result fill(std::span<double> carrier, std::size_t& count) override
        {
            const std::int64_t filled = repeat.fill(carrier);
            if (filled < 0)
                return source.readFailed ? Result::ReadFailed : Result::ReopenFailed;
            count = static_cast<std::size_t>(filled);
            return count == carrier.size() ? Result::Filled : Result::Ended;
        }

    private:
        FileSource source;
        engine::CarrierRepeat repeat;
    };

} // namespace

std::unique_ptr<CarrierSupply> CarrierSupply::builtIn(
    const CarrierChoice& choice, double sampleRate, int bitsPerSample, bool mayLookAhead)
{
    // Full scale in the output's units, as the modulator is normalised by it.
    const double fullScale = bitsPerSample == 8 ? 127.0 : 32767.0;
    std::unique_ptr<engine::CarrierSound> sound;
    bool ahead = false;
    switch (choice.kind) {
    case CarrierKind::Chord:
        sound
            = std::make_unique<engine::ChordSound>(sampleRate, choice.chordRoot, choice.chordType);
        break;
    case CarrierKind::FollowVoice:
        sound = std::make_unique<engine::FollowVoiceSound>(sampleRate,
            std::clamp(choice.followSemitones, lowestFollowInterval, highestFollowInterval));
        ahead = mayLookAhead;
        break;
    case CarrierKind::Noise:
    case CarrierKind::File:
        sound = std::make_unique<engine::NoiseSound>();
        break;
    }
    return std::make_unique<BuiltInSupply>(std::move(sound), fullScale, ahead);
}

std::unique_ptr<CarrierSupply> CarrierSupply::repeated(MonoInput& carrier, std::uint8_t* byteBuffer,
    std::function<bool(MonoInput&)> reopen, std::size_t fadeFrames)
{
    return std::make_unique<RepeatedSupply>(carrier, byteBuffer, std::move(reopen), fadeFrames);
}

std::size_t seamFadeFrames(std::uint32_t sampleRate)
{
    return std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(0.02 * sampleRate)));
}

int builtInBitsPerSample(int modulatorBits) { return std::max(16, modulatorBits); }

} // namespace lumivox::job
