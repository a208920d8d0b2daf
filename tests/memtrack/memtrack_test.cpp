// The allocation tracker and its log through the replacement operators, each
// test in a scratch directory with a scripted heap behind the tracker. Fresh
// processes of this executable show the log's once-per-run reset.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include "memtrack/memtrack.h"

// Requested while this executable is still being statically initialised.
void* const staticInitBlock = ::operator new(24);

namespace {

const char kNeverAllocatedLine[] = "Request to deallocate RAM that was never allocated\r\n";
const char kUnitBlockLine[] = "Unable to allocate RAM for internal memory tracking data\r\n";
const char kOutOfMemoryLine[] = "Request for allocation failed. Out of memory.\r\n";
const std::string kUnderrun = "0D F0 AD BA 0D F0 AD BA 0D F0 AD BA 0D F0 AD BA";
const std::string kOverrun = "DE C0 AD DE DE C0 AD DE DE C0 AD DE DE C0 AD DE";
constexpr std::size_t kUnitBlockBytes = sizeof(AllocationUnit) * kUnitsPerBlock;
constexpr std::size_t kArenaStride = 65536;  // bodies this far apart share a hash chain

// The heap behind the tracker during a test: refuses requests of refuseSize,
// serves requests of arenaSize from the three arena slots in turn, and copies the
// block at watch as it is given back.
struct ScriptedHeap {
    std::size_t refuseSize, arenaSize, watchLength;
    unsigned requests, unitBlockRequests, refused, releases, arenaServed;
    void* lastReleased;
    const void* watch;  // null again once copied
    unsigned char watched[64];
} heap;
alignas(64) unsigned char arena[3 * kArenaStride];

void* ScriptedAllocate(std::size_t size)
{
    ++heap.requests;
    heap.unitBlockRequests += size == kUnitBlockBytes;
    if (size == heap.refuseSize) {
        ++heap.refused;
        return nullptr;
    }
    if (size == heap.arenaSize)
        return arena + heap.arenaServed++ % 3 * kArenaStride;
    return DefaultHeapAllocate(size);
}

void ScriptedRelease(void* block)
{
    ++heap.releases;
    heap.lastReleased = block;
    if (block == heap.watch) {
        std::memcpy(heap.watched, block, heap.watchLength);
        heap.watch = nullptr;
    }
    if (reinterpret_cast<uintptr_t>(block) - reinterpret_cast<uintptr_t>(arena) >= sizeof arena)
        DefaultHeapRelease(block);
}

class MemtrackTest : public testing::Test {
protected:
    void SetUp() override
    {
        static unsigned serial;
        previous_ = std::filesystem::current_path();
        scratch_ = std::filesystem::temp_directory_path() /
                   ("memtrack-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
        ASSERT_TRUE(std::filesystem::create_directory(scratch_)) << scratch_;
        std::filesystem::current_path(scratch_);
        std::memset(&heap, 0, sizeof heap);
        trackerHeap = {&ScriptedAllocate, &ScriptedRelease};
    }
    void TearDown() override
    {
        trackerHeap = {&DefaultHeapAllocate, &DefaultHeapRelease};
        std::set_new_handler(nullptr);  // also when a test failed before removing its own
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }
    // The bytes of "memory.log", or "<none>".
    static std::string Log()
    {
        std::ifstream file("memory.log", std::ios::binary);
        return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<none>";
    }

private:
    std::filesystem::path previous_, scratch_;
};

std::string HexBytes(const void* data, std::size_t length)
{
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, " %02X", static_cast<const unsigned char*>(data)[i]);
        text += byte + (i == 0);  // no space before the first
    }
    return text;
}

std::string PatternHex(uint32_t pattern, std::size_t length)
{
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes += static_cast<char>(pattern >> (8 * (i % 4)));
    return HexBytes(bytes.data(), length);
}

// Hides a pointer's origin from the compiler: some tests misuse addresses on purpose.
void* Opaque(const void* pointer)
{
    static const void* volatile sink;
    sink = pointer;
    return const_cast<void*>(sink);
}

