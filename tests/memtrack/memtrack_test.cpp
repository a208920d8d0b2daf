// The tracker through the replacement operators on a scripted heap; memory.log lands in ctest's working directory.
#include "memtrack/tracker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

void* const g_staticInitBlock = ::operator new(24);  // served during static initialisation
const bool g_logResetPendingAtStart = memoryLogResetPending;

namespace {

const std::string kNotHeld = "Request to deallocate RAM that was never allocated\r\n";
const std::string kOutOfMemory = "Request for allocation failed. Out of memory.\r\n";
constexpr std::size_t kUnitBlockBytes = sizeof(AllocationUnit) * kUnitsPerBlock, kStride = 65536;  // one chain

// Refuses requests of `refuse` bytes; serves those of `arena` bytes from three arena slots in turn, kept when given back.
struct {
    std::size_t refuse, arena;
    unsigned requests, unitBlocks, served, releases;
    void* last;
} heap;
alignas(4096) unsigned char arena[3 * kStride];

void* Allocate(std::size_t size)
{
    ++heap.requests, heap.unitBlocks += size == kUnitBlockBytes;
    return size == heap.refuse ? nullptr : size == heap.arena ? arena + heap.served++ % 3 * kStride : DefaultHeapAllocate(size);
}

void Release(void* block)
{
    ++heap.releases, heap.last = block;
    if (block < arena || block >= arena + sizeof arena)
        DefaultHeapRelease(block);
}

// The bytes of a 32-bit pattern repeated over `length` bytes, lowest first.
std::string Pattern(uint32_t pattern, std::size_t length)
{
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes += static_cast<char>(pattern >> (8 * (i % 4)));
    return bytes;
}
std::string Bytes(const void* data, std::size_t length) { return std::string(static_cast<const char*>(data), length); }

// Hides a pointer's origin: some tests misuse addresses on purpose.
void* Opaque(const void* pointer) { return const_cast<void*>(*static_cast<const void* volatile*>(&pointer)); }

std::string Log()
{
    std::ifstream file("memory.log", std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<none>";
}

std::string Times(const std::string& line, int count) { return count > 0 ? line + Times(line, count - 1) : ""; }

uint32_t CountSpareUnits()
{
    uint32_t count = 0;
    for (const AllocationUnit* unit = spareUnitList; unit != nullptr; unit = unit->nextUnit)
        ++count;
    return count;
}

using State = std::tuple<uint32_t, const void*, unsigned>;  // what a refusal must leave alone
State TrackerState() { return State(allocationCounter, spareUnitList, heap.releases); }

// Both forms refused while the heap refuses `heapRequest` bytes: two numbers used, no record lost, nothing given back.
void ExpectRefused(std::size_t size, std::size_t heapRequest = 0)
{
    State before = TrackerState();
    heap.refuse = heapRequest;
    std::string what = "not thrown";
    try {
        ::operator delete(::operator new(size));
    } catch (const std::bad_alloc& failure) {
        what = failure.what();
    }
    void* nothrowResult = ::operator new[](size, std::nothrow);
    State after = TrackerState();
    heap.refuse = 0, std::get<0>(before) += 2;
    EXPECT_EQ((std::make_tuple("bad allocation", nullptr, before)), std::make_tuple(what, nothrowResult, after)) << size;
}

class MemtrackTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::remove_all("memory.log");  // a directory too, where an earlier run stopped
        std::memset(&heap, 0, sizeof heap);
        trackerHeap = {&Allocate, &Release};
    }
    void TearDown() override
    {
        trackerHeap = {&DefaultHeapAllocate, &DefaultHeapRelease};
        std::set_new_handler(nullptr);  // also when a test failed before removing its own
    }
};

