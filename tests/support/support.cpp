#include "support.h"

#include "app/settings_store.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// A text handed to a callback, scribbled over once it returns.
struct Text {
    explicit Text(const char* text) { std::strncpy(chars, text, sizeof chars - 1); }
    ~Text() { std::memset(chars, 0xcc, sizeof chars); }
    char chars[256] = {};
};

}  // namespace

#define UNSUPPORTED(method, ...) \
    STDMETHOD(method)(__VA_ARGS__) override { return DDERR_UNSUPPORTED; }

// A driver's DirectDraw object and, inside it, its Direct3D object.
struct ScriptedMachine::Driver final : IDirectDraw7 {
    struct Direct3D final : IDirect3D7 {
        explicit Direct3D(Driver& driver) : owner(driver) {}
        STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
        STDMETHOD_(ULONG, Release)() override { return --refs; }
        STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
        STDMETHOD(EnumDevices)(LPD3DENUMDEVICESCALLBACK7 callback, void* context) override
        {
            for (const ScriptedDevice& device : owner.script.devices) {  // with the context of the mode walk
                Text description("Direct3D device description"), name(device.name.c_str());
                D3DDEVICEDESC7 desc = device.desc;
                HRESULT result = context && context == owner.modesContext
                                     ? callback(description.chars, name.chars, &desc, context) : D3DENUMRET_CANCEL;
                std::memset(&desc, 0xcc, sizeof desc);
                if (result == D3DENUMRET_CANCEL)
                    break;
            }
            return D3D_OK;
        }
        UNSUPPORTED(CreateDevice, REFCLSID, IDirectDrawSurface7*, IDirect3DDevice7**) UNSUPPORTED(EvictManagedTextures)
        UNSUPPORTED(CreateVertexBuffer, D3DVERTEXBUFFERDESC*, IDirect3DVertexBuffer7**, DWORD)
        UNSUPPORTED(EnumZBufferFormats, REFCLSID, LPD3DENUMPIXELFORMATSCALLBACK, void*)
        Driver& owner;
        LONG refs = 0;
    };
    explicit Driver(const DriverScript& driver) : script(driver) {}
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return releasedEarly |= refs == 1 && direct3D.refs != 0, --refs; }
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override
    {
        *object = nullptr;
        if (!IsEqualGUID(iid, IID_IDirect3D7) || FAILED(script.queryDirect3DResult))
            return IsEqualGUID(iid, IID_IDirect3D7) ? script.queryDirect3DResult : E_NOINTERFACE;
        *object = static_cast<IDirect3D7*>(&direct3D);
        return direct3D.AddRef(), S_OK;
    }
    STDMETHOD(GetCaps)(LPDDCAPS hal, LPDDCAPS hel) override
    {
        if (!hal || !hel || hal->dwSize != sizeof(DDCAPS) || hel->dwSize != sizeof(DDCAPS))
            return DDERR_INVALIDPARAMS;
        *hal = MakeCaps(script, true), *hel = MakeCaps(script, false);
        return DD_OK;
    }
    STDMETHOD(EnumDisplayModes)(DWORD flags, LPDDSURFACEDESC2 templ, LPVOID context, LPDDENUMMODESCALLBACK2 callback) override
    {
        modesContext = context;
        for (DDSURFACEDESC2 mode : script.modes) {
            HRESULT result = flags == 0 && templ == nullptr ? callback(&mode, context) : DDENUMRET_CANCEL;
            std::memset(&mode, 0xcc, sizeof mode);
            if (result == DDENUMRET_CANCEL)
                break;
        }
        return DD_OK;
    }
    UNSUPPORTED(Compact) UNSUPPORTED(FlipToGDISurface) UNSUPPORTED(RestoreDisplayMode) UNSUPPORTED(RestoreAllSurfaces)
    UNSUPPORTED(TestCooperativeLevel) UNSUPPORTED(CreateClipper, DWORD, LPDIRECTDRAWCLIPPER*, IUnknown*)
    UNSUPPORTED(CreatePalette, DWORD, LPPALETTEENTRY, LPDIRECTDRAWPALETTE*, IUnknown*) UNSUPPORTED(Initialize, GUID*)
    UNSUPPORTED(CreateSurface, LPDDSURFACEDESC2, LPDIRECTDRAWSURFACE7*, IUnknown*) UNSUPPORTED(GetScanLine, LPDWORD)
    UNSUPPORTED(DuplicateSurface, LPDIRECTDRAWSURFACE7, LPDIRECTDRAWSURFACE7*) UNSUPPORTED(GetDisplayMode, LPDDSURFACEDESC2)
    UNSUPPORTED(EnumSurfaces, DWORD, LPDDSURFACEDESC2, LPVOID, LPDDENUMSURFACESCALLBACK7) UNSUPPORTED(EvaluateMode, DWORD, DWORD*)
    UNSUPPORTED(GetFourCCCodes, LPDWORD, LPDWORD) UNSUPPORTED(GetGDISurface, LPDIRECTDRAWSURFACE7*)
    UNSUPPORTED(GetMonitorFrequency, LPDWORD) UNSUPPORTED(GetVerticalBlankStatus, WINBOOL*)
    UNSUPPORTED(SetCooperativeLevel, HWND, DWORD) UNSUPPORTED(SetDisplayMode, DWORD, DWORD, DWORD, DWORD, DWORD)
    UNSUPPORTED(WaitForVerticalBlank, DWORD, HANDLE) UNSUPPORTED(GetAvailableVidMem, LPDDSCAPS2, LPDWORD, LPDWORD)
    UNSUPPORTED(GetSurfaceFromDC, HDC, LPDIRECTDRAWSURFACE7*) UNSUPPORTED(StartModeTest, LPSIZE, DWORD, DWORD)
    UNSUPPORTED(GetDeviceIdentifier, LPDDDEVICEIDENTIFIER2, DWORD)

    const DriverScript script;
    GUID guid = MakeGuid(script.guidNumber);
    bool releasedEarly = false;  // DirectDraw released while its Direct3D was still held
    LONG refs = 0;
    int created = 0;
    void* modesContext = nullptr;
    Direct3D direct3D{*this};
};

