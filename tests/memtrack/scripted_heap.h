// A heap for the tracker's seam that tests script: it refuses chosen requests,
// serves chosen sizes from a fixed arena (to place bodies at chosen addresses),
// and copies a watched block at the moment it is given back. It never
// allocates through the global operators.
#pragma once

#include <cstddef>
#include <cstdint>

#include "memtrack/memtrack.h"

constexpr std::size_t kUnitBlockBytes = sizeof(AllocationUnit) * kUnitsPerBlock;
constexpr std::size_t kArenaSlots = 3;
constexpr std::size_t kArenaStride = 65536;  // bodies this far apart share a hash bucket
constexpr std::size_t kWatchCapacity = 8192;

struct ScriptedHeap {
    // Requests.
    unsigned requests;
    std::size_t lastRequestSize;
    unsigned unitBlockRequests;
    void* lastUnitBlock;
    std::size_t refuseSize;  // refuse requests of exactly this size; 0: none
    bool refuseAll;
    unsigned refused;
    // Arena: requests of arenaRequestSize take the lowest free slot.
    std::size_t arenaRequestSize;
    bool arenaInUse[kArenaSlots];
    // Releases.
    unsigned releases;
    void* lastReleased;
    const void* watchBlock;  // copied once, when it is given back
    std::size_t watchLength;
    bool watchSeen;
    unsigned char watched[kWatchCapacity];
};

extern ScriptedHeap scriptedHeap;
unsigned char* ArenaSlot(std::size_t slot);

// Installs the scripted heap over a clean script; puts the previous seam back.
class ScriptedHeapScope {
public:
    ScriptedHeapScope();
    ~ScriptedHeapScope();
    ScriptedHeapScope(const ScriptedHeapScope&) = delete;
    ScriptedHeapScope& operator=(const ScriptedHeapScope&) = delete;

private:
    TrackerHeap saved_;
};

// Takes every spare record with 8-byte blocks, so that the next request needs a
// new unit block. The blocks are kept in a malloc'ed array, not through new.
class SpareRecordDrain {
public:
    SpareRecordDrain();
    ~SpareRecordDrain();
    SpareRecordDrain(const SpareRecordDrain&) = delete;
    SpareRecordDrain& operator=(const SpareRecordDrain&) = delete;
    uint32_t taken() const { return count_; }

private:
    void** blocks_;
    uint32_t count_;
};
