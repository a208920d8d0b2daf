#include "display/direct_draw_entry.h"

namespace {

class RealEntry final : public DirectDrawEntry {
public:
    HRESULT EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags) override
    {
        return DirectDrawEnumerateExA(callback, context, flags);
    }

    HRESULT CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer) override
    {
        return DirectDrawCreateEx(driverGuid, object, iid, outer);
    }
};

RealEntry g_realEntry;
DirectDrawEntry* g_activeEntry = nullptr;

}  // namespace

DirectDrawEntry& RealDirectDrawEntry()
{
    return g_realEntry;
}

DirectDrawEntry& GetDirectDrawEntry()
{
    return g_activeEntry != nullptr ? *g_activeEntry : g_realEntry;
}

void SetDirectDrawEntry(DirectDrawEntry* entry)
{
    g_activeEntry = entry;
}
