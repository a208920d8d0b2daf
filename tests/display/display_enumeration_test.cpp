// Device and mode enumeration against scripted DirectDraw machines; mode
// storage is observed, and refused, through the allocation tracker.
#include "display/display_enumeration.h"
#include "memtrack/memtrack.h"

#include "scripted_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr DWORD kHardware = D3DDEVCAPS_HWRASTERIZATION, kSoftware = D3DDEVCAPS_FLOATTLVERTEX;
constexpr DWORD k16 = DDBD_16, k24 = DDBD_24, k32 = DDBD_32;
using Strings = std::vector<std::string>;

// Tracked blocks past the budget are refused; the tracker's own record blocks are always served.
size_t g_budget = 0;
TrackerHeap g_heap{nullptr, nullptr};

void* RefusingAllocate(size_t size)
{
    if (size != kUnitsPerBlock * sizeof(AllocationUnit)) {
        if (g_budget == 0)
            return nullptr;
        --g_budget;
    }
    return g_heap.allocate(size);
}

// Offset of the first byte that differs, or -1.
template <class T>
long Diff(const T& expected, const T& actual)
{
    const auto* a = reinterpret_cast<const unsigned char*>(&expected);
    const auto* b = reinterpret_cast<const unsigned char*>(&actual);
    const size_t i = std::mismatch(a, a + sizeof(T), b).first - a;
    return i == sizeof(T) ? -1 : static_cast<long>(i);
}

template <class T>
T Zero() { T value; std::memset(&value, 0, sizeof value); return value; }

DisplayDeviceRecord& Record(uint32_t index) { return GetDisplayDeviceTable()[index]; }

Strings Modes(const DisplayDeviceRecord& r)
{
    Strings modes;
    for (const DDSURFACEDESC2* m = r.modes; m != r.modes + r.modeCount; ++m)
        modes.push_back(std::to_string(m->dwWidth) + "x" + std::to_string(m->dwHeight) + "x" +
                        std::to_string(m->ddpfPixelFormat.dwRGBBitCount));
    return modes;
}

int g_filterCalls = 0, g_filterCallsOutsideTheSlot = 0;

// Decides by the low byte of the device GUID: 1 rejects with -1, 2 accepts
// with 0, anything else with 1. It must be handed the slot's own fields, and
// it allocates, as a filter may.
int32_t Filter(const DDCAPS* halCaps, const D3DDEVICEDESC7* deviceDesc)
{
    ++g_filterCalls;
    const DisplayDeviceRecord& slot = Record(GetAcceptedDeviceCount());
    g_filterCallsOutsideTheSlot += halCaps != &slot.halCaps || deviceDesc != &slot.deviceDesc;
    int* volatile block = new int(7);  // volatile: the pair may not be elided
    delete block;
    const int lowByte = deviceDesc->deviceGUID.Data1 & 0xff;
    return lowByte == 1 ? -1 : lowByte == 2 ? 0 : 1;
}

class DisplayEnumerationTest : public ::testing::Test {
protected:
    // Refused allocations write memory.log into the current directory: a scratch one.
    void SetUp() override
    {
        ResetDisplayDeviceTable();
        scratch_ = std::filesystem::temp_directory_path() /
                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(scratch_);
        std::filesystem::current_path(scratch_);
    }
    // The exit step leaves no block of the table's mode storage with the tracker.
    void TearDown() override
    {
        std::vector<const void*> blocks;
        for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i)
            blocks.push_back(Record(i).modes);
        FreeDisplayDeviceModes();
        for (const void* block : blocks)
            EXPECT_EQ(nullptr, FindAllocationUnit(block)) << "mode storage left at " << block;
        ResetDisplayDeviceTable();
        SetDirectDrawEntry(nullptr);
        std::filesystem::current_path(scratch_.parent_path());
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }
    // With a budget, tracked allocations past that many are refused.
    int32_t Run(ScriptedMachine& machine, DeviceFilterCallback filter = Filter, size_t budget = SIZE_MAX)
    {
        g_filterCalls = g_filterCallsOutsideTheSlot = 0;
        SetDirectDrawEntry(&machine);
        live_ = CountTrackedBlocks();
        g_heap = trackerHeap;
        g_budget = budget;
        trackerHeap.allocate = RefusingAllocate;
        const int32_t result = EnumerateDisplayDevices(filter);
        trackerHeap = g_heap;
        EXPECT_TRUE(machine.AllReleased());
        return result;
    }
    size_t live_ = 0;  // tracked blocks before the last run
    std::filesystem::path scratch_;
};

