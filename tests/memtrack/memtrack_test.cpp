// The allocation tracker and its log through the replacement operators, each test in a scratch
// directory with a scripted heap behind the tracker. Fresh processes of this executable show the
// log's once-per-run reset.
#include "memtrack/memtrack.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <tuple>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

// Requested while this executable is still being statically initialised.
void* const g_staticInitBlock = ::operator new(24);

namespace {

const std::string kNeverAllocated = "Request to deallocate RAM that was never allocated\r\n";
const std::string kUnitBlockRefused = "Unable to allocate RAM for internal memory tracking data\r\n";
const std::string kOutOfMemory = "Request for allocation failed. Out of memory.\r\n";
constexpr std::size_t kUnitBlockBytes = sizeof(AllocationUnit) * kUnitsPerBlock;
constexpr std::size_t kStride = 65536;  // bodies this far apart share a hash chain

// The heap behind the tracker: refuses requests of `refuse` bytes, serves those of `arena` bytes
// from the three arena slots in turn, and keeps a copy of each block as it is given back.
struct ScriptedHeap {
    std::size_t refuse, arena;
    unsigned requests, unitBlocks, served, releases;
    void* last;
    const void* watch;  // its first watchLength bytes are copied when it is next given back
    std::size_t watchLength;
    unsigned char watched[64];
} heap;
alignas(64) unsigned char arena[3 * kStride];

void* Allocate(std::size_t size)
{
    ++heap.requests;
    heap.unitBlocks += size == kUnitBlockBytes;
    if (size == heap.refuse)
        return nullptr;
    return size == heap.arena ? arena + heap.served++ % 3 * kStride : DefaultHeapAllocate(size);
}

void Release(void* block)
{
    ++heap.releases;
    heap.last = block;
    if (block == heap.watch) {
        std::memcpy(heap.watched, block, heap.watchLength);
        heap.watch = nullptr;  // the address may come back for another block
    }
    if (block < arena || block >= arena + sizeof arena)
        DefaultHeapRelease(block);
}

std::string Hex(const void* data, std::size_t length)
{
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < length; ++i)
        text += std::string(byte, std::snprintf(byte, sizeof byte, &" %02X"[i == 0], static_cast<const unsigned char*>(data)[i]));
    return text;
}

std::string Pattern(uint32_t pattern, std::size_t length)
{
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes += static_cast<char>(pattern >> (8 * (i % 4)));
    return Hex(bytes.data(), length);
}

// Hides a pointer's origin from the compiler: some tests misuse addresses on purpose.
void* Opaque(const void* pointer)
{
    static const void* volatile sink;
    sink = pointer;
    return const_cast<void*>(sink);
}

std::string Log()
{
    std::ifstream file("memory.log", std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<none>";
}

std::string Lines(const std::string& line, int count) { return count > 0 ? line + Lines(line, count - 1) : ""; }

// What a refused request or release must leave alone.
using State = std::tuple<uint32_t, const void*, uint32_t, unsigned>;
State TrackerState() { return State(allocationCounter, spareUnitList, CountTrackedBlocks(), heap.releases); }

class MemtrackTest : public testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = std::filesystem::temp_directory_path() / ("memtrack-" + std::to_string(getpid()) + "-" +
                                                             testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(scratch_);
        std::filesystem::current_path(scratch_);
        std::memset(&heap, 0, sizeof heap);
        trackerHeap = {&Allocate, &Release};
    }
    void TearDown() override
    {
        trackerHeap = {&DefaultHeapAllocate, &DefaultHeapRelease};
        std::set_new_handler(nullptr);  // also when a test failed before removing its own
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(scratch_);
    }
    // A throwing and a non-throwing request while the heap refuses requests of heapRequest:
    // bad_alloc with its text and null, two numbers used, no record lost, nothing given back.
    static void ExpectRefused(std::size_t size, std::size_t heapRequest = 0)
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
        heap.refuse = 0;
        std::get<0>(before) += 2;
        EXPECT_EQ("bad allocation", what) << size << " bytes";
        EXPECT_EQ(nullptr, nothrowResult) << size << " bytes";
        EXPECT_EQ(before, after) << size << " bytes";
    }

private:
    std::filesystem::path previous_ = std::filesystem::current_path(), scratch_;
};

