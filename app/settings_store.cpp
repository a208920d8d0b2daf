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
constexpr SettingsValue kIsFullScreenMode {"ISFULLSCREENMODE", REG_DWORD, TAVELKIN_FIELD(isFullScreenMode)};
constexpr SettingsValue kWidth {"WIDTH", REG_DWORD, TAVELKIN_FIELD(width)};
constexpr SettingsValue kHeight {"HEIGHT", REG_DWORD, TAVELKIN_FIELD(height)};
constexpr SettingsValue kBitPerPixel {"BITPERPIXEL", REG_DWORD, TAVELKIN_FIELD(bitPerPixel)};
constexpr SettingsValue kDeviceCnt {"DEVICECNT", REG_DWORD, TAVELKIN_FIELD(deviceCnt)};
constexpr SettingsValue kModeCnt {"MODECNT", REG_DWORD, TAVELKIN_FIELD(modeCnt)};
constexpr SettingsValue kIsVoodoo {"ISVOODOO", REG_DWORD, TAVELKIN_FIELD(isVoodoo)};
constexpr SettingsValue kIsLightmap {"ISLIGHTMAP", REG_DWORD, TAVELKIN_FIELD(isLightmap)};
constexpr SettingsValue kSpriteMode {"SPRITEMODE", REG_DWORD, TAVELKIN_FIELD(spriteMode)};
constexpr SettingsValue kTextureMode {"TEXTUREMODE", REG_DWORD, TAVELKIN_FIELD(textureMode)};
constexpr SettingsValue kNumSampleType {"NUMSAMPLETYPE", REG_DWORD, TAVELKIN_FIELD(numSampleType)};
constexpr SettingsValue kFog {"FOG", REG_DWORD, TAVELKIN_FIELD(fog)};
constexpr SettingsValue kDeviceName {"DEVICENAME", REG_SZ, TAVELKIN_FIELD(deviceName)};
constexpr SettingsValue kGuidDevice {"GUIDDEVICE", REG_BINARY, TAVELKIN_FIELD(guidDevice)};
constexpr SettingsValue kGuidDriver {"GUIDDRIVER", REG_BINARY, TAVELKIN_FIELD(guidDriver)};
constexpr SettingsValue kSoundMode {"SOUNDMODE", REG_DWORD, TAVELKIN_FIELD(soundMode)};
constexpr SettingsValue kSpeakerType {"SPEAKERTYPE", REG_DWORD, TAVELKIN_FIELD(speakerType)};
constexpr SettingsValue kDigitalRateType {"DIGITALRATETYPE", REG_DWORD, TAVELKIN_FIELD(digitalRateType)};
constexpr SettingsValue kDigitalBitsType {"DIGITALBITSTYPE", REG_DWORD, TAVELKIN_FIELD(digitalBitsType)};
constexpr SettingsValue kProviderName {"PROVIDERNAME", REG_SZ, TAVELKIN_FIELD(providerName)};
#undef TAVELKIN_FIELD

constexpr size_t kLargestField = sizeof(SetupSettings::providerName);

// The values of each pass, in the order in which they are written or read. A first run leaves
// SPRITEMODE, TEXTUREMODE, NUMSAMPLETYPE and FOG out; Save writes NUMSAMPLETYPE with the sound values.
const SettingsValue* const kFirstRunPass1[]
    = {&kIsFullScreenMode, &kWidth,      &kHeight,     &kBitPerPixel, &kDeviceCnt, &kModeCnt,
       &kIsVoodoo,         &kIsLightmap, &kDeviceName, &kGuidDevice,  &kGuidDriver};
const SettingsValue* const kFirstRunPass2[]
    = {&kSoundMode, &kSpeakerType, &kDigitalRateType, &kDigitalBitsType, &kProviderName};

const SettingsValue* const kSavePass1[]
    = {&kIsFullScreenMode, &kWidth,      &kHeight,      &kBitPerPixel, &kDeviceCnt,  &kModeCnt,    &kIsVoodoo,
       &kIsLightmap,       &kSpriteMode, &kTextureMode, &kFog,         &kDeviceName, &kGuidDevice, &kGuidDriver};
const SettingsValue* const kSavePass2[]
    = {&kSoundMode, &kSpeakerType, &kDigitalRateType, &kDigitalBitsType, &kNumSampleType, &kProviderName};