// Driver by driver, device by device, each with the modes it can render,
// sorted as unsigned values, and the last 640 x 480 x 16 as its default. The
// filter sees each candidate after the software rule; drivers that fail are
// skipped; the last device, rejected, leaves its partial record in the next slot.
TEST_F(DisplayEnumerationTest, FillsRecordsInOrderAndLeavesTheLastRejectionPartial)
{
    const std::string long45 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrs";
    ScriptedDriver primary = PrimaryDriver("Primary Display Driver");
    primary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 32, 0, DDSCAPS2_STEREOSURFACELEFT),
                     MakeMode(640, 480, 16, 1), MakeMode(0x80000000u, 1, 16),
                     MakeMode(320, 200, 8, 0, DDSCAPS2_STEREOSURFACELEFT), MakeMode(640, 480, 24),
                     MakeMode(640, 480, 15), MakeMode(640, 480, 16, 2)};
    primary.devices = {MakeDevice(long45, kHardware, DDBD_8 | k16 | k32, 3), MakeDevice("filtered", kHardware, k16, 1),
                       MakeDevice("8 bits only", kHardware, DDBD_8, 6), MakeDevice("RGB Emulation", kSoftware, k24, 2)};
    ScriptedDriver secondary = SecondaryDriver("3D Card " + long45, 9);
    secondary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;  // never honoured off the primary driver
    secondary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 32), MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("Accel HAL", kHardware | kSoftware, k16, 0x13),
                         MakeDevice("Accel T&L", kHardware, k16 | k32, 5),
                         MakeDevice("Accel RGB", kSoftware, k16 | k32, 4)};
    ScriptedDriver noDirectDraw = SecondaryDriver("no DirectDraw", 10), noDirect3D = SecondaryDriver("no D3D", 11);
    noDirectDraw.createResult = DDERR_NODIRECTDRAWHW;
    noDirect3D.queryDirect3DResult = E_NOINTERFACE;
    noDirectDraw.modes = noDirect3D.modes = secondary.modes;
    noDirectDraw.devices = noDirect3D.devices = {secondary.devices[0]};
    ScriptedMachine machine({primary, secondary, noDirectDraw, noDirect3D});

    EXPECT_EQ(0, Run(machine));

    EXPECT_EQ(live_ + 4, CountTrackedBlocks());  // only the accepted records hold storage
    EXPECT_EQ(6, g_filterCalls);  // the secondary's software device never reaches it
    EXPECT_EQ(0, g_filterCallsOutsideTheSlot);
    EXPECT_EQ(7u, GetReportedDeviceCount());
    ASSERT_EQ(4u, GetAcceptedDeviceCount());
    const char* names[4] = {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl", "RGB Emulation",
                            "3D Card ABCDEFGHIJKLMNOPQRSTUVWXYZabcd", "3D Card ABCDEFGHIJKLMNOPQRSTUVWXYZabcd"};
    const int driverOf[4] = {0, 0, 1, 1}, deviceOf[4] = {0, 3, 0, 1}, windowed[4] = {1, 1, 0, 0};
    const int stereo[4] = {1, 0, 0, 0};  // from usable modes only
    const uint32_t isHardware[4] = {0x80000, 0, 0x80000, 0x80000}, defaultIndex[4] = {1, 0, 0, 0};
    const Strings modes[4] = {{"640x480x16", "640x480x16", "640x480x32", "800x600x16", "2147483648x1x16"},
                              {"640x480x24"}, {"640x480x16", "800x600x16"}, {"640x480x16", "640x480x32", "800x600x16"}};
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(testing::Message() << "record " << i);
        const DisplayDeviceRecord& record = Record(i);
        char name[kDisplayDeviceNameSize] = {};  // at most 38 characters, the rest zero
        std::strcpy(name, names[i]);
        EXPECT_EQ(0, std::memcmp(name, record.name, sizeof name)) << record.name;
        EXPECT_EQ(isHardware[i], record.isHardware);
        EXPECT_EQ(-1, Diff(machine.driver(driverOf[i]).devices[deviceOf[i]].desc, record.deviceDesc));
        EXPECT_EQ(-1, Diff(record.deviceDesc.deviceGUID, record.deviceGuidValue));
        EXPECT_EQ(&record.deviceGuidValue, record.deviceGuid);
        EXPECT_EQ(-1, Diff(machine.ExpectedCaps(driverOf[i], true), record.halCaps));
        EXPECT_EQ(-1, Diff(machine.ExpectedCaps(driverOf[i], false), record.helCaps));
        EXPECT_EQ(driverOf[i] ? &record.driverGuidValue : nullptr, record.driverGuid);
        EXPECT_EQ(-1, Diff(driverOf[i] ? MakeGuid(9) : Zero<GUID>(), record.driverGuidValue));
        EXPECT_EQ(windowed[i], record.windowed);
        EXPECT_EQ(windowed[i], record.canRenderWindowed);
        EXPECT_EQ(stereo[i], record.hasStereoMode);
        EXPECT_EQ(modes[i], Modes(record));
        EXPECT_EQ(defaultIndex[i], record.defaultModeIndex);
        // No usable 640 x 480 x 16: still accepted, with no default.
        EXPECT_EQ(-1, Diff(i == 1 ? Zero<DDSURFACEDESC2>() : record.modes[defaultIndex[i]], record.defaultMode));
        // Room for every mode the driver reported, not just the usable ones.
        const AllocationUnit* block = FindAllocationUnit(record.modes);
        EXPECT_EQ(machine.driver(driverOf[i]).modes.size() * sizeof(DDSURFACEDESC2), block ? block->reportedSize : 0);
    }
    EXPECT_EQ(3u, Record(0).modes[0].dwRefreshRate + Record(0).modes[1].dwRefreshRate);  // both copied whole
    DisplayDeviceRecord partial = Zero<DisplayDeviceRecord>();
    std::strcpy(partial.name, names[3]);
    partial.deviceGuid = &Record(4).deviceGuidValue;
    partial.deviceDesc = secondary.devices[2].desc;
    partial.driverGuid = &Record(4).driverGuidValue;
    partial.halCaps = machine.ExpectedCaps(1, true);
    partial.helCaps = machine.ExpectedCaps(1, false);
    partial.deviceGuidValue = secondary.devices[2].desc.deviceGUID;
    partial.driverGuidValue = MakeGuid(9);
    EXPECT_EQ(-1, Diff(partial, Record(4)));
    for (uint32_t i = 5; i < kDisplayDeviceCapacity; ++i)
        EXPECT_EQ(-1, Diff(Zero<DisplayDeviceRecord>(), Record(i))) << "record " << i;
}

