// tav_watch: boards arriving and leaving, seen by looking at the bus from a
// thread of the library's own: at once when libusb-1.0's hotplug says a board
// came or went (Linux), and at a steady pace in any case (libusb-win32 and
// Windows' libusb-1.0 have no hotplug; a harness's bus neither).
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "link/board_link.h"
#include "link/board_list.h"
#include "capi/simulated_board.h"
#include "tav/tav.h"

struct tav_watcher {
    tav_watch_callback callback;
    void* user;
    std::chrono::milliseconds interval;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    bool freeOnExit = false; // stopped from inside its own callback
    TAVDll::UsbHotplug* hotplug = nullptr; // null: polling alone
    std::thread thread;
};

namespace TAVDll::detail {

namespace {

constexpr unsigned DEFAULT_INTERVAL_MS = 250;
constexpr unsigned SHORTEST_INTERVAL_MS = 10;
constexpr unsigned LONGEST_INTERVAL_MS = 10000;

// The virtual boards of the process that are plugged in now, as devices of
// the library "sim": bus = which board, device = its plug, so that a replug
// leaves and arrives as a real one does.
void AddVirtualBoards(std::vector<tav_device>& boards)
{
    std::vector<SimulatedBoardSighting> sightings;
    for (;;) {
        const size_t count = PluggedSimulatedBoards(sightings.data(), sightings.size());
        if (count <= sightings.size()) {
            sightings.resize(count);
            break;
        }
        sightings.resize(count);
    }
    for (const SimulatedBoardSighting& sighting : sightings) {
        tav_device device{};
        device.bus = sighting.serial;
        device.device = sighting.plugNumber;
        device.vendor = BOARD_VENDOR_ID;
        device.product = BOARD_PRODUCT_ID;
        device.board = 1;
        std::snprintf(device.library, sizeof device.library, "sim");
        std::snprintf(device.port, sizeof device.port, "sim-%u", sighting.serial);
        boards.push_back(device);
    }
}

// The TAV boards on the bus now, none of them opened, and the virtual boards.
std::vector<tav_device> BoardsNow()
{
    std::vector<tav_device> boards;
    for (;;) { // a board may come between counting and filling
        const int count = ListDevices(boards.data(), boards.size(), false, false);
        if (count < 0 || static_cast<size_t>(count) <= boards.size()) {
            boards.resize(count < 0 ? 0 : static_cast<size_t>(count));
            break;
        }
        boards.resize(static_cast<size_t>(count));
    }
    AddVirtualBoards(boards);
    return boards;
}

bool SameBoard(const tav_device& left, const tav_device& right)
{
    return left.bus == right.bus && left.device == right.device && std::strcmp(left.library, right.library) == 0;
}

bool Contains(const std::vector<tav_device>& boards, const tav_device& board)
{
    for (const tav_device& candidate : boards)
        if (SameBoard(candidate, board))
            return true;
    return false;
}

// One event, unless the watcher is stopping.
bool Deliver(tav_watcher& watcher, int kind, bool initial, const tav_device& board)
{
    {
        std::lock_guard<std::mutex> lock(watcher.mutex);
        if (watcher.stopping)
            return false;
    }
    const tav_event event{kind, initial ? 1 : 0, &board};
    CallbackScope inCallback;
    watcher.callback(&event, watcher.user);
    return true;
}

// What changed from known to now, in the order seen: those gone first
// (a replug leaves, then arrives).
bool DeliverChanges(tav_watcher& watcher, const std::vector<tav_device>& known, const std::vector<tav_device>& now,
                    bool initial)
{
    for (const tav_device& board : known)
        if (!Contains(now, board) && !Deliver(watcher, TAV_EVENT_LEFT, false, board))
            return false;
    for (const tav_device& board : now)
        if (!Contains(known, board) && !Deliver(watcher, TAV_EVENT_ARRIVED, initial, board))
            return false;
    return true;
}

void Watch(tav_watcher* watcher)
{
    std::vector<tav_device> known;
    bool initial = true;
    for (;;) {
        const std::vector<tav_device> now = BoardsNow();
        if (!DeliverChanges(*watcher, known, now, initial))
            break;
        known = now;
        initial = false;
        // A hotplug event ends the pause early; libusb returning early for
        // anything else does not (the rest of the interval is waited out).
        const auto lookAgain = std::chrono::steady_clock::now() + watcher->interval;
        const bool changed = watcher->hotplug != nullptr
                             && WaitUsbHotplug(watcher->hotplug, static_cast<int>(watcher->interval.count()));
        std::unique_lock<std::mutex> lock(watcher->mutex);
        if (watcher->wake.wait_until(lock, changed ? std::chrono::steady_clock::now() : lookAgain,
                                     [watcher] { return watcher->stopping; }))
            break;
    }
    bool freeNow = false;
    {
        std::lock_guard<std::mutex> lock(watcher->mutex);
        freeNow = watcher->freeOnExit;
    }
    // Whoever frees the watcher closes its hotplug: tav_unwatch after the
    // join, or this thread when it was stopped from its own callback.
    if (freeNow) {
        CloseUsbHotplug(watcher->hotplug);
        delete watcher;
    }
}

} // namespace

} // namespace TAVDll::detail

