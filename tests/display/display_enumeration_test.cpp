// Device and mode enumeration against scripted DirectDraw machines; mode
// storage is observed, and refused, through the allocation tracker.
#include "display/direct_draw_entry.h"
#include "display/display_enumeration.h"
#include "memtrack/memtrack.h"

#include "scripted_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kHardware = D3DDEVCAPS_HWRASTERIZATION, kSoftware = D3DDEVCAPS_FLOATTLVERTEX;
constexpr DWORD k16 = DDBD_16, k24 = DDBD_24, k32 = DDBD_32;

// Tracked blocks past the budget are refused; the tracker's own record
// blocks are always served, so only the request under test fails.
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
    for (size_t i = 0; i < sizeof(T); ++i)
        if (reinterpret_cast<const unsigned char*>(&expected)[i] != reinterpret_cast<const unsigned char*>(&actual)[i])
            return static_cast<long>(i);
    return -1;
}

template <class T>
T Zero()
{
    T value;
    std::memset(&value, 0, sizeof value);
    return value;
}

DisplayDeviceRecord& Record(uint32_t index) { return GetDisplayDeviceTable()[index]; }

std::vector<std::string> Modes(const DisplayDeviceRecord& record)
{
    std::vector<std::string> modes;
    for (const DDSURFACEDESC2* m = record.modes; m != record.modes + record.modeCount; ++m)
        modes.push_back(std::to_string(m->dwWidth) + "x" + std::to_string(m->dwHeight) + "x" +
                        std::to_string(m->ddpfPixelFormat.dwRGBBitCount));
    return modes;
}

std::vector<std::string> Names()
{
    std::vector<std::string> names;
    for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i)
        names.push_back(Record(i).name);
    return names;
}

void ExpectZeroFrom(uint32_t first)
{
    for (uint32_t i = first; i < kDisplayDeviceCapacity; ++i)
        EXPECT_EQ(-1, Diff(Zero<DisplayDeviceRecord>(), Record(i))) << "record " << i;
}

int g_filterCalls = 0, g_filterCallsOutsideTheSlot = 0;

// Decides by the low byte of the device GUID: 1 rejects with -1, 2 accepts
// with 0, anything else accepts with 1. It must be handed the slot's own fields.
int32_t LoggingFilter(const DDCAPS* halCaps, const D3DDEVICEDESC7* deviceDesc)
{
    ++g_filterCalls;
    const DisplayDeviceRecord& slot = Record(GetAcceptedDeviceCount());
    g_filterCallsOutsideTheSlot += halCaps != &slot.halCaps || deviceDesc != &slot.deviceDesc;
    const int lowByte = deviceDesc->deviceGUID.Data1 & 0xff;
    return lowByte == 1 ? -1 : lowByte == 2 ? 0 : 1;
}

// A filter may allocate too.
int32_t AllocatingFilter(const DDCAPS*, const D3DDEVICEDESC7*)
{
    int* volatile block = new int(7);  // volatile: the pair may not be elided
    delete block;
    return 0;
}

class DisplayEnumerationTest : public ::testing::Test {
protected:
    void SetUp() override { ResetDisplayDeviceTable(); }
    // The exit step leaves no block of the table's mode storage with the tracker.
    void TearDown() override
    {
        std::vector<const void*> blocks;
        for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i)
            blocks.push_back(Record(i).modes);
        FreeDisplayDeviceModes();
        for (size_t i = 0; i < blocks.size(); ++i)
            EXPECT_EQ(nullptr, FindAllocationUnit(blocks[i])) << "record " << i << " still holds its modes";
        ResetDisplayDeviceTable();
        SetDirectDrawEntry(nullptr);
    }
    // With a budget, tracked allocations past that many are refused.
    int32_t Run(ScriptedMachine& machine, DeviceFilterCallback filter = nullptr, long budget = -1)
    {
        g_filterCalls = g_filterCallsOutsideTheSlot = 0;
        SetDirectDrawEntry(&machine);
        live_ = CountTrackedBlocks();
        g_heap = trackerHeap;
        if (budget >= 0) {
            g_budget = static_cast<size_t>(budget);
            trackerHeap.allocate = RefusingAllocate;
        }
        const int32_t result = EnumerateDisplayDevices(filter);
        trackerHeap = g_heap;
        EXPECT_STREQ("", machine.misuse());
        EXPECT_TRUE(machine.AllReleased());
        return result;
    }
    size_t live_ = 0;  // tracked blocks before the last run
};

