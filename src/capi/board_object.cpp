// The C interface's board object: opening a board by its selector, closing
// it, what it reports, and every record it sends seen by its commanded state,
// its trace and the application's record callback.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "board/board_control.h"
#include "capi/board_object.h"
#include "capi/call_support.h"
#include "capi/healing.h"
#include "link/board_info.h"
#include "link/debug_print.h"
#include "link/selector.h"
#include "link/transport.h"
#include "trace/record_trace.h"

using namespace TAVDll;
using namespace TAVDll::detail;

// Every record transfer of a board: the commanded state first, then the
// application's callback.
void TAVDll::detail::ObserveRecord(void* user, const uint8_t* bytes, int length, int result)
{
    auto* board = static_cast<tav_board*>(user);
    if (board->commanded != nullptr)
        board->commanded->Observe(bytes, length, result);
    if (board->callback != nullptr)
        board->callback(board->callbackUser, bytes, length, result);
}

// The same on a board that goes by effect, while its records are watched
// one by one (EveryRecordWatched, or the rest of an operation after the
// commanded state caught up).
void TAVDll::detail::ObserveCommanded(void* user, const uint8_t* bytes, int length, int result)
{
    static_cast<tav_board*>(user)->commanded->Observe(bytes, length, result);
}

void TAVDll::detail::CatchUpCommanded(void* user, const _INSTRUCTION_INFO_* wholeRecords, int wholeCount)
{
    auto* board = static_cast<tav_board*>(user);
    for (int index = 0; index < wholeCount; ++index)
        board->commanded->ObserveWhole(wholeRecords[index]);
    board->watch = tav_board::Watch::CaughtUp;
    board->link.shortfall = nullptr;
    board->link.observer = ObserveCommanded;
}

namespace {

// The same for a traced board (TAV_TRACE), and its replies: a separate
// observer, so that a board without a trace pays nothing for it.
void ObserveAndTraceRecord(void* user, const uint8_t* bytes, int length, int result)
{
    static_cast<tav_board*>(user)->trace->Out(bytes, length, result);
    ObserveRecord(user, bytes, length, result);
}

void TraceOperationEnd(void* user)
{
    static_cast<tav_board*>(user)->trace->EndOperation();
}

void TraceReply(void* user, const uint8_t* bytes, int length, int result)
{
    static_cast<tav_board*>(user)->trace->In(bytes, length, result);
}

// Ends the connection (the Close sequence first, or not), then waits for the
// calls already inside: those that waited for the board's lock find it
// closed and return TAV_NOT_OPEN.
void Disconnect(tav_board* board, bool safeState)
{
    board->closing.store(true);
    StopHealing(board);
    board->connected.store(false);
    {
        std::lock_guard<LibraryMutex> lock(board->link.mutex);
        EveryRecordWatched watched(*board); // a view of the board goes on after
        if (safeState)
            CloseBoard(board->link);
        else
            ReleaseDevice(board->link);
        if (board->trace != nullptr)
            board->trace->Finish();
        if (board->simulated != nullptr)
            board->simulated->Retire();
    }
    while (board->users.load() != 0)
        std::this_thread::yield();
}

} // namespace

void TAVDll::detail::ChooseObserver(tav_board& board)
{
    const bool byEffect = board.trace == nullptr && board.commanded != nullptr && board.callback == nullptr;
    board.watch = byEffect ? tav_board::Watch::ByEffect : tav_board::Watch::EveryRecord;
    board.link.observer = board.trace != nullptr ? ObserveAndTraceRecord : byEffect ? nullptr : ObserveRecord;
    board.link.shortfall = byEffect ? CatchUpCommanded : nullptr;
}