// Sizes 0 (served as 1), 5 and 31 (every step of the fill): guards and body when handed out, and
// again, written anew over scribbles, when given back to the heap.
TEST_F(MemtrackTest, BlockBytesWhenHandedOutAndGivenBack)
{
    ASSERT_NE(nullptr, FindAllocationUnit(g_staticInitBlock)) << "a block from static initialisation";
    const std::string under = Pattern(underrunGuardPattern, 16), over = Pattern(overrunGuardPattern, 16);
    for (std::size_t request : {0, 5, 31}) {
        const std::size_t size = request == 0 ? 1 : request;
        unsigned char* body = static_cast<unsigned char*>(::operator new(request));
        const AllocationUnit* unit = FindAllocationUnit(body);
        ASSERT_NE(nullptr, unit) << request;
        EXPECT_EQ((std::make_tuple(size + 32, size, static_cast<void*>(body - 16), 1u, std::string("??"), std::string("??"))),
                  std::make_tuple(unit->actualSize, unit->reportedSize, unit->actualAddress, unit->allocationType,
                                  std::string(unit->ownerFile), std::string(unit->ownerFunction)));
        EXPECT_EQ(under + " " + Pattern(freshFillPattern, size) + " " + over, Hex(body - 16, size + 32));
        std::memset(Opaque(body - 16), 0x11, size + 32);
        heap.watch = body - 16;
        heap.watchLength = size + 32;
        ::operator delete(body);
        EXPECT_EQ(under + " " + Pattern(freedFillPattern, size) + " " + over, Hex(heap.watched, size + 32));
    }
    EXPECT_EQ("CE FA ED FE CE", Pattern(freshFillPattern, 5));
    EXPECT_EQ("<none>", Log());
}

// All records in use: a new unit block is asked for only then, a refused one is tried again by
// the next request, and the record released last is the next one used.
TEST_F(MemtrackTest, UnitBlocksAndSpareRecords)
{
    std::vector<void*> drained;
    drained.reserve(CountSpareUnits());  // takes a record itself
    while (spareUnitList != nullptr && drained.size() < drained.capacity())
        drained.push_back(::operator new(8));
    EXPECT_EQ(0u, heap.unitBlocks);
    ExpectRefused(200, kUnitBlockBytes);
    EXPECT_EQ(2u, heap.unitBlocks);
    void* extra = ::operator new(8);
    EXPECT_EQ(3u, heap.unitBlocks);
    EXPECT_EQ(kUnitsPerBlock - 1, CountSpareUnits());
    for (void* block : drained)
        ::operator delete(block);
    const AllocationUnit* unit = FindAllocationUnit(extra);
    ::operator delete(extra);
    void* again = ::operator new(200);
    EXPECT_EQ(unit, FindAllocationUnit(again));
    ::operator delete(again);
    EXPECT_EQ(Lines(kUnitBlockRefused, 2), Log());
}

// Three bodies 65536 bytes apart share a chain, newest first: with the middle or the first one
// released, the other two stay linked and findable.
TEST_F(MemtrackTest, BlocksSharingAChainStayFindableWhicheverIsReleasedFirst)
{
    heap.arena = 64 + 32;
    AllocationUnit*& head = unitHashTable[UnitHashBucket(arena + 16)];
    AllocationUnit* const earlier = head;
    for (int gone : {1, 2}) {
        void* bodies[3] = {::operator new(64), ::operator new(64), ::operator new(64)};
        AllocationUnit* units[3] = {FindAllocationUnit(bodies[0]), FindAllocationUnit(bodies[1]), FindAllocationUnit(bodies[2])};
        ASSERT_EQ(arena + 2 * kStride + 16, Opaque(bodies[2]));  // the compiler takes new for never the arena
        EXPECT_EQ(units[2], head);
        ::operator delete(bodies[gone]);
        const int kept = 3 - gone;
        EXPECT_EQ(nullptr, FindAllocationUnit(bodies[gone])) << gone;
        EXPECT_EQ((std::vector<AllocationUnit*>{units[kept], nullptr, units[0], units[kept], units[kept], units[0]}),
                  (std::vector<AllocationUnit*>{head, units[kept]->prevUnit, units[kept]->nextUnit, units[0]->prevUnit,
                                                FindAllocationUnit(bodies[kept]), FindAllocationUnit(bodies[0])}))
            << gone;
        ::operator delete(bodies[kept]);
        ::operator delete(bodies[0]);
        EXPECT_EQ(earlier, head);
    }
    EXPECT_EQ("<none>", Log());
}