GUID MakeGuid(uint32_t n) { return {n, 0x1234, 0x5678, {0x9a, 0xbc, 0xde, 0xf0, 0x11, 0x22, 0x33, BYTE(n)}}; }

DDCAPS MakeCaps(const DriverScript& driver, bool hal)
{
    DDCAPS caps{};
    caps.dwSize = sizeof caps, caps.dwCaps = (hal ? 0xa0000000u : 0xe0000000u) | driver.guidNumber;
    caps.dwCaps2 = hal ? driver.halCaps2 : 0, caps.ddsCaps.dwCaps4 = (hal ? 0x4400u : 0x6600u) + driver.guidNumber;
    return caps;
}

DDSURFACEDESC2 MakeMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD tag, DWORD caps2)
{
    DDSURFACEDESC2 mode{};
    mode.dwSize = sizeof mode, mode.dwWidth = width, mode.dwHeight = height, mode.dwRefreshRate = tag;
    mode.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT), mode.ddpfPixelFormat.dwRGBBitCount = bitsPerPixel;
    mode.ddsCaps.dwCaps2 = caps2;
    return mode;
}

ScriptedDevice MakeDevice(const std::string& name, DWORD devCaps, DWORD renderDepths, uint32_t guidNumber)
{
    ScriptedDevice device{name, {}};
    device.desc.dwDevCaps = devCaps, device.desc.dwDeviceRenderBitDepth = renderDepths;
    device.desc.deviceGUID = MakeGuid(0xd0000000u | guidNumber);
    device.desc.dwReserved4 = 0xfeed0000u | guidNumber;  // the last field: whole copies carry it
    return device;
}

ScriptedMachine::ScriptedMachine(const std::vector<DriverScript>& scripts)
{
    for (const DriverScript& script : scripts)
        drivers_.push_back(std::make_unique<Driver>(script));
}
ScriptedMachine::~ScriptedMachine() = default;
int ScriptedMachine::Created(size_t driver) const { return drivers_.at(driver)->created; }
bool ScriptedMachine::AllReleased() const
{
    return std::all_of(drivers_.begin(), drivers_.end(),
                       [](const auto& d) { return d->refs + d->direct3D.refs == 0 && !d->releasedEarly; });
}

HRESULT ScriptedMachine::EnumerateEx(LPDDENUMCALLBACKEXA callback, void* context, DWORD flags)
{
    for (auto& d : drivers_) {
        Text description(d->script.description.c_str()), name("display");
        GUID* guid = d->script.guidNumber != 0 ? &d->guid : nullptr;
        if (flags != 7 || context || !callback(guid, description.chars, name.chars, context, nullptr))
            break;
    }
    return DD_OK;
}

HRESULT ScriptedMachine::CreateEx(GUID* driverGuid, void** object, REFIID iid, IUnknown* outer)
{
    *object = nullptr;
    for (auto& d : drivers_) {  // matched by value; the primary driver only by a null GUID
        if (driverGuid == nullptr ? d->script.guidNumber != 0 : d->script.guidNumber == 0 || *driverGuid != d->guid)
            continue;
        ++d->created;
        if (FAILED(d->script.createResult) || iid != IID_IDirectDraw7 || outer != nullptr)
            return FAILED(d->script.createResult) ? d->script.createResult : DDERR_INVALIDPARAMS;
        *object = static_cast<IDirectDraw7*>(d.get());
        return d->AddRef(), DD_OK;
    }
    return DDERR_INVALIDDIRECTDRAWGUID;
}

