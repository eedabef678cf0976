#include "link/debug_print.h"

#include "tav/tav.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

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

struct LogSink {
    tav_log_callback callback;
    void* user;
};
std::mutex sinkMutex;
LogSink sink{nullptr, nullptr};
std::atomic<bool> sinkSet{false};

// The debug lines (DebugPrint) go to the debugger, standard error with
// TAV_DEBUG and the callback; the others to the callback alone, so that the
// debug output stays the board library's own two lines.
void Emit(int level, const char* format, va_list arguments)
{
    const bool debugLine = level == TAV_LOG_DEBUG;
    const bool toDebugger = TO_DEBUGGER && debugLine;
    const bool toStandardError = debugLine && StandardErrorWanted();
    const bool toCallback = sinkSet.load(std::memory_order_acquire);
    if (!toDebugger && !toStandardError && !toCallback)
        return;
    char text[DEBUG_TEXT_SIZE];
    std::vsnprintf(text, sizeof text, format, arguments);
#if defined(_WIN32)
    if (toDebugger)
        OutputDebugStringA(text);
#endif
    if (toStandardError)
        std::fprintf(stderr, "%s\n", text);
    if (toCallback) {
        LogSink listener;
        {
            std::lock_guard<std::mutex> lock(sinkMutex);
            listener = sink;
        }
        // Called without the lock: the callback may log or set another one.
        if (listener.callback != nullptr)
            listener.callback(level, text, listener.user);
    }
}

} // namespace

void DebugPrint(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Emit(TAV_LOG_DEBUG, format, arguments);
    va_end(arguments);
}

void LogPrint(int level, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Emit(level, format, arguments);
    va_end(arguments);
}

void ErrorWords(int error, char* text, size_t size)
{
    if (error == -ETIMEDOUT)
        std::snprintf(text, size, "%d (timed out)", error);
    else if (error == -ENODEV)
        std::snprintf(text, size, "%d (the device is gone)", error);
    else
        std::snprintf(text, size, "%d (%s)", error, error < 0 ? std::strerror(-error) : "no error");
}

} // namespace TAVDll::detail

extern "C" void tav_set_log_callback(tav_log_callback callback, void* user_data)
{
    using namespace TAVDll::detail;
    std::lock_guard<std::mutex> lock(sinkMutex);
    sink = LogSink{callback, user_data};
    sinkSet.store(callback != nullptr, std::memory_order_release);
}
