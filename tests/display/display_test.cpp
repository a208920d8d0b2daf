// Enumeration against scripted DirectDraw drivers; mode storage observed and refused through the tracker.
#include "display/display_enumeration.h"
#include "memtrack/tracker.h"
#include "scripted_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

constexpr DWORD kHardware = D3DDEVCAPS_HWRASTERIZATION, kSoftware = D3DDEVCAPS_FLOATTLVERTEX;
using Strings = std::vector<std::string>;

// Counts the heap's blocks for tracked ones, refusing those past the budget; record blocks, never given back, are served.
size_t g_budget;
long g_live;
TrackerHeap g_heap;
void* CountingAllocate(size_t size)
{
    if (size == kUnitsPerBlock * sizeof(AllocationUnit))
        return g_heap.allocate(size);
    if (g_budget-- == 0)
        return g_budget = 0, nullptr;
    return ++g_live, g_heap.allocate(size);
}
void CountingRelease(void* block) { --g_live, g_heap.release(block); }

template <class T> bool Same(const T& expected, const T& actual) { return std::memcmp(&expected, &actual, sizeof(T)) == 0; }

DisplayDeviceRecord& Record(uint32_t index) { return GetDisplayDeviceTable()[index]; }

Strings Modes(const DisplayDeviceRecord& r)
{
    Strings modes;
    for (const DDSURFACEDESC2* m = r.modes; m != r.modes + r.modeCount; ++m)
        modes.push_back(std::to_string(m->dwWidth) + "x" + std::to_string(m->dwHeight) + "x" + std::to_string(m->ddpfPixelFormat.dwRGBBitCount));
    return modes;
}

// By the device GUID's low byte: 1 rejects (-1), 2 accepts (0), others accept (1). It allocates, as a filter may.
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
        g_heap = trackerHeap, trackerHeap = {CountingAllocate, CountingRelease}, g_budget = SIZE_MAX;
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
        g_filterCalls = 0, SetDirectDrawEntry(&machine);
        live_ = g_live, g_budget = budget, refused_ |= budget != SIZE_MAX;
        const int32_t result = EnumerateDisplayDevices(Filter);
        g_budget = SIZE_MAX;
        EXPECT_TRUE(machine.AllReleased());
        return result;
    }
    long live_ = 0;  // tracked blocks before the last run
    bool refused_ = false;
};

}  // namespace

