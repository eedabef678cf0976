#ifndef TAV_LINK_SELECTOR_H
#define TAV_LINK_SELECTOR_H

#include "link/board_link.h"

namespace TAVDll::detail {

// What a "reattach:" board does when its board comes back after leaving:
// sends the records of its commanded state, the safe state, or nothing.
enum class ReattachPolicy { Off, Restore, Safe, None };

// A parsed selector: "" (first board), "usb:BUS:DEV" or "BUS:DEV",
// "dev:/dev/bus/usb/BUS/DEV" (or a link to it), "port:1-3.2", "sim:M", each of
// them also after "queued:" or "sync:" and after one of "reattach:",
// "reattach-safe:", "reattach-none:" (in either order).
struct Selector {
    enum class Kind { FirstBoard, UsbAddress, PortPath, Virtual } kind = Kind::FirstBoard;
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    char portPath[USB_PORT_PATH_SIZE] = {}; // "1-3.2" of a "port:1-3.2" selector
    char modelLetter = 'T'; // of a "sim:" selector
    bool queued = false; // "queued:": records go out through the backend's queue
    bool sync = false;   // "sync:": one transfer at a time, where a board object would queue
    ReattachPolicy reattach = ReattachPolicy::Off;
};

// False for anything outside the grammar (the text is left alone).
bool ParseSelector(const char* text, Selector* selector);

// "The first board" means the board TAV_DEVICE names when it is set: a
// selector of kind FirstBoard becomes TAV_DEVICE's, sent as the program's
// selector says when it says queued: or sync:, as TAV_DEVICE says otherwise.
// False, with a debug line, when TAV_DEVICE is not a selector.
bool ApplyDefaultSelector(Selector* selector);

// Enumerates the bus of each backend in turn and
// opens the board the selector names (usb:, port: or the first board) in the
// first that has it; link.usb becomes that backend. Sends nothing. 0, or
// TAV_E_NOT_FOUND, TAV_E_ACCESS. The link's lock is held by the caller.
int OpenSelectedDevice(BoardLink& link, const Selector& selector, const UsbBackend* const* backends, int backendCount);

// Enumerates usb's bus: whether a TAV board is plugged in at portPath now,
// and its address. Opens nothing.
bool BoardAtPort(const UsbBackend& usb, const char* portPath, unsigned long* busNumber, unsigned long* deviceNumber);

// Enumerates the bus of each backend in turn, opens the board the selector
// names in the first that has it (link.usb becomes that backend) and reads
// its model and firmware. 0, or TAV_E_NOT_FOUND, TAV_E_ACCESS,
// RESULT_IO_FAILED; on failure nothing stays open. The link's lock is held
// by the caller.
int OpenSelected(BoardLink& link, const Selector& selector, const UsbBackend* const* backends, int backendCount);
// The same on the backends of the bus (BusBackends); a virtual selector opens
// the first board of the link's own bus.
int OpenSelected(BoardLink& link, const Selector& selector);

} // namespace TAVDll::detail

#endif
