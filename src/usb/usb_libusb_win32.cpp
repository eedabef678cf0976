// libusb-win32 on Windows: libusb0.dll, loaded at the first use rather than
// linked, so that tav.dll loads (and its virtual boards work) on a machine
// without libusb-win32.
//
// libusb-win32 reports failures in numbers of its own: a time-out is -116
// (its ETRANSFER_TIMEDOUT), every other failure of the driver is -EIO, -EINVAL
// or -ENOMEM, a device that was unplugged included. The table below turns
// them into what the transport expects (-ETIMEDOUT, -ENODEV): after a failed
// transfer it looks the device up on the bus again by its driver name, and a
// device that is not there or cannot be opened any more is gone.
//
// Queued transfers go through libusb-win32's asynchronous bulk functions
// (usb_bulk_setup_async, usb_submit_async, usb_reap_async, usb_cancel_async,
// usb_free_async): every record of a queue is submitted before the first is
// reaped.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "usb/usb_system.h"
#include "usb/usb_dll_windows.h"

namespace TAVDll {
namespace {

constexpr int LIBUSB0_TIMEOUT = -116;

// The functions of libusb0.dll that the library calls (cdecl, as
// libusb-win32 declares them). The asynchronous five are optional: without
// them "queued:" boards send one record at a time.
struct Libusb0 {
    void (*init)(void);
    int (*findBusses)(void);
    int (*findDevices)(void);
    usb_bus* (*getBusses)(void);
    usb_dev_handle* (*open)(struct usb_device*);
    int (*setConfiguration)(usb_dev_handle*, int);
    int (*claimInterface)(usb_dev_handle*, int);
    int (*close)(usb_dev_handle*);
    int (*bulkWrite)(usb_dev_handle*, int, char*, int, int);
    int (*bulkRead)(usb_dev_handle*, int, char*, int, int);
    int (*bulkSetupAsync)(usb_dev_handle*, void**, unsigned char);
    int (*submitAsync)(void*, char*, int);
    int (*reapAsync)(void*, int);
    int (*cancelAsync)(void*);
    int (*freeAsync)(void**);
};

UsbDll<Libusb0> dll(LIBUSB0_DLL);

bool ResolveAsync(HMODULE module, Libusb0& functions)
{
    return Resolve(module, "usb_bulk_setup_async", &functions.bulkSetupAsync)
           && Resolve(module, "usb_submit_async", &functions.submitAsync)
           && Resolve(module, "usb_reap_async", &functions.reapAsync)
           && Resolve(module, "usb_cancel_async", &functions.cancelAsync)
           && Resolve(module, "usb_free_async", &functions.freeAsync);
}

// An application that loaded libusb0.dll itself and enumerated the bus gets
// its own copy back, bus list included, so Open() works before Initial() as
// it does on Linux.
const Libusb0* Load()
{
    return dll.Load([](HMODULE module, Libusb0& functions) {
        const bool complete = Resolve(module, "usb_init", &functions.init)
                              && Resolve(module, "usb_find_busses", &functions.findBusses)
                              && Resolve(module, "usb_find_devices", &functions.findDevices)
                              && Resolve(module, "usb_get_busses", &functions.getBusses)
                              && Resolve(module, "usb_open", &functions.open)
                              && Resolve(module, "usb_set_configuration", &functions.setConfiguration)
                              && Resolve(module, "usb_claim_interface", &functions.claimInterface)
                              && Resolve(module, "usb_close", &functions.close)
                              && Resolve(module, "usb_bulk_write", &functions.bulkWrite)
                              && Resolve(module, "usb_bulk_read", &functions.bulkRead);
        if (complete && !ResolveAsync(module, functions))
            functions.bulkSetupAsync = nullptr;
        return complete;
    });
}

const Libusb0* Loaded()
{
    return dll.Loaded();
}

// What the library keeps of each open handle: the driver name of its device
// (the usb_device itself is libusb-win32's, freed by any later enumeration
// that no longer finds it) and its asynchronous request contexts. A fixed
// table: opening a board allocates nothing here.
constexpr int OPEN_HANDLE_LIMIT = 64;
struct OpenHandle {
    usb_dev_handle* handle;
    char filename[LIBUSB_PATH_MAX];
    void* requests[USB_QUEUE_DEPTH];
    int requestEndpoint;
};
std::mutex handleMutex;
OpenHandle openHandles[OPEN_HANDLE_LIMIT];

OpenHandle* EntryOf(usb_dev_handle* handle)
{
    for (OpenHandle& entry : openHandles)
        if (entry.handle == handle)
            return &entry;
    return nullptr;
}

void Remember(usb_dev_handle* handle, const struct usb_device* device)
{
    std::lock_guard<std::mutex> lock(handleMutex);
    if (OpenHandle* entry = EntryOf(nullptr)) {
        *entry = OpenHandle{};
        entry->handle = handle;
        std::memcpy(entry->filename, device->filename, sizeof entry->filename);
        entry->filename[sizeof entry->filename - 1] = '\0';
    }
}

void FreeRequests(const Libusb0& usb, OpenHandle& entry)
{
    for (void*& request : entry.requests)
        if (request != nullptr)
            usb.freeAsync(&request);
}

void Forget(const Libusb0& usb, usb_dev_handle* handle)
{
    std::lock_guard<std::mutex> lock(handleMutex);
    if (OpenHandle* entry = EntryOf(handle)) {
        FreeRequests(usb, *entry);
        *entry = OpenHandle{};
    }
}

// Whether the device of that driver name is on the bus of the last
// enumeration and still opens.
bool StillThere(const Libusb0& usb, const char* filename)
{
    std::lock_guard<detail::LibraryMutex> discovery(detail::DiscoveryMutex());
    for (usb_bus* bus = usb.getBusses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (std::strncmp(device->filename, filename, sizeof device->filename) != 0)
                continue;
            usb_dev_handle* probe = usb.open(device);
            if (probe == nullptr)
                return false;
            usb.close(probe);
            return true;
        }
    }
    return false;
}

// libusb-win32's result of a bulk transfer in the transport's terms.
int Translate(const Libusb0& usb, usb_dev_handle* handle, int result)
{
    if (result >= 0)
        return result;
    if (result == LIBUSB0_TIMEOUT)
        return -ETIMEDOUT;
    char filename[LIBUSB_PATH_MAX];
    {
        std::lock_guard<std::mutex> lock(handleMutex);
        const OpenHandle* entry = EntryOf(handle);
        if (entry == nullptr)
            return result;
        std::memcpy(filename, entry->filename, sizeof filename);
    }
    return StillThere(usb, filename) ? result : -ENODEV;
}

// The handle's request contexts for count transfers to endpoint, set up as
// first needed and kept; null when the handle is unknown or has no room.
void** Requests(const Libusb0& usb, usb_dev_handle* handle, int endpoint, int count)
{
    std::lock_guard<std::mutex> lock(handleMutex);
    OpenHandle* entry = EntryOf(handle);
    if (entry == nullptr)
        return nullptr;
    if (entry->requestEndpoint != endpoint)
        FreeRequests(usb, *entry);
    entry->requestEndpoint = endpoint;
    for (int index = 0; index < count; ++index) {
        if (entry->requests[index] == nullptr
            && usb.bulkSetupAsync(handle, &entry->requests[index], static_cast<unsigned char>(endpoint)) < 0) {
            entry->requests[index] = nullptr;
            return nullptr;
        }
    }
    return entry->requests;
}

int QueueWrite(void*, usb_dev_handle* handle, int endpoint, const char* bytes, int size, int count, int timeoutMs,
               int* results)
{
    const Libusb0* usb = Loaded();
    if (usb == nullptr || handle == nullptr || count < 0 || count > USB_QUEUE_DEPTH || size < 0)
        return -EINVAL;
    for (int index = 0; index < count; ++index)
        results[index] = USB_NOT_SENT;
    void** requests = usb->bulkSetupAsync != nullptr ? Requests(*usb, handle, endpoint, count) : nullptr;
    if (requests == nullptr)
        return 0; // the caller sends them one by one
    int submitted = 0;
    // libusb-win32 takes the bytes to write as char* but does not change them.
    while (submitted < count
           && usb->submitAsync(requests[submitted], const_cast<char*>(bytes) + submitted * size, size) >= 0)
        ++submitted;
    int index = 0;
    for (; index < submitted; ++index) {
        results[index] = Translate(*usb, handle, usb->reapAsync(requests[index], timeoutMs));
        if (results[index] == -ETIMEDOUT || results[index] == -ENODEV)
            break;
    }
    // Nothing more after a time-out or a vanished board: what was already
    // submitted is cancelled, and counts only where it got through first.
    for (++index; index < submitted; ++index) {
        usb->cancelAsync(requests[index]);
        const int moved = usb->reapAsync(requests[index], timeoutMs);
        results[index] = moved > 0 ? moved : USB_NOT_SENT;
    }
    return submitted;
}

// Names as libusb-win32 gives them: every device on "bus-0", each named
// after its driver device, "\\.\libusb0-0001--0x4c52-0x0101": address 0:1.
bool DriverAddress(void*, const usb_bus* bus, const struct usb_device* device, unsigned long* busNumber,
                   unsigned long* deviceNumber)
{
    if (bus == nullptr || device == nullptr || busNumber == nullptr || deviceNumber == nullptr)
        return false;
    constexpr const char BUS_PREFIX[] = "bus-";
    constexpr const char DEVICE_PREFIX[] = "\\\\.\\libusb0-";
    if (std::strncmp(bus->dirname, BUS_PREFIX, sizeof BUS_PREFIX - 1) != 0
        || std::strncmp(device->filename, DEVICE_PREFIX, sizeof DEVICE_PREFIX - 1) != 0)
        return false;
    const char* busDigits = bus->dirname + sizeof BUS_PREFIX - 1;
    const char* deviceDigits = device->filename + sizeof DEVICE_PREFIX - 1;
    unsigned long busValue = 0;
    unsigned long deviceValue = 0;
    if (!ParseDecimal(busDigits, std::strspn(busDigits, "0123456789"), &busValue)
        || !ParseDecimal(deviceDigits, std::strspn(deviceDigits, "0123456789"), &deviceValue))
        return false;
    *busNumber = busValue;
    *deviceNumber = deviceValue;
    return true;
}

} // namespace

