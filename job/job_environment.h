#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace lumivox::engine {
class VocoderEngine;
}

namespace lumivox::job {

class PreviewSink;

// What a job takes from outside itself: the preview output, its buffers and its engine. Empty
// members mean the real thing; tests put fakes in their place to reach every failure.
struct JobEnvironment {
    // Null: the default output device through PortAudio.
    PreviewSink* previewSink = nullptr;
    // Returns null when the memory cannot be had. Empty: the free store, without throwing.
    std::function<std::unique_ptr<std::uint8_t[]>(std::size_t byteCount)> takeBuffer;
    // May throw std::bad_alloc. Empty: a freshly built engine.
    std::function<std::unique_ptr<engine::VocoderEngine>()> makeEngine;
};

} // namespace lumivox::job
