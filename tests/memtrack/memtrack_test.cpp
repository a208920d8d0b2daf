// The tracker through the replacement operators on a scripted heap; memory.log lands in ctest's working directory.
#include "memtrack/tracker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

void* const g_staticInitBlock = ::operator new(24);  // served during static initialisation

namespace {

const std::string kNotHeld = "Request to deallocate RAM that was never allocated\r\n";
const std::string kOutOfMemory = "Request for allocation failed. Out of memory.\r\n";
const std::string kNoRecords = "Unable to allocate RAM for internal memory tracking data\r\n";
// The patterns as a block holds them, lowest address first.
const std::string kUnderrunGuard = "\x0D\xF0\xAD\xBA\x0D\xF0\xAD\xBA\x0D\xF0\xAD\xBA\x0D\xF0\xAD\xBA";
const std::string kOverrunGuard = "\xDE\xC0\xAD\xDE\xDE\xC0\xAD\xDE\xDE\xC0\xAD\xDE\xDE\xC0\xAD\xDE";
const std::string kFreshFill = "\xCE\xFA\xED\xFE";
const std::string kFreedFill = "\xEF\xBE\xAD\xDE";

// The heap under the tracker: refuses requests of `refuse` bytes and serves those of `arena` bytes from three arena
// slots in turn, `arenaOffset` into each; the slots lie 64 KiB apart, so their bodies share a chain.
struct ScriptedHeap {
    std::size_t refuse, arena, arenaOffset;
    unsigned served, requests, unitBlocks, releases;
    void* lastReleased;
} heap;
constexpr std::size_t kSlot = 65536;
alignas(4096) unsigned char arena[3 * kSlot];

void* Allocate(std::size_t size)
{
    ++heap.requests;
    if (size == sizeof(AllocationUnit) * kUnitsPerBlock)
        ++heap.unitBlocks;
    if (size == heap.refuse)
        return nullptr;
    if (size != heap.arena)
        return DefaultHeapAllocate(size);
    return arena + (heap.served++ % 3) * kSlot + heap.arenaOffset;
}

void Release(void* block)
{
    ++heap.releases;
    heap.lastReleased = block;
    if (block < arena || block >= arena + sizeof arena)
        DefaultHeapRelease(block);
}

// `unit` repeated over `length` bytes and cut off there.
std::string Repeated(const std::string& unit, std::size_t length)
{
    std::string bytes;
    while (bytes.size() < length)
        bytes += unit;
    return bytes.substr(0, length);
}

std::string Log()
{
    std::ifstream file("memory.log", std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<none>";
}

uint32_t CountSpareUnits()
{
    uint32_t count = 0;
    for (const AllocationUnit* unit = spareUnitList; unit != nullptr; unit = unit->nextUnit)
        ++count;
    return count;
}

// What a refused or ignored request leaves alone, apart from the numbers it uses.
struct TrackerState {
    uint32_t counter = allocationCounter;
    const AllocationUnit* spareHead = spareUnitList;
    unsigned heapReleases = heap.releases;
};

void ExpectUnchanged(const TrackerState& before, uint32_t numbersUsed, const char* what)
{
    EXPECT_EQ(before.counter + numbersUsed, allocationCounter) << "allocation counter, " << what;
    EXPECT_EQ(before.spareHead, spareUnitList) << "spare records, " << what;
    EXPECT_EQ(before.heapReleases, heap.releases) << "heap releases, " << what;
}

// Both forms of a request refused: bad_alloc with its text, or null; a number each, no record lost.
void ExpectRefused(std::size_t size, const char* what)
{
    const TrackerState before;
    std::string thrown = "nothing thrown";
    try {
        ::operator delete(::operator new(size));
    } catch (const std::bad_alloc& failure) {
        thrown = failure.what();
    }
    EXPECT_EQ("bad allocation", thrown) << what << ", size " << size;
    EXPECT_EQ(nullptr, ::operator new[](size, std::nothrow)) << what << ", size " << size;
    ExpectUnchanged(before, 2, what);
}

class MemtrackTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::remove_all("memory.log");  // a directory too, where an earlier run stopped
        heap = ScriptedHeap();
        trackerHeap = {&Allocate, &Release};
    }
    void TearDown() override
    {
        trackerHeap = {&DefaultHeapAllocate, &DefaultHeapRelease};
        std::set_new_handler(nullptr);  // also when a test failed before removing its own
        ResetCurrentOwner();
    }
    static std::string Bytes(const void* at, std::size_t n) { return std::string(static_cast<const char*>(at), n); }
    // Hides a pointer's origin: some tests misuse addresses on purpose.
    static void* Opaque(const void* p) { return const_cast<void*>(*static_cast<const void* volatile*>(&p)); }
};

