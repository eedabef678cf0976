// tavctl list: the boards on the bus.
#include <cstdio>

#include "TAVUsbBackend.h"
#include "board_facts.h"
#include "json_output.h"

namespace tavctl {

namespace {

using TAVDll::detail::BOARD_PRODUCT_ID;
using TAVDll::detail::BOARD_VENDOR_ID;

struct ListedDevice {
    std::string bus;      // "001", as selectors take it
    std::string device;   // "010"
    std::string selector; // "usb:001:010"; empty when libusb names it in a way no selector reaches
    uint16_t vendor;
    uint16_t product;
    bool board;
    bool openable;
};

// Opening and claiming is what every command will do: try it now.
bool Openable(const TAVDll::UsbBackend& usb, struct usb_device* device)
{
    usb_dev_handle* handle = usb.open(usb.context, device);
    const bool usable = handle != nullptr
                        && usb.setConfiguration(usb.context, handle, TAVDll::detail::BOARD_CONFIGURATION) >= 0
                        && usb.claimInterface(usb.context, handle, TAVDll::detail::BOARD_INTERFACE) >= 0;
    if (handle != nullptr)
        usb.close(usb.context, handle);
    return usable;
}

std::vector<ListedDevice> Devices(bool all)
{
    const TAVDll::UsbBackend& usb = *TAVDll::SystemUsbBackend();
    usb.init(usb.context);
    usb.findBusses(usb.context);
    usb.findDevices(usb.context);
    std::vector<ListedDevice> devices;
    for (usb_bus* bus = usb.getBusses(usb.context); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            const bool board =
                device->descriptor.idVendor == BOARD_VENDOR_ID && device->descriptor.idProduct == BOARD_PRODUCT_ID;
            if (!board && !all)
                continue;
            ListedDevice listed{bus->dirname, device->filename, "", device->descriptor.idVendor,
                                device->descriptor.idProduct, board, board && Openable(usb, device)};
            unsigned long busNumber = 0;
            unsigned long deviceNumber = 0;
            if (TAVDll::UsbDeviceAddress(bus, device, &busNumber, &deviceNumber)) {
                char number[16];
                std::snprintf(number, sizeof number, "%03lu", busNumber);
                listed.bus = number;
                std::snprintf(number, sizeof number, "%03lu", deviceNumber);
                listed.device = number;
                listed.selector = "usb:" + listed.bus + ":" + listed.device;
            }
            devices.push_back(listed);
        }
    }
    return devices;
}

} // namespace

void ListCommand(Context& context, bool all)
{
    const bool json = context.options.format == "json";
    if (context.session.Simulated()) {
        const std::string selector = context.session.Selector();
        if (json)
            PrintJson({{"boards", Json::array({{{"selector", selector},
                                                {"virtual", true},
                                                {"model", std::string(1, selector.back())},
                                                {"openable", true}}})}});
        else
            std::printf("%s  %04x:%04x  TAV board (virtual, model %c, inside tavctl)\n", selector.c_str(),
                        BOARD_VENDOR_ID, BOARD_PRODUCT_ID, selector.back());
        return;
    }
    const std::vector<ListedDevice> devices = Devices(all);
    if (json) {
        Json boards = Json::array();
        for (const ListedDevice& device : devices) {
            char vendor[8];
            char product[8];
            std::snprintf(vendor, sizeof vendor, "%04x", device.vendor);
            std::snprintf(product, sizeof product, "%04x", device.product);
            boards.push_back({{"selector", device.selector},
                              {"bus", std::strtoul(device.bus.c_str(), nullptr, 10)},
                              {"device", std::strtoul(device.device.c_str(), nullptr, 10)},
                              {"vendor", vendor},
                              {"product", product},
                              {"board", device.board},
                              {"openable", device.openable}});
        }
        PrintJson({{"boards", boards}});
        return;
    }
    int boards = 0;
    int unopenable = 0;
    for (const ListedDevice& device : devices) {
        std::printf("bus %s device %s  %04x:%04x%s", device.bus.c_str(), device.device.c_str(), device.vendor,
                    device.product, device.board ? "  TAV board" : "");
        if (device.board) {
            ++boards;
            if (!device.openable) {
                ++unopenable;
                std::printf("  (cannot be opened)");
            }
        }
        std::printf("\n");
    }
    if (all && devices.empty())
        std::printf("no USB device found%s\n", tav_usb_problem() != nullptr ? "" : " (try --sim for the virtual board)");
    if (boards == 0) {
        if (const char* problem = tav_usb_problem())
            std::printf("no TAV board found: %s\n", problem);
        else
            std::printf("no TAV board found (try --sim for the virtual board)\n");
    }
    if (unopenable > 0)
        std::printf("hint: a board that cannot be opened usually lacks permission: install the udev rule "
                    "60-tav-board.rules (see the README) and plug it in again\n");
}

} // namespace tavctl
