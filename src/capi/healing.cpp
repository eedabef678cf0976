// "reattach:" boards: a thread of the board object's own notices the board
// gone (a transfer found it gone, or it is no longer on its port), finds it
// again on that port with the model it had, applies the policy, and tells
// the application's connection callback of both.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "board/board_control.h"
#include "capi/board_object.h"
#include "capi/healing.h"
#include "capi/restore.h"
#include "link/board_info.h"
#include "link/debug_print.h"
#include "link/selector.h"

using namespace TAVDll;
using namespace TAVDll::detail;

namespace {

// How often a "reattach:" board looks whether its board is still there, or
// back.
constexpr std::chrono::milliseconds REATTACH_INTERVAL{250};

// The USB libraries its board may come back through.
int HealingBackends(const tav_board* board, const UsbBackend* tables[BUS_BACKEND_LIMIT])
{
    if (board->simulated != nullptr) {
        tables[0] = &board->simulated->Backend();
        return 1;
    }
    return BusBackends(board->link.queued, tables);
}

// Whether the board this link holds is still plugged in where it was found:
// a board that left and came back while nobody called has another device
// number now, and the old handle is dead.
bool StillOnItsPort(const tav_board* board)
{
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    const BoardLink& link = board->link;
    return BoardAtPort(*link.usb, link.portPath, &busNumber, &deviceNumber) && busNumber == link.busNumber
           && deviceNumber == link.deviceNumber;
}

// The board on the port it was found on, with the model it had: opened,
// its policy applied. The link's lock is held.
bool ReattachOnItsPort(tav_board* board)
{
    BoardLink& link = board->link;
    const UsbBackend* tables[BUS_BACKEND_LIMIT];
    const int tableCount = HealingBackends(board, tables);
    Selector selector;
    selector.kind = Selector::Kind::UsbAddress;
    selector.reattach = board->reattach;
    selector.queued = link.queued;
    int found = -1;
    for (int index = 0; index < tableCount && found < 0; ++index)
        if (BoardAtPort(*tables[index], link.portPath, &selector.busNumber, &selector.deviceNumber))
            found = index;
    if (found < 0) {
        board->strangerSeen = false; // whatever was there left
        return false;
    }
    if (board->strangerSeen && selector.busNumber == board->strangerBus && selector.deviceNumber == board->strangerDevice)
        return false;
    char portPath[USB_PORT_PATH_SIZE];
    std::snprintf(portPath, sizeof portPath, "%s", link.portPath);
    if (OpenSelectedDevice(link, selector, &tables[found], 1) != RESULT_OK)
        return false;
    std::snprintf(link.portPath, sizeof link.portPath, "%s", portPath);
    link.stopSending = false;
    // The object keeps its model and firmware whatever another board says.
    const BoardType boardType = link.boardType;
    char versionText[VERSION_TEXT_SIZE];
    std::memcpy(versionText, link.versionText, sizeof versionText);
    const bool answered = RequestBoardInfo(link) == RESULT_OK;
    if (!answered || ModelLetter(link.boardType) != board->modelLetter) {
        if (BoardOpen(link))
            LogPrint(TAV_LOG_WARNING, "port %s has a board again, but %s: left alone while it is there",
                     link.portPath, answered ? "of another model" : "it does not answer");
        board->strangerSeen = BoardOpen(link);
        board->strangerBus = selector.busNumber;
        board->strangerDevice = selector.deviceNumber;
        link.boardType = boardType;
        std::memcpy(link.versionText, versionText, sizeof versionText);
        ReleaseDevice(link);
        return false;
    }
    board->strangerSeen = false;
    if (board->reattach != ReattachPolicy::Restore)
        board->commanded = std::make_unique<CommandedState>(board->modelLetter); // what the board had is gone
    const int applied = board->reattach == ReattachPolicy::Restore ? RestoreCommandedState(link, *board->commanded)
                        : board->reattach == ReattachPolicy::Safe  ? DisableAll(link)
                                                                   : RESULT_OK;
    LogPrint(TAV_LOG_INFO, "the board on port %s is back%s", link.portPath,
             applied == RESULT_OK ? "" : "; a record of its policy did not reach it");
    return BoardOpen(link);
}

// Tells the application of a transition; false once the healer is to stop.
bool TellConnection(tav_board* board, int connected)
{
    tav_connection_callback callback = nullptr;
    void* user = nullptr;
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        if (board->healerStop)
            return false;
        callback = board->connectionCallback;
        user = board->connectionUser;
        if (callback == nullptr)
            return true;
        board->connectionCallbackRunning = true;
    }
    {
        CallbackScope inCallback;
        callback(board, connected, user); // may close the board: it is freed only when this thread ends
    }
    bool stop = false;
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        board->connectionCallbackRunning = false;
        stop = board->healerStop;
    }
    board->connectionCallbackDone.notify_all();
    return !stop;
}

