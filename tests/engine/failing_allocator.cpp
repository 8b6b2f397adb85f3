#include "failing_allocator.h"

#include <cstdlib>
#include <new>

// Kept in a file of its own so that no caller sees new and free inlined together.
namespace {

long allocationsBeforeFailure = -1; // negative: never fail
long allocationCount = 0;
long heldCount = 0;

} // namespace

void* operator new(std::size_t size)
{
    if (allocationsBeforeFailure == 0)
        throw std::bad_alloc();
    if (allocationsBeforeFailure > 0)
        --allocationsBeforeFailure;
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    ++allocationCount;
    ++heldCount;
    return block;
}

void operator delete(void* block) noexcept
{
    if (block == nullptr)
        return;
    --heldCount;
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

namespace lumivox::engine::testing {

long allocationsMade() { return allocationCount; }
long blocksHeld() { return heldCount; }

AllocationFailure::AllocationFailure(long count) { allocationsBeforeFailure = count; }
AllocationFailure::~AllocationFailure() { allocationsBeforeFailure = -1; }

} // namespace lumivox::engine::testing
