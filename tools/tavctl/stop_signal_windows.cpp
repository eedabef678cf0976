// Stop signals on Windows: the console's control events. The handler runs on
// a thread of its own; it only raises an event that the waits below take.
// Closing the console (or logging off) ends the process as soon as the
// handler returns, so for those it waits until the board is safe.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "stop_signal.h"

namespace tavctl {

extern const char* const STOP_SIGNAL_WORDS = "Ctrl-C or Ctrl-Break";
extern const char* const HOLD_SIGNAL_WORDS = "Ctrl-C, Ctrl-Break or closing the console";

namespace {

constexpr DWORD CLOSE_GRACE_MS = 4500; // Windows ends a closing console's programs after 5 s

HANDLE stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
HANDLE handledEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
std::atomic<bool> held{false};

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (!held.load())
        return FALSE; // the default: the process ends
    SetEvent(stopEvent);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(handledEvent, CLOSE_GRACE_MS);
    return TRUE;
}

} // namespace

void DeferStopSignals()
{
}

void ReleaseStopSignals()
{
}

void HoldStopSignals()
{
    if (!held.exchange(true))
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool WaitForStop(uint64_t nanoseconds)
{
    const uint64_t milliseconds = (nanoseconds + 999999u) / 1000000u;
    const DWORD wait = milliseconds >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(milliseconds);
    return WaitForSingleObject(stopEvent, wait) == WAIT_OBJECT_0;
}

void WaitForStop()
{
    WaitForSingleObject(stopEvent, INFINITE);
}

void StopHandled()
{
    SetEvent(handledEvent);
}

void CatchInterrupts()
{
}

bool InterruptRequested()
{
    return false;
}

bool TakeInterrupt()
{
    return false;
}

bool SleepUnlessInterrupted(uint64_t nanoseconds)
{
    Sleep(static_cast<DWORD>(std::min<uint64_t>((nanoseconds + 999999u) / 1000000u, INFINITE - 1)));
    return true;
}

} // namespace tavctl
