// The setup dialog: lists the hardware devices and their resolutions, shows the
// stored sound, graphics and detail settings, writes every change into the
// settings record at once and saves them all on Ok.
#pragma once

#include "app/mode_choice.h"
#include "display/display_device_table.h"
#include "framework/framework.h"

class CSetupDlg : public CDialog {
public:
    explicit CSetupDlg(CWnd* parent = nullptr);
    ~CSetupDlg() override;

    // Bound in this order by the data exchange; destroyed in reverse.
    CButton m_chkFog;
    CComboBox m_cbChannels;
    CSliderCtrl m_sldTexture;
    CSliderCtrl m_sldSprite;
    CButton m_chkFullScreen;
    CButton m_chkVoodoo;
    CButton m_chkLightmap;
    CComboBox m_cbSoundBits;
    CComboBox m_cbFrequency;
    CComboBox m_cbSpeaker;
    CComboBox m_cbSoundMode;
    CComboBox m_cbResolution;
    CComboBox m_cbDevice;
    HICON m_hIcon;

protected:
    DECLARE_MESSAGE_MAP()
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnSelchangeDevice();
    void OnSelchangeResolution();
    void OnSelchangeSoundMode();
    void OnSelchangeSpeaker();
    void OnLightmap();
    void OnVoodoo();
    void OnSelchangeSoundBits();
    void OnSelchangeFrequency();
    void OnFullScreen();
    void OnReleasedCaptureSprite(NMHDR* pNMHDR, LRESULT* pResult);
    void OnReleasedCaptureTexture(NMHDR* pNMHDR, LRESULT* pResult);
    void OnSelchangeChannels();
    void OnFog();

private:
    // Adds the device's listed modes to the (empty) resolution list and writes
    // their rows of the mode-choice table.
    ResolutionRows FillResolutionList(const DisplayDeviceRecord& device);
};
