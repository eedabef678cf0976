#include "usb/usb_backend.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "usb/usb_system.h"

namespace TAVDll {

namespace {

// The backend that USB selectors and the default board use; null: the system's.
std::atomic<const UsbBackend*> installedBackend{nullptr};
std::atomic<void (*)(const UsbBackend*)> installListener{nullptr};

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

int detail::BusBackends(bool queued, const UsbBackend* tables[BUS_BACKEND_LIMIT])
{
    // The system's table, also when a harness put it back, means nothing is
    // installed.
    const UsbBackend* installed = InstalledUsbBackend();
    if (installed != SystemUsbBackend()) {
        tables[0] = installed;
        return 1;
    }
    return SystemBusBackends(queued, tables);
}

const UsbBackend* InstallUsbBackend(const UsbBackend* backend)
{
    const UsbBackend* previous = detail::InstalledUsbBackend();
    installedBackend.store(backend);
    if (void (*listener)(const UsbBackend*) = installListener.load(std::memory_order_acquire))
        listener(detail::InstalledUsbBackend());
    return previous;
}

void detail::SetUsbBackendInstalled(void (*listener)(const UsbBackend* installed))
{
    installListener.store(listener, std::memory_order_release);
}

detail::LibraryMutex& detail::DiscoveryMutex()
{
    static detail::LibraryMutex discovery;
    return discovery;
}

bool ParseDecimal(const char* text, size_t length, unsigned long* value)
{
    constexpr size_t MAX_NUMBER_DIGITS = 9;
    if (length == 0 || length > MAX_NUMBER_DIGITS)
        return false;
    unsigned long number = 0;
    for (size_t index = 0; index < length; ++index) {
        if (text[index] < '0' || text[index] > '9')
            return false;
        number = number * 10 + static_cast<unsigned long>(text[index] - '0');
    }
    *value = number;
    return true;
}

namespace {

// One decimal number of 1..255 without a leading zero, from text; the
// character after it.
const char* PortNumber(const char* text)
{
    if (*text < '1' || *text > '9')
        return nullptr;
    unsigned value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits)
        value = value * 10 + static_cast<unsigned>(*text - '0');
    return digits <= 3 && value <= 255 ? text : nullptr;
}

} // namespace

bool ValidPortPath(const char* text)
{
    constexpr int MOST_PORTS = 7;
    if (text == nullptr || (text = PortNumber(text)) == nullptr || *text != '-')
        return false;
    for (int ports = 1; ports <= MOST_PORTS; ++ports) {
        if ((text = PortNumber(text + 1)) == nullptr)
            return false;
        if (*text == '\0')
            return true;
        if (*text != '.')
            return false;
    }
    return false;
}

bool FormatPortPath(unsigned busNumber, const uint8_t* ports, int portCount, char* path, size_t size)
{
    char text[USB_PORT_PATH_SIZE];
    int length = std::snprintf(text, sizeof text, "%u", busNumber);
    for (int index = 0; index < portCount && length > 0 && static_cast<size_t>(length) < sizeof text; ++index)
        length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length), "%c%u", index == 0 ? '-' : '.',
                                static_cast<unsigned>(ports[index]));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof text || static_cast<size_t>(length) >= size
        || !ValidPortPath(text))
        return false;
    std::memcpy(path, text, static_cast<size_t>(length) + 1);
    return true;
}

// libusb 0.1 names busses and devices by their usbfs folder and file ("001",
// "010"): the address is the two numbers.
bool UsbfsDeviceAddress(void*, const usb_bus* bus, const struct usb_device* device, unsigned long* busNumber,
                        unsigned long* deviceNumber)
{
    if (bus == nullptr || device == nullptr || busNumber == nullptr || deviceNumber == nullptr)
        return false;
    unsigned long busValue = 0;
    unsigned long deviceValue = 0;
    if (!ParseDecimal(bus->dirname, std::strlen(bus->dirname), &busValue)
        || !ParseDecimal(device->filename, std::strlen(device->filename), &deviceValue))
        return false;
    *busNumber = busValue;
    *deviceNumber = deviceValue;
    return true;
}

} // namespace TAVDll
