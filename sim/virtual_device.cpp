// One device on the virtual bus: its descriptors, its function (a board),
// and the faults a test scripts for it.
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

} // namespace tavsim
