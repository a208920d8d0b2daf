#include "display/display_enumeration.h"

#include "display/direct_draw_entry.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Set when an allocation fails inside a callback. The callbacks run inside
// ddraw's own frames, which no C++ exception may cross, so the failure is
// caught there and every later callback cancels its enumeration at once.
bool g_ranOutOfMemory = false;

constexpr DWORD kAllDriverKinds
    = DDENUM_ATTACHEDSECONDARYDEVICES | DDENUM_DETACHEDSECONDARYDEVICES | DDENUM_NONDISPLAYDEVICES;

DDSURFACEDESC2* AllocateModes(uint64_t count)
{
    if (count > SIZE_MAX / sizeof(DDSURFACEDESC2))
        throw std::bad_alloc();
    return static_cast<DDSURFACEDESC2*>(::operator new(static_cast<size_t>(count) * sizeof(DDSURFACEDESC2)));
}

// One reference to a COM interface, released when the holder goes.
template <class Interface>
class ComReference {
public:
    ComReference() = default;
    ~ComReference()
    {
        if (m_interface != nullptr)
            m_interface->Release();
    }
    ComReference(const ComReference&) = delete;
    ComReference& operator=(const ComReference&) = delete;

    Interface* operator->() const { return m_interface; }
    void** Receive() { return reinterpret_cast<void**>(&m_interface); }

private:
    Interface* m_interface = nullptr;
};

void ReleaseModes(DisplayDeviceRecord& record)
{
    if (record.modes != nullptr)
        ::operator delete(record.modes);
    record.modes = nullptr;
    record.modeCount = 0;
}

bool CanRenderAtDepth(DWORD bitsPerPixel, DWORD renderDepths)
{
    switch (bitsPerPixel) {
    case 32: return (renderDepths & DDBD_32) != 0;
    case 24: return (renderDepths & DDBD_24) != 0;
    case 16: return (renderDepths & DDBD_16) != 0;
    default: return false;
    }
}

// Fills the slot for one reported device; true when the device is acceptable.
// A rejected slot keeps its other data but no mode storage.
bool FillDeviceRecord(DisplayDeviceRecord& slot, const char* deviceName, const D3DDEVICEDESC7& deviceDesc,
                      const DisplayDeviceRecord& driver, DeviceFilterCallback filter)
{
    std::memset(&slot, 0, sizeof slot);
    slot.isHardware = deviceDesc.dwDevCaps & D3DDEVCAPS_HWRASTERIZATION;
    slot.deviceDesc = deviceDesc;
    slot.canRenderWindowed = driver.canRenderWindowed;
    slot.halCaps = driver.halCaps;
    slot.helCaps = driver.helCaps;
    slot.deviceGuidValue = slot.deviceDesc.deviceGUID;
    slot.deviceGuid = &slot.deviceGuidValue;
    // Sized for every mode of the driver, so appending never reallocates.
    slot.modes = AllocateModes(driver.modeCount);

    // Devices of another driver carry the driver's description: their own
    // names do not tell two cards apart.
    const char* nameSource = deviceName;
    if (driver.driverGuid != nullptr) {
        slot.driverGuidValue = driver.driverGuidValue;
        slot.driverGuid = &slot.driverGuidValue;
        nameSource = driver.name;
    }
    lstrcpynA(slot.name, nameSource, kDisplayDeviceNameLimit);

    if (slot.driverGuid != nullptr && slot.isHardware == 0)
        return false;
    if (filter != nullptr && filter(&slot.halCaps, &slot.deviceDesc) < 0)
        return false;

    const DWORD renderDepths = slot.deviceDesc.dwDeviceRenderBitDepth;
    for (uint32_t i = 0; i < driver.modeCount; ++i) {
        const DDSURFACEDESC2& mode = driver.modes[i];
        if (!CanRenderAtDepth(mode.ddpfPixelFormat.dwRGBBitCount, renderDepths))
            continue;
        slot.modes[slot.modeCount++] = mode;
        if (mode.ddsCaps.dwCaps2 & DDSCAPS2_STEREOSURFACELEFT)
            slot.hasStereoMode = 1;
    }
    if (slot.modeCount == 0)
        return false;

    // The last default mode wins.
    for (uint32_t i = 0; i < slot.modeCount; ++i) {
        if (IsDefaultDisplayMode(slot.modes[i])) {
            slot.defaultMode = slot.modes[i];
            slot.defaultModeIndex = i;
        }
    }
    return true;
}

}  // namespace

int32_t EnumerateDisplayDevices(DeviceFilterCallback filter)
{
    g_displayDeviceTable.filter = filter;
    g_ranOutOfMemory = false;
    GetDirectDrawEntry().EnumerateEx(DriverEnumCallback, nullptr, kAllDriverKinds);
    if (g_displayDeviceTable.reportedDeviceCount == 0)
        return DEVICE_ENUM_NO_DEVICE;
    if (g_displayDeviceTable.acceptedDeviceCount == 0)
        return DEVICE_ENUM_NONE_ACCEPTED;
    return 0;
}

bool DisplayEnumerationRanOutOfMemory()
{
    return g_ranOutOfMemory;
}

