// The replacement global operators: every form reaches the tracker, plain new
// keeps the default new alignment, and over-aligned blocks keep theirs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "memtrack/memtrack.h"
#include "scripted_heap.h"
#include "test_support.h"

namespace {

const char kNeverAllocatedLine[] = "Request to deallocate RAM that was never allocated\r\n";

class OperatorsTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.ok()) << "no scratch directory"; }

    std::string Log()
    {
        std::string bytes;
        ReadFileBytes("memory.log", &bytes);
        return bytes;
    }

    ScratchDirectory scratch_;
    ScriptedHeapScope heap_;
};

uintptr_t Address(const void* pointer)
{
    return reinterpret_cast<uintptr_t>(pointer);
}

struct Form {
    const char* name;
    void* (*allocate)(std::size_t);
    void (*release)(void*, std::size_t);
};

const Form kForms[] = {
    {"new/delete", [](std::size_t n) { return ::operator new(n); },
     [](void* p, std::size_t) { ::operator delete(p); }},
    {"new[]/delete[]", [](std::size_t n) { return ::operator new[](n); },
     [](void* p, std::size_t) { ::operator delete[](p); }},
    {"new/sized delete", [](std::size_t n) { return ::operator new(n); },
     [](void* p, std::size_t n) { ::operator delete(p, n); }},
    {"new[]/sized delete[]", [](std::size_t n) { return ::operator new[](n); },
     [](void* p, std::size_t n) { ::operator delete[](p, n); }},
    {"nothrow new/nothrow delete", [](std::size_t n) { return ::operator new(n, std::nothrow); },
     [](void* p, std::size_t) { ::operator delete(p, std::nothrow); }},
    {"nothrow new[]/nothrow delete[]", [](std::size_t n) { return ::operator new[](n, std::nothrow); },
     [](void* p, std::size_t) { ::operator delete[](p, std::nothrow); }},
};

TEST_F(OperatorsTest, EveryFormGoesThroughTheTracker)
{
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        uint32_t before = allocationCounter;
        unsigned releasesBefore = scriptedHeap.releases;
        void* body = form.allocate(21);
        ASSERT_NE(nullptr, body);
        AllocationUnit* unit = FindAllocationUnit(body);
        ASSERT_NE(nullptr, unit);
        EXPECT_EQ(before + 1, unit->allocationNumber);
        EXPECT_EQ(21u, unit->reportedSize);
        EXPECT_EQ(1u, unit->allocationType) << "every form records the code of new";
        void* heapBlock = unit->actualAddress;
        form.release(body, 21);
        EXPECT_EQ(nullptr, FindAllocationUnit(body));
        EXPECT_EQ(releasesBefore + 1, scriptedHeap.releases);
        EXPECT_EQ(heapBlock, scriptedHeap.lastReleased);
    }
    EXPECT_EQ("", Log());
}

struct Tracked {
    int value = 0x1234;
    ~Tracked() { value = 0; }
};

TEST_F(OperatorsTest, NewExpressionsGoThroughTheTracker)
{
    uint32_t inUse = CountTrackedBlocks();
    uint32_t before = allocationCounter;
    int* number = new int(7);
    Tracked* several = new Tracked[3];
    std::string* text = new std::string(100, 'x');  // its buffer is a second block
    uint32_t during = CountTrackedBlocks();
    uint32_t requests = allocationCounter - before;
    bool numberFound = FindAllocationUnit(number) != nullptr;
    delete text;
    delete[] several;
    delete number;
    EXPECT_TRUE(numberFound);
    EXPECT_EQ(4u, requests);
    EXPECT_EQ(inUse + 4, during);
    EXPECT_EQ(inUse, CountTrackedBlocks());
    EXPECT_EQ("", Log());
}

TEST_F(OperatorsTest, PlainNewKeepsTheDefaultNewAlignment)
{
    for (std::size_t size = 0; size <= 130; ++size) {
        void* body = ::operator new(size);
        void* array = ::operator new[](size + 1000);
        EXPECT_EQ(0u, Address(body) % __STDCPP_DEFAULT_NEW_ALIGNMENT__) << size << " bytes at " << body;
        EXPECT_EQ(0u, Address(array) % __STDCPP_DEFAULT_NEW_ALIGNMENT__) << size + 1000 << " bytes at " << array;
        ::operator delete[](array);
        ::operator delete(body);
    }
}

struct alignas(64) CacheLine {
    unsigned char bytes[100];
};

// Over-aligned blocks: the address is aligned, the request lies inside the
// body with the overrun guard after it, and the aligned release finds it.
TEST_F(OperatorsTest, OverAlignedFormsHonourTheirAlignment)
{
    const std::size_t alignments[] = {32, 64, 4096};
    const std::size_t sizes[] = {1, 24, 5000};
    for (std::size_t alignment : alignments) {
        for (std::size_t size : sizes) {
            SCOPED_TRACE(testing::Message() << alignment << "-aligned " << size << " bytes");
            uint32_t inUse = CountTrackedBlocks();
            unsigned char* body =
                static_cast<unsigned char*>(::operator new(size, std::align_val_t(alignment)));
            ASSERT_NE(nullptr, body);
            EXPECT_EQ(0u, Address(body) % alignment) << static_cast<void*>(body);
            AllocationUnit* unit = FindAlignedAllocationUnit(body, alignment);
            ASSERT_NE(nullptr, unit);
            unsigned char* start = static_cast<unsigned char*>(unit->reportedAddress);
            EXPECT_EQ(size + alignment - 16, unit->reportedSize);
            EXPECT_LE(start, body);
            EXPECT_LE(body + size, start + unit->reportedSize);
            EXPECT_EQ(PatternHex(freshFillPattern, size), HexBytes(body, size));
            EXPECT_EQ(PatternHex(overrunGuardPattern, 16), HexBytes(start + unit->reportedSize, 16));
            void* heapBlock = unit->actualAddress;
            ::operator delete(body, std::align_val_t(alignment));
            EXPECT_EQ(heapBlock, scriptedHeap.lastReleased);
            EXPECT_EQ(inUse, CountTrackedBlocks());
        }
    }
    EXPECT_EQ("", Log());
}

