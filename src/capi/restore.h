#ifndef TAV_CAPI_RESTORE_H
#define TAV_CAPI_RESTORE_H

#include "capi/commanded_state.h"
#include "link/board_link.h"

namespace TAVDll::detail {

// Sends a board just plugged in (at its power-on state) the records that
// bring it to what the commanded state says this object set: the debug
// port released, the board started (both as tav_init left them), every
// running PWM group with its divider and duties, and every pin this object
// set as an input or output, with its level. What no record of this object
// set stays as the board starts. The link's lock is held; 0 or
// RESULT_IO_FAILED when a record did not go out whole.
int RestoreCommandedState(BoardLink& link, const CommandedState& commanded);

} // namespace TAVDll::detail

#endif
