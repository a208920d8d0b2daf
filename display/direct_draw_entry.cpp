#include "display/direct_draw_entry.h"

namespace {

typedef HRESULT(WINAPI* EnumerateExFunction)(LPDDENUMCALLBACKEXA, LPVOID, DWORD);
typedef HRESULT(WINAPI* CreateExFunction)(GUID*, LPVOID*, REFIID, IUnknown*);

// ddraw.dll is loaded when first needed rather than imported: on a machine without it the
// program still starts, and the enumeration finds no driver.
struct DirectDrawLibrary {
    EnumerateExFunction enumerateEx = nullptr;
    CreateExFunction createEx = nullptr;

    DirectDrawLibrary()
    {
        HMODULE module = LoadLibraryA("ddraw.dll");
        if (module == nullptr)
            return;
        enumerateEx = reinterpret_cast<EnumerateExFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DirectDrawEnumerateExA")));
        createEx = reinterpret_cast<CreateExFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DirectDrawCreateEx")));
    }
};

const DirectDrawLibrary& Library()
{
    static const DirectDrawLibrary library;
    return library;
}

class RealEntry final : public DirectDrawEntry {
public:
    HRESULT EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags) override
    {
        if (Library().enumerateEx == nullptr)
            return DDERR_NODIRECTDRAWSUPPORT;
        return Library().enumerateEx(callback, context, flags);
    }

    HRESULT CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer) override
    {
        if (Library().createEx == nullptr)
            return DDERR_NODIRECTDRAWSUPPORT;
        return Library().createEx(driverGuid, object, iid, outer);
    }
};

RealEntry g_realEntry;
DirectDrawEntry* g_activeEntry = nullptr;

}  // namespace

bool DirectDrawAvailable()
{
    return Library().enumerateEx != nullptr && Library().createEx != nullptr;
}

DirectDrawEntry& GetDirectDrawEntry()
{
    return g_activeEntry != nullptr ? *g_activeEntry : g_realEntry;
}

void SetDirectDrawEntry(DirectDrawEntry* entry)
{
    g_activeEntry = entry;
}
