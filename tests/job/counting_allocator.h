#pragma once

// The test program's global allocator counts the blocks taken by the thread that asks it to, so a
// test can show that code run on that thread takes none.
namespace lumivox::job::testing {

// Counts this thread's allocations while it lives.
class CountAllocations {
public:
    CountAllocations();
    ~CountAllocations();
    CountAllocations(const CountAllocations&) = delete;
    CountAllocations& operator=(const CountAllocations&) = delete;

    [[nodiscard]] long count() const;
};

} // namespace lumivox::job::testing
