// The tracker core: block layout and patterns, records, chains, numbering,
// and its failures with the exact lines they leave in "memory.log".
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "memtrack/memtrack.h"
#include "scripted_heap.h"
#include "test_support.h"

// Requested while this executable is still being statically initialised.
void* const staticInitBlock = ::operator new(24);
const bool staticInitBlockTracked = FindAllocationUnit(staticInitBlock) != nullptr;

namespace {

TEST(StaticInitialisation, BlocksRequestedBeforeMainAreTracked)
{
    EXPECT_TRUE(staticInitBlockTracked);
    AllocationUnit* unit = FindAllocationUnit(staticInitBlock);
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(24u, unit->reportedSize);
    EXPECT_EQ(PatternHex(freshFillPattern, 24), HexBytes(staticInitBlock, 24));
}

const std::string kUnderrunHex = PatternHex(underrunGuardPattern, 16);
const std::string kOverrunHex = PatternHex(overrunGuardPattern, 16);
const char kNeverAllocatedLine[] = "Request to deallocate RAM that was never allocated\r\n";
const char kUnitBlockLine[] = "Unable to allocate RAM for internal memory tracking data\r\n";
const char kOutOfMemoryLine[] = "Request for allocation failed. Out of memory.\r\n";

// Each test runs in its own current directory with the scripted heap installed.
class TrackerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.ok()) << "no scratch directory"; }

    std::string Log()
    {
        std::string bytes;
        ReadFileBytes("memory.log", &bytes);
        return bytes;
    }

    // Every byte of a record except its spare-list link is zero.
    static bool SpareRecordIsClear(const AllocationUnit* unit)
    {
        AllocationUnit copy;
        std::memcpy(&copy, unit, sizeof copy);
        copy.nextUnit = nullptr;
        static const unsigned char zero[sizeof(AllocationUnit)] = {};
        return std::memcmp(&copy, zero, sizeof copy) == 0;
    }

    ScratchDirectory scratch_;
    ScriptedHeapScope heap_;
};

// Releasing the block through operator delete while the heap copies it first.
struct GivenBack {
    bool seen;
    std::string bytes;
    void* releasedBlock;
};

GivenBack ReleaseWatched(void* body, uint32_t size)
{
    scriptedHeap.watchBlock = static_cast<unsigned char*>(body) - 16;
    scriptedHeap.watchLength = size + 32;
    scriptedHeap.watchSeen = false;
    ::operator delete(body);
    void* released = scriptedHeap.lastReleased;
    scriptedHeap.watchBlock = nullptr;
    return GivenBack{scriptedHeap.watchSeen, HexBytes(scriptedHeap.watched, size + 32), released};
}

TEST_F(TrackerTest, ZeroByteRequestGetsOneGuardedByte)
{
    uint32_t before = allocationCounter;
    unsigned char* first = static_cast<unsigned char*>(::operator new(0));
    std::size_t requested = scriptedHeap.lastRequestSize;
    unsigned char* second = static_cast<unsigned char*>(::operator new(0));
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(first, second);

    AllocationUnit* unit = FindAllocationUnit(first);
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(1u, unit->reportedSize);
    EXPECT_EQ(33u, unit->actualSize);
    EXPECT_EQ(33u, requested);
    EXPECT_EQ(first - 16, unit->actualAddress);
    EXPECT_EQ(first, unit->reportedAddress);
    EXPECT_EQ(kUnderrunHex + " CE " + kOverrunHex, HexBytes(first - 16, 33));
    EXPECT_STREQ("??", unit->ownerFile);
    EXPECT_STREQ("??", unit->ownerFunction);
    EXPECT_EQ(0, unit->ownerLine);
    EXPECT_EQ(1u, unit->allocationType);
    EXPECT_EQ(0, unit->breakOnDealloc);
    EXPECT_EQ(0, unit->breakOnRealloc);
    EXPECT_EQ(before + 1, unit->allocationNumber);
    ASSERT_NE(nullptr, FindAllocationUnit(second));
    EXPECT_EQ(before + 2, FindAllocationUnit(second)->allocationNumber);

    GivenBack back = ReleaseWatched(first, 1);
    EXPECT_TRUE(back.seen);
    EXPECT_EQ(kUnderrunHex + " EF " + kOverrunHex, back.bytes);
    ::operator delete(second);
}

