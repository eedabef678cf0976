#include "link/board_list.h"

#include <cstdio>

#include "TAVUsbBackend.h"
#include "link/selector.h"

namespace TAVDll::detail {

namespace {

// Opens the board at that address as tav_open would, on a link of its own,
// and lets it go again: whether it is openable, and its model letter.
void TryOpening(tav_device& entry)
{
    BoardLink link(InstalledUsbBackend());
    Selector selector;
    selector.kind = Selector::Kind::UsbAddress;
    selector.busNumber = entry.bus;
    selector.deviceNumber = entry.device;
    std::lock_guard<std::mutex> lock(link.mutex);
    if (OpenSelected(link, selector) != RESULT_OK)
        return;
    entry.openable = 1;
    entry.model = ModelLetter(link.boardType);
    ReleaseDevice(link);
}

} // namespace

int ListDevices(tav_device* devices, size_t capacity, bool all)
{
    const UsbBackend& usb = *InstalledUsbBackend();
    size_t found = 0;
    {
        std::lock_guard<std::mutex> discovery(DiscoveryMutex());
        RefreshBusList(usb);
        for (usb_bus* bus = usb.getBusses(usb.context); bus != nullptr; bus = bus->next) {
            for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
                const bool board =
                    device->descriptor.idVendor == BOARD_VENDOR_ID && device->descriptor.idProduct == BOARD_PRODUCT_ID;
                if (!board && !all)
                    continue;
                if (found < capacity) {
                    tav_device& entry = devices[found];
                    entry = tav_device{};
                    entry.vendor = device->descriptor.idVendor;
                    entry.product = device->descriptor.idProduct;
                    entry.board = board ? 1 : 0;
                    unsigned long busNumber = 0;
                    unsigned long deviceNumber = 0;
                    if (UsbDeviceAddress(bus, device, &busNumber, &deviceNumber)) {
                        entry.bus = static_cast<unsigned>(busNumber);
                        entry.device = static_cast<unsigned>(deviceNumber);
                        std::snprintf(entry.selector, sizeof entry.selector, "usb:%03lu:%03lu", busNumber, deviceNumber);
                    }
                }
                ++found;
            }
        }
    }
    // Opening takes the discovery lock again: after the walk.
    for (size_t index = 0; index < found && index < capacity; ++index)
        if (devices[index].board && devices[index].selector[0] != '\0')
            TryOpening(devices[index]);
    return static_cast<int>(found);
}

} // namespace TAVDll::detail