// Records in driver and device order, renderable modes sorted unsigned, the last 640 x 480 x 16 the default; result codes.
TEST_F(DisplayEnumerationTest, RecordsResultCodesAndTheTwentyRecordCap)
{
    const std::string long45 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrs";
    DriverScript primary{"Primary Display Driver"}, secondary{"3D Card " + long45, 9};
    primary.halCaps2 = secondary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;  // never honoured off the primary driver
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 32, 0, DDSCAPS2_STEREOSURFACELEFT),
                     MakeMode(640, 480, 16, 1), MakeMode(0x80000000u, 1, 16), MakeMode(320, 200, 8, 0, DDSCAPS2_STEREOSURFACELEFT),
                     MakeMode(640, 480, 24), MakeMode(640, 480, 15), MakeMode(640, 480, 16, 2)};
    primary.devices = {MakeDevice(long45, kHardware, DDBD_8 | DDBD_16 | DDBD_32, 3), MakeDevice("filtered", kHardware, DDBD_16, 1),
                       MakeDevice("8 bits only", kHardware, DDBD_8, 6), MakeDevice("RGB Emulation", kSoftware, DDBD_24, 2)};
    secondary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 32), MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("Accel HAL", kHardware | kSoftware, DDBD_16, 0x13), MakeDevice("Accel T&L", kHardware, DDBD_16 | DDBD_32, 5),
                         MakeDevice("Accel RGB", kSoftware, DDBD_16 | DDBD_32, 4)};
    DriverScript noDirect3D{"No D3D", 4}, noDirectDraw{"No DD", 5}, noModes{"Primary"}, many[2] = {{"Primary"}, {"Second", 6}};
    noDirect3D.queryDirect3DResult = E_NOINTERFACE, noDirectDraw.createResult = DDERR_NODIRECTDRAWHW;
    noDirect3D.modes = noDirectDraw.modes = many[0].modes = {MakeMode(640, 480, 16), MakeMode(800, 600, 16)};
    noDirect3D.devices = noDirectDraw.devices = noModes.devices = {MakeDevice("HAL", kHardware, DDBD_16, 6)};
    DriverScript software = noDirect3D;
    software.queryDirect3DResult = S_OK, software.devices = {MakeDevice("RGB", kSoftware, DDBD_16, 7)};
    many[1].modes = {MakeMode(1024, 768, 16), MakeMode(640, 480, 16)};
    for (uint32_t i = 0; i < 25; ++i)
        many[i < 12 ? 0 : 1].devices.push_back(MakeDevice("P", kHardware, DDBD_16, 0x10 + i));
    const struct {
        std::vector<DriverScript> drivers;
        int32_t result;
        uint32_t reported, accepted, filtered;
    } cases[] = {{{}, DEVICE_ENUM_NO_DEVICE, 0, 0, 0}, {{noDirect3D, noDirectDraw}, DEVICE_ENUM_NO_DEVICE, 0, 0, 0},
                 {{software}, DEVICE_ENUM_NONE_ACCEPTED, 1, 0, 0}, {{noModes}, DEVICE_ENUM_NONE_ACCEPTED, 1, 0, 1},
                 {{many[0], many[1]}, 0, 25, 20, 20}, {{primary, secondary}, 0, 7, 4, 6}};
    for (const auto& c : cases) {
        FreeDisplayDeviceModes(), ResetDisplayDeviceTable();  // the earlier case's storage given back
        ScriptedMachine machine(c.drivers);
        EXPECT_EQ(c.result, Run(machine));
        EXPECT_EQ((std::vector<uint32_t>{c.reported, c.accepted, uint32_t(live_ + c.accepted), c.filtered}),
                  (std::vector<uint32_t>{GetReportedDeviceCount(), GetAcceptedDeviceCount(), uint32_t(g_live), uint32_t(g_filterCalls)}));
        if (c.accepted == 20) {  // the twentieth device is the eighth of the second driver
            EXPECT_EQ((std::make_pair(true, Strings{"640x480x16", "1024x768x16"})),
                      std::make_pair(Same(MakeGuid(0xd0000023u), Record(19).deviceGuidValue), Modes(Record(19))));
        }
    }
    EXPECT_EQ(Filter, g_displayDeviceTable.filter);
    ASSERT_EQ(4u, GetAcceptedDeviceCount());
    const char* names[4] = {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl", "RGB Emulation", "3D Card ABCDEFGHIJKLMNOPQRSTUVWXYZabcd",
                            "3D Card ABCDEFGHIJKLMNOPQRSTUVWXYZabcd"};
    const DriverScript* driverOf[4] = {&primary, &primary, &secondary, &secondary};
    const int deviceOf[4] = {0, 3, 0, 1}, windowed[4] = {1, 1, 0, 0}, stereo[4] = {1, 0, 0, 0};  // stereo from usable modes only
    const uint32_t isHardware[4] = {0x80000, 0, 0x80000, 0x80000}, defaultIndex[4] = {1, 0, 0, 0};
    const Strings modes[4] = {{"640x480x16", "640x480x16", "640x480x32", "800x600x16", "2147483648x1x16"},
                              {"640x480x24"}, {"640x480x16", "800x600x16"}, {"640x480x16", "640x480x32", "800x600x16"}};
    for (uint32_t i = 0; i < 4; ++i) {
        const DisplayDeviceRecord& record = Record(i);
        const bool secondaryDriver = i >= 2;  // no usable 640 x 480 x 16 on record 1: still accepted, with no default
        const DDSURFACEDESC2 defaultMode = i == 1 ? DDSURFACEDESC2{} : record.modes[defaultIndex[i]];
        const AllocationUnit* block = FindAllocationUnit(record.modes);  // room for every mode the driver reported
        using V = std::vector<int64_t>;
        EXPECT_EQ((V{isHardware[i], 1, 1, 1, 1, 1, 1, 1, windowed[i], windowed[i], stereo[i], defaultIndex[i], 1,
                     int64_t(driverOf[i]->modes.size() * sizeof(DDSURFACEDESC2))}),
                  (V{record.isHardware, Same(driverOf[i]->devices[deviceOf[i]].desc, record.deviceDesc),
                     Same(record.deviceDesc.deviceGUID, record.deviceGuidValue), Same(MakeCaps(*driverOf[i], true), record.halCaps),
                     Same(MakeCaps(*driverOf[i], false), record.helCaps), Same(secondaryDriver ? MakeGuid(9) : GUID{}, record.driverGuidValue),
                     record.deviceGuid == &record.deviceGuidValue, record.driverGuid == (secondaryDriver ? &record.driverGuidValue : nullptr),
                     record.windowed, record.canRenderWindowed, record.hasStereoMode, record.defaultModeIndex, Same(defaultMode, record.defaultMode),
                     int64_t(block ? block->reportedSize : 0)}))
            << "record " << i;
        EXPECT_EQ((std::pair<std::string, Strings>(std::string(names[i]).append(40 - std::strlen(names[i]), '\0'), modes[i])),
                  (std::pair<std::string, Strings>(std::string(record.name, 40), Modes(record))));  // at most 38 characters, the rest zero
    }
    EXPECT_EQ(3u, Record(0).modes[0].dwRefreshRate + Record(0).modes[1].dwRefreshRate);  // both copied whole
    EXPECT_EQ(nullptr, Record(4).modes) << "the last device, rejected, holds no storage";
}