TEST(CompareDisplayModesTest, OrdersByWidthHeightDepthUnsigned)
{
    const DDSURFACEDESC2 base = MakeMode(640, 480, 16);
    const struct {
        DDSURFACEDESC2 other;
        int expected;  // CompareDisplayModes(base, other)
    } cases[] = {
        {MakeMode(800, 200, 8), -1}, {MakeMode(640, 600, 8), -1}, {MakeMode(640, 480, 32), -1},
        {MakeMode(0x80000000u, 1, 1), -1},  // unsigned: a signed compare would call it negative
        {MakeMode(640, 480, 16, 77, DDSCAPS2_STEREOSURFACELEFT), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, CompareDisplayModes(&base, &c.other)) << c.other.dwWidth << "x" << c.other.dwHeight;
        EXPECT_EQ(-c.expected, CompareDisplayModes(&c.other, &base)) << c.other.dwWidth << "x" << c.other.dwHeight;
    }
}

// Driver by driver, device by device, each with the modes it can render,
// sorted, and the last 640 x 480 x 16 as its default.
TEST_F(DisplayEnumerationTest, FillsRecordsInOrderFromTwoDrivers)
{
    const std::string long45 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrs";
    DDSURFACEDESC2 layoutA = MakeMode(640, 480, 16, 1), layoutB = MakeMode(640, 480, 16, 2);
    layoutA.ddpfPixelFormat.dwRBitMask = 0xf800;  // 5-6-5
    layoutB.ddpfPixelFormat.dwRBitMask = 0x7c00;  // 5-5-5
    ScriptedDriver primary = PrimaryDriver("Primary Display Driver");
    primary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 32, 0, DDSCAPS2_STEREOSURFACELEFT), layoutA,
                     MakeMode(1024, 768, 16), MakeMode(320, 200, 8, 0, DDSCAPS2_STEREOSURFACELEFT),
                     MakeMode(640, 480, 24), MakeMode(640, 480, 15), layoutB};
    primary.devices = {MakeDevice(long45, kHardware, DDBD_8 | k16 | k32, 1),
                       MakeDevice("RGB Emulation", kSoftware, k24, 2)};
    ScriptedDriver secondary = SecondaryDriver("3D Card " + long45, 9);
    secondary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;  // never honoured off the primary driver
    secondary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 32), MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("Accel HAL", kHardware | kSoftware, k16, 3),
                         MakeDevice("Accel RGB", kSoftware, k16 | k32, 4),
                         MakeDevice("Accel T&L", kHardware, k16 | k32, 5)};
    ScriptedMachine machine({primary, secondary});

    EXPECT_EQ(0, Run(machine));

    EXPECT_EQ(live_ + 4, CountTrackedBlocks());
    EXPECT_EQ(1, machine.enumerateCalls());
    EXPECT_EQ(5u, GetReportedDeviceCount());
    ASSERT_EQ(4u, GetAcceptedDeviceCount());
    const char* names[4] = {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl", "RGB Emulation",
                            "3D Card ABCDEFGHIJKLMNOPQRSTUVWXYZabcd", "3D Card ABCDEFGHIJKLMNOPQRSTUVWXYZabcd"};
    const int driverOf[4] = {0, 0, 1, 1}, deviceOf[4] = {0, 1, 0, 2}, windowed[4] = {1, 1, 0, 0};
    const int stereo[4] = {1, 0, 0, 0};  // from usable modes only
    const uint32_t isHardware[4] = {0x80000, 0, 0x80000, 0x80000}, defaultIndex[4] = {1, 0, 0, 0};
    const std::vector<std::string> modes[4] = {
        {"640x480x16", "640x480x16", "640x480x32", "800x600x16", "1024x768x16"}, {"640x480x24"},
        {"640x480x16", "800x600x16"}, {"640x480x16", "640x480x32", "800x600x16"}};
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
    // Both layouts kept, copied whole.
    EXPECT_EQ(3u, Record(0).modes[0].dwRefreshRate + Record(0).modes[1].dwRefreshRate);
    ExpectZeroFrom(4);  // the last device was accepted
}

