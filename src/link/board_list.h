#ifndef TAV_LINK_BOARD_LIST_H
#define TAV_LINK_BOARD_LIST_H

#include "link/board_link.h"
#include "tav/tav.h"

namespace TAVDll::detail {

// The devices on the bus (every library of it, BusBackends), as tav_list
// gives them; each TAV board opened for a moment when tryOpening.
int ListDevices(tav_device* devices, size_t capacity, bool all, bool tryOpening = true);

} // namespace TAVDll::detail

#endif
