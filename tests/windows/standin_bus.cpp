#include "standin_bus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace standin {

namespace {

constexpr int PACKET_SIZE = 64;
constexpr int PACKETS_PER_FRAME = 19;

struct FrameClock {
    long frame = 0;
    int packets = 0;
};

std::unique_ptr<tavsim::VirtualUsb> bus;
int namedDevices = 0;
std::map<const struct usb_device*, FrameClock> clocks;

int AddBoard(char model)
{
    tavsim::VirtualDevice& device = Bus().AddBoard(model, {1, 0, 2, 13});
    NameDevice(device, ++namedDevices);
    return static_cast<int>(Bus().DeviceCount() - 1);
}

} // namespace

std::recursive_mutex& Mutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

tavsim::VirtualUsb& Bus()
{
    if (!bus)
        bus = std::make_unique<tavsim::VirtualUsb>(tavsim::VirtualUsb::Install::No);
    return *bus;
}

const TAVDll::UsbBackend& Usb()
{
    return Bus().Backend();
}

tavsim::VirtualDevice* DeviceAt(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= Bus().DeviceCount())
        return nullptr;
    return &Bus().DeviceAt(static_cast<size_t>(index));
}

tavsim::VirtualDevice* DeviceOf(const struct usb_device* device)
{
    return Bus().Find(const_cast<struct usb_device*>(device));
}

void AddBoardsFromEnvironment(const char* variable)
{
    const char* models = std::getenv(variable);
    if (Bus().DeviceCount() == 0 && models != nullptr)
        for (const char* model = models; *model != '\0'; ++model)
            AddBoard(*model);
}

void CountFrame(const struct usb_device* device, int length, bool pipelined)
{
    FrameClock& clock = clocks[device];
    const int packets = length > PACKET_SIZE ? (length + PACKET_SIZE - 1) / PACKET_SIZE : 1;
    if (!pipelined || clock.packets + packets > PACKETS_PER_FRAME) {
        ++clock.frame;
        clock.packets = 0;
    }
    clock.packets += packets;
    if (const char* path = std::getenv("TAV_STANDIN_URB_LOG")) {
        if (FILE* log = std::fopen(path, "ab")) {
            std::fprintf(log, "%ld 2\n", clock.frame);
            std::fclose(log);
        }
    }
}

} // namespace standin

using namespace standin;

// ---- control for the tests ----------------------------------------------

// A fresh bus without devices (handles of the old one must be closed).
STANDIN_API void standin_reset(void)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    ForgetDevices();
    bus.reset();
    clocks.clear();
    namedDevices = 0;
}

// A board of that model ('T', 'S', 'C'); its index for the calls below.
STANDIN_API int standin_add_board(char model)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return AddBoard(model);
}

// Write number writeNumber (from 1) to the device fails: 0 an error, 3 a
// time-out. 0 on success, -1 for an unknown device.
STANDIN_API int standin_fail_write(int index, int writeNumber, int timeout)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    tavsim::VirtualDevice* device = DeviceAt(index);
    if (device == nullptr)
        return -1;
    device->FailWrite(writeNumber, timeout != 0 ? tavsim::WriteFault::Timeout : tavsim::WriteFault::Error);
    return 0;
}

// The device is unplugged at that write (from 1).
STANDIN_API int standin_unplug_at_write(int index, int writeNumber)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    tavsim::VirtualDevice* device = DeviceAt(index);
    if (device == nullptr)
        return -1;
    device->UnplugAtWrite(writeNumber);
    return 0;
}

// Bulk writes made to the device so far (whole, short or failed).
STANDIN_API int standin_write_attempts(int index)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    tavsim::VirtualDevice* device = DeviceAt(index);
    return device != nullptr ? device->WriteCount() : -1;
}

// The whole records the device received, 64 bytes each, into records (at
// most maxRecords); their number.
STANDIN_API int standin_records(int index, unsigned char* records, int maxRecords)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    tavsim::VirtualDevice* device = DeviceAt(index);
    if (device == nullptr)
        return -1;
    int count = 0;
    for (const tavsim::Transfer& transfer : Bus().Transfers()) {
        if (transfer.device != device->Device() || transfer.endpoint != tavsim::TAV_ENDPOINT_OUT
            || transfer.result != PACKET_SIZE || transfer.bytes.size() != PACKET_SIZE)
            continue;
        if (count < maxRecords)
            std::memcpy(records + PACKET_SIZE * count, transfer.bytes.data(), PACKET_SIZE);
        ++count;
    }
    return count;
}

STANDIN_API int standin_open_handles(void)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return Bus().OpenHandleCount();
}

// The frames the device's OUT transfers have used so far.
STANDIN_API long standin_frames(int index)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    tavsim::VirtualDevice* device = DeviceAt(index);
    return device != nullptr ? clocks[device->Device()].frame : -1;
}

// The device is gone at once (off the bus list at the next enumeration).
STANDIN_API int standin_unplug(int index)
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    tavsim::VirtualDevice* device = DeviceAt(index);
    if (device == nullptr)
        return -1;
    device->Unplug();
    return 0;
}
