// A board named by its device node: /dev/bus/usb/BBB/DDD, or a link to it
// such as the udev rule's SYMLINK ("dev:/dev/tav-bench-3").
#ifndef TAV_LINK_DEVICE_NODE_H
#define TAV_LINK_DEVICE_NODE_H

namespace TAVDll::detail {

// The bus and device number of the USB device node at path (links
// followed). False where the path is no USB device node, and on Windows,
// which has none.
bool UsbDeviceNodeAddress(const char* path, unsigned long* busNumber, unsigned long* deviceNumber);

} // namespace TAVDll::detail

#endif
