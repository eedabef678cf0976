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
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "usb/usb_libusb1_private.h"
#include "usb/usb_system.h"
#if defined(_WIN32)
#include "usb/usb_dll_windows.h"
#endif

namespace TAVDll {

namespace libusb1 {

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

const Libusb1Api& Api()
{
    return *Loaded();
}

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

} // namespace libusb1

namespace {

using namespace libusb1;

// Set when libusb-1.0 last tried to open a board and its driver was none
// that libusb-1.0 reaches (Windows: not WinUSB, libusbK or, through
// libusbK.dll, libusb-win32).
std::atomic<bool> unreachableBoard{false};

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

// The table's functions, each the libusb 0.1 call of its name on libusb-1.0.

void InitCall(void* context)
{
    Init(State(context));
}

void RescanCall(void* context)
{
    Rescan(State(context));
}

int FindBusses(void*)
{
    return 0; // the device walk finds them
}

int FindDevices(void* context)
{
    return Enumerate(State(context));
}

usb_bus* GetBusses(void* context)
{
    QueuedUsb& usb = State(context);
    return usb.busses.empty() ? nullptr : usb.busses.front().get();
}

bool DeviceAddress(void*, const usb_bus* bus, const struct usb_device* device, unsigned long* busNumber,
                   unsigned long* deviceNumber)
{
    if (bus == nullptr || device == nullptr || busNumber == nullptr || deviceNumber == nullptr)
        return false;
    *busNumber = bus->location;
    *deviceNumber = device->devnum;
    return true;
}

bool PortPath(void*, const usb_bus* bus, const struct usb_device* device, char* path, size_t size)
{
    if (bus == nullptr || device == nullptr || device->dev == nullptr)
        return false;
    constexpr int MOST_PORTS = 7; // USB's deepest hub chain
    uint8_t ports[MOST_PORTS];
    const int count = Api().getPortNumbers(static_cast<libusb_device*>(device->dev), ports, MOST_PORTS);
    return count > 0 && FormatPortPath(static_cast<unsigned>(bus->location), ports, count, path, size);
}

usb_dev_handle* Open(void* context, struct usb_device* device)
{
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
}

int SetConfiguration(void*, usb_dev_handle* handle, int configuration)
{
    const int error = Api().setConfiguration(FromHandle(handle)->device, configuration);
    return error == 0 ? 0 : ErrnoOf(error);
}

int ClaimInterface(void*, usb_dev_handle* handle, int interfaceNumber)
{
    QueuedHandle* queued = FromHandle(handle);
    const int error = Api().claimInterface(queued->device, interfaceNumber);
    if (error != 0)
        return ErrnoOf(error);
    queued->claimedInterface = interfaceNumber;
    return 0;
}

int Close(void* context, usb_dev_handle* handle)
{
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
}

int BulkWrite(void*, usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeoutMs)
{
    // libusb-1.0 takes OUT data through a pointer to non-const; it only reads it.
    return BulkTransfer(handle, endpoint, reinterpret_cast<unsigned char*>(const_cast<char*>(bytes)), size,
                        timeoutMs);
}

int BulkRead(void*, usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs)
{
    return BulkTransfer(handle, endpoint, reinterpret_cast<unsigned char*>(bytes), size, timeoutMs);
}

} // namespace

const UsbBackend* Libusb1Backend()
{
    // Made once and kept for the process: open boards refer to it.
    static QueuedUsb* const usb = new QueuedUsb;
    // In UsbBackend's order, as libusb fills its usbi_os_backend.
    static const UsbBackend table = {
        usb,              // context
        "libusb-1.0",     // name
        InitCall,         // init
        FindBusses,       // findBusses
        FindDevices,      // findDevices
        GetBusses,        // getBusses
        DeviceAddress,    // deviceAddress
        PortPath,         // portPath
        Open,             // open
        SetConfiguration, // setConfiguration
        ClaimInterface,   // claimInterface
        Close,            // close
        BulkWrite,        // bulkWrite
        BulkRead,         // bulkRead
        QueueWrite,       // bulkWriteQueue
        RescanCall,       // rescan
    };
    return &table;
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
