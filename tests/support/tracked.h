// The tracker's records in use (in its hash chains) and spare.
#pragma once

#include "memtrack/tracker.h"

inline uint32_t CountTrackedBlocks()
{
    uint32_t count = 0;
    for (const AllocationUnit* head : unitHashTable)
        for (const AllocationUnit* unit = head; unit != nullptr; unit = unit->nextUnit)
            ++count;
    return count;
}

inline uint32_t CountSpareUnits()
{
    uint32_t count = 0;
    for (const AllocationUnit* unit = spareUnitList; unit != nullptr; unit = unit->nextUnit)
        ++count;
    return count;
}
