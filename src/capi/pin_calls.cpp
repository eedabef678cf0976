// The C interface's pin calls: modes (output, input, floating, pull-up and
// pull-down, open drain), levels, and one pin's state.
#include <cstdio>

#include "capi/board_object.h"
#include "model/board_view.h"
#include "pins/pin_names.h"
#include "pins/pin_operations.h"

using namespace TAVDll;
using namespace TAVDll::detail;

namespace {

template <PinAction action>
int PinCall(tav_board* board, uint32_t pins, int value = 0)
{
    McuPin onePin{PORT_COUNT, 0}; // where one pin's record went
    return OnBoardWithEffect(
        board, [&](BoardLink& link) { return PinOperation<action, true>(link, pins, value, &onePin); },
        [&](CommandedState& state, BoardLink& link, int result) {
            if (result == RESULT_OK && onePin.port < PORT_COUNT)
                state.PortPins(onePin.port, onePin.Mask(), PinActionEffect(action, value));
            // The pins before one the model does not have went out too.
            else if (result == RESULT_OK || result == RESULT_PIN_UNAVAILABLE)
                state.Pins(link.boardType, pins, PinActionEffect(action, value));
        });
}

} // namespace

extern "C" {

int tav_pin_output(tav_board* board, uint32_t pins)
{
    return PinCall<PinAction::DirOutput>(board, pins);
}

int tav_pin_input(tav_board* board, uint32_t pins)
{
    return PinCall<PinAction::DirInput>(board, pins);
}

int tav_pin_float(tav_board* board, uint32_t pins)
{
    return PinCall<PinAction::Floating>(board, pins);
}

int tav_pin_set(tav_board* board, uint32_t pins)
{
    return PinCall<PinAction::Set>(board, pins);
}

int tav_pin_reset(tav_board* board, uint32_t pins)
{
    return PinCall<PinAction::Reset>(board, pins);
}

int tav_pin_write(tav_board* board, uint32_t pins, int value)
{
    return PinCall<PinAction::Write>(board, pins, value);
}

int tav_pin_input_pull(tav_board* board, uint32_t pins, int pull)
{
    if (pull != TAV_PULL_UP && pull != TAV_PULL_DOWN)
        return TAV_E_INVALID;
    return pull == TAV_PULL_UP ? PinCall<PinAction::InputPullUp>(board, pins)
                               : PinCall<PinAction::InputPullDown>(board, pins);
}

int tav_pin_output_open_drain(tav_board* board, uint32_t pins)
{
    return PinCall<PinAction::OutputOpenDrain>(board, pins);
}

int tav_pin_state_get(const tav_board* board, uint32_t pin, tav_pin_state* state)
{
    if (board == nullptr || state == nullptr)
        return TAV_E_INVALID;
    const int row = PinMapRowIndex(pin);
    if (row < 0)
        return TAV_BAD_PIN;
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink& link) {
        const tavmodel::PinStatus status = tavmodel::BoardView(board->Model()).Pin(pin);
        const int column = PinMapColumn(link.boardType);
        const int port = column < 0 ? -1 : PIN_MAP[row].byModel[column].port;
        const int mcuPin = column < 0 ? -1 : PIN_MAP[row].byModel[column].pin;
        *state = tav_pin_state{};
        state->known = board->SimulatedModel() != nullptr || board->commanded->Known(status, port, mcuPin) ? 1 : 0;
        state->function = static_cast<int>(status.function);
        std::snprintf(state->name, sizeof state->name, "%s", BoardPinName(pin).c_str());
        std::snprintf(state->mcu_pin, sizeof state->mcu_pin, "%s", port < 0 ? "-" : McuPinName(port, mcuPin).c_str());
        state->timer = status.function == tavmodel::PinFunction::Pwm ? status.timer : 0;
        state->channel = status.function == tavmodel::PinFunction::Pwm ? status.channel : 0;
        state->frequency_hz = status.frequencyHz;
        state->duty_counts = status.dutyCounts;
        state->period_counts = status.periodCounts;
        state->duty_percent = status.dutyPercent;
        std::snprintf(state->description, sizeof state->description, "%s", status.Describe().c_str());
        return TAV_OK;
    });
}

} // extern "C"
