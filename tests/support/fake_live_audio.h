#pragma once

// An audio system without a device for live runs, for every suite that drives one (programs that
// include it link lumivox_job).

#include "job/live_audio.h"
#include "job/live_session.h"
#include "test_wave_bytes.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace lumivox::test {

// What a fake audio system played, kept by the test: the run owns the fake and ends it.
struct FakePlayback {
    // Waits until every period asked for has been played; false after ten seconds.
    bool awaitFinished()
    {
        std::unique_lock lock(mutex);
        return finishedChanged.wait_for(
            lock, std::chrono::seconds(10), [this] { return finished; });
    }
    std::vector<float> output() const
    {
        const std::lock_guard lock(mutex);
        return played;
    }
    // Whether the newest period played was silence (none played counts as not).
    bool lastPeriodSilent() const
    {
        const std::lock_guard lock(mutex);
        return played.size() >= 128
            && std::all_of(played.end() - 128, played.end(), [](float v) { return v == 0.0F; });
    }

    mutable std::mutex mutex;
    std::condition_variable finishedChanged;
    bool finished = false;
    std::vector<float> played;
};

// 48 kHz, 128 frames a period: a thread of its own plays periods of a sine of 0.3 through the
// session and keeps what it gave. With a period count it plays that many as fast as it can (then,
// if asked, says the device is lost); without one, a period a millisecond until stopped.
class FakeLiveAudio final : public job::LiveAudio {
public:
    FakeLiveAudio(FakePlayback& kept, std::size_t periodCount = 0, bool loseDevice = false)
        : playback(kept)
        , periods(periodCount)
        , loses(loseDevice)
    {
    }
    ~FakeLiveAudio() override { stop(); }

    std::uint32_t sampleRate() const override { return 48000; }
    std::uint32_t periodFrames() const override { return 128; }
    std::string describe() const override { return "a fake"; }

    bool start(job::LiveSession& session, std::string&) override
    {
        thread = std::thread([this, &session] {
            std::vector<float> voice(128);
            std::vector<float> out(128);
            for (std::size_t period = 0; periods == 0 ? !stopping : period < periods; ++period) {
                for (std::size_t i = 0; i < voice.size(); ++i)
                    voice[i] = static_cast<float>(
                        0.3 * std::sin(0.05 * static_cast<double>(period * 128 + i)));
                session.process(voice, {}, out);
                {
                    const std::lock_guard lock(playback.mutex);
                    playback.played.insert(playback.played.end(), out.begin(), out.end());
                }
                if (periods == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            const std::lock_guard lock(playback.mutex);
            playback.finished = true;
            playback.finishedChanged.notify_all();
        });
        return true;
    }
    void stop() override
    {
        stopping = true;
        if (thread.joinable())
            thread.join();
    }
    std::uint64_t missedCycles() const override { return 3; }
    bool lost(std::string& why) const override
    {
        const std::lock_guard lock(playback.mutex);
        if (!loses || !playback.finished)
            return false;
        why = "the fake device went away";
        return true;
    }

private:
    FakePlayback& playback;
    std::size_t periods;
    bool loses;
    std::atomic<bool> stopping { false };
    std::thread thread;
};

// The samples of a live run's record file, which must be laid out as every output: 32-bit float,
// mono, at the fake's 48 kHz.
inline std::vector<float> recordedSamples(const std::filesystem::path& path)
{
    std::string problem;
    const auto wave = readOutputWave(path, problem);
    EXPECT_TRUE(wave) << problem;
    if (!wave)
        return {};
    EXPECT_EQ(wave->shape.formatTag, 3);
    EXPECT_EQ(wave->shape.channels, 1);
    EXPECT_EQ(wave->shape.sampleRate, 48000U);
    EXPECT_EQ(wave->shape.bitsPerSample, 32);
    std::vector<float> samples(wave->data.size() / sizeof(float));
    std::memcpy(samples.data(), wave->data.data(), samples.size() * sizeof(float));
    return samples;
}

} // namespace lumivox::test
