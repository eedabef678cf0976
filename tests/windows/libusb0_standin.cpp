// A stand-in for libusb-win32's libusb0.dll, for the tests under wine: the
// functions tav.dll loads, the asynchronous five included, with
// libusb-win32's structure layout, names and error numbers, backed by the
// board model on a virtual bus (standin_bus.h).
//
// Every device sits on "bus-0" and is named after its driver device,
// "\\.\libusb0-0001--0x4c52-0x0101". Failures come back as libusb-win32
// reports them: -116 for a time-out and -5 (EIO) for everything else, a
// device that was unplugged included; opening an unplugged device fails.
// As libusb-win32 does, an enumeration forgets the devices no longer there:
// opening one of those (a usb_device* kept from before) is counted
// (standin_stale_opens), where the real library would read freed memory.
//
// Asynchronous requests wait in submission order until one of them is
// reaped; then the board takes every waiting one, back to back (pipelined
// on the frame clock), up to the first that times out or finds the board
// gone; the rest wait for their cancel.
//
// The boards: TAV_STANDIN_BOARDS (one model letter per board, "TS") when the
// first usb_init finds none, and the standin_* functions for tests.
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

#include "standin_bus.h"

// libusb-win32's layout, checked here against its header's definitions:
// byte-packed structures with 512-byte names.
static_assert(sizeof(usb_bus::dirname) == 512 && sizeof(usb_device::filename) == 512, "512-byte names");
static_assert(offsetof(usb_device, filename) == 2 * sizeof(void*), "filename after next and prev");
static_assert(offsetof(usb_device, descriptor) == 2 * sizeof(void*) + 512 + sizeof(void*), "packed descriptor");
static_assert(sizeof(usb_device_descriptor) == 18, "packed device descriptor");
static_assert(sizeof(usb_device) == 6 * sizeof(void*) + 512 + 18 + 2, "packed usb_device");
static_assert(offsetof(usb_bus, devices) == 2 * sizeof(void*) + 512, "devices after dirname");

using namespace standin;

namespace {

constexpr int LIBUSB0_TIMEOUT = -116;
constexpr int LIBUSB0_IO = -5;

// The virtual bus speaks Linux's libusb numbers; libusb-win32 has only two.
int AsLibusb0(int result)
{
    if (result >= 0)
        return result;
    return result == tavsim::USB_ERROR_TIMEOUT ? LIBUSB0_TIMEOUT : LIBUSB0_IO;
}

int staleOpens = 0;

bool Listed(const struct usb_device* wanted)
{
    for (usb_bus* bus = Usb().getBusses(Usb().context); bus != nullptr; bus = bus->next)
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next)
            if (device == wanted)
                return true;
    return false;
}

struct AsyncRequest {
    usb_dev_handle* handle;
    int endpoint;
    char* bytes = nullptr;
    int size = 0;
    bool pending = false;
    int result = 0;
};

std::deque<AsyncRequest*> waiting;

void Unqueue(AsyncRequest* request)
{
    for (auto entry = waiting.begin(); entry != waiting.end(); ++entry) {
        if (*entry == request) {
            waiting.erase(entry);
            return;
        }
    }
}

std::map<usb_dev_handle*, const struct usb_device*> deviceOfHandle;

// One OUT transfer on the bus, on the frame clock.
int Write(usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeout, bool pipelined)
{
    const int result = Usb().bulkWrite(Usb().context, handle, endpoint, bytes, size, timeout);
    if (result >= 0)
        CountFrame(deviceOfHandle[handle], size, pipelined);
    return result;
}

// The board takes the waiting requests, back to back, up to the first that
// fails for good.
void TakeWaiting()
{
    bool pipelined = false;
    while (!waiting.empty()) {
        AsyncRequest* request = waiting.front();
        waiting.pop_front();
        request->pending = false;
        const int result = Write(request->handle, request->endpoint, request->bytes, request->size, 5000, pipelined);
        request->result = AsLibusb0(result);
        if (result == tavsim::USB_ERROR_TIMEOUT || result == tavsim::USB_ERROR_NO_DEVICE)
            return;
        pipelined = true;
    }
}

} // namespace

