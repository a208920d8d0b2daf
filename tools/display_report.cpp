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
#include "display/display_text.h"

#include <cstdio>

namespace {

const char* ResultText(int32_t result)
{
    if (result == DEVICE_ENUM_NO_DEVICE)
        return "no device";
    if (result == DEVICE_ENUM_NONE_ACCEPTED)
        return "none accepted";
    return result >= 0 ? "ok" : "error";
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
        std::fputs(DisplayDeviceText(i, records[i]).c_str(), out);
    FreeDisplayDeviceModes();

    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    if (out != stdout)
        std::fclose(out);
    if (!written)
        return 2;
    return result >= 0 ? 0 : 1;
}
