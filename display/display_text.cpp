#include "display/display_text.h"

#include <cstdio>

std::string DisplayModeText(uint32_t width, uint32_t height, uint32_t bitsPerPixel)
{
    char text[48];
    std::snprintf(text, sizeof text, "%lu x %lu x %lu", static_cast<unsigned long>(width),
                  static_cast<unsigned long>(height), static_cast<unsigned long>(bitsPerPixel));
    return text;
}

std::string DisplayModeText(const DDSURFACEDESC2& mode)
{
    return DisplayModeText(mode.dwWidth, mode.dwHeight, mode.ddpfPixelFormat.dwRGBBitCount);
}

std::string GuidText(const GUID& guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string DisplayDeviceText(uint32_t index, const DisplayDeviceRecord& record)
{
    char line[96];
    std::string text = "device " + std::to_string(index) + ": " + record.name + "\n";
    std::snprintf(line, sizeof line, "  hardware: %s (0x%08lX)\n", record.isHardware ? "yes" : "no",
                  static_cast<unsigned long>(record.isHardware));
    text += line;
    text += "  device guid: " + GuidText(record.deviceGuidValue) + "\n";
    text += "  driver guid: ";
    text += record.driverGuid != nullptr ? GuidText(record.driverGuidValue) : "none (primary display driver)";
    text += record.windowed ? "\n  windowed: yes\n" : "\n  windowed: no\n";
    // A device without the default mode keeps an all-zero defaultMode.
    text += "  default mode: " + std::to_string(record.defaultModeIndex) + " (";
    text += record.defaultMode.dwWidth != 0 ? DisplayModeText(record.defaultMode) : "none";
    text += ")\n  modes: " + std::to_string(record.modeCount) + "\n";
    for (uint32_t i = 0; i < record.modeCount; ++i)
        text += "    " + DisplayModeText(record.modes[i]) + "\n";
    return text;
}
