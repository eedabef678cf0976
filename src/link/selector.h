#ifndef TAV_LINK_SELECTOR_H
#define TAV_LINK_SELECTOR_H

#include "link/board_link.h"

namespace TAVDll::detail {

// A parsed selector: "" (first board), "usb:BUS:DEV" or "BUS:DEV", "sim:M",
// each of them also after "queued:".
struct Selector {
    enum class Kind { FirstBoard, UsbAddress, Virtual } kind = Kind::FirstBoard;
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    char model = 'T';
    bool queued = false; // records go out through the backend's queue
};

// False for anything outside the grammar (the text is left alone).
bool ParseSelector(const char* text, Selector* selector);

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
