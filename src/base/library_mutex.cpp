#include "base/library_mutex.h"

namespace TAVDll::detail {

namespace {

thread_local int callbackDepth = 0;

} // namespace

void LibraryMutex::WaitAndLock()
{
    std::unique_lock<std::mutex> sleeping(sleepMutex_);
    waiting_.fetch_add(1);
    letGo_.wait(sleeping, [this] {
        bool free = false;
        return held_.compare_exchange_strong(free, true);
    });
    waiting_.fetch_sub(1);
}

void LibraryMutex::WakeOne()
{
    std::lock_guard<std::mutex> sleeping(sleepMutex_);
    letGo_.notify_one();
}

void LibraryMutex::RunWhenAllReleased()
{
    // Taken off first: the action may log again, and take a lock.
    void (*action)() = threadLocks.whenAllReleased;
    threadLocks.whenAllReleased = nullptr;
    action();
}

void WhenAllLocksReleased(void (*action)())
{
    threadLocks.whenAllReleased = action;
}

bool InsideLibraryCallback()
{
    return callbackDepth > 0;
}

CallbackScope::CallbackScope()
{
    ++callbackDepth;
}

CallbackScope::~CallbackScope()
{
    --callbackDepth;
}

} // namespace TAVDll::detail