// Releases the body; the bytes of its heap block as the heap received them.
std::string ReleaseWatched(void* body, std::size_t size)
{
    heap.watch = static_cast<unsigned char*>(body) - 16;
    heap.watchLength = size + 32;
    ::operator delete(body);
    return heap.watch == nullptr ? HexBytes(heap.watched, size + 32) : "<not given back to the heap>";
}

// What a refused request or release must leave alone.
using State = std::tuple<uint32_t, const void*, uint32_t, unsigned>;
State TrackerState()
{
    return State(allocationCounter, spareUnitList, CountTrackedBlocks(), heap.releases);
}

// A throwing and a non-throwing request while the heap refuses requests of
// heapRequest: bad_alloc with its text and null, two numbers used, no record
// lost, nothing given back to the heap.
void ExpectBothRefused(std::size_t size, std::size_t heapRequest = 0)
{
    State before = TrackerState();
    heap.refuseSize = heapRequest;
    char what[32] = "not thrown";
    try {
        ::operator delete(::operator new(size));
    } catch (const std::bad_alloc& failure) {
        std::snprintf(what, sizeof what, "%s", failure.what());
    }
    void* nothrowResult = ::operator new[](size, std::nothrow);
    State after = TrackerState();
    heap.refuseSize = 0;  // failure messages may allocate
    std::get<0>(before) += 2;
    EXPECT_STREQ("bad allocation", what) << size << " bytes";
    EXPECT_EQ(nullptr, nothrowResult) << size << " bytes";
    EXPECT_EQ(before, after) << size << " bytes";
}

std::string Lines(const char* line, int count)
{
    return count > 0 ? line + Lines(line, count - 1) : "";
}

// 31 bytes take every step of the fill: 16, 8, 4 and single bytes.
TEST_F(MemtrackTest, BlockBytesWhenHandedOutAndGivenBack)
{
    ASSERT_NE(nullptr, FindAllocationUnit(staticInitBlock)) << "a block from static initialisation";
    const struct {
        std::size_t request;
        uint32_t body;
        std::string fresh, freed;
    } cases[] = {{0, 1, "CE", "EF"},
                 {5, 5, "CE FA ED FE CE", "EF BE AD DE EF"},
                 {31, 31, PatternHex(freshFillPattern, 31), PatternHex(freedFillPattern, 31)}};
    for (const auto& c : cases) {
        unsigned char* body = static_cast<unsigned char*>(::operator new(c.request));
        AllocationUnit* unit = FindAllocationUnit(body);
        ASSERT_NE(nullptr, unit) << c.request;
        EXPECT_EQ(c.body + 32, unit->actualSize) << c.request;
        EXPECT_EQ(c.body, unit->reportedSize) << c.request;
        EXPECT_EQ(body - 16, unit->actualAddress) << c.request;
        EXPECT_STREQ("??", unit->ownerFile);
        EXPECT_STREQ("??", unit->ownerFunction);
        EXPECT_EQ(1u, unit->allocationType);
        EXPECT_EQ(kUnderrun + " " + c.fresh + " " + kOverrun, HexBytes(body - 16, c.body + 32));
        // Guards and body are scribbled over first: the release writes them anew.
        std::memset(Opaque(body - 16), 0x11, c.body + 32);
        EXPECT_EQ(kUnderrun + " " + c.freed + " " + kOverrun, ReleaseWatched(body, c.body));
    }
    EXPECT_EQ("<none>", Log());
}

// All records in use: a refused unit block is tried again by the next request,
// which takes record 0 of the new block; the record released last is used first.
TEST_F(MemtrackTest, UnitBlocksAndSpareRecords)
{
    std::vector<void*> drained;
    drained.reserve(CountSpareUnits());  // takes a record itself
    while (spareUnitList != nullptr && drained.size() < drained.capacity())
        drained.push_back(::operator new(8));
    EXPECT_EQ(0u, heap.unitBlockRequests) << "a unit block was requested while records were spare";
    EXPECT_EQ(0u, CountTrackedBlocks() % kUnitsPerBlock) << CountTrackedBlocks() << " blocks in use";
    ExpectBothRefused(200, kUnitBlockBytes);
    EXPECT_EQ(2u, heap.unitBlockRequests);
    void* extra = ::operator new(8);
    ASSERT_EQ(3u, heap.unitBlockRequests);
    // The request took record 0 of the new block: records 1 to 255 follow in order.
    AllocationUnit* unit = FindAllocationUnit(extra);
    AllocationUnit* spare = spareUnitList;
    for (unsigned i = 1; i < kUnitsPerBlock && spare != nullptr; ++i, spare = spare->nextUnit)
        ASSERT_EQ(unit + i, spare) << "spare record " << i;
    EXPECT_EQ(nullptr, spare);
    for (void* b : drained)
        ::operator delete(b);

    ::operator delete(extra);
    EXPECT_EQ(unit, spareUnitList);
    void* again = ::operator new(200);
    EXPECT_EQ(unit, FindAllocationUnit(again));
    ::operator delete(again);
    EXPECT_EQ(Lines(kUnitBlockLine, 2), Log());
}

