// The mode-choice table, which gives each row of the resolution list its display mode, and the
// walk that decides which modes of a device are listed. The defaults and the setup dialog both
// build the list with it, so a row always means the same mode to both.
#pragma once

#include "display/display_device_table.h"

#include <cstdint>

constexpr unsigned kModeChoiceRows = 40;
constexpr uint32_t kListedModeMinHeight = 480;
constexpr uint32_t kListedModeBitCount = 16;

// One display mode of the resolution list.
struct ModeChoice {
    int32_t width;
    int32_t height;
    int32_t bitPerPixel;
};
static_assert(sizeof(ModeChoice) == 12, "three 32-bit integers");

constexpr ModeChoice kDefaultModeChoice {static_cast<int32_t>(kDefaultDisplayMode.width),
                                         static_cast<int32_t>(kDefaultDisplayMode.height),
                                         static_cast<int32_t>(kDefaultDisplayMode.bitsPerPixel)};

// Row r is the mode at row r of the resolution list last built. Every row holds
// kDefaultModeChoice from static initialisation on.
extern ModeChoice ModeChoiceTable[kModeChoiceRows];

// True for an index of a ModeChoiceTable row (0 to 39). A list selection of -1 is not a row.
inline bool IsModeChoiceRow(int32_t row)
{
    return row >= 0 && static_cast<uint32_t>(row) < kModeChoiceRows;
}

// The rows a device's resolution list got: how many, and the list row (which is also the
// ModeChoiceTable row) of its default mode, the last one when there are several, or -1 when it
// has none.
struct ResolutionRows {
    int32_t count;
    int32_t defaultModeListRow;
};

// Walks the device's listed modes (at least 480 lines, exactly 16 bits per pixel) in the order
// of its modes, writes each one's ModeChoiceTable row (depth always 16) and then calls
// visit(mode). The table has 40 rows, so listed modes after the 40th have none and are left
// out of the list altogether; rows after the last are left as they were.
template <typename Visit>
ResolutionRows WriteResolutionRows(const DisplayDeviceRecord& device, Visit&& visit)
{
    ResolutionRows rows {0, -1};
    if (device.modes == nullptr)
        return rows;
    for (uint32_t i = 0; i < device.modeCount && IsModeChoiceRow(rows.count); ++i) {
        const DDSURFACEDESC2& mode = device.modes[i];
        if (mode.dwHeight < kListedModeMinHeight || mode.ddpfPixelFormat.dwRGBBitCount != kListedModeBitCount)
            continue;
        ModeChoice& row = ModeChoiceTable[rows.count];
        row.width = static_cast<int32_t>(mode.dwWidth);
        row.height = static_cast<int32_t>(mode.dwHeight);
        row.bitPerPixel = static_cast<int32_t>(kListedModeBitCount);
        if (IsDefaultDisplayMode(mode))
            rows.defaultModeListRow = rows.count;
        visit(mode);
        ++rows.count;
    }
    return rows;
}
