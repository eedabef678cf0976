#ifndef TAV_PINS_PIN_OPERATIONS_H
#define TAV_PINS_PIN_OPERATIONS_H

#include <stdint.h>

#include "link/board_link.h"
#include "link/record_batch.h"
#include "link/transport.h"
#include "records/records.h"
#include "pin_map_table.h"

namespace TAVDll::detail {

// The first six are the board's original operations; the others send the
// same GPIO_Init record with the vendor's other mode codes.
enum class PinAction { DirOutput, DirInput, Floating, Set, Reset, Write, InputPullUp, InputPullDown, OutputOpenDrain };

// What an action does to each of its pins: a level (GPIO_SetBits or
// GPIO_ResetBits), or a mode (GPIO_Init at 50 MHz).
struct PinEffect {
    bool level;
    bool high;    // for a level
    uint8_t mode; // for a mode
};

constexpr PinEffect PinActionEffect(PinAction action, int value)
{
    switch (action) {
    case PinAction::DirOutput: return {false, false, GPIO_MODE_OUT_PP};
    case PinAction::DirInput:
    case PinAction::Floating: return {false, false, GPIO_MODE_IN_FLOATING};
    case PinAction::Set: return {true, true, 0};
    case PinAction::Reset: return {true, false, 0};
    case PinAction::Write: return {true, value == 1, 0};
    case PinAction::InputPullUp: return {false, false, GPIO_MODE_IPU};
    case PinAction::InputPullDown: return {false, false, GPIO_MODE_IPD};
    case PinAction::OutputOpenDrain: return {false, false, GPIO_MODE_OUT_OD};
    }
    return {true, false, 0};
}

// The pin walk behind every pin operation: visit(McuPin) for each named pin
// in ascending bit order. RESULT_OK, RESULT_BAD_PIN (nothing visited), or
// RESULT_PIN_UNAVAILABLE at the first pin the model has no mapping for (the
// pins before it are visited).
template <typename Visit>
int WalkPins(BoardType model, uint32_t pins, Visit visit)
{
    if (!KnownPinBank(pins))
        return RESULT_BAD_PIN;
    const uint32_t bits = pins & ~PIN_BANK_FIELD;
    const int column = PinMapColumn(model);
    if (column < 0)
        return bits == 0 ? RESULT_OK : RESULT_PIN_UNAVAILABLE;
    const bool bank4 = (pins & PIN_BANK_FIELD) == PIN_BANK_4;
    const PinMapRow* bankRows = &PIN_MAP[bank4 ? 0 : BANK_4_PIN_COUNT];
    const uint32_t bankMask = (1u << (bank4 ? BANK_4_PIN_COUNT : BANK_8_PIN_COUNT)) - 1;
    // Only the set bits, lowest first; the bit is the pin's row in its bank.
    // Bits above the bank's last pin come after all of its pins.
    for (uint32_t remaining = bits & bankMask; remaining != 0; remaining &= remaining - 1)
        visit(bankRows[__builtin_ctz(remaining)].byModel[column]);
    return (bits & ~bankMask) == 0 ? RESULT_OK : RESULT_PIN_UNAVAILABLE;
}

// The walk's records appended to the batch, one per pin; the walk's result.
int AppendPinRecords(InstructionBatch& batch, BoardType model, uint32_t pins, PinAction action, int value);

// A pin operation on several pins (or none): the walk's records sent back
// to back.
int PinWalkOperation(BoardLink& link, uint32_t pins, PinAction action, int value);
// The result of a pin the model has no mapping for (floating one says so).
int PinUnavailable(PinAction action);

inline _INSTRUCTION_INFO_ PinRecord(const PinEffect& effect, uint32_t gpio, uint32_t pin)
{
    if (!effect.level)
        return MakeGpioInit(gpio, pin, GPIO_SPEED_50MHZ, effect.mode);
    return effect.high ? MakeGpioSetBits(gpio, pin) : MakeGpioResetBits(gpio, pin);
}

// Whether pins names exactly one pin of its bank.
inline bool OnePin(uint32_t pins)
{
    const uint32_t bits = pins & ~PIN_BANK_FIELD;
    return bits != 0 && (bits & (bits - 1)) == 0;
}

// Where a single pin leads on the model; false where the model has no pin
// there.
inline bool SinglePinTarget(BoardType model, uint32_t pin, McuPin* target)
{
    const uint32_t bank = pin & PIN_BANK_FIELD;
    const int column = PinMapColumn(model);
    const int bit = __builtin_ctz(pin & ~PIN_BANK_FIELD);
    const int bankPins = static_cast<int>(bank == PIN_BANK_4 ? BANK_4_PIN_COUNT : BANK_8_PIN_COUNT);
    if (column < 0 || bit >= bankPins)
        return false;
    *target = PIN_MAP[(bank == PIN_BANK_4 ? 0 : static_cast<int>(BANK_4_PIN_COUNT)) + bit].byModel[column];
    return true;
}

// A pin operation's result. The action is a template argument, so that
// each action's one-pin path (the common case) builds its record without
// asking which action it is. Where one pin's record is sent, its
// microcontroller pin goes to *onePin (with tellPin, a separate instance),
// so that a caller keeping the board's state need not look it up again.
template <PinAction action, bool tellPin = false>
int PinOperation(BoardLink& link, uint32_t pins, int value = 0, McuPin* onePin = nullptr)
{
    if (!KnownPinBank(pins))
        return RESULT_BAD_PIN;
    if (!BoardOpen(link))
        return RESULT_NOT_OPEN;
    if (!OnePin(pins))
        return PinWalkOperation(link, pins, action, value);
    McuPin target;
    if (!SinglePinTarget(link.boardType, pins, &target))
        return PinUnavailable(action);
    if constexpr (tellPin)
        *onePin = target;
    return SubmitRecord(link, PinRecord(PinActionEffect(action, value), target.port, target.Mask())) ? RESULT_OK
                                                                                                    : RESULT_IO_FAILED;
}

} // namespace TAVDll::detail

#endif