// Whether the board's connection is open, under its lock.
bool BoardOpenNow(const tav_board* board)
{
    auto* mutableBoard = const_cast<tav_board*>(board);
    std::lock_guard<LibraryMutex> lock(mutableBoard->link.mutex);
    return BoardOpen(mutableBoard->link);
}

} // namespace

namespace TAVDll::detail {

// The thread of a "reattach:" board: notices it gone (a transfer found it
// gone, or it is no longer on its port), finds it again, and tells the
// application of both.
void HealerThread(tav_board* board)
{
    for (bool going = true; going;) {
        {
            std::unique_lock<std::mutex> lock(board->healerMutex);
            board->healerWake.wait_for(lock, REATTACH_INTERVAL,
                                       [board] { return board->healerStop || board->healerLookNow; });
            board->healerLookNow = false;
            if (board->healerStop)
                break;
        }
        int transitions[2];
        int transitionCount = 0;
        // An operation of its own: what a reattach sends is traced as one.
        RunOperation(board->link, [&](BoardLink& link) {
            if (board->closing.load())
                return;
            EveryRecordWatched watched(*board); // the policy's records
            if (BoardOpen(link) && !StillOnItsPort(board)) {
                LogPrint(TAV_LOG_INFO, "the board on port %s left", link.portPath);
                ReleaseDevice(link);
            }
            if (!BoardOpen(link) && board->connected.load()) {
                board->connected.store(false);
                transitions[transitionCount++] = 0;
            }
            if (!BoardOpen(link) && ReattachOnItsPort(board)) {
                board->connected.store(true);
                transitions[transitionCount++] = 1;
            }
        });
        for (int index = 0; index < transitionCount && going; ++index)
            going = TellConnection(board, transitions[index]);
    }
    bool freeNow = false;
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        board->healerEnded = true;
        freeNow = board->freeWhenHealerEnds;
    }
    if (freeNow)
        delete board; // closed from a callback: this thread was let go
}

// Whether this thread may wait for the board's healer: not the healer
// itself, nor any thread inside a callback of the library's (another
// board's healer may be waiting for this one).
bool MayWaitForHealer(const tav_board* board)
{
    return std::this_thread::get_id() != board->healerId && !InsideLibraryCallback();
}

// Tells the healer to stop, and waits for it where this thread may. Once
// for two threads at once: the second finds the thread taken.
void StopHealing(tav_board* board)
{
    std::thread healer;
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        board->healerStop = true;
        if (board->healer.joinable() && MayWaitForHealer(board))
            healer = std::move(board->healer);
    }
    board->healerWake.notify_all();
    if (healer.joinable())
        healer.join();
}

// Frees a disconnected board; where its healer could not be waited for and
// still runs, the healer frees it as it ends.
void FreeBoard(tav_board* board)
{
    std::thread healer;
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        if (board->healer.joinable()) {
            if (!board->healerEnded) {
                board->freeWhenHealerEnds = true;
                board->healer.detach();
                return;
            }
            healer = std::move(board->healer);
        }
    }
    if (healer.joinable())
        healer.join(); // it has ended
    delete board;
}

// A reattach: board's thread looks at its board at once.
void HealerLookNow(tav_board* board)
{
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        board->healerLookNow = true;
    }
    board->healerWake.notify_all();
}

} // namespace TAVDll::detail

extern "C" {

int tav_connected(const tav_board* board)
{
    return board != nullptr && board->connected.load() && BoardOpenNow(board) ? 1 : 0;
}

int tav_set_connection_callback(tav_board* board, tav_connection_callback callback, void* user_data)
{
    if (board == nullptr)
        return TAV_E_INVALID;
    std::unique_lock<std::mutex> lock(board->healerMutex);
    board->connectionCallback = callback;
    board->connectionUser = user_data;
    // Once this returns the old callback is not running, unless this thread
    // may not wait for it (it is the callback, or inside another one).
    if (MayWaitForHealer(board))
        board->connectionCallbackDone.wait(lock, [board] { return !board->connectionCallbackRunning; });
    return TAV_OK;
}

} // extern "C"
