// Enumeration against scripted DirectDraw drivers; the mode storage watched, and refused, through
// the tracker's heap.
#include "display/display_enumeration.h"
#include "display/display_text.h"
#include "memtrack/tracker.h"
#include "scripted_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

constexpr DWORD kHardware = D3DDEVCAPS_HWRASTERIZATION;
constexpr DWORD kSoftware = D3DDEVCAPS_FLOATTLVERTEX;

// The tracker's heap, counting the blocks it hands out for tracked allocations and refusing
// those past the budget. The tracker's own record blocks, never given back, are served apart.
size_t g_budget;
long g_live;
TrackerHeap g_heap;
void* CountingAllocate(size_t size)
{
    if (size == kUnitsPerBlock * sizeof(AllocationUnit))
        return g_heap.allocate(size);
    if (g_budget == 0)
        return nullptr;
    --g_budget;
    ++g_live;
    return g_heap.allocate(size);
}
void CountingRelease(void* block)
{
    --g_live;
    g_heap.release(block);
}

template <class T>
bool Same(const T& expected, const T& actual)
{
    return std::memcmp(&expected, &actual, sizeof(T)) == 0;
}

DisplayDeviceRecord& Record(uint32_t index)
{
    return GetDisplayDeviceTable()[index];
}

// By the device GUID's low byte: 1 rejects (-1), 2 accepts (0), others accept (1). It
// allocates, as a filter may.
int g_filterCalls;
int32_t Filter(const DDCAPS*, const D3DDEVICEDESC7* deviceDesc)
{
    ++g_filterCalls;
    int* volatile block = new int(7);  // volatile: the pair may not be left out
    delete block;
    const int lowByte = deviceDesc->deviceGUID.Data1 & 0xff;
    return lowByte == 1 ? -1 : lowByte == 2 ? 0 : 1;
}

class DisplayEnumerationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetDisplayDeviceTable();
        std::filesystem::remove("memory.log");
        g_heap = trackerHeap;
        trackerHeap = {CountingAllocate, CountingRelease};
        g_budget = SIZE_MAX;
    }
    // The exit step gives back every block of the mode storage, none twice (a line of the log).
    void TearDown() override
    {
        const long live = g_live - long(GetAcceptedDeviceCount());
        FreeDisplayDeviceModes();
        EXPECT_EQ(live, g_live) << "mode storage left";
        EXPECT_TRUE(refused_ || !std::filesystem::exists("memory.log"));
        trackerHeap = g_heap;
        ResetDisplayDeviceTable();
        SetDirectDrawEntry(nullptr);
    }
    // With a budget, tracked allocations past that many are refused.
    int32_t Run(ScriptedMachine& machine, size_t budget = SIZE_MAX)
    {
        g_filterCalls = 0;
        SetDirectDrawEntry(&machine);
        live_ = g_live;
        g_budget = budget;
        refused_ = refused_ || budget != SIZE_MAX;
        const int32_t result = EnumerateDisplayDevices(Filter);
        g_budget = SIZE_MAX;
        EXPECT_TRUE(machine.AllReleased());
        return result;
    }
    long live_ = 0;  // tracked blocks before the last run
    bool refused_ = false;
};

}  // namespace

