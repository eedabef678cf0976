#include "emulated_usb.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

// umockdev's preload library comes before the sanitizer runtime here, which
// AddressSanitizer would refuse by default.
extern "C" __attribute__((used, visibility("default"))) const char* __asan_default_options()
{
    return "verify_asan_link_order=0";
}

namespace tavtest {

namespace {

// Device, configuration, interface and the two bulk endpoints of the board,
// as the device file presents them (umockdev wants the hex in upper case).
const char* const kDescriptors =
    "1201000200000040524C0101000101020301"           // device: 4C52:0101, one configuration
    "09022000010100803209040000"                      // configuration 1, interface 0 ...
    "02FF000000"                                      // ... two endpoints, vendor class
    "0705020240000007058302400000";                   // bulk OUT 0x02 and IN 0x83, 64 bytes


} // namespace

bool InMockEnvironment()
{
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

EmulatedBoard::EmulatedBoard(int deviceNumber, char modelLetter, std::vector<uint8_t> version)
    : deviceNumber_(deviceNumber), board_(modelLetter, std::move(version))
{
    char path[64];
    std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03d", deviceNumber);
    devicePath_ = path;
}

void EmulatedBoard::SetRoundTrip(std::chrono::microseconds roundTrip)
{
    std::lock_guard<std::mutex> lock(mutex_);
    roundTrip_ = roundTrip;
}

void EmulatedBoard::StallWrite(int transfer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    stallAt_ = transfer;
}

void EmulatedBoard::ShortWrite(int transfer, int bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    shortAt_ = transfer;
    shortBytes_ = bytes;
}

void EmulatedBoard::DropReplies(bool drop)
{
    std::lock_guard<std::mutex> lock(mutex_);
    dropReplies_ = drop;
}

void EmulatedBoard::HangFromTransfer(int transfer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hangFrom_ = transfer;
}

void EmulatedBoard::HangTransfer(int transfer, bool laterWait)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hangOne_ = transfer;
    laterWait_ = laterWait;
}

void EmulatedBoard::UnplugFromTransfer(int transfer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplugFrom_ = transfer;
}

void EmulatedBoard::Unplug()
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplugged_ = true;
    for (UMockdevIoctlData* urb : flying_) {
        reinterpret_cast<usbdevfs_urb*>(urb->data)->status = -ESHUTDOWN;
        completed_.push_back(urb);
    }
    flying_.clear();
    waiting_.clear();
    hungUrb_ = nullptr;
    outBlocked_ = false;
}

void EmulatedBoard::TakeOut(UMockdevIoctlData* urbData, UrbRecord& record, int transfer)
{
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr);
    int arrived = urb->buffer_length;
    if (transfer == stallAt_) {
        arrived = 0;
        record.status = -EPIPE;
    } else if (transfer == shortAt_) {
        arrived = std::min(shortBytes_, urb->buffer_length);
    }
    record.bytes.assign(buffer->data, buffer->data + arrived);
    std::vector<uint8_t> reply;
    if (arrived > 0)
        board_.Execute(buffer->data, static_cast<size_t>(arrived), &reply);
    if (!reply.empty())
        replies_.push_back(std::move(reply));
    record.actualLength = arrived;
    urb->actual_length = record.actualLength;
    urb->status = record.status;
    g_object_unref(buffer);
}

void EmulatedBoard::Plug()
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplugged_ = false;
    unplugFrom_ = 0;
    hangFrom_ = 0;
    transferCount_ = 0;
    claimed_.clear();
    SetClaimOwner(nullptr);
    configuration_ = 0;
}

// Kept referenced while it holds the interface: a file closed without
// releasing it (the connection gone) lets the interface go, as the kernel does.
void EmulatedBoard::SetClaimOwner(UMockdevIoctlClient* client)
{
    if (client != nullptr)
        g_object_ref(client);
    if (claimOwner_ != nullptr)
        g_object_unref(claimOwner_);
    claimOwner_ = client;
}

std::vector<UrbRecord> EmulatedBoard::Urbs()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return urbs_;
}

int EmulatedBoard::Configuration()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return configuration_;
}

std::vector<int> EmulatedBoard::ClaimedInterfaces()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return claimed_;
}

int EmulatedBoard::OpenFiles()
{
    // The device file lives in the testbed; its path ends in ours.
    int count = 0;
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr)
        return -1;
    while (const dirent* entry = readdir(directory)) {
        char target[PATH_MAX];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0)
            continue;
        const std::string path(target, static_cast<size_t>(length));
        if (path.size() > devicePath_.size() && path.compare(path.size() - devicePath_.size(), devicePath_.size(),
                                                             devicePath_) == 0)
            ++count;
    }
    closedir(directory);
    return count;
}