UsbBackend detail::MakeSystemBackend()
{
    UsbBackend table{};
    table.context = nullptr;
    table.name = "libusb-win32";
    table.init = [](void*) {
        if (const Libusb0* usb = Load())
            usb->init();
    };
    table.findBusses = [](void*) {
        const Libusb0* usb = Load();
        return usb != nullptr ? usb->findBusses() : 0;
    };
    table.findDevices = [](void*) {
        const Libusb0* usb = Load();
        return usb != nullptr ? usb->findDevices() : 0;
    };
    table.getBusses = [](void*) {
        const Libusb0* usb = Load();
        return usb != nullptr ? usb->getBusses() : static_cast<usb_bus*>(nullptr);
    };
    table.deviceAddress = DriverAddress;
    // A device or a handle exists only once libusb0.dll has been loaded.
    table.open = [](void*, struct usb_device* device) {
        usb_dev_handle* handle = Loaded()->open(device);
        if (handle != nullptr)
            Remember(handle, device);
        return handle;
    };
    table.setConfiguration = [](void*, usb_dev_handle* handle, int configuration) {
        return Loaded()->setConfiguration(handle, configuration);
    };
    table.claimInterface = [](void*, usb_dev_handle* handle, int interfaceNumber) {
        return Loaded()->claimInterface(handle, interfaceNumber);
    };
    table.close = [](void*, usb_dev_handle* handle) {
        const Libusb0& usb = *Loaded();
        Forget(usb, handle);
        return usb.close(handle);
    };
    table.bulkWrite = [](void*, usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeoutMs) {
        const Libusb0& usb = *Loaded();
        return Translate(usb, handle, usb.bulkWrite(handle, endpoint, const_cast<char*>(bytes), size, timeoutMs));
    };
    table.bulkRead = [](void*, usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs) {
        const Libusb0& usb = *Loaded();
        return Translate(usb, handle, usb.bulkRead(handle, endpoint, bytes, size, timeoutMs));
    };
    table.bulkWriteQueue = QueueWrite;
    return table;
}