extern "C" {

int tav_open(const char* selector, tav_board** board)
{
    ClearOpenProblem(); // whatever this open finds, not what an earlier one did
    if (board == nullptr)
        return TAV_E_INVALID;
    *board = nullptr;
    Selector parsed;
    if (!ParseSelector(selector, &parsed)) {
        SetOpenProblem(SelectorReason(selector).c_str());
        return TAV_E_INVALID;
    }
    if (!ApplyDefaultSelector(&parsed)) {
        SetOpenProblem(("TAV_DEVICE=" + SelectorReason(std::getenv("TAV_DEVICE"))).c_str());
        return TAV_E_INVALID;
    }
    // Board objects put an operation's records back to back on the bus
    // unless the selector asks for one transfer at a time.
    parsed.queued = !parsed.sync;
    std::unique_ptr<tav_board> opened(new (std::nothrow) tav_board);
    if (opened == nullptr)
        return TAV_E_INVALID;
    if (parsed.kind == Selector::Kind::Virtual) {
        opened->simulated = MakeSimulatedBoard(parsed.modelLetter);
        if (opened->simulated == nullptr)
            return TAV_E_INVALID;
        opened->link.usb = &opened->simulated->Backend();
    } else {
        opened->link.usb = InstalledUsbBackend(); // OpenSelected chooses the library that finds it
    }
    opened->link.queued = parsed.queued;
    opened->link.printsReadFailure = false;
    std::lock_guard<LibraryMutex> lock(opened->link.mutex);
    const int result = OpenSelected(opened->link, parsed);
    // Nothing found where a USB library is missing or cannot reach a board:
    // that is why, for every front end to say.
    const char* usbProblem = result == TAV_E_NOT_FOUND && parsed.kind != Selector::Kind::Virtual
                                     && InstalledUsbBackend() == SystemUsbBackend()
                                 ? UsbLibraryProblem()
                                 : nullptr;
    if (usbProblem != nullptr)
        SetOpenProblem(usbProblem);
    if (result != RESULT_OK)
        return result;
    // A virtual board is its own state, until a replug powers it anew.
    if (opened->SimulatedModel() == nullptr || parsed.reattach != ReattachPolicy::Off)
        opened->commanded = std::make_unique<CommandedState>(ModelLetter(opened->link.boardType));
    opened->trace = RecordTrace::Start(ModelLetter(opened->link.boardType), opened->link.versionText,
                                       opened->SimulatedModel());
    ChooseObserver(*opened);
    opened->link.replyObserver = opened->trace != nullptr ? TraceReply : nullptr;
    opened->link.operationObserver = opened->trace != nullptr ? TraceOperationEnd : nullptr;
    opened->link.observerUser = opened.get();
    opened->modelLetter = ModelLetter(opened->link.boardType);
    opened->reattach = parsed.reattach;
    if (opened->reattach != ReattachPolicy::Off && opened->link.portPath[0] == '\0') {
        LogPrint(TAV_LOG_WARNING, "this board's USB library cannot tell its port: it is not found again after it "
                                  "leaves");
        opened->reattach = ReattachPolicy::Off;
    }
    if (opened->reattach != ReattachPolicy::Off) {
        try {
            std::lock_guard<std::mutex> healerLock(opened->healerMutex); // its first look takes it
            opened->healer = std::thread(HealerThread, opened.get());
            opened->healerId = opened->healer.get_id();
        } catch (...) { // no thread to be had: it opens, but does not heal
            opened->reattach = ReattachPolicy::Off;
        }
    }
    *board = opened.release();
    return TAV_OK;
}

void tav_close(tav_board* board)
{
    if (board == nullptr)
        return;
    Disconnect(board, true);
    FreeBoard(board);
}

void tav_release(tav_board* board)
{
    if (board == nullptr)
        return;
    Disconnect(board, false);
    FreeBoard(board);
}

int tav_disconnect(tav_board* board, int safe_state)
{
    if (board == nullptr)
        return TAV_E_INVALID;
    Disconnect(board, safe_state != 0);
    return TAV_OK;
}

int tav_queued(const tav_board* board)
{
    return OnBoard(const_cast<tav_board*>(board), [](BoardLink& link) {
        return link.queued && link.usb->bulkWriteQueue != nullptr ? 1 : 0;
    });
}

char tav_model(const tav_board* board)
{
    if (board == nullptr)
        return '?';
    return board->modelLetter; // set at open, and a board found again must be the same model
}

int tav_firmware(const tav_board* board, char* text, size_t size)
{
    if (text == nullptr || size == 0)
        return TAV_E_INVALID;
    // A board that is not open has no firmware to speak of (tav.h: every call
    // after tav_disconnect, or after the board left, returns TAV_NOT_OPEN).
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink& link) {
        return BoardOpen(link) ? CopyText(link.versionText, text, size) : TAV_NOT_OPEN;
    });
}

int tav_init(tav_board* board, uint32_t value)
{
    return OnBoardWithEffect(
        board, [=](BoardLink& link) { return InitTav(link, value); },
        [=](CommandedState& state, BoardLink& link, int result) {
            if (result == RESULT_OK)
                board_sequence::Init(state, link.boardType, value);
        });
}

int tav_safe(tav_board* board)
{
    return OnBoardWithEffect(
        board, [](BoardLink& link) { return DisableAll(link); },
        [](CommandedState& state, BoardLink& link, int result) {
            if (result == RESULT_OK)
                board_sequence::SafeState(state, link.boardType);
        });
}

int tav_send_record(tav_board* board, const uint8_t record[64])
{
    if (record == nullptr)
        return TAV_E_INVALID;
    _INSTRUCTION_INFO_ copy;
    std::memcpy(&copy, record, sizeof copy);
    return OnBoard(board, [&](BoardLink& link) {
        if (!BoardOpen(link))
            return static_cast<int>(RESULT_NOT_OPEN);
        return SubmitRecord(link, copy) ? static_cast<int>(RESULT_OK) : static_cast<int>(RESULT_IO_FAILED);
    });
}

int tav_set_record_callback(tav_board* board, tav_record_callback callback, void* user)
{
    return OnBoardCounted(board, [=](BoardLink&) {
        board->callback = callback;
        board->callbackUser = user;
        ChooseObserver(*board);
        return TAV_OK;
    });
}

} // extern "C"
