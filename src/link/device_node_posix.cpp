#include "link/device_node.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace TAVDll::detail {

namespace {

constexpr unsigned USB_DEVICE_MAJOR = 189; // usbfs nodes: minor = (bus - 1) * 128 + device - 1
constexpr unsigned DEVICES_PER_BUS = 128;
constexpr int MOST_LINKS = 40; // as the kernel's limit of links followed

// The path after its links, by their text: a node the process cannot
// stat (another namespace, a test bed) still names its bus and device.
std::string FollowLinks(std::string path)
{
    for (int hop = 0; hop < MOST_LINKS; ++hop) {
        char target[4096];
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length <= 0)
            return path;
        target[length] = '\0';
        if (target[0] == '/')
            path = target;
        else
            path = path.substr(0, path.rfind('/') + 1) + target;
    }
    return path;
}

// ".../bus/usb/001/005" at the end of the path.
bool AddressFromPath(const std::string& path, unsigned long* busNumber, unsigned long* deviceNumber)
{
    const size_t at = path.rfind("bus/usb/");
    if (at == std::string::npos || (at > 0 && path[at - 1] != '/'))
        return false;
    unsigned bus = 0;
    unsigned device = 0;
    int used = 0;
    const char* rest = path.c_str() + at + std::strlen("bus/usb/");
    if (std::sscanf(rest, "%3u/%3u%n", &bus, &device, &used) != 2 || rest[used] != '\0' || bus == 0 || device == 0)
        return false;
    *busNumber = bus;
    *deviceNumber = device;
    return true;
}

} // namespace

bool UsbDeviceNodeAddress(const char* path, unsigned long* busNumber, unsigned long* deviceNumber)
{
    if (path == nullptr || path[0] == '\0')
        return false;
    if (AddressFromPath(FollowLinks(path), busNumber, deviceNumber))
        return true;
    struct stat node {};
    if (stat(path, &node) != 0 || !S_ISCHR(node.st_mode) || major(node.st_rdev) != USB_DEVICE_MAJOR)
        return false;
    *busNumber = minor(node.st_rdev) / DEVICES_PER_BUS + 1;
    *deviceNumber = minor(node.st_rdev) % DEVICES_PER_BUS + 1;
    return true;
}

} // namespace TAVDll::detail
