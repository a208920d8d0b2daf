// The DirectDraw and Direct3D walk of the enumeration with callbacks that only count: every driver
// created, its capabilities, display modes and Direct3D devices asked for, every interface released.
// The benchmarks' baseline for what the platform costs, without anything the enumeration keeps.
#pragma once

#include "display/direct_draw_entry.h"

#include <d3d.h>

#include <cstddef>

namespace directdraw_walk {

inline size_t g_drivers, g_modes, g_devices;
inline DirectDrawEntry* g_entry;

inline HRESULT WINAPI CountMode(LPDDSURFACEDESC2, LPVOID)
{
    ++g_modes;
    return DDENUMRET_OK;
}

inline HRESULT WINAPI CountDevice(char*, char*, D3DDEVICEDESC7*, void*)
{
    ++g_devices;
    return D3DENUMRET_OK;
}

inline BOOL WINAPI WalkDriver(GUID* guid, LPSTR, LPSTR, LPVOID, HMONITOR)
{
    IDirectDraw7* directDraw = nullptr;
    IDirect3D7* direct3D = nullptr;
    if (FAILED(g_entry->CreateEx(guid, reinterpret_cast<void**>(&directDraw), IID_IDirectDraw7, nullptr)))
        return DDENUMRET_OK;
    ++g_drivers;
    if (SUCCEEDED(directDraw->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&direct3D)))) {
        DDCAPS hal = {}, hel = {};
        hal.dwSize = hel.dwSize = sizeof(DDCAPS);
        directDraw->GetCaps(&hal, &hel);
        int context;  // the walk's own, as the enumeration passes its driver's
        directDraw->EnumDisplayModes(0, nullptr, &context, CountMode);
        direct3D->EnumDevices(CountDevice, &context);
        direct3D->Release();
    }
    directDraw->Release();
    return DDENUMRET_OK;
}

}  // namespace directdraw_walk

// Walks every driver of `entry`; the numbers of drivers, modes and devices it reported.
struct DirectDrawCounts {
    size_t drivers, modes, devices;
};
inline DirectDrawCounts WalkDirectDraw(DirectDrawEntry& entry)
{
    using namespace directdraw_walk;
    g_entry = &entry, g_drivers = g_modes = g_devices = 0;
    entry.EnumerateEx(WalkDriver, nullptr, DDENUM_ATTACHEDSECONDARYDEVICES | DDENUM_DETACHEDSECONDARYDEVICES | DDENUM_NONDISPLAYDEVICES);
    return {g_drivers, g_modes, g_devices};
}
