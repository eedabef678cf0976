// tavctl list: the boards on the bus (the library's tav_list).
#include <cctype>
#include <cstdio>
#include <vector>

#include "command.h"
#include "json_output.h"

namespace tavctl {

namespace {

std::vector<tav_device> Devices(bool all)
{
    std::vector<tav_device> devices;
    for (;;) { // a device may come between counting and filling
        const int count = tav_list(devices.data(), devices.size(), all ? 1 : 0);
        if (count < 0)
            throw ToolError(std::string("cannot list the USB devices: ") + tav_strerror(count));
        if (static_cast<size_t>(count) <= devices.size()) {
            devices.resize(static_cast<size_t>(count));
            return devices;
        }
        devices.resize(static_cast<size_t>(count));
    }
}

} // namespace

Json DeviceJson(const tav_device& device)
{
    char vendor[8];
    char product[8];
    std::snprintf(vendor, sizeof vendor, "%04x", device.vendor);
    std::snprintf(product, sizeof product, "%04x", device.product);
    Json entry = {{"selector", device.selector}, {"bus", device.bus},   {"device", device.device},
                  {"vendor", vendor},             {"product", product}, {"board", device.board != 0},
                  {"openable", device.openable != 0}, {"library", device.library}, {"port", device.port},
                  {"queued", device.queued != 0}};
    if (device.model != 0)
        entry["model"] = std::string(1, device.model);
    return entry;
}

std::string DeviceText(const tav_device& device)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s  port %s  %04x:%04x%s", device.selector[0] != '\0' ? device.selector : "-",
                  device.port[0] != '\0' ? device.port : "?", device.vendor, device.product,
                  device.board ? "  TAV board" : "");
    std::string line = text;
    if (device.model != 0)
        line += std::string(" (model ") + device.model + ")";
    return line;
}

namespace {

Json BoardsJson(const std::vector<tav_device>& devices)
{
    Json boards = Json::array();
    for (const tav_device& device : devices)
        boards.push_back(DeviceJson(device));
    return boards;
}

} // namespace

Json BoardsJson(bool all)
{
    return BoardsJson(Devices(all));
}

void ListCommand(Context& context, bool all)
{
    const bool json = context.options.format == "json";
    if (context.session.Simulated()) {
        const std::string selector = context.session.Selector();
        const char model = static_cast<char>(std::toupper(static_cast<unsigned char>(selector.back())));
        if (json)
            PrintJson({{"boards", Json::array({{{"selector", selector},
                                                {"virtual", true},
                                                {"model", std::string(1, model)},
                                                {"openable", true}}})}});
        else
            std::printf("%s  %04x:%04x  TAV board (virtual, model %c, inside tavctl)\n", selector.c_str(),
                        TAV_USB_VENDOR_ID, TAV_USB_PRODUCT_ID, model);
        return;
    }
    const std::vector<tav_device> devices = Devices(all);
    // No USB library at all is a failure, not an empty bus.
    if (devices.empty())
        if (const char* problem = tav_usb_problem())
            throw ToolError(std::string("cannot look for boards: ") + problem);
    if (json) {
        PrintJson({{"boards", BoardsJson(devices)}});
        return;
    }
    int boards = 0;
    int unopenable = 0;
    bool portUnknown = false;
    bool queued = false;
    for (const tav_device& device : devices) {
        queued = queued || device.queued != 0;
        portUnknown = portUnknown || device.port[0] == '\0';
        std::printf("%s", DeviceText(device).c_str());
        if (device.board) {
            ++boards;
            if (!device.openable) {
                ++unopenable;
                std::printf("  (cannot be opened)");
            }
        }
        std::printf("  via %s\n", device.library);
    }
    if (queued)
        std::printf("records: queued, each operation's back to back on the bus (after sync: one transfer at a time)\n");
    if (portUnknown)
        std::printf("port ?: the USB library cannot tell where it is plugged in (libusb-win32 never can); "
                    "select it by its usb: address\n");
    if (all && devices.empty())
        std::printf("no USB device found%s\n", tav_usb_problem() != nullptr ? "" : " (try --sim for the virtual board)");
    if (boards == 0) {
        if (const char* problem = tav_usb_problem())
            std::printf("no TAV board found: %s\n", problem);
        else
            std::printf("no TAV board found (try --sim for the virtual board)\n");
        std::printf("USB libraries: %s\n", tav_usb_libraries());
    }
    if (unopenable > 0) {
        if (const char* problem = tav_usb_problem())
            std::printf("hint: %s\n", problem);
        else
            std::printf("hint: a board that cannot be opened usually lacks permission: install the udev rule "
                        "60-tav-board.rules (see the README) and plug it in again\n");
    }
}

Command ListDeclaration()
{
    Command list{"list", "List the TAV boards on the USB bus (BUS:DEV for --device)",
                 {Flag("--all", "List every USB device, not only TAV boards")},
                 "Examples:\n  tavctl list\n  tavctl list --all\n  tavctl --format json list",
                 [](Context& context, const Arguments& arguments) { ListCommand(context, arguments.Given("--all")); }};
    list.runsWhenChecked = false;
    return list;
}

} // namespace tavctl
