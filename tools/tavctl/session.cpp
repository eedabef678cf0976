#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "record_decoder.h"
#include "tool.h"
#include "virtual_board.h"
#include "virtual_usb.h"

namespace tavctl {

namespace {

// --trace: every bulk OUT transfer, decoded, on standard error, then on to
// the backend that was installed before.
const TAVDll::UsbBackend* tracedBackend = nullptr;

int TracedBulkWrite(usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeoutMs)
{
    const int result = tracedBackend->bulkWrite(handle, endpoint, bytes, size, timeoutMs);
    const std::string text =
        tavsim::DescribeRecord(tavsim::DecodeRecord(reinterpret_cast<const uint8_t*>(bytes), size > 0 ? size : 0));
    if (result == size)
        std::fprintf(stderr, "> %s\n", text.c_str());
    else
        std::fprintf(stderr, "> %s [transfer failed: %d]\n", text.c_str(), result);
    return result;
}

TAVDll::UsbBackend traceBackend;

void InstallTrace()
{
    tracedBackend = TAVDll::InstallUsbBackend(nullptr);
    traceBackend = *tracedBackend;
    traceBackend.bulkWrite = TracedBulkWrite;
    TAVDll::InstallUsbBackend(&traceBackend);
}

struct usb_device* FindDevice(const TAVDll::UsbBackend& usb, const std::string& where)
{
    const size_t colon = where.find(':');
    if (colon == std::string::npos)
        throw ToolError("--device wants BUS:DEV (as `tavctl list` shows them), not '" + where + "'", EXIT_USAGE);
    const auto busNumber = ParseNumber(where.substr(0, colon), "bus number", 0, 999);
    const auto deviceNumber = ParseNumber(where.substr(colon + 1), "device number", 0, 999);
    for (usb_bus* bus = usb.getBusses(); bus != nullptr; bus = bus->next) {
        if (std::strtoul(bus->dirname, nullptr, 10) != busNumber)
            continue;
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (std::strtoul(device->filename, nullptr, 10) != deviceNumber)
                continue;
            if (!IsBoard(device)) {
                char ids[16];
                std::snprintf(ids, sizeof ids, "%04x:%04x", device->descriptor.idVendor, device->descriptor.idProduct);
                throw ToolError("device " + where + " is not a TAV board (" + ids + ")");
            }
            return device;
        }
    }
    throw ToolError("no USB device at " + where + " (see `tavctl list`)");
}

struct usb_device* FirstBoard(const TAVDll::UsbBackend& usb)
{
    for (usb_bus* bus = usb.getBusses(); bus != nullptr; bus = bus->next)
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next)
            if (IsBoard(device))
                return device;
    return nullptr;
}

} // namespace

bool IsBoard(const struct usb_device* device)
{
    return device->descriptor.idVendor == tavsim::TAV_VENDOR_ID && device->descriptor.idProduct == tavsim::TAV_PRODUCT_ID;
}

Session::Session(const GlobalOptions& options)
    : options_(options)
{
}

Session::~Session()
{
    if (tracedBackend != nullptr) {
        TAVDll::InstallUsbBackend(tracedBackend);
        tracedBackend = nullptr;
    }
}

const TAVDll::UsbBackend& Session::Usb() const
{
    return Simulated() ? tavsim::VirtualUsb::Backend() : *TAVDll::SystemUsbBackend();
}

void Session::Enumerate()
{
    if (enumerated_)
        return;
    if (Simulated() && virtualUsb_ == nullptr) {
        // Two boards, so that --device has something to choose from.
        virtualUsb_ = std::make_unique<tavsim::VirtualUsb>();
        virtualUsb_->SetLogging(false);
        virtualUsb_->AddBoard(options_.simModel[0], {1, 0, 0, 0}, 0);
        virtualUsb_->AddBoard(options_.simModel[0], {1, 0, 0, 1}, 0);
    }
    if (options_.trace && tracedBackend == nullptr)
        InstallTrace();
    TAVDll::TAVLib::Initial();
    enumerated_ = true;
}

tavsim::VirtualBoard* Session::Board()
{
    Enumerate();
    if (virtualUsb_ == nullptr)
        return nullptr;
    tavsim::VirtualDevice* opened = openedDevice_ != nullptr ? virtualUsb_->Find(openedDevice_) : nullptr;
    return opened != nullptr ? &opened->Board() : &virtualUsb_->DeviceAt(0).Board();
}

void Session::Connect()
{
    if (connected_)
        return;
    Enumerate();
    const TAVDll::UsbBackend& usb = Usb();
    struct usb_device* device = options_.device.empty() ? FirstBoard(usb) : FindDevice(usb, options_.device);
    if (device == nullptr)
        throw ToolError(Simulated() ? "no board found" : "no board found: is it plugged in? (or try --sim)");
    usb_dev_handle* handle = options_.device.empty() ? TAVDll::TAVLib::Open() : TAVDll::TAVLib::Open(device);
    if (handle == nullptr)
        throw ToolError("board found but it cannot be opened: no permission? install the udev rule "
                        "(packaging/udev/60-tav-board.rules) or check that no other program holds it");
    connected_ = true;
    openedDevice_ = device;
    if (TAVDll::TAVLib::RequestBoardInfo() != TAVDll::RESULT_OK)
        throw ToolError("the board does not answer the board-information request: board unplugged?");
}

void Session::Finish(bool commandsSucceeded)
{
    if (!connected_)
        return;
    connected_ = false;
    if (!options_.hold || !commandsSucceeded) {
        // Initial closes the handle without sending anything: the board stays as set.
        TAVDll::TAVLib::Initial();
        return;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::fprintf(stderr, "holding the board as set; Ctrl-C or SIGTERM closes it into the safe state\n");
    int received = 0;
    sigwait(&signals, &received);
    TAVDll::TAVLib::Close();
    std::printf("board closed into the safe state\n");
    std::fflush(stdout);
}

} // namespace tavctl
