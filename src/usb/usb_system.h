/*
 * usb/usb_system.h - which USB tables the library reaches boards through:
 * the system's USB libraries, the table a harness installed, and libusb
 * 0.1's process-wide discovery lock. Private to the library and its tests;
 * nothing here knows of boards, records or links.
 */
#ifndef TAV_USB_USB_SYSTEM_H
#define TAV_USB_USB_SYSTEM_H

#include "base/library_mutex.h"
#include "usb/usb_backend.h"

namespace TAVDll::detail {

// The table of the system's libusb 0.1, made once: one file per platform
// (usb/usb_libusb0_linux.cpp, usb/usb_libusb_win32.cpp).
UsbBackend MakeSystemBackend();

// The installed USB backend (InstallUsbBackend), or the system's.
const UsbBackend* InstalledUsbBackend();

// The most USB libraries a board on the bus may be reached through.
constexpr int BUS_BACKEND_LIMIT = 2;
// The tables a board on the bus is looked for in, in order, into tables;
// their number. The installed one when a harness installed one; otherwise
// the system's (SystemBusBackends): on Linux libusb 0.1, or libusb-1.0 for
// queued boards; on Windows libusb-win32, then libusb-1.0.
int BusBackends(bool queued, const UsbBackend* tables[BUS_BACKEND_LIMIT]);
int SystemBusBackends(bool queued, const UsbBackend* tables[BUS_BACKEND_LIMIT]);

// Whether libusb-1.0 is there (always on Linux, where it is linked), and
// whether it last found a board bound to a driver it cannot reach.
bool Libusb1Present();
bool Libusb1SawUnreachableBoard();
// Why libusb-1.0.dll did not load: Windows' error, 193 for a DLL of the
// other architecture; 0 when it loaded (and on Linux).
unsigned long Libusb1LoadError();

// libusb 0.1 keeps one process-wide bus list: usb_init, usb_find_busses,
// usb_find_devices and every walk of usb_get_busses hold this lock. Taken
// after a board's own lock, never before it.
LibraryMutex& DiscoveryMutex();

// Called with the newly installed table after each InstallUsbBackend
// (the process's default board takes it between operations). Set once.
void SetUsbBackendInstalled(void (*listener)(const UsbBackend* installed));

} // namespace TAVDll::detail

#endif /* TAV_USB_USB_SYSTEM_H */