// The process's first failure, during static initialisation, replaces the file that an earlier run left.
const std::string g_logAfterFirstFailure = [] {
    std::ofstream("memory.log", std::ios::binary) << "an earlier run\r\n";
    void* const volatile inside = static_cast<char*>(g_staticInitBlock) + 16;  // not an address handed out
    ::operator delete(inside);
    return Log();
}();

// Every form of delete, over-aligned ones given the address as far into the body as allowed: the guards and fill when
// the block is handed out, and again over scribbles when it is given back.
TEST_F(MemtrackTest, EveryFormGuardsAndFillsItsBlock)
{
    EXPECT_NE(nullptr, FindAllocationUnit(g_staticInitBlock)) << "a block of static initialisation";
    using A = std::align_val_t;
    const struct {
        const char* name;
        std::size_t size, alignment;
        void (*release)(void* p, std::size_t n, A a);
    } forms[] = {
        {"delete", 0, 0, [](void* p, std::size_t, A) { ::operator delete(p); }},
        {"delete[]", 5, 0, [](void* p, std::size_t, A) { ::operator delete[](p); }},
        {"delete (size)", 127, 0, [](void* p, std::size_t n, A) { ::operator delete(p, n); }},
        {"delete[] (size)", 2, 0, [](void* p, std::size_t n, A) { ::operator delete[](p, n); }},
        {"delete (nothrow)", 3, 0, [](void* p, std::size_t, A) { ::operator delete(p, std::nothrow); }},
        {"delete[] (nothrow)", 64, 0, [](void* p, std::size_t, A) { ::operator delete[](p, std::nothrow); }},
        {"delete (alignment)", 100, 64, [](void* p, std::size_t, A a) { ::operator delete(p, a); }},
        {"delete[] (alignment)", 100, 4096, [](void* p, std::size_t, A a) { ::operator delete[](p, a); }},
        {"delete (size, alignment)", 0, 64, [](void* p, std::size_t n, A a) { ::operator delete(p, n, a); }},
        {"delete[] (size, alignment)", 100, 4096, [](void* p, std::size_t n, A a) { ::operator delete[](p, n, a); }},
        {"delete (alignment, nothrow)", 1, 64,
         [](void* p, std::size_t, A a) { ::operator delete(p, a, std::nothrow); }},
        {"delete[] (alignment, nothrow)", 9, 64,
         [](void* p, std::size_t, A a) { ::operator delete[](p, a, std::nothrow); }},
    };
    for (const auto& form : forms) {
        const std::size_t body = std::max<std::size_t>(form.size, 1) + (form.alignment ? form.alignment - 16 : 0);
        heap.arena = body + 32;
        heap.served = 0;
        void* address = form.alignment ? ::operator new[](form.size, A(form.alignment)) : ::operator new(form.size);
        EXPECT_EQ(form.alignment ? form.alignment : 16, static_cast<unsigned char*>(address) - arena)
            << "offset of the address handed out, " << form.name;
        const AllocationUnit* unit = FindAllocationUnit(arena + 16);
        ASSERT_NE(nullptr, unit) << form.name;
        EXPECT_EQ(form.alignment ? kAllocationNewAligned : 1u, unit->allocationType) << form.name;
        const std::string handedOut = kUnderrunGuard + Repeated(kFreshFill, body) + kOverrunGuard;
        EXPECT_EQ(handedOut, Bytes(arena, body + 32)) << "block handed out, " << form.name;
        std::memset(arena, 0x11, body + 32);
        form.release(address, form.size, A(form.alignment));
        EXPECT_EQ(arena, heap.lastReleased) << "block given back, " << form.name;
        const std::string givenBack = kUnderrunGuard + Repeated(kFreedFill, body) + kOverrunGuard;
        EXPECT_EQ(givenBack, Bytes(arena, body + 32)) << "block given back, " << form.name;
        EXPECT_EQ(nullptr, FindAllocationUnit(arena + 16)) << "record after release, " << form.name;
    }
    EXPECT_EQ("<none>", Log());
}

