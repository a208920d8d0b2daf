// Counts and refuses allocations of the global operator new family, for tests
// that check mode storage is given back and that running out of memory inside
// a platform callback is contained. The only file that knows how allocations
// are observed.
#pragma once

#include <cstddef>

// Blocks obtained through operator new and not yet given back.
size_t LiveAllocationCount();
// Calls of operator new since the program started, failed ones included.
size_t AllocationCallCount();
// Size asked for a block still held, or 0 when `block` is not one.
size_t LiveAllocationSize(const void* block);
// The next `successes` allocations succeed, every later one fails with
// std::bad_alloc until StopFailingAllocations.
void FailAllocationAfter(size_t successes);
void StopFailingAllocations();
