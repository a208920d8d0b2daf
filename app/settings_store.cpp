#include "app/settings_store.h"

#include "app/registry.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// One registry value: its name, type, and the field it holds (data size = field width).
struct SettingsValue {
    const char* name;
    DWORD type;
    size_t offset;
    DWORD size;
};

#define TAVELKIN_FIELD(field) offsetof(SetupSettings, field), sizeof(SetupSettings::field)
constexpr SettingsValue kIsFullScreenMode{"ISFULLSCREENMODE", REG_DWORD, TAVELKIN_FIELD(isFullScreenMode)};
constexpr SettingsValue kWidth{"WIDTH", REG_DWORD, TAVELKIN_FIELD(width)};
constexpr SettingsValue kHeight{"HEIGHT", REG_DWORD, TAVELKIN_FIELD(height)};
constexpr SettingsValue kBitPerPixel{"BITPERPIXEL", REG_DWORD, TAVELKIN_FIELD(bitPerPixel)};
constexpr SettingsValue kDeviceCnt{"DEVICECNT", REG_DWORD, TAVELKIN_FIELD(deviceCnt)};
constexpr SettingsValue kModeCnt{"MODECNT", REG_DWORD, TAVELKIN_FIELD(modeCnt)};
constexpr SettingsValue kIsVoodoo{"ISVOODOO", REG_DWORD, TAVELKIN_FIELD(isVoodoo)};
constexpr SettingsValue kIsLightmap{"ISLIGHTMAP", REG_DWORD, TAVELKIN_FIELD(isLightmap)};
constexpr SettingsValue kSpriteMode{"SPRITEMODE", REG_DWORD, TAVELKIN_FIELD(spriteMode)};
constexpr SettingsValue kTextureMode{"TEXTUREMODE", REG_DWORD, TAVELKIN_FIELD(textureMode)};
constexpr SettingsValue kNumSampleType{"NUMSAMPLETYPE", REG_DWORD, TAVELKIN_FIELD(numSampleType)};
constexpr SettingsValue kFog{"FOG", REG_DWORD, TAVELKIN_FIELD(fog)};
constexpr SettingsValue kDeviceName{"DEVICENAME", REG_SZ, TAVELKIN_FIELD(deviceName)};
constexpr SettingsValue kGuidDevice{"GUIDDEVICE", REG_BINARY, TAVELKIN_FIELD(guidDevice)};
constexpr SettingsValue kGuidDriver{"GUIDDRIVER", REG_BINARY, TAVELKIN_FIELD(guidDriver)};
constexpr SettingsValue kSoundMode{"SOUNDMODE", REG_DWORD, TAVELKIN_FIELD(soundMode)};
constexpr SettingsValue kSpeakerType{"SPEAKERTYPE", REG_DWORD, TAVELKIN_FIELD(speakerType)};
constexpr SettingsValue kDigitalRateType{"DIGITALRATETYPE", REG_DWORD, TAVELKIN_FIELD(digitalRateType)};
constexpr SettingsValue kDigitalBitsType{"DIGITALBITSTYPE", REG_DWORD, TAVELKIN_FIELD(digitalBitsType)};
constexpr SettingsValue kProviderName{"PROVIDERNAME", REG_SZ, TAVELKIN_FIELD(providerName)};
#undef TAVELKIN_FIELD

constexpr size_t kLargestField = sizeof(SetupSettings::providerName);

// The values of each pass, in the order in which they are written or read. A first run leaves
// SPRITEMODE, TEXTUREMODE, NUMSAMPLETYPE and FOG out; Save writes NUMSAMPLETYPE with the sound values.
const SettingsValue* const kFirstRunPass1[] = {&kIsFullScreenMode, &kWidth, &kHeight, &kBitPerPixel,
                                               &kDeviceCnt, &kModeCnt, &kIsVoodoo, &kIsLightmap,
                                               &kDeviceName, &kGuidDevice, &kGuidDriver};
const SettingsValue* const kFirstRunPass2[] = {&kSoundMode, &kSpeakerType, &kDigitalRateType,
                                               &kDigitalBitsType, &kProviderName};

const SettingsValue* const kSavePass1[] = {&kIsFullScreenMode, &kWidth, &kHeight, &kBitPerPixel, &kDeviceCnt,
                                           &kModeCnt, &kIsVoodoo, &kIsLightmap, &kSpriteMode, &kTextureMode,
                                           &kFog, &kDeviceName, &kGuidDevice, &kGuidDriver};
const SettingsValue* const kSavePass2[] = {&kSoundMode, &kSpeakerType, &kDigitalRateType,
                                           &kDigitalBitsType, &kNumSampleType, &kProviderName};

