#include "app/settings.h"

#include "app/mode_choice.h"
#include "display/display_device_table.h"

#include <cstring>

SetupSettings g_setupSettings;

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
    spriteMode = kDefaultSpriteMode;
    textureMode = kDefaultTextureMode;
    fog = kDefaultFog;
    numSampleType = kDefaultNumSampleType;
    width = kDefaultModeChoice.width;
    height = kDefaultModeChoice.height;
    bitPerPixel = kDefaultModeChoice.bitPerPixel;

    ModeChoiceTable[0] = kDefaultModeChoice;

    // The first hardware device supplies the device choice; every record after it is ignored.
    if (const DisplayDeviceRecord* device = HardwareDeviceAt(0)) {
        TakeDeviceIdentity(*device);
        deviceCnt = 0;
        const ResolutionRows rows = WriteResolutionRows(*device, [](const DDSURFACEDESC2&) {});
        if (rows.defaultModeListRow >= 0)
            modeCnt = rows.defaultModeListRow;
    }

    std::memset(providerName, 0, sizeof providerName);
    std::memcpy(providerName, kDefaultProviderName, sizeof kDefaultProviderName);

    soundMode = 1;
    speakerType = 0;
}
