#ifndef TAV_LINK_BOARD_INFO_H
#define TAV_LINK_BOARD_INFO_H

#include "link/board_link.h"

namespace TAVDll::detail {

// Asks the board for its model and firmware version and keeps them in the
// link: 0, 2 with no board open, 4 when the request or the reply failed.
int RequestBoardInfo(BoardLink& link);

} // namespace TAVDll::detail

#endif