TEST_F(TrackerTest, FiveByteBodyWhenHandedOutAndGivenBack)
{
    unsigned char* body = static_cast<unsigned char*>(::operator new(5));
    std::size_t requested = scriptedHeap.lastRequestSize;
    ASSERT_NE(nullptr, body);
    EXPECT_EQ("CE FA ED FE CE", HexBytes(body, 5));
    EXPECT_EQ("0D F0 AD BA 0D F0 AD BA 0D F0 AD BA 0D F0 AD BA", HexBytes(body - 16, 16));
    EXPECT_EQ("DE C0 AD DE DE C0 AD DE DE C0 AD DE DE C0 AD DE", HexBytes(body + 5, 16));
    EXPECT_EQ(37u, requested);

    void* heapBlock = Opaque(body - 16);
    GivenBack back = ReleaseWatched(body, 5);
    ASSERT_TRUE(back.seen) << "the block did not reach the heap";
    EXPECT_EQ(heapBlock, back.releasedBlock);
    EXPECT_EQ("0D F0 AD BA 0D F0 AD BA 0D F0 AD BA 0D F0 AD BA "
              "EF BE AD DE EF "
              "DE C0 AD DE DE C0 AD DE DE C0 AD DE DE C0 AD DE",
              back.bytes);
}

TEST_F(TrackerTest, GuardsAndPatternsForEverySizeClass)
{
    const uint32_t sizes[] = {1, 2, 3, 4, 6, 7, 8, 15, 16, 17, 31, 33, 64, 1000, 4096};
    for (uint32_t size : sizes) {
        SCOPED_TRACE(size);
        unsigned char* body = static_cast<unsigned char*>(::operator new(size));
        ASSERT_NE(nullptr, body);
        EXPECT_EQ(kUnderrunHex + " " + PatternHex(freshFillPattern, size) + " " + kOverrunHex,
                  HexBytes(body - 16, size + 32));
        GivenBack back = ReleaseWatched(body, size);
        EXPECT_TRUE(back.seen);
        EXPECT_EQ(kUnderrunHex + " " + PatternHex(freedFillPattern, size) + " " + kOverrunHex, back.bytes);
    }
}

// A caller that overran its body still gets fresh guards written on release.
TEST_F(TrackerTest, GuardsAreRewrittenNotCheckedOnRelease)
{
    unsigned char* body = static_cast<unsigned char*>(::operator new(8));
    ASSERT_NE(nullptr, body);
    std::memset(static_cast<unsigned char*>(Opaque(body)) - 16, 0x11, 40);
    GivenBack back = ReleaseWatched(body, 8);
    EXPECT_TRUE(back.seen);
    EXPECT_EQ(kUnderrunHex + " EF BE AD DE EF BE AD DE " + kOverrunHex, back.bytes);
    EXPECT_EQ("", Log());
}

TEST(WipeAllocationUnit, WritesBodyAndGuardsAndNothingElse)
{
    for (uint32_t size = 0; size <= 9; ++size) {
        SCOPED_TRACE(size);
        alignas(16) unsigned char block[64];
        std::memset(block, 0x55, sizeof block);
        AllocationUnit unit;
        std::memset(&unit, 0, sizeof unit);
        unit.actualSize = size + 32;
        unit.reportedSize = size;
        unit.actualAddress = block;
        unit.reportedAddress = block + 16;
        WipeAllocationUnit(&unit, 0x11223344);
        std::string body = PatternHex(0x11223344, size);
        EXPECT_EQ(kUnderrunHex + (size ? " " + body : "") + " " + kOverrunHex, HexBytes(block, size + 32));
        EXPECT_EQ(PatternHex(0x55555555, 64 - size - 32), HexBytes(block + size + 32, 64 - size - 32));
    }
    EXPECT_EQ("44 33 22 11 44 33", PatternHex(0x11223344, 6));
}

