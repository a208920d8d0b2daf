// Device and mode enumeration against scripted DirectDraw machines.
#include "display/direct_draw_entry.h"
#include "display/display_enumeration.h"

#include "allocation_probe.h"
#include "scripted_machine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kHardware = D3DDEVCAPS_HWRASTERIZATION;
constexpr DWORD kSoftware = D3DDEVCAPS_FLOATTLVERTEX;
constexpr DWORD k16 = DDBD_16, k24 = DDBD_24, k32 = DDBD_32;

bool IsZero(const void* data, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

std::vector<std::string> Modes(const DisplayDeviceRecord& record)
{
    std::vector<std::string> modes;
    for (uint32_t i = 0; i < record.modeCount; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "%lux%lux%lu", record.modes[i].dwWidth, record.modes[i].dwHeight,
                      record.modes[i].ddpfPixelFormat.dwRGBBitCount);
        modes.push_back(text);
    }
    return modes;
}

std::vector<std::string> Names()
{
    std::vector<std::string> names;
    for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i)
        names.push_back(GetDisplayDeviceTable()[i].name);
    return names;
}

const DisplayDeviceRecord& Record(uint32_t index) { return GetDisplayDeviceTable()[index]; }

struct FilterLog {
    int calls = 0;
    const DDCAPS* halCaps[32] = {};
    const D3DDEVICEDESC7* deviceDesc[32] = {};
} g_filterLog;

// Decides by the low byte of the device GUID: 1 rejects with -1, 2 accepts with 0,
// anything else accepts with 1.
int32_t LoggingFilter(const DDCAPS* halCaps, const D3DDEVICEDESC7* deviceDesc)
{
    if (g_filterLog.calls < 32) {
        g_filterLog.halCaps[g_filterLog.calls] = halCaps;
        g_filterLog.deviceDesc[g_filterLog.calls] = deviceDesc;
    }
    ++g_filterLog.calls;
    switch (deviceDesc->deviceGUID.Data1 & 0xff) {
    case 1: return -1;
    case 2: return 0;
    default: return 1;
    }
}

class DisplayEnumerationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetDisplayDeviceTable();
        g_filterLog = FilterLog();
    }
    void TearDown() override
    {
        StopFailingAllocations();
        FreeDisplayDeviceModes();
        ResetDisplayDeviceTable();
        SetDirectDrawEntry(nullptr);
    }
    int32_t Run(ScriptedMachine& machine, DeviceFilterCallback filter = nullptr)
    {
        SetDirectDrawEntry(&machine);
        return EnumerateDisplayDevices(filter);
    }
};

TEST(CompareDisplayModesTest, OrdersByWidthHeightDepthUnsigned)
{
    const DDSURFACEDESC2 base = MakeMode(640, 480, 16);
    struct Case {
        DDSURFACEDESC2 other;
        int expected;  // CompareDisplayModes(base, other)
    } cases[] = {
        {MakeMode(800, 200, 8), -1},         {MakeMode(320, 1024, 32), 1},
        {MakeMode(640, 600, 8), -1},         {MakeMode(640, 400, 32), 1},
        {MakeMode(640, 480, 32), -1},        {MakeMode(640, 480, 8), 1},
        {MakeMode(0x80000000u, 1, 1), -1},  // unsigned: a signed compare would call it negative
        {MakeMode(640, 480, 16, 77, DDSCAPS2_STEREOSURFACELEFT), 0},
    };
    for (const Case& c : cases) {
        const int forward = CompareDisplayModes(&base, &c.other);
        const int backward = CompareDisplayModes(&c.other, &base);
        EXPECT_EQ(c.expected, forward) << c.other.dwWidth << "x" << c.other.dwHeight;
        EXPECT_EQ(-c.expected, backward) << c.other.dwWidth << "x" << c.other.dwHeight;
    }
}