// Three bodies 65536 bytes apart in one chain, newest first: the head or the
// middle record released, the other two stay linked and findable.
TEST_F(MemtrackTest, BlocksSharingAChainStayFindableWhicheverIsReleasedFirst)
{
    heap.arenaSize = 64 + 32;
    const uint32_t bucket = UnitHashBucket(arena + 16);
    AllocationUnit* const earlier = unitHashTable[bucket];
    for (int gone : {1, 2}) {
        SCOPED_TRACE(gone == 2 ? "the chain's head released first" : "the middle record released first");
        void* bodies[3] = {::operator new(64), ::operator new(64), ::operator new(64)};
        AllocationUnit* units[3];
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(arena + i * kArenaStride + 16, bodies[i]) << i;
            units[i] = FindAllocationUnit(bodies[i]);
        }
        EXPECT_EQ(units[2], unitHashTable[bucket]);
        EXPECT_EQ(units[1], units[2]->nextUnit);

        int kept = 3 - gone;
        ::operator delete(bodies[gone]);
        EXPECT_EQ(nullptr, FindAllocationUnit(bodies[gone]));
        EXPECT_EQ(units[kept], FindAllocationUnit(bodies[kept]));
        EXPECT_EQ(units[0], FindAllocationUnit(bodies[0]));
        EXPECT_EQ(units[kept], unitHashTable[bucket]);
        EXPECT_EQ(nullptr, units[kept]->prevUnit) << "the chain's head has a predecessor";
        EXPECT_EQ(units[0], units[kept]->nextUnit);
        EXPECT_EQ(units[kept], units[0]->prevUnit);
        ::operator delete(bodies[kept]);
        ::operator delete(bodies[0]);
        EXPECT_EQ(earlier, unitHashTable[bucket]);
    }
    EXPECT_EQ("<none>", Log());
}

TEST_F(MemtrackTest, ReleaseOfAnAddressNotHeldIsOneLineAndNothingElse)
{
    unsigned char* body = static_cast<unsigned char*>(::operator new(32));
    heap.arenaSize = 100 + 32;
    unsigned char* arenaBody = static_cast<unsigned char*>(::operator new(100));  // 48 bytes before 64
    void* foreign = std::malloc(24);
    ASSERT_NE(nullptr, foreign);
    std::memset(foreign, 0x5A, 24);
    void* freed = ::operator new(24);
    void* freedAgain = Opaque(freed);
    ::operator delete(freed);
    const struct {
        const char* name;
        void* address;
        std::size_t alignment;  // 0: the plain release
    } cases[] = {{"released twice", freedAgain, 0}, {"from malloc", foreign, 0}, {"inside a body", body + 1, 0},
                 {"inside a body, its next bucket", body + 16, 0},
                 {"inside a plain body, by the over-aligned release", arenaBody + 48, 64}, {"null", nullptr, 0}};
    for (const auto& c : cases) {
        std::remove("memory.log");
        State before = TrackerState();
        if (c.alignment != 0)
            ::operator delete(Opaque(c.address), std::align_val_t(c.alignment));
        else
            ::operator delete(Opaque(c.address));
        EXPECT_EQ(before, TrackerState()) << c.name;
        EXPECT_EQ(c.address != nullptr ? kNeverAllocatedLine : "<none>", Log()) << c.name;
    }
    EXPECT_EQ(PatternHex(0x5A5A5A5A, 24), HexBytes(foreign, 24));
    EXPECT_EQ(PatternHex(freshFillPattern, 32), HexBytes(body, 32));
    EXPECT_EQ(PatternHex(freshFillPattern, 100), HexBytes(arenaBody, 100));
    std::free(foreign);
    ::operator delete(body);
    ::operator delete(arenaBody);
}