TEST_F(TrackerTest, AllocationNumbersRunInOrderWithAGapAfterAFailure)
{
    uint32_t before = allocationCounter;
    void* first = ::operator new(8);
    void* second = ::operator new[](16);
    void* third = ::operator new(24);
    scriptedHeap.refuseSize = 77 + 32;
    bool threw = false;
    try {
        ::operator delete(::operator new(77));
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    scriptedHeap.refuseSize = 0;
    void* fifth = ::operator new(8);
    uint32_t after = allocationCounter;

    EXPECT_TRUE(threw);
    ASSERT_NE(nullptr, FindAllocationUnit(first));
    ASSERT_NE(nullptr, FindAllocationUnit(second));
    ASSERT_NE(nullptr, FindAllocationUnit(third));
    ASSERT_NE(nullptr, FindAllocationUnit(fifth));
    EXPECT_EQ(before + 1, FindAllocationUnit(first)->allocationNumber);
    EXPECT_EQ(before + 2, FindAllocationUnit(second)->allocationNumber);
    EXPECT_EQ(before + 3, FindAllocationUnit(third)->allocationNumber);
    EXPECT_EQ(before + 5, FindAllocationUnit(fifth)->allocationNumber);
    EXPECT_EQ(before + 5, after);
    EXPECT_EQ(kOutOfMemoryLine, Log());
    ::operator delete(first);
    ::operator delete[](second);
    ::operator delete(third);
    ::operator delete(fifth);
}

TEST_F(TrackerTest, SecondUnitBlockOnlyWhenEveryRecordIsInUse)
{
    unsigned unitRequestsBefore = scriptedHeap.unitBlockRequests;
    unsigned unitRequests;
    bool spareEmpty;
    void* extra;
    {
        SpareRecordDrain drain;
        spareEmpty = spareUnitList == nullptr;
        unitRequests = scriptedHeap.unitBlockRequests - unitRequestsBefore;
        extra = ::operator new(8);
    }
    unsigned newUnitRequests = scriptedHeap.unitBlockRequests - unitRequestsBefore - unitRequests;
    AllocationUnit* block = static_cast<AllocationUnit*>(scriptedHeap.lastUnitBlock);

    EXPECT_TRUE(spareEmpty);
    EXPECT_EQ(0u, unitRequests) << "a unit block was requested while spare records remained";
    ASSERT_EQ(1u, newUnitRequests);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(block, FindAllocationUnit(extra)) << "the request did not take record 0 of the new block";
    // The drained blocks went back on top of records 1 to 255 of the new block.
    AllocationUnit* unit = spareUnitList;
    while (unit != nullptr && unit != block + 1)
        unit = unit->nextUnit;
    ASSERT_EQ(block + 1, unit) << "record 1 of the new block is not spare";
    for (unsigned i = 1; i < kUnitsPerBlock; ++i) {
        ASSERT_EQ(block + i, unit) << "record " << i;
        EXPECT_TRUE(SpareRecordIsClear(unit)) << "record " << i;
        unit = unit->nextUnit;
    }
    EXPECT_EQ(nullptr, unit);
    ::operator delete(extra);
}

TEST_F(TrackerTest, ReleasedRecordIsTheNextOneUsed)
{
    void* body = ::operator new(40);
    AllocationUnit* unit = FindAllocationUnit(body);
    ASSERT_NE(nullptr, unit);
    ::operator delete(body);
    EXPECT_EQ(nullptr, FindAllocationUnit(body));
    EXPECT_EQ(unit, spareUnitList);
    EXPECT_TRUE(SpareRecordIsClear(unit));

    void* again = ::operator new(200);
    EXPECT_EQ(unit, FindAllocationUnit(again));
    EXPECT_EQ(200u, unit->reportedSize);
    ::operator delete(again);
}

// Bodies 65536 bytes apart share bits 4 to 15, so the arena puts three blocks
// into one chain: newest first.
class SharedChainTest : public TrackerTest {
protected:
    void SetUp() override
    {
        TrackerTest::SetUp();
        scriptedHeap.arenaRequestSize = 64 + 32;
        bucket_ = UnitHashBucket(ArenaSlot(0) + 16);
        earlier_ = unitHashTable[bucket_];
    }

    AllocationUnit* Allocate()
    {
        void* body = ::operator new(64);
        return FindAllocationUnit(body);
    }

    uint32_t bucket_ = 0;
    AllocationUnit* earlier_ = nullptr;  // what the bucket held before the test
};

TEST_F(SharedChainTest, BlocksAreChainedNewestFirst)
{
    AllocationUnit* a = Allocate();
    AllocationUnit* b = Allocate();
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(ArenaSlot(0), a->actualAddress);
    EXPECT_EQ(ArenaSlot(1), b->actualAddress);
    EXPECT_EQ(bucket_, UnitHashBucket(b->reportedAddress));
    EXPECT_EQ(b, unitHashTable[bucket_]);
    EXPECT_EQ(nullptr, b->prevUnit);
    EXPECT_EQ(a, b->nextUnit);
    EXPECT_EQ(b, a->prevUnit);
    EXPECT_EQ(earlier_, a->nextUnit);
    if (earlier_ != nullptr) {
        EXPECT_EQ(a, earlier_->prevUnit);
    }
    // Same bucket, not held.
    EXPECT_EQ(nullptr, FindAllocationUnit(ArenaSlot(2) + 16));
    ::operator delete(b->reportedAddress);
    ::operator delete(a->reportedAddress);
    EXPECT_EQ(earlier_, unitHashTable[bucket_]);
}

TEST_F(SharedChainTest, ReleasingTheSecondLeavesTheFirstFindable)
{
    AllocationUnit* a = Allocate();
    AllocationUnit* b = Allocate();
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    void* bodyA = a->reportedAddress;
    void* bodyB = b->reportedAddress;
    ::operator delete(bodyA);
    EXPECT_EQ(nullptr, FindAllocationUnit(bodyA));
    EXPECT_EQ(b, FindAllocationUnit(bodyB));
    EXPECT_EQ(b, unitHashTable[bucket_]);
    EXPECT_EQ(earlier_, b->nextUnit);
    EXPECT_EQ(nullptr, b->prevUnit);
    if (earlier_ != nullptr) {
        EXPECT_EQ(b, earlier_->prevUnit);
    }
    ::operator delete(bodyB);
    EXPECT_EQ("", Log());
}

TEST_F(SharedChainTest, ReleasingTheFirstLeavesTheSecondFindable)
{
    AllocationUnit* a = Allocate();
    AllocationUnit* b = Allocate();
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    void* bodyA = a->reportedAddress;
    void* bodyB = b->reportedAddress;
    ::operator delete(bodyB);
    EXPECT_EQ(nullptr, FindAllocationUnit(bodyB));
    EXPECT_EQ(a, FindAllocationUnit(bodyA));
    EXPECT_EQ(a, unitHashTable[bucket_]);
    // The new first record of the chain has no predecessor.
    EXPECT_EQ(nullptr, a->prevUnit);
    EXPECT_EQ(earlier_, a->nextUnit);
    ::operator delete(bodyA);
    EXPECT_EQ(earlier_, unitHashTable[bucket_]);
    EXPECT_EQ("", Log());
}

TEST_F(SharedChainTest, ReleasingTheMiddleJoinsItsNeighbours)
{
    AllocationUnit* a = Allocate();
    AllocationUnit* b = Allocate();
    AllocationUnit* c = Allocate();
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    ASSERT_NE(nullptr, c);
    void* bodyA = a->reportedAddress;
    void* bodyC = c->reportedAddress;
    ::operator delete(b->reportedAddress);
    EXPECT_EQ(c, unitHashTable[bucket_]);
    EXPECT_EQ(a, c->nextUnit);
    EXPECT_EQ(c, a->prevUnit);
    EXPECT_EQ(a, FindAllocationUnit(bodyA));
    EXPECT_EQ(c, FindAllocationUnit(bodyC));
    ::operator delete(bodyA);
    EXPECT_EQ(earlier_, c->nextUnit);
    EXPECT_EQ(c, FindAllocationUnit(bodyC));
    ::operator delete(bodyC);
}

// State that a refused release must leave exactly as it was.
struct TrackerSnapshot {
    uint32_t counter;
    AllocationUnit* spareHead;
    uint32_t inUse;
    unsigned heapReleases;
    bool operator==(const TrackerSnapshot& other) const
    {
        return counter == other.counter && spareHead == other.spareHead && inUse == other.inUse &&
               heapReleases == other.heapReleases;
    }
};

TrackerSnapshot Snapshot()
{
    return {allocationCounter, spareUnitList, CountTrackedBlocks(), scriptedHeap.releases};
}

TEST_F(TrackerTest, SecondReleaseOfABlockIsLoggedAndChangesNothing)
{
    void* body = ::operator new(24);
    void* again = Opaque(body);
    ::operator delete(body);
    TrackerSnapshot before = Snapshot();
    ::operator delete(again);
    TrackerSnapshot after = Snapshot();
    EXPECT_TRUE(before == after);
    EXPECT_EQ(kNeverAllocatedLine, Log());
}

TEST_F(TrackerTest, ReleaseOfAMallocAddressIsLoggedAndChangesNothing)
{
    void* foreign = std::malloc(24);
    ASSERT_NE(nullptr, foreign);
    std::memset(foreign, 0x5A, 24);
    TrackerSnapshot before = Snapshot();
    ::operator delete(Opaque(foreign));
    TrackerSnapshot after = Snapshot();
    EXPECT_TRUE(before == after);
    EXPECT_EQ(PatternHex(0x5A5A5A5A, 24), HexBytes(foreign, 24));
    EXPECT_EQ(kNeverAllocatedLine, Log());
    std::free(foreign);
}

TEST_F(TrackerTest, ReleaseInsideATrackedBodyIsLoggedAndChangesNothing)
{
    unsigned char* body = static_cast<unsigned char*>(::operator new(32));
    TrackerSnapshot before = Snapshot();
    ::operator delete(Opaque(body + 16));
    ::operator delete[](Opaque(body + 1));
    TrackerSnapshot after = Snapshot();
    EXPECT_TRUE(before == after);
    EXPECT_EQ(PatternHex(freshFillPattern, 32), HexBytes(body, 32));
    EXPECT_EQ(std::string(kNeverAllocatedLine) + kNeverAllocatedLine, Log());
    ::operator delete(body);
}

TEST_F(TrackerTest, ReleaseOfNullDoesNothing)
{
    TrackerSnapshot before = Snapshot();
    ::operator delete(nullptr);
    ::operator delete[](nullptr);
    ::operator delete(nullptr, std::size_t(8));
    ::operator delete(nullptr, std::align_val_t(64));
    TrackerSnapshot after = Snapshot();
    EXPECT_TRUE(before == after);
    std::string bytes;
    EXPECT_FALSE(ReadFileBytes("memory.log", &bytes)) << "memory.log holds '" << bytes << "'";
}

struct Outcome {
    bool threw;
    char what[64];
    void* nothrowResult;
};

// One throwing and one non-throwing request; nothing else runs in between.
Outcome RequestBoth(std::size_t size)
{
    Outcome outcome{};
    outcome.nothrowResult = reinterpret_cast<void*>(0xdeadbeef);
    try {
        ::operator delete(::operator new(size));
    } catch (const std::bad_alloc& failure) {
        outcome.threw = true;
        std::snprintf(outcome.what, sizeof outcome.what, "%s", failure.what());
    }
    outcome.nothrowResult = ::operator new[](size, std::nothrow);
    return outcome;
}

TEST_F(TrackerTest, RefusedUnitBlockIsLoggedAndThrown)
{
    SpareRecordDrain drain;
    ASSERT_EQ(nullptr, spareUnitList);
    uint32_t before = allocationCounter;
    scriptedHeap.refuseSize = kUnitBlockBytes;
    Outcome outcome = RequestBoth(24);
    scriptedHeap.refuseSize = 0;
    uint32_t after = allocationCounter;
    bool stillEmpty = spareUnitList == nullptr;

    EXPECT_TRUE(outcome.threw);
    EXPECT_STREQ("bad allocation", outcome.what);
    EXPECT_EQ(nullptr, outcome.nothrowResult);
    EXPECT_EQ(before + 2, after);
    EXPECT_TRUE(stillEmpty) << "a record was taken without a unit block";
    EXPECT_EQ(2u, scriptedHeap.refused);
    EXPECT_EQ(std::string(kUnitBlockLine) + kUnitBlockLine, Log());
}

TEST_F(TrackerTest, UnitBlockIsTriedAgainAfterARefusal)
{
    SpareRecordDrain drain;
    uint32_t before = allocationCounter;
    unsigned unitRequestsBefore = scriptedHeap.unitBlockRequests;
    scriptedHeap.refuseSize = kUnitBlockBytes;
    void* refused = ::operator new(24, std::nothrow);
    scriptedHeap.refuseSize = 0;
    void* granted = ::operator new(24, std::nothrow);
    uint32_t after = allocationCounter;
    unsigned unitRequests = scriptedHeap.unitBlockRequests - unitRequestsBefore;
    AllocationUnit* unit = FindAllocationUnit(granted);

    EXPECT_EQ(nullptr, refused);
    ASSERT_NE(nullptr, granted);
    EXPECT_EQ(before + 2, after);
    EXPECT_EQ(2u, unitRequests);
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(before + 2, unit->allocationNumber);
    EXPECT_EQ(scriptedHeap.lastUnitBlock, unit);
    EXPECT_EQ(kUnitBlockLine, Log());
    ::operator delete(granted);
}

TEST_F(TrackerTest, RefusedPaddedBlockIsLoggedAndThrown)
{
    ::operator delete(::operator new(8));  // at least one spare record
    AllocationUnit* spareHead = spareUnitList;
    uint32_t inUse = CountTrackedBlocks();
    uint32_t before = allocationCounter;
    scriptedHeap.refuseSize = 200 + 32;
    Outcome outcome = RequestBoth(200);
    scriptedHeap.refuseSize = 0;
    uint32_t after = allocationCounter;

    EXPECT_TRUE(outcome.threw);
    EXPECT_STREQ("bad allocation", outcome.what);
    EXPECT_EQ(nullptr, outcome.nothrowResult);
    EXPECT_EQ(before + 2, after);
    EXPECT_EQ(2u, scriptedHeap.refused);
    // The record taken for the request went back; nothing was linked.
    EXPECT_EQ(spareHead, spareUnitList);
    EXPECT_TRUE(SpareRecordIsClear(spareHead));
    EXPECT_EQ(inUse, CountTrackedBlocks());
    EXPECT_EQ(std::string(kOutOfMemoryLine) + kOutOfMemoryLine, Log());
}

// Sizes whose padding no longer fits 32 bits never reach the heap cut down.
TEST_F(TrackerTest, RequestsBeyondThirtyTwoBitSizesAreRefused)
{
    ::operator delete(::operator new(8));
    uint32_t before = allocationCounter;
    unsigned requestsBefore = scriptedHeap.requests;
    scriptedHeap.refuseAll = true;
    Outcome edge = RequestBoth(0xFFFFFFE0u);
    unsigned requestsAtEdge = scriptedHeap.requests - requestsBefore;
    void* largest = TrackedAllocate(nullptr, 0, nullptr, kAllocationNew, kMaxReportedSize);
    std::size_t largestRequest = scriptedHeap.lastRequestSize;
    unsigned requestsAfterLargest = scriptedHeap.requests - requestsBefore;
    Outcome wide{};
    if (sizeof(std::size_t) > 4) {
        scriptedHeap.refuseAll = false;  // a request cut to 32 bits would be granted
        wide = RequestBoth(static_cast<std::size_t>((uint64_t(1) << 32) + 5));
    }
    scriptedHeap.refuseAll = false;
    unsigned requestsAtEnd = scriptedHeap.requests - requestsBefore;
    uint32_t after = allocationCounter;

    EXPECT_TRUE(edge.threw);
    EXPECT_EQ(nullptr, edge.nothrowResult);
    EXPECT_EQ(0u, requestsAtEdge) << "last size asked " << scriptedHeap.lastRequestSize;
    EXPECT_EQ(nullptr, largest);
    EXPECT_EQ(1u, requestsAfterLargest);
    EXPECT_EQ(std::size_t(0xFFFFFFFFu), largestRequest);
    std::string expected = std::string(kOutOfMemoryLine) + kOutOfMemoryLine + kOutOfMemoryLine;
    if (sizeof(std::size_t) > 4) {
        EXPECT_TRUE(wide.threw);
        EXPECT_EQ(nullptr, wide.nothrowResult);
        EXPECT_EQ(1u, requestsAtEnd) << "last size asked " << scriptedHeap.lastRequestSize;
        EXPECT_EQ(before + 5, after);
        expected += std::string(kOutOfMemoryLine) + kOutOfMemoryLine;
    } else {
        EXPECT_EQ(before + 3, after);
    }
    EXPECT_EQ(expected, Log());
}

int handlerCalls;

void HandlerThatFreesOnSecondCall()
{
    if (++handlerCalls == 2)
        scriptedHeap.refuseSize = 0;
}

void HandlerThatGivesUp()
{
    ++handlerCalls;
    std::set_new_handler(nullptr);
}

void HandlerThatThrows()
{
    ++handlerCalls;
    throw std::bad_alloc();
}

class NewHandlerTest : public TrackerTest {
protected:
    void TearDown() override { std::set_new_handler(nullptr); }
};

TEST_F(NewHandlerTest, HandlerIsCalledUntilTheRequestSucceeds)
{
    handlerCalls = 0;
    uint32_t before = allocationCounter;
    std::set_new_handler(&HandlerThatFreesOnSecondCall);
    scriptedHeap.refuseSize = 300 + 32;
    void* body = ::operator new(300);
    std::set_new_handler(nullptr);
    scriptedHeap.refuseSize = 0;

    EXPECT_EQ(2, handlerCalls);
    ASSERT_NE(nullptr, FindAllocationUnit(body));
    EXPECT_EQ(before + 3, FindAllocationUnit(body)->allocationNumber);
    EXPECT_EQ(std::string(kOutOfMemoryLine) + kOutOfMemoryLine, Log());
    ::operator delete(body);
}

TEST_F(NewHandlerTest, BadAllocFollowsOnceTheHandlerIsGone)
{
    handlerCalls = 0;
    std::set_new_handler(&HandlerThatGivesUp);
    scriptedHeap.refuseSize = 300 + 32;
    bool threw = false;
    try {
        ::operator delete(::operator new(300));
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    scriptedHeap.refuseSize = 0;
    EXPECT_TRUE(threw);
    EXPECT_EQ(1, handlerCalls);
    EXPECT_EQ(nullptr, std::get_new_handler());
    EXPECT_EQ(std::string(kOutOfMemoryLine) + kOutOfMemoryLine, Log());
}

TEST_F(NewHandlerTest, NonThrowingFormReturnsNullWhenTheHandlerThrows)
{
    handlerCalls = 0;
    std::set_new_handler(&HandlerThatThrows);
    scriptedHeap.refuseSize = 300 + 32;
    void* plain = ::operator new(300, std::nothrow);
    void* aligned = ::operator new(300 - 48, std::align_val_t(64), std::nothrow);
    scriptedHeap.refuseSize = 0;
    std::set_new_handler(nullptr);
    EXPECT_EQ(nullptr, plain);
    EXPECT_EQ(nullptr, aligned);
    EXPECT_EQ(2, handlerCalls);
    EXPECT_EQ(std::string(kOutOfMemoryLine) + kOutOfMemoryLine, Log());
}

TEST(StripSourcePath, ReturnsThePartAfterTheLastSeparator)
{
    const char windows[] = "C:\\src\\memtrack\\tracker.cpp";
    EXPECT_EQ(windows + 16, StripSourcePath(windows));
    const char posix[] = "/work/src/tracker.cpp";
    EXPECT_EQ(posix + 10, StripSourcePath(posix));
    // A backslash wins over a later forward slash.
    const char mixed[] = "a\\b/c.cpp";
    EXPECT_EQ(mixed + 2, StripSourcePath(mixed));
    const char bare[] = "tracker.cpp";
    EXPECT_EQ(bare, StripSourcePath(bare));
    const char directory[] = "dir\\";
    EXPECT_EQ(directory + 4, StripSourcePath(directory));
    const char empty[] = "";
    EXPECT_EQ(empty, StripSourcePath(empty));
}

TEST_F(TrackerTest, OwnerTextIsStrippedCutAndTerminated)
{
    const char file[] = "C:\\game\\src\\a_source_file_name_of_more_than_thirty_nine_characters.cpp";
    const char function[] = "CSomeClass::AFunctionNameOfMoreThanThirtyNineCharacters";
    void* named = TrackedAllocate(file, 1234, function, kAllocationNewArray, 10);
    void* anonymous = TrackedAllocate(nullptr, -7, nullptr, kAllocationNew, 3);
    AllocationUnit* unit = FindAllocationUnit(named);
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(std::string("a_source_file_name_of_more_than_thirty_"), unit->ownerFile);
    EXPECT_EQ('\0', unit->ownerFile[39]);
    EXPECT_EQ(std::string("CSomeClass::AFunctionNameOfMoreThanThir"), unit->ownerFunction);
    EXPECT_EQ('\0', unit->ownerFunction[39]);
    EXPECT_EQ(1234, unit->ownerLine);
    EXPECT_EQ(2u, unit->allocationType);
    AllocationUnit* other = FindAllocationUnit(anonymous);
    ASSERT_NE(nullptr, other);
    EXPECT_STREQ("??", other->ownerFile);
    EXPECT_STREQ("??", other->ownerFunction);
    EXPECT_EQ(std::string(40 - 3, '\0'), std::string(other->ownerFile + 3, 40 - 3));
    EXPECT_EQ(-7, other->ownerLine);
    TrackedRelease(named);
    TrackedRelease(anonymous);
}

TEST_F(TrackerTest, OperatorsPassTheCurrentOwnerAndResetIt)
{
    currentOwner = {"src/dialog/setup_dlg.cpp", 42, "CSetupDlg::OnInitDialog"};
    void* body = ::operator new(4);
    AllocationOwner afterAllocate = currentOwner;
    AllocationUnit* unit = FindAllocationUnit(body);
    ASSERT_NE(nullptr, unit);
    EXPECT_STREQ("setup_dlg.cpp", unit->ownerFile);
    EXPECT_STREQ("CSetupDlg::OnInitDialog", unit->ownerFunction);
    EXPECT_EQ(42, unit->ownerLine);
    EXPECT_STREQ("??", afterAllocate.ownerFile);
    EXPECT_EQ(0, afterAllocate.ownerLine);
    EXPECT_STREQ("??", afterAllocate.ownerFunction);

    // Every way out of an operation puts the resting owner back.
    void* again = Opaque(body);
    currentOwner = {"x.cpp", 1, "f"};
    ::operator delete(body);
    EXPECT_EQ(0, currentOwner.ownerLine);
    currentOwner = {"x.cpp", 2, "f"};
    ::operator delete(again);  // logged
    EXPECT_EQ(0, currentOwner.ownerLine);
    EXPECT_STREQ("??", currentOwner.ownerFile);
    currentOwner = {"x.cpp", 3, "f"};
    scriptedHeap.refuseSize = 50 + 32;
    EXPECT_EQ(nullptr, ::operator new(50, std::nothrow));
    scriptedHeap.refuseSize = 0;
    EXPECT_EQ(0, currentOwner.ownerLine);
    EXPECT_STREQ("??", currentOwner.ownerFunction);
    ResetCurrentOwner();
}

TEST_F(TrackerTest, CountTrackedBlocksFollowsAllocationAndRelease)
{
    uint32_t start = CountTrackedBlocks();
    void* one = ::operator new(10);
    void* two = ::operator new[](20);
    uint32_t withTwo = CountTrackedBlocks();
    ::operator delete(one);
    uint32_t withOne = CountTrackedBlocks();
    ::operator delete[](two);
    EXPECT_EQ(start + 2, withTwo);
    EXPECT_EQ(start + 1, withOne);
    EXPECT_EQ(start, CountTrackedBlocks());
}

}  // namespace
