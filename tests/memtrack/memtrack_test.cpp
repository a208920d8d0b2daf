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

// Refuses requests of `refuse` bytes, serves those of `arena` bytes from three slots 64 KiB apart in turn.
struct ScriptedHeap {
    std::size_t refuse, arena, arenaOffset;
    unsigned served, padded;
    void* lastReleased;
} heap;
constexpr std::size_t kSlot = 65536;
alignas(4096) unsigned char arena[3 * kSlot];

void* Allocate(std::size_t size)
{
    if (size != sizeof(AllocationUnit) * 256)
        ++heap.padded;
    if (size == heap.refuse)
        return nullptr;
    return size == heap.arena ? arena + (heap.served++ % 3) * kSlot + heap.arenaOffset : DefaultHeapAllocate(size);
}

void Release(void* block)
{
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

// Both forms of a request refused: bad_alloc with its text, or null; a number each, no record lost.
void ExpectRefused(std::size_t size, const char* what)
{
    const uint32_t counter = allocationCounter;
    const AllocationUnit* const spareHead = spareUnitList;
    std::string thrown = "nothing thrown";
    try {
        ::operator delete(::operator new(size));
    } catch (const std::bad_alloc& failure) {
        thrown = failure.what();
    }
    EXPECT_EQ("bad allocation", thrown) << what << ", size " << size;
    EXPECT_EQ(nullptr, ::operator new[](size, std::nothrow)) << what << ", size " << size;
    EXPECT_EQ(counter + 2, allocationCounter) << "numbers used, " << what;
    EXPECT_EQ(spareHead, spareUnitList) << "first spare record, " << what;
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
    // Hides a pointer's origin: some tests misuse addresses on purpose.
    static void* Opaque(const void* p) { return const_cast<void*>(*static_cast<const void* volatile*>(&p)); }
};

// Every form of delete: the guards and fill when the block is handed out, and again over scribbles when given back.
TEST_F(MemtrackTest, EveryFormGuardsAndFillsItsBlock)
{
    using A = std::align_val_t;
    const std::tuple<const char*, size_t, size_t, void (*)(void*, size_t, A)> forms[] = {
        {"delete", 0, 0, [](void* p, size_t, A) { ::operator delete(p); }},
        {"delete[]", 5, 0, [](void* p, size_t, A) { ::operator delete[](p); }},
        {"delete (size)", 127, 0, [](void* p, size_t n, A) { ::operator delete(p, n); }},
        {"delete[] (size)", 2, 0, [](void* p, size_t n, A) { ::operator delete[](p, n); }},
        {"delete (nothrow)", 3, 0, [](void* p, size_t, A) { ::operator delete(p, std::nothrow); }},
        {"delete[] (nothrow)", 64, 0, [](void* p, size_t, A) { ::operator delete[](p, std::nothrow); }},
        {"delete (alignment)", 100, 64, [](void* p, size_t, A a) { ::operator delete(p, a); }},
        {"delete[] (alignment)", 100, 4096, [](void* p, size_t, A a) { ::operator delete[](p, a); }},
        {"delete (size, alignment)", 0, 64, [](void* p, size_t n, A a) { ::operator delete(p, n, a); }},
        {"delete[] (size, alignment)", 100, 4096, [](void* p, size_t n, A a) { ::operator delete[](p, n, a); }},
        {"delete (alignment, nothrow)", 1, 64, [](void* p, size_t, A a) { ::operator delete(p, a, std::nothrow); }},
        {"delete[] (alignment, nothrow)", 9, 64, [](void* p, size_t, A a) { ::operator delete[](p, a, std::nothrow); }},
    };
    for (const auto& [name, size, alignment, release] : forms) {
        const std::size_t body = std::max<std::size_t>(size, 1) + (alignment ? alignment - 16 : 0);
        const auto block
            = [body](const std::string& fill) { return kUnderrunGuard + Repeated(fill, body) + kOverrunGuard; };
        heap.arena = body + 32;
        heap.served = 0;
        void* address = alignment ? ::operator new[](size, A(alignment)) : ::operator new(size);
        EXPECT_EQ(block(kFreshFill), std::string(arena, arena + body + 32)) << "block handed out, " << name;
        std::memset(arena, 0x11, body + 32);
        EXPECT_EQ(alignment ? 9u : 1u, FindAllocationUnit(arena + 16)->allocationType) << "allocation type, " << name;
        release(address, size, A(alignment));
        EXPECT_EQ(arena, heap.lastReleased) << "block given back, " << name;
        EXPECT_EQ(block(kFreedFill), std::string(arena, arena + body + 32)) << "block given back, " << name;
    }
}

// Owner texts keep at most 39 characters and zero the rest of their 40-byte field, and nothing past it.
TEST_F(MemtrackTest, OwnerTextsFillTheirFieldAndNoMore)
{
    const char* const text = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEF";  // 42 characters
    for (const char* given : {text + 4, text + 3, text + 2, text + 1, text, currentOwner.ownerFile}) {
        char field[kOwnerTextSize + 2];
        std::memset(field, '#', sizeof field);
        SetOwnerText(field, given);
        const std::string kept = std::string(given).substr(0, 39);
        EXPECT_EQ(kept + std::string(40 - kept.size(), '\0') + "##", std::string(field, sizeof field)) << given;
    }
    // operator new records the current owner, the file without its directories, then puts the owner back to rest.
    currentOwner = {"src/dir\\x/name.cpp", -3, "Fn"};
    void* body = ::operator new(8);
    const AllocationUnit* unit = FindAllocationUnit(body);
    EXPECT_STREQ("x/name.cpp", unit->ownerFile);
    EXPECT_EQ(-3, unit->ownerLine);
    EXPECT_STREQ("Fn", unit->ownerFunction);
    EXPECT_STREQ("name.cpp", StripSourcePath("src/dir/name.cpp"));
    ::operator delete(body);
    EXPECT_EQ(unit, FindAllocationUnit(::operator new(8))) << "the record given back last";
    EXPECT_STREQ("??", unit->ownerFile) << "the owner recorded next";
    ::operator delete(unit->reportedAddress);
}

// A unit block is asked for only when every record is in use, a refused one again by the next request.
TEST_F(MemtrackTest, UnitBlocksAndSpareRecords)
{
    std::vector<void*> drained;
    drained.reserve(CountSpareUnits());  // takes a record itself
    while (spareUnitList != nullptr && drained.size() < drained.capacity())
        drained.push_back(::operator new(8));
    EXPECT_EQ(nullptr, spareUnitList) << "spare records after taking as many as there were";
    heap.refuse = sizeof(AllocationUnit) * 256;
    ExpectRefused(200, "unit block refused");
    heap.refuse = 0;
    drained.push_back(::operator new(8));
    EXPECT_EQ(255u, CountSpareUnits()) << "spare records after the new block's first";
    for (void* block : drained)
        ::operator delete(block);
    EXPECT_EQ(drained.size() + 255, CountSpareUnits()) << "spare records after all were given back";
    EXPECT_EQ(kNoRecords + kNoRecords, Log());
}

// An address the tracker does not hold is one log line and changes nothing; null is no line at all.
TEST_F(MemtrackTest, ReleasesOfAddressesNotHeld)
{
    heap.arena = 200 + 48 + 32;
    auto* plain = static_cast<unsigned char*>(::operator new(200 + 48));  // 48 bytes before a 64-byte boundary
    heap.arenaOffset = 48;
    auto* aligned = static_cast<unsigned char*>(::operator new(200, std::align_val_t(64)));  // at its body's start
    void* freed = ::operator new(24);
    ::operator delete(freed);  // nothing reaches the heap from here to its second release
    const auto expectIgnored = [](const char* what, void* address, std::size_t alignment) {
        std::remove("memory.log");
        currentOwner.ownerLine = 5;
        if (alignment == 0)
            ::operator delete(Opaque(address));
        else
            ::operator delete(Opaque(address), std::align_val_t(alignment));
        EXPECT_EQ(address ? kNotHeld : "<none>", Log()) << what;
        EXPECT_EQ(address ? 0 : 5, currentOwner.ownerLine) << "owner line after " << what;
    };
    expectIgnored("a block given back before", freed, 0);
    expectIgnored("16 bytes into a body", plain + 16, 0);
    expectIgnored("a 64-aligned address inside a plain body", plain + 48, 64);
    expectIgnored("16 bytes past an over-aligned address", aligned + 16, 64);
    expectIgnored("the next boundary past an over-aligned address", aligned + 64, 64);
    expectIgnored("null", nullptr, 0);
    ::operator delete(plain);
    ::operator delete(aligned, std::align_val_t(64));
}

// Bodies 64 KiB apart share a chain; releasing its first or a middle record keeps the others linked.
TEST_F(MemtrackTest, BlocksSharingAChain)
{
    heap.arena = 64 + 32;
    AllocationUnit*& head = unitHashTable[(reinterpret_cast<uintptr_t>(arena) + 16) / 16 % 4096];
    for (const auto& [what, gone] : {std::pair<const char*, int> {"the middle record", 1}, {"the first record", 2}}) {
        heap.served = 0;
        void* bodies[3] = {::operator new(64), ::operator new(64), ::operator new(64)};
        AllocationUnit* units[3]
            = {FindAllocationUnit(bodies[0]), FindAllocationUnit(bodies[1]), FindAllocationUnit(bodies[2])};
        ::operator delete(Opaque(bodies[gone]));
        const int kept = 3 - gone;
        EXPECT_EQ(units[kept], head) << "first record after releasing " << what;
        EXPECT_EQ(nullptr, units[kept]->prevUnit) << "its predecessor after releasing " << what;
        EXPECT_EQ(units[0], units[kept]->nextUnit) << "its successor after releasing " << what;
        EXPECT_EQ(units[kept], units[0]->prevUnit) << "the last record's predecessor after releasing " << what;
        ::operator delete(bodies[kept]);
        ::operator delete(bodies[0]);
    }
}

// Numbers run in request order, refused requests using one each; the new-handler is called until the heap serves.
TEST_F(MemtrackTest, NumbersAndTheNewHandler)
{
    static int handlerCalls = 0;
    const uint32_t before = allocationCounter;
    void* first = ::operator new(8);
    heap.refuse = 200 + 32;
    ExpectRefused(200, "padded block refused");
    std::set_new_handler([] {
        ++handlerCalls;
        if (handlerCalls == 2)
            heap.refuse = 0;
    });
    void* sixth = ::operator new(200);
    EXPECT_EQ(2, handlerCalls) << "handler calls until the heap served";
    EXPECT_EQ(before + 1, FindAllocationUnit(first)->allocationNumber) << "number of the first request";
    EXPECT_EQ(before + 6, FindAllocationUnit(sixth)->allocationNumber) << "number of the sixth request";
    ::operator delete(first);
    ::operator delete(sixth);
    EXPECT_EQ(Repeated(kOutOfMemory, 4 * kOutOfMemory.size()), Log());
}

// Sizes whose padded block would not fit 32 bits never reach the heap; the largest that fit do.
TEST_F(MemtrackTest, SizesBeyond32Bits)
{
    // 2^32 - 33, and 20 less on i686, whose run-time heap adds an overhead of its own.
    const uint32_t largest = sizeof(void*) == 4 ? 0xFFFFFFCBu : 0xFFFFFFDFu;
    for (uint64_t size : {uint64_t(largest) + 1, uint64_t(0xFFFFFFFFu), (uint64_t(1) << 32) + 5}) {
        if (size <= SIZE_MAX)
            ExpectRefused(static_cast<std::size_t>(size), "too large");
    }
    static volatile std::size_t alignedSize = 0xFFFFFF00u;  // fits alone, not with a 4096 lead
    EXPECT_EQ(nullptr, ::operator new(alignedSize, std::align_val_t(4096), std::nothrow)) << "aligned by 4096";
    static volatile std::size_t largestSize = SIZE_MAX;
    EXPECT_EQ(nullptr, ::operator new(largestSize, std::align_val_t(16), std::nothrow)) << "aligned by the heap's 16";
    EXPECT_EQ(0u, heap.padded) << "heap requests for sizes that cannot fit";
    heap.refuse = std::size_t(largest) + 32;
    EXPECT_EQ(nullptr, TrackedAllocate(nullptr, 0, nullptr, kAllocationNew, largest));
    EXPECT_EQ(nullptr, TrackedAllocateAligned(nullptr, 0, nullptr, largest - 48, 64));
    EXPECT_EQ(2u, heap.padded) << "heap requests for the largest sizes that fit";
}

// Sizes just under 4 GiB asked of the run-time heap itself, whose own overhead must not wrap: only a 32-bit heap can
// refuse them, so this runs in a ctest entry of its own that reports itself skipped elsewhere.
TEST_F(MemtrackTest, HeapLimitOfTheRunTimeHeap)
{
    if (sizeof(void*) != 4)
        GTEST_SKIP() << "a 64-bit heap may serve 4 GiB";
    trackerHeap = {&DefaultHeapAllocate, &DefaultHeapRelease};
    for (uint64_t size = 0xFFFFFFC0u; size <= 0xFFFFFFFFu; ++size)
        ExpectRefused(static_cast<std::size_t>(size), "run-time heap");
}

// A run's first failure replaces an earlier run's file, a run without failures leaves it; an unopenable file drops
// lines.
TEST_F(MemtrackTest, EachRunWithFailuresStartsAFreshLog)
{
    EXPECT_NE(nullptr, FindAllocationUnit(g_staticInitBlock)) << "a block of static initialisation";
    std::ofstream("memory.log", std::ios::binary) << kNotHeld << "stale\r\npartial";
    memoryLogResetPending = true;  // as when a run starts
    ::operator delete(::operator new(16));
    EXPECT_EQ(kNotHeld + "stale\r\npartial", Log()) << "after a run without failures";
    ::operator delete(Opaque(&heap));
    static volatile std::size_t tooBig = 0xFFFFFFF0u;  // + 32 does not fit 32 bits
    EXPECT_EQ(nullptr, ::operator new(tooBig, std::nothrow));
    EXPECT_EQ(kNotHeld + kOutOfMemory, Log()) << "after two failures";
    std::filesystem::remove("memory.log");
    std::filesystem::create_directories("memory.log/x");  // a directory, not empty: cannot be removed or opened
    memoryLogResetPending = true;
    ::operator delete(Opaque(&heap));
    EXPECT_FALSE(memoryLogResetPending) << "after the run's first failure";
    EXPECT_EQ(2u, std::filesystem::remove_all("memory.log")) << "entries of the directory memory.log";
}

}  // namespace
