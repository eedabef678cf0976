// A stand-in for libusb-1.0.dll, for the tests under wine: the functions
// tav.dll loads, with libusb.h's own types and calling convention
// (LIBUSB_CALL), backed by the board model on a virtual bus
// (standin_bus.h): the boards a WinUSB or libusbK driver would give it.
//
// Every board sits on bus 1 at address 1, 2, ... in the order added, port
// the same number. Asynchronous transfers wait in submission order until
// libusb_handle_events_completed; then the board takes every waiting one
// back to back (pipelined on the frame clock), up to the first that times
// out or finds the board gone, and their callbacks run in order; the rest
// wait for their cancel (a board that timed out takes the next one at once,
// unless the callback cancelled it). A board marked with standin_set_unreachable opens
// as a board bound to a driver libusb-1.0 cannot use does:
// LIBUSB_ERROR_NOT_SUPPORTED.
//
// The boards: TAV_STANDIN1_BOARDS (one model letter per board) when the
// first libusb_init finds none, and the standin_* functions for tests.
#include <libusb-1.0/libusb.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <set>

#include "standin_bus.h"

#define LIBUSB_STANDIN extern "C" __declspec(dllexport)

using namespace standin;

// Without hotplug events (standin_hotplug_events(0)), a context lists only
// the boards that were there at its libusb_init, as libusb-1.0 does where
// nothing tells it of an arrival.
struct libusb_context {
    std::set<const struct usb_device*> known;
};

struct libusb_device {
    struct usb_device* device;
    uint8_t address;
};

struct libusb_device_handle {
    usb_dev_handle* handle;
    struct usb_device* device;
};

namespace {

std::set<const struct usb_device*> unreachable;
bool hotplugEvents = true;
std::deque<libusb_transfer*> waiting;
// Transfers taken or cancelled whose callbacks are still to run.
std::deque<libusb_transfer*> finished;
std::deque<std::unique_ptr<libusb_device>> listedDevices;

int LibusbError(int result)
{
    switch (result) {
    case -ETIMEDOUT: return LIBUSB_ERROR_TIMEOUT;
    case -ENODEV: return LIBUSB_ERROR_NO_DEVICE;
    case -EBUSY: return LIBUSB_ERROR_BUSY;
    case -EACCES: return LIBUSB_ERROR_ACCESS;
    default: return LIBUSB_ERROR_IO;
    }
}

libusb_device* Listing(struct usb_device* device, int number)
{
    for (const auto& listed : listedDevices)
        if (listed->device == device)
            return listed.get();
    listedDevices.push_back(std::make_unique<libusb_device>(libusb_device{device, static_cast<uint8_t>(number)}));
    return listedDevices.back().get();
}

int Transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data, int length, int timeout,
             bool pipelined)
{
    if ((endpoint & LIBUSB_ENDPOINT_IN) != 0)
        return Usb().bulkRead(Usb().context, handle->handle, endpoint, reinterpret_cast<char*>(data), length, timeout);
    const int result =
        Usb().bulkWrite(Usb().context, handle->handle, endpoint, reinterpret_cast<char*>(data), length, timeout);
    if (result >= 0)
        CountFrame(handle->device, length, pipelined);
    return result;
}

// The board takes the first waiting transfer; its result, as libusb gives it.
int TakeOne(bool pipelined)
{
    libusb_transfer* transfer = waiting.front();
    waiting.pop_front();
    const int result = Transfer(transfer->dev_handle, transfer->endpoint, transfer->buffer, transfer->length,
                                static_cast<int>(transfer->timeout), pipelined);
    transfer->actual_length = result > 0 ? result : 0;
    transfer->status = result >= 0            ? LIBUSB_TRANSFER_COMPLETED
                       : result == -ETIMEDOUT ? LIBUSB_TRANSFER_TIMED_OUT
                       : result == -ENODEV    ? LIBUSB_TRANSFER_NO_DEVICE
                                              : LIBUSB_TRANSFER_ERROR;
    finished.push_back(transfer);
    return result;
}

