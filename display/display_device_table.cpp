#include "display/display_device_table.h"

#include <cstring>
#include <new>

DisplayDeviceTable g_displayDeviceTable;

DisplayDeviceRecord* GetDisplayDeviceTable()
{
    return g_displayDeviceTable.records;
}

uint32_t GetReportedDeviceCount()
{
    return g_displayDeviceTable.reportedDeviceCount;
}

uint32_t GetAcceptedDeviceCount()
{
    return g_displayDeviceTable.acceptedDeviceCount;
}

const DisplayDeviceRecord* HardwareDeviceAt(int32_t position)
{
    int32_t hardwarePosition = 0;
    for (uint32_t i = 0; i < g_displayDeviceTable.acceptedDeviceCount && i < kDisplayDeviceCapacity; ++i) {
        const DisplayDeviceRecord& record = g_displayDeviceTable.records[i];
        if (record.isHardware == 0)
            continue;
        if (hardwarePosition == position)
            return &record;
        ++hardwarePosition;
    }
    return nullptr;
}

void FreeDisplayDeviceModes()
{
    // The count never exceeds the capacity; the bound keeps a damaged count
    // from walking off the table.
    for (uint32_t i = 0; i < g_displayDeviceTable.acceptedDeviceCount && i < kDisplayDeviceCapacity; ++i) {
        DisplayDeviceRecord& record = g_displayDeviceTable.records[i];
        if (record.modes != nullptr)
            ::operator delete(record.modes);
    }
}

void ResetDisplayDeviceTable()
{
    std::memset(&g_displayDeviceTable, 0, sizeof g_displayDeviceTable);
}
