#include "link/board_list.h"

#include <cstdio>

#include "link/selector.h"

namespace TAVDll::detail {

namespace {

// Opens the board at that address as tav_open would, on a link of its own
// and through the library that listed it, and lets it go again: whether it
// is openable, and its model letter.
void TryOpening(tav_device& entry, const UsbBackend* usb)
{
    BoardLink link(usb);
    link.printsReadFailure = false;
    Selector selector;
    selector.kind = Selector::Kind::UsbAddress;
    selector.busNumber = entry.bus;
    selector.deviceNumber = entry.device;
    std::lock_guard<LibraryMutex> lock(link.mutex);
    if (OpenSelected(link, selector, &usb, 1) != RESULT_OK)
        return;
    entry.openable = 1;
    entry.model = ModelLetter(link.boardType);
    ReleaseDevice(link);
}

void Describe(const UsbBackend& usb, const usb_bus* bus, const struct usb_device* device, bool board,
              tav_device& entry)
{
    entry = tav_device{};
    entry.vendor = device->descriptor.idVendor;
    entry.product = device->descriptor.idProduct;
    entry.board = board ? 1 : 0;
    std::snprintf(entry.library, sizeof entry.library, "%s", usb.name);
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    if (usb.deviceAddress(usb.context, bus, device, &busNumber, &deviceNumber)) {
        entry.bus = static_cast<unsigned>(busNumber);
        entry.device = static_cast<unsigned>(deviceNumber);
        std::snprintf(entry.selector, sizeof entry.selector, "usb:%03lu:%03lu", busNumber, deviceNumber);
    }
    if (usb.portPath == nullptr || !usb.portPath(usb.context, bus, device, entry.port, sizeof entry.port))
        entry.port[0] = '\0';
}

// The devices of one library's bus from index found on; the new count.
size_t ListBus(const UsbBackend& usb, tav_device* devices, size_t capacity, bool all, size_t found)
{
    std::lock_guard<LibraryMutex> discovery(DiscoveryMutex());
    RefreshBusList(usb);
    for (usb_bus* bus = usb.getBusses(usb.context); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            const bool board = IsBoardDevice(*device);
            if (!board && !all)
                continue;
            if (found < capacity)
                Describe(usb, bus, device, board, devices[found]);
            ++found;
        }
    }
    return found;
}

// Whether a board object opened without "sync:" queues its records: where
// a USB library it would reach the board through can queue.
bool BoardObjectsQueue()
{
    const UsbBackend* tables[BUS_BACKEND_LIMIT];
    const int count = BusBackends(true, tables);
    for (int index = 0; index < count; ++index)
        if (tables[index]->bulkWriteQueue != nullptr)
            return true;
    return false;
}

} // namespace

int ListDevices(tav_device* devices, size_t capacity, bool all, bool tryOpening)
{
    const UsbBackend* backends[BUS_BACKEND_LIMIT];
    const int backendCount = BusBackends(false, backends);
    const bool queued = BoardObjectsQueue();
    size_t found = 0;
    for (int index = 0; index < backendCount; ++index) {
        const size_t first = found;
        found = ListBus(*backends[index], devices, capacity, all, found);
        for (size_t entry = first; entry < found && entry < capacity; ++entry)
            devices[entry].queued = devices[entry].board && queued ? 1 : 0;
        // Opening takes the discovery lock again: after the walk.
        for (size_t entry = first; tryOpening && entry < found && entry < capacity; ++entry)
            if (devices[entry].board && devices[entry].selector[0] != '\0')
                TryOpening(devices[entry], backends[index]);
    }
    return static_cast<int>(found);
}

} // namespace TAVDll::detail
