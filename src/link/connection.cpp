#include "link/debug_print.h"
#include "link/library_state.h"
#include "link/usb_backend.h"

namespace TAVDll {
namespace detail {

LibraryState libraryState;

void ReleaseDevice()
{
    if (libraryState.deviceHandle != nullptr)
        Usb().close(libraryState.deviceHandle);
    libraryState.deviceHandle = nullptr;
}

namespace {

void Enumerate()
{
    // A handle still open here would keep interface 0 claimed for good.
    ReleaseDevice();
    libraryState.timeoutMs = TRANSFER_TIMEOUT_MS;
    Usb().init();
    Usb().findBusses();
    Usb().findDevices();
}

// Opens device and brings it to configuration 1 with interface 0 claimed;
// on any failure the handle is closed again and nothing stays open.
usb_dev_handle* OpenAndClaim(struct usb_device* device)
{
    libraryState.deviceHandle = Usb().open(device);
    if (libraryState.deviceHandle == nullptr)
        return nullptr;
    if (Usb().setConfiguration(libraryState.deviceHandle, BOARD_CONFIGURATION) < 0
        || Usb().claimInterface(libraryState.deviceHandle, BOARD_INTERFACE) < 0) {
        ReleaseDevice();
        return nullptr;
    }
    return libraryState.deviceHandle;
}

} // namespace
} // namespace detail

using namespace detail;

void TAVLib::Initial()
{
    Enumerate();
}

void TAVLib::Inital()
{
    Enumerate();
}

usb_dev_handle* TAVLib::Open(unsigned int vendorId, unsigned int productId)
{
    if (BoardOpen())
        return libraryState.deviceHandle;
    for (usb_bus* bus = Usb().getBusses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (device->descriptor.idVendor != vendorId || device->descriptor.idProduct != productId)
                continue;
            // Only the first match is tried, even if opening it fails.
            DebugPrint("open good");
            return OpenAndClaim(device);
        }
    }
    return nullptr;
}

usb_dev_handle* TAVLib::Open(struct usb_device* device)
{
    if (device == nullptr)
        return libraryState.deviceHandle;
    ReleaseDevice();
    return OpenAndClaim(device);
}

usb_dev_handle* TAVLib::Open()
{
    return Open(BOARD_VENDOR_ID, BOARD_PRODUCT_ID);
}

} // namespace TAVDll
