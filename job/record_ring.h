#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lumivox::job {

// A fixed ring of samples from one thread (the writer, a real-time audio callback) to one other
// (the reader, which saves them). Neither side locks, waits or allocates: each owns one counter
// and only reads the other's. What does not fit is refused, whole, and counted, so the reader can
// say that frames were lost rather than save a recording with a hole in it that nobody knows of.
class RecordRing {
public:
    // The capacity is rounded up to a power of two (at least 2). May throw std::bad_alloc.
    explicit RecordRing(std::size_t capacityFrames)
        : samples(roundUp(capacityFrames))
        , mask(samples.size() - 1)
    {
    }
    RecordRing(const RecordRing&) = delete;
    RecordRing& operator=(const RecordRing&) = delete;

    [[nodiscard]] std::size_t capacity() const { return samples.size(); }

    // Writer: appends all of values, or none of them when they do not fit (then counted as lost).
    bool push(std::span<const float> values)
    {
        const std::uint64_t head = written.load(std::memory_order_relaxed);
        const std::uint64_t tail = taken.load(std::memory_order_acquire);
        if (values.size() > samples.size() - static_cast<std::size_t>(head - tail)) {
            lost.store(
                lost.load(std::memory_order_relaxed) + values.size(), std::memory_order_relaxed);
            return false;
        }
        const std::size_t start = static_cast<std::size_t>(head) & mask;
        const std::size_t first = std::min(values.size(), samples.size() - start);
        std::copy_n(values.begin(), first, samples.begin() + static_cast<std::ptrdiff_t>(start));
        std::copy(
            values.begin() + static_cast<std::ptrdiff_t>(first), values.end(), samples.begin());
        written.store(head + values.size(), std::memory_order_release);
        return true;
    }

    // Reader: moves up to out.size() of the oldest samples into out; how many it moved.
    std::size_t pop(std::span<float> out)
    {
        const std::uint64_t tail = taken.load(std::memory_order_relaxed);
        const std::uint64_t head = written.load(std::memory_order_acquire);
        const std::size_t count = std::min(out.size(), static_cast<std::size_t>(head - tail));
        const std::size_t start = static_cast<std::size_t>(tail) & mask;
        const std::size_t first = std::min(count, samples.size() - start);
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(start), first, out.begin());
        std::copy_n(
            samples.begin(), count - first, out.begin() + static_cast<std::ptrdiff_t>(first));
        taken.store(tail + count, std::memory_order_release);
        return count;
    }

    // Either side: how many samples wait to be read.
    [[nodiscard]] std::size_t waiting() const
    {
        return static_cast<std::size_t>(
            written.load(std::memory_order_acquire) - taken.load(std::memory_order_acquire));
    }

    // Samples refused because the ring was full.
    [[nodiscard]] std::uint64_t lostFrames() const { return lost.load(std::memory_order_relaxed); }

private:
    static std::size_t roundUp(std::size_t frames)
    {
        std::size_t size = 2;
        while (size < frames)
            size *= 2;
        return size;
    }

    std::vector<float> samples;
    std::size_t mask;
    // Counters that only grow; each is written by one side. Apart, so the two cores do not fight
    // over one cache line.
    alignas(64) std::atomic<std::uint64_t> written { 0 };
    alignas(64) std::atomic<std::uint64_t> taken { 0 };
    alignas(64) std::atomic<std::uint64_t> lost { 0 };
};

} // namespace lumivox::job
