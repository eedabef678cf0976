#include "link/board_link.h"

namespace TAVDll {

const UsbBackend* SystemUsbBackend()
{
    static const UsbBackend table = detail::MakeSystemBackend();
    return &table;
}

const UsbBackend* InstallUsbBackend(const UsbBackend* backend)
{
    return detail::OnDefaultBoard([backend](detail::BoardLink& link) {
        const UsbBackend* previous = link.usb;
        link.usb = backend != nullptr ? backend : SystemUsbBackend();
        return previous;
    });
}

} // namespace TAVDll