// Owner texts keep at most 39 characters and zero the rest of their 40-byte field, and nothing past it.
TEST_F(MemtrackTest, OwnerTextsFillTheirFieldAndNoMore)
{
    const std::string text = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEF";
    char field[kOwnerTextSize + 2];
    for (std::size_t width : {38, 39, 40, 41, 42}) {
        std::memset(field, '#', sizeof field);
        SetOwnerText(field, text.substr(0, width).c_str());
        const std::string kept = text.substr(0, std::min<std::size_t>(width, 39));
        EXPECT_EQ(kept + std::string(40 - kept.size(), '\0') + "##", Bytes(field, sizeof field)) << width << " wide";
    }
    std::memset(field, '#', sizeof field);
    SetOwnerText(field, currentOwner.ownerFile);
    EXPECT_EQ(std::string("??").append(38, '\0') + "##", Bytes(field, sizeof field)) << "the resting owner";
    // operator new records the current owner, the file without its directories, then puts the owner back to rest.
    currentOwner = {"src/dir\\x/name.cpp", -3, "Fn"};
    void* body = ::operator new(8);
    const AllocationUnit* unit = FindAllocationUnit(body);
    EXPECT_EQ(std::string("x/name.cpp").append(30, '\0'), Bytes(unit->ownerFile, 40));
    EXPECT_EQ(std::string("Fn").append(38, '\0'), Bytes(unit->ownerFunction, 40));
    EXPECT_EQ(-3, unit->ownerLine);
    EXPECT_STREQ("name.cpp", StripSourcePath("src/dir/name.cpp"));
    ::operator delete(body);
    EXPECT_EQ(unit, FindAllocationUnit(::operator new(8))) << "the record given back last";
    EXPECT_EQ(std::string("??").append(38, '\0'), Bytes(unit->ownerFile, 40));
    EXPECT_EQ(std::string("??").append(38, '\0'), Bytes(unit->ownerFunction, 40));
    EXPECT_EQ(0, unit->ownerLine);
    ::operator delete(unit->reportedAddress);
}

// A unit block is asked for only when every record is in use, a refused one again by the next request; the record given
// back last is the next one used.
TEST_F(MemtrackTest, UnitBlocksAndSpareRecords)
{
    std::vector<void*> drained;
    drained.reserve(CountSpareUnits());  // takes a record itself
    while (spareUnitList != nullptr && drained.size() < drained.capacity())
        drained.push_back(::operator new(8));
    EXPECT_EQ(0u, heap.unitBlocks) << "unit blocks asked for while records were spare";
    heap.refuse = sizeof(AllocationUnit) * kUnitsPerBlock;
    ExpectRefused(200, "unit block refused");
    heap.refuse = 0;
    void* extra = ::operator new(8);
    EXPECT_EQ(3u, heap.unitBlocks) << "unit blocks asked for: two refused, one served";
    EXPECT_EQ(kUnitsPerBlock - 1, CountSpareUnits()) << "spare records after the new block's first";
    for (void* block : drained)
        ::operator delete(block);
    const AllocationUnit* unit = FindAllocationUnit(extra);
    ::operator delete(extra);
    void* again = ::operator new(200);
    EXPECT_EQ(unit, FindAllocationUnit(again)) << "record of the block given back last";
    ::operator delete(again);
    EXPECT_EQ(kNoRecords + kNoRecords, Log());
}

