// libusb-1.0's hotplug events, where it has them (Linux): a watcher's wait
// ends early when a TAV board arrives or leaves.
#include <atomic>
#include <new>

#include "board_facts.h"
#include "usb/usb_libusb1_private.h"

namespace TAVDll {

using libusb1::Api;
using libusb1::Libusb1Api;
using libusb1::Load;

struct UsbHotplug {
    libusb_context* context = nullptr;
    libusb_hotplug_callback_handle handle = 0;
    std::atomic<bool> happened{false};
};

namespace {

int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event, void* user)
{
    static_cast<UsbHotplug*>(user)->happened.store(true);
    return 0; // stay registered
}

} // namespace

UsbHotplug* OpenUsbHotplug()
{
    const Libusb1Api* api = Load();
    if (api == nullptr || api->hasCapability == nullptr || api->hasCapability(LIBUSB_CAP_HAS_HOTPLUG) == 0)
        return nullptr;
    auto* hotplug = new (std::nothrow) UsbHotplug;
    if (hotplug == nullptr)
        return nullptr;
    const auto events =
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
    if (api->init(&hotplug->context) != 0
        || api->hotplugRegisterCallback(hotplug->context, events, static_cast<libusb_hotplug_flag>(0),
                                        detail::BOARD_VENDOR_ID, detail::BOARD_PRODUCT_ID, LIBUSB_HOTPLUG_MATCH_ANY,
                                        OnHotplug, hotplug, &hotplug->handle)
               != LIBUSB_SUCCESS) {
        if (hotplug->context != nullptr)
            api->exit(hotplug->context);
        delete hotplug;
        return nullptr;
    }
    return hotplug;
}

bool WaitUsbHotplug(UsbHotplug* hotplug, int milliseconds)
{
    timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
    Api().handleEventsTimeoutCompleted(hotplug->context, &wait, nullptr);
    return hotplug->happened.exchange(false);
}

void WakeUsbHotplug(UsbHotplug* hotplug)
{
    Api().interruptEventHandler(hotplug->context);
}

void CloseUsbHotplug(UsbHotplug* hotplug)
{
    if (hotplug == nullptr)
        return;
    Api().hotplugDeregisterCallback(hotplug->context, hotplug->handle);
    Api().exit(hotplug->context);
    delete hotplug;
}

} // namespace TAVDll
