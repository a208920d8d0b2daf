// The application object's whole run: scripted drivers, the test prefix's registry, the real dialog
// from the program's resources, closed with Escape once it shows.
#include "app/settings.h"
#include "app/setup_app.h"
#include "tracked.h"
#include "res/resource.h"
#include "support.h"

#include <filesystem>

// The devices are found, then the settings defaulted from them and stored, then the dialog runs as
// the main window; the exit step runs once and gives each record's mode storage back once.
TEST(SetupAppRun, DevicesThenSettingsThenTheDialogThenTheExitStep)
{
    struct CountingSetupApp : CSetupApp {
        int exits = 0;
        int ExitInstance() override { return ++exits, CSetupApp::ExitInstance(); }
    };
    DriverScript primary{"Primary Display"};
    primary.modes = {MakeMode(800, 600, 16), MakeMode(640, 480, 16), MakeMode(1024, 768, 32)};
    primary.devices = {MakeDevice("Software Rasterizer", 0, DDBD_16, 1), MakeDevice("Card HAL", D3DDEVCAPS_HWRASTERIZATION, DDBD_16 | DDBD_32, 2)};
    for (bool card : {true, false}) {
        std::filesystem::remove("memory.log");
        DeleteSettingsKey();
        g_setupSettings = SetupSettings{};
        ScriptedMachine machine(card ? std::vector<DriverScript>{primary} : std::vector<DriverScript>{});
        CountingSetupApp app;
        std::vector<void*> modeBlocks;
        StoredKey atShow;
        LRESULT items = -1;
        bool mainIsDialog = false;
        SetDirectDrawEntry(&machine);
        EXPECT_EQ(0, RunDialog([] { return INT_PTR(RunApplication(GetModuleHandleA(nullptr))); }, [&](HWND dialog) {
            mainIsDialog = app.m_pMainWnd && app.m_pMainWnd->m_hWnd == dialog;
            for (uint32_t i = 0; i < GetAcceptedDeviceCount(); ++i)
                modeBlocks.push_back(GetDisplayDeviceTable()[i].modes);
            atShow = ReadSettingsKey();
            items = SendDlgItemMessageA(dialog, IDC_DEVICE, CB_GETCOUNT, 0, 0);
            EndWith(VK_ESCAPE);
        }));
        SetDirectDrawEntry(nullptr);
        EXPECT_EQ((std::vector<int>{1, 1, 1, 0, card, 16, 1, card ? 2 : 0}),
                  (std::vector<int>{machine.enumerateCalls, CWinApp::Is3dLookEnabled(), mainIsDialog, app.m_pMainWnd != nullptr, int(items),
                                    int(atShow.size()), app.exits, int(modeBlocks.size())}));
        EXPECT_EQ(Value(REG_SZ, std::string(card ? "Card HAL" : "").append(40, '\0').data(), 40), atShow["DEVICENAME"]);
        EXPECT_EQ(atShow, ReadSettingsKey()) << "Escape stores nothing";
        for (void* block : modeBlocks)
            EXPECT_EQ(nullptr, FindAllocationUnit(block));
        EXPECT_FALSE(std::filesystem::exists("memory.log")) << "a block was given back twice";
        ResetDisplayDeviceTable();
    }
    DeleteSettingsKey();
}
