#include "link/selector.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/board_info.h"
#include "link/device_node.h"
#include "link/debug_print.h"
#include "tav/tav.h"

namespace TAVDll::detail {

namespace {

bool ParseUsbAddress(const char* text, Selector* selector)
{
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr)
        return false;
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    if (!ParseDecimal(text, static_cast<size_t>(colon - text), &busNumber)
        || !ParseDecimal(colon + 1, std::strlen(colon + 1), &deviceNumber))
        return false;
    selector->kind = Selector::Kind::UsbAddress;
    selector->busNumber = busNumber;
    selector->deviceNumber = deviceNumber;
    return true;
}

// The bus and device numbers as `tavctl list` prints them.
bool AtAddress(const UsbBackend& usb, const usb_bus* bus, const struct usb_device* device, const Selector& selector)
{
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    return usb.deviceAddress(usb.context, bus, device, &busNumber, &deviceNumber) && busNumber == selector.busNumber
           && deviceNumber == selector.deviceNumber;
}

bool AtPort(const UsbBackend& usb, const usb_bus* bus, const struct usb_device* device, const Selector& selector)
{
    char path[USB_PORT_PATH_SIZE];
    return usb.portPath != nullptr && usb.portPath(usb.context, bus, device, path, sizeof path)
           && std::strcmp(path, selector.portPath) == 0;
}

bool Matches(const UsbBackend& usb, const usb_bus* bus, const struct usb_device* device, const Selector& selector)
{
    switch (selector.kind) {
    case Selector::Kind::UsbAddress: return AtAddress(usb, bus, device, selector);
    case Selector::Kind::PortPath: return AtPort(usb, bus, device, selector);
    default: return IsBoardDevice(*device);
    }
}

struct usb_device* FindSelected(const UsbBackend& usb, const Selector& selector)
{
    for (usb_bus* bus = usb.getBusses(usb.context); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (Matches(usb, bus, device, selector))
                return IsBoardDevice(*device) ? device : nullptr;
        }
    }
    return nullptr;
}

// One enumeration, walk and open on the link's backend, with no other
// discovery in between.
int FindAndOpen(BoardLink& link, const Selector& selector)
{
    std::lock_guard<LibraryMutex> discovery(DiscoveryMutex());
    RefreshBusList(*link.usb);
    struct usb_device* device = FindSelected(*link.usb, selector);
    if (device == nullptr && link.usb->rescan != nullptr) {
        // A library that kept what it knew (boards of it are open) looks
        // again: a board plugged in since may be unknown to it.
        link.usb->rescan(link.usb->context);
        link.usb->findBusses(link.usb->context);
        link.usb->findDevices(link.usb->context);
        device = FindSelected(*link.usb, selector);
    }
    if (device == nullptr)
        return TAV_E_NOT_FOUND;
    if (OpenDevice(link, device) == nullptr)
        return TAV_E_ACCESS;
    if (!link.usb->deviceAddress(link.usb->context, device->bus, device, &link.busNumber, &link.deviceNumber))
        link.busNumber = link.deviceNumber = 0;
    link.portPath[0] = '\0';
    if (selector.reattach != ReattachPolicy::Off && link.usb->portPath != nullptr
        && !link.usb->portPath(link.usb->context, device->bus, device, link.portPath, sizeof link.portPath))
        link.portPath[0] = '\0';
    return RESULT_OK;
}

} // namespace

namespace {

// Takes prefix off the front of text when it is there.
bool TakePrefix(const char** text, const char* prefix)
{
    const size_t length = std::strlen(prefix);
    if (std::strncmp(*text, prefix, length) != 0)
        return false;
    *text += length;
    return true;
}

// "queued:" or "sync:", and a "reattach...:", before the board, each at
// most once.
bool ParsePrefixes(const char** text, Selector* parsed)
{
    struct Reattach {
        const char* prefix;
        ReattachPolicy policy;
    };
    constexpr Reattach REATTACH_PREFIXES[] = {{"reattach:", ReattachPolicy::Restore},
                                              {"reattach-safe:", ReattachPolicy::Safe},
                                              {"reattach-none:", ReattachPolicy::None}};
    for (bool found = true; found && *text != nullptr;) {
        found = false;
        if (TakePrefix(text, "queued:")) {
            if (parsed->queued || parsed->sync)
                return false;
            parsed->queued = found = true;
        }
        if (TakePrefix(text, "sync:")) {
            if (parsed->queued || parsed->sync)
                return false;
            parsed->sync = found = true;
        }
        for (const Reattach& reattach : REATTACH_PREFIXES) {
            if (!TakePrefix(text, reattach.prefix))
                continue;
            if (parsed->reattach != ReattachPolicy::Off)
                return false;
            parsed->reattach = reattach.policy;
            found = true;
        }
    }
    return true;
}

} // namespace

