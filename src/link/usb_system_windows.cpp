// The system's USB library on Windows: libusb-win32's libusb0.dll, loaded at
// the first enumeration rather than linked, so that tav.dll loads (and its
// virtual boards work) on a machine without libusb-win32.
//
// libusb-win32 reports failures in numbers of its own: a time-out is -116
// (its ETRANSFER_TIMEDOUT), every other failure of the driver is -EIO, -EINVAL
// or -ENOMEM, a device that was unplugged included. The table below turns
// them into what the transport expects (-ETIMEDOUT, -ENODEV): after a failed
// transfer it tries to open the device again, and a device that cannot be
// opened any more is gone.
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "link/board_link.h"

namespace TAVDll {
namespace {

constexpr const char* LIBUSB0_DLL = "libusb0.dll";
constexpr int LIBUSB0_TIMEOUT = -116;

// The ten functions of libusb0.dll that the library calls (cdecl, as
// libusb-win32 declares them).
struct Libusb0 {
    HMODULE module;
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
};

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* function)
{
    FARPROC address = GetProcAddress(module, name);
    // GetProcAddress hands back every export as FARPROC; the cast to the
    // export's own type goes through a plain pointer.
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    return address != nullptr;
}

std::mutex loadMutex;
Libusb0 library;
std::atomic<const Libusb0*> loaded{nullptr};

// The application's folder, System32 and folders added with AddDllDirectory:
// never the current folder or PATH, where anybody may have put a libusb0.dll.
HMODULE LoadFromSafeFolders()
{
    return LoadLibraryExA(LIBUSB0_DLL, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

// Tried again at each enumeration until it succeeds: libusb-win32 installed
// while a program runs is found at its next Initial().
const Libusb0* Load()
{
    if (const Libusb0* ready = loaded.load(std::memory_order_acquire))
        return ready;
    std::lock_guard<std::mutex> lock(loadMutex);
    if (const Libusb0* ready = loaded.load(std::memory_order_acquire))
        return ready;
    HMODULE module = LoadFromSafeFolders();
    if (module == nullptr)
        return nullptr;
    Libusb0 functions{};
    functions.module = module;
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
    if (!complete) {
        FreeLibrary(module);
        return nullptr;
    }
    library = functions;
    loaded.store(&library, std::memory_order_release);
    return &library;
}

const Libusb0* Loaded()
{
    return loaded.load(std::memory_order_acquire);
}

// Which device each open handle belongs to, for the check after a failed
// transfer. A fixed table: opening a board allocates nothing here.
constexpr int OPEN_HANDLE_LIMIT = 64;
struct OpenHandle {
    usb_dev_handle* handle;
    struct usb_device* device;
};
std::mutex handleMutex;
OpenHandle openHandles[OPEN_HANDLE_LIMIT];

void Remember(usb_dev_handle* handle, struct usb_device* device)
{
    std::lock_guard<std::mutex> lock(handleMutex);
    for (OpenHandle& entry : openHandles) {
        if (entry.handle == nullptr) {
            entry = {handle, device};
            return;
        }
    }
}

void Forget(usb_dev_handle* handle)
{
    std::lock_guard<std::mutex> lock(handleMutex);
    for (OpenHandle& entry : openHandles) {
        if (entry.handle == handle)
            entry = {nullptr, nullptr};
    }
}

struct usb_device* DeviceOf(usb_dev_handle* handle)
{
    std::lock_guard<std::mutex> lock(handleMutex);
    for (const OpenHandle& entry : openHandles) {
        if (entry.handle == handle)
            return entry.device;
    }
    return nullptr;
}

// libusb-win32's result of a bulk transfer in the transport's terms.
int Translate(const Libusb0& usb, usb_dev_handle* handle, int result)
{
    if (result >= 0)
        return result;
    if (result == LIBUSB0_TIMEOUT)
        return -ETIMEDOUT;
    struct usb_device* device = DeviceOf(handle);
    if (device == nullptr)
        return result;
    usb_dev_handle* probe = usb.open(device);
    if (probe == nullptr)
        return -ENODEV;
    usb.close(probe);
    return result;
}

} // namespace

UsbBackend detail::MakeSystemBackend()
{
    UsbBackend table{};
    table.context = nullptr;
    table.init = [](void*) {
        if (const Libusb0* usb = Load())
            usb->init();
    };
    table.findBusses = [](void*) {
        const Libusb0* usb = Loaded();
        return usb != nullptr ? usb->findBusses() : 0;
    };
    table.findDevices = [](void*) {
        const Libusb0* usb = Loaded();
        return usb != nullptr ? usb->findDevices() : 0;
    };
    table.getBusses = [](void*) {
        const Libusb0* usb = Loaded();
        return usb != nullptr ? usb->getBusses() : static_cast<usb_bus*>(nullptr);
    };
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
        Forget(handle);
        return Loaded()->close(handle);
    };
    // libusb-win32 takes the bytes to write as char* but does not change them.
    table.bulkWrite = [](void*, usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeoutMs) {
        const Libusb0& usb = *Loaded();
        return Translate(usb, handle, usb.bulkWrite(handle, endpoint, const_cast<char*>(bytes), size, timeoutMs));
    };
    table.bulkRead = [](void*, usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs) {
        const Libusb0& usb = *Loaded();
        return Translate(usb, handle, usb.bulkRead(handle, endpoint, bytes, size, timeoutMs));
    };
    return table;
}

const char* UsbLibraryProblem()
{
    if (Load() != nullptr)
        return nullptr;
    return "libusb-win32 is not installed (libusb0.dll not found): install it and bind the board to its driver";
}

} // namespace TAVDll

namespace TAVDll {

// libusb-win32 has no transfer queue: "queued:" boards send their records
// one by one through it, as every other board does here.
const UsbBackend* detail::QueuedUsbBackend()
{
    return SystemUsbBackend();
}

} // namespace TAVDll
