#ifndef TAV_LINK_BOARD_LIST_H
#define TAV_LINK_BOARD_LIST_H

#include "link/board_link.h"
#include "tav/tav.h"

namespace TAVDll::detail {

// The devices on the installed backend's bus, as tav_list gives them.
int ListDevices(tav_device* devices, size_t capacity, bool all);

} // namespace TAVDll::detail

#endif
