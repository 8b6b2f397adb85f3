#pragma once

#include "preview_stream.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumivox::job::test {

// A preview output that keeps every sample it is given and records each call in order.
class FakePreviewSink : public PreviewSink {
public:
    PreviewOpenResult open(const PreviewFormat& format) override
    {
        openedWith = format;
        calls.push_back("open");
        return openResult;
    }
    bool start() override
    {
        calls.push_back("start");
        if (!startSucceeds)
            calls.push_back("close");
        return startSucceeds;
    }
    void writeBlock(const void* samples, unsigned long frameCount) override
    {
        calls.push_back("write " + std::to_string(frameCount));
        const auto* bytes = static_cast<const std::uint8_t*>(samples);
        const unsigned long bytesPerFrame = openedWith.bitsPerSample == 8 ? 1
            : openedWith.bitsPerSample == 32                              ? 4
                                                                          : 2;
        const unsigned long byteCount = bytesPerFrame * frameCount;
        played.insert(played.end(), bytes, bytes + byteCount);
        ++blocksWritten;
        if (onWrite)
            onWrite(blocksWritten);
    }
    void finish(bool abort) override
    {
        calls.push_back(abort ? "finish abort" : "finish stop");
        calls.push_back("close");
    }
    void abort() override { calls.push_back("abort"); }
    void close() override { calls.push_back("close"); }
    double outputLatencySeconds() const override { return latencySeconds; }

    PreviewOpenResult openResult = PreviewOpenResult::Opened;
    bool startSucceeds = true;
    double latencySeconds = 0.0;
    std::function<void(int blocksWritten)> onWrite;

    PreviewFormat openedWith;
    std::vector<std::string> calls;
    std::vector<std::uint8_t> played;
    int blocksWritten = 0;
};

} // namespace lumivox::job::test
