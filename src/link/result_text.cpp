#include "TAVLib.h"
#include "tav/tav.h"

using namespace TAVDll;

extern "C" const char* tav_strerror(int code)
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