// A read that fails leaves the field as it was, or sets the fallback where there is one.
struct ReadItem {
    const SettingsValue* value;
    bool hasFallback;
    int32_t fallback;
};
const ReadItem kLoadPass1[] = {
    {&kIsFullScreenMode, false, 0}, {&kWidth, false, 0},      {&kHeight, false, 0},
    {&kBitPerPixel, false, 0},      {&kDeviceCnt, false, 0},  {&kModeCnt, false, 0},
    {&kIsVoodoo, false, 0},         {&kIsLightmap, false, 0}, {&kSpriteMode, true, 2},
    {&kTextureMode, true, 2},       {&kNumSampleType, true, 2}, {&kFog, true, 1},
    {&kDeviceName, false, 0},       {&kGuidDevice, false, 0}, {&kGuidDriver, false, 0}};
const ReadItem kLoadPass2[] = {{&kSoundMode, false, 0},      {&kSpeakerType, false, 0},
                               {&kDigitalRateType, false, 0}, {&kDigitalBitsType, false, 0},
                               {&kProviderName, false, 0}};

const BYTE* FieldOf(const SetupSettings& settings, const SettingsValue& value)
{
    return reinterpret_cast<const BYTE*>(&settings) + value.offset;
}

BYTE* FieldOf(SetupSettings& settings, const SettingsValue& value)
{
    return reinterpret_cast<BYTE*>(&settings) + value.offset;
}

void WriteValue(SettingsRegistry& registry, HKEY key, const SetupSettings& settings, const SettingsValue& value)
{
    const BYTE* data = FieldOf(settings, value);
    BYTE text[kLargestField];
    if (value.type == REG_SZ) {
        // The registry counts a terminator after an unterminated string by reading the byte past
        // the data, so a text always goes out with its last byte zero.
        std::memcpy(text, data, value.size);
        text[value.size - 1] = 0;
        data = text;
    }
    registry.SetValue(key, value.name, 0, value.type, data, value.size);
}

// The read goes to a copy of the field: after a value too large for it the registry may leave
// the buffer undefined, and a failed read must leave the field as it was. Bytes past the stored
// data keep the field's contents.
bool ReadValue(SettingsRegistry& registry, HKEY key, SetupSettings& settings, const SettingsValue& value)
{
    BYTE* field = FieldOf(settings, value);
    BYTE buffer[kLargestField];
    std::memcpy(buffer, field, value.size);
    DWORD size = value.size;
    if (registry.QueryValue(key, value.name, nullptr, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    std::memcpy(field, buffer, value.size);
    // Any program can write the key: a text that fills its field gets its last byte as the
    // terminator, so the field is always safe to use as a string.
    if (value.type == REG_SZ)
        field[value.size - 1] = 0;
    return true;
}

bool CreateSettingsKey(SettingsRegistry& registry, HKEY* key)
{
    return registry.CreateKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, key, nullptr) == ERROR_SUCCESS;
}

bool OpenSettingsKey(SettingsRegistry& registry, HKEY* key)
{
    return registry.OpenKey(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

template <size_t N>
void WritePass(SettingsRegistry& registry, const SetupSettings& settings, const SettingsValue* const (&values)[N])
{
    HKEY key = nullptr;
    if (!CreateSettingsKey(registry, &key))
        return;
    for (const SettingsValue* value : values)
        WriteValue(registry, key, settings, *value);
    registry.CloseKey(key);
}

template <size_t N>
void ReadPass(SettingsRegistry& registry, SetupSettings& settings, const ReadItem (&items)[N])
{
    HKEY key = nullptr;
    if (!OpenSettingsKey(registry, &key))
        return;
    for (const ReadItem& item : items) {
        if (!ReadValue(registry, key, settings, *item.value) && item.hasFallback)
            std::memcpy(FieldOf(settings, *item.value), &item.fallback, sizeof item.fallback);
    }
    registry.CloseKey(key);
}

} // namespace

void WriteFirstRunSettings(const SetupSettings& settings)
{
    SettingsRegistry& registry = GetSettingsRegistry();
    WritePass(registry, settings, kFirstRunPass1);
    WritePass(registry, settings, kFirstRunPass2);
}

void ReadStoredSettings(SetupSettings& settings)
{
    SettingsRegistry& registry = GetSettingsRegistry();
    ReadPass(registry, settings, kLoadPass1);
    ReadPass(registry, settings, kLoadPass2);
}

void LoadSettings(SetupSettings& settings)
{
    settings.SetDefaults();

    // The probe alone decides: any failure to open the key, absent or denied, is a first run.
    SettingsRegistry& registry = GetSettingsRegistry();
    HKEY key = nullptr;
    if (OpenSettingsKey(registry, &key)) {
        registry.CloseKey(key);
        ReadStoredSettings(settings);
    } else {
        WriteFirstRunSettings(settings);
    }
}

void LoadSettings()
{
    LoadSettings(g_setupSettings);
}

void SaveSettings(const SetupSettings& settings)
{
    SettingsRegistry& registry = GetSettingsRegistry();
    WritePass(registry, settings, kSavePass1);
    WritePass(registry, settings, kSavePass2);
}

void SaveSettings()
{
    SaveSettings(g_setupSettings);
}