void EmulatedBoard::ClearLog()
{
    std::lock_guard<std::mutex> lock(mutex_);
    urbs_.clear();
}

bool EmulatedBoard::Unplugged(int transfer) const
{
    return unplugged_ || (unplugFrom_ > 0 && transfer >= unplugFrom_);
}

bool EmulatedBoard::HandleIoctl(UMockdevIoctlClient* client)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    auto fail = [client](int error) {
        umockdev_ioctl_client_complete(client, -1, error);
        return true;
    };
    auto intArgument = [argument]() {
        UMockdevIoctlData* value = umockdev_ioctl_data_resolve(argument, 0, sizeof(unsigned int), nullptr);
        const unsigned int number = *reinterpret_cast<unsigned int*>(value->data);
        g_object_unref(value);
        return static_cast<int>(number);
    };

    switch (request) {
    case USBDEVFS_SETCONFIGURATION: {
        if (unplugged_)
            return fail(ENODEV);
        const int configuration = intArgument();
        if (configuration != 1)
            return fail(EINVAL);
        configuration_ = configuration;
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        if (unplugged_)
            return fail(ENODEV);
        const int interfaceNumber = intArgument();
        if (interfaceNumber != 0 || configuration_ != 1)
            return fail(EINVAL);
        if (request == USBDEVFS_CLAIMINTERFACE) {
            if (claimOwner_ != nullptr && claimOwner_ != client && umockdev_ioctl_client_get_connected(claimOwner_))
                return fail(EBUSY);
            SetClaimOwner(client);
            claimed_.assign(1, interfaceNumber);
        } else {
            SetClaimOwner(nullptr);
            claimed_.erase(std::remove(claimed_.begin(), claimed_.end(), interfaceNumber), claimed_.end());
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        const int transfer = ++transferCount_;
        if (Unplugged(transfer)) {
            g_object_unref(urbData);
            return fail(ENODEV);
        }
        const bool validEndpoint = urb->endpoint == 0x02 || urb->endpoint == 0x83;
        if (urb->type != USBDEVFS_URB_TYPE_BULK || !validEndpoint || claimed_.empty() || urb->buffer_length < 0) {
            g_object_unref(urbData);
            return fail(EINVAL);
        }
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
            urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr);
        if (pendingUrbs_ == 0 || inFrame_ == FRAME_PACKETS) {
            ++frame_;
            inFrame_ = 0;
        }
        ++inFrame_;
        ++pendingUrbs_;
        UrbRecord record{urb->endpoint, urb->buffer_length, 0, 0, {}, frame_};
        bool complete = true;
        if (urb->endpoint == 0x02 && ((hangFrom_ > 0 && transfer >= hangFrom_) || transfer == hangOne_)) {
            complete = false; // a board that stopped taking data: libusb times out and discards it
            if (transfer == hangOne_) {
                hungUrb_ = urbData;
                outBlocked_ = laterWait_;
            }
        } else if (urb->endpoint == 0x02 && outBlocked_) {
            complete = false; // behind the hung one
            waiting_.push_back({urbData, transfer, urbs_.size()});
        } else if (urb->endpoint == 0x02) {
            TakeOut(urbData, record, transfer);
        } else if (dropReplies_ || replies_.empty()) {
            complete = false; // never answered: libusb times out and discards it
        } else {
            std::vector<uint8_t> reply = std::move(replies_.front());
            replies_.erase(replies_.begin());
            const int delivered = std::min(static_cast<int>(reply.size()), urb->buffer_length);
            umockdev_ioctl_data_update(buffer, 0, reply.data(), delivered);
            record.bytes.assign(reply.begin(), reply.begin() + delivered);
            record.actualLength = delivered;
        }
        if (urb->endpoint != 0x02) {
            urb->actual_length = record.actualLength;
            urb->status = record.status;
        }
        urbs_.push_back(record);
        if (roundTrip_.count() > 0)
            readyAt_[urbData] = std::chrono::steady_clock::now() + roundTrip_;
        (complete ? completed_ : flying_).push_back(urbData);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(buffer);
        return true;
    }
    case USBDEVFS_DISCARDURB: {
        const auto address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(argument->data));
        auto found = std::find_if(flying_.begin(), flying_.end(),
                                  [address](UMockdevIoctlData* urb) { return urb->client_addr == address; });
        if (found == flying_.end())
            return fail(EINVAL);
        reinterpret_cast<usbdevfs_urb*>((*found)->data)->status = -ENOENT;
        reinterpret_cast<usbdevfs_urb*>((*found)->data)->actual_length = 0;
        const UMockdevIoctlData* discarded = *found;
        completed_.push_back(*found);
        flying_.erase(found);
        waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(),
                                      [discarded](const WaitingUrb& urb) { return urb.urb == discarded; }),
                       waiting_.end());
        if (discarded == hungUrb_) {
            hungUrb_ = nullptr;
            outBlocked_ = false; // the hung URB gone, the board takes data again
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
        if (completed_.empty() && !outBlocked_ && !waiting_.empty()) {
            // The board resumed: the next URB waiting behind the hung one
            // is taken as it is reaped.
            WaitingUrb next = waiting_.front();
            waiting_.erase(waiting_.begin());
            UrbRecord taken{0x02, 0, 0, 0, {}, 0};
            TakeOut(next.urb, taken, next.transfer);
            if (next.logIndex < urbs_.size()) {
                taken.length = urbs_[next.logIndex].length;
                taken.frame = urbs_[next.logIndex].frame;
                urbs_[next.logIndex] = taken;
            }
            flying_.erase(std::find(flying_.begin(), flying_.end(), next.urb));
            completed_.push_back(next.urb);
        }
        if (completed_.empty())
            return fail(unplugged_ ? ENODEV : EAGAIN);
        const auto ready = readyAt_.find(completed_.front());
        if (ready != readyAt_.end()) {
            if (std::chrono::steady_clock::now() < ready->second)
                return fail(EAGAIN); // still on its way back
            readyAt_.erase(ready);
        }
        UMockdevIoctlData* urbData = completed_.front();
        completed_.erase(completed_.begin());
        --pendingUrbs_;
        UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(argument, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(pointer, 0, urbData);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(pointer);
        g_object_unref(urbData);
        return true;
    }
    default:
        return false; // e.g. CONNECTINFO: libusb 0.1 copes without it
    }
}

