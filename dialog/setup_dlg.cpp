#include "dialog/setup_dlg.h"

#include "app/mode_choice.h"
#include "app/settings.h"
#include "app/settings_store.h"
#include "res/resource.h"

#include <cstdio>

namespace {

// Fixed list items, added in this order; an item's index is the stored value.
const char* const kSoundModes[] = {"No Sound", "Use 2D Sound", "Use 3D Sound"};
const char* const kSpeakers[] = {"2 SPEAKER", "HEADPHONE", "SURROUND", "4 SPEAKER"};
const char* const kFrequencies[] = {"22k", "11k", "8k"};
const char* const kSoundBits[] = {"16 Bit", "8 Bit"};
const char* const kChannels[] = {"48 Channel", "32 Channel", "16 Channel"};

template <size_t N>
void AddItems(CComboBox& list, const char* const (&items)[N])
{
    for (const char* item : items)
        list.AddString(item);
}

void InitTrackbar(CSliderCtrl& trackbar, int position)
{
    trackbar.SetRangeMin(0, TRUE);
    trackbar.SetRangeMax(2, TRUE);
    trackbar.SetPos(position);
}

}  // namespace

BEGIN_MESSAGE_MAP(CSetupDlg, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_CBN_SELCHANGE(IDC_DEVICE, &CSetupDlg::OnSelchangeDevice)
ON_CBN_SELCHANGE(IDC_RESOLUTION, &CSetupDlg::OnSelchangeResolution)
ON_CBN_SELCHANGE(IDC_SOUNDMODE, &CSetupDlg::OnSelchangeSoundMode)
ON_CBN_SELCHANGE(IDC_SPEAKER, &CSetupDlg::OnSelchangeSpeaker)
ON_BN_CLICKED(IDC_LIGHTMAP, &CSetupDlg::OnLightmap)
ON_BN_CLICKED(IDC_VOODOO, &CSetupDlg::OnVoodoo)
ON_CBN_SELCHANGE(IDC_SOUNDBITS, &CSetupDlg::OnSelchangeSoundBits)
ON_CBN_SELCHANGE(IDC_FREQUENCY, &CSetupDlg::OnSelchangeFrequency)
ON_BN_CLICKED(IDC_FULLSCREEN, &CSetupDlg::OnFullScreen)
ON_NOTIFY(NM_RELEASEDCAPTURE, IDC_SPRITE_DETAIL, &CSetupDlg::OnReleasedCaptureSprite)
ON_NOTIFY(NM_RELEASEDCAPTURE, IDC_TEXTURE_DETAIL, &CSetupDlg::OnReleasedCaptureTexture)
ON_CBN_SELCHANGE(IDC_CHANNELS, &CSetupDlg::OnSelchangeChannels)
ON_BN_CLICKED(IDC_FOG, &CSetupDlg::OnFog)
END_MESSAGE_MAP()

CSetupDlg::CSetupDlg(CWnd* parent)
    : CDialog(IDD_SETUP_DIALOG, parent)
{
    m_hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP_ICON));
}

CSetupDlg::~CSetupDlg() = default;

void CSetupDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_FOG, m_chkFog);
    DDX_Control(pDX, IDC_CHANNELS, m_cbChannels);
    DDX_Control(pDX, IDC_TEXTURE_DETAIL, m_sldTexture);
    DDX_Control(pDX, IDC_SPRITE_DETAIL, m_sldSprite);
    DDX_Control(pDX, IDC_FULLSCREEN, m_chkFullScreen);
    DDX_Control(pDX, IDC_VOODOO, m_chkVoodoo);
    DDX_Control(pDX, IDC_LIGHTMAP, m_chkLightmap);
    DDX_Control(pDX, IDC_SOUNDBITS, m_cbSoundBits);
    DDX_Control(pDX, IDC_FREQUENCY, m_cbFrequency);
    DDX_Control(pDX, IDC_SPEAKER, m_cbSpeaker);
    DDX_Control(pDX, IDC_SOUNDMODE, m_cbSoundMode);
    DDX_Control(pDX, IDC_RESOLUTION, m_cbResolution);
    DDX_Control(pDX, IDC_DEVICE, m_cbDevice);
}

ResolutionRows CSetupDlg::FillResolutionList(const DisplayDeviceRecord& device)
{
    // The list and the mode-choice rows come from one walk, so every item has its row.
    return WriteResolutionRows(device, [this](const DDSURFACEDESC2& mode) {
        char text[48];
        std::snprintf(text, sizeof(text), "%d x %d x %d", static_cast<int>(mode.dwWidth),
                      static_cast<int>(mode.dwHeight), static_cast<int>(kListedModeBitCount));
        m_cbResolution.AddString(text);
    });
}

