// The program's global allocation and release operators: every form leads into
// the tracker. Linked as an object into every executable, so these definitions
// are the ones the linker sees first and the run-time library's are never used.
#include <cstddef>
#include <cstdint>
#include <new>

#include "memtrack/memtrack.h"

namespace {

// operator new's failure carries the text the rest of the system expects.
class TrackerBadAlloc : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "bad allocation"; }
};

std::new_handler InstalledNewHandler()
{
    std::new_handler handler = std::set_new_handler(nullptr);
    std::set_new_handler(handler);
    return handler;
}

// Plain requests go straight to the tracker, over-aligned ones by way of its aligned form; sizes
// beyond 32 bits are refused by the tracker, never cut down to fit.
void* AllocateOrThrow(std::size_t size, std::size_t alignment)
{
    if (size == 0)
        size = 1;
    // Beyond 32 bits (two shifts, so that i686 compiles it too) the tracker refuses the largest size.
    const uint32_t reported = size >> 16 >> 16 ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
    for (;;) {
        AllocationOwner& owner = currentOwner;
        if (void* body = alignment == 0
                ? TrackedAllocate(owner.ownerFile, owner.ownerLine, owner.ownerFunction, kAllocationNew, reported)
                : TrackedAllocateAligned(owner.ownerFile, owner.ownerLine, owner.ownerFunction, size, alignment))
            return body;
        std::new_handler handler = InstalledNewHandler();
        if (handler == nullptr)
            throw TrackerBadAlloc();
        handler();
    }
}

// The same loop; a new-handler's bad_alloc, like the tracker's own, ends in null.
void* AllocateOrNull(std::size_t size, std::size_t alignment) noexcept
{
    try {
        return AllocateOrThrow(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool ValidAlignment(std::align_val_t alignment)
{
    std::size_t value = static_cast<std::size_t>(alignment);
    return value != 0 && (value & (value - 1)) == 0;
}

void Release(void* address) noexcept
{
    if (address != nullptr)
        TrackedRelease(address);
}

void ReleaseAligned(void* address, std::align_val_t alignment) noexcept
{
    if (address != nullptr)
        TrackedReleaseAligned(address, static_cast<std::size_t>(alignment));
}

}  // namespace

void* operator new(std::size_t size)
{
    return AllocateOrThrow(size, 0);
}

void* operator new[](std::size_t size)
{
    return AllocateOrThrow(size, 0);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return AllocateOrNull(size, 0);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return AllocateOrNull(size, 0);
}

void operator delete(void* address) noexcept
{
    Release(address);
}

void operator delete[](void* address) noexcept
{
    Release(address);
}

void operator delete(void* address, std::size_t) noexcept
{
    Release(address);
}

void operator delete[](void* address, std::size_t) noexcept
{
    Release(address);
}

void operator delete(void* address, const std::nothrow_t&) noexcept
{
    Release(address);
}

void operator delete[](void* address, const std::nothrow_t&) noexcept
{
    Release(address);
}

// Over-aligned forms. An alignment that is not a power of two is refused.
void* operator new(std::size_t size, std::align_val_t alignment)
{
    if (!ValidAlignment(alignment))
        throw TrackerBadAlloc();
    return AllocateOrThrow(size, static_cast<std::size_t>(alignment));
}

void* operator new[](std::size_t size, std::align_val_t alignment)
{
    if (!ValidAlignment(alignment))
        throw TrackerBadAlloc();
    return AllocateOrThrow(size, static_cast<std::size_t>(alignment));
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    if (!ValidAlignment(alignment))
        return nullptr;
    return AllocateOrNull(size, static_cast<std::size_t>(alignment));
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    if (!ValidAlignment(alignment))
        return nullptr;
    return AllocateOrNull(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* address, std::align_val_t alignment) noexcept
{
    ReleaseAligned(address, alignment);
}

void operator delete[](void* address, std::align_val_t alignment) noexcept
{
    ReleaseAligned(address, alignment);
}

void operator delete(void* address, std::size_t, std::align_val_t alignment) noexcept
{
    ReleaseAligned(address, alignment);
}

void operator delete[](void* address, std::size_t, std::align_val_t alignment) noexcept
{
    ReleaseAligned(address, alignment);
}

void operator delete(void* address, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    ReleaseAligned(address, alignment);
}

void operator delete[](void* address, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    ReleaseAligned(address, alignment);
}