EmulatedBus::EmulatedBus()
    : testbed_(umockdev_testbed_new())
{
    if (testbed_ == nullptr)
        throw std::runtime_error("umockdev testbed could not be created");
}

EmulatedBus::~EmulatedBus()
{
    for (auto& board : boards_) {
        umockdev_testbed_detach_ioctl(testbed_, board->DevicePath().c_str(), nullptr);
        for (UMockdevIoctlData* urb : board->completed_)
            g_object_unref(urb);
        for (UMockdevIoctlData* urb : board->flying_)
            g_object_unref(urb);
        g_object_unref(board->handler_);
    }
    g_object_unref(testbed_);
}

EmulatedBoard& EmulatedBus::AddBoard(int deviceNumber, char modelLetter, std::vector<uint8_t> version, int port)
{
    boards_.push_back(std::make_unique<EmulatedBoard>(deviceNumber, modelLetter, std::move(version)));
    EmulatedBoard& board = *boards_.back();
    board.handler_ = umockdev_ioctl_base_new();
    g_signal_connect(board.handler_, "handle-ioctl",
                     G_CALLBACK(+[](UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) -> gboolean {
                         return static_cast<EmulatedBoard*>(data)->HandleIoctl(client) ? TRUE : FALSE;
                     }),
                     &board);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, board.DevicePath().c_str(), board.handler_, &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev could not attach the ioctl handler: " + message);
    }
    if (port == 0)
        port = deviceNumber;
    board.sysfsPath_ = "/sys/devices/pci0000:00/usb1/1-" + std::to_string(port);
    char description[1024];
    std::snprintf(description, sizeof description,
                  "P: /devices/pci0000:00/usb1/1-%d\n"
                  "N: bus/usb/001/%03d=%s\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: DEVNAME=%s\n"
                  "E: BUSNUM=001\n"
                  "E: DEVNUM=%03d\n"
                  "A: busnum=1\\n\n"
                  "A: devnum=%d\\n\n"
                  "A: idVendor=4c52\\n\n"
                  "A: idProduct=0101\\n\n"
                  "A: bConfigurationValue=1\\n\n"
                  "H: descriptors=%s\n",
                  port, deviceNumber, kDescriptors, board.DevicePath().c_str(), deviceNumber, deviceNumber,
                  kDescriptors);
    if (!umockdev_testbed_add_from_string(testbed_, description, &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev could not add the board: " + message);
    }
    return board;
}

void EmulatedBus::Announce(const EmulatedBoard& board, const char* action)
{
    umockdev_testbed_uevent(testbed_, board.SysfsPath().c_str(), action);
}

} // namespace tavtest
