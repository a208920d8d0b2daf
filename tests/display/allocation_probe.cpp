#include "allocation_probe.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

// A header in front of each block keeps its size and marks it as ours.
constexpr uint64_t kLiveMagic = 0x4c495645424c4b31ull;
constexpr uint64_t kDeadMagic = 0x444541444245454full;
struct alignas(std::max_align_t) Header {
    uint64_t magic;
    size_t size;
};

size_t g_live = 0;
size_t g_calls = 0;
bool g_failing = false;
size_t g_successesLeft = 0;

void* Allocate(size_t size)
{
    ++g_calls;
    if (g_failing) {
        if (g_successesLeft == 0)
            return nullptr;
        --g_successesLeft;
    }
    auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (header == nullptr)
        return nullptr;
    header->magic = kLiveMagic;
    header->size = size;
    ++g_live;
    return header + 1;
}

void Release(void* block)
{
    if (block == nullptr)
        return;
    Header* header = static_cast<Header*>(block) - 1;
    if (header->magic != kLiveMagic)
        std::abort();  // not ours, or given back twice
    header->magic = kDeadMagic;
    --g_live;
    std::free(header);
}

void* AllocateOrThrow(size_t size)
{
    void* block = Allocate(size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

}  // namespace

size_t LiveAllocationCount() { return g_live; }
size_t AllocationCallCount() { return g_calls; }

size_t LiveAllocationSize(const void* block)
{
    if (block == nullptr)
        return 0;
    const Header* header = static_cast<const Header*>(block) - 1;
    return header->magic == kLiveMagic ? header->size : 0;
}

void FailAllocationAfter(size_t successes)
{
    g_successesLeft = successes;
    g_failing = true;
}

void StopFailingAllocations() { g_failing = false; }

// The whole global family. Over-aligned forms are not used by the code under
// test; they refuse rather than hand out a misaligned block.
void* operator new(size_t size) { return AllocateOrThrow(size); }
void* operator new[](size_t size) { return AllocateOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new(size_t, std::align_val_t) { throw std::bad_alloc(); }
void* operator new[](size_t, std::align_val_t) { throw std::bad_alloc(); }
void* operator new(size_t, std::align_val_t, const std::nothrow_t&) noexcept { return nullptr; }
void* operator new[](size_t, std::align_val_t, const std::nothrow_t&) noexcept { return nullptr; }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete(void* block, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, size_t, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { Release(block); }