TEST_F(DisplayEnumerationTest, CallsThePlatformInOrderAndReleasesBothInterfaces)
{
    ScriptedDriver primary = PrimaryDriver("Primary Display Driver");
    primary.modes = {MakeMode(640, 480, 16)};
    primary.devices = {MakeDevice("HAL", kHardware, k16, 1)};
    ScriptedDriver secondary = SecondaryDriver("3D Accelerator", 9);
    secondary.modes = {MakeMode(800, 600, 16)};
    secondary.devices = {MakeDevice("Accel", kHardware, k16, 2)};
    ScriptedMachine machine({primary, secondary});

    EXPECT_EQ(0, Run(machine));

    EXPECT_EQ(1, machine.enumerateCalls());
    EXPECT_EQ(7u, machine.enumerateFlags());
    EXPECT_EQ(nullptr, machine.enumerateContext());
    std::vector<CallRecord> expected;
    for (int d = 0; d < 2; ++d)
        for (Call call : {Call::CreateEx, Call::QueryDirect3D, Call::GetCaps, Call::EnumDisplayModes,
                          Call::EnumDevices, Call::ReleaseDirect3D, Call::ReleaseDirectDraw})
            expected.push_back({call, d});
    EXPECT_TRUE(expected == machine.calls()) << "calls: " << machine.calls().size();
    EXPECT_EQ(nullptr, machine.observed(0).createGuid);
    EXPECT_EQ(&machine.driver(1).guid, machine.observed(1).createGuid);  // passed on as reported
    for (int d = 0; d < 2; ++d) {
        const DriverObservations& seen = machine.observed(d);
        EXPECT_TRUE(seen.createAskedDirectDraw7) << d;
        EXPECT_EQ(nullptr, seen.createOuter) << d;
        EXPECT_EQ(380u, seen.halSizeSeen) << d;
        EXPECT_EQ(380u, seen.helSizeSeen) << d;
        EXPECT_EQ(0u, seen.enumModesFlags) << d;
        EXPECT_EQ(nullptr, seen.enumModesTemplate) << d;
        EXPECT_NE(nullptr, seen.modesContext) << d;
        EXPECT_EQ(seen.modesContext, seen.devicesContext) << d;
        EXPECT_EQ(DDENUMRET_OK, seen.driverCallbackResult) << d;
    }
    EXPECT_TRUE(machine.AllReleased());
}

