// The locks of the library (a board's, the discovery lock): while a thread
// holds any of them, the lines it logs wait, and reach the application's log
// callback once it holds none, so that a callback may call the library.
#ifndef TAV_LINK_LIBRARY_MUTEX_H
#define TAV_LINK_LIBRARY_MUTEX_H

#include <mutex>

namespace TAVDll::detail {

class LibraryMutex {
public:
    void lock();
    void unlock();
    bool try_lock();

private:
    std::mutex mutex_;
};

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
