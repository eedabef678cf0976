/*
 * usb/usb_backend.h - the USB seam of libtav (private to the library, its
 * virtual bus and its tests).
 *
 * Every USB call the library makes goes through a table of this type, one
 * table per USB library, each in a file of its own:
 *   usb_libusb0_linux.cpp  libusb 0.1 on Linux (Debian's libusb-compat), linked
 *   usb_libusb_win32.cpp   libusb-win32's libusb0.dll on Windows, loaded at run time
 *   usb_libusb1.cpp        libusb-1.0: "queued:" boards on Linux (linked); on
 *                          Windows libusb-1.0.dll, loaded at run time, for
 *                          boards bound to WinUSB or libusbK
 * and the virtual bus of sim/ (virtual_usb.cpp). The tables speak libusb
 * 0.1's shapes (usb_bus, usb_device, usb_dev_handle): that is what the
 * static TAVLib functions hand to applications, and the other libraries
 * present their devices in it.
 *
 * A harness may install a table of its own for the process (the virtual bus
 * does) and put the default back afterwards. The installed table serves the
 * default board of the static TAVLib functions and the boards that tav_open()
 * finds on the bus; boards of "sim:" selectors have a virtual bus of their
 * own. Install only while no board is open; a handle of one table must never
 * reach another.
 */
#ifndef TAV_USB_USB_BACKEND_H
#define TAV_USB_USB_BACKEND_H

#include "TAVLib.h"
#include "board_facts.h"

namespace TAVDll {

/* Each member is the libusb 0.1 call of the same name, with the table's
 * context as an extra first argument. Results and errors are libusb 0.1's:
 * a negative errno value of this platform's C library for a failure, with
 * -ETIMEDOUT for a time-out, -ENODEV for a device that is gone, -EACCES for
 * no permission and -EBUSY for an interface another program holds. Each
 * table translates its library's own numbers into these. */
struct UsbBackend {
    /* Handed to every call below; null in the system tables. */
    void* context;
    /* The USB library behind the table, as `tavctl list` names it:
     * "libusb 0.1", "libusb-win32", "libusb-1.0", "virtual". */
    const char* name;
    /* usb_init: prepares the library; may be called again. */
    void (*init)(void* context);
    /* usb_find_busses: refreshes the bus list; returns the number of changes. */
    int (*findBusses)(void* context);
    /* usb_find_devices: refreshes each bus's device list; returns the number of changes. */
    int (*findDevices)(void* context);
    /* usb_get_busses: the head of the bus list of the last enumeration. */
    usb_bus* (*getBusses)(void* context);
    /* The device's address as selectors ("usb:BUS:DEV") and `tavctl list`
     * give it, from the names this library gives its busses and devices.
     * False where it has none (nothing is written then). */
    bool (*deviceAddress)(void* context, const usb_bus* bus, const struct usb_device* device,
                          unsigned long* busNumber, unsigned long* deviceNumber);
    /* Where the device is plugged in, as Linux's sysfs names it: the bus,
     * then the hub ports from the root ("1-3.2"), into path (size bytes, NUL
     * ended). It stays when the device is plugged in again on the same port,
     * where its device number changes. False where the library cannot tell
     * (nothing is written then); null in a table that never can. */
    bool (*portPath)(void* context, const usb_bus* bus, const struct usb_device* device, char* path,
                     size_t size);
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
     * result says so. count is at most USB_QUEUE_DEPTH. Returns the number
     * submitted, or a negative error. */
    int (*bulkWriteQueue)(void* context, usb_dev_handle* handle, int endpoint, const char* bytes, int size,
                          int count, int timeoutMs, int* results);
    /* Optional; null where init always sees the bus as it is now. Like
     * init, also while handles are open (libusb-1.0 keeps the devices it
     * knows while one is: where no hotplug event tells it of a new board,
     * only a fresh look finds it). */
    void (*rescan)(void* context);
};

/* Whether a device of the bus is a TAV board (its USB vendor and product). */
inline bool IsBoardDevice(const struct usb_device& device)
{
    return device.descriptor.idVendor == detail::BOARD_VENDOR_ID
           && device.descriptor.idProduct == detail::BOARD_PRODUCT_ID;
}

/* The result of a queued transfer that never reached the bus. */
constexpr int USB_NOT_SENT = -0x40000000;
/* The most transfers one bulkWriteQueue call takes. */
constexpr int USB_QUEUE_DEPTH = 128;

/* Makes backend the table every later USB call of the process's default
 * board (and of boards found on the bus) goes through; null restores the
 * system's. The table must stay valid while it is installed. Returns the
 * table that was installed before. */
const UsbBackend* InstallUsbBackend(const UsbBackend* backend);

/* The system's libusb 0.1: Debian's libusb on Linux; on Windows
 * libusb-win32's libusb0.dll, loaded at the first enumeration. Without it
 * the table still works and finds no busses. */
const UsbBackend* SystemUsbBackend();

/* libusb-1.0, where this build has it: linked on Linux, libusb-1.0.dll
 * loaded at the first enumeration on Windows (without it the table finds no
 * busses). */
const UsbBackend* Libusb1Backend();

/* libusb-1.0's hotplug events, where it has them (Linux): a waiter that
 * returns early when a TAV board arrives or leaves. OpenUsbHotplug is null
 * where there are none (Windows' libusb-1.0, a libusb without them). */
struct UsbHotplug;
UsbHotplug* OpenUsbHotplug();
/* Waits up to milliseconds; true when a TAV board arrived or left. */
bool WaitUsbHotplug(UsbHotplug* hotplug, int milliseconds);
/* Ends a wait at once, from another thread. */
void WakeUsbHotplug(UsbHotplug* hotplug);
void CloseUsbHotplug(UsbHotplug* hotplug);

/* Null when a USB library is there and nothing was seen that it cannot
 * reach; otherwise, in words, what is missing or unreachable. Static text. */
const char* UsbLibraryProblem();
/* The USB libraries this platform uses and whether each was found. Static. */
const char* UsbLibraries();
// After the static TAVLib functions' Open() found no board: why, where their
// USB library is missing but another one is there (Windows: libusb0.dll
// missing, libusb-1.0.dll found), or NULL; UsbLibraryProblem says it too from
// then on.
const char* StaticOpenProblem();

/* The address in libusb 0.1's usbfs names on Linux: bus "001", device
 * "010" are 1:10. Serves the Linux table and the virtual bus. */
bool UsbfsDeviceAddress(void* context, const usb_bus* bus, const struct usb_device* device,
                        unsigned long* busNumber, unsigned long* deviceNumber);

/* The most bytes of a port path with its NUL: a bus number and seven hub
 * ports ("255-15.15.15.15.15.15.15"). */
constexpr size_t USB_PORT_PATH_SIZE = 32;
/* "BUS-PORT.PORT...": bus 1..255, 1 to 7 ports of 1..255, decimal without
 * leading zeros. */
bool ValidPortPath(const char* text);
/* The port path of bus busNumber and the ports, as ValidPortPath reads it. */
bool FormatPortPath(unsigned busNumber, const uint8_t* ports, int portCount, char* path, size_t size);

/* Decimal digits only, at most 9 (leading zeros are decimal, never octal). */
bool ParseDecimal(const char* text, size_t length, unsigned long* value);

} // namespace TAVDll

#endif /* TAV_USB_USB_BACKEND_H */
