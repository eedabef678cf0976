/*
 * usb/simulated_board.h - the board of a "sim:" selector, as the library sees
 * it: a USB backend table of its own with one board on it, and the board model
 * that executes what reaches that board (for the virtual-board calls: its
 * view, its clock, its waveforms).
 *
 * The virtual USB device behind it lives in sim/ and defines
 * MakeSimulatedBoard; the library reaches sim/ through this header alone, the
 * way it reaches a USB library through its backend table.
 */
#ifndef TAV_USB_SIMULATED_BOARD_H
#define TAV_USB_SIMULATED_BOARD_H

#include <memory>

#include "usb/usb_backend.h"

namespace tavmodel {
class BoardModel;
}

namespace TAVDll {

class SimulatedBoard {
public:
    virtual ~SimulatedBoard() = default;
    // The table of the board's own bus; its handles never reach another.
    virtual const UsbBackend& Backend() const = 0;
    // The model behind the board; it lives as long as this object.
    virtual tavmodel::BoardModel& Model() = 0;
};

// A board of model 'T', 'S' or 'C' at power-on, alone on a bus of its own,
// that logs nothing and keeps no copy of what it receives (so that it can
// run for as long as its user wants). Null when memory runs out.
std::unique_ptr<SimulatedBoard> MakeSimulatedBoard(char modelLetter);

} // namespace TAVDll

#endif
