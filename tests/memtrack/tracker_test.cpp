// The tracker core: block bytes, numbering, records and chains, and its
// failures with the exact lines they leave in "memory.log".
#include <cstdlib>
#include <cstring>
#include <new>
#include <tuple>
#include <vector>

#include "support.h"

// Requested while this executable is still being statically initialised.
void* const staticInitBlock = ::operator new(24);

namespace {

using TrackerTest = MemtrackTest;

const std::string kUnderrun = PatternHex(underrunGuardPattern, 16);
const std::string kOverrun = PatternHex(overrunGuardPattern, 16);

// Releases the body; the bytes of its heap block as the heap received them.
std::string ReleaseWatched(void* body, std::size_t size)
{
    heap.watch = static_cast<unsigned char*>(body) - 16;
    heap.watchLength = size + 32;
    ::operator delete(body);
    return heap.watch == nullptr ? HexBytes(heap.watched, size + 32) : "<not given back to the heap>";
}

// Every byte of a spare record but its link is zero.
bool IsClearSpare(const AllocationUnit* unit)
{
    static const unsigned char zero[sizeof(AllocationUnit)] = {};
    AllocationUnit copy;
    std::memcpy(&copy, unit, sizeof copy);
    copy.nextUnit = nullptr;
    return std::memcmp(&copy, zero, sizeof copy) == 0;
}

// Takes every spare record, so that the next request needs a new unit block.
std::vector<void*> DrainSpareRecords()
{
    std::vector<void*> blocks;
    blocks.reserve(CountSpareUnits());  // takes a record itself
    while (spareUnitList != nullptr && blocks.size() < blocks.capacity())
        blocks.push_back(::operator new(8));
    return blocks;
}

void ReleaseAll(const std::vector<void*>& blocks)
{
    for (void* block : blocks)
        ::operator delete(block);
}

// What a refused release must leave alone: counter, spare head, blocks in use, heap releases.
using State = std::tuple<uint32_t, const void*, uint32_t, unsigned>;
State TrackerState()
{
    return State(allocationCounter, spareUnitList, CountTrackedBlocks(), heap.releases);
}

struct Refusal {
    bool threw;
    char what[32];
    void* nothrowResult;
};

// One throwing and one non-throwing request; nothing allocates in between.
Refusal RequestBoth(std::size_t size)
{
    Refusal refusal{false, "", reinterpret_cast<void*>(0xdeadbeef)};
    try {
        ::operator delete(::operator new(size));
    } catch (const std::bad_alloc& failure) {
        refusal.threw = true;
        std::snprintf(refusal.what, sizeof refusal.what, "%s", failure.what());
    }
    refusal.nothrowResult = ::operator new[](size, std::nothrow);
    return refusal;
}

TEST_F(TrackerTest, BlockBytesWhenHandedOutAndGivenBack)
{
    ASSERT_NE(nullptr, FindAllocationUnit(staticInitBlock)) << "a block from static initialisation";
    EXPECT_EQ("0D F0 AD BA 0D F0 AD BA 0D F0 AD BA 0D F0 AD BA", kUnderrun);
    EXPECT_EQ("DE C0 AD DE DE C0 AD DE DE C0 AD DE DE C0 AD DE", kOverrun);

    unsigned char* zero = static_cast<unsigned char*>(::operator new(0));
    EXPECT_EQ(33u, heap.lastRequestSize);
    void* other = ::operator new(0);
    EXPECT_NE(zero, other);
    AllocationUnit* unit = FindAllocationUnit(zero);
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(33u, unit->actualSize);
    EXPECT_EQ(1u, unit->reportedSize);
    EXPECT_EQ(zero - 16, unit->actualAddress);
    EXPECT_STREQ("??", unit->ownerFile);
    EXPECT_STREQ("??", unit->ownerFunction);
    EXPECT_EQ(0, unit->ownerLine);
    EXPECT_EQ(1u, unit->allocationType);
    EXPECT_EQ(0, unit->breakOnDealloc | unit->breakOnRealloc);
    EXPECT_EQ(kUnderrun + " CE " + kOverrun, HexBytes(zero - 16, 33));
    EXPECT_EQ(kUnderrun + " EF " + kOverrun, ReleaseWatched(zero, 1));
    ::operator delete(other);

    // Guards and body are scribbled over first: the release writes them anew.
    unsigned char* five = static_cast<unsigned char*>(::operator new(5));
    EXPECT_EQ(kUnderrun + " CE FA ED FE CE " + kOverrun, HexBytes(five - 16, 37));
    std::memset(Opaque(five - 16), 0x11, 37);
    EXPECT_EQ(kUnderrun + " EF BE AD DE EF " + kOverrun, ReleaseWatched(five, 5));

    // Every step of the fill: runs of 16, then 8, 4 and single bytes.
    for (uint32_t size : {2u, 3u, 4u, 7u, 8u, 12u, 15u, 16u, 17u, 31u, 1000u}) {
        unsigned char* body = static_cast<unsigned char*>(::operator new(size));
        EXPECT_EQ(kUnderrun + " " + PatternHex(freshFillPattern, size) + " " + kOverrun,
                  HexBytes(body - 16, size + 32)) << size << " bytes";
        std::memset(Opaque(body - 16), 0x11, size + 32);
        EXPECT_EQ(kUnderrun + " " + PatternHex(freedFillPattern, size) + " " + kOverrun,
                  ReleaseWatched(body, size)) << size << " bytes";
    }
    EXPECT_EQ("<none>", Log());
}

TEST_F(TrackerTest, AllocationNumbersRunInRequestOrderWithAGapAfterAFailure)
{
    uint32_t before = allocationCounter;
    void* blocks[4] = {::operator new(8), ::operator new[](16), ::operator new(24), nullptr};
    heap.refuseSize = 77 + 32;
    void* refused = ::operator new(77, std::nothrow);
    heap.refuseSize = 0;
    blocks[3] = ::operator new(8);
    EXPECT_EQ(before + 5, allocationCounter);
    EXPECT_EQ(nullptr, refused);
    const uint32_t numbers[] = {1, 2, 3, 5};
    for (int i = 0; i < 4; ++i) {
        AllocationUnit* unit = FindAllocationUnit(blocks[i]);
        ASSERT_NE(nullptr, unit) << "block " << i;
        EXPECT_EQ(before + numbers[i], unit->allocationNumber) << "block " << i;
        ::operator delete(blocks[i]);
    }
    EXPECT_EQ(kOutOfMemoryLine, Log());
}

TEST_F(TrackerTest, NewUnitBlockOnlyWhenEveryRecordIsInUseAndTheLastReleasedIsUsedFirst)
{
    std::vector<void*> drained = DrainSpareRecords();
    EXPECT_EQ(0u, heap.unitBlockRequests) << "a unit block was requested while records were spare";
    EXPECT_EQ(0u, CountTrackedBlocks() % kUnitsPerBlock) << CountTrackedBlocks() << " blocks in use";
    void* extra = ::operator new(8);
    ASSERT_EQ(1u, heap.unitBlockRequests);
    AllocationUnit* block = static_cast<AllocationUnit*>(heap.lastUnitBlock);
    AllocationUnit* unit = FindAllocationUnit(extra);
    EXPECT_EQ(block, unit) << "the request did not take record 0 of the new block";
    AllocationUnit* spare = spareUnitList;
    for (unsigned i = 1; i < kUnitsPerBlock; ++i, spare = spare->nextUnit) {
        ASSERT_EQ(block + i, spare) << "spare record " << i;
        EXPECT_TRUE(IsClearSpare(spare)) << "spare record " << i;
    }
    EXPECT_EQ(nullptr, spare);
    ReleaseAll(drained);

    ::operator delete(extra);
    EXPECT_EQ(unit, spareUnitList);
    EXPECT_TRUE(IsClearSpare(unit));
    void* again = ::operator new(200);
    EXPECT_EQ(unit, FindAllocationUnit(again));
    ::operator delete(again);
}

// Bodies 65536 bytes apart share bits 4 to 15, so the arena's two blocks share a chain.
TEST_F(TrackerTest, BlocksSharingAChainStayFindableWhicheverIsReleasedFirst)
{
    heap.arenaSize = 64 + 32;
    const uint32_t bucket = UnitHashBucket(ArenaSlot(0) + 16);
    AllocationUnit* const earlier = unitHashTable[bucket];
    for (bool headFirst : {false, true}) {
        SCOPED_TRACE(headFirst ? "the chain's head released first" : "the second record released first");
        void* bodies[2] = {::operator new(64), ::operator new(64)};
        ASSERT_EQ(ArenaSlot(0) + 16, bodies[0]);
        ASSERT_EQ(ArenaSlot(1) + 16, bodies[1]);
        AllocationUnit* units[2] = {FindAllocationUnit(bodies[0]), FindAllocationUnit(bodies[1])};
        ASSERT_TRUE(units[0] != nullptr && units[1] != nullptr);
        EXPECT_EQ(units[1], unitHashTable[bucket]);  // newest first
        EXPECT_EQ(units[0], units[1]->nextUnit);
        EXPECT_EQ(units[1], units[0]->prevUnit);
        EXPECT_EQ(earlier, units[0]->nextUnit);

        int gone = headFirst ? 1 : 0, kept = 1 - gone;
        ::operator delete(bodies[gone]);
        EXPECT_EQ(nullptr, FindAllocationUnit(bodies[gone]));
        EXPECT_EQ(units[kept], FindAllocationUnit(bodies[kept]));
        EXPECT_EQ(units[kept], unitHashTable[bucket]);
        EXPECT_EQ(nullptr, units[kept]->prevUnit) << "the chain's head has a predecessor";
        EXPECT_EQ(earlier, units[kept]->nextUnit);
        ::operator delete(bodies[kept]);
        EXPECT_EQ(earlier, unitHashTable[bucket]);
        EXPECT_TRUE(earlier == nullptr || earlier->prevUnit == nullptr);
    }
    EXPECT_EQ("<none>", Log());
}

TEST_F(TrackerTest, ReleaseOfAnAddressNotHeldIsOneLineAndNothingElse)
{
    unsigned char* body = static_cast<unsigned char*>(::operator new(32));
    void* foreign = std::malloc(24);
    ASSERT_NE(nullptr, foreign);
    std::memset(foreign, 0x5A, 24);
    void* freed = ::operator new(24);
    void* freedAgain = Opaque(freed);
    ::operator delete(freed);
    // Nothing allocates from here on while the three are released.
    const struct {
        const char* name;
        void* address;
    } cases[] = {{"released twice", freedAgain}, {"from malloc", foreign}, {"inside a body", body + 1},
                 {"inside a body, its next bucket", body + 16}};
    for (const auto& c : cases) {
        std::remove("memory.log");
        State before = TrackerState();
        ::operator delete(Opaque(c.address));
        EXPECT_EQ(before, TrackerState()) << c.name;
        EXPECT_EQ(kNeverAllocatedLine, Log()) << c.name;
    }
    EXPECT_EQ(PatternHex(0x5A5A5A5A, 24), HexBytes(foreign, 24));
    EXPECT_EQ(PatternHex(freshFillPattern, 32), HexBytes(body, 32));
    std::free(foreign);
    ::operator delete(body);

    std::remove("memory.log");
    State before = TrackerState();
    ::operator delete(nullptr);
    ::operator delete[](nullptr);
    ::operator delete(nullptr, std::size_t(8));
    ::operator delete(nullptr, std::align_val_t(64));
    EXPECT_EQ(before, TrackerState());
    EXPECT_EQ("<none>", Log());
}

TEST_F(TrackerTest, RefusedUnitBlockIsLoggedThrownAndTriedAgainByTheNextRequest)
{
    std::vector<void*> drained = DrainSpareRecords();
    uint32_t before = allocationCounter;
    heap.refuseSize = kUnitBlockBytes;
    Refusal refusal = RequestBoth(24);
    heap.refuseSize = 0;
    bool stillEmpty = spareUnitList == nullptr;
    void* granted = ::operator new(24);

    EXPECT_TRUE(refusal.threw);
    EXPECT_STREQ("bad allocation", refusal.what);
    EXPECT_EQ(nullptr, refusal.nothrowResult);
    EXPECT_TRUE(stillEmpty) << "a record was taken without a unit block";
    EXPECT_EQ(3u, heap.unitBlockRequests);
    AllocationUnit* unit = FindAllocationUnit(granted);
    EXPECT_EQ(heap.lastUnitBlock, unit);
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(before + 3, unit->allocationNumber);
    EXPECT_EQ(std::string(kUnitBlockLine) + kUnitBlockLine, Log());
    ::operator delete(granted);
    ReleaseAll(drained);
}

TEST_F(TrackerTest, RefusedPaddedBlockIsLoggedThrownAndItsRecordGoesBack)
{
    ::operator delete(::operator new(8));  // at least one spare record
    State before = TrackerState();
    AllocationUnit* spareHead = spareUnitList;
    heap.refuseSize = 200 + 32;
    Refusal refusal = RequestBoth(200);
    heap.refuseSize = 0;

    EXPECT_TRUE(refusal.threw);
    EXPECT_STREQ("bad allocation", refusal.what);
    EXPECT_EQ(nullptr, refusal.nothrowResult);
    EXPECT_EQ(2u, heap.refused);
    std::get<0>(before) += 2;
    EXPECT_EQ(before, TrackerState());
    EXPECT_TRUE(IsClearSpare(spareHead));
    EXPECT_EQ(std::string(kOutOfMemoryLine) + kOutOfMemoryLine, Log());
}

// Sizes whose padding does not fit 32 bits never reach the heap cut down to fit.
TEST_F(TrackerTest, RequestsBeyondThirtyTwoBitsAreRefused)
{
    ::operator delete(::operator new(8));
    uint32_t before = allocationCounter;
    unsigned requests = heap.requests;
    Refusal edge = RequestBoth(0xFFFFFFE0u);
    static volatile std::size_t alignedSize = 0xFFFFFF00u;  // fits alone, not with a 4096 lead
    void* aligned = ::operator new(alignedSize, std::align_val_t(4096), std::nothrow);
    Refusal wide{true, "", nullptr};
    if (sizeof(std::size_t) > 4)
        wide = RequestBoth(static_cast<std::size_t>((uint64_t(1) << 32) + 5));
    EXPECT_EQ(requests, heap.requests) << "the heap was asked for " << heap.lastRequestSize;
    heap.refuseSize = 0xFFFFFFFFu;  // the largest request does reach the heap
    EXPECT_EQ(nullptr, TrackedAllocate(nullptr, 0, nullptr, kAllocationNew, kMaxReportedSize));
    EXPECT_EQ(1u, heap.refused);

    EXPECT_TRUE(edge.threw);
    EXPECT_EQ(nullptr, edge.nothrowResult);
    EXPECT_EQ(nullptr, aligned);
    EXPECT_TRUE(wide.threw);
    EXPECT_EQ(nullptr, wide.nothrowResult);
    unsigned failures = sizeof(std::size_t) > 4 ? 6 : 4;
    EXPECT_EQ(before + failures, allocationCounter);
    std::string lines;
    for (unsigned i = 0; i < failures; ++i)
        lines += kOutOfMemoryLine;
    EXPECT_EQ(lines, Log());
}

TEST_F(TrackerTest, OwnerTextIsStrippedCutAndTerminated)
{
    const struct {
        const char *file, *function, *fileField, *functionField;
    } owners[] = {
        {"C:\\src\\tracker.cpp", "f", "tracker.cpp", "f"},
        {"/work/src/tracker.cpp", nullptr, "tracker.cpp", "??"},
        {"a\\b/c.cpp", "CSomeClass::AFunctionNameOfMoreThanThirtyNineCharacters", "b/c.cpp",
         "CSomeClass::AFunctionNameOfMoreThanThir"},
        {"a_source_file_name_of_more_than_thirty_nine_characters.cpp", "", "a_source_file_name_of_more_than_thirty_", ""},
        {nullptr, "g", "??", "g"},
    };
    auto field = [](const char* text) { return std::string(text) + std::string(40 - std::strlen(text), '\0'); };
    for (const auto& owner : owners) {
        void* body = TrackedAllocate(owner.file, -7, owner.function, kAllocationNewArray, 3);
        AllocationUnit* unit = FindAllocationUnit(body);
        ASSERT_NE(nullptr, unit) << owner.fileField;
        EXPECT_EQ(field(owner.fileField), std::string(unit->ownerFile, 40));
        EXPECT_EQ(field(owner.functionField), std::string(unit->ownerFunction, 40));
        EXPECT_EQ(-7, unit->ownerLine);
        EXPECT_EQ(2u, unit->allocationType);
        TrackedRelease(body);
    }
}

}  // namespace