// Records in driver and device order with their renderable modes sorted, the last 640 x 480 x 16
// the default; the result codes; no more than twenty records.
TEST_F(DisplayEnumerationTest, RecordsResultCodesAndTheTwentyRecordCap)
{
    const std::string long45 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrs";
    const DWORD stereo = DDSCAPS2_STEREOSURFACELEFT;
    DriverScript primary {"Primary Display Driver", 0};
    primary.modes = {MakeMode(800, 600, 16),       MakeMode(640, 480, 32, 0, stereo), MakeMode(640, 480, 16, 1),
                     MakeMode(0x80000000u, 1, 16), MakeMode(320, 200, 8, 0, stereo),  MakeMode(640, 480, 24),
                     MakeMode(640, 480, 15),       MakeMode(640, 480, 16, 2),         MakeMode(640, 512, 16),
                     MakeMode(640, 400, 32)};
    primary.devices
        = {MakeDevice(long45, kHardware, DDBD_8 | DDBD_16 | DDBD_32, 3), MakeDevice("filtered", kHardware, DDBD_16, 1),
           MakeDevice("8 bits only", kHardware, DDBD_8, 6), MakeDevice("RGB Emulation", kSoftware, DDBD_24, 2)};
    primary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;
    DriverScript secondary {"3D Card " + long45, 9, {MakeMode(640, 480, 32), MakeMode(640, 480, 16)}};
    secondary.devices = {MakeDevice("Accel HAL", kHardware | kSoftware, DDBD_16, 0x13),
                         MakeDevice("Accel T&L", kHardware, DDBD_16 | DDBD_32, 5),
                         MakeDevice("Accel RGB", kSoftware, DDBD_16 | DDBD_32, 4)};
    secondary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;  // never honoured off the primary driver

    const std::vector<DDSURFACEDESC2> oneMode = {MakeMode(640, 480, 16)};
    const std::vector<ScriptedDevice> hal = {MakeDevice("HAL", kHardware, DDBD_16, 6)};
    const DriverScript noDirect3D {"No D3D", 4, oneMode, hal, 0, DD_OK, E_NOINTERFACE};
    const DriverScript noDirectDraw {"No DD", 5, oneMode, hal, 0, DDERR_NODIRECTDRAWHW};
    const DriverScript software {"Software", 7, oneMode, {MakeDevice("RGB", kSoftware, DDBD_16, 7)}};
    const DriverScript noModes {"Primary", 0, {}, hal};
    DriverScript many[2] = {{"Primary", 0, oneMode}, {"Second", 6, {MakeMode(1024, 768, 16), MakeMode(640, 480, 16)}}};
    for (uint32_t i = 0; i < 25; ++i)
        many[i < 12 ? 0 : 1].devices.push_back(MakeDevice("P", kHardware, DDBD_16, 0x10 + i));
    const struct {
        const char* name;
        std::vector<DriverScript> drivers;
        int32_t result;
        uint32_t reported, accepted;
        int filtered;
    } cases[] = {
        {"no driver", {}, DEVICE_ENUM_NO_DEVICE, 0, 0, 0},
        {"no Direct3D, no DirectDraw", {noDirect3D, noDirectDraw}, DEVICE_ENUM_NO_DEVICE, 0, 0, 0},
        {"software off the primary driver", {software}, DEVICE_ENUM_NONE_ACCEPTED, 1, 0, 0},
        {"no modes", {noModes}, DEVICE_ENUM_NONE_ACCEPTED, 1, 0, 1},
        {"25 devices", {many[0], many[1]}, 0, 25, 20, 20},
        {"primary and secondary", {primary, secondary}, 0, 7, 4, 6},
    };
    std::string twentieth;
    for (const auto& c : cases) {
        FreeDisplayDeviceModes();  // the earlier case's storage
        ResetDisplayDeviceTable();
        ScriptedMachine machine(c.drivers);
        EXPECT_EQ(c.result, Run(machine)) << c.name;
        EXPECT_EQ(c.reported, GetReportedDeviceCount()) << c.name;
        EXPECT_EQ(c.accepted, GetAcceptedDeviceCount()) << c.name;
        EXPECT_EQ(c.filtered, g_filterCalls) << c.name;
        EXPECT_EQ(live_ + long(c.accepted), g_live) << c.name << ": one block of mode storage per record";
        if (c.accepted == 20)
            twentieth = DisplayDeviceText(19, Record(19));
    }
    EXPECT_EQ("device 19: Second\n"
              "  hardware: yes (0x00080000)\n"
              "  device guid: {D0000023-1234-5678-9ABC-DEF011223323}\n",
              twentieth.substr(0, twentieth.find("  driver guid")))
        << "the eighth device of the second driver";
    // The table holds the last case.
    ASSERT_EQ(4u, GetAcceptedDeviceCount());
    EXPECT_EQ("device 0: ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl\n"
              "  hardware: yes (0x00080000)\n"
              "  device guid: {D0000003-1234-5678-9ABC-DEF011223303}\n"
              "  driver guid: none (primary display driver)\n"
              "  windowed: yes\n"
              "  default mode: 2 (640 x 480 x 16)\n"
              "  modes: 7\n"
              "    640 x 400 x 32\n"
              "    640 x 480 x 16\n"
              "    640 x 480 x 16\n"
              "    640 x 480 x 32\n"
              "    640 x 512 x 16\n"
              "    800 x 600 x 16\n"
              "    2147483648 x 1 x 16\n",
              DisplayDeviceText(0, Record(0)));
    EXPECT_EQ("device 1: RGB Emulation\n"
              "  hardware: no (0x00000000)\n"
              "  device guid: {D0000002-1234-5678-9ABC-DEF011223302}\n"
              "  driver guid: none (primary display driver)\n"
              "  windowed: yes\n"
              "  default mode: 0 (none)\n"
              "  modes: 1\n"
              "    640 x 480 x 24\n",
              DisplayDeviceText(1, Record(1)));
    EXPECT_EQ("device 2: 3D Card ABCDEFGHIJKLMNOPQRSTUVWXYZabcd\n"
              "  hardware: yes (0x00080000)\n"
              "  device guid: {D0000013-1234-5678-9ABC-DEF011223313}\n"
              "  driver guid: {00000009-1234-5678-9ABC-DEF011223309}\n"
              "  windowed: no\n"
              "  default mode: 0 (640 x 480 x 16)\n"
              "  modes: 1\n"
              "    640 x 480 x 16\n",
              DisplayDeviceText(2, Record(2)));
    EXPECT_EQ("device 3: 3D Card ABCDEFGHIJKLMNOPQRSTUVWXYZabcd\n"
              "  hardware: yes (0x00080000)\n"
              "  device guid: {D0000005-1234-5678-9ABC-DEF011223305}\n"
              "  driver guid: {00000009-1234-5678-9ABC-DEF011223309}\n"
              "  windowed: no\n"
              "  default mode: 0 (640 x 480 x 16)\n"
              "  modes: 2\n"
              "    640 x 480 x 16\n"
              "    640 x 480 x 32\n",
              DisplayDeviceText(3, Record(3)));

    // What the text does not show.
    const struct {
        const DriverScript& driver;
        size_t device;  // in the driver's script
        int32_t hasStereoMode;
    } records[] = {{primary, 0, 1}, {primary, 3, 0}, {secondary, 0, 0}, {secondary, 1, 0}};
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        const DisplayDeviceRecord& record = Record(i);
        EXPECT_TRUE(Same(records[i].driver.devices[records[i].device].desc, record.deviceDesc)) << "deviceDesc";
        EXPECT_TRUE(Same(MakeCaps(records[i].driver, true), record.halCaps)) << "halCaps";
        EXPECT_TRUE(Same(MakeCaps(records[i].driver, false), record.helCaps)) << "helCaps";
        EXPECT_EQ(records[i].hasStereoMode, record.hasStereoMode) << "stereo from usable modes only";
        const AllocationUnit* storage = FindAllocationUnit(record.modes);
        ASSERT_NE(nullptr, storage);
        EXPECT_EQ(records[i].driver.modes.size() * sizeof(DDSURFACEDESC2), storage->reportedSize)
            << "room for every mode of the driver";
    }
    EXPECT_EQ(2u, Record(0).defaultMode.dwRefreshRate) << "the later 640 x 480 x 16, copied whole";
    EXPECT_TRUE(Same(Record(0).modes[2], Record(0).defaultMode)) << "the default copied whole";
    EXPECT_TRUE(Same(DDSURFACEDESC2 {}, Record(1).defaultMode)) << "no default";
    EXPECT_EQ(nullptr, Record(4).modes) << "the last device, rejected, holds no storage";
}

