// The process-wide table of the Direct3D 7 devices that the enumeration accepted.
#pragma once

#include <windows.h>
#include <ddraw.h>
#include <d3d.h>

#include <cstdint>

constexpr unsigned kDisplayDeviceCapacity = 20;
constexpr unsigned kDisplayDeviceNameSize = 40;
// Names keep at most 38 characters (lstrcpynA with a limit of 39).
constexpr unsigned kDisplayDeviceNameLimit = 39;

// The records are copied whole, so their published layouts matter.
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");
static_assert(sizeof(DDCAPS) == 380, "DDCAPS must be its DirectX 7 form");
static_assert(sizeof(D3DDEVICEDESC7) == 236, "D3DDEVICEDESC7 is 236 bytes");
#if defined(_WIN64)
static_assert(sizeof(DDSURFACEDESC2) == 136, "DDSURFACEDESC2 is 136 bytes on x86_64");
#else
static_assert(sizeof(DDSURFACEDESC2) == 124, "DDSURFACEDESC2 is 124 bytes on i686");
#endif

// The default full-screen mode, 640 x 480 at 16 bits per pixel: a record's defaultMode, the
// settings' first choice and every mode-choice row at start-up.
struct DisplayModeSize {
    uint32_t width;
    uint32_t height;
    uint32_t bitsPerPixel;
};
constexpr DisplayModeSize kDefaultDisplayMode {640, 480, 16};

inline bool IsDefaultDisplayMode(const DDSURFACEDESC2& mode)
{
    return mode.dwWidth == kDefaultDisplayMode.width && mode.dwHeight == kDefaultDisplayMode.height
        && mode.ddpfPixelFormat.dwRGBBitCount == kDefaultDisplayMode.bitsPerPixel;
}

// Negative rejects the device; zero or positive accepts it.
typedef int32_t (*DeviceFilterCallback)(const DDCAPS* halCaps, const D3DDEVICEDESC7* deviceDesc);

struct DisplayDeviceRecord {
    char name[kDisplayDeviceNameSize];  // at most 38 characters, the rest zero
    GUID* deviceGuid;                   // always &deviceGuidValue
    D3DDEVICEDESC7 deviceDesc;
    uint32_t isHardware;  // dwDevCaps & D3DDEVCAPS_HWRASTERIZATION: 0 or 0x80000
    GUID* driverGuid;     // null for the primary display driver, else &driverGuidValue
    DDCAPS halCaps;
    DDCAPS helCaps;
    DDSURFACEDESC2 defaultMode;  // kDefaultDisplayMode, or all zero
    int32_t windowed;
    GUID deviceGuidValue;
    GUID driverGuidValue;
    DDSURFACEDESC2* modes;  // owned; sorted by width, height, depth
    uint32_t modeCount;
    uint32_t defaultModeIndex;
    int32_t canRenderWindowed;
    int32_t hasStereoMode;
};

struct DisplayDeviceTable {
    DisplayDeviceRecord records[kDisplayDeviceCapacity];
    DeviceFilterCallback filter;
    uint32_t reportedDeviceCount;
    uint32_t acceptedDeviceCount;
};

// The one table; static storage, all zero at program start.
extern DisplayDeviceTable g_displayDeviceTable;

DisplayDeviceRecord* GetDisplayDeviceTable();
uint32_t GetReportedDeviceCount();
uint32_t GetAcceptedDeviceCount();
// The accepted hardware device at `position` among the hardware devices (the order of the
// dialog's device list), or null when there is none there.
const DisplayDeviceRecord* HardwareDeviceAt(int32_t position);
// Gives back the mode storage of every accepted record (the application's exit step).
// References and counts stay as they are: nothing reads the table afterwards.
void FreeDisplayDeviceModes();

// Zeroes the whole table, counts and filter included, without giving anything
// back: call FreeDisplayDeviceModes first. The program enumerates once on the
// zero table and never calls this; tests and benchmarks use it to enumerate again.
void ResetDisplayDeviceTable();
