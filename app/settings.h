// The process-wide settings record, its defaults and the mode-choice table.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

struct DisplayDeviceRecord;

constexpr unsigned kSettingsDeviceNameSize = 40;
constexpr unsigned kSettingsProviderNameSize = 1024;

// The defaults of the four values that a first run does not store; a later run whose read of
// one of them fails sets it to its default again.
constexpr int32_t kDefaultSpriteMode = 2;
constexpr int32_t kDefaultTextureMode = 2;
constexpr int32_t kDefaultNumSampleType = 2;
constexpr int32_t kDefaultFog = 1;

// Every choice of the utility. The layout is fixed: the widths of the texts and GUIDs are the
// registry format, and the game reads the same values. No pointers, so the size is the same on
// 32-bit and 64-bit Windows.
struct SetupSettings {
    GUID guidDevice;                           // Direct3D device GUID of the chosen device
    GUID guidDriver;                           // DirectDraw driver GUID; zero for the primary driver
    char deviceName[kSettingsDeviceNameSize];  // zero-terminated
    int32_t isFullScreenMode;                  // 0 windowed, 1 full screen
    int32_t width;
    int32_t height;
    int32_t bitPerPixel;
    int32_t deviceCnt;  // row of the device list (hardware devices only)
    int32_t modeCnt;    // row of the resolution list
    int32_t isVoodoo;
    int32_t isLightmap;
    int32_t spriteMode;     // trackbar 0..2
    int32_t textureMode;    // trackbar 0..2
    int32_t numSampleType;  // 0 "48 Channel", 1 "32 Channel", 2 "16 Channel"
    int32_t fog;
    int32_t soundMode;  // 0 none, 1 2D, 2 3D
    int32_t speakerType;
    int32_t digitalRateType;
    int32_t digitalBitsType;
    char providerName[kSettingsProviderNameSize];  // zero-terminated; held and written back unchanged

    // Fills the record with the defaults and the first hardware device of the display device
    // table, and writes that device's resolution rows into ModeChoiceTable.
    void SetDefaults();

    // Takes the device's name (up to and including its terminator; the bytes after it keep
    // their contents) and its two GUIDs, as the defaults and the dialog's device choice do.
    void TakeDeviceIdentity(const DisplayDeviceRecord& device);
};

static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");
static_assert(offsetof(SetupSettings, guidDevice) == 0, "layout");
static_assert(offsetof(SetupSettings, guidDriver) == 16, "layout");
static_assert(offsetof(SetupSettings, deviceName) == 32, "layout");
static_assert(offsetof(SetupSettings, isFullScreenMode) == 72, "layout");
static_assert(offsetof(SetupSettings, width) == 76, "layout");
static_assert(offsetof(SetupSettings, height) == 80, "layout");
static_assert(offsetof(SetupSettings, bitPerPixel) == 84, "layout");
static_assert(offsetof(SetupSettings, deviceCnt) == 88, "layout");
static_assert(offsetof(SetupSettings, modeCnt) == 92, "layout");
static_assert(offsetof(SetupSettings, isVoodoo) == 96, "layout");
static_assert(offsetof(SetupSettings, isLightmap) == 100, "layout");
static_assert(offsetof(SetupSettings, spriteMode) == 104, "layout");
static_assert(offsetof(SetupSettings, textureMode) == 108, "layout");
static_assert(offsetof(SetupSettings, numSampleType) == 112, "layout");
static_assert(offsetof(SetupSettings, fog) == 116, "layout");
static_assert(offsetof(SetupSettings, soundMode) == 120, "layout");
static_assert(offsetof(SetupSettings, speakerType) == 124, "layout");
static_assert(offsetof(SetupSettings, digitalRateType) == 128, "layout");
static_assert(offsetof(SetupSettings, digitalBitsType) == 132, "layout");
static_assert(offsetof(SetupSettings, providerName) == 136, "layout");
static_assert(sizeof(SetupSettings) == 1160, "SetupSettings is 1160 bytes on every architecture");

// The one settings record; zero at process start.
extern SetupSettings g_setupSettings;
