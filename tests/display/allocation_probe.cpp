// Observes allocations through the allocation tracker that every executable
// of the program links, and refuses them through its heap seam.
#include "allocation_probe.h"

#include "memtrack/memtrack.h"

namespace {

bool g_failing = false;
size_t g_successesLeft = 0;
TrackerHeap g_savedHeap;

// Refuses body requests once the budget is spent; the tracker's own record
// blocks are always served so that only the request under test fails.
void* RefusingAllocate(size_t size)
{
    if (size != kUnitsPerBlock * sizeof(AllocationUnit)) {
        if (g_successesLeft == 0)
            return nullptr;
        --g_successesLeft;
    }
    return g_savedHeap.allocate(size);
}

}  // namespace

size_t LiveAllocationCount() { return CountTrackedBlocks(); }
size_t AllocationCallCount() { return allocationCounter; }

size_t LiveAllocationSize(const void* block)
{
    const AllocationUnit* unit = block ? FindAllocationUnit(block) : nullptr;
    return unit ? unit->reportedSize : 0;
}

void FailAllocationAfter(size_t successes)
{
    if (!g_failing) {
        g_savedHeap = trackerHeap;
        trackerHeap.allocate = RefusingAllocate;
    }
    g_successesLeft = successes;
    g_failing = true;
}

void StopFailingAllocations()
{
    if (g_failing)
        trackerHeap = g_savedHeap;
    g_failing = false;
}
