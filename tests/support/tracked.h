// The tracker's records in use (in its hash chains) and spare.
#pragma once

#include "memtrack/tracker.h"

inline uint32_t CountChain(const AllocationUnit* unit)
{
    uint32_t count = 0;
    for (; unit != nullptr; unit = unit->nextUnit)
        ++count;
    return count;
}
inline uint32_t CountSpareUnits() { return CountChain(spareUnitList); }
inline uint32_t CountTrackedBlocks()
{
    uint32_t count = 0;
    for (const AllocationUnit* head : unitHashTable)
        count += CountChain(head);
    return count;
}
