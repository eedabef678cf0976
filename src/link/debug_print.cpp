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

#if !defined(_WIN32)
bool DebugOutputEnabled()
{
    const char* setting = std::getenv("TAV_DEBUG");
    return setting != nullptr && setting[0] != '\0' && std::strcmp(setting, "0") != 0;
}
#endif

} // namespace

void DebugPrint(const char* format, ...)
{
#if !defined(_WIN32)
    if (!DebugOutputEnabled())
        return;
#endif
    char text[DEBUG_TEXT_SIZE];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
#if defined(_WIN32)
    OutputDebugStringA(text);
#else
    std::fprintf(stderr, "%s\n", text);
#endif
}

} // namespace TAVDll::detail
