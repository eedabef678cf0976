/*
 * TAVUsbBackend.h - the USB seam of libtav.
 *
 * Every libusb call the library makes goes through this table. By default it
 * holds libusb 0.1's own functions. A test harness, a simulator or a tool may
 * install a table of its own (the virtual USB bus of the tavsim library does)
 * and put the default back afterwards. This is not part of TAVDll::TAVLib and
 * an ordinary application never needs it.
 *
 * Install only while no board is open; the library does not guard against a
 * handle of one backend being passed to another.
 */
#ifndef TAV_USB_BACKEND_H
#define TAV_USB_BACKEND_H

#include "TAVLib.h"

namespace TAVDll {

struct UsbBackend {
    void (*init)();
    int (*findBusses)();
    int (*findDevices)();
    usb_bus* (*getBusses)();
    usb_dev_handle* (*open)(struct usb_device* device);
    int (*setConfiguration)(usb_dev_handle* handle, int configuration);
    int (*claimInterface)(usb_dev_handle* handle, int interfaceNumber);
    int (*close)(usb_dev_handle* handle);
    int (*bulkWrite)(usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeoutMs);
    int (*bulkRead)(usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs);
};

/* Makes backend the table every later USB call goes through; null restores
 * libusb's own functions. The table must stay valid while it is installed.
 * Returns the table that was installed before. */
TAV_API const UsbBackend* InstallUsbBackend(const UsbBackend* backend);

/* libusb 0.1's own functions. */
TAV_API const UsbBackend* SystemUsbBackend();

} // namespace TAVDll

#endif /* TAV_USB_BACKEND_H */
