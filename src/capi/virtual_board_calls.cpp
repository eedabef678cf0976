// The C interface's virtual-board calls (tav_sim_*): what the board shows,
// unplugging and plugging it, faults on its next transfers, virtual time, and
// each pin's edges as the board's history has them.
#include <cstdint>
#include <mutex>
#include <vector>

#include "capi/board_object.h"
#include "capi/call_support.h"
#include "capi/healing.h"
#include "model/board_model.h"
#include "model/board_view.h"
#include "pins/pin_names.h"

using namespace TAVDll;
using namespace TAVDll::detail;

namespace {

// A virtual board's call: TAV_E_INVALID for NULL, TAV_E_NOT_VIRTUAL for a
// real board. Not an operation on the link: unplugging needs no lock of the
// board's, and must not wait behind a call that waits for a transfer.
template <typename Action>
int OnSimulated(const tav_board* board, Action action)
{
    if (board == nullptr)
        return TAV_E_INVALID;
    if (board->simulated == nullptr)
        return TAV_E_NOT_VIRTUAL;
    return action(*board->simulated);
}

// A pin's level on the wire in a state of the board's history.
struct PinLevel {
    int level;
    double frequencyHz;
    uint32_t dutyCounts;
    uint32_t periodCounts;
    bool operator!=(const PinLevel& other) const
    {
        return level != other.level || frequencyHz != other.frequencyHz || dutyCounts != other.dutyCounts
               || periodCounts != other.periodCounts;
    }
};

PinLevel LevelOf(const tavmodel::PinStatus& status)
{
    switch (status.function) {
    case tavmodel::PinFunction::OutputHigh: return {1, 0, 0, 0};
    case tavmodel::PinFunction::OutputLow: return {0, 0, 0, 0};
    case tavmodel::PinFunction::Pwm:
        if (status.dutyCounts == 0)
            return {0, 0, 0, 0};
        if (status.dutyCounts >= status.periodCounts)
            return {1, 0, 0, 0};
        return {TAV_SIM_PWM, status.frequencyHz, status.dutyCounts, status.periodCounts};
    default: return {TAV_SIM_NOT_DRIVEN, 0, 0, 0};
    }
}

} // namespace

extern "C" {

int tav_sim_status(const tav_board* board, char* text, size_t size)
{
    if (text == nullptr || size == 0)
        return TAV_E_INVALID;
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink&) {
        if (board->SimulatedModel() == nullptr)
            return TAV_E_NOT_VIRTUAL;
        return CopyText(tavmodel::BoardView(*board->SimulatedModel()).Render().c_str(), text, size);
    });
}

int tav_sim_set_virtual_time(tav_board* board, int enabled)
{
    return OnBoard(board, [&](BoardLink&) {
        if (board->SimulatedModel() == nullptr)
            return TAV_E_NOT_VIRTUAL;
        board->SimulatedModel()->UseVirtualTime(enabled != 0);
        return TAV_OK;
    });
}

int tav_sim_advance(tav_board* board, uint64_t nanoseconds)
{
    return OnBoard(board, [&](BoardLink&) {
        if (board->SimulatedModel() == nullptr)
            return TAV_E_NOT_VIRTUAL;
        board->SimulatedModel()->Advance(nanoseconds);
        return TAV_OK;
    });
}

int tav_sim_unplug(tav_board* board)
{
    return OnSimulated(board, [board](SimulatedBoard& simulated) {
        simulated.Unplug();
        if (board->reattach != ReattachPolicy::Off) {
            // The object knows at once (tav_connected says 0 when this
            // returns); its thread tells the callback and waits for the plug.
            {
                std::lock_guard<LibraryMutex> lock(board->link.mutex);
                ReleaseDevice(board->link);
            }
            HealerLookNow(board);
        }
        return TAV_OK;
    });
}

int tav_sim_plug(tav_board* board)
{
    return OnSimulated(board, [board](SimulatedBoard& simulated) {
        simulated.Plug();
        if (board->reattach != ReattachPolicy::Off)
            HealerLookNow(board);
        return TAV_OK;
    });
}

int tav_sim_fail(tav_board* board, int kind, unsigned after_records)
{
    constexpr SimulatedFault FAULTS[] = {SimulatedFault::Timeout, SimulatedFault::Stall, SimulatedFault::ShortWrite,
                                         SimulatedFault::Unplug};
    static_assert(TAV_SIM_TIMEOUT == 1 && TAV_SIM_UNPLUG == 4, "tav_sim_fail's kinds index FAULTS from 1");
    if (kind < TAV_SIM_TIMEOUT || kind > TAV_SIM_UNPLUG || after_records < 1 || after_records > 0x7FFFFFFFu)
        return board == nullptr ? TAV_E_INVALID : board->simulated == nullptr ? TAV_E_NOT_VIRTUAL : TAV_E_INVALID;
    return OnSimulated(board, [&](SimulatedBoard& simulated) {
        simulated.Fail(FAULTS[kind - 1], static_cast<int>(after_records));
        return TAV_OK;
    });
}

int tav_sim_edges(const tav_board* board, uint32_t pin, tav_sim_edge* edges, size_t capacity)
{
    if (board == nullptr || (edges == nullptr && capacity > 0))
        return TAV_E_INVALID;
    if (board->simulated == nullptr)
        return TAV_E_NOT_VIRTUAL;
    if (PinMapRowIndex(pin) < 0)
        return TAV_BAD_PIN;
    // Under the board's lock: the model changes as records arrive.
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink&) {
        const tavmodel::BoardModel& model = board->simulated->Model();
        const std::vector<tavmodel::StateAt>& history = model.History();
        PinLevel before = LevelOf(tavmodel::BoardView(model, history.front().state).Pin(pin));
        size_t count = 0;
        for (size_t index = 1; index < history.size(); ++index) {
            const PinLevel now = LevelOf(tavmodel::BoardView(model, history[index].state).Pin(pin));
            if (!(now != before))
                continue;
            if (count < capacity)
                edges[count] = tav_sim_edge{history[index].timeNs, now.level};
            ++count;
            before = now;
        }
        return static_cast<int>(count);
    });
}

} // extern "C"
