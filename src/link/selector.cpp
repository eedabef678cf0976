#include "link/selector.h"

#include <cstring>

#include "link/board_info.h"
#include "tav/tav.h"

namespace TAVDll::detail {

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

// The decimal number that follows prefix at the start of text, up to the
// first character that is not a digit.
bool NumberAfter(const char* text, const char* prefix, unsigned long* number)
{
    const size_t prefixLength = std::strlen(prefix);
    if (std::strncmp(text, prefix, prefixLength) != 0)
        return false;
    const char* digits = text + prefixLength;
    return ParseDecimal(digits, std::strspn(digits, "0123456789"), number);
}

bool BusNumber(const char* dirname, unsigned long* number)
{
    return ParseDecimal(dirname, std::strlen(dirname), number) || NumberAfter(dirname, "bus-", number);
}

bool DeviceNumber(const char* filename, unsigned long* number)
{
    return ParseDecimal(filename, std::strlen(filename), number) || NumberAfter(filename, "\\\\.\\libusb0-", number);
}

bool IsBoard(const struct usb_device* device)
{
    return device->descriptor.idVendor == BOARD_VENDOR_ID && device->descriptor.idProduct == BOARD_PRODUCT_ID;
}

// The bus and device numbers as `tavctl list` prints them.
bool AtAddress(const usb_bus* bus, const struct usb_device* device, const Selector& selector)
{
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    return UsbDeviceAddress(bus, device, &busNumber, &deviceNumber) && busNumber == selector.busNumber
           && deviceNumber == selector.deviceNumber;
}

struct usb_device* FindSelected(const UsbBackend& usb, const Selector& selector)
{
    for (usb_bus* bus = usb.getBusses(usb.context); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (selector.kind == Selector::Kind::UsbAddress ? AtAddress(bus, device, selector) : IsBoard(device))
                return IsBoard(device) ? device : nullptr;
        }
    }
    return nullptr;
}

} // namespace

} // namespace TAVDll::detail

namespace TAVDll {

// libusb 0.1 on Linux names busses and devices by their usbfs folder and
// file ("001", "010"); libusb-win32 puts every device on "bus-0" and names it
// after its driver device ("\\.\libusb0-0001--0x4c52-0x0101"). Either way
// the address is the two numbers.
bool UsbDeviceAddress(const usb_bus* bus, const struct usb_device* device, unsigned long* busNumber,
                      unsigned long* deviceNumber)
{
    if (bus == nullptr || device == nullptr || busNumber == nullptr || deviceNumber == nullptr)
        return false;
    unsigned long busValue = 0;
    unsigned long deviceValue = 0;
    if (!detail::BusNumber(bus->dirname, &busValue) || !detail::DeviceNumber(device->filename, &deviceValue))
        return false;
    *busNumber = busValue;
    *deviceNumber = deviceValue;
    return true;
}

} // namespace TAVDll

namespace TAVDll::detail {

bool ParseSelector(const char* text, Selector* selector)
{
    Selector parsed;
    constexpr size_t QUEUED_PREFIX_LENGTH = 7;
    if (text != nullptr && std::strncmp(text, "queued:", QUEUED_PREFIX_LENGTH) == 0) {
        text += QUEUED_PREFIX_LENGTH;
        parsed.queued = true;
    }
    if (text == nullptr || text[0] == '\0') {
        *selector = parsed;
        return true;
    }
    if (std::strncmp(text, "sim:", 4) == 0) {
        const char model = text[4];
        if ((model != 'T' && model != 'S' && model != 'C') || text[5] != '\0')
            return false;
        parsed.kind = Selector::Kind::Virtual;
        parsed.model = model;
        *selector = parsed;
        return true;
    }
    if (!ParseUsbAddress(std::strncmp(text, "usb:", 4) == 0 ? text + 4 : text, &parsed))
        return false;
    *selector = parsed;
    return true;
}

int OpenSelected(BoardLink& link, const Selector& selector)
{
    ReleaseDevice(link);
    link.timeoutMs = TRANSFER_TIMEOUT_MS;
    {
        // One enumeration, walk and open, with no other discovery in between.
        std::lock_guard<std::mutex> discovery(DiscoveryMutex());
        RefreshBusList(*link.usb);
        struct usb_device* device = FindSelected(*link.usb, selector);
        if (device == nullptr)
            return TAV_E_NOT_FOUND;
        if (OpenDevice(link, device) == nullptr)
            return TAV_E_ACCESS;
    }
    if (RequestBoardInfo(link) != RESULT_OK) {
        ReleaseDevice(link);
        return RESULT_IO_FAILED;
    }
    return RESULT_OK;
}

} // namespace TAVDll::detail
