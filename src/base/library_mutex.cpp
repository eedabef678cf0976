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
    bool free = false;
    if (!held_.compare_exchange_strong(free, true, std::memory_order_acquire))
        WaitAndLock();
    ++heldLocks;
}

// The waiter counts itself before each try, and the holder lets go before it
// looks for waiters (both sequentially consistent): either the try succeeds,
// or the holder sees the waiter and wakes it.
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

void LibraryMutex::unlock()
{
    held_.store(false);
    if (waiting_.load() != 0) {
        std::lock_guard<std::mutex> sleeping(sleepMutex_);
        letGo_.notify_one();
    }
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
