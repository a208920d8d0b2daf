// The whole run of the application object: scripted drivers and the in-memory registry stand in
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

// Runs g_atShow when a dialog of this thread is initialised, then cancels it as Escape does.
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

class SetupAppRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetDisplayDeviceTable();
        std::memset(&g_setupSettings, 0, sizeof g_setupSettings);
        CWinApp::Disable3dControls();
        SetSettingsRegistry(&m_registry);
        g_dialogsShown = 0;
        m_hook = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterWindowProc, nullptr, GetCurrentThreadId());
        ASSERT_NE(nullptr, m_hook);
        // The tracker logs its failures in the current directory.
        char temp[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, m_savedDirectory);
        GetTempPathA(MAX_PATH, temp);
        m_log = std::string(temp) + "setup-app-run";
        CreateDirectoryA(m_log.c_str(), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryA(m_log.c_str()));
        m_log += "\\memory.log";
        DeleteFileA(m_log.c_str());
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(m_savedDirectory);
        UnhookWindowsHookEx(m_hook);
        g_atShow = nullptr;
        SetSettingsRegistry(nullptr);
        ResetDisplayDeviceTable();
    }

    // The whole run as the program's entry drives it; the exit step runs once.
    void Run(ScriptedMachine& machine)
    {
        SetDirectDrawEntry(&machine);
        EXPECT_EQ(0, RunApplication(GetModuleHandleA(nullptr)));
        SetDirectDrawEntry(nullptr);
        EXPECT_EQ(1, g_dialogsShown);
        EXPECT_EQ(1, m_app.exitCalls);
        EXPECT_EQ(nullptr, m_app.mainWindowAtExit);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(m_log.c_str())) << "memory.log written";
    }
    size_t StoredValues() const { return m_registry.ValueNames(HKEY_CURRENT_USER, SETTINGS_KEY_PATH).size(); }
    std::string StoredDeviceName() const
    {
        const StoredValue* value = m_registry.FindValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, "DEVICENAME");
        return value ? std::string(value->data.begin(), value->data.end()) : "(none)";
    }

    CountingSetupApp m_app;
    MemoryRegistry m_registry;
    HHOOK m_hook = nullptr;
    char m_savedDirectory[MAX_PATH] = {};
    std::string m_log;
};

ScriptedMachine OneCardMachine()
{
    ScriptedDriver primary = PrimaryDriver("Primary Display");
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 16), MakeMode(320, 240, 16), MakeMode(1024, 768, 32)};
    primary.devices = {MakeDevice("Software Rasterizer", 0, DDBD_16, 1),
                       MakeDevice("Card HAL", D3DDEVCAPS_HWRASTERIZATION, DDBD_16 | DDBD_32, 2)};
    return ScriptedMachine({primary});
}

} // namespace

TEST_F(SetupAppRun, DevicesThenSettingsThenTheDialogThenTheExitStep)
{
    ScriptedMachine machine = OneCardMachine();
    std::vector<void*> modeBlocks;
    size_t valuesAtShow = 0;
    int deviceItems = -1, resolutionItems = -1;
    g_atShow = [&](HWND dialog) {
        for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i)
            modeBlocks.push_back(GetDisplayDeviceTable()[i].modes);
        valuesAtShow = StoredValues();
        deviceItems = ItemCount(dialog, IDC_DEVICE);
        resolutionItems = ItemCount(dialog, IDC_RESOLUTION);
    };
    Run(machine);

    // The first run wrote the defaults of the device found before it.
    EXPECT_EQ(1, machine.enumerateCalls());
    EXPECT_EQ(std::string("Card HAL").append(32, '\0'), StoredDeviceName());
    EXPECT_EQ(16u, valuesAtShow);
    EXPECT_EQ(1, deviceItems);
    EXPECT_EQ(2, resolutionItems);
    EXPECT_TRUE(CWinApp::Is3dLookEnabled());
    // The exit step gave back each record's tracked storage (a second release would be logged).
    ASSERT_EQ(2u, modeBlocks.size());
    for (void* block : modeBlocks)
        EXPECT_EQ(nullptr, FindAllocationUnit(block));
    EXPECT_TRUE(machine.AllReleased());
}

TEST_F(SetupAppRun, AnEmptyMachineStillLoadsShowsAndExits)
{
    ScriptedMachine machine({});
    int deviceItems = -1, resolutionItems = -1;
    g_atShow = [&](HWND dialog) {
        deviceItems = ItemCount(dialog, IDC_DEVICE);
        resolutionItems = ItemCount(dialog, IDC_RESOLUTION);
    };
    Run(machine);

    EXPECT_EQ(0, deviceItems);
    EXPECT_EQ(0, resolutionItems);
    EXPECT_EQ(std::string(40, '\0'), StoredDeviceName());
    EXPECT_EQ(16u, StoredValues());
}

TEST_F(SetupAppRun, ALaterRunThatIsCancelledWritesNothing)
{
    m_registry.PutValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, "DEVICECNT", REG_DWORD, {1, 0, 0, 0});
    ScriptedMachine machine = OneCardMachine();
    Run(machine);

    EXPECT_EQ(1, g_setupSettings.deviceCnt);
    EXPECT_EQ(0u, m_registry.CallCount(RegistryOp::Set));
    EXPECT_EQ(0u, m_registry.CallCount(RegistryOp::Create));
    EXPECT_EQ(1u, StoredValues());
}

TEST_F(SetupAppRun, OkFromTheRunSavesAllTwentyValues)
{
    ScriptedMachine machine = OneCardMachine();
    // Enter on the default button, before the hook's cancel arrives.
    g_atShow = [&](HWND dialog) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0); };
    Run(machine);

    EXPECT_EQ(20u, StoredValues());
    EXPECT_EQ(std::string("Card HAL").append(32, '\0'), StoredDeviceName());
}