// The out-of-memory runs below end with either code too.
TEST_F(DisplayEnumerationTest, ErrorCodes)
{
    ScriptedMachine empty({});
    EXPECT_EQ(DEVICE_ENUM_NO_DEVICE, Run(empty));
    ScriptedDriver software = SecondaryDriver("Card", 5);
    software.modes = {MakeMode(640, 480, 16)};
    software.devices = {MakeDevice("RGB", kSoftware, k16, 7)};
    ScriptedMachine refusing({software});
    EXPECT_EQ(DEVICE_ENUM_NONE_ACCEPTED, Run(refusing));
    EXPECT_EQ(1u, GetReportedDeviceCount());
}

// Acceptable devices past the twentieth are counted and left out; nothing past
// the table is written (the filter slot follows the last record).
TEST_F(DisplayEnumerationTest, TableHoldsTwentyAndNothingPastIt)
{
    ScriptedDriver drivers[2] = {PrimaryDriver("Primary"), SecondaryDriver("Secondary", 6)};
    drivers[0].modes = {MakeMode(640, 480, 16), MakeMode(800, 600, 16)};
    drivers[1].modes = {MakeMode(1024, 768, 16), MakeMode(640, 480, 16)};
    for (uint32_t i = 0; i < 25; ++i)
        drivers[i < 12 ? 0 : 1].devices.push_back(MakeDevice("P" + std::to_string(i), kHardware, k16, 0x10 + i));
    ScriptedMachine machine({drivers[0], drivers[1]});

    EXPECT_EQ(0, Run(machine));

    EXPECT_EQ(live_ + 20, CountTrackedBlocks());
    EXPECT_EQ(25u, GetReportedDeviceCount());
    EXPECT_EQ(20u, GetAcceptedDeviceCount());
    EXPECT_EQ(Filter, g_displayDeviceTable.filter);
    EXPECT_EQ(20, g_filterCalls);
    EXPECT_EQ(0, g_filterCallsOutsideTheSlot);
    EXPECT_EQ(13, machine.observed(1).devicesDelivered);
    EXPECT_EQ(-1, Diff(MakeGuid(0xd0000023u), Record(19).deviceGuidValue));
    EXPECT_EQ((Strings{"640x480x16", "1024x768x16"}), Modes(Record(19)));
}