TEST_F(OperatorsTest, EveryOverAlignedFormReleasesItsBlock)
{
    uint32_t inUse = CountTrackedBlocks();
    void* a = ::operator new[](40, std::align_val_t(32));
    void* b = ::operator new(40, std::align_val_t(64), std::nothrow);
    void* c = ::operator new[](40, std::align_val_t(128), std::nothrow);
    void* d = ::operator new(40, std::align_val_t(256));
    void* e = ::operator new[](40, std::align_val_t(512));
    EXPECT_EQ(0u, Address(a) % 32);
    EXPECT_EQ(0u, Address(b) % 64);
    EXPECT_EQ(0u, Address(c) % 128);
    EXPECT_EQ(0u, Address(d) % 256);
    EXPECT_EQ(0u, Address(e) % 512);
    EXPECT_EQ(inUse + 5, CountTrackedBlocks());
    ::operator delete[](a, std::align_val_t(32));
    ::operator delete(b, std::align_val_t(64), std::nothrow);
    ::operator delete[](c, std::align_val_t(128), std::nothrow);
    ::operator delete(d, 40, std::align_val_t(256));
    ::operator delete[](e, 40, std::align_val_t(512));
    EXPECT_EQ(inUse, CountTrackedBlocks());

    CacheLine* line = new CacheLine;
    CacheLine* lines = new CacheLine[3];
    EXPECT_EQ(0u, Address(line) % 64);
    EXPECT_EQ(0u, Address(lines) % 64);
    EXPECT_EQ(inUse + 2, CountTrackedBlocks());
    delete line;
    delete[] lines;
    EXPECT_EQ(inUse, CountTrackedBlocks());
    EXPECT_EQ("", Log());
}

// Alignments up to the default go the plain way: the body start itself.
TEST_F(OperatorsTest, SmallAlignmentsAreServedAsPlainBlocks)
{
    for (std::size_t alignment : {std::size_t(1), std::size_t(8), std::size_t(16)}) {
        void* body = ::operator new(10, std::align_val_t(alignment));
        AllocationUnit* unit = FindAllocationUnit(body);
        ASSERT_NE(nullptr, unit) << alignment;
        EXPECT_EQ(10u, unit->reportedSize);
        ::operator delete(body, std::align_val_t(alignment));
        EXPECT_EQ(nullptr, FindAllocationUnit(body));
    }
}

TEST_F(OperatorsTest, OverAlignedReleaseOfAnAddressNotHeldIsLogged)
{
    alignas(64) static unsigned char foreign[128];
    unsigned char* body = static_cast<unsigned char*>(::operator new(100, std::align_val_t(64)));
    uint32_t inUse = CountTrackedBlocks();
    unsigned releases = scriptedHeap.releases;
    ::operator delete(Opaque(foreign), std::align_val_t(64));
    ::operator delete(Opaque(body + 16), std::align_val_t(64));  // not aligned
    ::operator delete(Opaque(body + 64), std::align_val_t(64));  // aligned, but not where the block starts
    EXPECT_EQ(inUse, CountTrackedBlocks());
    EXPECT_EQ(releases, scriptedHeap.releases);
    EXPECT_EQ(std::string(kNeverAllocatedLine) + kNeverAllocatedLine + kNeverAllocatedLine, Log());
    EXPECT_EQ(PatternHex(freshFillPattern, 100), HexBytes(body, 100));
    ::operator delete(body, std::align_val_t(64));
    EXPECT_EQ(inUse - 1, CountTrackedBlocks());
}

TEST_F(OperatorsTest, AlignmentThatIsNotAPowerOfTwoIsRefused)
{
    uint32_t before = allocationCounter;
    void* refused = ::operator new(10, std::align_val_t(48), std::nothrow);
    bool threw = false;
    try {
        ::operator delete[](::operator new[](10, std::align_val_t(96)), std::align_val_t(96));
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    uint32_t after = allocationCounter;
    EXPECT_EQ(nullptr, refused);
    EXPECT_TRUE(threw);
    EXPECT_EQ(before, after);
}

TEST_F(OperatorsTest, OverAlignedRequestsBeyondThirtyTwoBitSizesAreRefused)
{
    ::operator delete(::operator new(8));
    unsigned requests = scriptedHeap.requests;
    uint32_t before = allocationCounter;
    // Fits 32 bits alone, not with the alignment's lead and the guards.
    static volatile std::size_t size = 0xFFFFFF00u;  // hidden from the compiler's size checks
    void* refused = ::operator new(size, std::align_val_t(4096), std::nothrow);
    uint32_t after = allocationCounter;
    EXPECT_EQ(nullptr, refused);
    EXPECT_EQ(requests, scriptedHeap.requests);
    EXPECT_EQ(before + 1, after);
    EXPECT_EQ("Request for allocation failed. Out of memory.\r\n", Log());
}

}  // namespace
