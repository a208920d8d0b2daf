// The allocation workloads that the tracker is measured with, each run the
// same way on the tracker (global operator new/delete) and on the plain
// run-time heap (malloc/free).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace memtrack_bench {

struct TrackedHeap {
    static void* Allocate(std::size_t size) { return ::operator new(size); }
    static void Release(void* block) { ::operator delete(block); }
};

struct PlainHeap {
    static void* Allocate(std::size_t size) { return std::malloc(size); }
    static void Release(void* block) { std::free(block); }
};

// Keeps the compiler from dropping an allocation whose block is never used.
inline void Escape(void* block)
{
    asm volatile("" : : "g"(block) : "memory");
}

template <class Heap>
inline void NewDeletePair(std::size_t size)
{
    void* block = Heap::Allocate(size);
    Escape(block);
    Heap::Release(block);
}

constexpr std::size_t kLiveBlocks = 10000;

// 10,000 blocks of 16 to 527 bytes live at once; each step gives back one
// block picked at random and allocates one of a new size in its place.
template <class Heap>
class LiveSet {
public:
    LiveSet()
    {
        for (std::size_t i = 0; i < kLiveBlocks; ++i) {
            blocks_[i] = Heap::Allocate(NextSize());
            Escape(blocks_[i]);
        }
    }
    ~LiveSet()
    {
        for (void* block : blocks_)
            Heap::Release(block);
    }
    LiveSet(const LiveSet&) = delete;
    LiveSet& operator=(const LiveSet&) = delete;

    void Step()
    {
        std::size_t slot = Next() % kLiveBlocks;
        Heap::Release(blocks_[slot]);
        blocks_[slot] = Heap::Allocate(NextSize());
        Escape(blocks_[slot]);
    }

private:
    uint32_t Next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    std::size_t NextSize() { return 16 + Next() % 512; }

    uint32_t state_ = 12345;
    void* blocks_[kLiveBlocks];
};

// Builds 10,000 blocks, then gives them all back in a scattered order.
template <class Heap>
inline void BuildAndTearDown(void** blocks)
{
    uint32_t state = 777;
    for (std::size_t i = 0; i < kLiveBlocks; ++i) {
        state = state * 1664525u + 1013904223u;
        blocks[i] = Heap::Allocate(16 + (state >> 8) % 512);
        Escape(blocks[i]);
    }
    // 7919 is prime, so stepping by it visits every index once.
    for (std::size_t i = 0, j = 0; i < kLiveBlocks; ++i, j = (j + 7919) % kLiveBlocks)
        Heap::Release(blocks[j]);
}

}  // namespace memtrack_bench
