// Stop signals on POSIX systems: SIGINT, SIGTERM and SIGHUP, blocked in
// every thread from the start and taken with sigwait, so that no handler
// runs in the middle of a record sequence and none is lost before the
// command line is read.
#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <initializer_list>

#include "stop_signal.h"

namespace tavctl {

extern const char* const STOP_SIGNAL_WORDS = "Ctrl-C or SIGTERM";
extern const char* const HOLD_SIGNAL_WORDS = "Ctrl-C, SIGTERM or SIGHUP";

namespace {

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

} // namespace

void DeferStopSignals()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void HoldStopSignals()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // An ignored signal may be dropped when it is sent, blocked or not: a
    // shell starts background jobs with SIGINT ignored, nohup with SIGHUP.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, SIG_DFL);
}

void ReleaseStopSignals()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

bool WaitForStop(uint64_t nanoseconds)
{
    const sigset_t signals = StopSignals();
    const timespec wait{static_cast<time_t>(nanoseconds / 1000000000u), static_cast<long>(nanoseconds % 1000000000u)};
    return sigtimedwait(&signals, nullptr, &wait) > 0;
}

void WaitForStop()
{
    const sigset_t signals = StopSignals();
    int received = 0;
    sigwait(&signals, &received);
}

void StopHandled()
{
}

namespace {

volatile sig_atomic_t interruptRequested = 0;

extern "C" void OnInterrupt(int)
{
    interruptRequested = 1;
}

} // namespace

void CatchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocking read or sleep returns EINTR
    sigaction(SIGINT, &action, nullptr);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
}

bool InterruptRequested()
{
    return interruptRequested != 0;
}

bool TakeInterrupt()
{
    const bool requested = interruptRequested != 0;
    interruptRequested = 0;
    return requested;
}

bool SleepUnlessInterrupted(uint64_t nanoseconds)
{
    timespec wait{static_cast<time_t>(nanoseconds / 1000000000u), static_cast<long>(nanoseconds % 1000000000u)};
    while (nanosleep(&wait, &wait) != 0) {
        if (errno != EINTR)
            return true; // nothing to wait with: go on
        if (InterruptRequested())
            return false;
    }
    return !InterruptRequested();
}

} // namespace tavctl