BOOL WINAPI DriverEnumCallback(GUID* driverGuid, LPSTR description, LPSTR, LPVOID, HMONITOR) noexcept
{
    if (g_ranOutOfMemory)
        return DDENUMRET_CANCEL;

    // Direct3D, held second, is released first.
    ComReference<IDirectDraw7> directDraw;
    if (FAILED(GetDirectDrawEntry().CreateEx(driverGuid, directDraw.Receive(), IID_IDirectDraw7, nullptr)))
        return DDENUMRET_OK;
    ComReference<IDirect3D7> direct3D;
    if (FAILED(directDraw->QueryInterface(IID_IDirect3D7, direct3D.Receive())))
        return DDENUMRET_OK;

    DisplayDeviceRecord driver;
    std::memset(&driver, 0, sizeof driver);
    lstrcpynA(driver.name, description, kDisplayDeviceNameLimit);
    driver.halCaps.dwSize = sizeof(DDCAPS);
    driver.helCaps.dwSize = sizeof(DDCAPS);
    directDraw->GetCaps(&driver.halCaps, &driver.helCaps);
    // A null GUID is the primary display driver.
    if (driverGuid != nullptr) {
        driver.driverGuidValue = *driverGuid;
        driver.driverGuid = &driver.driverGuidValue;
    }
    if ((driver.halCaps.dwCaps2 & DDCAPS2_CANRENDERWINDOWED) && driver.driverGuid == nullptr)
        driver.canRenderWindowed = 1;

    directDraw->EnumDisplayModes(0, nullptr, &driver, ModeEnumCallback);
    // An incomplete mode list must not reach any record.
    if (!g_ranOutOfMemory) {
        if (driver.modeCount > 1)
            std::qsort(driver.modes, driver.modeCount, sizeof(DDSURFACEDESC2), CompareDisplayModes);
        direct3D->EnumDevices(DeviceEnumCallback, &driver);
    }

    ReleaseModes(driver);
    return g_ranOutOfMemory ? DDENUMRET_CANCEL : DDENUMRET_OK;
}

HRESULT WINAPI ModeEnumCallback(LPDDSURFACEDESC2 mode, LPVOID context) noexcept
{
    if (g_ranOutOfMemory)
        return DDENUMRET_CANCEL;
    DisplayDeviceRecord& driver = *static_cast<DisplayDeviceRecord*>(context);

    // Grows by exactly one entry; on failure the list keeps what it had and the
    // driver releases it.
    DDSURFACEDESC2* grown;
    try {
        grown = AllocateModes(uint64_t {driver.modeCount} + 1);
    } catch (const std::bad_alloc&) {
        g_ranOutOfMemory = true;
        return DDENUMRET_CANCEL;
    }
    if (driver.modes != nullptr) {
        std::memcpy(grown, driver.modes, driver.modeCount * sizeof(DDSURFACEDESC2));
        ::operator delete(driver.modes);
    }
    driver.modes = grown;
    driver.modes[driver.modeCount] = *mode;
    ++driver.modeCount;
    return DDENUMRET_OK;
}

HRESULT WINAPI DeviceEnumCallback(char*, char* name, D3DDEVICEDESC7* deviceDesc, void* context) noexcept
{
    if (g_ranOutOfMemory)
        return D3DENUMRET_CANCEL;
    DisplayDeviceTable& table = g_displayDeviceTable;
    const DisplayDeviceRecord& driver = *static_cast<const DisplayDeviceRecord*>(context);

    // Every reported device counts, accepted or not.
    ++table.reportedDeviceCount;
    // A full table leaves further devices out and touches nothing past its end.
    if (table.acceptedDeviceCount >= kDisplayDeviceCapacity)
        return D3DENUMRET_OK;

    DisplayDeviceRecord& slot = table.records[table.acceptedDeviceCount];
    bool acceptable;
    try {
        acceptable = FillDeviceRecord(slot, name, *deviceDesc, driver, table.filter);
    } catch (const std::bad_alloc&) {
        ReleaseModes(slot);
        g_ranOutOfMemory = true;
        return D3DENUMRET_CANCEL;
    }
    if (!acceptable) {
        // The slot keeps its partial data for the next device to clear.
        ReleaseModes(slot);
        return D3DENUMRET_OK;
    }
    slot.windowed = slot.canRenderWindowed;
    ++table.acceptedDeviceCount;
    return D3DENUMRET_OK;
}

int __cdecl CompareDisplayModes(const void* a, const void* b)
{
    const DDSURFACEDESC2& left = *static_cast<const DDSURFACEDESC2*>(a);
    const DDSURFACEDESC2& right = *static_cast<const DDSURFACEDESC2*>(b);
    const DWORD leftKeys[3] = {left.dwWidth, left.dwHeight, left.ddpfPixelFormat.dwRGBBitCount};
    const DWORD rightKeys[3] = {right.dwWidth, right.dwHeight, right.ddpfPixelFormat.dwRGBBitCount};
    for (int i = 0; i < 3; ++i) {
        if (leftKeys[i] < rightKeys[i])
            return -1;
        if (leftKeys[i] > rightKeys[i])
            return 1;
    }
    return 0;
}
