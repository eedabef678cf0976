// libusb-1.0: on Linux the backend of "queued:" boards, whose asynchronous
// transfers let an operation's records go out back to back (up to 19 in one
// 1 ms full-speed frame) instead of one per frame round trip; on Windows the
// library of boards bound to WinUSB or libusbK, one by one or queued.
// Enumeration and the one-transfer calls present libusb-1.0's devices in
// libusb 0.1's shapes (bus "001", device "010"), so that selectors, listing
// and the connection steps work on it unchanged.
//
// Linux links libusb-1.0; Windows loads libusb-1.0.dll at the first
// enumeration (usb_dll_windows.h), so that tav.dll loads without it. Either
// way every call goes through one table of the functions used, typed from
// libusb.h (LIBUSB_CALL is WINAPI on 32-bit Windows).
#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "usb/usb_system.h"
#if defined(_WIN32)
#include "usb/usb_dll_windows.h"
#endif

namespace TAVDll {

namespace {

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

#if defined(_WIN32)
UsbDll<Libusb1Api> dll(LIBUSB1_DLL);

bool ResolveHotplug(HMODULE module, Libusb1Api& functions)
{
    const bool complete = Resolve(module, "libusb_has_capability", &functions.hasCapability)
                          && Resolve(module, "libusb_hotplug_register_callback", &functions.hotplugRegisterCallback)
                          && Resolve(module, "libusb_hotplug_deregister_callback",
                                     &functions.hotplugDeregisterCallback)
                          && Resolve(module, "libusb_handle_events_timeout_completed",
                                     &functions.handleEventsTimeoutCompleted)
                          && Resolve(module, "libusb_interrupt_event_handler", &functions.interruptEventHandler);
    if (!complete)
        functions.hasCapability = nullptr;
    return complete;
}

const Libusb1Api* Load()
{
    return dll.Load([](HMODULE module, Libusb1Api& functions) {
        return Resolve(module, "libusb_init", &functions.init)
            && Resolve(module, "libusb_exit", &functions.exit)
            && Resolve(module, "libusb_get_device_list", &functions.getDeviceList)
            && Resolve(module, "libusb_free_device_list", &functions.freeDeviceList)
            && Resolve(module, "libusb_get_bus_number", &functions.getBusNumber)
            && Resolve(module, "libusb_get_device_address", &functions.getDeviceAddress)
            && Resolve(module, "libusb_get_port_numbers", &functions.getPortNumbers)
            && Resolve(module, "libusb_get_device_descriptor", &functions.getDeviceDescriptor)
            && Resolve(module, "libusb_open", &functions.open)
            && Resolve(module, "libusb_close", &functions.close)
            && Resolve(module, "libusb_set_configuration", &functions.setConfiguration)
            && Resolve(module, "libusb_claim_interface", &functions.claimInterface)
            && Resolve(module, "libusb_release_interface", &functions.releaseInterface)
            && Resolve(module, "libusb_bulk_transfer", &functions.bulkTransfer)
            && Resolve(module, "libusb_alloc_transfer", &functions.allocTransfer)
            && Resolve(module, "libusb_free_transfer", &functions.freeTransfer)
            && Resolve(module, "libusb_submit_transfer", &functions.submitTransfer)
            && Resolve(module, "libusb_cancel_transfer", &functions.cancelTransfer)
            && Resolve(module, "libusb_handle_events_completed", &functions.handleEventsCompleted)
            && (ResolveHotplug(module, functions) || true);
    });
}

const Libusb1Api* Loaded()
{
    return dll.Loaded();
}
#else
const Libusb1Api linked = {
        libusb_has_capability,
        libusb_hotplug_register_callback,
        libusb_hotplug_deregister_callback,
        libusb_handle_events_timeout_completed,
        libusb_interrupt_event_handler,
        libusb_init,
        libusb_exit,
        libusb_get_device_list,
        libusb_free_device_list,
        libusb_get_bus_number,
        libusb_get_device_address,
        libusb_get_port_numbers,
        libusb_get_device_descriptor,
        libusb_open,
        libusb_close,
        libusb_set_configuration,
        libusb_claim_interface,
        libusb_release_interface,
        libusb_bulk_transfer,
        libusb_alloc_transfer,
        libusb_free_transfer,
        libusb_submit_transfer,
        libusb_cancel_transfer,
        libusb_handle_events_completed
};

const Libusb1Api* Load()
{
    return &linked;
}

const Libusb1Api* Loaded()
{
    return &linked;
}
#endif

// Only reached with a device or a handle, which exist only once loaded.
const Libusb1Api& Api()
{
    return *Loaded();
}

struct QueuedHandle;

// Where a transfer's completion goes: its handle and its place in the queue.
struct QueueSlot {
    QueuedHandle* owner;
    int index;
};

// Set when libusb-1.0 last tried to open a board and its driver was none
// that libusb-1.0 reaches (Windows: not WinUSB, libusbK or, through
// libusbK.dll, libusb-win32).
std::atomic<bool> unreachableBoard{false};

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
    const int error = Api().bulkTransfer(queued->device, static_cast<unsigned char>(endpoint), bytes, size, &moved,
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
        // At once, before libusb reaps the next one: a board that takes
        // data again must not get the rest of an operation that stopped.
        // (A submission racing this is cancelled by the queue's own loop.)
        if (slot.index < stop) {
            const int submitted = queued.submitted.load();
            for (int later = slot.index + 1; later < submitted; ++later)
                Api().cancelTransfer(queued.pool[later]);
        }
    }
    if (queued.outstanding.fetch_sub(1) == 1) {
        queued.finished.store(true);
        queued.done = 1;
    }
}

int QueueWrite(void*, usb_dev_handle* handle, int endpoint, const char* bytes, int size, int count,
               int timeoutMs, int* results)
{
    QueuedHandle* queued = FromHandle(handle);
    if (queued == nullptr || count < 0 || count > USB_QUEUE_DEPTH || size < 0)
        return -EINVAL;
    std::fill(results, results + count, USB_NOT_SENT);
    queued->results = results;
    queued->stopIndex.store(INT_MAX);
    queued->submitted.store(0);
    queued->done = 0;
    queued->finished.store(false);
    // One count more than submitted until every submission is made, so that
    // completions on another thread cannot end the queue early.
    queued->outstanding.store(1);
    int submitted = 0;
    for (; submitted < count && queued->stopIndex.load() == INT_MAX; ++submitted) {
        libusb_transfer*& transfer = queued->pool[submitted];
        if (transfer == nullptr && (transfer = Api().allocTransfer(0)) == nullptr)
            break;
        queued->slots[submitted] = QueueSlot{queued, submitted};
        libusb_fill_bulk_transfer(transfer, queued->device, static_cast<unsigned char>(endpoint),
                                  reinterpret_cast<unsigned char*>(const_cast<char*>(bytes)) + submitted * size, size,
                                  OnQueuedTransferDone, &queued->slots[submitted],
                                  static_cast<unsigned int>(timeoutMs));
        queued->outstanding.fetch_add(1);
        const int error = Api().submitTransfer(transfer);
        if (error != 0) {
            queued->outstanding.fetch_sub(1);
            if (error == LIBUSB_ERROR_NO_DEVICE) {
                results[submitted] = -ENODEV;
                queued->stopIndex.store(std::min(queued->stopIndex.load(), submitted));
            }
            break; // the rest is the caller's to send one by one
        }
        queued->submitted.store(submitted + 1);
    }
    if (queued->outstanding.fetch_sub(1) == 1) {
        queued->finished.store(true);
        queued->done = 1;
    }
    // Wait for every submitted transfer: their buffers are the caller's.
    bool cancelled = false;
    while (!queued->finished.load()) {
        Api().handleEventsCompleted(queued->context, &queued->done);
        const int stop = queued->stopIndex.load();
        if (!cancelled && stop < submitted) {
            // Nothing more after a time-out or a vanished board.
            for (int later = stop + 1; later < submitted; ++later)
                Api().cancelTransfer(queued->pool[later]);
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
        Api().freeDeviceList(usb.deviceList, 1);
    usb.deviceList = nullptr;
}

// Whether handles opened in the current context are still open.
bool CurrentHasHandles(QueuedUsb& usb)
{
    std::lock_guard<std::mutex> lock(usb.contextsMutex);
    return usb.handlesIn.find(usb.context) != usb.handlesIn.end();
}

// A fresh context made current, which sees the bus as it is now, also where
// no hotplug events reach libusb; the last one is let go unless handles
// opened in it live on (their close lets it go).
void FreshContext(QueuedUsb& usb)
{
    ForgetDevices(usb);
    libusb_context* last = nullptr;
    {
        // A close of its last handle between here and the switch must not
        // take the last context for the current one, nor let it go twice.
        std::lock_guard<std::mutex> lock(usb.contextsMutex);
        if (usb.handlesIn.find(usb.context) == usb.handlesIn.end())
            last = usb.context;
        usb.context = nullptr;
    }
    if (last != nullptr)
        Api().exit(last);
    libusb_context* fresh = nullptr;
    if (Api().init(&fresh) != 0)
        fresh = nullptr;
    std::lock_guard<std::mutex> lock(usb.contextsMutex);
    usb.context = fresh;
}

// A context of its own for every enumeration while no board is open here;
// while one is, the devices libusb knows (kept current by hotplug events
// where there are any) until a look finds nothing (Rescan).
void Init(QueuedUsb& usb)
{
    if (Load() == nullptr)
        return;
    if (usb.context != nullptr && CurrentHasHandles(usb))
        return;
    FreshContext(usb);
}

void Rescan(QueuedUsb& usb)
{
    if (Load() != nullptr)
        FreshContext(usb);
}

// Busses and devices in ascending number, named as libusb 0.1 names them.
int Enumerate(QueuedUsb& usb)
{
    ForgetDevices(usb);
    if (usb.context == nullptr)
        return 0;
    const ssize_t count = Api().getDeviceList(usb.context, &usb.deviceList);
    if (count < 0) {
        usb.deviceList = nullptr;
        return 0;
    }
    std::vector<libusb_device*> found(usb.deviceList, usb.deviceList + count);
    std::sort(found.begin(), found.end(), [](libusb_device* left, libusb_device* right) {
        const int leftKey = Api().getBusNumber(left) * 256 + Api().getDeviceAddress(left);
        return leftKey < Api().getBusNumber(right) * 256 + Api().getDeviceAddress(right);
    });
    usb_bus* bus = nullptr;
    struct usb_device* lastDevice = nullptr;
    for (libusb_device* device : found) {
        const unsigned busNumber = Api().getBusNumber(device);
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
        entry->devnum = Api().getDeviceAddress(device);
        std::snprintf(entry->filename, sizeof entry->filename, "%03u", static_cast<unsigned>(entry->devnum));
        libusb_device_descriptor descriptor{};
        if (Api().getDeviceDescriptor(device, &descriptor) == 0)
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

UsbBackend MakeLibusb1Backend(QueuedUsb* usb)
{
    UsbBackend table{};
    table.context = usb;
    table.name = "libusb-1.0";
    table.init = [](void* context) { Init(State(context)); };
    table.rescan = [](void* context) { Rescan(State(context)); };
    table.findBusses = [](void*) { return 0; }; // the device walk finds them
    table.findDevices = [](void* context) { return Enumerate(State(context)); };
    table.getBusses = [](void* context) {
        QueuedUsb& state = State(context);
        return state.busses.empty() ? nullptr : state.busses.front().get();
    };
    table.deviceAddress = [](void*, const usb_bus* bus, const struct usb_device* device, unsigned long* busNumber,
                             unsigned long* deviceNumber) {
        if (bus == nullptr || device == nullptr || busNumber == nullptr || deviceNumber == nullptr)
            return false;
        *busNumber = bus->location;
        *deviceNumber = device->devnum;
        return true;
    };
    table.portPath = [](void*, const usb_bus* bus, const struct usb_device* device, char* path, size_t size) {
        if (bus == nullptr || device == nullptr || device->dev == nullptr)
            return false;
        constexpr int MOST_PORTS = 7; // USB's deepest hub chain
        uint8_t ports[MOST_PORTS];
        const int count = Api().getPortNumbers(static_cast<libusb_device*>(device->dev), ports, MOST_PORTS);
        return count > 0 && FormatPortPath(static_cast<unsigned>(bus->location), ports, count, path, size);
    };
    table.open = [](void* context, struct usb_device* device) -> usb_dev_handle* {
        if (device == nullptr || device->dev == nullptr)
            return nullptr;
        std::unique_ptr<QueuedHandle> queued(new (std::nothrow) QueuedHandle);
        if (queued == nullptr)
            return nullptr;
        const int error = Api().open(static_cast<libusb_device*>(device->dev), &queued->device);
        if (IsBoardDevice(*device))
            unreachableBoard.store(error == LIBUSB_ERROR_NOT_SUPPORTED);
        if (error != 0) {
            errno = -ErrnoOf(error); // for the log's reason
            return nullptr;
        }
        QueuedUsb& usb = State(context);
        queued->context = usb.context;
        std::lock_guard<std::mutex> lock(usb.contextsMutex);
        ++usb.handlesIn[queued->context];
        return reinterpret_cast<usb_dev_handle*>(queued.release());
    };
    table.setConfiguration = [](void*, usb_dev_handle* handle, int configuration) {
        const int error = Api().setConfiguration(FromHandle(handle)->device, configuration);
        return error == 0 ? 0 : ErrnoOf(error);
    };
    table.claimInterface = [](void*, usb_dev_handle* handle, int interfaceNumber) {
        QueuedHandle* queued = FromHandle(handle);
        const int error = Api().claimInterface(queued->device, interfaceNumber);
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
            Api().releaseInterface(queued->device, queued->claimedInterface);
        for (libusb_transfer* transfer : queued->pool)
            Api().freeTransfer(transfer);
        Api().close(queued->device);
        QueuedUsb& usb = State(context);
        libusb_context* openedIn = queued->context;
        delete queued;
        std::lock_guard<std::mutex> lock(usb.contextsMutex);
        if (--usb.handlesIn[openedIn] == 0) {
            usb.handlesIn.erase(openedIn);
            // A context that is no longer current and holds no handle: gone.
            // (The current one is the next enumeration's to replace.)
            if (openedIn != usb.context)
                Api().exit(openedIn);
        }
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

const UsbBackend* Libusb1Backend()
{
    // Made once and kept for the process: open boards refer to it.
    static QueuedUsb* const usb = new QueuedUsb;
    static const UsbBackend table = MakeLibusb1Backend(usb);
    return &table;
}

struct UsbHotplug {
    libusb_context* context = nullptr;
    libusb_hotplug_callback_handle handle = 0;
    std::atomic<bool> happened{false};
};

namespace {

int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event, void* user)
{
    static_cast<UsbHotplug*>(user)->happened.store(true);
    return 0; // stay registered
}

} // namespace

UsbHotplug* OpenUsbHotplug()
{
    const Libusb1Api* api = Load();
    if (api == nullptr || api->hasCapability == nullptr || api->hasCapability(LIBUSB_CAP_HAS_HOTPLUG) == 0)
        return nullptr;
    auto* hotplug = new (std::nothrow) UsbHotplug;
    if (hotplug == nullptr)
        return nullptr;
    const auto events =
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
    if (api->init(&hotplug->context) != 0
        || api->hotplugRegisterCallback(hotplug->context, events, static_cast<libusb_hotplug_flag>(0),
                                        detail::BOARD_VENDOR_ID, detail::BOARD_PRODUCT_ID, LIBUSB_HOTPLUG_MATCH_ANY,
                                        OnHotplug, hotplug, &hotplug->handle)
               != LIBUSB_SUCCESS) {
        if (hotplug->context != nullptr)
            api->exit(hotplug->context);
        delete hotplug;
        return nullptr;
    }
    return hotplug;
}

bool WaitUsbHotplug(UsbHotplug* hotplug, int milliseconds)
{
    timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
    Api().handleEventsTimeoutCompleted(hotplug->context, &wait, nullptr);
    return hotplug->happened.exchange(false);
}

void WakeUsbHotplug(UsbHotplug* hotplug)
{
    Api().interruptEventHandler(hotplug->context);
}

void CloseUsbHotplug(UsbHotplug* hotplug)
{
    if (hotplug == nullptr)
        return;
    Api().hotplugDeregisterCallback(hotplug->context, hotplug->handle);
    Api().exit(hotplug->context);
    delete hotplug;
}

bool detail::Libusb1Present()
{
    return Load() != nullptr;
}

unsigned long detail::Libusb1LoadError()
{
#if defined(_WIN32)
    return Load() != nullptr ? 0 : dll.LastError();
#else
    return 0; // linked
#endif
}

bool detail::Libusb1SawUnreachableBoard()
{
    return unreachableBoard.load();
}

} // namespace TAVDll