namespace {

// "found", "not found", or a DLL of the other architecture.
const char* Found(bool found, unsigned long error)
{
    if (found)
        return "found";
    return error == ERROR_BAD_EXE_FORMAT ? (sizeof(void*) == 8 ? "found, but 32-bit: this program needs the 64-bit one "
                                                                 "(Windows error 193)"
                                                               : "found, but 64-bit: this program needs the 32-bit one "
                                                                 "(Windows error 193)")
                                         : "not found";
}

} // namespace

const char* UsbLibraries()
{
    const bool libusb0 = Load() != nullptr;
    const bool libusb1 = detail::Libusb1Present();
    thread_local char text[320];
    std::snprintf(text, sizeof text, "libusb0.dll (libusb-win32 boards) %s, libusb-1.0.dll (WinUSB and libusbK boards) %s",
                  Found(libusb0, dll.LastError()), Found(libusb1, detail::Libusb1LoadError()));
    return text;
}

// Boards bound to libusb-win32 first (its bus 0), then those libusb-1.0
// reaches (WinUSB, libusbK; its busses count from 1): one-by-one and queued
// boards alike, each library queueing in its own way.
int detail::SystemBusBackends(bool, const UsbBackend* tables[BUS_BACKEND_LIMIT])
{
    tables[0] = SystemUsbBackend();
    tables[1] = Libusb1Backend();
    return 2;
}

