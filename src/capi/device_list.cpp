// tav_list: the boards (and other USB devices) on the bus, in the layout of
// the caller's tav.h.
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "link/board_list.h"
#include "tav/tav.h"

using namespace TAVDll;
using namespace TAVDll::detail;

namespace {

// tav_device as tav.h 1.1 had it: up to the model letter, padded.
constexpr size_t DEVICE_SIZE_1_1 =
    (offsetof(tav_device, library) + alignof(tav_device) - 1) / alignof(tav_device) * alignof(tav_device);
static_assert(DEVICE_SIZE_1_1 == 48, "tav_device of 1.1");

} // namespace

extern "C" {

int tav_list_sized(tav_device* devices, size_t capacity, int all, size_t device_size)
{
    if ((devices == nullptr && capacity > 0) || device_size < DEVICE_SIZE_1_1)
        return TAV_E_INVALID;
    if (device_size == sizeof(tav_device))
        return ListDevices(devices, capacity, all != 0);
    // Another layout: listed here, each entry copied as far as both have it.
    // No bus holds more devices than USB can address on a few host
    // controllers.
    constexpr size_t MOST_DEVICES = 1024;
    const size_t room = capacity < MOST_DEVICES ? capacity : MOST_DEVICES;
    std::unique_ptr<tav_device[]> listed(new (std::nothrow) tav_device[room > 0 ? room : 1]);
    if (listed == nullptr)
        return TAV_E_INVALID;
    const int count = ListDevices(listed.get(), room, all != 0);
    const size_t common = device_size < sizeof(tav_device) ? device_size : sizeof(tav_device);
    auto* bytes = reinterpret_cast<unsigned char*>(devices);
    for (size_t index = 0; count > 0 && index < room && index < static_cast<size_t>(count); ++index) {
        std::memset(bytes + index * device_size, 0, device_size);
        std::memcpy(bytes + index * device_size, &listed[index], common);
    }
    return count;
}

// The function of programs built against 1.1's tav.h.
int(tav_list)(tav_device* devices, size_t capacity, int all)
{
    return tav_list_sized(devices, capacity, all, DEVICE_SIZE_1_1);
}

} // extern "C"