bool ParseSelector(const char* text, Selector* selector)
{
    Selector parsed;
    if (!ParsePrefixes(&text, &parsed))
        return false;
    if (text == nullptr || text[0] == '\0') {
        *selector = parsed;
        return true;
    }
    if (std::strncmp(text, "sim:", 4) == 0) {
        // The model letter in either case, as pin names are ("p4.8").
        const char modelLetter = text[4] >= 'a' && text[4] <= 'z' ? static_cast<char>(text[4] - 'a' + 'A') : text[4];
        if (ModelIndex(modelLetter) < 0 || text[5] != '\0')
            return false;
        parsed.kind = Selector::Kind::Virtual;
        parsed.modelLetter = modelLetter;
        *selector = parsed;
        return true;
    }
    constexpr size_t DEVICE_NODE_PREFIX_LENGTH = 4;
    if (std::strncmp(text, "dev:", DEVICE_NODE_PREFIX_LENGTH) == 0) {
        if (!UsbDeviceNodeAddress(text + DEVICE_NODE_PREFIX_LENGTH, &parsed.busNumber, &parsed.deviceNumber))
            return false;
        parsed.kind = Selector::Kind::UsbAddress;
        *selector = parsed;
        return true;
    }
    constexpr size_t PORT_PREFIX_LENGTH = 5;
    if (std::strncmp(text, "port:", PORT_PREFIX_LENGTH) == 0) {
        if (!ValidPortPath(text + PORT_PREFIX_LENGTH))
            return false;
        parsed.kind = Selector::Kind::PortPath;
        std::snprintf(parsed.portPath, sizeof parsed.portPath, "%s", text + PORT_PREFIX_LENGTH);
        *selector = parsed;
        return true;
    }
    if (!ParseUsbAddress(std::strncmp(text, "usb:", 4) == 0 ? text + 4 : text, &parsed))
        return false;
    *selector = parsed;
    return true;
}

bool ApplyDefaultSelector(Selector* selector)
{
    const char* text = std::getenv("TAV_DEVICE");
    if (selector->kind != Selector::Kind::FirstBoard || text == nullptr || text[0] == '\0')
        return true;
    Selector fromEnvironment;
    if (!ParseSelector(text, &fromEnvironment)) {
        char quoted[96];
        QuoteText(text, quoted, sizeof quoted);
        LogPrint(TAV_LOG_ERROR, "TAV_DEVICE=%s is not a board selector", quoted);
        return false;
    }
    // The program's own way of sending wins over TAV_DEVICE's.
    if (selector->queued || selector->sync) {
        fromEnvironment.queued = selector->queued;
        fromEnvironment.sync = selector->sync;
    }
    if (selector->reattach != ReattachPolicy::Off)
        fromEnvironment.reattach = selector->reattach;
    *selector = fromEnvironment;
    return true;
}

namespace {

int OpenIn(BoardLink& link, const Selector& selector, const UsbBackend* const* backends, int backendCount)
{
    ReleaseDevice(link);
    link.timeoutMs = TRANSFER_TIMEOUT_MS;
    // The first library that finds the board opens it; a board it finds
    // but cannot open is not looked for further.
    int result = TAV_E_NOT_FOUND;
    for (int index = 0; index < backendCount && result == TAV_E_NOT_FOUND; ++index) {
        link.usb = backends[index];
        result = FindAndOpen(link, selector);
        if (result == TAV_E_NOT_FOUND)
            LogPrint(TAV_LOG_INFO, "no board that the selector names on %s's bus", link.usb->name);
    }
    return result;
}

} // namespace

int OpenSelectedDevice(BoardLink& link, const Selector& selector, const UsbBackend* const* backends, int backendCount)
{
    return OpenIn(link, selector, backends, backendCount);
}

bool BoardAtPort(const UsbBackend& usb, const char* portPath, unsigned long* busNumber, unsigned long* deviceNumber)
{
    Selector selector;
    selector.kind = Selector::Kind::PortPath;
    std::snprintf(selector.portPath, sizeof selector.portPath, "%s", portPath);
    std::lock_guard<LibraryMutex> discovery(DiscoveryMutex());
    RefreshBusList(usb);
    for (usb_bus* bus = usb.getBusses(usb.context); bus != nullptr; bus = bus->next)
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next)
            if (IsBoardDevice(*device) && AtPort(usb, bus, device, selector))
                return usb.deviceAddress(usb.context, bus, device, busNumber, deviceNumber);
    return false;
}

int OpenSelected(BoardLink& link, const Selector& selector, const UsbBackend* const* backends, int backendCount)
{
    const int result = OpenIn(link, selector, backends, backendCount);
    if (result != RESULT_OK)
        return result;
    if (RequestBoardInfo(link) != RESULT_OK) {
        ReleaseDevice(link);
        return RESULT_IO_FAILED;
    }
    return RESULT_OK;
}

int OpenSelected(BoardLink& link, const Selector& selector)
{
    const UsbBackend* backends[BUS_BACKEND_LIMIT];
    if (selector.kind == Selector::Kind::Virtual)
        return OpenSelected(link, selector, &link.usb, 1);
    const int count = BusBackends(selector.queued, backends);
    return OpenSelected(link, selector, backends, count);
}

} // namespace TAVDll::detail