// Each allocation of a run refused in turn: it stops with whole records only, every interface released, nothing leaked.
TEST_F(DisplayEnumerationTest, RunningOutOfMemoryStopsWithCompleteRecords)
{
    DriverScript primary{"Primary"}, secondary{"Secondary", 6};
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 16), MakeMode(640, 480, 8)};
    primary.devices = {MakeDevice("P0", kHardware, DDBD_16, 0x11), MakeDevice("P1", kSoftware, DDBD_16, 0x12)};
    secondary.modes = {MakeMode(1024, 768, 16), MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("S0", kHardware, DDBD_16, 0x13), MakeDevice("S1", kHardware, DDBD_16, 0x14)};
    // Allocations: 3 primary modes, P0, its filter, P1, its filter, 2 secondary modes, S0, its filter, S1, its filter.
    const int64_t acceptedAfter[14] = {0, 0, 0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 4}, reportedAfter[14] = {0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 4, 4, 4};
    const Strings names = {"P0", "P1", "Secondary", "Secondary"}, modes[2] = {{"640x480x16", "800x600x16"}, {"640x480x16", "1024x768x16"}};
    for (size_t budget = 0; budget < 14; ++budget) {
        ScriptedMachine machine({primary, secondary});
        const int64_t result = Run(machine, budget), accepted = acceptedAfter[budget], reported = reportedAfter[budget];
        ASSERT_EQ((std::vector<int64_t>{reported == 0 ? DEVICE_ENUM_NO_DEVICE : accepted == 0 ? DEVICE_ENUM_NONE_ACCEPTED : 0, budget < 13,
                                        reported, accepted, int64_t(live_) + accepted, 0, 0, budget < 7 ? 0 : 1}),
                  (std::vector<int64_t>{result, DisplayEnumerationRanOutOfMemory(), GetReportedDeviceCount(), GetAcceptedDeviceCount(),
                                        g_live, Record(accepted).modes != nullptr, Record(accepted).modeCount, machine.drivers[1]->created}))
            << "budget " << budget << "; the secondary driver is opened only after the primary one's run";
        for (uint32_t i = 0; i < accepted; ++i)
            EXPECT_EQ(names[i] + " " + testing::PrintToString(modes[i / 2]), Record(i).name + (" " + testing::PrintToString(Modes(Record(i)))));
        FreeDisplayDeviceModes();
        ResetDisplayDeviceTable();
        EXPECT_EQ(live_, g_live);
    }
}
