#ifndef TAV_LINK_DEBUG_PRINT_H
#define TAV_LINK_DEBUG_PRINT_H

#include <cstddef>

#include "tav/tav.h"

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

// A line for the application's log callback (tav_set_log_callback) at
// level (TAV_LOG_*), and nowhere else. DebugPrint's lines reach the callback
// at TAV_LOG_DEBUG too. Formats nothing when nobody listens.
#if defined(__GNUC__)
void LogPrint(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
#else
void LogPrint(int level, const char* format, ...);
#endif

// Where the lines of LogPrint go (tav_set_log_callback): once it returns,
// no call of the sink before reaches the application any more, except from
// inside a callback of the library's, which is not waited for.
void SetLogSink(tav_log_callback callback, void* user);

// A caller's text in a message, as tavctl quotes it: in single quotes,
// control bytes escaped ("\x1b"), cut to 40 characters (then "...' (N
// characters)"). Always NUL-terminated in text.
void QuoteText(const char* input, char* text, size_t size);

// A negative errno value of the USB layer in words: "-16 (Device or
// resource busy)", into text.
void ErrorWords(int error, char* text, size_t size);

} // namespace TAVDll::detail

#endif
