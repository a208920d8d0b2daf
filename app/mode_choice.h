// Which display modes of a device appear in the resolution list, and which ModeChoiceTable row
// each one gets. The defaults and the setup dialog both build the list with these, so a row
// always means the same mode to both.
#pragma once

#include "app/settings.h"
#include "display/display_device_table.h"

#include <cstdint>

constexpr uint32_t kListedModeMinHeight = 480;
constexpr uint32_t kListedModeBitCount = 16;

// True for an index of a ModeChoiceTable row (0 to 39). A list selection of -1 is not a row.
inline bool IsModeChoiceRow(int32_t row)
{
    return row >= 0 && static_cast<uint32_t>(row) < kModeChoiceRows;
}

// Walks the device's listed modes (at least 480 lines, exactly 16 bits per pixel) in the order
// of its modes, writes each one's ModeChoiceTable row (depth always 16) and then calls
// visit(row, mode). The table has 40 rows, so listed modes after the 40th have none and are
// left out of the list altogether; rows after the last are left as they were.
template <typename Visit>
void WriteResolutionRows(const DisplayDeviceRecord& device, Visit&& visit)
{
    if (device.modes == nullptr)
        return;
    uint32_t row = 0;
    for (uint32_t i = 0; i < device.modeCount && row < kModeChoiceRows; ++i) {
        const DDSURFACEDESC2& mode = device.modes[i];
        if (mode.dwHeight < kListedModeMinHeight || mode.ddpfPixelFormat.dwRGBBitCount != kListedModeBitCount)
            continue;
        ModeChoiceTable[row].width = static_cast<int32_t>(mode.dwWidth);
        ModeChoiceTable[row].height = static_cast<int32_t>(mode.dwHeight);
        ModeChoiceTable[row].bitPerPixel = static_cast<int32_t>(kListedModeBitCount);
        visit(row, mode);
        ++row;
    }
}
