#include "link/device_node.h"

namespace TAVDll::detail {

bool UsbDeviceNodeAddress(const char*, unsigned long*, unsigned long*)
{
    return false; // Windows names its boards by driver, not by device node
}

} // namespace TAVDll::detail
