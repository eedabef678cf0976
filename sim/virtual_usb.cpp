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

// ---- VirtualDevice -------------------------------------------------------

VirtualDevice::VirtualDevice(usb_bus* bus, uint16_t vendorId, uint16_t productId, uint8_t deviceNumber,
                             std::unique_ptr<UsbFunction> function)
    : function_(std::move(function))
{
    endpoints_[0].bLength = USB_DT_ENDPOINT_SIZE;
    endpoints_[0].bDescriptorType = USB_DT_ENDPOINT;
    endpoints_[0].bEndpointAddress = TAV_ENDPOINT_OUT;
    endpoints_[0].bmAttributes = USB_ENDPOINT_TYPE_BULK;
    endpoints_[0].wMaxPacketSize = PACKET_SIZE;
    endpoints_[1] = endpoints_[0];
    endpoints_[1].bEndpointAddress = TAV_ENDPOINT_IN;

    altsetting_.bLength = USB_DT_INTERFACE_SIZE;
    altsetting_.bDescriptorType = USB_DT_INTERFACE;
    altsetting_.bInterfaceNumber = 0;
    altsetting_.bNumEndpoints = 2;
    altsetting_.bInterfaceClass = USB_CLASS_VENDOR_SPEC;
    altsetting_.endpoint = endpoints_;
    interface_.altsetting = &altsetting_;
    interface_.num_altsetting = 1;

    config_.bLength = USB_DT_CONFIG_SIZE;
    config_.bDescriptorType = USB_DT_CONFIG;
    config_.wTotalLength = USB_DT_CONFIG_SIZE + USB_DT_INTERFACE_SIZE + 2 * USB_DT_ENDPOINT_SIZE;
    config_.bNumInterfaces = 1;
    config_.bConfigurationValue = 1;
    config_.bmAttributes = 0x80;
    config_.MaxPower = 50;
    config_.interface = &interface_;

    device_.bus = bus;
    device_.devnum = deviceNumber;
    std::snprintf(device_.filename, sizeof device_.filename, "%03u", static_cast<unsigned>(deviceNumber));
    device_.descriptor.bLength = USB_DT_DEVICE_SIZE;
    device_.descriptor.bDescriptorType = USB_DT_DEVICE;
    device_.descriptor.bcdUSB = 0x0200;
    device_.descriptor.bMaxPacketSize0 = PACKET_SIZE;
    device_.descriptor.idVendor = vendorId;
    device_.descriptor.idProduct = productId;
    device_.descriptor.bcdDevice = 0x0100;
    device_.descriptor.bNumConfigurations = 1;
    device_.config = &config_;
}

VirtualBoard& VirtualDevice::Board()
{
    auto* board = dynamic_cast<VirtualBoard*>(function_.get());
    if (board == nullptr)
        throw std::logic_error("this virtual device has no board model behind it");
    return *board;
}

VirtualDevice& VirtualDevice::FailOpen(bool fail)
{
    failOpen_ = fail;
    return *this;
}

VirtualDevice& VirtualDevice::FailSetConfiguration(bool fail)
{
    failSetConfiguration_ = fail;
    return *this;
}

VirtualDevice& VirtualDevice::FailClaim(bool fail)
{
    failClaim_ = fail;
    return *this;
}

VirtualDevice& VirtualDevice::FailWrite(int writeNumber, WriteFault fault, int movedBytes)
{
    writeFaults_.push_back({writeNumber, fault, movedBytes});
    return *this;
}

VirtualDevice& VirtualDevice::FailRead(int readNumber, ReadFault fault, int movedBytes)
{
    readFaults_.push_back({readNumber, fault, movedBytes});
    return *this;
}

VirtualDevice& VirtualDevice::UnplugAtWrite(int writeNumber)
{
    unplugAtWrite_ = writeNumber;
    return *this;
}

VirtualDevice& VirtualDevice::HaltQueueAtWrite(int writeNumber)
{
    haltQueueAtWrite_ = writeNumber;
    return *this;
}

VirtualDevice& VirtualDevice::DropReplies(bool drop)
{
    dropReplies_ = drop;
    return *this;
}

void VirtualDevice::Unplug()
{
    plugged_ = false;
    configuration_ = 0;
    claimedBy_ = nullptr;
    replies_.clear();
}

void VirtualDevice::Plug()
{
    if (!plugged_)
        ++plugCount_;
    plugged_ = true;
    unplugAtWrite_ = 0;
    haltQueueAtWrite_ = 0;
    writeCount_ = 0;
    readCount_ = 0;
    writeFaults_.clear();
    readFaults_.clear();
}

const VirtualDevice::ScriptedWriteFault* VirtualDevice::WriteFaultAt(int number) const
{
    for (const ScriptedWriteFault& fault : writeFaults_) {
        if (fault.number == number)
            return &fault;
    }
    return nullptr;
}

const VirtualDevice::ScriptedReadFault* VirtualDevice::ReadFaultAt(int number) const
{
    for (const ScriptedReadFault& fault : readFaults_) {
        if (fault.number == number)
            return &fault;
    }
    return nullptr;
}

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