namespace {

std::atomic<bool> staticOpenWithoutLibusb0{false};

constexpr const char* STATIC_OPEN_PROBLEM =
    "the static TAVLib functions reach boards through libusb0.dll (libusb-win32), which is not found: bind the "
    "board to libusb-win32 with Zadig for them, or use the C interface or board objects, which also reach WinUSB "
    "and libusbK boards through libusb-1.0.dll";

} // namespace

const char* StaticOpenProblem()
{
    if (Load() != nullptr || !detail::Libusb1Present())
        return nullptr;
    staticOpenWithoutLibusb0.store(true);
    return STATIC_OPEN_PROBLEM;
}

const char* UsbLibraryProblem()
{
    const bool libusb0 = Load() != nullptr;
    const bool libusb1 = detail::Libusb1Present();
    if (!libusb0 && libusb1 && staticOpenWithoutLibusb0.load() && !detail::Libusb1SawUnreachableBoard())
        return STATIC_OPEN_PROBLEM;
    // One library is enough to find boards; UsbLibraries says which.
    const char* libraries = nullptr;
    if (!libusb0 && !libusb1 && detail::Libusb1LoadError() == ERROR_BAD_EXE_FORMAT)
        libraries = sizeof(void*) == 8 ? "no USB library found: the libusb-1.0.dll found is a 32-bit DLL and this "
                                         "program is 64-bit (Windows error 193): put the 64-bit libusb-1.0.dll beside "
                                         "tav.dll"
                                       : "no USB library found: the libusb-1.0.dll found is a 64-bit DLL and this "
                                         "program is 32-bit (Windows error 193): put the 32-bit libusb-1.0.dll beside "
                                         "tav.dll";
    else if (!libusb0 && !libusb1)
        libraries = "no USB library found: neither libusb0.dll (libusb-win32) nor libusb-1.0.dll (for boards bound to "
                    "WinUSB or libusbK) is installed; bind the board to WinUSB with Zadig and put libusb-1.0.dll "
                    "beside the program or beside tav.dll";
    const char* unreachable = detail::Libusb1SawUnreachableBoard()
                                  ? "a TAV board (4c52:0101) is bound to a driver that neither libusb-1.0 nor "
                                    "libusb-win32 reaches: bind it to WinUSB, libusbK or libusb-win32 (Zadig)"
                                  : nullptr;
    if (libraries == nullptr || unreachable == nullptr)
        return libraries != nullptr ? libraries : unreachable;
    // Both: composed per thread, so that the text stays put for its caller.
    thread_local char both[512];
    std::snprintf(both, sizeof both, "%s; %s", libraries, unreachable);
    return both;
}

} // namespace TAVDll
