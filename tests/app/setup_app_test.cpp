// The whole run of the application object, in order: devices, settings, the
// dialog, the exit step. Scripted drivers and the in-memory registry stand in
// for the machine; the dialog is the real one, closed as soon as it is shown.
#include "app/memory_registry.h"
#include "app/settings.h"
#include "app/settings_store.h"
#include "app/setup_app.h"
#include "display/display_device_table.h"
#include "memtrack/memtrack.h"
#include "res/resource.h"
#include "../display/scripted_machine.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Counts the exit step and sees the main-window reference as it is then.
class CountingSetupApp : public CSetupApp {
public:
    int exitCalls = 0;
    CWnd* mainWindowAtExit = reinterpret_cast<CWnd*>(0xdeadbeef);
    int ExitInstance() override
    {
        ++exitCalls;
        mainWindowAtExit = m_pMainWnd;
        return CSetupApp::ExitInstance();
    }
};

// Wraps the in-memory registry to look at the device table on the first call.
class ObservingRegistry final : public SettingsRegistry {
public:
    explicit ObservingRegistry(MemoryRegistry& inner) : m_inner(inner) {}
    int acceptedAtFirstCall = -1;

    LONG OpenKey(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result) override
    {
        Observe();
        return m_inner.OpenKey(root, subKey, options, access, result);
    }
    LONG CreateKey(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM access,
                   const SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition) override
    {
        Observe();
        return m_inner.CreateKey(root, subKey, reserved, keyClass, options, access, security, result, disposition);
    }
    LONG QueryValue(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) override
    {
        return m_inner.QueryValue(key, name, reserved, type, data, size);
    }
    LONG SetValue(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) override
    {
        return m_inner.SetValue(key, name, reserved, type, data, size);
    }
    LONG CloseKey(HKEY key) override { return m_inner.CloseKey(key); }

private:
    void Observe()
    {
        if (acceptedAtFirstCall < 0)
            acceptedAtFirstCall = static_cast<int>(GetAcceptedDeviceCount());
    }
    MemoryRegistry& m_inner;
};

// Runs `atShow` when a dialog of this thread has finished its initialisation,
// then cancels it the way the Escape key does.
std::function<void(HWND)> g_atShow;
int g_dialogsShown = 0;

LRESULT CALLBACK AfterWindowProc(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG) {
        ++g_dialogsShown;
        if (g_atShow)
            g_atShow(call->hwnd);
        PostMessageA(call->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

int ItemCount(HWND dialog, int id)
{
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0));
}

std::string ItemText(HWND dialog, int id, int index)
{
    char text[64] = {};
    SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

class SetupAppRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        FreeDisplayDeviceModes();
        ResetDisplayDeviceTable();
        std::memset(&g_setupSettings, 0, sizeof g_setupSettings);
        CWinApp::Disable3dControls();
        SetSettingsRegistry(&m_observer);
        g_dialogsShown = 0;
        g_atShow = nullptr;
        m_hook = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterWindowProc, nullptr, GetCurrentThreadId());
        ASSERT_NE(nullptr, m_hook);

        // A run of the tracker logs its failures in the current directory.
        char temp[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, m_savedDirectory);
        GetTempPathA(MAX_PATH, temp);
        m_directory = std::string(temp) + "setup-app-run";
        CreateDirectoryA(m_directory.c_str(), nullptr);
        DeleteFileA((m_directory + "\\memory.log").c_str());
        ASSERT_TRUE(SetCurrentDirectoryA(m_directory.c_str()));
    }

    void TearDown() override
    {
        SetCurrentDirectoryA(m_savedDirectory);
        UnhookWindowsHookEx(m_hook);
        g_atShow = nullptr;
        SetSettingsRegistry(nullptr);
        SetDirectDrawEntry(nullptr);
        ResetDisplayDeviceTable();
    }

    // The whole run as the program's entry drives it.
    int Run(ScriptedMachine& machine)
    {
        SetDirectDrawEntry(&machine);
        const int status = RunApplication(GetModuleHandleA(nullptr));
        SetDirectDrawEntry(nullptr);
        return status;
    }

    bool MemoryLogWritten() const
    {
        return GetFileAttributesA((m_directory + "\\memory.log").c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    MemoryRegistry m_registry;
    ObservingRegistry m_observer{m_registry};
    HHOOK m_hook = nullptr;
    char m_savedDirectory[MAX_PATH] = {};
    std::string m_directory;
};

ScriptedMachine OneCardMachine()
{
    ScriptedDriver primary = PrimaryDriver("Primary Display");
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 16), MakeMode(320, 240, 16),
                     MakeMode(1024, 768, 32)};
    primary.devices = {MakeDevice("Software Rasterizer", 0, DDBD_16, 1),
                       MakeDevice("Card HAL", D3DDEVCAPS_HWRASTERIZATION, DDBD_16 | DDBD_32, 2)};
    return ScriptedMachine({primary});
}