// ---- VirtualUsb: the usb_* calls ----------------------------------------

void VirtualUsb::Init()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Log(UsbCall::Init, nullptr, nullptr, 0, 0);
}

int VirtualUsb::FindBusses()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int changes = 0;
    busList_ = nullptr;
    usb_bus* previous = nullptr;
    for (auto& bus : busses_) {
        if (!bus->listed)
            ++changes;
        bus->listed = true;
        bus->bus.prev = previous;
        bus->bus.next = nullptr;
        if (previous != nullptr)
            previous->next = &bus->bus;
        else
            busList_ = &bus->bus;
        previous = &bus->bus;
    }
    Log(UsbCall::FindBusses, nullptr, nullptr, 0, changes);
    return changes;
}

int VirtualUsb::FindDevices()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int changes = 0;
    for (auto& bus : busses_) {
        if (!bus->listed)
            continue;
        struct usb_device* listedBefore = bus->bus.devices;
        bus->bus.devices = nullptr;
        struct usb_device* previous = nullptr;
        for (VirtualDevice* device : bus->devices) {
            bool wasListed = false;
            for (struct usb_device* walk = listedBefore; walk != nullptr; walk = walk->next)
                wasListed = wasListed || walk == device->Device();
            if (!device->Plugged()) {
                changes += wasListed ? 1 : 0;
                continue;
            }
            changes += wasListed ? 0 : 1;
            struct usb_device* entry = device->Device();
            if (device->pendingNumber_ != 0) {
                entry->devnum = static_cast<uint8_t>(device->pendingNumber_);
                std::snprintf(entry->filename, sizeof entry->filename, "%03u", static_cast<unsigned>(entry->devnum));
                device->pendingNumber_ = 0;
                changes += wasListed ? 2 : 0; // one device gone, another come
            }
            if (!device->pendingPortPath_.empty()) {
                device->portPath_ = device->pendingPortPath_;
                device->pendingPortPath_.clear();
            }
            entry->prev = previous;
            entry->next = nullptr;
            if (previous != nullptr)
                previous->next = entry;
            else
                bus->bus.devices = entry;
            previous = entry;
        }
    }
    Log(UsbCall::FindDevices, nullptr, nullptr, 0, changes);
    return changes;
}

usb_bus* VirtualUsb::GetBusses()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Log(UsbCall::GetBusses, nullptr, nullptr, 0, 0);
    return busList_;
}

usb_dev_handle* VirtualUsb::Open(struct usb_device* device)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    VirtualDevice* target = Find(device);
    usb_dev_handle* result = nullptr;
    if (target != nullptr && target->Plugged() && !target->failOpen_) {
        handles_.push_back(std::make_unique<Handle>(Handle{target, true, target->plugCount_}));
        result = reinterpret_cast<usb_dev_handle*>(handles_.back().get());
    }
    if (result == nullptr)
        errno = target != nullptr && target->failOpen_ ? EACCES : ENODEV; // as usb_open leaves open(2)'s
    Log(UsbCall::Open, device, result, 0, result != nullptr ? 0 : -1);
    return result;
}

int VirtualUsb::CheckHandle(Handle* handle, bool needsInterface)
{
    if (handle == nullptr || !handle->open)
        return USB_ERROR_BAD_HANDLE;
    if (!handle->device->Plugged() || handle->plugCount != handle->device->plugCount_)
        return USB_ERROR_NO_DEVICE;
    if (needsInterface && handle->device->claimedBy_ != handle)
        return USB_ERROR_INVALID;
    return 0;
}

int VirtualUsb::SetConfiguration(usb_dev_handle* handle, int configuration)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Handle* entry = FromHandle(handle);
    int result = CheckHandle(entry, false);
    if (result == 0) {
        if (entry->device->failSetConfiguration_ || configuration != 1)
            result = USB_ERROR_INVALID;
        else
            entry->device->configuration_ = configuration;
    }
    Log(UsbCall::SetConfiguration, entry != nullptr ? entry->device->Device() : nullptr, handle, configuration, result);
    return result;
}

int VirtualUsb::ClaimInterface(usb_dev_handle* handle, int interfaceNumber)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Handle* entry = FromHandle(handle);
    int result = CheckHandle(entry, false);
    if (result == 0) {
        VirtualDevice& device = *entry->device;
        if (device.failClaim_ || interfaceNumber != 0 || device.configuration_ != 1)
            result = USB_ERROR_INVALID;
        else if (device.claimedBy_ != nullptr)
            result = -EBUSY; // still held by a handle that was never closed
        else
            device.claimedBy_ = entry;
    }
    Log(UsbCall::ClaimInterface, entry != nullptr ? entry->device->Device() : nullptr, handle, interfaceNumber,
        result);
    return result;
}

