#include "link/usb_backend.h"

namespace TAVDll {
namespace {

// Plain calls of libusb 0.1: ordinary dynamic linking, no dlopen.
const UsbBackend kSystemBackend = {
    [] { usb_init(); },
    [] { return usb_find_busses(); },
    [] { return usb_find_devices(); },
    [] { return usb_get_busses(); },
    [](struct usb_device* device) { return usb_open(device); },
    [](usb_dev_handle* handle, int configuration) { return usb_set_configuration(handle, configuration); },
    [](usb_dev_handle* handle, int interfaceNumber) { return usb_claim_interface(handle, interfaceNumber); },
    [](usb_dev_handle* handle) { return usb_close(handle); },
    [](usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeoutMs) {
        return usb_bulk_write(handle, endpoint, bytes, size, timeoutMs);
    },
    [](usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs) {
        return usb_bulk_read(handle, endpoint, bytes, size, timeoutMs);
    },
};

const UsbBackend* activeBackend = &kSystemBackend;

} // namespace

const UsbBackend* InstallUsbBackend(const UsbBackend* backend)
{
    const UsbBackend* previous = activeBackend;
    activeBackend = backend != nullptr ? backend : &kSystemBackend;
    return previous;
}

const UsbBackend* SystemUsbBackend()
{
    return &kSystemBackend;
}

namespace detail {

const UsbBackend& Usb()
{
    return *activeBackend;
}

} // namespace detail
} // namespace TAVDll
