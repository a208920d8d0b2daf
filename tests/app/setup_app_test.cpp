// The whole run of the application object: scripted drivers and the in-memory registry stand in
// for the machine; the dialog is the real one, closed as soon as it is shown.
#include "app/memory_registry.h"
#include "app/settings_store.h"
#include "app/setup_app.h"
#include "memtrack/memtrack.h"
#include "res/resource.h"
#include "../display/scripted_machine.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class CountingSetupApp : public CSetupApp {
public:
    int exitCalls = 0;
    int ExitInstance() override
    {
        ++exitCalls;
        return CSetupApp::ExitInstance();
    }
};

// Runs g_atShow when a dialog of this thread is initialised, then cancels it as Escape does.
std::function<void(HWND)> g_atShow;

LRESULT CALLBACK AfterWindowProc(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG) {
        g_atShow(call->hwnd);
        PostMessageA(call->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct RunCase {
    const char* what;
    bool card;   // one card with a software and a hardware device, or no device at all
    bool later;  // DEVICECNT 1 is stored before the run
    bool ok;     // Ok instead of Cancel
    size_t valuesAtShow, valuesAtEnd;
    unsigned sets;
    std::string deviceName; // DEVICENAME as stored at the end
};

const std::string kCardName = std::string("Card HAL").append(32, '\0');
const RunCase kRuns[] = {
    {"first run, Cancel", true, false, false, 16, 16, 16, kCardName},
    {"no device, Cancel", false, false, false, 16, 16, 16, std::string(40, '\0')},
    {"later run, Cancel", true, true, false, 1, 1, 0, "(none)"},
    {"first run, Ok", true, false, true, 16, 20, 36, kCardName},
};

} // namespace

TEST(SetupAppRun, DevicesThenSettingsThenTheDialogThenTheExitStep)
{
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterWindowProc, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    for (const RunCase& c : kRuns) {
        ResetDisplayDeviceTable();
        g_setupSettings = SetupSettings{};
        CWinApp::Disable3dControls();
        DeleteFileA("memory.log"); // the tracker logs its failures in the current directory
        MemoryRegistry registry;
        if (c.later)
            registry.PutValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, "DEVICECNT", REG_DWORD, {1, 0, 0, 0});
        auto storedValues = [&] { return registry.ValueNames(HKEY_CURRENT_USER, SETTINGS_KEY_PATH).size(); };
        std::vector<ScriptedDriver> drivers;
        if (c.card) {
            drivers.push_back(PrimaryDriver("Primary Display"));
            drivers[0].modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 16), MakeMode(320, 240, 16),
                                MakeMode(1024, 768, 32)};
            drivers[0].devices = {MakeDevice("Software Rasterizer", 0, DDBD_16, 1),
                                  MakeDevice("Card HAL", D3DDEVCAPS_HWRASTERIZATION, DDBD_16 | DDBD_32, 2)};
        }
        ScriptedMachine machine(drivers);
        CountingSetupApp app;
        std::vector<void*> modeBlocks;
        int shown = 0, deviceItems = -1;
        bool mainIsDialog = false;
        size_t valuesAtShow = 0;
        g_atShow = [&](HWND dialog) {
            ++shown;
            mainIsDialog = app.m_pMainWnd && app.m_pMainWnd->GetSafeHwnd() == dialog;
            for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i)
                modeBlocks.push_back(GetDisplayDeviceTable()[i].modes);
            valuesAtShow = storedValues();
            deviceItems = int(SendDlgItemMessageA(dialog, IDC_DEVICE, CB_GETCOUNT, 0, 0));
            if (c.ok) // Enter on the default button, before the hook's cancel arrives
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
        };
        SetSettingsRegistry(&registry);
        SetDirectDrawEntry(&machine);
        EXPECT_EQ(0, RunApplication(GetModuleHandleA(nullptr))) << c.what;
        SetDirectDrawEntry(nullptr);
        SetSettingsRegistry(nullptr);

        // The devices were found before the settings were defaulted from them and stored.
        EXPECT_EQ(1, machine.enumerateCalls()) << c.what;
        EXPECT_TRUE(CWinApp::Is3dLookEnabled()) << c.what;
        EXPECT_EQ(1, shown) << c.what;
        EXPECT_TRUE(mainIsDialog) << c.what << ": the dialog is the main window while it runs";
        EXPECT_EQ(c.card ? 1 : 0, deviceItems) << c.what;
        EXPECT_EQ(c.valuesAtShow, valuesAtShow) << c.what;
        EXPECT_EQ(c.valuesAtEnd, storedValues()) << c.what;
        EXPECT_EQ(c.sets, registry.CallCount(RegistryOp::Set)) << c.what;
        const StoredValue* name = registry.FindValue(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, "DEVICENAME");
        EXPECT_EQ(c.deviceName, name ? std::string(name->data.begin(), name->data.end()) : "(none)") << c.what;
        EXPECT_EQ(c.later ? 1 : 0, g_setupSettings.deviceCnt) << c.what << ": stored row taken unchecked";
        // The exit step ran once and gave back each record's tracked storage once (a second
        // release would be logged).
        EXPECT_EQ(1, app.exitCalls) << c.what;
        EXPECT_EQ(c.card ? 2u : 0u, modeBlocks.size()) << c.what;
        for (void* block : modeBlocks)
            EXPECT_EQ(nullptr, FindAllocationUnit(block)) << c.what;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("memory.log")) << c.what << ": memory.log written";
    }
    UnhookWindowsHookEx(hook);
    g_atShow = nullptr;
    ResetDisplayDeviceTable();
}
