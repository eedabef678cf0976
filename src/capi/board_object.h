// The C interface's board object: one board link, plus the virtual bus and
// board model behind it when a "sim:" selector opened it, its commanded
// state, and for "reattach:" boards the thread that heals it. Shared by the
// files of src/capi/ that define the tav_ functions.
#ifndef TAV_CAPI_BOARD_OBJECT_H
#define TAV_CAPI_BOARD_OBJECT_H

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "capi/commanded_state.h"
#include "link/board_link.h"
#include "link/selector.h"
#include "pwm_tables.h"
#include "tav/tav.h"
#include "trace/record_trace.h"
#include "capi/simulated_board.h"

using TAVDll::SimulatedBoard;
using TAVDll::detail::BoardLink;
using TAVDll::detail::CommandedState;
using TAVDll::detail::ReattachPolicy;
using TAVDll::detail::RecordTrace;

struct tav_board {
    BoardLink link;
    // "sim:" boards: the virtual bus and the board model on it.
    std::unique_ptr<SimulatedBoard> simulated;
    // Real boards, and virtual boards that reattach: what this object told
    // the board.
    std::unique_ptr<CommandedState> commanded;
    // How the board's records are watched. ByEffect where only the commanded
    // state watches them (a real board, no record callback, no trace): the
    // library's own operations update it from their own arguments, and the
    // link has no observer but while records the state must decode go out
    // (EveryRecordWatched). CaughtUp from a record of a running operation
    // that did not go out whole to the operation's end: the commanded state
    // took the records before it and watches the rest.
    enum class Watch : uint8_t { EveryRecord, ByEffect, CaughtUp };
    Watch watch = Watch::EveryRecord;
    tav_record_callback callback = nullptr;
    void* callbackUser = nullptr;
    // TAV_TRACE's trace of this board, when it is set.
    std::unique_ptr<RecordTrace> trace;
    // Calls inside this object right now: closing waits for them. Once
    // closing is set, calls no longer count as users, so that callers that
    // keep calling cannot hold a close off.
    std::atomic<int> users{0};
    std::atomic<bool> closing{false};
    // "reattach:" boards: a thread of their own finds the board again on its
    // port (with the model it had) and applies the policy.
    ReattachPolicy reattach = ReattachPolicy::Off;
    char modelLetter = 0;
    std::atomic<bool> connected{true};
    // A board of another model on the port, at this address: left alone
    // until it leaves.
    bool strangerSeen = false;
    unsigned long strangerBus = 0;
    unsigned long strangerDevice = 0;
    std::thread healer;
    std::thread::id healerId;
    std::mutex healerMutex; // guards the members below
    std::condition_variable healerWake;
    bool healerStop = false;
    bool healerLookNow = false; // a virtual board was unplugged or plugged: look at once
    bool healerEnded = false;   // past its last use of the object
    bool freeWhenHealerEnds = false; // closed where the healer could not be waited for
    tav_connection_callback connectionCallback = nullptr;
    void* connectionUser = nullptr;
    bool connectionCallbackRunning = false;
    std::condition_variable connectionCallbackDone;

    // The model of a "sim:" board; null for a real one.
    tavmodel::BoardModel* SimulatedModel() const { return simulated != nullptr ? &simulated->Model() : nullptr; }
    const tavmodel::BoardModel& Model() const
    {
        return simulated != nullptr ? simulated->Model() : commanded->Model();
    }
};

namespace TAVDll::detail {

// One call on a board object, counted among its users: its link's lock held
// throughout; TAV_E_INVALID for NULL.
template <typename Operation>
inline int OnBoardCounted(tav_board* board, Operation operation)
{
    if (board == nullptr)
        return TAV_E_INVALID;
    // Sequentially consistent, as Disconnect's store and load: either this
    // call sees closing, or Disconnect sees this call among the users. A
    // call after the disconnect finds the board closed (a view of it still
    // works) and is not waited for: tav_close's caller has no such call.
    board->users.fetch_add(1);
    const int counted = board->closing.load() ? 0 : 1;
    if (counted == 0)
        board->users.fetch_sub(1);
    const int result = RunOperation(board->link, operation);
    board->users.fetch_sub(counted); // no branch on the way out
    return result;
}

// The observer of a board object's records: its commanded state, then the
// application's record callback; ObserveCommanded while a board that goes
// by effect has its records watched.
void ObserveRecord(void* user, const uint8_t* bytes, int length, int result);
void ObserveCommanded(void* user, const uint8_t* bytes, int length, int result);
// The shortfall hook of a board that goes by effect: the commanded state
// takes the records that went out whole, then watches the rest of the
// operation one by one.
void CatchUpCommanded(void* user, const _INSTRUCTION_INFO_* wholeRecords, int wholeCount);
// Who watches the board's records, by what it has (a commanded state, a
// record callback, a trace); under the link's lock.
void ChooseObserver(tav_board& board);

// While it lives (under the link's lock), a board that goes by effect has
// every record it sends watched by its commanded state: records of the
// program's own, and those sent outside an operation of the library's own
// (a close, a heal).
class EveryRecordWatched {
public:
    explicit EveryRecordWatched(tav_board& board) : board_(board)
    {
        if (board_.watch == tav_board::Watch::ByEffect) {
            board_.link.observer = ObserveCommanded;
            board_.link.shortfall = nullptr;
        }
    }
    ~EveryRecordWatched()
    {
        if (board_.watch == tav_board::Watch::ByEffect) {
            board_.link.observer = nullptr;
            board_.link.shortfall = CatchUpCommanded;
        }
    }
    EveryRecordWatched(const EveryRecordWatched&) = delete;
    EveryRecordWatched& operator=(const EveryRecordWatched&) = delete;

private:
    tav_board& board_;
};

// A call on a board object whose records are watched one by one.
template <typename Operation>
inline int OnBoard(tav_board* board, Operation operation)
{
    return OnBoardCounted(board, [&](BoardLink& link) {
        EveryRecordWatched watched(*board);
        return operation(link);
    });
}

// One of the library's own operations on a board object. On a board that
// goes by effect none of its records is watched: when every record went
// out whole, effect(state, link, result) applies the operation from its own
// arguments, as its records would; at a record that did not, the commanded
// state catches up and watches the rest, and the effect is not applied.
// Elsewhere its records are watched one by one.
template <typename Operation, typename Effect>
inline int OnBoardWithEffect(tav_board* board, Operation operation, Effect effect)
{
    return OnBoardCounted(board, [&](BoardLink& link) {
        const int result = operation(link);
        if (board->watch == tav_board::Watch::ByEffect)
            effect(*board->commanded, link, result);
        else if (board->watch == tav_board::Watch::CaughtUp)
            ChooseObserver(*board); // by effect again
        return result;
    });
}

// The number of channels of group timerIndex: 3 for A, 4 for B and C.
inline unsigned ChannelCount(int timerIndex)
{
    return PWM_GROUPS[timerIndex].channelCount;
}

} // namespace TAVDll::detail

#endif
