// A stand-in for libusb-win32's libusb0.dll, for the tests under wine: the
// ten functions tav.dll loads, with libusb-win32's structure layout, names
// and error numbers, backed by the board model on a virtual bus.
//
// Every device sits on "bus-0" and is named after its driver device,
// "\\.\libusb0-0001--0x4c52-0x0101". Failures come back as libusb-win32
// reports them: -116 for a time-out and -5 (EIO) for everything else, a
// device that was unplugged included; opening an unplugged device fails.
//
// The boards: TAV_STANDIN_BOARDS (one model letter per board, "TS") when the
// first usb_init finds none, and the standin_* functions below for tests.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "virtual_board.h"
#include "virtual_usb.h"

// libusb-win32's layout, checked here against its header's definitions:
// byte-packed structures with 512-byte names.
static_assert(sizeof(usb_bus::dirname) == 512 && sizeof(usb_device::filename) == 512, "512-byte names");
static_assert(offsetof(usb_device, filename) == 2 * sizeof(void*), "filename after next and prev");
static_assert(offsetof(usb_device, descriptor) == 2 * sizeof(void*) + 512 + sizeof(void*), "packed descriptor");
static_assert(sizeof(usb_device_descriptor) == 18, "packed device descriptor");
static_assert(sizeof(usb_device) == 6 * sizeof(void*) + 512 + 18 + 2, "packed usb_device");
static_assert(offsetof(usb_bus, devices) == 2 * sizeof(void*) + 512, "devices after dirname");

#define STANDIN_API extern "C" __declspec(dllexport)

namespace {

constexpr int LIBUSB0_TIMEOUT = -116;
constexpr int LIBUSB0_IO = -5;

std::recursive_mutex standinMutex;
std::unique_ptr<tavsim::VirtualUsb> bus;
int namedDevices = 0;

tavsim::VirtualUsb& Bus()
{
    if (!bus)
        bus = std::make_unique<tavsim::VirtualUsb>(tavsim::VirtualUsb::Install::No);
    return *bus;
}

int AddBoard(char model)
{
    tavsim::VirtualDevice& device = Bus().AddBoard(model, {1, 0, 2, 13});
    ++namedDevices;
    std::snprintf(device.Device()->filename, sizeof device.Device()->filename, "\\\\.\\libusb0-%04d--0x%04x-0x%04x",
                  namedDevices, tavsim::TAV_VENDOR_ID, tavsim::TAV_PRODUCT_ID);
    std::snprintf(device.Device()->bus->dirname, sizeof device.Device()->bus->dirname, "bus-0");
    return static_cast<int>(Bus().DeviceCount() - 1);
}

tavsim::VirtualDevice* DeviceAt(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= Bus().DeviceCount())
        return nullptr;
    return &Bus().DeviceAt(static_cast<size_t>(index));
}

// The virtual bus speaks Linux's libusb numbers; libusb-win32 has only two.
int AsLibusb0(int result)
{
    if (result >= 0)
        return result;
    return result == tavsim::USB_ERROR_TIMEOUT ? LIBUSB0_TIMEOUT : LIBUSB0_IO;
}

const TAVDll::UsbBackend& Usb()
{
    return Bus().Backend();
}

} // namespace

// ---- libusb-win32's functions --------------------------------------------

STANDIN_API void usb_init(void)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    const char* models = std::getenv("TAV_STANDIN_BOARDS");
    if (Bus().DeviceCount() == 0 && models != nullptr) {
        for (const char* model = models; *model != '\0'; ++model)
            AddBoard(*model);
    }
    Usb().init(Usb().context);
}

STANDIN_API int usb_find_busses(void)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return Usb().findBusses(Usb().context);
}

STANDIN_API int usb_find_devices(void)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return Usb().findDevices(Usb().context);
}

STANDIN_API struct usb_bus* usb_get_busses(void)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return Usb().getBusses(Usb().context);
}

STANDIN_API usb_dev_handle* usb_open(struct usb_device* device)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return Usb().open(Usb().context, device);
}

STANDIN_API int usb_set_configuration(usb_dev_handle* handle, int configuration)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return AsLibusb0(Usb().setConfiguration(Usb().context, handle, configuration));
}

STANDIN_API int usb_claim_interface(usb_dev_handle* handle, int interfaceNumber)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return AsLibusb0(Usb().claimInterface(Usb().context, handle, interfaceNumber));
}

STANDIN_API int usb_close(usb_dev_handle* handle)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return AsLibusb0(Usb().close(Usb().context, handle));
}

STANDIN_API int usb_bulk_write(usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeout)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return AsLibusb0(Usb().bulkWrite(Usb().context, handle, endpoint, bytes, size, timeout));
}

STANDIN_API int usb_bulk_read(usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeout)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return AsLibusb0(Usb().bulkRead(Usb().context, handle, endpoint, bytes, size, timeout));
}

// ---- control for the tests ----------------------------------------------

// A fresh bus without devices (handles of the old one must be closed).
STANDIN_API void standin_reset(void)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    bus.reset();
    namedDevices = 0;
}

// A board of that model ('T', 'S', 'C'); its index for the calls below.
STANDIN_API int standin_add_board(char model)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return AddBoard(model);
}

// Write number writeNumber (from 1) to the device fails: 0 an error, 3 a
// time-out. 0 on success, -1 for an unknown device.
STANDIN_API int standin_fail_write(int index, int writeNumber, int timeout)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    tavsim::VirtualDevice* device = DeviceAt(index);
    if (device == nullptr)
        return -1;
    device->FailWrite(writeNumber, timeout != 0 ? tavsim::WriteFault::Timeout : tavsim::WriteFault::Error);
    return 0;
}

// The device is unplugged at that write (from 1).
STANDIN_API int standin_unplug_at_write(int index, int writeNumber)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    tavsim::VirtualDevice* device = DeviceAt(index);
    if (device == nullptr)
        return -1;
    device->UnplugAtWrite(writeNumber);
    return 0;
}

// Bulk writes made to the device so far (whole, short or failed).
STANDIN_API int standin_write_attempts(int index)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    tavsim::VirtualDevice* device = DeviceAt(index);
    return device != nullptr ? device->WriteCount() : -1;
}

// The whole records the device received, 64 bytes each, into records (at
// most maxRecords); their number.
STANDIN_API int standin_records(int index, unsigned char* records, int maxRecords)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    tavsim::VirtualDevice* device = DeviceAt(index);
    if (device == nullptr)
        return -1;
    int count = 0;
    for (const tavsim::Transfer& transfer : Bus().Transfers()) {
        if (transfer.device != device->Device() || transfer.endpoint != tavsim::TAV_ENDPOINT_OUT
            || transfer.result != 64 || transfer.bytes.size() != 64)
            continue;
        if (count < maxRecords)
            std::memcpy(records + 64 * count, transfer.bytes.data(), 64);
        ++count;
    }
    return count;
}

STANDIN_API int standin_open_handles(void)
{
    std::lock_guard<std::recursive_mutex> lock(standinMutex);
    return Bus().OpenHandleCount();
}