int VirtualUsb::Close(usb_dev_handle* handle)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Handle* entry = FromHandle(handle);
    int result = USB_ERROR_BAD_HANDLE;
    if (entry != nullptr && entry->open) {
        entry->open = false;
        // Closing the usbfs file gives up every interface it claimed, and only those.
        if (entry->device->claimedBy_ == entry)
            entry->device->claimedBy_ = nullptr;
        result = 0;
    }
    Log(UsbCall::Close, entry != nullptr ? entry->device->Device() : nullptr, handle, 0, result);
    return result;
}

int VirtualUsb::BulkWrite(usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeoutMs)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Handle* entry = FromHandle(handle);
    VirtualDevice* device = entry != nullptr ? entry->device : nullptr;
    int result = CheckHandle(entry, true);
    if (result == 0 && device != nullptr) {
        const int number = ++device->writeCount_;
        if (device->unplugAtWrite_ > 0 && number >= device->unplugAtWrite_)
            device->Unplug();
        if (!device->Plugged()) {
            result = USB_ERROR_NO_DEVICE;
        } else if (endpoint != TAV_ENDPOINT_OUT || size < 0 || (bytes == nullptr && size > 0)) {
            result = USB_ERROR_INVALID;
        } else {
            int arrived = size;
            if (const auto* fault = device->WriteFaultAt(number)) {
                switch (fault->fault) {
                case WriteFault::Error: result = USB_ERROR_IO; break;
                case WriteFault::Timeout: result = USB_ERROR_TIMEOUT; break;
                case WriteFault::Stall: arrived = 0; break;
                case WriteFault::Short: arrived = std::min(std::max(fault->movedBytes, 0), size); break;
                }
            }
            if (result == 0) {
                result = arrived;
                std::vector<uint8_t> reply;
                if (arrived > 0 && device->function_ != nullptr)
                    device->function_->OnBulkOut(reinterpret_cast<const uint8_t*>(bytes), static_cast<size_t>(arrived),
                                                 &reply);
                if (!reply.empty() && !device->dropReplies_)
                    device->replies_.push_back(std::move(reply));
            }
        }
    }
    Log(UsbCall::BulkWrite, device != nullptr ? device->Device() : nullptr, handle, endpoint, result);
    LogTransfer(device, endpoint, bytes, size, timeoutMs, result);
    return result;
}

// The transfers of a queue reach the bus in order; a time-out or a vanished
// device cancels the rest, as the halt fault does.
int VirtualUsb::QueueWrite(usb_dev_handle* handle, int endpoint, const char* bytes, int size, int count,
                           int timeoutMs, int* results)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Handle* entry = FromHandle(handle);
    VirtualDevice* device = entry != nullptr ? entry->device : nullptr;
    Log(UsbCall::QueueWrite, device != nullptr ? device->Device() : nullptr, handle, count, 0);
    int submitted = 0;
    bool stopped = false;
    for (; submitted < count && !stopped; ++submitted) {
        if (device != nullptr && device->haltQueueAtWrite_ > 0
            && device->writeCount_ + 1 >= device->haltQueueAtWrite_) {
            device->haltQueueAtWrite_ = 0;
            break;
        }
        results[submitted] = BulkWrite(handle, endpoint, bytes + static_cast<ptrdiff_t>(submitted) * size, size,
                                       timeoutMs);
        stopped = results[submitted] == USB_ERROR_TIMEOUT || results[submitted] == USB_ERROR_NO_DEVICE;
    }
    for (int rest = submitted; rest < count; ++rest)
        results[rest] = TAVDll::USB_NOT_SENT;
    return submitted;
}

int VirtualUsb::BulkRead(usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Handle* entry = FromHandle(handle);
    VirtualDevice* device = entry != nullptr ? entry->device : nullptr;
    int result = CheckHandle(entry, true);
    if (result == 0 && device != nullptr) {
        const int number = ++device->readCount_;
        const auto* fault = device->ReadFaultAt(number);
        if (endpoint != TAV_ENDPOINT_IN || size < 0 || (bytes == nullptr && size > 0)) {
            result = USB_ERROR_INVALID;
        } else if (fault != nullptr && fault->fault == ReadFault::Error) {
            result = USB_ERROR_IO;
        } else if ((fault != nullptr && fault->fault == ReadFault::Timeout) || device->replies_.empty()) {
            result = USB_ERROR_TIMEOUT;
        } else {
            std::vector<uint8_t> reply = std::move(device->replies_.front());
            device->replies_.pop_front();
            int deliver = std::min(static_cast<int>(reply.size()), size);
            if (fault != nullptr && fault->fault == ReadFault::Short)
                deliver = std::min(deliver, std::max(fault->movedBytes, 0));
            if (deliver > 0)
                std::memcpy(bytes, reply.data(), static_cast<size_t>(deliver));
            result = deliver;
        }
    }
    Log(UsbCall::BulkRead, device != nullptr ? device->Device() : nullptr, handle, endpoint, result);
    LogTransfer(device, endpoint, bytes, size, timeoutMs, result);
    return result;
}

} // namespace tavsim
