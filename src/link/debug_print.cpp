#include "link/debug_print.h"

#include "tav/tav.h"
#include "base/library_mutex.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
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
std::condition_variable sinkIdle;
LogSink sink{nullptr, nullptr};
std::atomic<bool> sinkSet{false};
// Callbacks running, by the parity of the sink's generation they started
// in: a new sink waits until the calls of the one before it have returned.
unsigned sinkGeneration = 0;
int sinkCalls[2] = {0, 0};
std::mutex sinkChangeMutex; // one change of the sink at a time

// Lines logged while this thread held a lock of the library: given to the
// callback once it holds none. Fixed room: a line too many is counted.
constexpr int HELD_LINE_COUNT = 8;
constexpr int HELD_LINE_SIZE = 512;
struct HeldLines {
    int level[HELD_LINE_COUNT];
    char text[HELD_LINE_COUNT][HELD_LINE_SIZE];
    int count = 0;
    int dropped = 0;
};
thread_local HeldLines held;

void CallSink(int level, const char* text)
{
    LogSink listener;
    unsigned parity = 0;
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        listener = sink;
        parity = sinkGeneration & 1u;
        if (listener.callback == nullptr)
            return;
        ++sinkCalls[parity];
    }
    {
        // Called without the lock: the callback may log or set another one.
        CallbackScope inCallback;
        listener.callback(level, text, listener.user);
    }
    std::lock_guard<std::mutex> lock(sinkMutex);
    if (--sinkCalls[parity] == 0)
        sinkIdle.notify_all();
}

void FlushHeldLines();

void HoldLine(int level, const char* text)
{
    WhenAllLocksReleased(FlushHeldLines);
    if (held.count == HELD_LINE_COUNT) {
        ++held.dropped;
        return;
    }
    held.level[held.count] = level;
    std::snprintf(held.text[held.count], HELD_LINE_SIZE, "%s", text);
    ++held.count;
}

void FlushHeldLines()
{
    if (held.count + held.dropped == 0)
        return;
    // Taken off first: a callback may log again, and take a lock.
    const HeldLines lines = held;
    held.count = 0;
    held.dropped = 0;
    if (!sinkSet.load(std::memory_order_acquire))
        return;
    for (int index = 0; index < lines.count; ++index)
        CallSink(lines.level[index], lines.text[index]);
    if (lines.dropped > 0) {
        char text[64];
        std::snprintf(text, sizeof text, "(%d more lines of the library's log were dropped)", lines.dropped);
        CallSink(TAV_LOG_WARNING, text);
    }
}

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
    if (!toCallback)
        return;
    if (LibraryLocksHeld() > 0)
        HoldLine(level, text);
    else
        CallSink(level, text);
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

void QuoteText(const char* input, char* text, size_t size)
{
    if (size == 0)
        return;
    constexpr size_t MAX_QUOTED = 40;
    size_t used = 0;
    const auto put = [&](const char* piece) {
        const int written = std::snprintf(text + used, size - used, "%s", piece);
        used = std::min(size - 1, used + static_cast<size_t>(written > 0 ? written : 0));
    };
    put("'");
    const size_t length = std::strlen(input);
    for (size_t index = 0; index < length && index < MAX_QUOTED; ++index) {
        const unsigned char symbol = static_cast<unsigned char>(input[index]);
        char piece[8];
        if (symbol < 0x20 || symbol == 0x7f)
            std::snprintf(piece, sizeof piece, "\\x%02x", symbol);
        else
            std::snprintf(piece, sizeof piece, "%c", static_cast<char>(symbol));
        put(piece);
    }
    char tail[48];
    if (length > MAX_QUOTED)
        std::snprintf(tail, sizeof tail, "...' (%zu characters)", length);
    else
        std::snprintf(tail, sizeof tail, "'");
    put(tail);
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

void SetLogSink(tav_log_callback callback, void* user_data)
{
    // From inside a callback of the library's, the running calls are not
    // waited for: one of them may be this thread's, or wait for it.
    const bool waits = !InsideLibraryCallback();
    std::unique_lock<std::mutex> change(sinkChangeMutex, std::defer_lock);
    if (waits)
        change.lock();
    std::unique_lock<std::mutex> lock(sinkMutex);
    sink = LogSink{callback, user_data};
    sinkSet.store(callback != nullptr, std::memory_order_release);
    const unsigned before = sinkGeneration++ & 1u;
    if (waits)
        sinkIdle.wait(lock, [before] { return sinkCalls[before] == 0; });
}

} // namespace TAVDll::detail
