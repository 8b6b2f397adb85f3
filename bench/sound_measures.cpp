// Measures of the built-in carriers that are not tests: the chord's band-limiting over the whole
// band, and the follow sound rendered alone from a modulator file (listening a block ahead as a
// Vocode does, or in step as a Preview does), for a pitch tracker that is not the project's own.
//   lumivox-bench-sounds chord
//   lumivox-bench-sounds follow MODULATOR.wav OUT.wav SEMITONES ahead|live
#include "chord_sound.h"
#include "follow_voice_sound.h"
#include "spectrum.h"
#include "wave/wave_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace lumivox;

int measureChords()
{
    constexpr std::size_t fftSize = 1 << 18;
    std::printf("largest component off every note's harmonics, dB re the strongest partial,\n"
                "over 0 Hz to Nyquist (4-term Blackman-Harris, %zu points, 6-bin guard)\n",
        fftSize);
    for (const double rate : { 44100.0, 48000.0, 96000.0 }) {
        for (const char* root : { "C2", "C3", "C4" }) {
            for (const auto type : { engine::ChordType::Major, engine::ChordType::Minor,
                     engine::ChordType::Fifth, engine::ChordType::Octave }) {
                const int note = *engine::parseNoteName(root);
                engine::ChordSound chord(rate, note, type);
                std::vector<double> samples(static_cast<std::size_t>(rate) + fftSize);
                chord.render(samples);
                samples.erase(samples.begin(), samples.begin() + static_cast<long>(rate));
                std::vector<double> bins;
                for (const int interval : engine::chordIntervals(type))
                    bins.push_back(engine::noteHertz(note + interval) / rate * fftSize);
                const double worst = test::largestOffHarmonicDecibels(
                    test::magnitudeSpectrum(samples, fftSize), bins, 6.0);
                double peak = 0.0;
                for (const double s : samples)
                    peak = std::max(peak, std::abs(s));
                std::printf("%6.0f Hz  %-3s %-6s  %7.1f dB   peak %5.1f dBFS\n", rate, root,
                    std::string(engine::chordTypeName(type)).c_str(), worst,
                    20.0 * std::log10(peak));
            }
        }
    }
    return 0;
}

int renderFollow(const std::string& in, const std::string& out, int semitones, bool ahead)
{
    wave::WaveFormat format;
    std::uint32_t dataLength = 0;
    auto reader = wave::openWaveReader(in, &format, &dataLength);
    if (!reader || format.bitsPerSample != 16 || format.channels != 1) {
        std::fprintf(stderr, "%s: a mono 16-bit wave file is needed\n", in.c_str());
        return 1;
    }
    std::vector<std::int16_t> samples(dataLength / 2);
    if (wave::readWave(*reader, samples.data(), samples.size() * 2)
        != static_cast<std::int64_t>(samples.size() * 2))
        return 1;
    std::vector<double> voice(samples.begin(), samples.end());
    for (double& v : voice)
        v /= 32767.0;

    engine::FollowVoiceSound sound(format.sampleRate, semitones);
    const std::size_t block = 2048;
    std::vector<double> carrier(voice.size());
    const std::span<const double> all(voice);
    if (ahead)
        sound.listen(all.first(std::min(block, all.size())));
    for (std::size_t at = 0; at < voice.size(); at += block) {
        const std::size_t n = std::min(block, voice.size() - at);
        const std::size_t next = ahead ? at + block : at;
        if (next < voice.size())
            sound.listen(all.subspan(next, std::min(block, voice.size() - next)));
        sound.render(std::span<double>(carrier).subspan(at, n));
    }
    std::vector<std::int16_t> output(carrier.size());
    for (std::size_t i = 0; i < carrier.size(); ++i)
        output[i] = static_cast<std::int16_t>(std::lround(32767.0 * carrier[i]));
    auto writer = wave::createWaveWriter(out, format);
    if (!writer
        || wave::writeWave(*writer, output.data(), output.size() * 2)
            != static_cast<std::int64_t>(output.size() * 2)
        || !wave::closeWave(std::move(writer)))
        return 1;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "chord")
        return measureChords();
    if (args.size() == 5 && args[0] == "follow")
        return renderFollow(std::string(args[1]), std::string(args[2]),
            std::atoi(std::string(args[3]).c_str()), args[4] == "ahead");
    std::fprintf(stderr,
        "usage: lumivox-bench-sounds chord\n"
        "       lumivox-bench-sounds follow MODULATOR.wav OUT.wav SEMITONES ahead|live\n");
    return 2;
}
