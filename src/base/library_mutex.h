// The locks of the library (a board's, the discovery lock): while a thread
// holds any of them, the lines it logs wait, and reach the application's log
// callback once it holds none, so that a callback may call the library.
#ifndef TAV_BASE_LIBRARY_MUTEX_H
#define TAV_BASE_LIBRARY_MUTEX_H

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace TAVDll::detail {

// Taken by one compare-and-swap when nobody holds it (every operation of a
// board takes its board's lock); a thread that finds it held sleeps until it
// is let go.
class LibraryMutex {
public:
    void lock();
    void unlock();

private:
    void WaitAndLock();

    std::atomic<bool> held_{false};
    std::atomic<int> waiting_{0};
    std::mutex sleepMutex_; // for the sleepers alone
    std::condition_variable letGo_;
};

// How many of the library's locks this thread holds.
int LibraryLocksHeld();

// Called on a thread that has just let go of its last lock of the library
// (the log hands the lines it held back to the application there). Set once;
// null: nothing to do.
void SetLastLockReleased(void (*action)());

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
