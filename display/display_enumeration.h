// Fills the display device table from DirectDraw 7 and Direct3D 7: every driver,
// its sorted display modes, and each acceptable Direct3D device with the modes
// in which it can render.
#pragma once

#include "display/display_device_table.h"

#include <cstdint>

// Result codes of EnumerateDisplayDevices; both errors are negative.
constexpr int32_t DEVICE_ENUM_NO_DEVICE = static_cast<int32_t>(0x81000002);      // no device reported
constexpr int32_t DEVICE_ENUM_NONE_ACCEPTED = static_cast<int32_t>(0x81000003);  // none accepted

// Runs once per process on the zero table; a null filter accepts every device.
// Returns 0 when at least one device was accepted, else one of the codes above.
int32_t EnumerateDisplayDevices(DeviceFilterCallback filter);

// True when the last enumeration was cut short because memory ran out; the
// records accepted until then are complete and stay valid.
bool DisplayEnumerationRanOutOfMemory();

// Callbacks handed to DirectDraw and Direct3D, in their published forms. Each
// takes the driver context (a DisplayDeviceRecord) as its context argument and
// returns "continue" unless memory ran out.
BOOL WINAPI DriverEnumCallback(GUID* driverGuid, LPSTR description, LPSTR driverName, LPVOID context,
                               HMONITOR monitor) noexcept;
HRESULT WINAPI ModeEnumCallback(LPDDSURFACEDESC2 mode, LPVOID context) noexcept;
HRESULT WINAPI DeviceEnumCallback(char* description, char* name, D3DDEVICEDESC7* deviceDesc, void* context) noexcept;

// qsort comparison of two DDSURFACEDESC2: width, then height, then bits per
// pixel, each unsigned. Returns -1, 0 or 1.
int __cdecl CompareDisplayModes(const void* a, const void* b);