TEST_F(DisplayEnumerationTest, FillsRecordsDriverByDriverDeviceByDevice)
{
    ScriptedDriver primary = PrimaryDriver("Primary Display Driver");
    primary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 32), MakeMode(640, 480, 16),
                     MakeMode(1024, 768, 16), MakeMode(320, 200, 8)};
    primary.devices = {MakeDevice("Direct3D T&L HAL", kHardware, k16 | k32, 1),
                       MakeDevice("RGB Emulation", kSoftware, k16 | k24 | k32, 2)};
    ScriptedDriver secondary = SecondaryDriver("3D Accelerator Card", 9);
    secondary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;  // never honoured off the primary driver
    secondary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 32), MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("Accel HAL", kHardware | kSoftware, k16, 3),
                         MakeDevice("Accel RGB", kSoftware, k16 | k32, 4),
                         MakeDevice("Accel T&L", kHardware, k16 | k32, 5)};
    ScriptedMachine machine({primary, secondary});

    EXPECT_EQ(0, Run(machine));

    EXPECT_EQ(5u, GetReportedDeviceCount());
    ASSERT_EQ(4u, GetAcceptedDeviceCount());
    EXPECT_EQ((std::vector<std::string>{"Direct3D T&L HAL", "RGB Emulation", "3D Accelerator Card",
                                        "3D Accelerator Card"}),
              Names());
    const int driverOf[4] = {0, 0, 1, 1};
    const int deviceOf[4] = {0, 1, 0, 2};
    const uint32_t isHardware[4] = {0x80000, 0, 0x80000, 0x80000};
    const int32_t windowed[4] = {1, 1, 0, 0};
    const std::vector<std::string> modes[4] = {
        {"640x480x16", "640x480x32", "800x600x16", "1024x768x16"},
        {"640x480x16", "640x480x32", "800x600x16", "1024x768x16"},
        {"640x480x16", "800x600x16"},
        {"640x480x16", "640x480x32", "800x600x16"},
    };
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const DisplayDeviceRecord& record = Record(i);
        const D3DDEVICEDESC7& reported = machine.driver(driverOf[i]).devices[deviceOf[i]].desc;
        EXPECT_EQ(isHardware[i], record.isHardware);
        EXPECT_EQ(0, std::memcmp(&reported, &record.deviceDesc, sizeof reported));
        EXPECT_TRUE(IsEqualGUID(reported.deviceGUID, record.deviceGuidValue));
        EXPECT_EQ(&record.deviceGuidValue, record.deviceGuid);
        const DDCAPS hal = machine.ExpectedHalCaps(driverOf[i]);
        const DDCAPS hel = machine.ExpectedHelCaps(driverOf[i]);
        EXPECT_EQ(0, std::memcmp(&hal, &record.halCaps, sizeof hal));
        EXPECT_EQ(0, std::memcmp(&hel, &record.helCaps, sizeof hel));
        if (driverOf[i] == 0) {
            EXPECT_EQ(nullptr, record.driverGuid);
            EXPECT_TRUE(IsZero(&record.driverGuidValue, sizeof(GUID)));
        } else {
            EXPECT_EQ(&record.driverGuidValue, record.driverGuid);
            EXPECT_TRUE(IsEqualGUID(MakeGuid(9), record.driverGuidValue));
        }
        EXPECT_EQ(windowed[i], record.windowed);
        EXPECT_EQ(windowed[i], record.canRenderWindowed);
        EXPECT_EQ(0, record.hasStereoMode);
        EXPECT_EQ(modes[i], Modes(record));
        EXPECT_EQ(0u, record.defaultModeIndex);
        EXPECT_EQ(0, std::memcmp(&record.modes[0], &record.defaultMode, sizeof record.defaultMode));
        // Room for every mode the driver reported, not just the usable ones.
        EXPECT_EQ(machine.driver(driverOf[i]).modes.size() * sizeof(DDSURFACEDESC2),
                  LiveAllocationSize(record.modes));
        EXPECT_TRUE(IsZero(record.name + std::strlen(record.name), 40 - std::strlen(record.name)));
    }
    // The last device was accepted, so everything past the valid records is zero.
    for (uint32_t i = 4; i < kDisplayDeviceCapacity; ++i)
        EXPECT_TRUE(IsZero(&Record(i), sizeof(DisplayDeviceRecord))) << i;
    EXPECT_TRUE(machine.AllReleased());
}

TEST_F(DisplayEnumerationTest, UsableModesFollowTheRenderDepthsAndStaySorted)
{
    ScriptedDriver primary = PrimaryDriver("Primary");
    for (DWORD bits : {32u, 24u, 16u, 8u})
        primary.modes.push_back(MakeMode(800, 600, bits));
    for (DWORD bits : {8u, 16u, 24u, 32u})
        primary.modes.push_back(MakeMode(640, 480, bits));
    primary.modes.push_back(MakeMode(640, 480, 15));
    primary.devices = {MakeDevice("16", kHardware, k16, 11), MakeDevice("24", kHardware, k24, 12),
                       MakeDevice("32", kHardware, k32, 13), MakeDevice("all", kHardware, k16 | k24 | k32, 14),
                       MakeDevice("8 only", kHardware, DDBD_8, 15)};
    ScriptedMachine machine({primary});

    EXPECT_EQ(0, Run(machine));

    EXPECT_EQ(5u, GetReportedDeviceCount());
    ASSERT_EQ(4u, GetAcceptedDeviceCount());
    EXPECT_EQ((std::vector<std::string>{"640x480x16", "800x600x16"}), Modes(Record(0)));
    EXPECT_EQ((std::vector<std::string>{"640x480x24", "800x600x24"}), Modes(Record(1)));
    EXPECT_EQ((std::vector<std::string>{"640x480x32", "800x600x32"}), Modes(Record(2)));
    EXPECT_EQ((std::vector<std::string>{"640x480x16", "640x480x24", "640x480x32", "800x600x16", "800x600x24",
                                        "800x600x32"}),
              Modes(Record(3)));
    // Without a usable 640 x 480 x 16 the device is still accepted, with no default.
    EXPECT_TRUE(IsZero(&Record(1).defaultMode, sizeof(DDSURFACEDESC2)));
    EXPECT_EQ(0u, Record(1).defaultModeIndex);
    EXPECT_TRUE(IsZero(&Record(2).defaultMode, sizeof(DDSURFACEDESC2)));
    // The 8-bit-only device was rejected last and left its partial record behind.
    EXPECT_STREQ("8 only", Record(4).name);
    EXPECT_EQ(nullptr, Record(4).modes);
}