// Numbers 1, 2, 3, then two refusals before the handler lets the heap serve.
TEST_F(MemtrackTest, NumbersInRequestOrderAndTheNewHandlerConsulted)
{
    static int handlerCalls;
    uint32_t before = allocationCounter;
    void* blocks[4] = {::operator new(8), ::operator new[](16), ::operator new(24), nullptr};
    heap.refuseSize = 300 + 32;
    std::set_new_handler([] {
        if (++handlerCalls == 2)
            heap.refuseSize = 0;
    });
    blocks[3] = ::operator new(300);
    // The handler's bad_alloc ends the non-throwing form with null.
    heap.refuseSize = 300 + 32;
    std::set_new_handler([] {
        ++handlerCalls;
        throw std::bad_alloc();
    });
    void* refused = ::operator new(300, std::nothrow);
    std::set_new_handler(nullptr);
    heap.refuseSize = 0;

    EXPECT_EQ(3, handlerCalls);
    EXPECT_EQ(nullptr, refused);
    const uint32_t numbers[] = {1, 2, 3, 6};
    for (int i = 0; i < 4; ++i) {
        AllocationUnit* unit = FindAllocationUnit(blocks[i]);
        ASSERT_NE(nullptr, unit) << "block " << i;
        EXPECT_EQ(before + numbers[i], unit->allocationNumber) << "block " << i;
        ::operator delete(blocks[i]);
    }
    EXPECT_EQ(before + 7, allocationCounter);
    EXPECT_EQ(Lines(kOutOfMemoryLine, 3), Log());
}

// The padded block refused: its record goes back. A size whose padding does not
// fit 32 bits never reaches the heap cut down to fit; the largest that fits does.
TEST_F(MemtrackTest, PaddedBlockRefusedAndSizesBeyondThirtyTwoBits)
{
    ::operator delete(::operator new(8));  // a spare record
    ExpectBothRefused(200, 200 + 32);
    EXPECT_EQ(2u, heap.refused);
    unsigned requests = heap.requests;
    ExpectBothRefused(0xFFFFFFE0u);
    if (sizeof(std::size_t) > 4)
        ExpectBothRefused(static_cast<std::size_t>((uint64_t(1) << 32) + 5));
    static volatile std::size_t alignedSize = 0xFFFFFF00u;  // fits alone, not with a 4096 lead
    EXPECT_EQ(nullptr, ::operator new(alignedSize, std::align_val_t(4096), std::nothrow));
    EXPECT_EQ(requests, heap.requests) << "the heap was asked";
    heap.refuseSize = 0xFFFFFFFFu;
    EXPECT_EQ(nullptr, TrackedAllocate(nullptr, 0, nullptr, kAllocationNew, kMaxReportedSize));
    EXPECT_EQ(3u, heap.refused);
    EXPECT_EQ(Lines(kOutOfMemoryLine, sizeof(std::size_t) > 4 ? 8 : 6), Log());
}

// The request lies inside the body, before the overrun guard, and the aligned
// release gives the block back. The 64-byte case is served at the arena's start,
// so the address handed out lies as far into the body as the alignment allows.
TEST_F(MemtrackTest, OverAlignedNewIsHonouredAndReleased)
{
    heap.arenaSize = 100 + 48 + 32;
    for (std::size_t alignment : {64, 4096}) {
        std::align_val_t al{alignment};
        uint32_t live = CountTrackedBlocks();
        unsigned char* body = static_cast<unsigned char*>(::operator new[](100, al));
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(body) % alignment) << static_cast<void*>(body);
        AllocationUnit* unit = FindAlignedAllocationUnit(body, alignment);
        ASSERT_NE(nullptr, unit) << alignment;
        if (alignment == 64) {
            EXPECT_EQ(arena + 16, unit->reportedAddress);
        }
        EXPECT_LE(body + 100, static_cast<unsigned char*>(unit->reportedAddress) + unit->reportedSize);
        EXPECT_EQ(PatternHex(freshFillPattern, 100), HexBytes(body, 100));
        void* heapBlock = unit->actualAddress;
        ::operator delete[](body, 100, al);
        EXPECT_EQ(heapBlock, heap.lastReleased) << alignment;
        EXPECT_EQ(live, CountTrackedBlocks()) << alignment;
    }
    EXPECT_EQ("<none>", Log());
}