void TakeWaiting()
{
    bool pipelined = false;
    while (!waiting.empty()) {
        const int result = TakeOne(pipelined);
        if (result == -ETIMEDOUT || result == -ENODEV)
            return;
        pipelined = true;
    }
}

} // namespace

void standin::NameDevice(tavsim::VirtualDevice& device, int number)
{
    std::snprintf(device.Device()->filename, sizeof device.Device()->filename, "%03d", number);
    std::snprintf(device.Device()->bus->dirname, sizeof device.Device()->bus->dirname, "001");
}

void standin::ForgetDevices()
{
    unreachable.clear();
    hotplugEvents = true;
    waiting.clear();
    finished.clear();
    listedDevices.clear();
}

// ---- libusb-1.0's functions ----------------------------------------------

LIBUSB_STANDIN int LIBUSB_CALL libusb_init(libusb_context** context)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    AddBoardsFromEnvironment("TAV_STANDIN1_BOARDS");
    if (context != nullptr) {
        *context = new libusb_context{};
        Usb().init(Usb().context);
        Usb().findBusses(Usb().context);
        Usb().findDevices(Usb().context);
        for (usb_bus* bus = Usb().getBusses(Usb().context); bus != nullptr; bus = bus->next)
            for (struct usb_device* device = bus->devices; device != nullptr; device = device->next)
                (*context)->known.insert(device);
    }
    return 0;
}

LIBUSB_STANDIN void LIBUSB_CALL libusb_exit(libusb_context* context)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    delete context;
}

LIBUSB_STANDIN ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* context, libusb_device*** list)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Usb().init(Usb().context);
    Usb().findBusses(Usb().context);
    Usb().findDevices(Usb().context);
    std::vector<libusb_device*> found;
    for (usb_bus* bus = Usb().getBusses(Usb().context); bus != nullptr; bus = bus->next)
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next)
            if (hotplugEvents || context == nullptr || context->known.count(device) > 0)
                found.push_back(Listing(device, static_cast<int>(std::strtol(device->filename, nullptr, 10))));
    *list = new libusb_device*[found.size() + 1];
    std::copy(found.begin(), found.end(), *list);
    (*list)[found.size()] = nullptr;
    return static_cast<ssize_t>(found.size());
}

LIBUSB_STANDIN void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    delete[] list;
}

LIBUSB_STANDIN uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device*)
{
    return 1;
}

LIBUSB_STANDIN uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* device)
{
    return device->address;
}

LIBUSB_STANDIN int LIBUSB_CALL libusb_get_port_numbers(libusb_device* device, uint8_t* ports, int length)
{
    if (length < 1)
        return LIBUSB_ERROR_OVERFLOW;
    ports[0] = device->address;
    return 1;
}

LIBUSB_STANDIN int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* device,
                                                             struct libusb_device_descriptor* descriptor)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    *descriptor = libusb_device_descriptor{};
    descriptor->bLength = LIBUSB_DT_DEVICE_SIZE;
    descriptor->bDescriptorType = LIBUSB_DT_DEVICE;
    descriptor->idVendor = device->device->descriptor.idVendor;
    descriptor->idProduct = device->device->descriptor.idProduct;
    descriptor->bNumConfigurations = 1;
    return 0;
}

LIBUSB_STANDIN int LIBUSB_CALL libusb_open(libusb_device* device, libusb_device_handle** handle)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (unreachable.count(device->device) != 0)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    tavsim::VirtualDevice* virtualDevice = DeviceOf(device->device);
    if (virtualDevice == nullptr || !virtualDevice->Plugged())
        return LIBUSB_ERROR_NO_DEVICE;
    usb_dev_handle* opened = Usb().open(Usb().context, device->device);
    if (opened == nullptr)
        return LIBUSB_ERROR_ACCESS;
    *handle = new libusb_device_handle{opened, device->device};
    return 0;
}