// Each allocation of a run refused in turn: the run stops with the records accepted until then,
// each as a whole run makes it, every interface released and no storage left behind.
TEST_F(DisplayEnumerationTest, RunningOutOfMemoryStopsWithCompleteRecords)
{
    DriverScript primary {"Primary", 0, {MakeMode(800, 600, 16), MakeMode(640, 480, 16), MakeMode(640, 480, 8)}};
    primary.devices = {MakeDevice("P0", kHardware, DDBD_16, 0x11), MakeDevice("P1", kSoftware, DDBD_16, 0x12)};
    DriverScript secondary {"Secondary", 6, {MakeMode(1024, 768, 16), MakeMode(640, 480, 16)}};
    secondary.devices = {MakeDevice("S0", kHardware, DDBD_16, 0x13), MakeDevice("S1", kHardware, DDBD_16, 0x14)};
    ScriptedMachine whole({primary, secondary});
    ASSERT_EQ(0, Run(whole));
    std::vector<std::string> complete;
    for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i)
        complete.push_back(DisplayDeviceText(i, Record(i)));
    FreeDisplayDeviceModes();
    ResetDisplayDeviceTable();

    // The thirteen tracked allocations of a run, by number: 0 to 2 the primary driver's modes,
    // 7 and 8 the secondary driver's, and for each device its mode storage, then its filter's.
    const struct {
        size_t storage, filter;
    } devices[] = {{3, 4}, {5, 6}, {9, 10}, {11, 12}};
    for (size_t budget = 0; budget < 14; ++budget) {
        SCOPED_TRACE("the first " + std::to_string(budget) + " allocations served");
        uint32_t reported = 0;
        uint32_t accepted = 0;
        for (const auto& device : devices) {
            reported += device.storage <= budget;
            accepted += device.filter < budget;
        }
        ScriptedMachine machine({primary, secondary});
        const int32_t result = Run(machine, budget);
        EXPECT_EQ(reported == 0 ? DEVICE_ENUM_NO_DEVICE : accepted == 0 ? DEVICE_ENUM_NONE_ACCEPTED : 0, result);
        EXPECT_EQ(budget < 13, DisplayEnumerationRanOutOfMemory());
        EXPECT_EQ(reported, GetReportedDeviceCount());
        ASSERT_EQ(accepted, GetAcceptedDeviceCount());
        for (uint32_t i = 0; i < accepted; ++i)
            EXPECT_EQ(complete[i], DisplayDeviceText(i, Record(i)));
        EXPECT_EQ(nullptr, Record(accepted).modes) << "the slot after the records";
        EXPECT_EQ(live_ + long(accepted), g_live) << "only the records' storage is left";
        EXPECT_EQ(budget < 7 ? 0 : 1, machine.drivers[1]->created) << "the secondary driver opened after the primary";
        FreeDisplayDeviceModes();
        ResetDisplayDeviceTable();
        EXPECT_EQ(live_, g_live);
    }
}
