// Stop signals on POSIX systems: SIGINT, SIGTERM and SIGHUP, blocked in
// every thread from the start and taken with sigwait, so that no handler
// runs in the middle of a record sequence and none is lost before the
// command line is read.
#include <pthread.h>

#include <csignal>
#include <ctime>
#include <initializer_list>

#include "stop_signal.h"

namespace tavctl {

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

} // namespace tavctl