BOOL CSetupDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    m_cbDevice.ResetContent();
    m_cbResolution.ResetContent();

    SetupSettings& s = g_setupSettings;
    for (int32_t position = 0; const DisplayDeviceRecord* device = HardwareDeviceAt(position); ++position) {
        if (position == s.deviceCnt)
            FillResolutionList(*device);
        m_cbDevice.AddString(device->name);
    }

    AddItems(m_cbSoundMode, kSoundModes);
    AddItems(m_cbSpeaker, kSpeakers);
    AddItems(m_cbFrequency, kFrequencies);
    AddItems(m_cbSoundBits, kSoundBits);
    AddItems(m_cbChannels, kChannels);

    m_cbSoundMode.SetCurSel(s.soundMode);
    m_cbSpeaker.SetCurSel(s.speakerType);
    m_cbDevice.SetCurSel(s.deviceCnt);
    m_cbResolution.SetCurSel(s.modeCnt);
    m_cbFrequency.SetCurSel(s.digitalRateType);
    m_cbSoundBits.SetCurSel(s.digitalBitsType);
    m_cbChannels.SetCurSel(s.numSampleType);

    m_chkVoodoo.SetCheck(s.isVoodoo);
    m_chkLightmap.SetCheck(s.isLightmap);
    m_chkFullScreen.SetCheck(s.isFullScreenMode);
    m_chkFog.SetCheck(s.fog);

    InitTrackbar(m_sldSprite, s.spriteMode);
    InitTrackbar(m_sldTexture, s.textureMode);
    return TRUE;
}

void CSetupDlg::OnSelchangeDevice()
{
    SetupSettings& s = g_setupSettings;
    s.deviceCnt = m_cbDevice.GetCurSel();
    m_cbResolution.ResetContent();
    ResolutionRows rows {0, -1};
    if (const DisplayDeviceRecord* device = HardwareDeviceAt(s.deviceCnt)) {
        s.TakeDeviceIdentity(*device);
        rows = FillResolutionList(*device);
    }
    // The row chosen before is kept when the new list has it. Otherwise the new device's
    // default mode (or its first mode) is chosen and stored at once, so that the list, the row
    // and the mode handed to the game always agree.
    if (rows.count > 0 && (s.modeCnt < 0 || s.modeCnt >= rows.count)) {
        m_cbResolution.SetCurSel(rows.defaultModeListRow >= 0 ? rows.defaultModeListRow : 0);
        OnSelchangeResolution();
        return;
    }
    m_cbResolution.SetCurSel(s.modeCnt);
}

void CSetupDlg::OnSelchangeResolution()
{
    SetupSettings& s = g_setupSettings;
    s.modeCnt = m_cbResolution.GetCurSel();
    // Without a selection the mode stays as it was: there is no row to read.
    if (!IsModeChoiceRow(s.modeCnt))
        return;
    const ModeChoice& row = ModeChoiceTable[s.modeCnt];
    s.bitPerPixel = row.bitPerPixel;
    s.width = row.width;
    s.height = row.height;
}

void CSetupDlg::OnSelchangeSoundMode()
{
    g_setupSettings.soundMode = m_cbSoundMode.GetCurSel();
}
void CSetupDlg::OnSelchangeSpeaker()
{
    g_setupSettings.speakerType = m_cbSpeaker.GetCurSel();
}
void CSetupDlg::OnSelchangeFrequency()
{
    g_setupSettings.digitalRateType = m_cbFrequency.GetCurSel();
}
void CSetupDlg::OnSelchangeSoundBits()
{
    g_setupSettings.digitalBitsType = m_cbSoundBits.GetCurSel();
}
void CSetupDlg::OnSelchangeChannels()
{
    g_setupSettings.numSampleType = m_cbChannels.GetCurSel();
}
void CSetupDlg::OnVoodoo()
{
    g_setupSettings.isVoodoo = m_chkVoodoo.GetCheck();
}
void CSetupDlg::OnLightmap()
{
    g_setupSettings.isLightmap = m_chkLightmap.GetCheck();
}
void CSetupDlg::OnFullScreen()
{
    g_setupSettings.isFullScreenMode = m_chkFullScreen.GetCheck();
}
void CSetupDlg::OnFog()
{
    g_setupSettings.fog = m_chkFog.GetCheck();
}

void CSetupDlg::OnReleasedCaptureSprite(NMHDR*, LRESULT* pResult)
{
    g_setupSettings.spriteMode = m_sldSprite.GetPos();
    *pResult = 0;
}

void CSetupDlg::OnReleasedCaptureTexture(NMHDR*, LRESULT* pResult)
{
    g_setupSettings.textureMode = m_sldTexture.GetPos();
    *pResult = 0;
}

void CSetupDlg::OnOK()
{
    OnSelchangeDevice();
    OnSelchangeResolution();
    // A trackbar moved with the keyboard reports no release: both are taken as they show.
    g_setupSettings.spriteMode = m_sldSprite.GetPos();
    g_setupSettings.textureMode = m_sldTexture.GetPos();
    SaveSettings();
    CDialog::OnOK();
}

void CSetupDlg::OnPaint()
{
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CSetupDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}