// Every allocation of a run, the filter's included, is refused in turn, with a
// platform that stops at a cancel and one that does not: the run stops, keeps
// only complete records, releases every interface and leaks nothing.
TEST_F(DisplayEnumerationTest, RunningOutOfMemoryStopsWithCompleteRecords)
{
    ScriptedDriver primary = PrimaryDriver("Primary");
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 16), MakeMode(640, 480, 8)};
    primary.devices = {MakeDevice("P0", kHardware, k16, 0x11), MakeDevice("P1", kSoftware, k16, 0x12)};
    ScriptedDriver secondary = SecondaryDriver("Secondary", 6);
    secondary.modes = {MakeMode(1024, 768, 16), MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("S0", kHardware, k16, 0x13), MakeDevice("S1", kHardware, k16, 0x14)};
    // Allocations in order: 3 primary modes, P0 and its filter, P1 and its
    // filter, 2 secondary modes, S0 and its filter, S1 and its filter.
    const uint32_t acceptedAfter[14] = {0, 0, 0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 4};
    const uint32_t reportedAfter[14] = {0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 4, 4, 4};
    const char* names[4] = {"P0", "P1", "Secondary", "Secondary"};
    const Strings modes[2] = {{"640x480x16", "800x600x16"}, {"640x480x16", "1024x768x16"}};
    for (bool ignoreCancel : {false, true}) {
        for (size_t budget = 0; budget < 14; ++budget) {
            SCOPED_TRACE(testing::Message() << "budget " << budget << ", ignoreCancel " << ignoreCancel);
            ResetDisplayDeviceTable();
            ScriptedMachine machine({primary, secondary});
            machine.ignoreCancel = ignoreCancel;
            const int32_t result = Run(machine, Filter, budget);

            const uint32_t accepted = acceptedAfter[budget], reported = reportedAfter[budget];
            EXPECT_EQ(live_ + accepted, CountTrackedBlocks());
            EXPECT_EQ(budget < 13, DisplayEnumerationRanOutOfMemory());
            EXPECT_EQ(reported, GetReportedDeviceCount());
            ASSERT_EQ(accepted, GetAcceptedDeviceCount());
            EXPECT_EQ(reported == 0 ? DEVICE_ENUM_NO_DEVICE : accepted == 0 ? DEVICE_ENUM_NONE_ACCEPTED : 0, result);
            for (uint32_t i = 0; i < accepted; ++i) {
                EXPECT_STREQ(names[i], Record(i).name);
                EXPECT_EQ(modes[i / 2], Modes(Record(i))) << i;
            }
            EXPECT_EQ(nullptr, Record(accepted).modes);
            EXPECT_EQ(0u, Record(accepted).modeCount);
            if (budget < 7) {  // stopped inside the primary driver: the secondary one is never opened
                EXPECT_EQ(DDENUMRET_CANCEL, machine.observed(0).driverCallbackResult);
                EXPECT_EQ(0, machine.observed(1).createCalls);
            }
            if (budget < 3) {  // an incomplete mode list is never offered to the devices
                EXPECT_EQ(0, machine.observed(0).devicesDelivered + machine.observed(1).devicesDelivered);
            }
            FreeDisplayDeviceModes();
            EXPECT_EQ(live_, CountTrackedBlocks());
        }
    }
    ResetDisplayDeviceTable();
}

}  // namespace
