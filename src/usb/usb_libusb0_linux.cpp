// The system's USB library on Linux: Debian's libusb 0.1 (libusb-compat),
// linked as usual. Errors are already negative errno values.
#include <dirent.h>

#include <cstdio>
#include <cstring>

#include "usb/usb_system.h"

namespace TAVDll {

namespace {

constexpr const char* SYSFS_USB_DEVICES = "/sys/bus/usb/devices";

// One number of a sysfs attribute file ("busnum", "devnum").
bool ReadNumber(const char* device, const char* attribute, unsigned long* value)
{
    char file[256];
    std::snprintf(file, sizeof file, "%s/%s/%s", SYSFS_USB_DEVICES, device, attribute);
    FILE* stream = std::fopen(file, "r");
    if (stream == nullptr)
        return false;
    const bool read = std::fscanf(stream, "%lu", value) == 1;
    std::fclose(stream);
    return read;
}

// libusb 0.1 knows no ports: sysfs does. The device folder whose busnum and
// devnum are the device's is named after its port path ("1-3.2"; root hubs
// are "usb1", interfaces "1-3.2:1.0").
bool SysfsPortPath(void* context, const usb_bus* bus, const struct usb_device* device, char* path, size_t size)
{
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    if (!UsbfsDeviceAddress(context, bus, device, &busNumber, &deviceNumber))
        return false;
    DIR* folder = opendir(SYSFS_USB_DEVICES);
    if (folder == nullptr)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(folder)) {
        unsigned long entryBus = 0;
        unsigned long entryDevice = 0;
        if (!ValidPortPath(entry->d_name) || std::strlen(entry->d_name) >= size
            || !ReadNumber(entry->d_name, "busnum", &entryBus) || !ReadNumber(entry->d_name, "devnum", &entryDevice)
            || entryBus != busNumber || entryDevice != deviceNumber)
            continue;
        std::memcpy(path, entry->d_name, std::strlen(entry->d_name) + 1);
        found = true;
        break;
    }
    closedir(folder);
    return found;
}

} // namespace

UsbBackend detail::MakeSystemBackend()
{
    UsbBackend table{};
    table.context = nullptr;
    table.name = "libusb 0.1";
    table.deviceAddress = UsbfsDeviceAddress;
    table.portPath = SysfsPortPath;
    table.init = [](void*) { usb_init(); };
    table.findBusses = [](void*) { return usb_find_busses(); };
    table.findDevices = [](void*) { return usb_find_devices(); };
    table.getBusses = [](void*) { return usb_get_busses(); };
    table.open = [](void*, struct usb_device* device) { return usb_open(device); };
    table.setConfiguration = [](void*, usb_dev_handle* handle, int configuration) {
        return usb_set_configuration(handle, configuration);
    };
    table.claimInterface = [](void*, usb_dev_handle* handle, int interfaceNumber) {
        return usb_claim_interface(handle, interfaceNumber);
    };
    table.close = [](void*, usb_dev_handle* handle) { return usb_close(handle); };
    table.bulkWrite = [](void*, usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeoutMs) {
        return usb_bulk_write(handle, endpoint, bytes, size, timeoutMs);
    };
    table.bulkRead = [](void*, usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs) {
        return usb_bulk_read(handle, endpoint, bytes, size, timeoutMs);
    };
    return table;
}

const char* UsbLibraries()
{
    return "libusb 0.1 (linked), libusb-1.0 for queued boards (linked)";
}

const char* UsbLibraryProblem()
{
    return nullptr; // both linked: present whenever libtav itself loaded
}

const char* StaticOpenProblem()
{
    return nullptr; // the static functions' libusb 0.1 is linked
}

// libusb 0.1 and libusb-1.0 see the same devices, under the same numbers:
// one by one through the first, queued through the second, and a board
// libusb-1.0 does not reach is still reached one transfer at a time.
int detail::SystemBusBackends(bool queued, const UsbBackend* tables[BUS_BACKEND_LIMIT])
{
    if (!queued) {
        tables[0] = SystemUsbBackend();
        return 1;
    }
    tables[0] = Libusb1Backend();
    tables[1] = SystemUsbBackend();
    return 2;
}

} // namespace TAVDll