void standin::ForgetDevices()
{
    waiting.clear();
    deviceOfHandle.clear();
}

void standin::NameDevice(tavsim::VirtualDevice& device, int number)
{
    std::snprintf(device.Device()->filename, sizeof device.Device()->filename, "\\\\.\\libusb0-%04d--0x%04x-0x%04x",
                  number, tavsim::TAV_VENDOR_ID, tavsim::TAV_PRODUCT_ID);
    std::snprintf(device.Device()->bus->dirname, sizeof device.Device()->bus->dirname, "bus-0");
}

// ---- libusb-win32's functions --------------------------------------------

STANDIN_API void usb_init(void)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    AddBoardsFromEnvironment("TAV_STANDIN_BOARDS");
    Usb().init(Usb().context);
}

STANDIN_API int usb_find_busses(void)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return Usb().findBusses(Usb().context);
}

STANDIN_API int usb_find_devices(void)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return Usb().findDevices(Usb().context);
}

STANDIN_API struct usb_bus* usb_get_busses(void)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return Usb().getBusses(Usb().context);
}

STANDIN_API usb_dev_handle* usb_open(struct usb_device* device)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (!Listed(device)) {
        ++staleOpens;
        return nullptr;
    }
    usb_dev_handle* handle = Usb().open(Usb().context, device);
    if (handle != nullptr)
        deviceOfHandle[handle] = device;
    return handle;
}

STANDIN_API int usb_set_configuration(usb_dev_handle* handle, int configuration)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return AsLibusb0(Usb().setConfiguration(Usb().context, handle, configuration));
}

STANDIN_API int usb_claim_interface(usb_dev_handle* handle, int interfaceNumber)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return AsLibusb0(Usb().claimInterface(Usb().context, handle, interfaceNumber));
}

STANDIN_API int usb_close(usb_dev_handle* handle)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    deviceOfHandle.erase(handle);
    return AsLibusb0(Usb().close(Usb().context, handle));
}

STANDIN_API int usb_bulk_write(usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeout)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return AsLibusb0(Write(handle, endpoint, bytes, size, timeout, false));
}

STANDIN_API int usb_bulk_read(usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeout)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return AsLibusb0(Usb().bulkRead(Usb().context, handle, endpoint, bytes, size, timeout));
}


// libusb-win32's asynchronous bulk transfers.

STANDIN_API int usb_bulk_setup_async(usb_dev_handle* handle, void** context, unsigned char endpoint)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (context == nullptr || deviceOfHandle.count(handle) == 0)
        return LIBUSB0_IO;
    *context = new AsyncRequest{handle, endpoint};
    return 0;
}

STANDIN_API int usb_submit_async(void* context, char* bytes, int size)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    auto* request = static_cast<AsyncRequest*>(context);
    if (request == nullptr || request->pending || size < 0)
        return LIBUSB0_IO;
    request->bytes = bytes;
    request->size = size;
    request->pending = true;
    waiting.push_back(request);
    return 0;
}

// A request the board has not taken by the end of the wait times out (and
// is cancelled, as libusb-win32 does).
STANDIN_API int usb_reap_async(void* context, int)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    auto* request = static_cast<AsyncRequest*>(context);
    if (request == nullptr)
        return LIBUSB0_IO;
    if (request->pending)
        TakeWaiting();
    if (request->pending) {
        Unqueue(request);
        request->pending = false;
        request->result = LIBUSB0_TIMEOUT;
    }
    return request->result;
}

STANDIN_API int usb_cancel_async(void* context)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    auto* request = static_cast<AsyncRequest*>(context);
    if (request == nullptr)
        return LIBUSB0_IO;
    if (request->pending) {
        Unqueue(request);
        request->pending = false;
        request->result = LIBUSB0_IO;
    }
    return 0;
}

STANDIN_API int usb_free_async(void** context)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (context == nullptr || *context == nullptr)
        return LIBUSB0_IO;
    auto* request = static_cast<AsyncRequest*>(*context);
    Unqueue(request);
    delete request;
    *context = nullptr;
    return 0;
}

// Opens of a usb_device* that an enumeration had already forgotten.
STANDIN_API int standin_stale_opens(void)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return staleOpens;
}
