#pragma once

// The test program's global allocator: it can be told to fail the n-th allocation from now, and
// it counts the blocks it has handed out and those currently held.
namespace lumivox::engine::testing {

long allocationsMade();
long blocksHeld();

// Makes the allocation after the next `count` ones throw std::bad_alloc, and every one after it,
// until the scope ends.
class AllocationFailure {
public:
    explicit AllocationFailure(long count);
    ~AllocationFailure();
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;
};

} // namespace lumivox::engine::testing