// A read that fails leaves the field as it was, or sets the fallback where there is one.
struct ReadItem {
    const SettingsValue* value;
    bool hasFallback;
    int32_t fallback;
};
const ReadItem kLoadPass1[] = {{&kIsFullScreenMode, false, 0},
                               {&kWidth, false, 0},
                               {&kHeight, false, 0},
                               {&kBitPerPixel, false, 0},
                               {&kDeviceCnt, false, 0},
                               {&kModeCnt, false, 0},
                               {&kIsVoodoo, false, 0},
                               {&kIsLightmap, false, 0},
                               {&kSpriteMode, true, kDefaultSpriteMode},
                               {&kTextureMode, true, kDefaultTextureMode},
                               {&kNumSampleType, true, kDefaultNumSampleType},
                               {&kFog, true, kDefaultFog},
                               {&kDeviceName, false, 0},
                               {&kGuidDevice, false, 0},
                               {&kGuidDriver, false, 0}};
const ReadItem kLoadPass2[] = {{&kSoundMode, false, 0},
                               {&kSpeakerType, false, 0},
                               {&kDigitalRateType, false, 0},
                               {&kDigitalBitsType, false, 0},
                               {&kProviderName, false, 0}};

const BYTE* FieldOf(const SetupSettings& settings, const SettingsValue& value)
{
    return reinterpret_cast<const BYTE*>(&settings) + value.offset;
}

BYTE* FieldOf(SetupSettings& settings, const SettingsValue& value)
{
    return reinterpret_cast<BYTE*>(&settings) + value.offset;
}

// The settings key for one pass, closed again on every way out of it.
class SettingsKey {
public:
    SettingsKey(SettingsRegistry& registry, bool forWriting)
        : m_registry(registry)
        , m_key(forWriting ? registry.CreateToWrite(SETTINGS_KEY_PATH) : registry.OpenToRead(SETTINGS_KEY_PATH))
    { }
    ~SettingsKey()
    {
        if (m_key != nullptr)
            m_registry.Close(m_key);
    }
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    bool IsOpen() const { return m_key != nullptr; }

    void Write(const SetupSettings& settings, const SettingsValue& value)
    {
        const BYTE* data = FieldOf(settings, value);
        BYTE text[kLargestField];
        if (value.type == REG_SZ) {
            // The registry counts a terminator after an unterminated string by reading the byte
            // past the data, so a text always goes out with its last byte zero.
            std::memcpy(text, data, value.size);
            text[value.size - 1] = 0;
            data = text;
        }
        m_registry.Set(m_key, value.name, value.type, data, value.size);
    }

    // The read goes to a copy of the field: after a value too large for it the registry may
    // leave the buffer undefined, and a failed read must leave the field as it was. Bytes past
    // the stored data keep the field's contents.
    bool Read(SetupSettings& settings, const SettingsValue& value)
    {
        BYTE* field = FieldOf(settings, value);
        BYTE buffer[kLargestField];
        std::memcpy(buffer, field, value.size);
        if (!m_registry.Query(m_key, value.name, buffer, value.size))
            return false;
        std::memcpy(field, buffer, value.size);
        // Any program can write the key: a text that fills its field gets its last byte as the
        // terminator, so the field is always safe to use as a string.
        if (value.type == REG_SZ)
            field[value.size - 1] = 0;
        return true;
    }

private:
    SettingsRegistry& m_registry;
    HKEY m_key;
};

template <size_t N>
void WritePass(SettingsRegistry& registry, const SetupSettings& settings, const SettingsValue* const (&values)[N])
{
    SettingsKey key(registry, true);
    if (!key.IsOpen())
        return;
    for (const SettingsValue* value : values)
        key.Write(settings, *value);
}

template <size_t N>
void ReadPass(SettingsRegistry& registry, SetupSettings& settings, const ReadItem (&items)[N])
{
    SettingsKey key(registry, false);
    if (!key.IsOpen())
        return;
    for (const ReadItem& item : items) {
        if (!key.Read(settings, *item.value) && item.hasFallback)
            std::memcpy(FieldOf(settings, *item.value), &item.fallback, sizeof item.fallback);
    }
}

}  // namespace

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
    if (SettingsKey(GetSettingsRegistry(), false).IsOpen())
        ReadStoredSettings(settings);
    else
        WriteFirstRunSettings(settings);
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