std::string Value(DWORD type, const void* data, size_t size)
{
    std::string text = std::to_string(type) + ":";
    char digits[3];
    for (size_t i = 0; i < size; ++i)
        text.append(digits, std::snprintf(digits, sizeof digits, "%02x", static_cast<const BYTE*>(data)[i]));
    return text;
}

StoredKey ReadSettingsKey()
{
    StoredKey values;
    HKEY key;
    char name[256];
    BYTE data[4096];
    DWORD type, nameSize = sizeof name, size = sizeof data;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0; RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &size) == ERROR_SUCCESS; ++i)
        values[name] = Value(type, data, size), nameSize = sizeof name, size = sizeof data;
    RegCloseKey(key);
    return values;
}

void DeleteSettingsKey()
{
    const LONG result = RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH);
    EXPECT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) << "RegDeleteKeyA returned " << result;
}

void PutSettingsValue(const char* name, DWORD type, const std::string& bytes)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    const std::string data = bytes + '\x7f';  // a byte past the data: the registry looks there for a zero
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), DWORD(bytes.size())));
    RegCloseKey(key);
}

bool MemoryRegistry::Query(HKEY, const char* name, BYTE* data, DWORD size)
{
    const auto value = values.find(name);
    if (++queries == failQuery || value == values.end() || value->second.size() > size)
        return false;
    return std::memcpy(data, value->second.data(), value->second.size()), true;
}

void MemoryRegistry::Set(HKEY, const char* name, DWORD, const BYTE* data, DWORD size)
{
    if (++sets != failSet)
        values[name].assign(reinterpret_cast<const char*>(data), size);
}

void DeviceTable::Add(const char* name, bool hardware, std::vector<DDSURFACEDESC2> recordModes)
{
    const uint32_t i = g_displayDeviceTable.acceptedDeviceCount++;
    DisplayDeviceRecord& record = g_displayDeviceTable.records[i];
    std::strncpy(record.name, name, sizeof record.name);
    record.isHardware = hardware ? D3DDEVCAPS_HWRASTERIZATION : 0;
    record.deviceGuidValue = MakeGuid(0x40 + i), record.driverGuidValue = i == 0 ? GUID{} : MakeGuid(0x60 + i);
    modes.push_back(std::move(recordModes));
    record.modes = modes.back().empty() ? nullptr : modes.back().data();
    record.modeCount = static_cast<uint32_t>(modes.back().size());
}

namespace {

std::function<void()> g_steps;
UINT_PTR g_timer;

// Thread timers come through the modal loop: this runs the steps once the dialog shows and takes
// input, and two seconds later ends a dialog still open.
void CALLBACK Start(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dialog = GetActiveWindow();
    if (dialog == nullptr || !IsWindowVisible(dialog))
        return;
    KillTimer(nullptr, g_timer);
    g_timer = SetTimer(nullptr, 0, 2000, Start);
    std::function<void()> steps = std::move(g_steps);
    g_steps = nullptr;
    if (steps == nullptr)
        ADD_FAILURE() << "the dialog was still open two seconds after its steps", EndDialog(dialog, 0x5a5a);
    else
        steps();
}

}  // namespace

INT_PTR RunDialog(const std::function<INT_PTR()>& run, const std::function<void()>& steps)
{
    g_steps = steps, g_timer = SetTimer(nullptr, 0, 1, Start);
    const INT_PTR result = run();
    KillTimer(nullptr, g_timer);
    return result;
}

void Key(HWND control, WPARAM key, bool post)
{
    const LPARAM down = 1 | LPARAM(MapVirtualKeyA(UINT(key), 0)) << 16, up = down | LPARAM(0xC0000000u);
    if (post)
        PostMessageA(control, WM_KEYDOWN, key, down), PostMessageA(control, WM_KEYUP, key, up);
    else
        SetFocus(control), SendMessageA(control, WM_KEYDOWN, key, down), SendMessageA(control, WM_KEYUP, key, up);
}

void DragThumb(HWND trackbar, int position)
{
    RECT thumb, channel;
    SendMessageA(trackbar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    SendMessageA(trackbar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    const int y = (thumb.top + thumb.bottom) / 2, x = channel.left + (channel.right - channel.left) * position / 2;
    SendMessageA(trackbar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((thumb.left + thumb.right) / 2, y));
    SendMessageA(trackbar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageA(trackbar, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}
