// The system's USB library on Linux: Debian's libusb 0.1 (libusb-compat),
// linked as usual. Errors are already negative errno values.
#include "link/board_link.h"

namespace TAVDll {

UsbBackend detail::MakeSystemBackend()
{
    UsbBackend table{};
    table.context = nullptr;
    table.name = "libusb 0.1";
    table.deviceAddress = UsbfsDeviceAddress;
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

// libusb 0.1 and libusb-1.0 see the same devices, under the same numbers:
// one by one through the first, queued through the second.
int detail::SystemBusBackends(bool queued, const UsbBackend* tables[BUS_BACKEND_LIMIT])
{
    tables[0] = queued ? Libusb1Backend() : SystemUsbBackend();
    return 1;
}



} // namespace TAVDll
