#include "link/debug_print.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace TAVDll::detail {

namespace {

bool StandardErrorWanted()
{
    const char* setting = std::getenv("TAV_DEBUG");
    return setting != nullptr && setting[0] != '\0' && std::strcmp(setting, "0") != 0;
}

#if defined(_WIN32)
// A debugger (or DebugView) shows these lines; without one they cost a call.
constexpr bool TO_DEBUGGER = true;
#else
constexpr bool TO_DEBUGGER = false;
#endif

} // namespace

void DebugPrint(const char* format, ...)
{
    const bool toStandardError = StandardErrorWanted();
    if (!TO_DEBUGGER && !toStandardError)
        return;
    char text[DEBUG_TEXT_SIZE];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
#if defined(_WIN32)
    OutputDebugStringA(text);
#endif
    if (toStandardError)
        std::fprintf(stderr, "%s\n", text);
}

} // namespace TAVDll::detail