// An address the tracker does not hold is one log line and changes nothing; null is no line at all.
TEST_F(MemtrackTest, ReleasesOfAddressesNotHeld)
{
    unsigned char* body = static_cast<unsigned char*>(::operator new(32));
    void* foreign = std::malloc(24);
    void* freed = ::operator new(24);
    heap.arena = 200 + 48 + 32;  // arena bodies lie 48 bytes before a 64-byte boundary
    unsigned char* farthest = static_cast<unsigned char*>(::operator new(200, std::align_val_t(64)));
    heap.arenaOffset = 48;
    unsigned char* atBodyStart = static_cast<unsigned char*>(::operator new(200, std::align_val_t(64)));
    heap.arena = 100 + 32;
    heap.arenaOffset = 0;
    unsigned char* plain = static_cast<unsigned char*>(::operator new(100));
    ::operator delete(freed);  // nothing reaches the heap from here to its second release
    const struct {
        const char* what;
        void* address;
        std::size_t alignment;
    } releases[] = {
        {"a block given back before", freed, 0},
        {"a block of malloc", foreign, 0},
        {"16 bytes into a body", body + 16, 0},
        {"a 64-aligned address inside a plain body", plain + 48, 64},
        {"16 bytes past an over-aligned address", atBodyStart + 16, 64},
        {"the next boundary past an over-aligned address at its body's start", atBodyStart + 64, 64},
        {"the next boundary past an over-aligned address 48 bytes in", farthest + 64, 64},
        {"null", nullptr, 0},
    };
    for (const auto& release : releases) {
        std::remove("memory.log");
        currentOwner.ownerLine = 5;
        const TrackerState before;
        if (release.alignment == 0)
            ::operator delete(Opaque(release.address));
        else
            ::operator delete(Opaque(release.address), std::align_val_t(release.alignment));
        EXPECT_EQ(release.address ? 0 : 5, currentOwner.ownerLine) << "owner line after " << release.what;
        ExpectUnchanged(before, 0, release.what);
        EXPECT_EQ(release.address ? kNotHeld : "<none>", Log()) << release.what;
    }
    std::free(foreign);
    ::operator delete(body);
    ::operator delete(plain);
    ::operator delete(farthest, std::align_val_t(64));
    ::operator delete(atBodyStart, std::align_val_t(64));
}

// Bodies 64 KiB apart share a chain (bits 4 to 15 of the address); releasing its first or a middle record leaves the
// others linked.
TEST_F(MemtrackTest, BlocksSharingAChain)
{
    heap.arena = 64 + 32;
    AllocationUnit*& head = unitHashTable[(reinterpret_cast<uintptr_t>(arena) + 16) / 16 % 4096];
    AllocationUnit* const earlier = head;
    for (const auto& [what, gone] : {std::pair<const char*, int> {"the middle record", 1}, {"the first record", 2}}) {
        heap.served = 0;
        void* bodies[3] = {::operator new(64), ::operator new(64), ::operator new(64)};
        AllocationUnit* units[3]
            = {FindAllocationUnit(bodies[0]), FindAllocationUnit(bodies[1]), FindAllocationUnit(bodies[2])};
        ASSERT_EQ(arena + 2 * kSlot, units[2]->actualAddress) << "the third arena slot";
        ::operator delete(Opaque(bodies[gone]));
        const int kept = 3 - gone;
        EXPECT_EQ(nullptr, FindAllocationUnit(bodies[gone])) << what;
        EXPECT_EQ(units[kept], head) << what;
        EXPECT_EQ(nullptr, units[kept]->prevUnit) << what;
        EXPECT_EQ(units[0], units[kept]->nextUnit) << what;
        EXPECT_EQ(units[kept], units[0]->prevUnit) << what;
        EXPECT_EQ(units[kept], FindAllocationUnit(bodies[kept])) << what;
        EXPECT_EQ(units[0], FindAllocationUnit(bodies[0])) << what;
        ::operator delete(bodies[kept]);
        ::operator delete(bodies[0]);
        EXPECT_EQ(earlier, head) << what;
    }
}

// Numbers run in request order, a refused request using one too; the new-handler is called until the heap serves, or
// until it throws.
TEST_F(MemtrackTest, NumbersAndTheNewHandler)
{
    static int handlerCalls = 0;
    const uint32_t before = allocationCounter;
    void* first = ::operator new(8);
    void* second = ::operator new[](16);
    void* third = ::operator new(24);
    heap.refuse = 300 + 32;
    std::set_new_handler([] {
        ++handlerCalls;
        if (handlerCalls == 2)
            heap.refuse = 0;
    });
    void* sixth = ::operator new(300);
    EXPECT_EQ(2, handlerCalls) << "handler calls until the heap served";
    heap.refuse = 300 + 32;
    std::set_new_handler([] { throw std::bad_alloc(); });
    EXPECT_EQ(nullptr, ::operator new(300, std::nothrow)) << "a nothrow request whose handler throws";
    EXPECT_EQ(before + 7, allocationCounter) << "requests made";
    const std::pair<void*, uint32_t> numbered[] = {{first, 1}, {second, 2}, {third, 3}, {sixth, 6}};
    for (const auto& [block, number] : numbered) {
        EXPECT_EQ(before + number, FindAllocationUnit(block)->allocationNumber) << "request " << number;
        ::operator delete(block);
    }
    EXPECT_EQ(Repeated(kOutOfMemory, 3 * kOutOfMemory.size()), Log());
}

