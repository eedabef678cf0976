// The locks of the library (a board's, the discovery lock): while a thread
// holds any of them, the lines it logs wait, and reach the application's log
// callback once it holds none, so that a callback may call the library.
#ifndef TAV_BASE_LIBRARY_MUTEX_H
#define TAV_BASE_LIBRARY_MUTEX_H

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace TAVDll::detail {

// What this thread holds: how many of the library's locks, and what to do
// once it lets go of the last one (null: nothing).
struct ThreadLocks {
    int held = 0;
    void (*whenAllReleased)() = nullptr;
};
inline thread_local ThreadLocks threadLocks;

// Taken by one compare-and-swap when nobody holds it (every operation of a
// board takes its board's lock, so the taking and letting go are inline); a
// thread that finds it held sleeps until it is let go.
class LibraryMutex {
public:
    void lock()
    {
        bool free = false;
        if (!held_.compare_exchange_strong(free, true, std::memory_order_acquire))
            WaitAndLock();
        ++threadLocks.held;
    }

    // The holder lets go before it looks for waiters (both sequentially
    // consistent), and a waiter counts itself before each try: either the
    // try succeeds or the holder sees the waiter and wakes it.
    void unlock()
    {
        held_.store(false);
        if (waiting_.load() != 0)
            WakeOne();
        if (--threadLocks.held == 0 && threadLocks.whenAllReleased != nullptr)
            RunWhenAllReleased();
    }

private:
    void WaitAndLock();
    void WakeOne();
    static void RunWhenAllReleased();

    std::atomic<bool> held_{false};
    std::atomic<int> waiting_{0};
    std::mutex sleepMutex_; // for the sleepers alone
    std::condition_variable letGo_;
};

// How many of the library's locks this thread holds.
inline int LibraryLocksHeld()
{
    return threadLocks.held;
}

// Has action called, once, when this thread next holds none of the library's
// locks (the log hands the lines it held back to the application there).
void WhenAllLocksReleased(void (*action)());

// Whether this thread is inside a callback of the library's (a connection,
// watch or log callback): it may not wait for another callback to end.
bool InsideLibraryCallback();

// Marks a callback of the library's on this thread while it lives.
class CallbackScope {
public:
    CallbackScope();
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};

} // namespace TAVDll::detail

#endif
