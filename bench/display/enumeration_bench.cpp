// Times the display enumeration on a large scripted machine (by default 20
// drivers x 2,000 modes, one hardware device each) against a baseline that
// makes the same driver calls but stores and sorts nothing.
//
//   display-enumeration-bench.exe [drivers] [modes] [repeats]
#include "display/direct_draw_entry.h"
#include "display/display_enumeration.h"

#include "support.h"
#include "../common/directdraw_walk.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Modes in a scrambled order, at 8, 16, 24 and 32 bits.
std::vector<DDSURFACEDESC2> ScrambledModes(int count, uint32_t seed)
{
    std::vector<DDSURFACEDESC2> modes;
    static const DWORD depths[4] = {8, 16, 24, 32};
    for (int i = 0; i < count; ++i)
        modes.push_back(MakeMode(320 + 8 * (i / 4 % 250), 200 + 4 * (i / 1000), depths[i % 4], i));
    for (int i = count - 1; i > 0; --i) {
        seed = seed * 1664525u + 1013904223u;
        std::swap(modes[i], modes[seed % (i + 1)]);
    }
    return modes;
}

}  // namespace

int main(int argc, char** argv)
{
    const int driverCount = argc > 1 ? std::atoi(argv[1]) : 20;
    const int modeCount = argc > 2 ? std::atoi(argv[2]) : 2000;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 5;

    std::vector<DriverScript> drivers;
    for (int d = 0; d < driverCount; ++d) {
        DriverScript driver{d == 0 ? "Primary Display Driver" : "Accelerator " + std::to_string(d), d == 0 ? 0u : 100u + d};
        driver.modes = ScrambledModes(modeCount, 7u + d);
        driver.devices = {MakeDevice("HAL", D3DDEVCAPS_HWRASTERIZATION, DDBD_16 | DDBD_24 | DDBD_32, d)};
        drivers.push_back(driver);
    }
    ScriptedMachine machine(drivers);
    SetDirectDrawEntry(&machine);

    // Enumeration: fill the table, then give its storage back, as a run does.
    // Other load on the machine only ever adds time: the fastest run is reported beside the mean.
    double enumerationTotal = 0, enumerationBest = 1e30;
    for (int r = 0; r < repeats; ++r) {
        ResetDisplayDeviceTable();
        const double start = Now();
        EnumerateDisplayDevices(nullptr);
        FreeDisplayDeviceModes();
        const double elapsed = Now() - start;
        enumerationTotal += elapsed;
        enumerationBest = std::min(enumerationBest, elapsed);
        const uint32_t expectedModes = static_cast<uint32_t>(modeCount - modeCount / 4);  // all but 8-bit
        const uint32_t accepted = GetAcceptedDeviceCount();
        if (accepted != static_cast<uint32_t>(std::min(driverCount, 20)) ||
            (accepted > 0 && GetDisplayDeviceTable()[0].modeCount != expectedModes)) {
            std::fprintf(stderr, "unexpected result: %u devices, %u modes\n", accepted,
                         accepted ? GetDisplayDeviceTable()[0].modeCount : 0);
            return 1;
        }
    }
    ResetDisplayDeviceTable();

    const int baselineRepeats = repeats * 10;
    double baselineTotal = 0, baselineBest = 1e30;
    DirectDrawCounts counts = {};
    for (int r = 0; r < baselineRepeats; ++r) {
        const double start = Now();
        counts = WalkDirectDraw(machine);
        const double elapsed = Now() - start;
        baselineTotal += elapsed;
        baselineBest = std::min(baselineBest, elapsed);
    }
    SetDirectDrawEntry(nullptr);
    if (counts.modes != static_cast<size_t>(driverCount) * modeCount) {
        std::fprintf(stderr, "baseline walked %zu modes\n", counts.modes);
        return 1;
    }

    // The two parts of a driver's work: collecting its modes one by one, and sorting them.
    // Each driver's sorted list stays until the run ends, as the enumeration keeps each device's modes:
    // the heap then looks as it does in a real run.
    double collectTotal = 0, sortTotal = 0;
    for (int r = 0; r < repeats; ++r) {
        std::vector<void*> kept;
        for (int d = 0; d < driverCount; ++d) {
            const std::vector<DDSURFACEDESC2>& reported = drivers[d].modes;
            DisplayDeviceRecord context = {};
            double start = Now();
            for (const DDSURFACEDESC2& mode : reported)
                ModeEnumCallback(const_cast<DDSURFACEDESC2*>(&mode), &context);
            collectTotal += Now() - start;
            start = Now();
            std::qsort(context.modes, context.modeCount, sizeof(DDSURFACEDESC2), CompareDisplayModes);
            sortTotal += Now() - start;
            kept.push_back(context.modes);
        }
        for (void* modes : kept)
            ::operator delete(modes);
    }

    const double modes = static_cast<double>(driverCount) * modeCount;
    std::printf("machine: %d drivers x %d modes, 1 device each (%d runs, baseline %d runs)\n", driverCount,
                modeCount, repeats, baselineRepeats);
    std::printf("enumeration: best %.3f ms, mean %.3f ms per run; best %.1f ns per reported mode\n",
                enumerationBest * 1e3, enumerationTotal / repeats * 1e3, enumerationBest * 1e9 / modes);
    std::printf("  measured apart: collecting modes %.3f ms, sorting %.3f ms (means per run)\n",
                collectTotal / repeats * 1e3, sortTotal / repeats * 1e3);
    std::printf("baseline (calls only): best %.3f ms, mean %.3f ms per run; best %.1f ns per reported mode\n",
                baselineBest * 1e3, baselineTotal / baselineRepeats * 1e3, baselineBest * 1e9 / modes);
    std::printf("ratio enumeration / baseline (best runs): %.1f\n", enumerationBest / baselineBest);
    return 0;
}