TEST_F(DisplayEnumerationTest, LastMatchingModeIsTheDefaultAndStereoComesFromUsableModes)
{
    ScriptedDriver primary = PrimaryDriver("Primary");
    DDSURFACEDESC2 layoutA = MakeMode(640, 480, 16, 1), layoutB = MakeMode(640, 480, 16, 2);
    layoutA.ddpfPixelFormat.dwRBitMask = 0xf800;  // 5-6-5
    layoutB.ddpfPixelFormat.dwRBitMask = 0x7c00;  // 5-5-5
    primary.modes = {MakeMode(1024, 768, 16, 3), layoutA, MakeMode(320, 240, 16, 4), layoutB,
                     MakeMode(800, 600, 8, 5, DDSCAPS2_STEREOSURFACELEFT),
                     MakeMode(800, 600, 32, 6, DDSCAPS2_STEREOSURFACELEFT)};
    primary.devices = {MakeDevice("16 only", kHardware, k16, 21), MakeDevice("16 and 32", kHardware, k16 | k32, 22)};
    ScriptedMachine machine({primary});

    EXPECT_EQ(0, Run(machine));

    ASSERT_EQ(2u, GetAcceptedDeviceCount());
    for (uint32_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const DisplayDeviceRecord& record = Record(i);
        ASSERT_GE(record.modeCount, 4u);
        EXPECT_EQ("640x480x16", Modes(record)[1]);
        EXPECT_EQ("640x480x16", Modes(record)[2]);
        EXPECT_EQ(2u, record.defaultModeIndex);
        EXPECT_EQ(0, std::memcmp(&record.modes[2], &record.defaultMode, sizeof record.defaultMode));
        // Both layouts kept, copied whole.
        EXPECT_EQ(3u, record.modes[1].dwRefreshRate + record.modes[2].dwRefreshRate);
    }
    EXPECT_EQ(0, Record(0).hasStereoMode);  // its only stereo modes are 8 and 32 bits
    EXPECT_EQ(1, Record(1).hasStereoMode);
    EXPECT_EQ((std::vector<std::string>{"320x240x16", "640x480x16", "640x480x16", "800x600x32", "1024x768x16"}),
              Modes(Record(1)));
}

TEST_F(DisplayEnumerationTest, FilterDecidesAfterTheSoftwareRule)
{
    ScriptedDriver primary = PrimaryDriver("Primary");
    primary.modes = {MakeMode(640, 480, 16)};
    primary.devices = {MakeDevice("minus one", kHardware, k16, 1), MakeDevice("zero", kSoftware, k16, 2),
                       MakeDevice("one", kHardware, k16, 3)};
    ScriptedDriver secondary = SecondaryDriver("Card", 7);
    secondary.modes = {MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("software", kSoftware, k16, 4), MakeDevice("rejected", kHardware, k16, 0x101)};
    ScriptedMachine machine({primary, secondary});

    EXPECT_EQ(0, Run(machine, LoggingFilter));

    EXPECT_EQ(5u, GetReportedDeviceCount());
    EXPECT_EQ((std::vector<std::string>{"zero", "one"}), Names());
    EXPECT_EQ(LoggingFilter, g_displayDeviceTable.filter);
    // The software device of the secondary driver never reaches the filter.
    ASSERT_EQ(4, g_filterLog.calls);
    const uint32_t slotOf[4] = {0, 0, 1, 2};
    for (int call = 0; call < 4; ++call) {
        EXPECT_EQ(&Record(slotOf[call]).halCaps, g_filterLog.halCaps[call]) << call;
        EXPECT_EQ(&Record(slotOf[call]).deviceDesc, g_filterLog.deviceDesc[call]) << call;
    }
}

