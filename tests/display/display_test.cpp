// Enumeration against scripted DirectDraw drivers, tracked blocks counted and refused through the tracker's heap.
#include "display/display_enumeration.h"
#include "display/display_text.h"
#include "memtrack/tracker.h"
#include "scripted_machine.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr DWORD kHardware = D3DDEVCAPS_HWRASTERIZATION;
constexpr DWORD kSoftware = D3DDEVCAPS_FLOATTLVERTEX;

// Counts the blocks handed out for tracked allocations, notes the table's counts as each is asked for, and refuses
// those past the budget. The tracker's own record blocks, never given back, are served apart.
std::pair<uint32_t, uint32_t> g_countsAsked[64];  // reported and accepted devices; more than a run here asks for
size_t g_asked;
size_t g_budget = SIZE_MAX;
long g_live;
TrackerHeap g_heap;
void* CountingAllocate(size_t size)
{
    if (size == kUnitsPerBlock * sizeof(AllocationUnit))
        return g_heap.allocate(size);
    if (g_asked < std::size(g_countsAsked))
        g_countsAsked[g_asked] = {GetReportedDeviceCount(), GetAcceptedDeviceCount()};
    ++g_asked;
    if (g_asked > g_budget)
        return nullptr;
    ++g_live;
    return g_heap.allocate(size);
}
void CountingRelease(void* block)
{
    --g_live;
    g_heap.release(block);
}

// By the device GUID's low byte: 1 rejects (-1), 2 accepts (0), others accept (1). It allocates, as a filter may.
int32_t Filter(const DDCAPS*, const D3DDEVICEDESC7* deviceDesc)
{
    int* volatile block = new int(7);  // volatile: the pair may not be left out
    delete block;
    const int lowByte = deviceDesc->deviceGUID.Data1 & 0xff;
    return lowByte == 1 ? -1 : lowByte == 2 ? 0 : 1;
}

// The accepted records as display-report prints them.
std::string TableText()
{
    std::string text;
    for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i)
        text += DisplayDeviceText(i, GetDisplayDeviceTable()[i]);
    return text;
}

}  // namespace

