// What the stand-in USB libraries built for the tests under wine share (the
// stand-in libusb0.dll and libusb-1.0.dll each compile it in): a virtual bus
// of boards behind the library's own functions, the tests' control functions
// (standin_*), and the frame clock of a full-speed bus.
//
// The frame clock is the emulated board's: at most 19 packets of 64 bytes
// share a 1 ms frame, and a transfer submitted after the one before it
// completed waits for the next frame. With TAV_STANDIN_URB_LOG set, every OUT
// transfer that reaches the bus is appended to that file as "FRAME 2", the
// emulated board's URB log (bench/frames_table.awk reads it).
#ifndef TAV_TESTS_WINDOWS_STANDIN_BUS_H
#define TAV_TESTS_WINDOWS_STANDIN_BUS_H

#include <mutex>

#include "virtual_board.h"
#include "virtual_usb.h"

#define STANDIN_API extern "C" __declspec(dllexport)

namespace standin {

// Held by every function of the stand-in.
std::recursive_mutex& Mutex();
tavsim::VirtualUsb& Bus();
const TAVDll::UsbBackend& Usb();
tavsim::VirtualDevice* DeviceAt(int index);
tavsim::VirtualDevice* DeviceOf(const struct usb_device* device);
// The boards named by the environment variable (one model letter each) when
// the bus has none yet.
void AddBoardsFromEnvironment(const char* variable);

// Names a new device as the library does (defined by each stand-in); number
// counts from 1.
void NameDevice(tavsim::VirtualDevice& device, int number);
// What the stand-in keeps of the devices forgets them (defined by each
// stand-in): the bus is about to be made anew.
void ForgetDevices();

// One OUT transfer of length bytes reaches the bus. pipelined: it was
// submitted before the one ahead of it completed.
void CountFrame(const struct usb_device* device, int length, bool pipelined);

} // namespace standin

#endif