// An address the tracker does not hold is one line of the log and changes nothing.
TEST_F(MemtrackTest, ReleaseOfAnAddressNotHeldIsOneLineAndNothingElse)
{
    unsigned char* body = static_cast<unsigned char*>(::operator new(32));
    heap.arena = 100 + 32;
    unsigned char* arenaBody = static_cast<unsigned char*>(::operator new(100));  // 48 bytes before 64
    void* foreign = std::malloc(24);
    void* freed = ::operator new(24);
    void* freedAgain = Opaque(freed);
    ::operator delete(freed);
    const struct {
        const char* what;
        void* address;
        std::size_t alignment;  // 0: the plain release
    } cases[] = {{"released twice", freedAgain, 0},
                 {"from malloc", foreign, 0},
                 {"inside a body", body + 1, 0},
                 {"inside a body, its next bucket", body + 16, 0},
                 {"inside a plain body, by the over-aligned release", arenaBody + 48, 64},
                 {"null", nullptr, 0}};
    for (const auto& c : cases) {
        std::remove("memory.log");
        State before = TrackerState();
        if (c.alignment != 0)
            ::operator delete(Opaque(c.address), std::align_val_t(c.alignment));
        else
            ::operator delete(Opaque(c.address));
        EXPECT_EQ(before, TrackerState()) << c.what;
        EXPECT_EQ(c.address != nullptr ? kNeverAllocated : "<none>", Log()) << c.what;
    }
    EXPECT_EQ(Pattern(freshFillPattern, 32), Hex(body, 32));
    EXPECT_EQ(Pattern(freshFillPattern, 100), Hex(arenaBody, 100));
    std::free(foreign);
    ::operator delete(body);
    ::operator delete(arenaBody);
}

// Numbers run in request order, refused requests use theirs; a new-handler is called until the
// heap serves, and its bad_alloc ends the non-throwing form with null.
TEST_F(MemtrackTest, NumbersInRequestOrderAndTheNewHandlerConsulted)
{
    static int handlerCalls;
    const uint32_t before = allocationCounter;
    void* blocks[4] = {::operator new(8), ::operator new[](16), ::operator new(24), nullptr};
    heap.refuse = 300 + 32;
    std::set_new_handler([] { heap.refuse = ++handlerCalls == 2 ? 0 : heap.refuse; });
    blocks[3] = ::operator new(300);
    heap.refuse = 300 + 32;
    std::set_new_handler([] {
        ++handlerCalls;
        throw std::bad_alloc();
    });
    EXPECT_EQ(nullptr, ::operator new(300, std::nothrow));
    const uint32_t after = allocationCounter;
    std::set_new_handler(nullptr);
    heap.refuse = 0;
    EXPECT_EQ(3, handlerCalls);
    EXPECT_EQ(before + 7, after);
    std::vector<uint32_t> numbers;
    for (void* block : blocks) {
        numbers.push_back(FindAllocationUnit(block) ? FindAllocationUnit(block)->allocationNumber - before : 0);
        ::operator delete(block);
    }
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 3, 6}), numbers);
    EXPECT_EQ(Lines(kOutOfMemory, 3), Log());
}

// A refused padded block loses no record. Sizes whose padding does not fit 32 bits never reach
// the heap, nor cut down to fit; the largest that fits does.
TEST_F(MemtrackTest, RefusedAndOversizedRequests)
{
    ::operator delete(::operator new(8));  // a spare record
    ExpectRefused(200, 200 + 32);
    const unsigned requests = heap.requests;
    ExpectRefused(std::size_t(kMaxReportedSize) + 1);
    ExpectRefused(0xFFFFFFFFu);
    if (sizeof(std::size_t) > 4)
        ExpectRefused(static_cast<std::size_t>((uint64_t(1) << 32) + 5));
    static volatile std::size_t alignedSize = 0xFFFFFF00u;  // fits alone, not with a 4096 lead
    EXPECT_EQ(nullptr, ::operator new(alignedSize, std::align_val_t(4096), std::nothrow));
    EXPECT_EQ(requests, heap.requests) << "the heap was asked";
    heap.refuse = std::size_t(kMaxReportedSize) + 32;
    EXPECT_EQ(nullptr, TrackedAllocate(nullptr, 0, nullptr, kAllocationNew, kMaxReportedSize));
    EXPECT_EQ(requests + 1, heap.requests);
    EXPECT_EQ(Lines(kOutOfMemory, sizeof(std::size_t) > 4 ? 10 : 8), Log());
}

