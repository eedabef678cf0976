/*
 * TAVUsbBackend.h - the USB seam of libtav.
 *
 * Every libusb call the library makes goes through a table of this type. By
 * default it holds libusb 0.1's own functions. A test harness, a simulator or
 * a tool may install a table of its own for the process (the virtual USB bus
 * of the simulator does) and put the default back afterwards. This is not part
 * of TAVDll::TAVLib and an ordinary application never needs it.
 *
 * The installed table serves the default board of the static TAVLib
 * functions and the boards that tav_open() finds on the bus ("", "usb:..."
 * selectors). It stands in for both of the system's USB libraries: boards
 * of "queued:" selectors go through it too, with its bulkWriteQueue (one by
 * one where it has none). A board opened with a "sim:" selector has a
 * virtual bus of its own and never goes through the installed table.
 *
 * Install only while no board is open; a handle of one backend must never
 * reach another.
 */
#ifndef TAV_USB_BACKEND_H
#define TAV_USB_BACKEND_H

#include "TAVLib.h"

namespace TAVDll {

/* Each member is the libusb 0.1 call of the same name, with the table's
 * context as an extra first argument. Results and errors are libusb 0.1's:
 * a negative errno value of this platform's C library for a failure, with
 * -ETIMEDOUT for a time-out and -ENODEV for a device that is gone. (On
 * Windows the system table translates libusb-win32's own numbers into these:
 * its time-out is -116, and a device that is gone shows as -EIO there.) */
struct UsbBackend {
    /* Handed to every call below; null in libusb's own table. */
    void* context;
    /* usb_init: prepares the library; may be called again. */
    void (*init)(void* context);
    /* usb_find_busses: refreshes the bus list; returns the number of changes. */
    int (*findBusses)(void* context);
    /* usb_find_devices: refreshes each bus's device list; returns the number of changes. */
    int (*findDevices)(void* context);
    /* usb_get_busses: the head of the bus list of the last enumeration. */
    usb_bus* (*getBusses)(void* context);
    /* usb_open: a handle for the device, or null. */
    usb_dev_handle* (*open)(void* context, struct usb_device* device);
    /* usb_set_configuration: 0 or a negative error. */
    int (*setConfiguration)(void* context, usb_dev_handle* handle, int configuration);
    /* usb_claim_interface: 0 or a negative error. */
    int (*claimInterface)(void* context, usb_dev_handle* handle, int interfaceNumber);
    /* usb_close: releases the handle and every interface it claimed. */
    int (*close)(void* context, usb_dev_handle* handle);
    /* usb_bulk_write: bytes moved, or a negative error (-ETIMEDOUT, -ENODEV, ...). */
    int (*bulkWrite)(void* context, usb_dev_handle* handle, int endpoint, const char* bytes, int size,
                     int timeoutMs);
    /* usb_bulk_read: bytes received, or a negative error. */
    int (*bulkRead)(void* context, usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs);
    /* Optional; null where the USB library has no queue (libusb 0.1). Sends
     * count transfers of size bytes each, taken in order from bytes, back to
     * back: each is submitted without waiting for the one before, and the
     * call returns once every submitted transfer has ended. results[i] gets
     * what bulkWrite would have returned for transfer i (bytes moved or a
     * negative error), or USB_NOT_SENT for a transfer that never reached the
     * bus: not submitted (the queue could not take it) or cancelled because
     * an earlier one timed out or found the device gone. A transfer already
     * on the bus when such an earlier one failed may still have arrived; its
     * result says so. count is at most USB_QUEUE_DEPTH. */
    int (*bulkWriteQueue)(void* context, usb_dev_handle* handle, int endpoint, const char* bytes, int size,
                          int count, int timeoutMs, int* results);
};

/* The result of a queued transfer that never reached the bus. */
constexpr int USB_NOT_SENT = -0x40000000;
/* The most transfers one bulkWriteQueue call takes. */
constexpr int USB_QUEUE_DEPTH = 128;

/* Makes backend the table every later USB call of the process's default
 * board (and of boards found on the bus) goes through; null restores
 * libusb's own functions. The table must stay valid while it is installed.
 * Returns the table that was installed before. */
TAV_API const UsbBackend* InstallUsbBackend(const UsbBackend* backend);

/* The system's libusb 0.1: Debian's libusb on Linux; on Windows
 * libusb-win32's libusb0.dll, loaded at the first enumeration. Without it
 * the table still works and finds no busses. */
TAV_API const UsbBackend* SystemUsbBackend();

/* The address of a device as selectors ("usb:BUS:DEV") and `tavctl list`
 * give it. Linux: the decimal usbfs names, bus "001" and device "010" are
 * 1:10. Windows (libusb-win32): the number of the bus "bus-0" and the number
 * of the driver's device "\\.\libusb0-0001--0x4c52-0x0101", so 0:1. False
 * when the names have another form (nothing is written then). */
TAV_API bool UsbDeviceAddress(const usb_bus* bus, const struct usb_device* device, unsigned long* busNumber,
                              unsigned long* deviceNumber);

/* Null when the system's USB library is there; otherwise, in words, why the
 * bus shows no boards ("libusb-win32 is not installed: libusb0.dll not
 * found"). Static text. */
TAV_API const char* UsbLibraryProblem();

} // namespace TAVDll

#endif /* TAV_USB_BACKEND_H */
