// The enumeration and display-report.exe against the real ddraw.dll of the
// machine (Wine's, here): what they record must be what ddraw reports, walked
// independently by this test.
//
//   display-real-ddraw-test.exe [--desktop=WxH] [gtest flags]
//
// --desktop says the test runs in a virtual desktop of that size, whose mode
// list it then checks as well.
#include "display/direct_draw_entry.h"
#include "display/display_enumeration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

DWORD g_desktopWidth = 0;
DWORD g_desktopHeight = 0;

using Mode = std::tuple<DWORD, DWORD, DWORD>;  // width, height, bits per pixel

struct RawDevice {
    std::string name;
    D3DDEVICEDESC7 desc;
};

struct RawDriver {
    bool primary = false;
    GUID guid{};
    std::string description;
    DWORD halCaps2 = 0;
    std::vector<Mode> modes;  // as reported
    std::vector<RawDevice> devices;
};

struct ExpectedRecord {
    std::string name;
    uint32_t isHardware;
    GUID deviceGuid;
    bool primary;
    GUID driverGuid;
    int32_t windowed;
    std::vector<Mode> modes;
    uint32_t defaultModeIndex;
    bool hasDefault;
};

BOOL WINAPI CollectDriver(GUID* guid, LPSTR description, LPSTR, LPVOID context, HMONITOR)
{
    RawDriver driver;
    driver.primary = guid == nullptr;
    if (guid != nullptr)
        driver.guid = *guid;
    driver.description = description;
    static_cast<std::vector<RawDriver>*>(context)->push_back(driver);
    return DDENUMRET_OK;
}

HRESULT WINAPI CollectMode(LPDDSURFACEDESC2 mode, LPVOID context)
{
    static_cast<RawDriver*>(context)->modes.emplace_back(mode->dwWidth, mode->dwHeight,
                                                         mode->ddpfPixelFormat.dwRGBBitCount);
    return DDENUMRET_OK;
}

HRESULT WINAPI CollectDevice(char*, char* name, D3DDEVICEDESC7* desc, void* context)
{
    static_cast<RawDriver*>(context)->devices.push_back({name, *desc});
    return D3DENUMRET_OK;
}

// Straight from ddraw, without the code under test.
std::vector<RawDriver> WalkDdraw()
{
    std::vector<RawDriver> drivers;
    DirectDrawEnumerateExA(CollectDriver, &drivers, 7);
    for (RawDriver& driver : drivers) {
        IDirectDraw7* directDraw = nullptr;
        if (FAILED(DirectDrawCreateEx(driver.primary ? nullptr : &driver.guid, reinterpret_cast<void**>(&directDraw),
                                      IID_IDirectDraw7, nullptr)))
            continue;
        IDirect3D7* direct3D = nullptr;
        if (SUCCEEDED(directDraw->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&direct3D)))) {
            DDCAPS hal, hel;
            std::memset(&hal, 0, sizeof hal);
            std::memset(&hel, 0, sizeof hel);
            hal.dwSize = hel.dwSize = sizeof(DDCAPS);
            directDraw->GetCaps(&hal, &hel);
            driver.halCaps2 = hal.dwCaps2;
            directDraw->EnumDisplayModes(0, nullptr, &driver, CollectMode);
            direct3D->EnumDevices(CollectDevice, &driver);
            direct3D->Release();
        }
        directDraw->Release();
    }
    return drivers;
}

bool Renders(DWORD bits, DWORD depths)
{
    return (bits == 16 && (depths & DDBD_16)) || (bits == 24 && (depths & DDBD_24)) ||
           (bits == 32 && (depths & DDBD_32));
}

// The records the rules make of what ddraw reported.
std::vector<ExpectedRecord> ExpectedRecords(const std::vector<RawDriver>& drivers, uint32_t* reported)
{
    std::vector<ExpectedRecord> records;
    *reported = 0;
    for (const RawDriver& driver : drivers) {
        for (const RawDevice& device : driver.devices) {
            ++*reported;
            ExpectedRecord record{};
            record.isHardware = device.desc.dwDevCaps & D3DDEVCAPS_HWRASTERIZATION;
            if (!driver.primary && record.isHardware == 0)
                continue;
            for (const Mode& mode : driver.modes)
                if (Renders(std::get<2>(mode), device.desc.dwDeviceRenderBitDepth))
                    record.modes.push_back(mode);
            if (record.modes.empty())
                continue;
            std::sort(record.modes.begin(), record.modes.end());
            for (size_t i = 0; i < record.modes.size(); ++i) {
                if (record.modes[i] == Mode(640, 480, 16)) {
                    record.defaultModeIndex = static_cast<uint32_t>(i);
                    record.hasDefault = true;
                }
            }
            record.name = (driver.primary ? device.name : driver.description).substr(0, 38);
            record.deviceGuid = device.desc.deviceGUID;
            record.primary = driver.primary;
            record.driverGuid = driver.guid;
            record.windowed = driver.primary && (driver.halCaps2 & DDCAPS2_CANRENDERWINDOWED) ? 1 : 0;
            records.push_back(record);
        }
    }
    return records;
}

