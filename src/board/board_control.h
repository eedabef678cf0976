#ifndef TAV_BOARD_BOARD_CONTROL_H
#define TAV_BOARD_BOARD_CONTROL_H

#include "link/board_link.h"
#include "pins/pin_operations.h"
#include "pwm/pwm_sequences.h"

namespace TAVDll::detail {

// Bring-up, safe state and shutdown on one board (its lock held).
int InitTav(BoardLink& link, uint32_t startupValue);
int DisableAll(BoardLink& link);
// Undoes the debug-port remap, sends the safe state and releases the board.
void CloseBoard(BoardLink& link);

// The sequences behind them, over a sink as the PWM sequences are; the sink
// also takes PinRemap, BoardStart and Pins (a pin walk).
namespace board_sequence {

constexpr uint32_t ALL_BANK_8_PINS = PIN_BANK_8 | 0x1FFFF;
constexpr uint32_t ALL_BANK_4_PINS = PIN_BANK_4 | 0xFFFF;
constexpr uint8_t REMAP_UNDO = 0;

// PWM off, then both banks floating (a model without a pin map floats no
// pins here, which is not a failure).
template <typename Sink>
void SafeState(Sink& sink, BoardType model)
{
    pwm_sequence::DisableAll(sink);
    sink.Pins(model, ALL_BANK_8_PINS, PinAction::Floating);
    sink.Pins(model, ALL_BANK_4_PINS, PinAction::Floating);
}

// The debug-port pins freed first (several of them are ordinary board pins),
// the safe state, then the board's start-up.
template <typename Sink>
void Init(Sink& sink, BoardType model, uint32_t startupValue)
{
    sink.PinRemap(GPIO_REMAP_SWJ_DISABLE, REMAP_APPLY);
    SafeState(sink, model);
    sink.BoardStart(startupValue);
}

// The remap undone before the pins float: the reverse of Init.
template <typename Sink>
void Close(Sink& sink, BoardType model)
{
    sink.PinRemap(GPIO_REMAP_SWJ_DISABLE, REMAP_UNDO);
    SafeState(sink, model);
}

} // namespace board_sequence

} // namespace TAVDll::detail

#endif
