#ifndef TAV_LINK_LIBRARY_STATE_H
#define TAV_LINK_LIBRARY_STATE_H

#include "TAVLib.h"

namespace TAVDll::detail {

constexpr unsigned int BOARD_VENDOR_ID = 0x4C52;
constexpr unsigned int BOARD_PRODUCT_ID = 0x0101;
constexpr int BOARD_CONFIGURATION = 1;
constexpr int BOARD_INTERFACE = 0;
constexpr int TRANSFER_TIMEOUT_MS = 5000;
constexpr int ENDPOINT_OUT = 0x02;
constexpr int ENDPOINT_IN = 0x83;
constexpr int VERSION_TEXT_SIZE = 64;

// The one process-wide connection. Zero at load; boardType and versionText
// survive Close and Initial, as they describe the last board that answered.
struct LibraryState {
    usb_dev_handle* deviceHandle;
    int32_t timeoutMs;
    BoardType boardType;
    char versionText[VERSION_TEXT_SIZE];
};

extern LibraryState libraryState;

inline bool BoardOpen()
{
    return libraryState.deviceHandle != nullptr;
}

// Closes the handle if one is open and forgets it.
void ReleaseDevice();

} // namespace TAVDll::detail

#endif
