// display-report.exe against the real ddraw.dll (Wine's, here): it must list
// what ddraw reports, walked here independently and put through the rules.
//
//   display-real-ddraw-test.exe [--desktop=WxH] [gtest flags]
//
// --desktop: the test runs in a virtual desktop of that size and checks its mode list too.
#include <windows.h>
#include <ddraw.h>
#include <d3d.h>

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
    std::vector<Mode> modes{};  // as reported
    std::vector<std::pair<std::string, D3DDEVICEDESC7>> devices{};
};

BOOL WINAPI CollectDriver(GUID* guid, LPSTR description, LPSTR, LPVOID context, HMONITOR)
{
    static_cast<std::vector<RawDriver>*>(context)->push_back({guid == nullptr, guid ? *guid : GUID{}, description});
    return DDENUMRET_OK;
}

HRESULT WINAPI CollectMode(LPDDSURFACEDESC2 m, LPVOID context)
{
    static_cast<RawDriver*>(context)->modes.emplace_back(m->dwWidth, m->dwHeight, m->ddpfPixelFormat.dwRGBBitCount);
    return DDENUMRET_OK;
}

HRESULT WINAPI CollectDevice(char*, char* name, D3DDEVICEDESC7* desc, void* context)
{
    static_cast<RawDriver*>(context)->devices.emplace_back(name, *desc);
    return D3DENUMRET_OK;
}

std::vector<RawDriver> WalkDdraw()
{
    std::vector<RawDriver> drivers;
    DirectDrawEnumerateExA(CollectDriver, &drivers, 7);
    for (RawDriver& driver : drivers) {
        IDirectDraw7* directDraw = nullptr;
        IDirect3D7* direct3D = nullptr;
        if (FAILED(DirectDrawCreateEx(driver.primary ? nullptr : &driver.guid, reinterpret_cast<void**>(&directDraw),
                                      IID_IDirectDraw7, nullptr)))
            continue;
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

template <class... Args>
std::string Format(const char* format, Args... args)
{
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string GuidText(const GUID& g)
{
    return Format("{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(g.Data1), g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

// The report display-report.exe must print for what ddraw reported;
// *secondaryRecords counts the records of secondary drivers.
std::string ExpectedReport(const std::vector<RawDriver>& drivers, int* secondaryRecords)
{
    std::string devices;
    unsigned reported = 0, accepted = 0;
    for (const RawDriver& driver : drivers) {
        for (const auto& [name, desc] : driver.devices) {
            ++reported;
            const unsigned long hardware = desc.dwDevCaps & D3DDEVCAPS_HWRASTERIZATION;
            const DWORD depths = desc.dwDeviceRenderBitDepth;
            std::vector<Mode> modes;
            for (const auto& [width, height, bits] : driver.modes)
                if ((bits == 16 && (depths & DDBD_16)) || (bits == 24 && (depths & DDBD_24)) ||
                    (bits == 32 && (depths & DDBD_32)))
                    modes.emplace_back(width, height, bits);
            if ((!driver.primary && !hardware) || modes.empty())
                continue;
            std::sort(modes.begin(), modes.end());
            const auto last640 = std::find(modes.rbegin(), modes.rend(), Mode(640, 480, 16));
            *secondaryRecords += !driver.primary;
            devices += Format("device %u: %s\n  hardware: %s (0x%08lX)\n  device guid: %s\n  driver guid: %s\n"
                              "  windowed: %s\n  default mode: %u (%s)\n  modes: %u\n",
                              accepted++, (driver.primary ? name : driver.description).substr(0, 38).c_str(),
                              hardware ? "yes" : "no", hardware, GuidText(desc.deviceGUID).c_str(),
                              driver.primary ? "none (primary display driver)" : GuidText(driver.guid).c_str(),
                              driver.primary && (driver.halCaps2 & DDCAPS2_CANRENDERWINDOWED) ? "yes" : "no",
                              static_cast<unsigned>(last640 == modes.rend() ? 0 : modes.rend() - last640 - 1),
                              last640 == modes.rend() ? "none" : "640 x 480 x 16", static_cast<unsigned>(modes.size()));
            for (const auto& [width, height, bits] : modes)
                devices += Format("    %lu x %lu x %lu\n", width, height, bits);
        }
    }
    return Format("Tavelkin Setup display report\nresult: %s\nreported devices: %u\naccepted devices: %u\n"
                  "out of memory: no\n",
                  accepted ? "0x00000000 (ok)" : reported ? "0x81000003 (none accepted)" : "0x81000002 (no device)",
                  reported, accepted) + devices;
}

TEST(RealDdrawTest, ReportHoldsWhatDdrawReports)
{
    const std::vector<RawDriver> drivers = WalkDdraw();
    ASSERT_GE(drivers.size(), 2u) << "a primary and a secondary driver";
    EXPECT_TRUE(drivers[0].primary) << drivers[0].description;
    int secondaryRecords = 0;
    const std::string expected = ExpectedReport(drivers, &secondaryRecords);
    EXPECT_GT(secondaryRecords, 0) << "no secondary driver's device to name";
    if (g_desktopWidth != 0) {  // a realistic mode list, which Wine gives unsorted
        std::set<std::pair<DWORD, DWORD>> sizes;
        for (const Mode& m : drivers[0].modes)
            sizes.emplace(std::get<0>(m), std::get<1>(m));
        EXPECT_GT(sizes.size(), 4u) << "a virtual desktop offers many resolutions";
        EXPECT_EQ(std::make_pair(g_desktopWidth, g_desktopHeight), *sizes.rbegin());
        EXPECT_FALSE(std::is_sorted(drivers[0].modes.begin(), drivers[0].modes.end())) << "so the order is ours";
    }

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
    for (int i = 1; i < argc; ++i)
        std::sscanf(argv[i], "--desktop=%lux%lu", &g_desktopWidth, &g_desktopHeight);
    return RUN_ALL_TESTS();
}