TEST_F(SetupAppRun, DevicesThenSettingsThenTheDialogThenTheExitStep)
{
    ScriptedMachine machine = OneCardMachine();
    CountingSetupApp app;
    std::vector<void*> modeBlocks;
    std::string shownName = "(not shown)";
    int deviceItems = -1, resolutionItems = -1, registryValues = -1;
    g_atShow = [&](HWND dialog) {
        // By now the table is filled and the settings are loaded (a first run: written).
        for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i)
            modeBlocks.push_back(GetDisplayDeviceTable()[i].modes);
        shownName = g_setupSettings.deviceName;
        registryValues = static_cast<int>(m_registry.ValueNames(HKEY_CURRENT_USER, SETTINGS_KEY_PATH).size());
        deviceItems = ItemCount(dialog, IDC_DEVICE);
        resolutionItems = ItemCount(dialog, IDC_RESOLUTION);
    };

    EXPECT_EQ(0, Run(machine));

    EXPECT_EQ(1, machine.enumerateCalls());
    EXPECT_EQ(2, m_observer.acceptedAtFirstCall) << "the settings were read before the devices were found";
    EXPECT_EQ(1, g_dialogsShown);
    EXPECT_EQ("Card HAL", shownName);
    EXPECT_EQ(16, registryValues);
    EXPECT_EQ(1, deviceItems);
    EXPECT_EQ(2, resolutionItems);
    EXPECT_TRUE(CWinApp::Is3dLookEnabled());

    // The exit step ran once, after the hook had cleared the main window, and
    // released each record's storage once: a second release would be logged.
    EXPECT_EQ(1, app.exitCalls);
    EXPECT_EQ(nullptr, app.mainWindowAtExit);
    EXPECT_EQ(2u, modeBlocks.size());
    EXPECT_FALSE(MemoryLogWritten());
    EXPECT_TRUE(machine.AllReleased());
}

TEST_F(SetupAppRun, ModeStorageIsTrackedUntilTheExitStep)
{
    ScriptedMachine machine = OneCardMachine();
    CountingSetupApp app;
    std::vector<void*> blocks;
    std::vector<uint32_t> blockSizes;
    g_atShow = [&](HWND) {
        for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i) {
            blocks.push_back(GetDisplayDeviceTable()[i].modes);
            const AllocationUnit* unit = FindAllocationUnit(blocks.back());
            blockSizes.push_back(unit ? unit->reportedSize : 0);
        }
    };
    EXPECT_EQ(0, Run(machine));

    // Each record's storage was a tracked block with room for every mode its
    // driver reported, and the exit step gave it back.
    const uint32_t room = 4 * sizeof(DDSURFACEDESC2);
    EXPECT_EQ((std::vector<uint32_t>{room, room}), blockSizes);
    for (void* block : blocks)
        EXPECT_EQ(nullptr, FindAllocationUnit(block));
}

TEST_F(SetupAppRun, AnEmptyMachineStillLoadsShowsAndExits)
{
    ScriptedMachine machine({});
    CountingSetupApp app;
    int deviceItems = -1, resolutionItems = -1;
    g_atShow = [&](HWND dialog) {
        deviceItems = ItemCount(dialog, IDC_DEVICE);
        resolutionItems = ItemCount(dialog, IDC_RESOLUTION);
    };
    EXPECT_EQ(0, Run(machine));

    EXPECT_EQ(1, g_dialogsShown);
    EXPECT_EQ(0, deviceItems);
    EXPECT_EQ(0, resolutionItems);
    EXPECT_EQ(0u, GetReportedDeviceCount());
    // Defaults without device data, written as a first run.
    EXPECT_STREQ("", g_setupSettings.deviceName);
    EXPECT_EQ(640, g_setupSettings.width);
    EXPECT_EQ(16u, m_registry.ValueNames(HKEY_CURRENT_USER, SETTINGS_KEY_PATH).size());
    // The exit step had nothing to give back, and gave back nothing.
    EXPECT_EQ(1, app.exitCalls);
    EXPECT_EQ(nullptr, GetDisplayDeviceTable()[0].modes);
    EXPECT_FALSE(MemoryLogWritten());
}

TEST_F(SetupAppRun, ALaterRunThatIsCancelledWritesNothing)
{
    m_registry.AddKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH);
    const int32_t stored = 1;
    m_registry.PutValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, "DEVICECNT", REG_DWORD,
                        std::vector<BYTE>(reinterpret_cast<const BYTE*>(&stored),
                                          reinterpret_cast<const BYTE*>(&stored) + 4));
    ScriptedMachine machine = OneCardMachine();
    CountingSetupApp app;
    int deviceSelection = 0xdead;
    g_atShow = [&](HWND dialog) {
        deviceSelection = static_cast<int>(SendDlgItemMessageA(dialog, IDC_DEVICE, CB_GETCURSEL, 0, 0));
    };

    EXPECT_EQ(0, Run(machine));

    // The stored row reached the dialog unchecked: there is no second hardware device.
    EXPECT_EQ(1, g_setupSettings.deviceCnt);
    EXPECT_EQ(CB_ERR, deviceSelection);
    EXPECT_EQ(0u, m_registry.CallCount(RegistryOp::Set));
    EXPECT_EQ(0u, m_registry.CallCount(RegistryOp::Create));
    EXPECT_EQ((std::vector<std::string>{"DEVICECNT"}),
              m_registry.ValueNames(HKEY_CURRENT_USER, SETTINGS_KEY_PATH));
}

TEST_F(SetupAppRun, OkFromTheRunSavesAllTwentyValues)
{
    ScriptedMachine machine = OneCardMachine();
    CountingSetupApp app;
    std::string secondItem;
    g_atShow = [&](HWND dialog) {
        secondItem = ItemText(dialog, IDC_RESOLUTION, 1);
        // Enter on the default button, before the hook's cancel arrives.
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    };
    EXPECT_EQ(0, Run(machine));

    EXPECT_EQ("800 x 600 x 16", secondItem);
    EXPECT_EQ(20u, m_registry.ValueNames(HKEY_CURRENT_USER, SETTINGS_KEY_PATH).size());
    const StoredValue* name = m_registry.FindValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, "DEVICENAME");
    ASSERT_NE(nullptr, name);
    ASSERT_EQ(40u, name->data.size());
    EXPECT_EQ(0, std::memcmp(name->data.data(), "Card HAL\0", 9));
}

}  // namespace