// Records in driver and device order with their renderable modes sorted and the last 640 x 480 x 16 the default,
// result codes, the twenty-record cap, and each allocation refused in turn: the table stays as it was when asked.
TEST(DisplayEnumeration, RecordsResultCodesTheTwentyRecordCapAndRunningOutOfMemory)
{
    std::filesystem::remove("memory.log");
    g_heap = trackerHeap;
    trackerHeap = {CountingAllocate, CountingRelease};
    long live = 0;     // tracked blocks before the last run
    size_t asked = 0;  // tracked allocations the last run asked for
    // On a zero table, the earlier run's storage given back first; with a budget, allocations past it refused.
    const auto run = [&](const std::vector<DriverScript>& drivers, size_t budget) {
        FreeDisplayDeviceModes();
        ResetDisplayDeviceTable();
        live = g_live;
        ScriptedMachine machine(drivers);
        SetDirectDrawEntry(&machine);
        g_asked = 0;
        g_budget = budget;
        const int32_t result = EnumerateDisplayDevices(Filter);
        asked = g_asked;
        g_budget = SIZE_MAX;
        SetDirectDrawEntry(nullptr);
        EXPECT_TRUE(machine.AllReleased());
        return result;
    };

    const DWORD stereo = DDSCAPS2_STEREOSURFACELEFT;
    DriverScript primary {"Primary Display Driver", 0};
    primary.modes = {MakeMode(640, 480, 32, 0, stereo), MakeMode(640, 480, 16, 1), MakeMode(0x80000000u, 1, 16),
                     MakeMode(320, 200, 8, 0, stereo),  MakeMode(640, 480, 24),    MakeMode(640, 480, 15),
                     MakeMode(640, 480, 16, 2),         MakeMode(640, 512, 16),    MakeMode(640, 400, 32)};
    primary.devices
        = {MakeDevice("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrs", kHardware, DDBD_8 | DDBD_16 | DDBD_32, 3),
           MakeDevice("filtered", kHardware, DDBD_16, 1), MakeDevice("8 bits only", kHardware, DDBD_8, 6),
           MakeDevice("RGB Emulation", kSoftware, DDBD_24, 2)};
    primary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;
    DriverScript secondary {"3D Card", 9, {MakeMode(640, 480, 32), MakeMode(640, 480, 16)}};
    secondary.devices = {MakeDevice("Accel HAL", kHardware | kSoftware, DDBD_16 | DDBD_32, 0x13),
                         MakeDevice("Accel RGB", kSoftware, DDBD_16 | DDBD_32, 4)};
    secondary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;  // never honoured off the primary driver
    // Drivers that contribute nothing in between: one without DirectDraw, one without Direct3D, one without modes.
    const std::vector<ScriptedDevice> hal = {MakeDevice("HAL", kHardware, DDBD_16, 6)};
    const std::vector<DriverScript> drivers = {primary,
                                               {"No DD", 4, secondary.modes, hal, 0, false},
                                               {"No D3D", 5, secondary.modes, hal, 0, true, false},
                                               {"No modes", 7, {}, hal},
                                               secondary};
    DriverScript many {"Primary", 0, {MakeMode(640, 480, 16)}};
    for (uint32_t i = 0; i < 25; ++i)
        many.devices.push_back(MakeDevice("P", kHardware, DDBD_16, 0x10 + i));
    EXPECT_EQ(0, run({many}, SIZE_MAX)) << "25 devices";
    EXPECT_EQ(20u, GetAcceptedDeviceCount()) << "no more than twenty records";
    EXPECT_EQ(0, run(drivers, SIZE_MAX)) << "all kinds";
    EXPECT_EQ(7u, GetReportedDeviceCount()) << "every device counted, rejected or accepted";
    const std::string complete = TableText();
    EXPECT_EQ("device 0: ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl\n"
              "  hardware: yes (0x00080000)\n"
              "  device guid: {D0000003-1234-5678-9ABC-DEF011223303}\n"
              "  driver guid: none (primary display driver)\n"
              "  windowed: yes\n"
              "  default mode: 2 (640 x 480 x 16)\n"
              "  modes: 6\n"
              "    640 x 400 x 32\n"
              "    640 x 480 x 16\n"
              "    640 x 480 x 16\n"
              "    640 x 480 x 32\n"
              "    640 x 512 x 16\n"
              "    2147483648 x 1 x 16\n"
              "device 1: RGB Emulation\n"
              "  hardware: no (0x00000000)\n"
              "  device guid: {D0000002-1234-5678-9ABC-DEF011223302}\n"
              "  driver guid: none (primary display driver)\n"
              "  windowed: yes\n"
              "  default mode: 0 (none)\n"
              "  modes: 1\n"
              "    640 x 480 x 24\n"
              "device 2: 3D Card\n"
              "  hardware: yes (0x00080000)\n"
              "  device guid: {D0000013-1234-5678-9ABC-DEF011223313}\n"
              "  driver guid: {00000009-1234-5678-9ABC-DEF011223309}\n"
              "  windowed: no\n"
              "  default mode: 0 (640 x 480 x 16)\n"
              "  modes: 2\n"
              "    640 x 480 x 16\n"
              "    640 x 480 x 32\n",
              complete);
    // What the text does not show.
    const DisplayDeviceRecord* records = GetDisplayDeviceTable();
    EXPECT_EQ(0xa0000009u, records[2].halCaps.dwCaps) << "the driver's hardware capabilities";
    EXPECT_EQ(0xe0000009u, records[2].helCaps.dwCaps) << "the driver's emulation capabilities";
    EXPECT_EQ(0, CompareDisplayModes(&primary.modes[1], &primary.modes[6])) << "two modes of 640 x 480 x 16";
    EXPECT_EQ(1, records[0].hasStereoMode) << "a usable stereo mode";

    EXPECT_FALSE(std::filesystem::exists("memory.log")) << "no fault that the tracker logs";

    const std::vector<std::pair<uint32_t, uint32_t>> countsAsked(g_countsAsked, g_countsAsked + asked);
    for (size_t budget = 0; budget < countsAsked.size(); ++budget) {
        SCOPED_TRACE("the first " + std::to_string(budget) + " allocations served");
        const int32_t result = run(drivers, budget);
        const auto [reported, accepted] = countsAsked[budget];
        EXPECT_EQ(reported == 0 ? DEVICE_ENUM_NO_DEVICE : accepted == 0 ? DEVICE_ENUM_NONE_ACCEPTED : 0, result);
        EXPECT_TRUE(DisplayEnumerationRanOutOfMemory());
        EXPECT_EQ(reported, GetReportedDeviceCount());
        EXPECT_EQ(complete.substr(0, complete.find("device " + std::to_string(accepted) + ":")), TableText());
        EXPECT_EQ(live + long(accepted), g_live) << "only the records' storage is left";
    }

    live = g_live - long(GetAcceptedDeviceCount());
    FreeDisplayDeviceModes();
    EXPECT_EQ(live, g_live) << "the exit step gives back every block of the mode storage";
    trackerHeap = g_heap;
    ResetDisplayDeviceTable();
}
