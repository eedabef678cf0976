#include "base/library_mutex.h"

#include <atomic>

namespace TAVDll::detail {

namespace {

thread_local int heldLocks = 0;
thread_local int callbackDepth = 0;
std::atomic<void (*)()> lastLockReleased{nullptr};

void Released()
{
    if (--heldLocks != 0)
        return;
    if (void (*action)() = lastLockReleased.load(std::memory_order_acquire))
        action();
}

} // namespace

void LibraryMutex::lock()
{
    mutex_.lock();
    ++heldLocks;
}

bool LibraryMutex::try_lock()
{
    if (!mutex_.try_lock())
        return false;
    ++heldLocks;
    return true;
}

void LibraryMutex::unlock()
{
    mutex_.unlock();
    Released();
}

int LibraryLocksHeld()
{
    return heldLocks;
}

void SetLastLockReleased(void (*action)())
{
    lastLockReleased.store(action, std::memory_order_release);
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
