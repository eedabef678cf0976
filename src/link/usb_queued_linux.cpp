// The queued USB backend on Linux: libusb-1.0, whose asynchronous transfers
// let an operation's records go out back to back (up to 19 in one 1 ms
// full-speed frame) instead of one per frame round trip. Enumeration and the
// one-transfer calls present libusb-1.0's devices in libusb 0.1's shapes
// (bus "001", device "010"), so that selectors, listing and the connection
// steps work on it unchanged.
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "link/board_link.h"

namespace TAVDll {

namespace {

struct QueuedHandle;

// Where a transfer's completion goes: its handle and its place in the queue.
struct QueueSlot {
    QueuedHandle* owner;
    int index;
};

// What stands behind a usb_dev_handle* of this backend.
struct QueuedHandle {
    libusb_device_handle* device = nullptr;
    int claimedInterface = -1;
    // Allocated as a queue first needs them and kept: after warm-up a queue
    // allocates nothing of its own.
    libusb_transfer* pool[USB_QUEUE_DEPTH] = {};
    QueueSlot slots[USB_QUEUE_DEPTH] = {};
    // The queue running now (one per handle: the board's lock is held).
    int* results = nullptr;
    std::atomic<int> outstanding{0};
    std::atomic<int> stopIndex{INT_MAX}; // the first transfer that timed out or found the device gone
    int done = 0;                        // libusb's completion flag for this queue (it reads it under its lock)
    std::atomic<bool> finished{false};   // the same, for this thread's own loop
};

struct QueuedUsb {
    libusb_context* context = nullptr;
    std::atomic<int> openHandles{0};
    // The last enumeration in libusb 0.1's shapes; the libusb-1.0 devices
    // behind it stay referenced until the next one.
    libusb_device** deviceList = nullptr;
    std::vector<std::unique_ptr<usb_bus>> busses;
    std::vector<std::unique_ptr<struct usb_device>> devices;
};

QueuedHandle* FromHandle(usb_dev_handle* handle)
{
    return reinterpret_cast<QueuedHandle*>(handle);
}

QueuedUsb& State(void* context)
{
    return *static_cast<QueuedUsb*>(context);
}

// libusb 0.1's negative errno values for libusb-1.0's errors.
int ErrnoOf(int error)
{
    switch (error) {
    case LIBUSB_ERROR_TIMEOUT: return -ETIMEDOUT;
    case LIBUSB_ERROR_NO_DEVICE: return -ENODEV;
    case LIBUSB_ERROR_ACCESS: return -EACCES;
    case LIBUSB_ERROR_BUSY: return -EBUSY;
    case LIBUSB_ERROR_INVALID_PARAM: return -EINVAL;
    case LIBUSB_ERROR_NOT_FOUND: return -ENOENT;
    case LIBUSB_ERROR_NO_MEM: return -ENOMEM;
    case LIBUSB_ERROR_OVERFLOW: return -EOVERFLOW;
    case LIBUSB_ERROR_PIPE: return -EPIPE;
    case LIBUSB_ERROR_INTERRUPTED: return -EINTR;
    case LIBUSB_ERROR_NOT_SUPPORTED: return -ENOSYS;
    default: return -EIO;
    }
}

// One bulk transfer as usb_bulk_write/usb_bulk_read report it: a stalled
// transfer shows as the bytes it moved (0), as libusb 0.1 has it.
int BulkTransfer(usb_dev_handle* handle, int endpoint, unsigned char* bytes, int size, int timeoutMs)
{
    QueuedHandle* queued = FromHandle(handle);
    if (queued == nullptr || size < 0)
        return -EINVAL;
    int moved = 0;
    const int error = libusb_bulk_transfer(queued->device, static_cast<unsigned char>(endpoint), bytes, size, &moved,
                                           static_cast<unsigned int>(timeoutMs));
    if (error == 0 || error == LIBUSB_ERROR_PIPE)
        return moved;
    return ErrnoOf(error);
}

int QueuedResult(const libusb_transfer& transfer)
{
    switch (transfer.status) {
    case LIBUSB_TRANSFER_COMPLETED:
    case LIBUSB_TRANSFER_STALL: return transfer.actual_length;
    case LIBUSB_TRANSFER_TIMED_OUT: return -ETIMEDOUT;
    case LIBUSB_TRANSFER_NO_DEVICE: return -ENODEV;
    case LIBUSB_TRANSFER_OVERFLOW: return -EOVERFLOW;
    case LIBUSB_TRANSFER_CANCELLED: return transfer.actual_length > 0 ? transfer.actual_length : USB_NOT_SENT;
    default: return -EIO;
    }
}

// Runs where libusb handles events, maybe on another board's thread.
void LIBUSB_CALL OnQueuedTransferDone(libusb_transfer* transfer)
{
    QueueSlot& slot = *static_cast<QueueSlot*>(transfer->user_data);
    QueuedHandle& queued = *slot.owner;
    const int result = QueuedResult(*transfer);
    queued.results[slot.index] = result;
    if (result == -ETIMEDOUT || result == -ENODEV) {
        int stop = queued.stopIndex.load();
        while (slot.index < stop && !queued.stopIndex.compare_exchange_weak(stop, slot.index)) {
        }
    }
    if (queued.outstanding.fetch_sub(1) == 1) {
        queued.finished.store(true);
        queued.done = 1;
    }
}

int QueueWrite(void* context, usb_dev_handle* handle, int endpoint, const char* bytes, int size, int count,
               int timeoutMs, int* results)
{
    QueuedHandle* queued = FromHandle(handle);
    if (queued == nullptr || count < 0 || count > USB_QUEUE_DEPTH || size < 0)
        return -EINVAL;
    std::fill(results, results + count, USB_NOT_SENT);
    queued->results = results;
    queued->stopIndex.store(INT_MAX);
    queued->done = 0;
    queued->finished.store(false);
    // One count more than submitted until every submission is made, so that
    // completions on another thread cannot end the queue early.
    queued->outstanding.store(1);
    int submitted = 0;
    for (; submitted < count; ++submitted) {
        libusb_transfer*& transfer = queued->pool[submitted];
        if (transfer == nullptr && (transfer = libusb_alloc_transfer(0)) == nullptr)
            break;
        queued->slots[submitted] = QueueSlot{queued, submitted};
        libusb_fill_bulk_transfer(transfer, queued->device, static_cast<unsigned char>(endpoint),
                                  reinterpret_cast<unsigned char*>(const_cast<char*>(bytes)) + submitted * size, size,
                                  OnQueuedTransferDone, &queued->slots[submitted],
                                  static_cast<unsigned int>(timeoutMs));
        queued->outstanding.fetch_add(1);
        const int error = libusb_submit_transfer(transfer);
        if (error != 0) {
            queued->outstanding.fetch_sub(1);
            if (error == LIBUSB_ERROR_NO_DEVICE) {
                results[submitted] = -ENODEV;
                queued->stopIndex.store(std::min(queued->stopIndex.load(), submitted));
            }
            break; // the rest is the caller's to send one by one
        }
    }
    if (queued->outstanding.fetch_sub(1) == 1) {
        queued->finished.store(true);
        queued->done = 1;
    }
    // Wait for every submitted transfer: their buffers are the caller's.
    bool cancelled = false;
    while (!queued->finished.load()) {
        libusb_handle_events_completed(State(context).context, &queued->done);
        const int stop = queued->stopIndex.load();
        if (!cancelled && stop < submitted) {
            // Nothing more after a time-out or a vanished board.
            for (int later = stop + 1; later < submitted; ++later)
                libusb_cancel_transfer(queued->pool[later]);
            cancelled = true;
        }
    }
    // What failed after the stop never counts as sent: the one-by-one path
    // would not have tried it.
    const int stop = queued->stopIndex.load();
    for (int later = stop < count ? stop + 1 : count; later < count; ++later) {
        if (results[later] < 0)
            results[later] = USB_NOT_SENT;
    }
    queued->results = nullptr;
    return submitted;
}

void CopyDescriptor(const libusb_device_descriptor& from, usb_device_descriptor* to)
{
    to->bLength = from.bLength;
    to->bDescriptorType = from.bDescriptorType;
    to->bcdUSB = from.bcdUSB;
    to->bDeviceClass = from.bDeviceClass;
    to->bDeviceSubClass = from.bDeviceSubClass;
    to->bDeviceProtocol = from.bDeviceProtocol;
    to->bMaxPacketSize0 = from.bMaxPacketSize0;
    to->idVendor = from.idVendor;
    to->idProduct = from.idProduct;
    to->bcdDevice = from.bcdDevice;
    to->iManufacturer = from.iManufacturer;
    to->iProduct = from.iProduct;
    to->iSerialNumber = from.iSerialNumber;
    to->bNumConfigurations = from.bNumConfigurations;
}

void ForgetDevices(QueuedUsb& usb)
{
    usb.busses.clear();
    usb.devices.clear();
    if (usb.deviceList != nullptr)
        libusb_free_device_list(usb.deviceList, 1);
    usb.deviceList = nullptr;
}

// A context of its own for every enumeration while no board is open: it
// sees the bus as it is now, also where no hotplug events reach libusb.
void Init(QueuedUsb& usb)
{
    if (usb.context != nullptr && usb.openHandles.load() > 0)
        return;
    ForgetDevices(usb);
    if (usb.context != nullptr)
        libusb_exit(usb.context);
    usb.context = nullptr;
    if (libusb_init(&usb.context) != 0)
        usb.context = nullptr;
}

// Busses and devices in ascending number, named as libusb 0.1 names them.
int Enumerate(QueuedUsb& usb)
{
    ForgetDevices(usb);
    if (usb.context == nullptr)
        return 0;
    const ssize_t count = libusb_get_device_list(usb.context, &usb.deviceList);
    if (count < 0) {
        usb.deviceList = nullptr;
        return 0;
    }
    std::vector<libusb_device*> found(usb.deviceList, usb.deviceList + count);
    std::sort(found.begin(), found.end(), [](libusb_device* left, libusb_device* right) {
        const int leftKey = libusb_get_bus_number(left) * 256 + libusb_get_device_address(left);
        return leftKey < libusb_get_bus_number(right) * 256 + libusb_get_device_address(right);
    });
    usb_bus* bus = nullptr;
    struct usb_device* lastDevice = nullptr;
    for (libusb_device* device : found) {
        const unsigned busNumber = libusb_get_bus_number(device);
        if (bus == nullptr || bus->location != busNumber) {
            usb.busses.push_back(std::make_unique<usb_bus>());
            usb_bus* next = usb.busses.back().get();
            next->location = busNumber;
            std::snprintf(next->dirname, sizeof next->dirname, "%03u", busNumber);
            if (bus != nullptr) {
                bus->next = next;
                next->prev = bus;
            }
            bus = next;
            lastDevice = nullptr;
        }
        usb.devices.push_back(std::make_unique<struct usb_device>());
        struct usb_device* entry = usb.devices.back().get();
        entry->bus = bus;
        entry->dev = device;
        entry->devnum = libusb_get_device_address(device);
        std::snprintf(entry->filename, sizeof entry->filename, "%03u", static_cast<unsigned>(entry->devnum));
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) == 0)
            CopyDescriptor(descriptor, &entry->descriptor);
        if (lastDevice == nullptr) {
            bus->devices = entry;
        } else {
            lastDevice->next = entry;
            entry->prev = lastDevice;
        }
        lastDevice = entry;
    }
    return static_cast<int>(usb.devices.size());
}

