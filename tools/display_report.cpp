// display-report: runs the display device enumeration of Tavelkin Setup and
// prints what it found, for players and support staff.
//
//   display-report.exe [output-file]
//
// Writes to the file when one is named, else to standard output. Exit status:
// 0 when a device was accepted, 1 when none was, 2 when the report could not
// be written. The report, line by line (two-space indents):
//
//   Tavelkin Setup display report
//   DirectDraw: not available (...)          only when ddraw.dll cannot be used
//   result: 0x00000000 (ok)                  | (no device) | (none accepted)
//   reported devices: <n>
//   accepted devices: <n>
//   out of memory: no                        | yes (enumeration stopped)
//   device <i>: <name>                       one block per accepted record
//     hardware: yes (0x00080000)             | no (0x00000000)
//     device guid: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
//     driver guid: {...}                     | none (primary display driver)
//     windowed: yes                          | no
//     default mode: <index> (640 x 480 x 16) | <index> (none)
//     modes: <count>
//       <W> x <H> x <BPP>                    one line per mode, in table order
#include "display/direct_draw_entry.h"
#include "display/display_enumeration.h"

#include <cstdio>

namespace {

void PrintGuid(FILE* out, const GUID& guid)
{
    std::fprintf(out, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(guid.Data1),
                 guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                 guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

const char* ResultText(int32_t result)
{
    if (result == DEVICE_ENUM_NO_DEVICE)
        return "no device";
    if (result == DEVICE_ENUM_NONE_ACCEPTED)
        return "none accepted";
    return result >= 0 ? "ok" : "error";
}

void PrintRecord(FILE* out, uint32_t index, const DisplayDeviceRecord& record)
{
    std::fprintf(out, "device %u: %s\n", static_cast<unsigned>(index), record.name);
    std::fprintf(out, "  hardware: %s (0x%08lX)\n", record.isHardware ? "yes" : "no",
                 static_cast<unsigned long>(record.isHardware));
    std::fputs("  device guid: ", out);
    PrintGuid(out, record.deviceGuidValue);
    std::fputs("\n  driver guid: ", out);
    if (record.driverGuid != nullptr)
        PrintGuid(out, record.driverGuidValue);
    else
        std::fputs("none (primary display driver)", out);
    std::fprintf(out, "\n  windowed: %s\n", record.windowed ? "yes" : "no");
    std::fprintf(out, "  default mode: %u (%s)\n", static_cast<unsigned>(record.defaultModeIndex),
                 record.defaultMode.dwWidth != 0 ? "640 x 480 x 16" : "none");
    std::fprintf(out, "  modes: %u\n", static_cast<unsigned>(record.modeCount));
    for (uint32_t i = 0; i < record.modeCount; ++i) {
        const DDSURFACEDESC2& mode = record.modes[i];
        std::fprintf(out, "    %lu x %lu x %lu\n", static_cast<unsigned long>(mode.dwWidth),
                     static_cast<unsigned long>(mode.dwHeight),
                     static_cast<unsigned long>(mode.ddpfPixelFormat.dwRGBBitCount));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    FILE* out = stdout;
    if (argc > 1) {
        out = std::fopen(argv[1], "w");
        if (out == nullptr) {
            std::fprintf(stderr, "display-report: cannot write %s\n", argv[1]);
            return 2;
        }
    }

    const int32_t result = EnumerateDisplayDevices(nullptr);
    const uint32_t accepted = GetAcceptedDeviceCount();
    std::fputs("Tavelkin Setup display report\n", out);
    if (!DirectDrawAvailable())
        std::fputs("DirectDraw: not available (ddraw.dll or its entry points are missing)\n", out);
    std::fprintf(out, "result: 0x%08lX (%s)\n", static_cast<unsigned long>(static_cast<uint32_t>(result)),
                 ResultText(result));
    std::fprintf(out, "reported devices: %u\n", static_cast<unsigned>(GetReportedDeviceCount()));
    std::fprintf(out, "accepted devices: %u\n", static_cast<unsigned>(accepted));
    std::fprintf(out, "out of memory: %s\n", DisplayEnumerationRanOutOfMemory() ? "yes (enumeration stopped)" : "no");
    const DisplayDeviceRecord* records = GetDisplayDeviceTable();
    for (uint32_t i = 0; i < accepted; ++i)
        PrintRecord(out, i, records[i]);
    FreeDisplayDeviceModes();

    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    if (out != stdout)
        std::fclose(out);
    if (!written)
        return 2;
    return result >= 0 ? 0 : 1;
}
