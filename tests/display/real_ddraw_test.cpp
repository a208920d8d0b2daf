// The enumeration and display-report.exe against the real ddraw.dll (Wine's,
// here): what they record must be what ddraw reports, walked independently.
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
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

namespace {

DWORD g_desktopWidth = 0, g_desktopHeight = 0;

using Mode = std::tuple<DWORD, DWORD, DWORD>;  // width, height, bits per pixel

struct RawDriver {
    GUID* guid = nullptr;  // null: the primary display driver
    GUID guidValue{};
    std::string description;
    DWORD halCaps2 = 0;
    std::vector<Mode> modes;  // as reported
    std::vector<std::pair<std::string, D3DDEVICEDESC7>> devices;
};

BOOL WINAPI CollectDriver(GUID* guid, LPSTR description, LPSTR, LPVOID context, HMONITOR)
{
    auto& drivers = *static_cast<std::vector<RawDriver>*>(context);
    drivers.emplace_back();
    drivers.back().guidValue = guid ? *guid : GUID{};
    drivers.back().guid = guid ? &drivers.back().guidValue : nullptr;
    drivers.back().description = description;
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
    static_cast<RawDriver*>(context)->devices.emplace_back(name, *desc);
    return D3DENUMRET_OK;
}

// Straight from ddraw, without the code under test.
std::vector<RawDriver> WalkDdraw()
{
    std::vector<RawDriver> drivers;
    drivers.reserve(64);  // the GUID references point into the elements
    DirectDrawEnumerateExA(CollectDriver, &drivers, 7);
    for (RawDriver& driver : drivers) {
        IDirectDraw7* directDraw = nullptr;
        if (FAILED(DirectDrawCreateEx(driver.guid, reinterpret_cast<void**>(&directDraw), IID_IDirectDraw7, nullptr)))
            continue;
        IDirect3D7* direct3D = nullptr;
        if (SUCCEEDED(directDraw->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&direct3D)))) {
            DDCAPS hal = {}, hel = {};
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

std::string GuidText(const GUID& guid)
{
    char text[64];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string ModeText(const Mode& m)
{
    return std::to_string(std::get<0>(m)) + " x " + std::to_string(std::get<1>(m)) + " x " +
           std::to_string(std::get<2>(m));
}

std::string HardwareText(uint32_t hardware)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s (0x%08lX)", hardware ? "yes" : "no", static_cast<unsigned long>(hardware));
    return text;
}

std::vector<Mode> Modes(const DisplayDeviceRecord& record)
{
    std::vector<Mode> modes;
    for (uint32_t i = 0; i < record.modeCount; ++i)
        modes.emplace_back(record.modes[i].dwWidth, record.modes[i].dwHeight,
                           record.modes[i].ddpfPixelFormat.dwRGBBitCount);
    return modes;
}

// The report display-report.exe must print, made by the rules from what
// ddraw reported; *secondaryRecords counts the records of secondary drivers.
std::string ExpectedReport(const std::vector<RawDriver>& drivers, int* secondaryRecords)
{
    std::string devices;
    uint32_t reported = 0, accepted = 0;
    for (const RawDriver& driver : drivers) {
        for (const auto& [name, desc] : driver.devices) {
            ++reported;
            const uint32_t hardware = desc.dwDevCaps & D3DDEVCAPS_HWRASTERIZATION;
            std::vector<Mode> modes;
            for (const Mode& mode : driver.modes)
                if (Renders(std::get<2>(mode), desc.dwDeviceRenderBitDepth))
                    modes.push_back(mode);
            if ((driver.guid && !hardware) || modes.empty())
                continue;
            std::sort(modes.begin(), modes.end());
            std::string defaultMode = "0 (none)";
            for (size_t i = 0; i < modes.size(); ++i)
                if (modes[i] == Mode(640, 480, 16))
                    defaultMode = std::to_string(i) + " (640 x 480 x 16)";
            *secondaryRecords += driver.guid ? 1 : 0;
            devices += "device " + std::to_string(accepted++) + ": " +
                       (driver.guid ? driver.description : name).substr(0, 38) + "\n";
            devices += "  hardware: " + HardwareText(hardware) + "\n";
            devices += "  device guid: " + GuidText(desc.deviceGUID) + "\n";
            devices += "  driver guid: " + (driver.guid ? GuidText(*driver.guid) : "none (primary display driver)");
            devices += std::string("\n  windowed: ") +
                       (!driver.guid && (driver.halCaps2 & DDCAPS2_CANRENDERWINDOWED) ? "yes" : "no") + "\n";
            devices += "  default mode: " + defaultMode + "\n";
            devices += "  modes: " + std::to_string(modes.size()) + "\n";
            for (const Mode& m : modes)
                devices += "    " + ModeText(m) + "\n";
        }
    }
    return std::string("Tavelkin Setup display report\n") +
           (accepted ? "result: 0x00000000 (ok)\n"
                     : reported ? "result: 0x81000003 (none accepted)\n" : "result: 0x81000002 (no device)\n") +
           "reported devices: " + std::to_string(reported) + "\naccepted devices: " + std::to_string(accepted) +
           "\nout of memory: no\n" + devices;
}

// The table in the report's form, printed by the test.
std::string TableReport()
{
    std::string text;
    for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i) {
        const DisplayDeviceRecord& r = GetDisplayDeviceTable()[i];
        const DDSURFACEDESC2& d = r.defaultMode;
        text += "device " + std::to_string(i) + ": " + r.name + "\n  hardware: " + HardwareText(r.isHardware);
        text += "\n  device guid: " + GuidText(r.deviceGuidValue) + "\n  driver guid: ";
        text += r.driverGuid == &r.driverGuidValue ? GuidText(r.driverGuidValue)
                : r.driverGuid == nullptr          ? "none (primary display driver)" : "(elsewhere)";
        text += std::string("\n  windowed: ") + (r.windowed ? "yes" : "no") + "\n  default mode: ";
        text += std::to_string(r.defaultModeIndex) + " (" +
                (d.dwWidth ? ModeText({d.dwWidth, d.dwHeight, d.ddpfPixelFormat.dwRGBBitCount}) : "none") + ")\n";
        text += "  modes: " + std::to_string(r.modeCount) + "\n";
        for (const Mode& m : Modes(r))
            text += "    " + ModeText(m) + "\n";
    }
    return text;
}

class RealDdrawTest : public ::testing::Test {
protected:
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
};

// A secondary driver's devices carry its description, not their own names.
TEST_F(RealDdrawTest, TableAndReportHoldWhatDdrawReports)
{
    const std::vector<RawDriver> drivers = WalkDdraw();
    ASSERT_GE(drivers.size(), 2u) << "a primary and a secondary driver";
    EXPECT_EQ(nullptr, drivers[0].guid) << drivers[0].description;
    int secondaryRecords = 0;
    const std::string expected = ExpectedReport(drivers, &secondaryRecords);
    EXPECT_GT(secondaryRecords, 0);

    EXPECT_EQ(0, EnumerateDisplayDevices(nullptr));
    const std::string counts = expected.substr(0, expected.find("device 0:"));
    EXPECT_EQ(expected, counts + TableReport());

    char directory[MAX_PATH], output[MAX_PATH], path[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, directory));
    ASSERT_NE(0u, GetTempFileNameA(directory, "dsp", 0, output));
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, path, MAX_PATH));
    std::string tool = path;
    tool = tool.substr(0, tool.find_last_of('\\')) + "\\..\\..\\display-report.exe";
    std::string command = "\"" + tool + "\" \"" + output + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessA(tool.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process)) << tool << " error " << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    DWORD exitCode = 0xdeadbeef;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::ifstream file(output);  // text mode: the report has CRLF line ends
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    file.close();
    DeleteFileA(output);
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(expected, text);
}

