#ifndef TAV_LINK_DEBUG_PRINT_H
#define TAV_LINK_DEBUG_PRINT_H

namespace TAVDll::detail {

constexpr int DEBUG_TEXT_SIZE = 4096;

// printf-style debug line, cut to 4095 characters. On standard error, with
// a newline, when TAV_DEBUG is set to a non-empty value other than "0"; on
// Windows also, always, to the debugger output (OutputDebugStringA).
#if defined(__GNUC__)
void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
#else
void DebugPrint(const char* format, ...);
#endif

} // namespace TAVDll::detail

#endif
