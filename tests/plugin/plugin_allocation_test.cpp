// run() takes no memory: every allocation of the process is counted while it runs, at block sizes
// from 1 to 8192 and with the sliders moved between blocks.

#include "plugin_host.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// The C library's own allocator, under the names glibc also gives it.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<bool> counting { false };
std::atomic<long> allocations { 0 };

void count()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

// Every allocation of the process comes here, the shared object's operator new included (it
// calls malloc); the test binary exports these so that the plugin's calls find them.
extern "C" {
void* malloc(std::size_t size)
{
    count();
    return __libc_malloc(size);
}
void* calloc(std::size_t countOf, std::size_t size)
{
    count();
    return __libc_calloc(countOf, size);
}
void* realloc(void* pointer, std::size_t size)
{
    count();
    return __libc_realloc(pointer, size);
}
void* memalign(std::size_t alignment, std::size_t size)
{
    count();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** pointer, std::size_t alignment, std::size_t size)
{
    count();
    *pointer = __libc_memalign(alignment, size);
    return *pointer != nullptr ? 0 : ENOMEM;
}
void free(void* pointer) { __libc_free(pointer); }
}

namespace lumivox::plugin::test {
namespace {

    // Counts the allocations made while it lives.
    class AllocationCount {
    public:
        AllocationCount()
        {
            allocations = 0;
            counting = true;
        }
        ~AllocationCount() { counting = false; }
        AllocationCount(const AllocationCount&) = delete;
        AllocationCount& operator=(const AllocationCount&) = delete;
        [[nodiscard]] long value() const { return allocations.load(); }
    };

    TEST(AllocationCount, SeesTheAllocationsOfTheSharedObject)
    {
        PluginLibrary library;
        long made = 0;
        {
            const AllocationCount counted;
            PluginInstance instance(library, 44100.0, 64);
            made = counted.value();
        }
        EXPECT_GT(made, 0) << "instantiate takes its buffers, but none was counted";
    }

    TEST(PluginRun, AllocatesNothingAtAnyBlockSizeWithSlidersMoving)
    {
        constexpr std::size_t frameCount = 60000;
        const std::vector<float> carrier = hostSamples(testCarrier(frameCount, 48000.0));
        const std::vector<float> modulator = hostSamples(testModulator(frameCount, 48000.0));
        const std::vector<std::size_t> sizes = { 1, 8192, 7, 2049, 333, 4096, 2, 8191, 64 };
        const std::vector<Controls> settings = { {}, { 0.0F, 60.0F, 50.0F, 0.0F, 1.0F },
            { 40.0F, 60.0F, 90.0F, 0.0F }, { 40.0F, 100.0F, 90.0F, 80.0F, 1.0F },
            { 100.0F, 0.0F, 20.0F, 0.0F }, { 0.0F, 10.0F, 50.0F, 35.0F, 1.0F } };

        PluginLibrary library;
        PluginInstance instance(library, 48000.0, 8192);
        long made = 0;
        std::size_t turn = 0;
        for (std::size_t start = 0; start < frameCount; ++turn) {
            const std::size_t frames = std::min(sizes[turn % sizes.size()], frameCount - start);
            instance.controls = settings[turn % settings.size()];
            std::copy_n(carrier.begin() + static_cast<std::ptrdiff_t>(start), frames,
                instance.carrier.begin());
            std::copy_n(modulator.begin() + static_cast<std::ptrdiff_t>(start), frames,
                instance.modulator.begin());
            {
                const AllocationCount counted;
                instance.descriptor.run(instance.handle, static_cast<std::uint32_t>(frames));
                made += counted.value();
            }
            start += frames;
        }
        EXPECT_EQ(made, 0) << "allocations during " << turn << " calls of run()";
    }

} // namespace
} // namespace lumivox::plugin::test
