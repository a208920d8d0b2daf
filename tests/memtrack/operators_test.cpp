// The replacement global operators: every form reaches the tracker, plain new
// keeps the default new alignment, over-aligned blocks keep theirs, and the
// new-handler is consulted.
#include <new>

#include "support.h"

namespace {

using OperatorsTest = MemtrackTest;

uintptr_t Address(const void* pointer)
{
    return reinterpret_cast<uintptr_t>(pointer);
}

using Allocate = void* (*)(std::size_t size, std::align_val_t alignment);
using Release = void (*)(void* body, std::size_t size, std::align_val_t alignment);
struct Form {
    const char* name;
    Allocate plain, aligned;
    Release releasePlain, releaseAligned;
};

const Form kForms[] = {
    {"new/delete", [](std::size_t n, std::align_val_t) { return ::operator new(n); },
     [](std::size_t n, std::align_val_t a) { return ::operator new(n, a); },
     [](void* p, std::size_t, std::align_val_t) { ::operator delete(p); },
     [](void* p, std::size_t, std::align_val_t a) { ::operator delete(p, a); }},
    {"new[]/delete[]", [](std::size_t n, std::align_val_t) { return ::operator new[](n); },
     [](std::size_t n, std::align_val_t a) { return ::operator new[](n, a); },
     [](void* p, std::size_t, std::align_val_t) { ::operator delete[](p); },
     [](void* p, std::size_t, std::align_val_t a) { ::operator delete[](p, a); }},
    {"new/sized delete", [](std::size_t n, std::align_val_t) { return ::operator new(n); },
     [](std::size_t n, std::align_val_t a) { return ::operator new(n, a); },
     [](void* p, std::size_t n, std::align_val_t) { ::operator delete(p, n); },
     [](void* p, std::size_t n, std::align_val_t a) { ::operator delete(p, n, a); }},
    {"new[]/sized delete[]", [](std::size_t n, std::align_val_t) { return ::operator new[](n); },
     [](std::size_t n, std::align_val_t a) { return ::operator new[](n, a); },
     [](void* p, std::size_t n, std::align_val_t) { ::operator delete[](p, n); },
     [](void* p, std::size_t n, std::align_val_t a) { ::operator delete[](p, n, a); }},
    {"nothrow new/delete", [](std::size_t n, std::align_val_t) { return ::operator new(n, std::nothrow); },
     [](std::size_t n, std::align_val_t a) { return ::operator new(n, a, std::nothrow); },
     [](void* p, std::size_t, std::align_val_t) { ::operator delete(p, std::nothrow); },
     [](void* p, std::size_t, std::align_val_t a) { ::operator delete(p, a, std::nothrow); }},
    {"nothrow new[]/delete[]", [](std::size_t n, std::align_val_t) { return ::operator new[](n, std::nothrow); },
     [](std::size_t n, std::align_val_t a) { return ::operator new[](n, a, std::nothrow); },
     [](void* p, std::size_t, std::align_val_t) { ::operator delete[](p, std::nothrow); },
     [](void* p, std::size_t, std::align_val_t a) { ::operator delete[](p, a, std::nothrow); }},
};

TEST_F(OperatorsTest, EveryFormGoesThroughTheTracker)
{
    for (const Form& form : kForms) {
        uint32_t before = allocationCounter;
        void* body = form.plain(21, std::align_val_t{});
        AllocationUnit* unit = FindAllocationUnit(body);
        ASSERT_NE(nullptr, unit) << form.name;
        EXPECT_EQ(before + 1, unit->allocationNumber) << form.name;
        EXPECT_EQ(21u, unit->reportedSize) << form.name;
        EXPECT_EQ(1u, unit->allocationType) << form.name;
        void* heapBlock = unit->actualAddress;
        form.releasePlain(body, 21, std::align_val_t{});
        EXPECT_EQ(heapBlock, heap.lastReleased) << form.name;
        EXPECT_EQ(nullptr, FindAllocationUnit(body)) << form.name;
    }
    EXPECT_EQ("<none>", Log());
}

TEST_F(OperatorsTest, PlainNewKeepsTheDefaultNewAlignment)
{
    for (std::size_t size = 0; size <= 130; ++size) {
        void* body = ::operator new(size);
        EXPECT_EQ(0u, Address(body) % __STDCPP_DEFAULT_NEW_ALIGNMENT__) << size << " bytes at " << body;
        ::operator delete(body);
    }
}

struct alignas(64) CacheLine {
    unsigned char bytes[100];
};

// The request lies inside the body with the overrun guard after it, and the
// aligned release finds the block and gives it back.
TEST_F(OperatorsTest, OverAlignedFormsHonourTheirAlignment)
{
    for (std::size_t alignment : {16, 32, 64, 4096}) {
        for (const Form& form : kForms) {
            for (std::size_t size : {1, 5000}) {
                SCOPED_TRACE(testing::Message() << form.name << ", " << size << " bytes at " << alignment);
                uint32_t live = CountTrackedBlocks();
                std::align_val_t al{alignment};
                unsigned char* body = static_cast<unsigned char*>(form.aligned(size, al));
                EXPECT_EQ(0u, Address(body) % alignment) << static_cast<void*>(body);
                AllocationUnit* unit = FindAlignedAllocationUnit(body, alignment);
                ASSERT_NE(nullptr, unit);
                unsigned char* start = static_cast<unsigned char*>(unit->reportedAddress);
                EXPECT_LE(start, body);
                EXPECT_LE(body + size, start + unit->reportedSize);
                EXPECT_EQ(PatternHex(freshFillPattern, size), HexBytes(body, size));
                EXPECT_EQ(PatternHex(overrunGuardPattern, 16), HexBytes(start + unit->reportedSize, 16));
                void* heapBlock = unit->actualAddress;
                form.releaseAligned(body, size, al);
                EXPECT_EQ(heapBlock, heap.lastReleased);
                EXPECT_EQ(live, CountTrackedBlocks());
            }
        }
    }
    // New expressions pick the aligned forms themselves.
    uint32_t inUse = CountTrackedBlocks();
    CacheLine* line = new CacheLine;
    CacheLine* lines = new CacheLine[3];
    EXPECT_EQ(0u, Address(line) % 64);
    EXPECT_EQ(0u, Address(lines) % 64);
    EXPECT_EQ(inUse + 2, CountTrackedBlocks());
    delete line;
    delete[] lines;
    EXPECT_EQ(inUse, CountTrackedBlocks());
    EXPECT_EQ("<none>", Log());
}

TEST_F(OperatorsTest, OverAlignedReleaseOfAnAddressNotHeldIsLogged)
{
    alignas(64) static unsigned char foreign[128];
    heap.arenaSize = 1 + 32;
    unsigned char* small = static_cast<unsigned char*>(::operator new(1));
    ASSERT_EQ(ArenaSlot(0) + 16, small);
    unsigned char* body = static_cast<unsigned char*>(::operator new(100, std::align_val_t(64)));
    uint32_t inUse = CountTrackedBlocks();
    ::operator delete(Opaque(foreign), std::align_val_t(64));
    ::operator delete(Opaque(body + 16), std::align_val_t(64));   // misaligned
    ::operator delete(Opaque(small + 48), std::align_val_t(64));  // aligned, past a body close below
    EXPECT_EQ(0u, heap.releases);
    EXPECT_EQ(inUse, CountTrackedBlocks());
    EXPECT_EQ(std::string(kNeverAllocatedLine) + kNeverAllocatedLine + kNeverAllocatedLine, Log());
    EXPECT_EQ(PatternHex(freshFillPattern, 100), HexBytes(body, 100));
    ::operator delete(body, std::align_val_t(64));
    ::operator delete(small);
    EXPECT_EQ(inUse - 2, CountTrackedBlocks());
}

int handlerCalls;

void HandlerThatFreesOnSecondCall()
{
    if (++handlerCalls == 2)
        heap.refuseSize = 0;
}

void HandlerThatThrows()
{
    ++handlerCalls;
    throw std::bad_alloc();
}

TEST_F(OperatorsTest, NewHandlerIsConsultedAndTheRequestRetried)
{
    handlerCalls = 0;
    uint32_t before = allocationCounter;
    heap.refuseSize = 300 + 32;
    std::set_new_handler(&HandlerThatFreesOnSecondCall);
    void* body = ::operator new(300);
    // The handler's bad_alloc ends the non-throwing forms with null.
    heap.refuseSize = 300 + 32;
    std::set_new_handler(&HandlerThatThrows);
    void* plain = ::operator new(300, std::nothrow);
    void* aligned = ::operator new(300 - 48, std::align_val_t(64), std::nothrow);
    std::set_new_handler(nullptr);
    heap.refuseSize = 0;

    EXPECT_EQ(4, handlerCalls);
    AllocationUnit* unit = FindAllocationUnit(body);
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(before + 3, unit->allocationNumber);
    EXPECT_EQ(nullptr, plain);
    EXPECT_EQ(nullptr, aligned);
    std::string lines;
    for (int i = 0; i < 4; ++i)
        lines += kOutOfMemoryLine;
    EXPECT_EQ(lines, Log());
    ::operator delete(body);
}

}  // namespace
