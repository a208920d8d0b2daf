// The enumeration and display-report.exe against the real ddraw.dll (Wine's,
// here): what they record must be what ddraw reports, walked independently.
//
//   display-real-ddraw-test.exe [--desktop=WxH] [gtest flags]
//
// --desktop says the test runs in a virtual desktop of that size, whose mode
// list it then checks as well.
#include "display/display_enumeration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <process.h>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

DWORD g_desktopWidth = 0, g_desktopHeight = 0;

using Mode = std::tuple<DWORD, DWORD, DWORD>;  // width, height, bits per pixel

struct RawDriver {
    bool primary = true;  // the null GUID
    GUID guid{};
    std::string description;
    DWORD halCaps2 = 0;
    std::vector<Mode> modes;  // as reported
    std::vector<std::pair<std::string, D3DDEVICEDESC7>> devices;
};

BOOL WINAPI CollectDriver(GUID* guid, LPSTR description, LPSTR, LPVOID context, HMONITOR)
{
    RawDriver driver;
    driver.primary = guid == nullptr;
    driver.guid = guid ? *guid : GUID{};
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
    static_cast<RawDriver*>(context)->devices.emplace_back(name, *desc);
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

std::vector<Mode> Modes(const DisplayDeviceRecord& record)
{
    std::vector<Mode> modes;
    for (uint32_t i = 0; i < record.modeCount; ++i)
        modes.emplace_back(record.modes[i].dwWidth, record.modes[i].dwHeight,
                           record.modes[i].ddpfPixelFormat.dwRGBBitCount);
    return modes;
}

// One device block of the report.
std::string DeviceText(uint32_t index, const std::string& name, uint32_t hardware, const GUID& deviceGuid,
                       const GUID* driverGuid, bool windowed, uint32_t defaultIndex, const Mode* defaultMode,
                       const std::vector<Mode>& modes)
{
    char hardwareText[32];
    std::snprintf(hardwareText, sizeof hardwareText, "%s (0x%08lX)", hardware ? "yes" : "no",
                  static_cast<unsigned long>(hardware));
    std::string text = "device " + std::to_string(index) + ": " + name + "\n  hardware: " + hardwareText +
                       "\n  device guid: " + GuidText(deviceGuid) + "\n  driver guid: " +
                       (driverGuid ? GuidText(*driverGuid) : "none (primary display driver)") +
                       "\n  windowed: " + (windowed ? "yes" : "no") + "\n  default mode: " +
                       std::to_string(defaultIndex) + " (" + (defaultMode ? ModeText(*defaultMode) : "none") +
                       ")\n  modes: " + std::to_string(modes.size()) + "\n";
    for (const Mode& m : modes)
        text += "    " + ModeText(m) + "\n";
    return text;
}

std::string Header(uint32_t reported, uint32_t accepted, bool outOfMemory)
{
    return std::string("Tavelkin Setup display report\nresult: ") +
           (accepted ? "0x00000000 (ok)" : reported ? "0x81000003 (none accepted)" : "0x81000002 (no device)") +
           "\nreported devices: " + std::to_string(reported) + "\naccepted devices: " + std::to_string(accepted) +
           "\nout of memory: " + (outOfMemory ? "yes (enumeration stopped)" : "no") + "\n";
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
            if ((!driver.primary && !hardware) || modes.empty())
                continue;
            std::sort(modes.begin(), modes.end());
            const Mode* defaultMode = nullptr;
            for (const Mode& m : modes)
                if (m == Mode(640, 480, 16))
                    defaultMode = &m;
            *secondaryRecords += driver.primary ? 0 : 1;
            devices += DeviceText(accepted++, (driver.primary ? name : driver.description).substr(0, 38), hardware,
                                  desc.deviceGUID, driver.primary ? nullptr : &driver.guid,
                                  driver.primary && (driver.halCaps2 & DDCAPS2_CANRENDERWINDOWED),
                                  defaultMode ? static_cast<uint32_t>(defaultMode - modes.data()) : 0, defaultMode,
                                  modes);
        }
    }
    return Header(reported, accepted, false) + devices;
}

// A secondary driver's devices carry its description, not their own names.
// In a virtual desktop the mode list is realistic, and Wine lists it unsorted.
TEST(RealDdrawTest, TableAndReportHoldWhatDdrawReports)
{
    const std::vector<RawDriver> drivers = WalkDdraw();
    ASSERT_GE(drivers.size(), 2u) << "a primary and a secondary driver";
    EXPECT_TRUE(drivers[0].primary) << drivers[0].description;
    int secondaryRecords = 0;
    const std::string expected = ExpectedReport(drivers, &secondaryRecords);
    EXPECT_GT(secondaryRecords, 0);

    EXPECT_EQ(0, EnumerateDisplayDevices(nullptr));
    std::string table = Header(GetReportedDeviceCount(), GetAcceptedDeviceCount(), DisplayEnumerationRanOutOfMemory());
    for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i) {
        const DisplayDeviceRecord& r = GetDisplayDeviceTable()[i];
        const Mode defaultMode(r.defaultMode.dwWidth, r.defaultMode.dwHeight, r.defaultMode.ddpfPixelFormat.dwRGBBitCount);
        table += DeviceText(i, r.name, r.isHardware, r.deviceGuidValue, r.driverGuid, r.windowed, r.defaultModeIndex,
                            r.defaultMode.dwWidth ? &defaultMode : nullptr, Modes(r));
    }
    EXPECT_EQ(expected, table);
    if (g_desktopWidth != 0) {
        std::set<std::pair<DWORD, DWORD>> sizes;
        for (const Mode& m : Modes(GetDisplayDeviceTable()[0]))
            sizes.emplace(std::get<0>(m), std::get<1>(m));
        EXPECT_GT(sizes.size(), 4u) << "a virtual desktop offers many resolutions";
        EXPECT_EQ(g_desktopWidth, sizes.rbegin()->first);
        EXPECT_EQ(g_desktopHeight, sizes.rbegin()->second);
        EXPECT_FALSE(std::is_sorted(drivers[0].modes.begin(), drivers[0].modes.end())) << "so the order is ours";
    }
    FreeDisplayDeviceModes();

    char directory[MAX_PATH], output[MAX_PATH], path[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, directory));
    ASSERT_NE(0u, GetTempFileNameA(directory, "dsp", 0, output));
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, path, MAX_PATH));
    std::string tool = path;
    tool = tool.substr(0, tool.find_last_of('\\')) + "\\..\\..\\display-report.exe";
    const intptr_t exitCode = _spawnl(_P_WAIT, tool.c_str(), ("\"" + tool + "\"").c_str(),
                                      ("\"" + std::string(output) + "\"").c_str(), nullptr);
    std::ifstream file(output);  // text mode: the report has CRLF line ends
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    file.close();
    DeleteFileA(output);
    EXPECT_EQ(0, exitCode) << tool;
    EXPECT_EQ(expected, text);
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