std::vector<Mode> Modes(const DisplayDeviceRecord& record)
{
    std::vector<Mode> modes;
    for (uint32_t i = 0; i < record.modeCount; ++i)
        modes.emplace_back(record.modes[i].dwWidth, record.modes[i].dwHeight,
                           record.modes[i].ddpfPixelFormat.dwRGBBitCount);
    return modes;
}

std::string GuidText(const GUID& guid)
{
    char text[64];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string ExpectedReport(const std::vector<ExpectedRecord>& records, uint32_t reported)
{
    std::string text = "Tavelkin Setup display report\n";
    text += records.empty() ? (reported == 0 ? "result: 0x81000002 (no device)\n" : "result: 0x81000003 (none accepted)\n")
                            : "result: 0x00000000 (ok)\n";
    text += "reported devices: " + std::to_string(reported) + "\n";
    text += "accepted devices: " + std::to_string(records.size()) + "\n";
    text += "out of memory: no\n";
    for (size_t i = 0; i < records.size(); ++i) {
        const ExpectedRecord& r = records[i];
        char hardware[32];
        std::snprintf(hardware, sizeof hardware, "%s (0x%08lX)", r.isHardware ? "yes" : "no",
                      static_cast<unsigned long>(r.isHardware));
        text += "device " + std::to_string(i) + ": " + r.name + "\n";
        text += std::string("  hardware: ") + hardware + "\n";
        text += "  device guid: " + GuidText(r.deviceGuid) + "\n";
        text += "  driver guid: " + (r.primary ? std::string("none (primary display driver)") : GuidText(r.driverGuid)) + "\n";
        text += std::string("  windowed: ") + (r.windowed ? "yes" : "no") + "\n";
        text += "  default mode: " + std::to_string(r.defaultModeIndex) + (r.hasDefault ? " (640 x 480 x 16)" : " (none)") + "\n";
        text += "  modes: " + std::to_string(r.modes.size()) + "\n";
        for (const Mode& m : r.modes)
            text += "    " + std::to_string(std::get<0>(m)) + " x " + std::to_string(std::get<1>(m)) + " x " +
                    std::to_string(std::get<2>(m)) + "\n";
    }
    return text;
}

class RealDdrawTest : public ::testing::Test {
protected:
    // Opening every driver takes Wine a second or two: walk once.
    static void SetUpTestSuite()
    {
        drivers_ = WalkDdraw();
        expected_ = ExpectedRecords(drivers_, &reported_);
    }
    void SetUp() override
    {
        SetDirectDrawEntry(nullptr);
        ResetDisplayDeviceTable();
    }
    void TearDown() override
    {
        FreeDisplayDeviceModes();
        ResetDisplayDeviceTable();
    }
    static std::vector<RawDriver> drivers_;
    static std::vector<ExpectedRecord> expected_;
    static uint32_t reported_;
};

std::vector<RawDriver> RealDdrawTest::drivers_;
std::vector<ExpectedRecord> RealDdrawTest::expected_;
uint32_t RealDdrawTest::reported_ = 0;

TEST_F(RealDdrawTest, TableHoldsWhatDdrawReports)
{
    ASSERT_FALSE(drivers_.empty());
    EXPECT_TRUE(drivers_[0].primary) << drivers_[0].description;
    ASSERT_FALSE(expected_.empty()) << "ddraw reported no acceptable device";

    EXPECT_EQ(0, EnumerateDisplayDevices(nullptr));
    EXPECT_FALSE(DisplayEnumerationRanOutOfMemory());
    EXPECT_EQ(reported_, GetReportedDeviceCount());
    ASSERT_EQ(expected_.size(), GetAcceptedDeviceCount());
    for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i) {
        const DisplayDeviceRecord& record = GetDisplayDeviceTable()[i];
        const ExpectedRecord& want = expected_[i];
        SCOPED_TRACE(testing::Message() << "record " << i << " " << want.name);
        EXPECT_EQ(want.name, record.name);
        EXPECT_EQ(want.isHardware, record.isHardware);
        EXPECT_TRUE(IsEqualGUID(want.deviceGuid, record.deviceGuidValue));
        EXPECT_EQ(want.primary ? nullptr : &record.driverGuidValue, record.driverGuid);
        EXPECT_TRUE(IsEqualGUID(want.driverGuid, record.driverGuidValue));
        EXPECT_EQ(want.windowed, record.windowed);
        EXPECT_EQ(want.modes, Modes(record));
        EXPECT_EQ(want.defaultModeIndex, record.defaultModeIndex);
        EXPECT_EQ(want.hasDefault ? 640u : 0u, record.defaultMode.dwWidth);
    }
}

