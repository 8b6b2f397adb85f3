#pragma once

// A small LV2 host for the tests: loads the built bundle's shared object with dlopen, and runs one
// instance with buffers of its own. The port indices are those the bundle's description gives.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <dlfcn.h>
#include <lv2/core/lv2.h>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivox::plugin::test {

inline const std::string bundleDirectory = LUMIVOX_LV2_BUNDLE;
inline const std::string pluginUri = "http://lumivox.org/plugins/vocoder";

enum Port : std::uint32_t {
    carrierPort,
    modulatorPort,
    outPort,
    clearancePort,
    vaguenessPort,
    gainPort,
    clarityPort,
    latencyPort,
    bandsPort,
    portCount
};

// The slider positions a host would set, with the plugin's defaults.
struct Controls {
    float clearance = 0.0F;
    float vagueness = 0.0F;
    float gain = 50.0F;
    float clarity = 0.0F;
    float bands = 0.0F; // 0 the classic bands, 1 the speech layout
};

class PluginLibrary {
public:
    PluginLibrary()
        : handle(
            dlopen((bundleDirectory + "/" + LUMIVOX_LV2_BINARY).c_str(), RTLD_NOW | RTLD_LOCAL))
    {
        if (handle == nullptr)
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
        const auto entry
            = reinterpret_cast<LV2_Descriptor_Function>(dlsym(handle, "lv2_descriptor"));
        if (entry == nullptr)
            throw std::runtime_error("no lv2_descriptor");
        descriptor = entry(0);
        second = entry(1);
    }
    ~PluginLibrary() { dlclose(handle); }
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    void* handle;
    const LV2_Descriptor* descriptor = nullptr;
    const LV2_Descriptor* second = nullptr; // the descriptor at index 1: there is none
};

class PluginInstance {
public:
    PluginInstance(const PluginLibrary& library, double sampleRate, std::size_t maxBlockFrames)
        : descriptor(*library.descriptor)
        , carrier(maxBlockFrames)
        , modulator(maxBlockFrames)
        , out(maxBlockFrames)
    {
        const LV2_Feature* const features[] = { nullptr };
        handle = descriptor.instantiate(&descriptor, sampleRate, bundleDirectory.c_str(), features);
        if (handle == nullptr)
            throw std::runtime_error("instantiate failed");
        descriptor.connect_port(handle, carrierPort, carrier.data());
        descriptor.connect_port(handle, modulatorPort, modulator.data());
        descriptor.connect_port(handle, outPort, out.data());
        descriptor.connect_port(handle, clearancePort, &controls.clearance);
        descriptor.connect_port(handle, vaguenessPort, &controls.vagueness);
        descriptor.connect_port(handle, gainPort, &controls.gain);
        descriptor.connect_port(handle, clarityPort, &controls.clarity);
        descriptor.connect_port(handle, latencyPort, &latency);
        descriptor.connect_port(handle, bandsPort, &controls.bands);
        descriptor.activate(handle);
    }
    ~PluginInstance()
    {
        if (descriptor.deactivate != nullptr)
            descriptor.deactivate(handle);
        descriptor.cleanup(handle);
    }
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    // Copies the frames in, runs them as one block and appends the output to result.
    void runBlock(std::span<const float> carrierFrames, std::span<const float> modulatorFrames,
        std::vector<float>& result)
    {
        std::copy(carrierFrames.begin(), carrierFrames.end(), carrier.begin());
        std::copy(modulatorFrames.begin(), modulatorFrames.end(), modulator.begin());
        descriptor.run(handle, static_cast<std::uint32_t>(carrierFrames.size()));
        result.insert(result.end(), out.begin(),
            out.begin() + static_cast<std::ptrdiff_t>(carrierFrames.size()));
    }

    void reactivate()
    {
        if (descriptor.deactivate != nullptr)
            descriptor.deactivate(handle);
        descriptor.activate(handle);
    }

    const LV2_Descriptor& descriptor;
    LV2_Handle handle = nullptr;
    Controls controls;
    float latency = -1.0F;
    std::vector<float> carrier;
    std::vector<float> modulator;
    std::vector<float> out;
};

// The samples a host reads from 16-bit files: each divided by 32768.
inline std::vector<float> hostSamples(const std::vector<std::int16_t>& samples)
{
    std::vector<float> values(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        values[i] = static_cast<float>(samples[i]) / 32768.0F;
    return values;
}

// Test recordings in 16-bit samples, deterministic: a carrier rich in harmonics, and a modulator
// whose tones and loudness change as a voice's do, so that every band moves.
inline std::vector<std::int16_t> testCarrier(std::size_t frameCount, double sampleRate)
{
    std::vector<std::int16_t> samples(frameCount);
    for (std::size_t i = 0; i < frameCount; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        double value = 0.0;
        for (int harmonic = 1; harmonic <= 30; ++harmonic)
            value += std::sin(2.0 * 3.141592653589793 * 110.0 * harmonic * t) / harmonic;
        samples[i] = static_cast<std::int16_t>(std::lround(9000.0 * value));
    }
    return samples;
}

inline std::vector<std::int16_t> testModulator(std::size_t frameCount, double sampleRate)
{
    std::vector<std::int16_t> samples(frameCount);
    for (std::size_t i = 0; i < frameCount; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double loudness = 0.5 + 0.5 * std::sin(2.0 * 3.141592653589793 * 3.0 * t);
        const double value = 8000.0 * std::sin(2.0 * 3.141592653589793 * (300.0 + 900.0 * t) * t)
            + 5000.0 * std::sin(2.0 * 3.141592653589793 * 2400.0 * t);
        samples[i] = static_cast<std::int16_t>(std::lround(loudness * value));
    }
    return samples;
}

} // namespace lumivox::plugin::test
