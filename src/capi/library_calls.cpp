// The C interface's calls about the library itself: its version, the USB
// libraries it found and why a board was not, result codes in words, and
// where its log goes.
#include "TAVLib.h"
#include "link/board_link.h"
#include "link/debug_print.h"
#include "tav/tav.h"

using namespace TAVDll;
using namespace TAVDll::detail;

extern "C" {

const char* tav_version(void)
{
    return TAV_VERSION_TEXT;
}

const char* tav_usb_problem(void)
{
    return UsbLibraryProblem();
}

const char* tav_open_problem(void)
{
    return OpenProblem();
}

const char* tav_usb_libraries(void)
{
    return UsbLibraries();
}

const char* tav_strerror(int code)
{
    // Every front end (tavctl, the C interface, the Python package) words its
    // results through this one table.
    switch (code) {
    case RESULT_OK: return "success";
    case RESULT_NOT_OPEN: return "no board open";
    case RESULT_IO_FAILED: return "a transfer to the board failed";
    case RESULT_BAD_PIN: return "not a pin identifier of bank 4 or 8";
    case RESULT_PIN_UNAVAILABLE: return "a named pin has no mapping on this board model";
    case TAV_E_INVALID: return "invalid argument";
    case TAV_E_NOT_FOUND: return "no board matches the selector";
    case TAV_E_ACCESS: return "the board cannot be opened or claimed (no permission, or held by another program)";
    case TAV_E_NOT_VIRTUAL: return "not a virtual board";
    default: return "unknown result code";
    }
}

void tav_set_log_callback(tav_log_callback callback, void* user_data)
{
    SetLogSink(callback, user_data);
}

} // extern "C"