TEST_F(DisplayEnumerationTest, RejectedLastDeviceLeavesItsPartialRecord)
{
    ScriptedDriver primary = PrimaryDriver("Primary");
    primary.halCaps2 = DDCAPS2_CANRENDERWINDOWED;
    primary.modes = {MakeMode(640, 480, 16)};
    primary.devices = {MakeDevice("kept", kHardware, k16, 3), MakeDevice("filtered", kHardware, k16, 0x201)};
    ScriptedDriver secondary = SecondaryDriver("Secondary Card", 8);
    secondary.modes = {MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("software", kSoftware, k16, 5)};

    for (bool secondaryLast : {false, true}) {
        SCOPED_TRACE(secondaryLast);
        ResetDisplayDeviceTable();
        ScriptedMachine machine(secondaryLast ? std::vector<ScriptedDriver>{primary, secondary}
                                              : std::vector<ScriptedDriver>{primary});
        const size_t live = LiveAllocationCount();
        EXPECT_EQ(0, Run(machine, LoggingFilter));
        EXPECT_EQ(live + 1, LiveAllocationCount());  // only the accepted record holds storage
        EXPECT_EQ(secondaryLast ? 3u : 2u, GetReportedDeviceCount());
        ASSERT_EQ(1u, GetAcceptedDeviceCount());

        const DisplayDeviceRecord& partial = Record(1);
        const ScriptedDevice& last = secondaryLast ? secondary.devices[0] : primary.devices[1];
        EXPECT_STREQ(secondaryLast ? "Secondary Card" : "filtered", partial.name);
        EXPECT_EQ(0, std::memcmp(&last.desc, &partial.deviceDesc, sizeof last.desc));
        EXPECT_EQ(&partial.deviceGuidValue, partial.deviceGuid);
        EXPECT_TRUE(IsEqualGUID(last.desc.deviceGUID, partial.deviceGuidValue));
        EXPECT_EQ(secondaryLast ? 0u : 0x80000u, partial.isHardware);
        EXPECT_EQ(secondaryLast ? &partial.driverGuidValue : nullptr, partial.driverGuid);
        EXPECT_TRUE(secondaryLast ? IsEqualGUID(MakeGuid(8), partial.driverGuidValue)
                                  : IsZero(&partial.driverGuidValue, sizeof(GUID)));
        const DDCAPS hal = machine.ExpectedHalCaps(secondaryLast ? 1 : 0);
        EXPECT_EQ(0, std::memcmp(&hal, &partial.halCaps, sizeof hal));
        EXPECT_EQ(secondaryLast ? 0 : 1, partial.canRenderWindowed);
        EXPECT_EQ(nullptr, partial.modes);
        EXPECT_EQ(0u, partial.modeCount);
        EXPECT_TRUE(IsZero(&partial.defaultMode, sizeof partial.defaultMode));
        EXPECT_EQ(0u, partial.defaultModeIndex);
        EXPECT_EQ(0, partial.windowed);
        EXPECT_EQ(0, partial.hasStereoMode);
        for (uint32_t i = 2; i < kDisplayDeviceCapacity; ++i)
            EXPECT_TRUE(IsZero(&Record(i), sizeof(DisplayDeviceRecord))) << i;
        FreeDisplayDeviceModes();
        EXPECT_EQ(live, LiveAllocationCount());
        ResetDisplayDeviceTable();
        SetDirectDrawEntry(nullptr);
    }
}

TEST_F(DisplayEnumerationTest, NamesKeepAtMost38Characters)
{
    const std::string long45 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrs";
    const std::string exact38 = long45.substr(0, 38);
    ScriptedDriver primary = PrimaryDriver("ignored for the primary driver");
    primary.modes = {MakeMode(640, 480, 16)};
    primary.devices = {MakeDevice(long45, kHardware, k16, 1), MakeDevice(exact38.substr(0, 37), kHardware, k16, 2)};
    ScriptedDriver secondary = SecondaryDriver(long45, 4);
    secondary.modes = {MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("own name unused", kHardware, k16, 3)};
    ScriptedMachine machine({primary, secondary});

    EXPECT_EQ(0, Run(machine));

    ASSERT_EQ(3u, GetAcceptedDeviceCount());
    const std::string expected[3] = {exact38, exact38.substr(0, 37), exact38};
    for (uint32_t i = 0; i < 3; ++i) {
        char field[kDisplayDeviceNameSize] = {};
        std::memcpy(field, expected[i].data(), expected[i].size());
        EXPECT_EQ(0, std::memcmp(field, Record(i).name, sizeof field)) << i << ": " << Record(i).name;
    }
}