extern "C" {

int tav_watch(tav_watch_callback callback, void* user_data, unsigned interval_ms, tav_watcher** watcher)
{
    using namespace TAVDll;
    using namespace TAVDll::detail;
    if (watcher != nullptr)
        *watcher = nullptr;
    if (callback == nullptr || watcher == nullptr)
        return TAV_E_INVALID;
    if (interval_ms == 0)
        interval_ms = DEFAULT_INTERVAL_MS;
    interval_ms = interval_ms < SHORTEST_INTERVAL_MS ? SHORTEST_INTERVAL_MS
                  : interval_ms > LONGEST_INTERVAL_MS ? LONGEST_INTERVAL_MS
                                                      : interval_ms;
    auto* started = new (std::nothrow) tav_watcher;
    if (started == nullptr)
        return TAV_E_INVALID;
    started->callback = callback;
    started->user = user_data;
    started->interval = std::chrono::milliseconds(interval_ms);
    if (InstalledUsbBackend() == SystemUsbBackend())
        started->hotplug = OpenUsbHotplug();
    // The thread delivers nothing before its handle and the caller's
    // *watcher are written (delivering takes this lock first), so that a
    // callback can stop the watcher from its very first event.
    std::unique_lock<std::mutex> lock(started->mutex);
    try {
        started->thread = std::thread(Watch, started);
    } catch (...) { // no thread to be had
        lock.unlock();
        CloseUsbHotplug(started->hotplug);
        delete started;
        return TAV_E_INVALID;
    }
    *watcher = started;
    return TAV_OK;
}

void tav_unwatch(tav_watcher* watcher)
{
    using namespace TAVDll;
    if (watcher == nullptr)
        return;
    // From its own callback, or from any callback of the library's (whose
    // thread this watcher's callback may be waiting for), it is not waited for.
    const bool ownThread = std::this_thread::get_id() == watcher->thread.get_id();
    const bool fromCallback = ownThread || detail::InsideLibraryCallback();
    {
        std::lock_guard<std::mutex> lock(watcher->mutex);
        watcher->stopping = true;
        watcher->freeOnExit = fromCallback;
    }
    watcher->wake.notify_all();
    if (watcher->hotplug != nullptr && !ownThread)
        WakeUsbHotplug(watcher->hotplug);
    if (fromCallback) {
        watcher->thread.detach(); // it frees the watcher once the callback returns
        return;
    }
    watcher->thread.join();
    CloseUsbHotplug(watcher->hotplug);
    delete watcher;
}

} // extern "C"
