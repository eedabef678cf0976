#include "link/board_link.h"
#include "link/debug_print.h"

namespace TAVDll {
namespace detail {

BoardLink& DefaultLink()
{
    static BoardLink link(InstalledUsbBackend());
    return link;
}

void ResetDefaultLink()
{
    BoardLink& link = DefaultLink();
    std::lock_guard<std::mutex> lock(link.mutex);
    link.deviceHandle = nullptr;
    link.timeoutMs = 0;
    link.queued = false;
    link.boardType = BOARD_T;
    link.versionText[0] = '\0';
    link.observer = nullptr;
    link.replyObserver = nullptr;
    link.observerUser = nullptr;
}

void ReleaseDevice(BoardLink& link)
{
    if (link.deviceHandle != nullptr)
        link.usb->close(link.usb->context, link.deviceHandle);
    link.deviceHandle = nullptr;
}

void RefreshBusList(const UsbBackend& usb)
{
    usb.init(usb.context);
    usb.findBusses(usb.context);
    usb.findDevices(usb.context);
}

void Enumerate(BoardLink& link)
{
    // A handle still open here would keep interface 0 claimed for good.
    ReleaseDevice(link);
    link.timeoutMs = TRANSFER_TIMEOUT_MS;
    std::lock_guard<std::mutex> discovery(DiscoveryMutex());
    RefreshBusList(*link.usb);
}

namespace {

// Brings an opened device to configuration 1 with interface 0 claimed; on any
// failure the handle is closed again and nothing stays open.
usb_dev_handle* OpenAndClaim(BoardLink& link, struct usb_device* device)
{
    const UsbBackend& usb = *link.usb;
    link.deviceHandle = usb.open(usb.context, device);
    if (link.deviceHandle == nullptr)
        return nullptr;
    if (usb.setConfiguration(usb.context, link.deviceHandle, BOARD_CONFIGURATION) < 0
        || usb.claimInterface(usb.context, link.deviceHandle, BOARD_INTERFACE) < 0) {
        ReleaseDevice(link);
        return nullptr;
    }
    return link.deviceHandle;
}

} // namespace

usb_dev_handle* OpenFirstMatch(BoardLink& link, unsigned int vendorId, unsigned int productId)
{
    if (BoardOpen(link))
        return link.deviceHandle;
    std::lock_guard<std::mutex> discovery(DiscoveryMutex());
    for (usb_bus* bus = link.usb->getBusses(link.usb->context); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (device->descriptor.idVendor != vendorId || device->descriptor.idProduct != productId)
                continue;
            // Only the first match is tried, even if opening it fails.
            DebugPrint("open good");
            return OpenAndClaim(link, device);
        }
    }
    return nullptr;
}

usb_dev_handle* OpenDevice(BoardLink& link, struct usb_device* device)
{
    if (device == nullptr)
        return link.deviceHandle;
    ReleaseDevice(link);
    return OpenAndClaim(link, device);
}

} // namespace detail

} // namespace TAVDll
