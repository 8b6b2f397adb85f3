#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace lumivox::engine {
class VocoderEngine;
}
namespace lumivox::wave {
class WaveReader;
}

namespace lumivox::job {

class PreviewSink;
class SegmentPlan;

enum class InputRole { Carrier, Modulator };

// Reads sample bytes from one of the inputs, as wave::readWave does.
using InputReader = std::function<std::int64_t(
    InputRole role, wave::WaveReader& reader, void* buffer, std::size_t byteCount)>;

// What a job takes from outside itself: the preview output, its buffers and its engine. Empty
// members mean the real thing; tests put fakes in their place to reach every failure.
struct JobEnvironment {
    // Null: the default output device through PortAudio.
    PreviewSink* previewSink = nullptr;
    // Returns null when the memory cannot be had. Empty: the free store, without throwing.
    std::function<std::unique_ptr<std::uint8_t[]>(std::size_t byteCount)> takeBuffer;
    // May throw std::bad_alloc. Empty: a freshly built engine.
    std::function<std::unique_ptr<engine::VocoderEngine>()> makeEngine;
    // Empty: wave::readWave. Tests make reads fail part way.
    InputReader readInput;
    // How a Vocode goes on, segment by segment on one thread or two; given whether the run may
    // use a second thread. Empty: a ThreadChoice, which times the run's first blocks both ways.
    // Tests give a plan that always goes one way.
    std::function<std::unique_ptr<SegmentPlan>(bool twoThreadsAllowed)> makeThreadPlan;
    // The longest carrier read through libsndfile, in frames, that a repeat decodes once and
    // plays again from memory (8 MB of values) instead of opening and decoding it for every pass.
    std::size_t carrierKeptFrames = std::size_t { 1 } << 20;
};

} // namespace lumivox::job
