// The allocation tracker's own parts, for its files and its tests. Every block handed out by the
// global allocation operators is padded with guard areas, filled with a pattern, and recorded in
// an AllocationUnit found again by the block's address through a hash table.
//
// Layout of a tracked block, from actualAddress:
//   16 bytes underrun guard | reportedSize bytes body | 16 bytes overrun guard
// reportedAddress (actualAddress + 16) is what the caller gets.
//
// All state below is constant-initialised, so the tracker serves allocations
// made during static initialisation. Single-threaded: no locks.
#pragma once

#include "memtrack/memory_log.h"
#include "memtrack/memtrack.h"

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
    uint32_t actualSize;  // reportedSize + 32
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
    AllocationUnit* nextUnit;  // chain while in use, spare list while free
    AllocationUnit* prevUnit;  // null for the first record of a chain
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

AllocationUnit* FindAllocationUnit(const void* address);
void ResetCurrentOwner();
const char* StripSourcePath(const char* path);
// Copies at most 39 characters of the text into a 40-byte owner field and zeroes the rest of it.
void SetOwnerText(char* field, const char* text);
uint32_t UnitHashBucket(const void* reportedAddress);

AllocationUnit* FindAlignedAllocationUnit(const void* address, std::size_t alignment);