// A secondary driver's devices carry its description, not their own names.
TEST_F(RealDdrawTest, SecondaryDriverDevicesAreNamedByTheDriver)
{
    if (drivers_.size() < 2)
        GTEST_SKIP() << "ddraw reports no secondary driver here";
    EnumerateDisplayDevices(nullptr);
    int secondaryRecords = 0;
    for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i) {
        const DisplayDeviceRecord& record = GetDisplayDeviceTable()[i];
        if (record.driverGuid == nullptr)
            continue;
        ++secondaryRecords;
        const RawDriver* owner = nullptr;
        for (const RawDriver& driver : drivers_)
            if (!driver.primary && IsEqualGUID(driver.guid, record.driverGuidValue))
                owner = &driver;
        ASSERT_NE(nullptr, owner) << "record " << i << " names no reported driver";
        EXPECT_EQ(owner->description.substr(0, 38), record.name) << i;
    }
    EXPECT_GT(secondaryRecords, 0);
}

TEST_F(RealDdrawTest, VirtualDesktopModesAreListedSorted)
{
    if (g_desktopWidth == 0)
        GTEST_SKIP() << "not in a virtual desktop (--desktop=WxH)";
    EXPECT_EQ(0, EnumerateDisplayDevices(nullptr));
    ASSERT_GE(GetAcceptedDeviceCount(), 1u);
    const DisplayDeviceRecord& primary = GetDisplayDeviceTable()[0];
    const std::vector<Mode> modes = Modes(primary);
    std::vector<std::pair<DWORD, DWORD>> sizes;
    for (const Mode& m : modes)
        if (sizes.empty() || sizes.back() != std::make_pair(std::get<0>(m), std::get<1>(m)))
            sizes.emplace_back(std::get<0>(m), std::get<1>(m));
    EXPECT_GT(sizes.size(), 4u) << "a virtual desktop offers many resolutions";
    EXPECT_TRUE(std::is_sorted(modes.begin(), modes.end()));
    ASSERT_FALSE(modes.empty());
    EXPECT_EQ(g_desktopWidth, std::get<0>(modes.back()));
    EXPECT_EQ(g_desktopHeight, std::get<1>(modes.back()));
    ASSERT_LT(primary.defaultModeIndex, primary.modeCount);
    EXPECT_TRUE(modes[primary.defaultModeIndex] == Mode(640, 480, 16));
    EXPECT_EQ(640u, primary.defaultMode.dwWidth);
    EXPECT_EQ(480u, primary.defaultMode.dwHeight);
    EXPECT_EQ(16u, primary.defaultMode.ddpfPixelFormat.dwRGBBitCount);
    // Wine lists the modes unsorted, so the order checked above is ours.
    std::vector<Mode> raw;
    for (const Mode& m : drivers_[0].modes)
        if (Renders(std::get<2>(m), primary.deviceDesc.dwDeviceRenderBitDepth))
            raw.push_back(m);
    EXPECT_FALSE(std::is_sorted(raw.begin(), raw.end()));
}

TEST_F(RealDdrawTest, DisplayReportPrintsTheSameDevices)
{
    char path[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, path, MAX_PATH));
    std::string tool = path;
    tool = tool.substr(0, tool.find_last_of('\\')) + "\\..\\..\\display-report.exe";
    char directory[MAX_PATH], output[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, directory));
    ASSERT_NE(0u, GetTempFileNameA(directory, "dsp", 0, output));

    std::string command = "\"" + tool + "\" \"" + output + "\"";
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessA(tool.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process))
        << tool << " error " << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    DWORD exitCode = 0xdeadbeef;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::string text;
    if (FILE* file = std::fopen(output, "r")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, got);
        std::fclose(file);
    }
    DeleteFileA(output);
    EXPECT_EQ(expected_.empty() ? 1u : 0u, exitCode);
    EXPECT_EQ(ExpectedReport(expected_, reported_), text);
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        unsigned long width = 0, height = 0;
        if (std::sscanf(argv[i], "--desktop=%lux%lu", &width, &height) == 2) {
            g_desktopWidth = width;
            g_desktopHeight = height;
        }
    }
    return RUN_ALL_TESTS();
}