// The filter sees each candidate after the software rule, in the slot itself;
// the last device, rejected, leaves its partial record in the next slot.
TEST_F(DisplayEnumerationTest, FilterAndSoftwareRuleRejectAndTheLastRejectionStaysPartial)
{
    ScriptedDriver primary = PrimaryDriver("Primary");
    primary.modes = {MakeMode(640, 480, 16)};
    primary.devices = {MakeDevice("minus one", kHardware, k16, 1), MakeDevice("zero", kSoftware, k16, 2),
                       MakeDevice("one", kHardware, k16, 3)};
    ScriptedDriver secondary = SecondaryDriver("Card", 7);
    secondary.modes = {MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("rejected", kHardware, k16, 0x101), MakeDevice("software", kSoftware, k16, 4)};
    ScriptedMachine machine({primary, secondary});

    EXPECT_EQ(0, Run(machine, LoggingFilter));

    EXPECT_EQ(live_ + 2, CountTrackedBlocks());  // only the accepted records hold storage
    EXPECT_EQ(5u, GetReportedDeviceCount());
    EXPECT_EQ((std::vector<std::string>{"zero", "one"}), Names());
    EXPECT_EQ(0u, Record(0).isHardware);  // software is accepted on the primary driver
    EXPECT_EQ(LoggingFilter, g_displayDeviceTable.filter);
    EXPECT_EQ(4, g_filterCalls);  // the secondary's software device never reaches it
    EXPECT_EQ(0, g_filterCallsOutsideTheSlot);
    DisplayDeviceRecord partial = Zero<DisplayDeviceRecord>();
    std::strcpy(partial.name, "Card");
    partial.deviceGuid = &Record(2).deviceGuidValue;
    partial.deviceDesc = secondary.devices[1].desc;
    partial.driverGuid = &Record(2).driverGuidValue;
    partial.halCaps = machine.ExpectedCaps(1, true);
    partial.helCaps = machine.ExpectedCaps(1, false);
    partial.deviceGuidValue = secondary.devices[1].desc.deviceGUID;
    partial.driverGuidValue = MakeGuid(7);
    EXPECT_EQ(-1, Diff(partial, Record(2)));
    ExpectZeroFrom(3);
}

TEST_F(DisplayEnumerationTest, ErrorCodesAndDriversThatFail)
{
    auto withDevice = [](ScriptedDriver driver, DWORD devCaps) {
        driver.modes = {MakeMode(640, 480, 16)};
        driver.devices = {MakeDevice("dev", devCaps, k16, 1)};
        return driver;
    };
    ScriptedMachine empty({});
    EXPECT_EQ(DEVICE_ENUM_NO_DEVICE, Run(empty));
    EXPECT_EQ(1, empty.enumerateCalls());
    EXPECT_EQ(&g_displayDeviceTable.records[0], GetDisplayDeviceTable());

    // Skipped: a driver that cannot be created, and one without Direct3D 7.
    ScriptedDriver a = withDevice(PrimaryDriver("a"), kHardware), b = withDevice(SecondaryDriver("b", 5), kHardware);
    a.createResult = DDERR_NODIRECTDRAWHW;
    b.queryDirect3DResult = E_NOINTERFACE;
    ScriptedMachine failing({a, b, withDevice(SecondaryDriver("c", 6), kHardware)});
    EXPECT_EQ(0, Run(failing));
    EXPECT_EQ(1u, GetReportedDeviceCount());
    EXPECT_EQ((std::vector<std::string>{"c"}), Names());
    FreeDisplayDeviceModes();
    ResetDisplayDeviceTable();

    // Devices, none accepted: no modes, or software off the primary driver.
    ScriptedDriver noModes = withDevice(PrimaryDriver("a"), kHardware);
    noModes.modes.clear();
    ScriptedMachine refusing({noModes, withDevice(SecondaryDriver("b", 5), kSoftware)});
    EXPECT_EQ(DEVICE_ENUM_NONE_ACCEPTED, Run(refusing));
    EXPECT_EQ(live_, CountTrackedBlocks());
    EXPECT_EQ(2u, GetReportedDeviceCount());
    EXPECT_EQ(0u, GetAcceptedDeviceCount());
}

