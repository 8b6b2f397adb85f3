// The LV2 entry points: the plugin's ports, and the host's calls handed to PluginEngine.

#include "plugin_engine.h"

#include <cstdint>
#include <lv2/core/lv2.h>
#include <memory>
#include <new>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace lumivox::plugin {

namespace {

    constexpr const char* pluginUri = "http://lumivox.org/plugins/vocoder";

    // In the order of lv2:index in lumivox.ttl.
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
    };

    struct Instance {
        std::unique_ptr<PluginEngine> engine;
        bool ran = false; // since instantiate or the last activate
        const float* carrier = nullptr;
        const float* modulator = nullptr;
        float* out = nullptr;
        const float* clearance = nullptr;
        const float* vagueness = nullptr;
        const float* gain = nullptr;
        const float* clarity = nullptr;
        float* latency = nullptr;
        const float* bands = nullptr;
    };

    // Floating-point values too small for a normal number are taken as zero while the plugin
    // runs, so that a filter ringing down to silence never falls into the slow arithmetic of
    // subnormal numbers; rounding is to nearest, as in the program, whatever the host uses. The
    // caller's settings come back when run() returns.
    class FlushDenormals {
    public:
#if defined(__SSE__)
        FlushDenormals()
            : saved(_mm_getcsr())
        {
            constexpr unsigned int allMaskedToNearest = 0x1F80;
            constexpr unsigned int flushToZero = 0x8000;
            constexpr unsigned int denormalsAreZero = 0x0040;
            _mm_setcsr(allMaskedToNearest | flushToZero | denormalsAreZero);
        }
        ~FlushDenormals() { _mm_setcsr(saved); }

    private:
        unsigned int saved;
#else
        FlushDenormals() = default;
#endif
    public:
        FlushDenormals(const FlushDenormals&) = delete;
        FlushDenormals& operator=(const FlushDenormals&) = delete;
    };

    float valueOr(const float* port, float otherwise)
    {
        return port != nullptr ? *port : otherwise;
    }

    LV2_Handle instantiate(
        const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const*)
    {
        try {
            auto instance = std::make_unique<Instance>();
            instance->engine = std::make_unique<PluginEngine>(sampleRate);
            return instance.release();
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

    void connectPort(LV2_Handle handle, std::uint32_t port, void* data)
    {
        Instance& instance = *static_cast<Instance*>(handle);
        switch (port) {
        case carrierPort:
            instance.carrier = static_cast<const float*>(data);
            break;
        case modulatorPort:
            instance.modulator = static_cast<const float*>(data);
            break;
        case outPort:
            instance.out = static_cast<float*>(data);
            break;
        case clearancePort:
            instance.clearance = static_cast<const float*>(data);
            break;
        case vaguenessPort:
            instance.vagueness = static_cast<const float*>(data);
            break;
        case gainPort:
            instance.gain = static_cast<const float*>(data);
            break;
        case clarityPort:
            instance.clarity = static_cast<const float*>(data);
            break;
        case latencyPort:
            instance.latency = static_cast<float*>(data);
            break;
        case bandsPort:
            instance.bands = static_cast<const float*>(data);
            break;
        default:
            break;
        }
    }

    // A host activates again after a pause; the sound then starts from silence, as a new run
    // does. Should memory run out, the plugin goes on from where it was.
    void activate(LV2_Handle handle)
    {
        Instance& instance = *static_cast<Instance*>(handle);
        if (!instance.ran)
            return;
        try {
            instance.engine = std::make_unique<PluginEngine>(instance.engine->sampleRate());
            instance.ran = false;
        } catch (const std::bad_alloc&) {
        }
    }

    void run(LV2_Handle handle, std::uint32_t frameCount)
    {
        Instance& instance = *static_cast<Instance*>(handle);
        const FlushDenormals flush;
        if (instance.latency != nullptr)
            *instance.latency = static_cast<float>(PluginEngine::latencyFrames);
        const SliderPositions defaults;
        instance.engine->apply({ valueOr(instance.clearance, defaults.clearance),
            valueOr(instance.vagueness, defaults.vagueness), valueOr(instance.gain, defaults.gain),
            valueOr(instance.clarity, defaults.clarity) });
        instance.engine->chooseBands(valueOr(instance.bands, 0.0F));
        if (instance.carrier == nullptr || instance.modulator == nullptr || instance.out == nullptr)
            return;
        instance.engine->process(instance.carrier, instance.modulator, instance.out, frameCount);
        instance.ran = true;
    }

    void cleanup(LV2_Handle handle)
    {
        std::unique_ptr<Instance> { static_cast<Instance*>(handle) };
    }

    const void* extensionData(const char*) { return nullptr; }

    const LV2_Descriptor descriptor
        = { pluginUri, instantiate, connectPort, activate, run, nullptr, cleanup, extensionData };

} // namespace

} // namespace lumivox::plugin

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(std::uint32_t index)
{
    return index == 0 ? &lumivox::plugin::descriptor : nullptr;
}