// Sizes 0 (served as 1), 5, 127 and 100 over-aligned as far into the body as allowed: guards and fill, again over scribbles.
TEST_F(MemtrackTest, BlockBytesWhenHandedOutAndGivenBack)
{
    EXPECT_NE(nullptr, FindAllocationUnit(g_staticInitBlock));
    const std::string under = Pattern(underrunGuardPattern, 16), over = Pattern(overrunGuardPattern, 16);
    for (auto [request, alignment] : {std::pair<std::size_t, std::size_t>{0, 0}, {5, 0}, {127, 0}, {100, 64}, {100, 4096}}) {
        const std::size_t size = request + (request == 0) + (alignment ? alignment - 16 : 0);
        heap.arena = size + 32, heap.served = 0;
        unsigned char* body = static_cast<unsigned char*>(alignment ? ::operator new[](request, std::align_val_t(alignment))
                                                                    : ::operator new(request));
        const AllocationUnit* unit = FindAlignedAllocationUnit(body, alignment);
        ASSERT_NE(nullptr, unit);
        EXPECT_EQ(std::make_tuple(size + 32, size, static_cast<void*>(arena), arena + 16 + size),  // the body ends with the block's
                  std::make_tuple(unit->actualSize, unit->reportedSize, unit->actualAddress, body + std::max<std::size_t>(request, 1)));
        EXPECT_EQ(under + Pattern(freshFillPattern, size) + over, Bytes(arena, size + 32));
        std::memset(arena, 0x11, size + 32);
        alignment ? ::operator delete[](body, request, std::align_val_t(alignment)) : ::operator delete(body);
        EXPECT_EQ(std::make_pair(under + Pattern(freedFillPattern, size) + over, static_cast<void*>(arena)),
                  std::make_pair(Bytes(arena, size + 32), heap.last));
    }
    EXPECT_EQ("\xCE\xFA\xED\xFE\xCE", Pattern(freshFillPattern, 5));
    // Owner texts cut to 39 characters, the file without its directories, zero after them over a reused record's longer ones.
    ::operator delete(TrackedAllocate("C:\\src\\win/a_very_long_file_name_that_fills_the_field.cpp", 7, "Fn", 1, 8));
    const AllocationUnit* unit = FindAllocationUnit(TrackedAllocate("src/dir\\x/name.cpp", 7, nullptr, 1, 8));
    EXPECT_EQ(std::string("x/name.cpp").append(30, '\0') + std::string("??").append(38, '\0'),
              std::string(unit->ownerFile, 40) + std::string(unit->ownerFunction, 40));
    ::operator delete(unit->reportedAddress);
    EXPECT_EQ("<none>", Log());
}

// A unit block only when every record is in use, a refused one tried again; the record released last is used next.
TEST_F(MemtrackTest, UnitBlocksAndSpareRecords)
{
    std::vector<void*> drained;
    drained.reserve(CountSpareUnits());  // takes a record itself
    while (spareUnitList != nullptr && drained.size() < drained.capacity())
        drained.push_back(::operator new(8));
    EXPECT_EQ(0u, heap.unitBlocks);
    ExpectRefused(200, kUnitBlockBytes);
    void* extra = ::operator new(8);
    EXPECT_EQ((std::make_tuple(3u, kUnitsPerBlock - 1)), std::make_tuple(heap.unitBlocks, CountSpareUnits()));
    for (void* block : drained)
        ::operator delete(block);
    const AllocationUnit* unit = FindAllocationUnit(extra);
    ::operator delete(extra);
    void* again = ::operator new(200);
    EXPECT_EQ(unit, FindAllocationUnit(again));
    ::operator delete(again);
    EXPECT_EQ(Times("Unable to allocate RAM for internal memory tracking data\r\n", 2), Log());
}

// An address not held is one log line and changes nothing; bodies sharing a chain stay linked when another goes.
TEST_F(MemtrackTest, ReleasesOfAddressesNotHeldAndOfBlocksSharingAChain)
{
    unsigned char* body = static_cast<unsigned char*>(::operator new(32));
    heap.arena = 100 + 32;
    unsigned char* arenaBody = static_cast<unsigned char*>(::operator new(100));  // 48 bytes before 64
    void *foreign = std::malloc(24), *freed = ::operator new(24), *freedAgain = Opaque(freed);
    ::operator delete(freed);
    const std::pair<void*, std::size_t> cases[] = {{freedAgain, 0}, {foreign, 0}, {body + 1, 0}, {body + 16, 0}, {arenaBody + 48, 64}, {nullptr, 0}};
    for (const auto& [address, alignment] : cases) {
        std::remove("memory.log");
        State before = TrackerState();
        alignment ? ::operator delete(Opaque(address), std::align_val_t(alignment)) : ::operator delete(Opaque(address));
        EXPECT_EQ(before, TrackerState()) << address;
        EXPECT_EQ(address ? kNotHeld : "<none>", Log()) << address;
    }
    EXPECT_EQ(Pattern(freshFillPattern, 32) + Pattern(freshFillPattern, 100), Bytes(body, 32) + Bytes(arenaBody, 100));
    std::free(foreign), ::operator delete(body), ::operator delete(arenaBody);
    heap.arena = 64 + 32, heap.served = 0;
    AllocationUnit *&head = unitHashTable[UnitHashBucket(arena + 16)], *const earlier = head;
    for (int gone : {1, 2}) {
        void* bodies[3] = {::operator new(64), ::operator new(64), ::operator new(64)};
        AllocationUnit* units[3] = {FindAllocationUnit(bodies[0]), FindAllocationUnit(bodies[1]), FindAllocationUnit(bodies[2])};
        ASSERT_EQ(reinterpret_cast<uintptr_t>(arena) + 2 * kStride + 16, reinterpret_cast<uintptr_t>(bodies[2]));
        ::operator delete(Opaque(bodies[gone]));
        const int kept = 3 - gone;
        EXPECT_EQ((std::vector<AllocationUnit*>{nullptr, units[kept], nullptr, units[0], units[kept], units[kept], units[0]}),
                  (std::vector<AllocationUnit*>{FindAllocationUnit(bodies[gone]), head, units[kept]->prevUnit, units[kept]->nextUnit,
                                                units[0]->prevUnit, FindAllocationUnit(bodies[kept]), FindAllocationUnit(bodies[0])}));
        ::operator delete(bodies[kept]), ::operator delete(bodies[0]);
        EXPECT_EQ(earlier, head);
    }
}

