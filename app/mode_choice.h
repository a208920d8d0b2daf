// Which display modes of a device appear in the resolution list, and which ModeChoiceTable row
// each one gets. The defaults and the setup dialog both build the list with these, so a row
// always means the same mode to both.
#pragma once

#include "app/settings.h"
#include "display/display_device_table.h"

#include <cstdint>

constexpr uint32_t kListedModeMinHeight = 480;
constexpr uint32_t kListedModeBitCount = 16;

// At least 480 lines at exactly 16 bits per pixel.
inline bool IsListedMode(const DDSURFACEDESC2& mode)
{
    return mode.dwHeight >= kListedModeMinHeight && mode.ddpfPixelFormat.dwRGBBitCount == kListedModeBitCount;
}

// True for an index of a ModeChoiceTable row (0 to 39). A list selection of -1 is not a row.
inline bool IsModeChoiceRow(int32_t row)
{
    return row >= 0 && static_cast<uint32_t>(row) < kModeChoiceRows;
}

// Calls visit(row, mode) for every listed mode of the device that has a row, in the order of
// its modes, and returns the number of rows. The table has 40 rows, so listed modes after the
// 40th have none and are left out of the list altogether.
template <typename Visit>
uint32_t ForEachResolutionRow(const DisplayDeviceRecord& device, Visit&& visit)
{
    uint32_t row = 0;
    if (device.modes == nullptr)
        return 0;
    for (uint32_t i = 0; i < device.modeCount && row < kModeChoiceRows; ++i) {
        const DDSURFACEDESC2& mode = device.modes[i];
        if (!IsListedMode(mode))
            continue;
        visit(row, mode);
        ++row;
    }
    return row;
}

// Number of items of the device's resolution list.
inline uint32_t CountResolutionRows(const DisplayDeviceRecord& device)
{
    return ForEachResolutionRow(device, [](uint32_t, const DDSURFACEDESC2&) {});
}

// Writes the device's resolution rows into ModeChoiceTable (depth always 16) and calls
// visit(row, mode) after each row is written. Rows after the last are left as they were.
template <typename Visit>
uint32_t WriteResolutionRows(const DisplayDeviceRecord& device, Visit&& visit)
{
    return ForEachResolutionRow(device, [&](uint32_t row, const DDSURFACEDESC2& mode) {
        ModeChoiceTable[row].width = static_cast<int32_t>(mode.dwWidth);
        ModeChoiceTable[row].height = static_cast<int32_t>(mode.dwHeight);
        ModeChoiceTable[row].bitPerPixel = static_cast<int32_t>(kListedModeBitCount);
        visit(row, mode);
    });
}

inline uint32_t WriteResolutionRows(const DisplayDeviceRecord& device)
{
    return WriteResolutionRows(device, [](uint32_t, const DDSURFACEDESC2&) {});
}
