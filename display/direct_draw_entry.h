// The two DirectDraw entry functions that the enumeration calls, behind a small
// interface so that a scripted machine can stand in for the real ddraw.dll.
#pragma once

#include <windows.h>
#include <ddraw.h>

class DirectDrawEntry {
public:
    // DirectDrawEnumerateExA
    virtual HRESULT EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags) = 0;
    // DirectDrawCreateEx
    virtual HRESULT CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer) = 0;

protected:
    ~DirectDrawEntry() = default;
};

// True when ddraw.dll and both entry functions were found; without them the real entry
// reports no driver.
bool DirectDrawAvailable();

// The entry the enumeration uses: the real one unless another was set.
DirectDrawEntry& GetDirectDrawEntry();
// Null restores the real entry. The caller keeps ownership of `entry`.
void SetDirectDrawEntry(DirectDrawEntry* entry);
