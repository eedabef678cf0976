// The virtual bus's usb_* calls, as libusb 0.1 answers them, with every
// call and transfer logged and the scripted faults applied.
#include "virtual_usb.h"

#include <cerrno>
#include <algorithm>
#include <limits>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "virtual_board.h"

namespace tavsim {

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