TEST_F(DisplayEnumerationTest, ErrorCodesAndDriversThatFail)
{
    auto driverWithDevice = [](ScriptedDriver driver, uint32_t guid) {
        driver.modes = {MakeMode(640, 480, 16)};
        driver.devices = {MakeDevice("dev", kHardware, k16, guid)};
        return driver;
    };
    DisplayDeviceRecord zero;
    std::memset(&zero, 0, sizeof zero);

    {
        SCOPED_TRACE("no driver");
        ScriptedMachine machine({});
        EXPECT_EQ(DEVICE_ENUM_NO_DEVICE, Run(machine));
        EXPECT_EQ(1, machine.enumerateCalls());
    }
    {
        SCOPED_TRACE("every driver refuses Direct3D 7");
        ScriptedDriver a = driverWithDevice(PrimaryDriver("a"), 1), b = driverWithDevice(SecondaryDriver("b", 5), 2);
        a.queryDirect3DResult = b.queryDirect3DResult = E_NOINTERFACE;
        ScriptedMachine machine({a, b});
        ResetDisplayDeviceTable();
        EXPECT_EQ(DEVICE_ENUM_NO_DEVICE, Run(machine));
        EXPECT_EQ(0u, GetReportedDeviceCount());
        EXPECT_EQ(0u, GetAcceptedDeviceCount());
        for (uint32_t i = 0; i < kDisplayDeviceCapacity; ++i)
            EXPECT_EQ(0, std::memcmp(&zero, &Record(i), sizeof zero)) << i;
        EXPECT_TRUE((std::vector<CallRecord>{{Call::CreateEx, 0}, {Call::QueryDirect3D, 0}, {Call::ReleaseDirectDraw, 0},
                                             {Call::CreateEx, 1}, {Call::QueryDirect3D, 1}, {Call::ReleaseDirectDraw, 1}}) ==
                    machine.calls());
        EXPECT_TRUE(machine.AllReleased());
    }
    {
        SCOPED_TRACE("creation fails on the first driver");
        ScriptedDriver a = driverWithDevice(PrimaryDriver("a"), 1), b = driverWithDevice(SecondaryDriver("b", 5), 2);
        a.createResult = DDERR_NODIRECTDRAWHW;
        ScriptedMachine machine({a, b});
        ResetDisplayDeviceTable();
        EXPECT_EQ(0, Run(machine));
        EXPECT_EQ((std::vector<std::string>{"b"}), Names());
        EXPECT_EQ(CallRecord({Call::CreateEx, 0}), machine.calls().at(0));
        EXPECT_EQ(CallRecord({Call::CreateEx, 1}), machine.calls().at(1));
        EXPECT_TRUE(machine.AllReleased());
        FreeDisplayDeviceModes();
    }
    {
        SCOPED_TRACE("devices, none accepted: no modes, or software off the primary driver");
        ScriptedDriver a = driverWithDevice(PrimaryDriver("a"), 1), b = driverWithDevice(SecondaryDriver("b", 5), 2);
        a.modes.clear();
        b.devices[0].desc.dwDevCaps = kSoftware;
        ScriptedMachine machine({a, b});
        ResetDisplayDeviceTable();
        const size_t live = LiveAllocationCount();
        EXPECT_EQ(DEVICE_ENUM_NONE_ACCEPTED, Run(machine));
        EXPECT_EQ(live, LiveAllocationCount());
        EXPECT_EQ(2u, GetReportedDeviceCount());
        EXPECT_EQ(0u, GetAcceptedDeviceCount());
    }
    {
        SCOPED_TRACE("failing GetCaps, EnumDisplayModes and EnumDevices");
        ScriptedDriver caps = driverWithDevice(PrimaryDriver("caps"), 1);
        caps.halCaps2 = DDCAPS2_CANRENDERWINDOWED;
        caps.getCapsResult = DDERR_GENERIC;
        ScriptedDriver modes = driverWithDevice(SecondaryDriver("modes", 5), 2);
        modes.enumModesResult = DDERR_GENERIC;
        ScriptedDriver devices = driverWithDevice(SecondaryDriver("devices", 6), 3);
        devices.enumDevicesResult = D3DERR_INVALID_DEVICE;
        ScriptedMachine machine({caps, modes, devices});
        ResetDisplayDeviceTable();
        EXPECT_EQ(0, Run(machine));
        EXPECT_EQ(2u, GetReportedDeviceCount());  // the device of "modes" is counted and rejected
        ASSERT_EQ(1u, GetAcceptedDeviceCount());
        DDCAPS sizeOnly;
        std::memset(&sizeOnly, 0, sizeof sizeOnly);
        sizeOnly.dwSize = 380;
        EXPECT_EQ(0, std::memcmp(&sizeOnly, &Record(0).halCaps, sizeof sizeOnly));
        EXPECT_EQ(0, std::memcmp(&sizeOnly, &Record(0).helCaps, sizeof sizeOnly));
        EXPECT_EQ(0, Record(0).canRenderWindowed);
        EXPECT_EQ(0, Record(0).windowed);
        EXPECT_STREQ("modes", Record(1).name);  // the rejected device's partial record
        EXPECT_TRUE(machine.AllReleased());
    }
}

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

    const size_t live = LiveAllocationCount();
    const size_t calls = AllocationCallCount();
    EXPECT_EQ(0, Run(machine, LoggingFilter));
    const size_t callsMade = AllocationCallCount() - calls;
    const size_t liveAfter = LiveAllocationCount() - live;

    EXPECT_EQ(25u, GetReportedDeviceCount());
    EXPECT_EQ(20u, GetAcceptedDeviceCount());
    EXPECT_EQ(LoggingFilter, g_displayDeviceTable.filter);  // stored just past the last record
    EXPECT_EQ(20, g_filterLog.calls);
    EXPECT_EQ(13, machine.observed(1).devicesDelivered);
    EXPECT_EQ(4u + 20u, callsMade);  // one per mode, one per record; none for the devices left out
    EXPECT_EQ(20u, liveAfter);
    EXPECT_TRUE(IsEqualGUID(MakeGuid(0xd0000000u | 0x47), Record(19).deviceGuidValue));
    EXPECT_EQ((std::vector<std::string>{"640x480x16", "1024x768x16"}), Modes(Record(19)));
    EXPECT_TRUE(machine.AllReleased());
    FreeDisplayDeviceModes();
    EXPECT_EQ(live, LiveAllocationCount());
    ResetDisplayDeviceTable();
}

