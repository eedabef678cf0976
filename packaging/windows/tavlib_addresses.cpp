// Compiled twice, by MinGW's g++ and by clang for Microsoft's ABI, never
// linked: the relocations of this table name the 35 functions in the same
// order under each compiler's mangling, which pairs the names for tav.dll's
// aliases (msvc_aliases.sh).
#include "tavlib_functions.h"

using Function = void (*)();

#define TAV_ADDRESS(result, name, parameters) \
    reinterpret_cast<Function>(static_cast<result(*) parameters>(&TAVDll::TAVLib::name)),

extern "C" const Function tav_static_functions[] = {TAVLIB_FUNCTIONS(TAV_ADDRESS)};