TEST_F(RealDdrawTest, VirtualDesktopModesAreListedSorted)
{
    if (g_desktopWidth == 0)
        GTEST_SKIP() << "not in a virtual desktop (--desktop=WxH)";
    const std::vector<RawDriver> drivers = WalkDdraw();
    EXPECT_EQ(0, EnumerateDisplayDevices(nullptr));
    ASSERT_GE(GetAcceptedDeviceCount(), 1u);
    const DisplayDeviceRecord& primary = GetDisplayDeviceTable()[0];
    const std::vector<Mode> modes = Modes(primary);
    std::vector<Mode> sizes;
    for (const Mode& m : modes)
        if (sizes.empty() || std::get<0>(sizes.back()) != std::get<0>(m) || std::get<1>(sizes.back()) != std::get<1>(m))
            sizes.push_back(m);
    EXPECT_GT(sizes.size(), 4u) << "a virtual desktop offers many resolutions";
    ASSERT_FALSE(modes.empty());
    EXPECT_TRUE(std::is_sorted(modes.begin(), modes.end()));
    EXPECT_EQ(g_desktopWidth, std::get<0>(modes.back()));
    EXPECT_EQ(g_desktopHeight, std::get<1>(modes.back()));
    ASSERT_LT(primary.defaultModeIndex, primary.modeCount);
    EXPECT_EQ(ModeText({640, 480, 16}), ModeText(modes[primary.defaultModeIndex]));
    // Wine lists the modes unsorted, so the order checked above is ours.
    std::vector<Mode> raw;
    for (const Mode& m : drivers[0].modes)
        if (Renders(std::get<2>(m), primary.deviceDesc.dwDeviceRenderBitDepth))
            raw.push_back(m);
    EXPECT_FALSE(std::is_sorted(raw.begin(), raw.end()));
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        unsigned long width = 0, height = 0;
        if (std::sscanf(argv[i], "--desktop=%lux%lu", &width, &height) == 2)
            g_desktopWidth = width, g_desktopHeight = height;
    }
    return RUN_ALL_TESTS();
}