// On i686 the run-time's aligned allocation adds an overhead of its own to each request: no size
// near 4 GiB may reach it and wrap round to a small block.
TEST_F(MemtrackTest, SizesJustUnderFourGibibytesAreRefusedOnTheRealHeap)
{
    if (sizeof(void*) != 4) {
        GTEST_SKIP() << "only a 32-bit run-time heap can be asked for these sizes and wrap";
    }
    trackerHeap = {&DefaultHeapAllocate, &DefaultHeapRelease};
    for (uint64_t size = 0xFFFFFFC0u; size <= 0xFFFFFFFFu; ++size)
        ExpectRefused(static_cast<std::size_t>(size));
    EXPECT_EQ(Lines(kOutOfMemory, 2 * 64), Log());
}

// Over-aligned blocks: the address lies inside the body, before the overrun guard, and only it
// releases the block. The 64-byte case is served at the arena's start, so that address lies as
// far into the body as the alignment allows.
TEST_F(MemtrackTest, OverAlignedNewIsHonouredAndReleased)
{
    heap.arena = 100 + 48 + 32;
    for (std::size_t alignment : {64, 4096}) {
        const uint32_t live = CountTrackedBlocks();
        unsigned char* body = static_cast<unsigned char*>(::operator new[](100, std::align_val_t(alignment)));
        const AllocationUnit* unit = FindAlignedAllocationUnit(body, alignment);
        ASSERT_NE(nullptr, unit) << alignment;
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(body) % alignment);
        EXPECT_EQ(alignment == 64 ? arena + 16 : unit->reportedAddress, unit->reportedAddress);
        EXPECT_LE(body + 100, static_cast<unsigned char*>(unit->reportedAddress) + unit->reportedSize);
        EXPECT_EQ(Pattern(freshFillPattern, 100), Hex(body, 100));
        void* heapBlock = unit->actualAddress;
        ::operator delete[](body, 100, std::align_val_t(alignment));
        EXPECT_EQ(heapBlock, heap.last);
        EXPECT_EQ(live, CountTrackedBlocks());
    }
    EXPECT_EQ("<none>", Log());
}

// Runs this executable again as a fresh process in the current directory: "n" allocates and
// releases, "d" releases a block twice, "b" asks for too much; the exit status is 0 when each
// behaved. As user nobody where the test runs as root.
int RunChild(const std::string& actions, [[maybe_unused]] bool asNobody = false)
{
#ifdef _WIN32
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    return std::system((std::string(self) + " --log-child " + actions).c_str());
#else
    std::string command = std::filesystem::read_symlink("/proc/self/exe").string() + " --log-child " + actions;
    const int status = std::system(((asNobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// The first line of a run replaces what an earlier run left; a run without failures leaves it.
TEST_F(MemtrackTest, EachRunWithFailuresStartsAFreshFileAndOneWithoutLeavesItAlone)
{
    ASSERT_EQ(0, RunChild("n"));
    EXPECT_EQ("<none>", Log());
    std::ofstream("memory.log", std::ios::binary) << kNeverAllocated << "stale\r\npartial";
    ASSERT_EQ(0, RunChild("n"));
    EXPECT_EQ(kNeverAllocated + "stale\r\npartial", Log());
    ASSERT_EQ(0, RunChild("dnb"));
    EXPECT_EQ(kNeverAllocated + kOutOfMemory, Log());
#ifndef _WIN32  // no permissions to take away under Wine
    std::filesystem::permissions(".", std::filesystem::perms(0777));  // the child may run as nobody
    std::filesystem::create_directory("locked");
    std::filesystem::permissions("locked", std::filesystem::perms(0555));
    std::filesystem::current_path("locked");
    EXPECT_EQ(0, RunChild("dbn", geteuid() == 0));
    EXPECT_FALSE(std::filesystem::exists("memory.log"));
    std::filesystem::current_path("..");
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--log-child") == 0) {
        for (const char* action = argv[2]; *action != '\0'; ++action) {
            void* block = ::operator new(16);
            void* again = Opaque(block);
            const bool held = FindAllocationUnit(block) != nullptr;
            ::operator delete(block);
            static volatile std::size_t tooBig = 0xFFFFFFF0u;  // + 32 does not fit 32 bits
            if (*action == 'd')
                ::operator delete(again);
            if (!held || (*action == 'b' && ::operator new(tooBig, std::nothrow) != nullptr))
                return 10;
        }
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
