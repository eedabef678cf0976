#include "virtual_usb.h"

#include <cerrno>
#include <algorithm>
#include <limits>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "virtual_board.h"

namespace tavsim {

namespace {

// A record fills one full-speed bulk packet.
constexpr int PACKET_SIZE = static_cast<int>(TAVDll::detail::RECORD_SIZE);

} // namespace

// ---- VirtualUsb: set-up and log -----------------------------------------

TAVDll::UsbBackend VirtualUsb::MakeBackend(VirtualUsb* bus)
{
    TAVDll::UsbBackend table{};
    table.context = bus;
    table.name = "virtual";
    table.deviceAddress = TAVDll::UsbfsDeviceAddress;
    table.portPath = [](void* context, const usb_bus*, const struct usb_device* device, char* path, size_t size) {
        const VirtualDevice* found = static_cast<VirtualUsb*>(context)->Find(const_cast<struct usb_device*>(device));
        if (found == nullptr || found->PortPath().empty() || found->PortPath().size() >= size)
            return false;
        std::memcpy(path, found->PortPath().c_str(), found->PortPath().size() + 1);
        return true;
    };
    table.init = [](void* context) { static_cast<VirtualUsb*>(context)->Init(); };
    table.findBusses = [](void* context) { return static_cast<VirtualUsb*>(context)->FindBusses(); };
    table.findDevices = [](void* context) { return static_cast<VirtualUsb*>(context)->FindDevices(); };
    table.getBusses = [](void* context) { return static_cast<VirtualUsb*>(context)->GetBusses(); };
    table.open = [](void* context, struct usb_device* device) { return static_cast<VirtualUsb*>(context)->Open(device); };
    table.setConfiguration = [](void* context, usb_dev_handle* handle, int configuration) {
        return static_cast<VirtualUsb*>(context)->SetConfiguration(handle, configuration);
    };
    table.claimInterface = [](void* context, usb_dev_handle* handle, int number) {
        return static_cast<VirtualUsb*>(context)->ClaimInterface(handle, number);
    };
    table.close = [](void* context, usb_dev_handle* handle) { return static_cast<VirtualUsb*>(context)->Close(handle); };
    table.bulkWrite = [](void* context, usb_dev_handle* handle, int endpoint, const char* bytes, int size,
                         int timeoutMs) {
        return static_cast<VirtualUsb*>(context)->BulkWrite(handle, endpoint, bytes, size, timeoutMs);
    };
    table.bulkRead = [](void* context, usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs) {
        return static_cast<VirtualUsb*>(context)->BulkRead(handle, endpoint, bytes, size, timeoutMs);
    };
    table.bulkWriteQueue = [](void* context, usb_dev_handle* handle, int endpoint, const char* bytes, int size,
                              int count, int timeoutMs, int* results) {
        return static_cast<VirtualUsb*>(context)->QueueWrite(handle, endpoint, bytes, size, count, timeoutMs, results);
    };
    return table;
}

VirtualUsb::VirtualUsb(Install install)
    : installed_(install == Install::AsDefault), backend_(MakeBackend(this))
{
    if (installed_)
        previousBackend_ = TAVDll::InstallUsbBackend(&backend_);
}

VirtualUsb::~VirtualUsb()
{
    if (installed_)
        TAVDll::InstallUsbBackend(previousBackend_);
}

int VirtualUsb::AddBus()
{
    auto bus = std::make_unique<Bus>();
    std::snprintf(bus->bus.dirname, sizeof bus->bus.dirname, "%03zu", busses_.size() + 1);
    bus->bus.location = static_cast<uint32_t>(busses_.size() + 1);
    busses_.push_back(std::move(bus));
    return static_cast<int>(busses_.size() - 1);
}

VirtualDevice& VirtualUsb::AddDevice(int busIndex, uint16_t vendorId, uint16_t productId,
                                     std::unique_ptr<UsbFunction> function)
{
    while (static_cast<int>(busses_.size()) <= busIndex)
        AddBus();
    Bus& bus = *busses_[static_cast<size_t>(busIndex)];
    const auto deviceNumber = static_cast<uint8_t>(bus.nextDeviceNumber++);
    devices_.push_back(std::unique_ptr<VirtualDevice>(
        new VirtualDevice(&bus.bus, vendorId, productId, deviceNumber, std::move(function))));
    bus.devices.push_back(devices_.back().get());
    devices_.back()->SetPortPath(std::to_string(busIndex + 1) + "-" + std::to_string(bus.devices.size()));
    return *devices_.back();
}

void VirtualUsb::Unplug(VirtualDevice& device)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    device.Unplug();
}

void VirtualUsb::NumberAnew(VirtualDevice& device)
{
    // The new number takes effect at the next enumeration, as a library's
    // device list changes only there (walks of it need no lock).
    for (auto& bus : busses_)
        if (&bus->bus == device.device_.bus)
            device.pendingNumber_ = bus->nextDeviceNumber++;
}

