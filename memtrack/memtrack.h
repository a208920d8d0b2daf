// The allocation tracker's entry points, for the program's global allocation and release
// operators (global_operators.cpp), which every allocation of the program reaches. The tracker's
// records, hash table and heap are its own (tracker.h).
#pragma once

#include <cstddef>
#include <cstdint>

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

// Who asks: the operators pass it with every request. Nothing sets another owner than "??", 0, "??".
struct AllocationOwner {
    const char* ownerFile;
    int32_t ownerLine;
    const char* ownerFunction;
};
extern AllocationOwner currentOwner;

// Body address, or null after writing the failure to the log.
void* TrackedAllocate(const char* ownerFile, int32_t ownerLine, const char* ownerFunction, uint32_t allocationType,
                      uint32_t reportedSize);
// Fills the body with the freed pattern and gives the block back; an address
// the tracker does not hold is logged and otherwise ignored.
void TrackedRelease(void* address);

// Over-aligned blocks (alignment a power of two above the heap's 16): the body
// is widened by alignment - 16 so that its first aligned address leaves room
// for the request; that address is handed out and the record, of type
// kAllocationNewAligned, stays keyed by the body's start. It is found again
// from that address alone by looking at the few body starts that can precede
// it. No memory outside the records is read. Other alignments are plain blocks.
void* TrackedAllocateAligned(const char* ownerFile, int32_t ownerLine, const char* ownerFunction, std::size_t size,
                             std::size_t alignment);
void TrackedReleaseAligned(void* address, std::size_t alignment);