// Acceptable devices past the twentieth are counted and left out.
TEST_F(DisplayEnumerationTest, TableHoldsTwentyAndNothingPastIt)
{
    ScriptedDriver primary = PrimaryDriver("Primary");
    primary.modes = {MakeMode(640, 480, 16), MakeMode(800, 600, 16)};
    for (uint32_t i = 0; i < 12; ++i)
        primary.devices.push_back(MakeDevice("P" + std::to_string(i), kHardware, k16, 0x10 + i));
    ScriptedDriver secondary = SecondaryDriver("Secondary", 6);
    secondary.modes = {MakeMode(1024, 768, 16), MakeMode(640, 480, 16)};
    for (uint32_t i = 0; i < 13; ++i)
        secondary.devices.push_back(MakeDevice("S" + std::to_string(i), kHardware, k16, 0x40 + i));
    ScriptedMachine machine({primary, secondary});

    EXPECT_EQ(0, Run(machine, LoggingFilter));

    EXPECT_EQ(live_ + 20, CountTrackedBlocks());
    EXPECT_EQ(25u, GetReportedDeviceCount());
    EXPECT_EQ(20u, GetAcceptedDeviceCount());
    EXPECT_EQ(LoggingFilter, g_displayDeviceTable.filter);  // stored just past the last record
    EXPECT_EQ(20, g_filterCalls);
    EXPECT_EQ(0, g_filterCallsOutsideTheSlot);
    EXPECT_EQ(13, machine.observed(1).devicesDelivered);
    EXPECT_EQ(-1, Diff(MakeGuid(0xd0000047u), Record(19).deviceGuidValue));
    EXPECT_EQ((std::vector<std::string>{"640x480x16", "1024x768x16"}), Modes(Record(19)));
}

// Every allocation of a run, the filter's included, is refused in turn, with a
// platform that stops at a cancel and one that does not: the run stops, keeps
// only complete records, releases every interface and leaks nothing.
TEST_F(DisplayEnumerationTest, RunningOutOfMemoryStopsWithCompleteRecords)
{
    ScriptedDriver primary = PrimaryDriver("Primary");
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 16), MakeMode(640, 480, 8)};
    primary.devices = {MakeDevice("P0", kHardware, k16, 1), MakeDevice("P1", kSoftware, k16, 2)};
    ScriptedDriver secondary = SecondaryDriver("Secondary", 6);
    secondary.modes = {MakeMode(1024, 768, 16), MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("S0", kHardware, k16, 3), MakeDevice("S1", kHardware, k16, 4)};
    // Allocations in order: 3 primary modes, P0 and its filter, P1 and its
    // filter, 2 secondary modes, S0 and its filter, S1 and its filter.
    const uint32_t acceptedAfter[14] = {0, 0, 0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 4};
    const uint32_t reportedAfter[14] = {0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 4, 4, 4};
    const std::vector<std::string> names = {"P0", "P1", "Secondary", "Secondary"};
    const std::vector<std::string> modes[4] = {{"640x480x16", "800x600x16"}, {"640x480x16", "800x600x16"},
                                               {"640x480x16", "1024x768x16"}, {"640x480x16", "1024x768x16"}};
    for (bool ignoreCancel : {false, true}) {
        for (long budget = 0; budget < 14; ++budget) {
            SCOPED_TRACE(testing::Message() << "budget " << budget << ", ignoreCancel " << ignoreCancel);
            ResetDisplayDeviceTable();
            ScriptedMachine machine({primary, secondary});
            machine.SetIgnoreCancel(ignoreCancel);
            const int32_t result = Run(machine, AllocatingFilter, budget);

            EXPECT_EQ(live_ + acceptedAfter[budget], CountTrackedBlocks());
            const uint32_t accepted = acceptedAfter[budget], reported = reportedAfter[budget];
            EXPECT_EQ(budget < 13, DisplayEnumerationRanOutOfMemory());
            EXPECT_EQ(reported, GetReportedDeviceCount());
            ASSERT_EQ(accepted, GetAcceptedDeviceCount());
            EXPECT_EQ(reported == 0 ? DEVICE_ENUM_NO_DEVICE : accepted == 0 ? DEVICE_ENUM_NONE_ACCEPTED : 0, result);
            EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + accepted), Names());
            for (uint32_t i = 0; i < accepted; ++i)
                EXPECT_EQ(modes[i], Modes(Record(i))) << i;
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