LIBUSB_STANDIN void LIBUSB_CALL libusb_close(libusb_device_handle* handle)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (handle == nullptr)
        return;
    Usb().close(Usb().context, handle->handle);
    delete handle;
}

LIBUSB_STANDIN int LIBUSB_CALL libusb_set_configuration(libusb_device_handle* handle, int configuration)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    const int result = Usb().setConfiguration(Usb().context, handle->handle, configuration);
    return result < 0 ? LibusbError(result) : 0;
}

LIBUSB_STANDIN int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* handle, int interfaceNumber)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    const int result = Usb().claimInterface(Usb().context, handle->handle, interfaceNumber);
    return result < 0 ? (result == -EBUSY || result == -EIO ? LIBUSB_ERROR_BUSY : LibusbError(result)) : 0;
}

LIBUSB_STANDIN int LIBUSB_CALL libusb_release_interface(libusb_device_handle*, int)
{
    return 0; // the virtual bus lets the interface go with the handle
}

LIBUSB_STANDIN int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                                     unsigned char* data, int length, int* transferred,
                                                     unsigned int timeout)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    *transferred = 0;
    const int result = Transfer(handle, endpoint, data, length, static_cast<int>(timeout), false);
    if (result < 0)
        return LibusbError(result);
    *transferred = result;
    return 0;
}

LIBUSB_STANDIN struct libusb_transfer* LIBUSB_CALL libusb_alloc_transfer(int isoPackets)
{
    if (isoPackets != 0)
        return nullptr;
    return new (std::nothrow) libusb_transfer{};
}

LIBUSB_STANDIN void LIBUSB_CALL libusb_free_transfer(struct libusb_transfer* transfer)
{
    delete transfer;
}

LIBUSB_STANDIN int LIBUSB_CALL libusb_submit_transfer(struct libusb_transfer* transfer)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    tavsim::VirtualDevice* device = DeviceOf(transfer->dev_handle->device);
    if (device == nullptr || !device->Plugged())
        return LIBUSB_ERROR_NO_DEVICE;
    waiting.push_back(transfer);
    return 0;
}

LIBUSB_STANDIN int LIBUSB_CALL libusb_cancel_transfer(struct libusb_transfer* transfer)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    for (auto entry = waiting.begin(); entry != waiting.end(); ++entry) {
        if (*entry == transfer) {
            waiting.erase(entry);
            transfer->status = LIBUSB_TRANSFER_CANCELLED;
            transfer->actual_length = 0;
            finished.push_back(transfer);
            return 0;
        }
    }
    return LIBUSB_ERROR_NOT_FOUND;
}

LIBUSB_STANDIN int LIBUSB_CALL libusb_handle_events_completed(libusb_context*, int* completed)
{
    std::deque<libusb_transfer*> done;
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        if (completed != nullptr && *completed != 0)
            return 0;
        if (finished.empty())
            TakeWaiting();
        done.swap(finished);
    }
    // Callbacks run outside the stand-in's lock, as libusb runs them. A
    // board that timed out once takes data again at once: the transfer
    // after the one that timed out is taken as libusb reaps it, in the same
    // call, unless that callback cancelled it first.
    while (!done.empty()) {
        libusb_transfer* transfer = done.front();
        done.pop_front();
        transfer->callback(transfer);
        if (transfer->status != LIBUSB_TRANSFER_TIMED_OUT)
            continue;
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        if (!waiting.empty()) {
            TakeOne(true);
            done.push_back(finished.back());
            finished.pop_back();
        }
    }
    return 0;
}

// ---- control for the tests ----------------------------------------------

// Arrivals known to every context (1, as libusb with hotplug events), or
// only to contexts made after them (0).
LIBUSB_STANDIN void standin_hotplug_events(int on)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    hotplugEvents = on != 0;
}

// The board opens as one bound to a driver libusb-1.0 cannot use.
LIBUSB_STANDIN int standin_set_unreachable(int index)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    tavsim::VirtualDevice* device = DeviceAt(index);
    if (device == nullptr)
        return -1;
    unreachable.insert(device->Device());
    return 0;
}
