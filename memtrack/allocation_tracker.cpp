#include "memtrack/tracker.h"

#include <cstdlib>
#include <cstring>
#if defined(_WIN32) && !defined(_WIN64)
#include <malloc.h>
#endif

// Plain new promises the default new alignment: every body starts on the heap's alignment.
static_assert(kHeapAlignment >= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "plain new alignment");

// The record's layout is fixed; only pointer widths differ between builds.
static_assert(offsetof(AllocationUnit, actualAddress) == 8, "layout");
static_assert(offsetof(AllocationUnit, ownerFile) == 8 + 2 * sizeof(void*), "layout");
static_assert(offsetof(AllocationUnit, ownerLine) == 88 + 2 * sizeof(void*), "layout");
static_assert(offsetof(AllocationUnit, breakOnDealloc) == 96 + 2 * sizeof(void*), "layout");
static_assert(offsetof(AllocationUnit, allocationNumber) == 100 + 2 * sizeof(void*), "layout");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(AllocationUnit) == 120, "i686 record");
#else
static_assert(sizeof(AllocationUnit) == 136, "x86_64 record");
#endif

namespace {

constexpr char kUnknownOwner[] = "??";
constexpr char kUnitBlockRefused[] = "Unable to allocate RAM for internal memory tracking data";
constexpr char kPaddedBlockRefused[] = "Request for allocation failed. Out of memory.";
constexpr char kNeverAllocated[] = "Request to deallocate RAM that was never allocated";

// A 32-bit pattern laid out little-endian and repeated over 64 bytes.
struct PatternBlock {
    unsigned char bytes[64];
};

constexpr PatternBlock MakePatternBlock(uint32_t pattern)
{
    PatternBlock block {};
    for (unsigned i = 0; i < 64; ++i)
        block.bytes[i] = static_cast<unsigned char>(pattern >> (8 * (i % 4)));
    return block;
}

constexpr PatternBlock kUnderrunGuard = MakePatternBlock(underrunGuardPattern);
constexpr PatternBlock kOverrunGuard = MakePatternBlock(overrunGuardPattern);
constexpr PatternBlock kFreshFill = MakePatternBlock(freshFillPattern);
constexpr PatternBlock kFreedFill = MakePatternBlock(freedFillPattern);

// The owner text of every record in this program, already padded to its field.
constexpr char kUnknownOwnerField[kOwnerTextSize] = "??";

inline void Fill(unsigned char* body, uint32_t size, const PatternBlock& block)
{
    // Every step is a multiple of 4 bytes from the body's start, so the
    // pattern keeps its phase.
    for (; size >= 64; body += 64, size -= 64)
        std::memcpy(body, block.bytes, 64);
    if (size >= 32) {
        std::memcpy(body, block.bytes, 32);
        body += 32;
        size -= 32;
    }
    if (size >= 16) {
        std::memcpy(body, block.bytes, 16);
        body += 16;
        size -= 16;
    }
    if (size >= 8) {
        std::memcpy(body, block.bytes, 8);
        body += 8;
        size -= 8;
    }
    if (size >= 4) {
        std::memcpy(body, block.bytes, 4);
        body += 4;
        size -= 4;
    }
    for (uint32_t i = 0; i < size; ++i)
        body[i] = block.bytes[i];
}

inline void WipeAllocationUnit(AllocationUnit* unit, const PatternBlock& body)
{
    unsigned char* actual = static_cast<unsigned char*>(unit->actualAddress);
    Fill(static_cast<unsigned char*>(unit->reportedAddress), unit->reportedSize, body);
    std::memcpy(actual, kUnderrunGuard.bytes, kGuardAreaSize);
    std::memcpy(actual + unit->actualSize - kGuardAreaSize, kOverrunGuard.bytes, kGuardAreaSize);
}

void ReportFailure(const char* message)
{
    WriteMemoryLog("%s", message);
    ResetCurrentOwner();
}

bool ObtainUnitBlock()
{
    void* memory = trackerHeap.allocate(sizeof(AllocationUnit) * kUnitsPerBlock);
    if (memory == nullptr)
        return false;
    std::memset(memory, 0, sizeof(AllocationUnit) * kUnitsPerBlock);
    AllocationUnit* units = static_cast<AllocationUnit*>(memory);
    for (unsigned i = 0; i + 1 < kUnitsPerBlock; ++i)
        units[i].nextUnit = &units[i + 1];
    spareUnitList = units;
    return true;
}

// A spare record keeps what it held: taking it writes every field again, and its owner texts
// are most likely "??" already.
void PushSpare(AllocationUnit* unit)
{
    unit->nextUnit = spareUnitList;
    spareUnitList = unit;
}

}  // namespace