// Every allocation of a run is refused in turn. The run stops, keeps only
// complete records, releases every interface and leaks nothing.
TEST_F(DisplayEnumerationTest, RunningOutOfMemoryStopsWithCompleteRecords)
{
    ScriptedDriver primary = PrimaryDriver("Primary");
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 16), MakeMode(640, 480, 8)};
    primary.devices = {MakeDevice("P0", kHardware, k16, 1), MakeDevice("P1", kSoftware, k16, 2)};
    ScriptedDriver secondary = SecondaryDriver("Secondary", 6);
    secondary.modes = {MakeMode(1024, 768, 16), MakeMode(640, 480, 16)};
    secondary.devices = {MakeDevice("S0", kHardware, k16, 3), MakeDevice("S1", kHardware, k16, 4)};
    // Allocations in order: 3 primary modes, P0, P1, 2 secondary modes, S0, S1.
    const uint32_t acceptedAfter[10] = {0, 0, 0, 0, 1, 2, 2, 2, 3, 4};
    const uint32_t reportedAfter[10] = {0, 0, 0, 1, 2, 2, 2, 3, 4, 4};
    const std::vector<std::string> names = {"P0", "P1", "Secondary", "Secondary"};
    const std::vector<std::string> modes[4] = {{"640x480x16", "800x600x16"}, {"640x480x16", "800x600x16"},
                                               {"640x480x16", "1024x768x16"}, {"640x480x16", "1024x768x16"}};

    for (bool ignoreCancel : {false, true}) {
        for (size_t successes = 0; successes < 10; ++successes) {
            SCOPED_TRACE(testing::Message() << "successes " << successes << ", ignoreCancel " << ignoreCancel);
            ResetDisplayDeviceTable();
            ScriptedMachine machine({primary, secondary});
            machine.SetIgnoreCancel(ignoreCancel);
            const size_t live = LiveAllocationCount();
            FailAllocationAfter(successes);
            SetDirectDrawEntry(&machine);
            const int32_t result = EnumerateDisplayDevices(nullptr);
            StopFailingAllocations();

            const uint32_t accepted = acceptedAfter[successes];
            EXPECT_EQ(successes < 9, DisplayEnumerationRanOutOfMemory());
            EXPECT_EQ(reportedAfter[successes], GetReportedDeviceCount());
            ASSERT_EQ(accepted, GetAcceptedDeviceCount());
            EXPECT_EQ(reportedAfter[successes] == 0 ? DEVICE_ENUM_NO_DEVICE
                                                    : accepted == 0 ? DEVICE_ENUM_NONE_ACCEPTED : 0,
                      result);
            EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + accepted), Names());
            for (uint32_t i = 0; i < accepted; ++i)
                EXPECT_EQ(modes[i], Modes(Record(i))) << i;
            EXPECT_EQ(nullptr, Record(accepted).modes);
            EXPECT_EQ(0u, Record(accepted).modeCount);
            EXPECT_TRUE(machine.AllReleased());
            if (!ignoreCancel && successes < 5) {
                // Stopped inside the primary driver: the secondary one is never opened.
                EXPECT_EQ(DDENUMRET_CANCEL, machine.observed(0).driverCallbackResult);
                EXPECT_EQ(0, machine.observed(1).createCalls);
            }
            if (successes < 3) {
                // An incomplete mode list is never offered to the devices.
                EXPECT_EQ(0, machine.observed(0).devicesDelivered);
                EXPECT_EQ(0, machine.observed(1).devicesDelivered);
            }
            EXPECT_EQ(live + accepted, LiveAllocationCount());
            FreeDisplayDeviceModes();
            EXPECT_EQ(live, LiveAllocationCount());
        }
    }
    ResetDisplayDeviceTable();
}

