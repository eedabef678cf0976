// Stop signals on POSIX systems: SIGINT and SIGTERM, blocked in every thread
// and taken with sigwait, so that no handler runs in the middle of a record
// sequence.
#include <pthread.h>

#include <csignal>
#include <ctime>

#include "stop_signal.h"

namespace tavctl {

namespace {

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

void HoldStopSignals()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
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