// On i686 the run-time's aligned allocation adds an overhead of its own to each
// request: no size near 4 GiB may reach it and wrap round to a small block.
TEST_F(MemtrackTest, SizesJustUnderFourGibibytesAreRefusedOnTheRealHeap)
{
    if (sizeof(void*) != 4) {
        GTEST_SKIP() << "only a 32-bit run-time heap can be asked for these sizes and wrap";
    }
    trackerHeap = {&DefaultHeapAllocate, &DefaultHeapRelease};
    for (uint64_t size = 0xFFFFFFC0u; size <= 0xFFFFFFFFu; ++size)
        ExpectBothRefused(static_cast<std::size_t>(size));
    EXPECT_EQ(Lines(kOutOfMemoryLine, 2 * 64), Log());
}

// Runs this executable again in the current directory as a fresh process doing
// the given actions (see main); its exit code. asNobody: as user nobody.
int RunLogChild(const std::string& actions, [[maybe_unused]] bool asNobody = false)
{
#ifdef _WIN32
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    return std::system((std::string(self) + " --log-child " + actions).c_str());
#else
    std::string command = std::filesystem::read_symlink("/proc/self/exe").string() + " --log-child " + actions;
    if (asNobody)
        command = "setpriv --reuid=65534 --regid=65534 --clear-groups " + command;
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

TEST_F(MemtrackTest, EachRunWithFailuresStartsAFreshFileAndOneWithoutLeavesItAlone)
{
    ASSERT_EQ(0, RunLogChild("alloc"));
    EXPECT_EQ("<none>", Log());
    std::ofstream("memory.log", std::ios::binary) << kNeverAllocatedLine << "stale\r\npartial";
    ASSERT_EQ(0, RunLogChild("alloc"));
    EXPECT_EQ(std::string(kNeverAllocatedLine) + "stale\r\npartial", Log());
    ASSERT_EQ(0, RunLogChild("double-delete alloc too-big"));
    EXPECT_EQ(std::string(kNeverAllocatedLine) + kOutOfMemoryLine, Log());
    ASSERT_EQ(0, RunLogChild("too-big"));
    EXPECT_EQ(kOutOfMemoryLine, Log());
}

#ifndef _WIN32  // no permissions to take away under Wine
TEST_F(MemtrackTest, RunInADirectoryItCannotWriteGoesOnWithoutItsLines)
{
    using std::filesystem::perms;
    std::filesystem::permissions(".", perms(0755));  // the child may run as nobody
    std::filesystem::create_directory("locked");
    std::filesystem::permissions("locked", perms(0555));
    std::filesystem::current_path("locked");
    int code = RunLogChild("double-delete too-big alloc", geteuid() == 0);
    bool written = std::filesystem::exists("memory.log");
    std::filesystem::current_path("..");
    EXPECT_EQ(0, code);
    EXPECT_FALSE(written);
}
#endif

// A fresh process: each action must behave as promised; else 10 + its index.
int RunLogChildActions(int count, char** actions)
{
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        if (std::strcmp(actions[i], "alloc") == 0) {
            int* number = new int(7);
            ok = FindAllocationUnit(number) != nullptr;
            delete number;
        } else if (std::strcmp(actions[i], "double-delete") == 0) {
            void* block = ::operator new(16);
            void* again = Opaque(block);
            ::operator delete(block);
            ::operator delete(again);
            ok = true;
        } else if (std::strcmp(actions[i], "too-big") == 0) {
            static volatile std::size_t size = 0xFFFFFFF0u;  // + 32 does not fit 32 bits
            ok = ::operator new(size, std::nothrow) == nullptr;
        }
        if (!ok)
            return 10 + i;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--log-child") == 0)
        return RunLogChildActions(argc - 2, argv + 2);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
