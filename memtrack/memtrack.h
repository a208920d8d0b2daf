// The allocation tracker. Every block handed out by the global allocation
// operators is padded with guard areas, filled with a pattern, and recorded in
// an AllocationUnit found again by the block's address through a hash table.
//
// Layout of a tracked block, from actualAddress:
//   16 bytes underrun guard | reportedSize bytes body | 16 bytes overrun guard
// reportedAddress (actualAddress + 16) is what the caller gets.
//
// All state below is constant-initialised, so the tracker serves allocations
// made during static initialisation. Single-threaded: no locks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "memtrack/memory_log.h"

// Allocation method codes; the global allocation operators record kAllocationNew.
enum : uint32_t {
    kAllocationUnspecified = 0,
    kAllocationNew = 1,
    kAllocationNewArray = 2,
    kAllocationMalloc = 3,
    kAllocationCalloc = 4,
    kAllocationRealloc = 5,
    kAllocationDelete = 6,
    kAllocationDeleteArray = 7,
    kAllocationFree = 8,
    // operator new with an alignment above the heap's: only such a block is released by the
    // over-aligned operator delete.
    kAllocationNewAligned = 9,
};

constexpr uint32_t underrunGuardPattern = 0xBAADF00D;
constexpr uint32_t overrunGuardPattern = 0xDEADC0DE;
constexpr uint32_t freshFillPattern = 0xFEEDFACE;
constexpr uint32_t freedFillPattern = 0xDEADBEEF;

constexpr uint32_t kGuardAreaSize = 16;
constexpr uint32_t kOwnerTextSize = 40;
constexpr unsigned kUnitHashBuckets = 4096;
constexpr unsigned kUnitsPerBlock = 256;
// Every heap block the tracker obtains starts on this boundary, so every body
// does too: it is what plain operator new promises.
constexpr std::size_t kHeapAlignment = 16;
#if defined(_WIN32) && !defined(_WIN64)
// On i686 the heap is the run-time's aligned allocation, which adds the alignment
// and a pointer of its own to every request without checking that the sum fits.
constexpr uint32_t kHeapOverhead = kHeapAlignment + sizeof(void*);
#else
constexpr uint32_t kHeapOverhead = 0;
#endif
// Sizes are 32-bit and the guards add 32, the heap perhaps more: a request whose
// heap block would not fit 32 bits is refused before the heap sees it.
constexpr uint32_t kMaxReportedSize = 0xFFFFFFFFu - 2 * kGuardAreaSize - kHeapOverhead;

struct AllocationUnit {
    uint32_t actualSize;                 // reportedSize + 32
    uint32_t reportedSize;
    void* actualAddress;                 // start of the heap block
    void* reportedAddress;               // actualAddress + 16; the hash key
    char ownerFile[kOwnerTextSize];      // without directories, or "??"
    char ownerFunction[kOwnerTextSize];  // or "??"
    int32_t ownerLine;
    uint32_t allocationType;
    uint8_t breakOnDealloc;
    uint8_t breakOnRealloc;
    uint32_t allocationNumber;
    AllocationUnit* nextUnit;            // chain while in use, spare list while free
    AllocationUnit* prevUnit;            // null for the first record of a chain
};

struct AllocationOwner {
    const char* ownerFile;
    int32_t ownerLine;
    const char* ownerFunction;
};

// Where the tracker's heap requests go: its unit blocks and the padded blocks.
// allocate must return blocks aligned to kHeapAlignment, or null to refuse.
// Tests swap these to refuse or observe chosen requests.
struct TrackerHeap {
    void* (*allocate)(std::size_t size);
    void (*release)(void* block);
};
extern TrackerHeap trackerHeap;
// The run-time heap behind the default seam (malloc/free, or the run-time's
// 16-byte aligned heap where malloc promises less).
void* DefaultHeapAllocate(std::size_t size);
void DefaultHeapRelease(void* block);

extern AllocationUnit* unitHashTable[kUnitHashBuckets];
extern AllocationUnit* spareUnitList;
extern uint32_t allocationCounter;
extern AllocationOwner currentOwner;

// Body address, or null after writing the failure to the log.
void* TrackedAllocate(const char* ownerFile, int32_t ownerLine, const char* ownerFunction,
                      uint32_t allocationType, uint32_t reportedSize);
// Fills the body with the freed pattern and gives the block back; an address
// the tracker does not hold is logged and otherwise ignored.
void TrackedRelease(void* address);
AllocationUnit* FindAllocationUnit(const void* address);
void WipeAllocationUnit(AllocationUnit* unit, uint32_t pattern);
void ResetCurrentOwner();
const char* StripSourcePath(const char* path);
uint32_t UnitHashBucket(const void* reportedAddress);

// Over-aligned blocks (alignment a power of two above kHeapAlignment): the body
// is widened by alignment - 16 so that its first aligned address leaves room
// for the request; that address is handed out and the record, of type
// kAllocationNewAligned, stays keyed by the body's start. It is found again
// from that address alone by looking at the few body starts that can precede
// it. No memory outside the records is read. Other alignments are plain blocks.
void* TrackedAllocateAligned(const char* ownerFile, int32_t ownerLine, const char* ownerFunction,
                             std::size_t size, std::size_t alignment);
AllocationUnit* FindAlignedAllocationUnit(const void* address, std::size_t alignment);
void TrackedReleaseAligned(void* address, std::size_t alignment);

// Diagnostics: records in use (walking the hash table) and records spare.
uint32_t CountTrackedBlocks();
uint32_t CountSpareUnits();
