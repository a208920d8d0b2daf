// Runs tracker operations in a fresh process, in the current directory, so that
// the log's once-per-run reset can be observed. Each argument is one action;
// the exit code is 0 when every action behaved as the tracker promises, else
// 10 + the index of the first action that did not.
//   alloc           allocations and releases that all succeed
//   double-delete   releases one block twice
//   refuse-padded   the heap refuses a padded block; operator new must throw
//   unit-blocks     the 257th record in use needs the second unit block
#include <cstdio>
#include <cstring>
#include <new>

#include "memtrack/memtrack.h"
#include "scripted_heap.h"

namespace {

bool Alloc()
{
    int* number = new int(7);
    char* text = new char[100];
    void* raw = ::operator new(0);
    bool ok = *number == 7 && FindAllocationUnit(text) != nullptr && FindAllocationUnit(raw) != nullptr;
    ::operator delete(raw);
    delete[] text;
    delete number;
    return ok;
}

bool DoubleDelete()
{
    void* block = ::operator new(16);
    // The same address again, hidden from the compiler's checks.
    static void* volatile again;
    again = block;
    ::operator delete(block);
    uint32_t inUse = CountTrackedBlocks();
    ::operator delete(again);
    return CountTrackedBlocks() == inUse;
}

bool RefusePadded()
{
    ScriptedHeapScope heap;
    scriptedHeap.refuseSize = 123 + 32;
    try {
        void* block = ::operator new(123);
        ::operator delete(block);
    } catch (const std::bad_alloc&) {
        return scriptedHeap.refused == 1;
    }
    return false;
}

// At entry only static initialisation has allocated: either nothing yet, or
// records of the first unit block.
bool UnitBlocks()
{
    uint32_t inUse = CountTrackedBlocks();
    uint32_t spare = CountSpareUnits();
    if (inUse + spare != 0 && inUse + spare != kUnitsPerBlock) {
        std::fprintf(stderr, "unit-blocks: %u in use, %u spare\n", inUse, spare);
        return false;
    }
    ScriptedHeapScope heap;
    void* blocks[kUnitsPerBlock + 1];
    uint32_t count = 0;
    while (inUse + count < kUnitsPerBlock)
        blocks[count++] = ::operator new(8);
    unsigned firstBlockRequests = scriptedHeap.unitBlockRequests;
    bool spareEmpty = spareUnitList == nullptr;
    blocks[count++] = ::operator new(8);
    unsigned secondBlockRequests = scriptedHeap.unitBlockRequests - firstBlockRequests;
    bool firstRecord = FindAllocationUnit(blocks[count - 1]) == scriptedHeap.lastUnitBlock;
    for (uint32_t i = 0; i < count; ++i)
        ::operator delete(blocks[i]);
    bool ok = firstBlockRequests == (inUse + spare == 0 ? 1u : 0u) && spareEmpty && secondBlockRequests == 1 &&
              firstRecord;
    if (!ok)
        std::fprintf(stderr, "unit-blocks: first %u, spare empty %d, second %u, first record %d\n",
                     firstBlockRequests, spareEmpty, secondBlockRequests, firstRecord);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* action = argv[i];
        bool ok = false;
        if (std::strcmp(action, "alloc") == 0)
            ok = Alloc();
        else if (std::strcmp(action, "double-delete") == 0)
            ok = DoubleDelete();
        else if (std::strcmp(action, "refuse-padded") == 0)
            ok = RefusePadded();
        else if (std::strcmp(action, "unit-blocks") == 0)
            ok = UnitBlocks();
        if (!ok)
            return 10 + i;
    }
    return 0;
}