// Numbers in request order, refused ones too; the new-handler runs until the heap serves or it throws.
TEST_F(MemtrackTest, NumbersTheNewHandlerAndRefusedRequests)
{
    static int handlerCalls;
    const uint32_t before = allocationCounter;
    void* blocks[4] = {::operator new(8), ::operator new[](16), ::operator new(24), nullptr};
    heap.refuse = 300 + 32;
    std::set_new_handler([] { heap.refuse = ++handlerCalls == 2 ? 0 : heap.refuse; });
    blocks[3] = ::operator new(300);
    heap.refuse = 300 + 32;
    std::set_new_handler([] { throw(++handlerCalls, std::bad_alloc()); });
    EXPECT_EQ(nullptr, ::operator new(300, std::nothrow));
    EXPECT_EQ(std::make_tuple(before + 7, 3), std::make_tuple(allocationCounter, handlerCalls));
    std::set_new_handler(nullptr);
    uint32_t numbers[4];
    for (int i = 0; i < 4; ++i)
        numbers[i] = FindAllocationUnit(blocks[i])->allocationNumber - before, ::operator delete(blocks[i]);
    EXPECT_EQ(std::make_tuple(1u, 2u, 3u, 6u), std::make_tuple(numbers[0], numbers[1], numbers[2], numbers[3]));
    // A refused padded block loses no record; sizes whose padding does not fit 32 bits never reach the heap.
    ExpectRefused(200, 200 + 32);
    const unsigned requests = heap.requests;
    for (uint64_t size : {uint64_t(kMaxReportedSize) + 1, uint64_t(0xFFFFFFFFu), (uint64_t(1) << 32) + 5})
        if (size <= SIZE_MAX)
            ExpectRefused(static_cast<std::size_t>(size));
    static volatile std::size_t alignedSize = 0xFFFFFF00u;  // fits alone, not with a 4096 lead
    EXPECT_EQ(nullptr, ::operator new(alignedSize, std::align_val_t(4096), std::nothrow));
    EXPECT_EQ(requests, heap.requests) << "the heap was asked";
    heap.refuse = std::size_t(kMaxReportedSize) + 32;
    EXPECT_EQ(nullptr, TrackedAllocate(nullptr, 0, nullptr, kAllocationNew, kMaxReportedSize));
    EXPECT_EQ(nullptr, TrackedAllocateAligned(nullptr, 0, nullptr, kMaxReportedSize - 48, 64));
    EXPECT_EQ(requests + 2, heap.requests);
    if (sizeof(void*) == 4) {  // the i686 run-time heap adds an overhead of its own and must not wrap either
        trackerHeap = {&DefaultHeapAllocate, &DefaultHeapRelease};
        for (uint64_t size = 0xFFFFFFC0u; size <= 0xFFFFFFFFu; ++size)
            ExpectRefused(static_cast<std::size_t>(size));
    }
    EXPECT_EQ(Times(kOutOfMemory, sizeof(std::size_t) > 4 ? 14 : 12 + 2 * 64), Log());
}

// A run's first failure replaces an earlier run's file, a run without failures leaves it; no file, no line, no stop.
TEST_F(MemtrackTest, EachRunWithFailuresStartsAFreshFileAndOneWithoutLeavesItAlone)
{
    EXPECT_TRUE(g_logResetPendingAtStart);
    std::ofstream("memory.log", std::ios::binary) << kNotHeld << "stale\r\npartial";
    memoryLogResetPending = true;  // as when a run starts
    void* block = ::operator new(16);
    ::operator delete(Opaque(block));
    EXPECT_EQ(kNotHeld + "stale\r\npartial", Log());
    ::operator delete(Opaque(block));
    static volatile std::size_t tooBig = 0xFFFFFFF0u;  // + 32 does not fit 32 bits
    EXPECT_EQ(nullptr, ::operator new(tooBig, std::nothrow));
    EXPECT_EQ(kNotHeld + kOutOfMemory, Log());
    std::filesystem::remove("memory.log");
    std::filesystem::create_directories("memory.log/x");  // a directory, not empty: not removed either
    memoryLogResetPending = true;
    ::operator delete(Opaque(block));
    ::operator delete(::operator new(16));
    EXPECT_TRUE(std::filesystem::remove_all("memory.log") == 2 && !memoryLogResetPending);
}

}  // namespace