// At most 39 characters, the rest of the field zero, so it is always terminated. Every record of
// this program has the owner "??": a field that holds it already (its first four bytes say so, the
// rest being zero) is left as it is.
void SetOwnerText(char* field, const char* text)
{
    if (text == kUnknownOwner) {
        if (std::memcmp(field, kUnknownOwnerField, 4) != 0)
            std::memcpy(field, kUnknownOwnerField, kOwnerTextSize);
        return;
    }
    uint32_t i = 0;
    for (; i < kOwnerTextSize - 1 && text[i] != '\0'; ++i)
        field[i] = text[i];
    for (; i < kOwnerTextSize; ++i)
        field[i] = '\0';
}

void* DefaultHeapAllocate(std::size_t size)
{
#if defined(_WIN32) && !defined(_WIN64)
    // msvcrt's malloc promises 8 bytes on i686; bodies must start on 16.
    return _aligned_malloc(size, kHeapAlignment);
#else
    return std::malloc(size);
#endif
}

void DefaultHeapRelease(void* block)
{
#if defined(_WIN32) && !defined(_WIN64)
    _aligned_free(block);
#else
    std::free(block);
#endif
}

#if defined(_WIN32) && !defined(_WIN64)
TrackerHeap trackerHeap = {&DefaultHeapAllocate, &DefaultHeapRelease};
#else
// Straight to the run-time heap: no wrapper call on every request.
TrackerHeap trackerHeap = {&std::malloc, &std::free};
#endif

AllocationUnit* unitHashTable[kUnitHashBuckets];
AllocationUnit* spareUnitList;
uint32_t allocationCounter;
AllocationOwner currentOwner = {kUnknownOwner, 0, kUnknownOwner};

void ResetCurrentOwner()
{
    currentOwner.ownerFile = kUnknownOwner;
    currentOwner.ownerLine = 0;
    currentOwner.ownerFunction = kUnknownOwner;
}

const char* StripSourcePath(const char* path)
{
    const char* cut = std::strrchr(path, '\\');
    if (cut == nullptr)
        cut = std::strrchr(path, '/');
    return cut != nullptr ? cut + 1 : path;
}

uint32_t UnitHashBucket(const void* reportedAddress)
{
    return static_cast<uint32_t>((reinterpret_cast<uintptr_t>(reportedAddress) >> 4) & 0xFFF);
}

void* TrackedAllocate(const char* ownerFile, int32_t ownerLine, const char* ownerFunction, uint32_t allocationType,
                      uint32_t reportedSize)
{
    // Counted before anything can fail, so a failed request uses up a number.
    ++allocationCounter;

    if (spareUnitList == nullptr && !ObtainUnitBlock()) {
        ReportFailure(kUnitBlockRefused);
        return nullptr;
    }
    AllocationUnit* unit = spareUnitList;
    spareUnitList = unit->nextUnit;

    // A size whose padding would not fit 32 bits is refused as the heap would.
    void* actual = nullptr;
    if (reportedSize <= kMaxReportedSize)
        actual = trackerHeap.allocate(reportedSize + 2 * kGuardAreaSize);
    if (actual == nullptr) {
        // The record was never linked: it goes back rather than being lost.
        PushSpare(unit);
        ReportFailure(kPaddedBlockRefused);
        return nullptr;
    }

    // Every field is written; the padding stays zero from the unit block's start.
    unit->actualSize = reportedSize + 2 * kGuardAreaSize;
    unit->reportedSize = reportedSize;
    unit->actualAddress = actual;
    unit->reportedAddress = static_cast<unsigned char*>(actual) + kGuardAreaSize;
    SetOwnerText(unit->ownerFile,
                 ownerFile == nullptr || ownerFile == kUnknownOwner ? kUnknownOwner : StripSourcePath(ownerFile));
    SetOwnerText(unit->ownerFunction, ownerFunction != nullptr ? ownerFunction : kUnknownOwner);
    unit->ownerLine = ownerLine;
    unit->allocationType = allocationType;
    unit->breakOnDealloc = 0;
    unit->breakOnRealloc = 0;
    unit->allocationNumber = allocationCounter;

    AllocationUnit*& bucket = unitHashTable[UnitHashBucket(unit->reportedAddress)];
    if (bucket != nullptr)
        bucket->prevUnit = unit;
    unit->prevUnit = nullptr;
    unit->nextUnit = bucket;
    bucket = unit;

    WipeAllocationUnit(unit, kFreshFill);
    ResetCurrentOwner();
    return unit->reportedAddress;
}

