/*
 * capi/simulated_board.h - the board of a "sim:" selector, as the library sees
 * it: a USB backend table of its own with one board on it, and the board model
 * that executes what reaches that board (for the virtual-board calls: its
 * view, its clock, its waveforms).
 *
 * The virtual USB device behind it lives in sim/ and defines
 * MakeSimulatedBoard; the library reaches sim/ through this header alone, the
 * way it reaches a USB library through its backend table.
 */
#ifndef TAV_CAPI_SIMULATED_BOARD_H
#define TAV_CAPI_SIMULATED_BOARD_H

#include <cstddef>
#include <memory>

#include "usb/usb_backend.h"

namespace tavmodel {
class BoardModel;
}

namespace TAVDll {

// What a record transfer of a virtual board may meet.
enum class SimulatedFault { Timeout, Stall, ShortWrite, Unplug };

class SimulatedBoard {
public:
    virtual ~SimulatedBoard() = default;
    // The table of the board's own bus; its handles never reach another.
    virtual const UsbBackend& Backend() const = 0;
    // The model behind the board; it lives as long as this object (a replug
    // powers it anew in place).
    virtual tavmodel::BoardModel& Model() = 0;
    // The board leaves its bus (an open handle finds it gone), or comes back
    // on the same port under a new device number, at power-on. False when
    // it already was where it is asked to be.
    virtual bool Unplug() = 0;
    virtual bool Plug() = 0;
    // The afterRecords-th record transfer from now (1: the next) meets the
    // fault; several may be pending. A replug clears them.
    virtual void Fail(SimulatedFault fault, int afterRecords) = 0;
    // Its object let it go: no watcher sees it from now on.
    virtual void Retire() = 0;
};

// A virtual board as watchers see it: a board of its own bus, numbered
// anew at each plug.
struct SimulatedBoardSighting {
    unsigned serial;      // which board, from 1 in the order they were made
    unsigned plugNumber;  // from 1, one more at each plug
    char modelLetter;
};

// The virtual boards plugged in now, at most capacity of them into
// sightings; how many there are.
size_t PluggedSimulatedBoards(SimulatedBoardSighting* sightings, size_t capacity);

// A board of model 'T', 'S' or 'C' at power-on, alone on a bus of its own,
// that logs nothing and keeps no copy of what it receives (so that it can
// run for as long as its user wants). Null when memory runs out.
std::unique_ptr<SimulatedBoard> MakeSimulatedBoard(char modelLetter);

} // namespace TAVDll

#endif
