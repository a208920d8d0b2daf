#include "app/settings.h"

#include "app/mode_choice.h"
#include "display/display_device_table.h"

#include <cstring>

SetupSettings g_setupSettings;

// Constant-initialised, so the rows are in place before any code of the program runs.
#define TAVELKIN_MODE_640x480x16                                                                                       \
    {                                                                                                                  \
        640, 480, 16                                                                                                   \
    }
#define TAVELKIN_MODE_ROWS_8                                                                                           \
    TAVELKIN_MODE_640x480x16, TAVELKIN_MODE_640x480x16, TAVELKIN_MODE_640x480x16, TAVELKIN_MODE_640x480x16,            \
        TAVELKIN_MODE_640x480x16, TAVELKIN_MODE_640x480x16, TAVELKIN_MODE_640x480x16, TAVELKIN_MODE_640x480x16
static_assert(kModeChoiceRows == 40, "five groups of eight rows");
ModeChoice ModeChoiceTable[kModeChoiceRows]
    = {TAVELKIN_MODE_ROWS_8, TAVELKIN_MODE_ROWS_8, TAVELKIN_MODE_ROWS_8, TAVELKIN_MODE_ROWS_8, TAVELKIN_MODE_ROWS_8};
#undef TAVELKIN_MODE_ROWS_8
#undef TAVELKIN_MODE_640x480x16

namespace {

const char kDefaultProviderName[] = "No Provider";

// Copies a device name up to and including its terminator; the bytes after it keep their
// contents. A name that fills its field without a terminator is cut to leave room for one.
void CopyDeviceName(char (&target)[kSettingsDeviceNameSize], const char (&source)[kDisplayDeviceNameSize])
{
    static_assert(kSettingsDeviceNameSize == kDisplayDeviceNameSize, "names have one width");
    for (unsigned i = 0; i + 1 < kSettingsDeviceNameSize; ++i) {
        target[i] = source[i];
        if (source[i] == '\0')
            return;
    }
    target[kSettingsDeviceNameSize - 1] = '\0';
}

}  // namespace

void SetupSettings::TakeDeviceIdentity(const DisplayDeviceRecord& device)
{
    CopyDeviceName(deviceName, device.name);
    std::memcpy(&guidDevice, &device.deviceGuidValue, sizeof guidDevice);
    std::memcpy(&guidDriver, &device.driverGuidValue, sizeof guidDriver);
}

void SetupSettings::SetDefaults()
{
    isFullScreenMode = 0;
    isVoodoo = 0;
    digitalRateType = 0;
    digitalBitsType = 0;
    isLightmap = 1;
    spriteMode = 2;
    textureMode = 2;
    fog = 1;
    numSampleType = 2;
    width = 640;
    height = 480;
    bitPerPixel = 16;

    ModeChoiceTable[0] = ModeChoice {640, 480, 16};

    // The first hardware device supplies the device choice; every record after it is ignored.
    if (const DisplayDeviceRecord* device = HardwareDeviceAt(0)) {
        TakeDeviceIdentity(*device);
        deviceCnt = 0;
        const ResolutionRows rows = WriteResolutionRows(*device, [](const DDSURFACEDESC2&) {});
        if (rows.defaultRow >= 0)
            modeCnt = rows.defaultRow;
    }

    std::memset(providerName, 0, sizeof providerName);
    std::memcpy(providerName, kDefaultProviderName, sizeof kDefaultProviderName);

    soundMode = 1;
    speakerType = 0;
}
