#include <atomic>

#include "link/board_link.h"

namespace TAVDll {

namespace {

// The backend that USB selectors and the default board use; null: the system's.
std::atomic<const UsbBackend*> installedBackend{nullptr};

} // namespace

const UsbBackend* SystemUsbBackend()
{
    static const UsbBackend table = detail::MakeSystemBackend();
    return &table;
}

const UsbBackend* detail::InstalledUsbBackend()
{
    const UsbBackend* backend = installedBackend.load();
    return backend != nullptr ? backend : SystemUsbBackend();
}

const UsbBackend* detail::BusBackend(bool queued)
{
    // The system's table, also when a harness put it back, means nothing is
    // installed.
    const UsbBackend* installed = InstalledUsbBackend();
    return queued && installed == SystemUsbBackend() ? QueuedUsbBackend() : installed;
}

const UsbBackend* InstallUsbBackend(const UsbBackend* backend)
{
    const UsbBackend* previous = detail::InstalledUsbBackend();
    installedBackend.store(backend);
    // The default board takes it for its next connection, between operations.
    detail::OnDefaultBoard([](detail::BoardLink& link) {
        link.usb = detail::InstalledUsbBackend();
        return 0;
    });
    return previous;
}

} // namespace TAVDll
