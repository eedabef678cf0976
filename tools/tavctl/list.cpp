// tavctl list: the boards on the bus.
#include <cstdio>

#include "board_facts.h"
#include "TAVUsbBackend.h"
#include "tool.h"

namespace tavctl {

void AddListCommand(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("list", "List the TAV boards on the USB bus (BUS:DEV for --device)");
    auto showAll = std::make_shared<bool>(false);
    command->add_flag("--all", *showAll, "List every USB device, not only TAV boards");
    command->footer("Examples:\n  tavctl list\n  tavctl --sim list --all");
    command->callback([&context, showAll] {
        if (context.session.Simulated()) {
            const std::string selector = context.session.Selector();
            std::printf("%s  %04x:%04x  TAV board (virtual, model %c, inside tavctl)\n", selector.c_str(),
                        TAVDll::detail::BOARD_VENDOR_ID, TAVDll::detail::BOARD_PRODUCT_ID, selector.back());
            return;
        }
        const TAVDll::UsbBackend& usb = *TAVDll::SystemUsbBackend();
        usb.init(usb.context);
        usb.findBusses(usb.context);
        usb.findDevices(usb.context);
        int boards = 0;
        int unopenable = 0;
        for (usb_bus* bus = usb.getBusses(usb.context); bus != nullptr; bus = bus->next) {
            for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
                const bool board = device->descriptor.idVendor == TAVDll::detail::BOARD_VENDOR_ID
                                   && device->descriptor.idProduct == TAVDll::detail::BOARD_PRODUCT_ID;
                if (!board && !*showAll)
                    continue;
                std::printf("bus %s device %s  %04x:%04x%s", bus->dirname, device->filename,
                            device->descriptor.idVendor, device->descriptor.idProduct, board ? "  TAV board" : "");
                if (board) {
                    ++boards;
                    // Opening and claiming is what every command will do: try it now.
                    usb_dev_handle* handle = usb.open(usb.context, device);
                    const bool usable = handle != nullptr
                                        && usb.setConfiguration(usb.context, handle, TAVDll::detail::BOARD_CONFIGURATION) >= 0
                                        && usb.claimInterface(usb.context, handle, TAVDll::detail::BOARD_INTERFACE) >= 0;
                    if (handle != nullptr)
                        usb.close(usb.context, handle);
                    if (!usable) {
                        ++unopenable;
                        std::printf("  (cannot be opened)");
                    }
                }
                std::printf("\n");
            }
        }
        if (boards == 0)
            std::printf("no TAV board found (try --sim for the virtual board)\n");
        if (unopenable > 0)
            std::printf("hint: a board that cannot be opened usually lacks permission: install "
                        "packaging/udev/60-tav-board.rules and plug it in again\n");
    });
}

} // namespace tavctl
