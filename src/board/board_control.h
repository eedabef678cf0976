#ifndef TAV_BOARD_BOARD_CONTROL_H
#define TAV_BOARD_BOARD_CONTROL_H

#include "link/board_link.h"

namespace TAVDll::detail {

// Bring-up, safe state and shutdown on one board (its lock held).
int InitTav(BoardLink& link, uint32_t startupValue);
int DisableAll(BoardLink& link);
// Undoes the debug-port remap, sends the safe state and releases the board.
void CloseBoard(BoardLink& link);

} // namespace TAVDll::detail

#endif