UsbBackend MakeQueuedBackend(QueuedUsb* usb)
{
    UsbBackend table{};
    table.context = usb;
    table.init = [](void* context) { Init(State(context)); };
    table.findBusses = [](void*) { return 0; }; // the device walk finds them
    table.findDevices = [](void* context) { return Enumerate(State(context)); };
    table.getBusses = [](void* context) {
        QueuedUsb& state = State(context);
        return state.busses.empty() ? nullptr : state.busses.front().get();
    };
    table.open = [](void* context, struct usb_device* device) -> usb_dev_handle* {
        if (device == nullptr || device->dev == nullptr)
            return nullptr;
        std::unique_ptr<QueuedHandle> queued(new (std::nothrow) QueuedHandle);
        if (queued == nullptr || libusb_open(static_cast<libusb_device*>(device->dev), &queued->device) != 0)
            return nullptr;
        State(context).openHandles.fetch_add(1);
        return reinterpret_cast<usb_dev_handle*>(queued.release());
    };
    table.setConfiguration = [](void*, usb_dev_handle* handle, int configuration) {
        const int error = libusb_set_configuration(FromHandle(handle)->device, configuration);
        return error == 0 ? 0 : ErrnoOf(error);
    };
    table.claimInterface = [](void*, usb_dev_handle* handle, int interfaceNumber) {
        QueuedHandle* queued = FromHandle(handle);
        const int error = libusb_claim_interface(queued->device, interfaceNumber);
        if (error != 0)
            return ErrnoOf(error);
        queued->claimedInterface = interfaceNumber;
        return 0;
    };
    table.close = [](void* context, usb_dev_handle* handle) {
        QueuedHandle* queued = FromHandle(handle);
        if (queued == nullptr)
            return -EINVAL;
        if (queued->claimedInterface >= 0)
            libusb_release_interface(queued->device, queued->claimedInterface);
        for (libusb_transfer* transfer : queued->pool)
            libusb_free_transfer(transfer);
        libusb_close(queued->device);
        delete queued;
        State(context).openHandles.fetch_sub(1);
        return 0;
    };
    table.bulkWrite = [](void*, usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeoutMs) {
        // libusb-1.0 takes OUT data through a pointer to non-const; it only reads it.
        return BulkTransfer(handle, endpoint, reinterpret_cast<unsigned char*>(const_cast<char*>(bytes)), size,
                            timeoutMs);
    };
    table.bulkRead = [](void*, usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs) {
        return BulkTransfer(handle, endpoint, reinterpret_cast<unsigned char*>(bytes), size, timeoutMs);
    };
    table.bulkWriteQueue = QueueWrite;
    return table;
}

} // namespace

const UsbBackend* detail::QueuedUsbBackend()
{
    // Made once and kept for the process: open boards refer to it.
    static QueuedUsb* const usb = new QueuedUsb;
    static const UsbBackend table = MakeQueuedBackend(usb);
    return &table;
}

} // namespace TAVDll
