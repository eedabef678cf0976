#include <cerrno>
#include <cstdio>

#include "link/board_link.h"
#include "link/debug_print.h"
#include "tav/tav.h"

namespace TAVDll {
namespace detail {

BoardLink& MakeDefaultLink()
{
    // Listening first: a table installed while the board is made is not missed.
    SetUsbBackendInstalled([](const UsbBackend* installed) {
        // The default board takes it for its next connection, between operations.
        OnDefaultBoard([installed](BoardLink& link) { link.usb = installed; });
    });
    static BoardLink link(InstalledUsbBackend());
    return link;
}

void ResetDefaultLink()
{
    BoardLink& link = DefaultLink();
    std::lock_guard<LibraryMutex> lock(link.mutex);
    link.deviceHandle = nullptr;
    link.timeoutMs = 0;
    link.queued = false;
    link.boardType = BOARD_T;
    link.versionText[0] = '\0';
    link.observer = nullptr;
    link.replyObserver = nullptr;
    link.operationObserver = nullptr;
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
    std::lock_guard<LibraryMutex> discovery(DiscoveryMutex());
    RefreshBusList(*link.usb);
}

namespace {

// "usb:001:005 (libusb 0.1)" for the log.
void DeviceName(const UsbBackend& usb, const struct usb_device* device, char* text, size_t size)
{
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    if (usb.deviceAddress(usb.context, device->bus, device, &busNumber, &deviceNumber))
        std::snprintf(text, size, "usb:%03lu:%03lu (%s)", busNumber, deviceNumber, usb.name);
    else
        std::snprintf(text, size, "a device (%s)", usb.name);
}

// Why this thread's last open found a board it could not open or claim, where
// the two usual causes can be told apart: no permission, or another holder.
thread_local char openProblem[512];

// Brings an opened device to configuration 1 with interface 0 claimed; on any
// failure the handle is closed again and nothing stays open, and the log
// says why.
usb_dev_handle* OpenAndClaim(BoardLink& link, struct usb_device* device)
{
    const UsbBackend& usb = *link.usb;
    errno = 0;
    link.deviceHandle = usb.open(usb.context, device);
    char name[64];
    char words[128];
    openProblem[0] = '\0';
    if (link.deviceHandle == nullptr) {
        const int error = errno != 0 ? errno : EIO;
        DeviceName(usb, device, name, sizeof name);
        ErrorWords(-error, words, sizeof words);
        LogPrint(TAV_LOG_WARNING, "cannot open %s: %s", name, words);
        if (error == EACCES || error == EPERM)
            std::snprintf(openProblem, sizeof openProblem,
                          "no permission to open %s: install the udev rule (60-tav-board.rules, see the README) "
                          "and plug the board in again",
                          name);
        return nullptr;
    }
    const int configured = usb.setConfiguration(usb.context, link.deviceHandle, BOARD_CONFIGURATION);
    const int claimed = configured < 0 ? 0 : usb.claimInterface(usb.context, link.deviceHandle, BOARD_INTERFACE);
    if (configured < 0 || claimed < 0) {
        DeviceName(usb, device, name, sizeof name);
        ErrorWords(configured < 0 ? configured : claimed, words, sizeof words);
        LogPrint(TAV_LOG_WARNING, configured < 0 ? "cannot set configuration 1 of %s: %s"
                                                 : "cannot claim interface 0 of %s: %s",
                 name, words);
        if (configured >= 0 && claimed == -EBUSY)
            std::snprintf(openProblem, sizeof openProblem,
                          "%s is in use by another program (it holds the board's interface): close that one first",
                          name);
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
    std::lock_guard<LibraryMutex> discovery(DiscoveryMutex());
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

void ClearOpenProblem()
{
    openProblem[0] = '\0';
}

void SetOpenProblem(const char* text)
{
    std::snprintf(openProblem, sizeof openProblem, "%s", text);
}

const char* OpenProblem()
{
    return openProblem[0] != '\0' ? openProblem : nullptr;
}

} // namespace detail

} // namespace TAVDll
