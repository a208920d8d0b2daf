#include "scripted_heap.h"

#include <cstdlib>
#include <cstring>
#include <new>

ScriptedHeap scriptedHeap;

namespace {

alignas(16) unsigned char arena[kArenaSlots * kArenaStride];

void* ScriptedAllocate(std::size_t size)
{
    ScriptedHeap& heap = scriptedHeap;
    ++heap.requests;
    heap.lastRequestSize = size;
    if (size == kUnitBlockBytes)
        ++heap.unitBlockRequests;
    if (heap.refuseAll || (heap.refuseSize != 0 && size == heap.refuseSize)) {
        ++heap.refused;
        return nullptr;
    }
    if (heap.arenaRequestSize != 0 && size == heap.arenaRequestSize) {
        for (std::size_t slot = 0; slot < kArenaSlots; ++slot) {
            if (!heap.arenaInUse[slot]) {
                heap.arenaInUse[slot] = true;
                return ArenaSlot(slot);
            }
        }
        ++heap.refused;
        return nullptr;
    }
    void* block = DefaultHeapAllocate(size);
    if (size == kUnitBlockBytes)
        heap.lastUnitBlock = block;
    return block;
}

void ScriptedRelease(void* block)
{
    ScriptedHeap& heap = scriptedHeap;
    ++heap.releases;
    heap.lastReleased = block;
    if (block != nullptr && block == heap.watchBlock) {
        std::size_t length = heap.watchLength < kWatchCapacity ? heap.watchLength : kWatchCapacity;
        std::memcpy(heap.watched, block, length);
        heap.watchSeen = true;
        heap.watchBlock = nullptr;  // the heap may hand the block out again at once
    }
    for (std::size_t slot = 0; slot < kArenaSlots; ++slot) {
        if (block == ArenaSlot(slot)) {
            heap.arenaInUse[slot] = false;
            return;
        }
    }
    DefaultHeapRelease(block);
}

}  // namespace

unsigned char* ArenaSlot(std::size_t slot)
{
    return arena + slot * kArenaStride;
}

ScriptedHeapScope::ScriptedHeapScope() : saved_(trackerHeap)
{
    std::memset(&scriptedHeap, 0, sizeof scriptedHeap);
    trackerHeap.allocate = &ScriptedAllocate;
    trackerHeap.release = &ScriptedRelease;
}

ScriptedHeapScope::~ScriptedHeapScope()
{
    trackerHeap = saved_;
}

SpareRecordDrain::SpareRecordDrain() : blocks_(nullptr), count_(0)
{
    uint32_t spares = CountSpareUnits();
    blocks_ = static_cast<void**>(std::malloc((spares + 1) * sizeof(void*)));
    if (blocks_ == nullptr)
        return;
    while (count_ < spares && spareUnitList != nullptr)
        blocks_[count_++] = ::operator new(8);
}

SpareRecordDrain::~SpareRecordDrain()
{
    for (uint32_t i = 0; i < count_; ++i)
        ::operator delete(blocks_[i]);
    std::free(blocks_);
}
