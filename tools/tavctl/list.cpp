// tavctl list: the boards on the bus.
#include <cstdio>

#include "tool.h"

namespace tavctl {

void AddListCommand(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("list", "List the TAV boards on the USB bus (BUS:DEV for --device)");
    auto showAll = std::make_shared<bool>(false);
    command->add_flag("--all", *showAll, "List every USB device, not only TAV boards");
    command->footer("Examples:\n  tavctl list\n  tavctl --sim list --all");
    command->callback([&context, showAll] {
        context.session.Enumerate();
        const TAVDll::UsbBackend& usb = context.session.Usb();
        int boards = 0;
        int unopenable = 0;
        for (usb_bus* bus = usb.getBusses(); bus != nullptr; bus = bus->next) {
            for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
                const bool board = IsBoard(device);
                if (!board && !*showAll)
                    continue;
                std::printf("bus %s device %s  %04x:%04x%s", bus->dirname, device->filename,
                            device->descriptor.idVendor, device->descriptor.idProduct, board ? "  TAV board" : "");
                if (board) {
                    ++boards;
                    // Opening and claiming is what every command will do: try it now.
                    usb_dev_handle* handle = usb.open(device);
                    const bool usable = handle != nullptr && usb.setConfiguration(handle, 1) >= 0
                                        && usb.claimInterface(handle, 0) >= 0;
                    if (handle != nullptr)
                        usb.close(handle);
                    if (!usable) {
                        ++unopenable;
                        std::printf("  (cannot be opened)");
                    }
                }
                std::printf("\n");
            }
        }
        if (boards == 0)
            std::printf("no TAV board found%s\n", context.session.Simulated() ? "" : " (try --sim for the virtual board)");
        if (unopenable > 0)
            std::printf("hint: a board that cannot be opened usually lacks permission: install "
                        "packaging/udev/60-tav-board.rules and plug it in again\n");
    });
}

} // namespace tavctl