AllocationUnit* FindAllocationUnit(const void* address)
{
    for (AllocationUnit* unit = unitHashTable[UnitHashBucket(address)]; unit != nullptr; unit = unit->nextUnit) {
        if (unit->reportedAddress == address)
            return unit;
    }
    return nullptr;
}

void TrackedRelease(void* address)
{
    AllocationUnit* unit = FindAllocationUnit(address);
    if (unit == nullptr) {
        ReportFailure(kNeverAllocated);
        return;
    }
    WipeAllocationUnit(unit, kFreedFill);
    trackerHeap.release(unit->actualAddress);

    // Unlinking keeps the chain's invariant: its first record has no predecessor.
    AllocationUnit*& bucket = unitHashTable[UnitHashBucket(address)];
    if (bucket == unit)
        bucket = unit->nextUnit;
    else if (unit->prevUnit != nullptr)
        unit->prevUnit->nextUnit = unit->nextUnit;
    if (unit->nextUnit != nullptr)
        unit->nextUnit->prevUnit = unit->prevUnit;

    PushSpare(unit);
    ResetCurrentOwner();
}

namespace {

bool IsOverAlignment(std::size_t alignment)
{
    return alignment > kHeapAlignment && (alignment & (alignment - 1)) == 0;
}

}  // namespace

void* TrackedAllocateAligned(const char* ownerFile, int32_t ownerLine, const char* ownerFunction, std::size_t size,
                             std::size_t alignment)
{
    if (!IsOverAlignment(alignment)) {
        uint32_t reported = size > kMaxReportedSize ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
        return TrackedAllocate(ownerFile, ownerLine, ownerFunction, kAllocationNew, reported);
    }
    // Bodies start 16-aligned, so their first aligned address is at most
    // alignment - 16 bytes in. Anything that overflows is refused by TrackedAllocate.
    std::size_t lead = alignment - kHeapAlignment;
    uint32_t reported = 0xFFFFFFFFu;
    if (size <= kMaxReportedSize && lead <= kMaxReportedSize - size)
        reported = static_cast<uint32_t>(size + lead);
    void* body = TrackedAllocate(ownerFile, ownerLine, ownerFunction, kAllocationNewAligned, reported);
    if (body == nullptr)
        return nullptr;
    uintptr_t aligned = (reinterpret_cast<uintptr_t>(body) + alignment - 1) & ~(uintptr_t)(alignment - 1);
    return reinterpret_cast<void*>(aligned);
}

AllocationUnit* FindAlignedAllocationUnit(const void* address, std::size_t alignment)
{
    if (!IsOverAlignment(alignment))
        return FindAllocationUnit(address);
    uintptr_t aligned = reinterpret_cast<uintptr_t>(address);
    if ((aligned & (alignment - 1)) != 0)
        return nullptr;
    // The body that handed the address out starts at most alignment - 16 bytes
    // below it. The nearest body start at or below the address is the only one
    // that can hold it, live blocks never overlap; it must be an over-aligned
    // block's, or the address is one inside a plain body.
    for (uintptr_t lead = 0; lead <= alignment - kHeapAlignment && lead < aligned; lead += kHeapAlignment) {
        AllocationUnit* unit = FindAllocationUnit(reinterpret_cast<const void*>(aligned - lead));
        if (unit != nullptr)
            return unit->allocationType == kAllocationNewAligned ? unit : nullptr;
    }
    return nullptr;
}

void TrackedReleaseAligned(void* address, std::size_t alignment)
{
    AllocationUnit* unit = FindAlignedAllocationUnit(address, alignment);
    if (unit == nullptr) {
        ReportFailure(kNeverAllocated);
        return;
    }
    TrackedRelease(unit->reportedAddress);
}
