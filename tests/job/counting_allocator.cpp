#include "counting_allocator.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool counting = false;
thread_local long allocationCount = 0;

} // namespace

// Kept in a file of its own so that no caller sees new and free inlined together.
void* operator new(std::size_t size)
{
    if (counting)
        ++allocationCount;
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void* operator new[](std::size_t size) { return operator new(size); }

void* operator new(std::size_t size, std::align_val_t alignment)
{
    if (counting)
        ++allocationCount;
    const auto align = static_cast<std::size_t>(alignment);
    void* block = std::aligned_alloc(align, (size + align - 1) / align * align);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return operator new(size, alignment);
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace lumivox::job::testing {

CountAllocations::CountAllocations()
{
    allocationCount = 0;
    counting = true;
}

CountAllocations::~CountAllocations() { counting = false; }

long CountAllocations::count() const { return allocationCount; }

} // namespace lumivox::job::testing

void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
