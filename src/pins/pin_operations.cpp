#include "pins/pin_operations.h"

#include "link/debug_print.h"
#include "link/transport.h"
#include "pins/pin_map.h"
#include "records/records.h"

namespace TAVDll {
namespace detail {

namespace {

_INSTRUCTION_INFO_ PinRecord(PinAction action, int value, uint32_t gpio, uint32_t pin)
{
    switch (action) {
    case PinAction::DirOutput: return MakeGpioInit(gpio, pin, GPIO_SPEED_50MHZ, GPIO_MODE_OUT_PP);
    case PinAction::DirInput:
    case PinAction::Floating: return MakeGpioInit(gpio, pin, GPIO_SPEED_50MHZ, GPIO_MODE_IN_FLOATING);
    case PinAction::Set: return MakeGpioSetBits(gpio, pin);
    case PinAction::Reset: return MakeGpioResetBits(gpio, pin);
    case PinAction::Write: return value == 1 ? MakeGpioSetBits(gpio, pin) : MakeGpioResetBits(gpio, pin);
    case PinAction::InputPullUp: return MakeGpioInit(gpio, pin, GPIO_SPEED_50MHZ, GPIO_MODE_IPU);
    case PinAction::InputPullDown: return MakeGpioInit(gpio, pin, GPIO_SPEED_50MHZ, GPIO_MODE_IPD);
    case PinAction::OutputOpenDrain: return MakeGpioInit(gpio, pin, GPIO_SPEED_50MHZ, GPIO_MODE_OUT_OD);
    }
    return MakeGpioResetBits(gpio, pin);
}

} // namespace

namespace {

// Where a single pin leads on the model; PIN_UNAVAILABLE where the model has
// no pin there.
int SinglePinTarget(BoardType model, uint32_t pin, PinAction action, McuPin* target)
{
    const uint32_t bank = pin & PIN_BANK_FIELD;
    const int column = PinMapColumn(model);
    const int bit = __builtin_ctz(pin & ~PIN_BANK_FIELD);
    const int bankPins = static_cast<int>(bank == PIN_BANK_4 ? BANK_4_PIN_COUNT : BANK_8_PIN_COUNT);
    if (column < 0 || bit >= bankPins) {
        if (action == PinAction::Floating)
            DebugPrint("add failed");
        return RESULT_PIN_UNAVAILABLE;
    }
    *target = PIN_MAP[(bank == PIN_BANK_4 ? 0 : static_cast<int>(BANK_4_PIN_COUNT)) + bit].byModel[column];
    return RESULT_OK;
}

} // namespace

int AppendPinRecords(InstructionBatch& batch, BoardType model, uint32_t pins, PinAction action, int value)
{
    if (!KnownPinBank(pins))
        return RESULT_BAD_PIN;
    const uint32_t bank = pins & PIN_BANK_FIELD;
    const int column = PinMapColumn(model);
    const int firstRow = bank == PIN_BANK_4 ? 0 : static_cast<int>(BANK_4_PIN_COUNT);
    const int bankPins = static_cast<int>(bank == PIN_BANK_4 ? BANK_4_PIN_COUNT : BANK_8_PIN_COUNT);
    // Every pin's record is this one aimed at the pin.
    const _INSTRUCTION_INFO_ pattern = PinRecord(action, value, 0, 0);
    // Only the set bits, lowest first; the bit is the pin's row in its bank.
    for (uint32_t remaining = pins & ~PIN_BANK_FIELD; remaining != 0; remaining &= remaining - 1) {
        const int bit = __builtin_ctz(remaining);
        if (column < 0 || bit >= bankPins) {
            if (action == PinAction::Floating)
                DebugPrint("add failed");
            return RESULT_PIN_UNAVAILABLE;
        }
        if (batch.inCount == batch.capacity)
            break;
        const McuPin& target = PIN_MAP[firstRow + bit].byModel[column];
        _INSTRUCTION_INFO_& record = batch.records[batch.inCount++];
        record = pattern;
        AimGpioRecord(record, target.port, 1u << target.pin);
    }
    return RESULT_OK;
}

int PinOperation(BoardLink& link, uint32_t pins, PinAction action, int value)
{
    if (!KnownPinBank(pins))
        return RESULT_BAD_PIN;
    if (!BoardOpen(link))
        return RESULT_NOT_OPEN;
    const uint32_t bits = pins & ~PIN_BANK_FIELD;
    if (bits != 0 && (bits & (bits - 1)) == 0) {
        // One pin, the common case: its record built in place and sent.
        McuPin target;
        const int found = SinglePinTarget(link.boardType, pins, action, &target);
        if (found != RESULT_OK)
            return found;
        const _INSTRUCTION_INFO_ record = PinRecord(action, value, target.port, 1u << target.pin);
        return SubmitRecord(link, record) ? RESULT_OK : RESULT_IO_FAILED;
    }
    InstructionBatch batch;
    const int walk = AppendPinRecords(batch, link.boardType, pins, action, value);
    const bool ioFailed = SubmitBatch(link, batch) != RESULT_OK;
    // A time-out or a board that is gone ends the walk at its failed record.
    if (ioFailed && (link.stopSending || !BoardOpen(link)))
        return RESULT_IO_FAILED;
    if (walk != RESULT_OK)
        return walk;
    return ioFailed ? RESULT_IO_FAILED : RESULT_OK;
}

} // namespace detail

} // namespace TAVDll