void VirtualUsb::Replug(VirtualDevice& device, const char* portPath)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    device.Unplug();
    NumberAnew(device);
    if (portPath != nullptr)
        device.pendingPortPath_ = portPath;
    // Unplugged, the board lost its power: it comes back as it starts.
    if (const auto* board = dynamic_cast<const VirtualBoard*>(device.function_.get()))
        device.function_ = std::make_unique<VirtualBoard>(board->ModelLetter(), board->Version());
    device.Plug();
}

bool VirtualUsb::PlugBack(VirtualDevice& device)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (device.Plugged())
        return false;
    NumberAnew(device);
    if (auto* board = dynamic_cast<VirtualBoard*>(device.function_.get()))
        board->PowerCycle();
    device.Plug();
    return true;
}

bool VirtualUsb::IsPlugged(const VirtualDevice& device) const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return device.Plugged();
}

namespace {

// The write number that many writes from now; 0 past the last a device
// counts (such a fault never comes).
int WriteNumberFromNow(const VirtualDevice& device, int writesFromNow)
{
    const long long number = static_cast<long long>(device.WriteCount()) + writesFromNow;
    return number > std::numeric_limits<int>::max() ? 0 : static_cast<int>(number);
}

} // namespace

void VirtualUsb::FailWriteFromNow(VirtualDevice& device, int writesFromNow, WriteFault fault, int movedBytes)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const int number = WriteNumberFromNow(device, writesFromNow);
    if (number > 0)
        device.FailWrite(number, fault, movedBytes);
}

void VirtualUsb::UnplugFromNow(VirtualDevice& device, int writesFromNow)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const int number = WriteNumberFromNow(device, writesFromNow);
    if (number == 0)
        return;
    // The earliest unplug is the one that happens.
    if (device.unplugAtWrite_ == 0 || number < device.unplugAtWrite_)
        device.UnplugAtWrite(number);
}

VirtualDevice& VirtualUsb::AddBoard(char modelLetter, std::vector<uint8_t> version, int busIndex)
{
    return AddDevice(busIndex, TAV_VENDOR_ID, TAV_PRODUCT_ID,
                     std::make_unique<VirtualBoard>(modelLetter, std::move(version)));
}

VirtualDevice* VirtualUsb::Find(struct usb_device* device)
{
    for (auto& candidate : devices_) {
        if (candidate->Device() == device)
            return candidate.get();
    }
    return nullptr;
}

std::vector<Transfer> VirtualUsb::TransfersTo(int endpoint) const
{
    std::vector<Transfer> selected;
    std::copy_if(transfers_.begin(), transfers_.end(), std::back_inserter(selected),
                 [endpoint](const Transfer& transfer) { return transfer.endpoint == endpoint; });
    return selected;
}

std::vector<_INSTRUCTION_INFO_> VirtualUsb::DeliveredRecords() const
{
    std::vector<_INSTRUCTION_INFO_> records;
    for (const Transfer& transfer : transfers_) {
        if (transfer.endpoint != TAV_ENDPOINT_OUT || transfer.result != PACKET_SIZE || transfer.length != PACKET_SIZE)
            continue;
        _INSTRUCTION_INFO_ record;
        std::memcpy(&record, transfer.bytes.data(), sizeof record);
        records.push_back(record);
    }
    return records;
}

size_t VirtualUsb::CountCalls(UsbCall call) const
{
    return static_cast<size_t>(std::count_if(calls_.begin(), calls_.end(),
                                              [call](const CallRecord& record) { return record.call == call; }));
}

void VirtualUsb::ClearLog()
{
    calls_.clear();
    transfers_.clear();
}

int VirtualUsb::OpenHandleCount() const
{
    return static_cast<int>(std::count_if(handles_.begin(), handles_.end(),
                                          [](const std::unique_ptr<Handle>& handle) { return handle->open; }));
}

VirtualUsb::Handle* VirtualUsb::FromHandle(usb_dev_handle* handle)
{
    for (auto& candidate : handles_) {
        if (reinterpret_cast<usb_dev_handle*>(candidate.get()) == handle)
            return candidate.get();
    }
    return nullptr;
}

void VirtualUsb::Log(UsbCall call, struct usb_device* device, usb_dev_handle* handle, int argument, int result)
{
    if (logging_)
        calls_.push_back({call, device, handle, argument, result});
}

void VirtualUsb::LogTransfer(VirtualDevice* device, int endpoint, const void* bytes, int length, int timeoutMs,
                             int result)
{
    if (!logging_)
        return;
    Transfer transfer{device != nullptr ? device->Device() : nullptr, endpoint, length, timeoutMs, result, {}};
    const int shown = endpoint & USB_ENDPOINT_IN ? std::max(result, 0) : length;
    if (bytes != nullptr && shown > 0) {
        const auto* first = static_cast<const uint8_t*>(bytes);
        transfer.bytes.assign(first, first + shown);
    }
    transfers_.push_back(std::move(transfer));
}

} // namespace tavsim
