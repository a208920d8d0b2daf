// The texts in which display-report shows what the enumeration found; the tests compare the
// same texts, so a mode is spelt one way everywhere.
#pragma once

#include "display/display_device_table.h"

#include <cstdint>
#include <string>

// "640 x 480 x 16": width, height and bits per pixel, unsigned.
std::string DisplayModeText(uint32_t width, uint32_t height, uint32_t bitsPerPixel);
std::string DisplayModeText(const DDSURFACEDESC2& mode);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
std::string GuidText(const GUID& guid);

// One accepted record as the block of lines that display-report prints for it, each ending in
// "\n" (the format is described at the top of tools/display_report.cpp).
std::string DisplayDeviceText(uint32_t index, const DisplayDeviceRecord& record);