// A refused padded block loses no record. Sizes whose padded block would not fit 32 bits never reach the heap; the
// largest that fit do.
TEST_F(MemtrackTest, RefusedSizes)
{
    heap.refuse = 200 + 32;
    ExpectRefused(200, "padded block refused");
    heap.refuse = 0;
    const unsigned requests = heap.requests;
    // 2^32 - 33, less on i686, whose run-time heap adds an overhead of its own.
    const uint32_t largest = sizeof(void*) == 4 ? kMaxReportedSize : 0xFFFFFFDFu;
    for (uint64_t size : {uint64_t(largest) + 1, uint64_t(0xFFFFFFFFu), (uint64_t(1) << 32) + 5}) {
        if (size <= SIZE_MAX)
            ExpectRefused(static_cast<std::size_t>(size), "too large");
    }
    static volatile std::size_t alignedSize = 0xFFFFFF00u;  // fits alone, not with a 4096 lead
    EXPECT_EQ(nullptr, ::operator new(alignedSize, std::align_val_t(4096), std::nothrow)) << "aligned by 4096";
    EXPECT_EQ(requests, heap.requests) << "heap requests for sizes that cannot fit";
    heap.refuse = std::size_t(largest) + 32;
    EXPECT_EQ(nullptr, TrackedAllocate(nullptr, 0, nullptr, kAllocationNew, largest));
    EXPECT_EQ(nullptr, TrackedAllocateAligned(nullptr, 0, nullptr, largest - 48, 64));
    EXPECT_EQ(requests + 2, heap.requests) << "heap requests for the largest sizes that fit";
    const std::size_t lines = sizeof(std::size_t) > 4 ? 11 : 9;
    EXPECT_EQ(Repeated(kOutOfMemory, lines * kOutOfMemory.size()), Log());
}

class MemtrackHeapLimit : public MemtrackTest { };

// Sizes just under 4 GiB asked of the run-time heap itself, whose own overhead must not wrap: only a 32-bit heap can
// refuse them, so this runs in a ctest entry of its own that reports itself skipped elsewhere.
TEST_F(MemtrackHeapLimit, SizesJustUnder4GiBAreRefusedByTheRunTimeHeap)
{
    if (sizeof(void*) != 4)
        GTEST_SKIP() << "a 64-bit heap may serve 4 GiB";
    trackerHeap = {&DefaultHeapAllocate, &DefaultHeapRelease};
    for (uint64_t size = 0xFFFFFFC0u; size <= 0xFFFFFFFFu; ++size)
        ExpectRefused(static_cast<std::size_t>(size), "run-time heap");
    EXPECT_EQ(Repeated(kOutOfMemory, 128 * kOutOfMemory.size()), Log());
}

// A run's first failure replaces an earlier run's file, a run without failures leaves it alone; where the file cannot
// be opened the line is lost and the run goes on.
TEST_F(MemtrackTest, EachRunWithFailuresStartsAFreshLog)
{
    EXPECT_EQ(kNotHeld, g_logAfterFirstFailure) << "after the process's first failure";
    std::ofstream("memory.log", std::ios::binary) << kNotHeld << "stale\r\npartial";
    memoryLogResetPending = true;  // as when a run starts
    ::operator delete(::operator new(16));
    EXPECT_EQ(kNotHeld + "stale\r\npartial", Log()) << "after a run without failures";
    void* foreign = std::malloc(16);
    ::operator delete(Opaque(foreign));
    static volatile std::size_t tooBig = 0xFFFFFFF0u;  // + 32 does not fit 32 bits
    EXPECT_EQ(nullptr, ::operator new(tooBig, std::nothrow));
    EXPECT_EQ(kNotHeld + kOutOfMemory, Log()) << "after two failures";
    std::filesystem::remove("memory.log");
    std::filesystem::create_directories("memory.log/x");  // a directory, not empty: cannot be removed or opened
    memoryLogResetPending = true;
    ::operator delete(Opaque(foreign));
    ::operator delete(::operator new(16));
    EXPECT_FALSE(memoryLogResetPending) << "after the run's first failure";
    EXPECT_EQ(2u, std::filesystem::remove_all("memory.log")) << "entries of the directory memory.log";
    std::free(foreign);
}

}  // namespace