// A filter may allocate too; its failure is contained the same way.
int32_t AllocatingFilter(const DDCAPS*, const D3DDEVICEDESC7*)
{
    int* volatile block = new int(7);  // volatile: the pair may not be elided
    delete block;
    return 0;
}

TEST_F(DisplayEnumerationTest, RunningOutOfMemoryInTheFilterReleasesTheSlot)
{
    ScriptedDriver primary = PrimaryDriver("Primary");
    primary.modes = {MakeMode(640, 480, 16)};
    primary.devices = {MakeDevice("P0", kHardware, k16, 1), MakeDevice("P1", kHardware, k16, 2)};
    ScriptedMachine machine({primary});
    const size_t live = LiveAllocationCount();
    FailAllocationAfter(2);  // the mode, the slot; then the filter's own
    const int32_t result = Run(machine, AllocatingFilter);
    StopFailingAllocations();

    EXPECT_EQ(DEVICE_ENUM_NONE_ACCEPTED, result);
    EXPECT_TRUE(DisplayEnumerationRanOutOfMemory());
    EXPECT_EQ(1u, GetReportedDeviceCount());
    EXPECT_EQ(0u, GetAcceptedDeviceCount());
    EXPECT_EQ(nullptr, Record(0).modes);
    EXPECT_EQ(live, LiveAllocationCount());
    EXPECT_TRUE(machine.AllReleased());
}

TEST_F(DisplayEnumerationTest, FreeDisplayDeviceModesOnAnEmptyTableReleasesNothing)
{
    const size_t live = LiveAllocationCount();
    FreeDisplayDeviceModes();
    EXPECT_EQ(live, LiveAllocationCount());
    EXPECT_EQ(&g_displayDeviceTable.records[0], GetDisplayDeviceTable());
    EXPECT_EQ(0u, GetReportedDeviceCount());
    EXPECT_EQ(0u, GetAcceptedDeviceCount());
}

}  // namespace
