// The parts of the libusb-1.0 backend its files share (usb_libusb1.cpp: the
// library, its devices and the table; usb_libusb1_transfers.cpp: transfers,
// one by one and queued; usb_libusb1_hotplug.cpp: hotplug events). Private to
// src/usb/.
#ifndef TAV_USB_LIBUSB1_PRIVATE_H
#define TAV_USB_LIBUSB1_PRIVATE_H

#include <libusb-1.0/libusb.h>

#include <atomic>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "usb/usb_backend.h"

namespace TAVDll::libusb1 {

// The libusb-1.0 functions the backend calls. The hotplug five are optional
// (null where the DLL has none).
struct Libusb1Api {
    decltype(&libusb_has_capability) hasCapability;
    decltype(&libusb_hotplug_register_callback) hotplugRegisterCallback;
    decltype(&libusb_hotplug_deregister_callback) hotplugDeregisterCallback;
    decltype(&libusb_handle_events_timeout_completed) handleEventsTimeoutCompleted;
    decltype(&libusb_interrupt_event_handler) interruptEventHandler;
    decltype(&libusb_init) init;
    decltype(&libusb_exit) exit;
    decltype(&libusb_get_device_list) getDeviceList;
    decltype(&libusb_free_device_list) freeDeviceList;
    decltype(&libusb_get_bus_number) getBusNumber;
    decltype(&libusb_get_device_address) getDeviceAddress;
    decltype(&libusb_get_port_numbers) getPortNumbers;
    decltype(&libusb_get_device_descriptor) getDeviceDescriptor;
    decltype(&libusb_open) open;
    decltype(&libusb_close) close;
    decltype(&libusb_set_configuration) setConfiguration;
    decltype(&libusb_claim_interface) claimInterface;
    decltype(&libusb_release_interface) releaseInterface;
    decltype(&libusb_bulk_transfer) bulkTransfer;
    decltype(&libusb_alloc_transfer) allocTransfer;
    decltype(&libusb_free_transfer) freeTransfer;
    decltype(&libusb_submit_transfer) submitTransfer;
    decltype(&libusb_cancel_transfer) cancelTransfer;
    decltype(&libusb_handle_events_completed) handleEventsCompleted;
};

// libusb-1.0's functions: linked on Linux; on Windows loaded at the first
// call (null without libusb-1.0.dll).
const Libusb1Api* Load();
// Only reached with a device or a handle, which exist only once loaded.
const Libusb1Api& Api();

struct QueuedHandle;

// Where a transfer's completion goes: its handle and its place in the queue.
struct QueueSlot {
    QueuedHandle* owner;
    int index;
};

// What stands behind a usb_dev_handle* of this backend.
struct QueuedHandle {
    libusb_device_handle* device = nullptr;
    libusb_context* context = nullptr; // the one it was opened in: its events are handled there
    int claimedInterface = -1;
    // Allocated as a queue first needs them and kept: after warm-up a queue
    // allocates nothing of its own.
    libusb_transfer* pool[USB_QUEUE_DEPTH] = {};
    QueueSlot slots[USB_QUEUE_DEPTH] = {};
    // The queue running now (one per handle: the board's lock is held).
    int* results = nullptr;
    std::atomic<int> outstanding{0};
    std::atomic<int> stopIndex{INT_MAX}; // the first transfer that timed out or found the device gone
    std::atomic<int> submitted{0};       // transfers of the queue submitted so far
    int done = 0;                        // libusb's completion flag for this queue (it reads it under its lock)
    std::atomic<bool> finished{false};   // the same, for this thread's own loop
};

struct QueuedUsb {
    // The context of the last enumeration. One that handles were opened in
    // lives on until its last handle closes, also after a fresh look made
    // another one current.
    libusb_context* context = nullptr;
    std::mutex contextsMutex; // handlesIn: opens and closes come from any board's thread
    std::map<libusb_context*, int> handlesIn;
    // The last enumeration in libusb 0.1's shapes; the libusb-1.0 devices
    // behind it stay referenced until the next one.
    libusb_device** deviceList = nullptr;
    std::vector<std::unique_ptr<usb_bus>> busses;
    std::vector<std::unique_ptr<struct usb_device>> devices;
};

inline QueuedHandle* FromHandle(usb_dev_handle* handle)
{
    return reinterpret_cast<QueuedHandle*>(handle);
}

inline QueuedUsb& State(void* context)
{
    return *static_cast<QueuedUsb*>(context);
}

// libusb 0.1's negative errno values for libusb-1.0's errors.
int ErrnoOf(int error);

// usb_bulk_write and usb_bulk_read on a handle of this backend.
int BulkTransfer(usb_dev_handle* handle, int endpoint, unsigned char* bytes, int size, int timeoutMs);

// The table's bulkWriteQueue.
int QueueWrite(void* context, usb_dev_handle* handle, int endpoint, const char* bytes, int size, int count,
               int timeoutMs, int* results);

} // namespace TAVDll::libusb1

#endif
