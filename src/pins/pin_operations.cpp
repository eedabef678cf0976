#include "pins/pin_operations.h"

#include "link/debug_print.h"
#include "link/transport.h"
#include "pins/pin_map.h"
#include "records/records.h"

namespace TAVDll {
namespace detail {

namespace {

_INSTRUCTION_INFO_ PinRecord(const PinEffect& effect, uint32_t gpio, uint32_t pin)
{
    if (!effect.level)
        return MakeGpioInit(gpio, pin, GPIO_SPEED_50MHZ, effect.mode);
    return effect.high ? MakeGpioSetBits(gpio, pin) : MakeGpioResetBits(gpio, pin);
}

// Where a single pin leads on the model; PIN_UNAVAILABLE where the model has
// no pin there.
int SinglePinTarget(BoardType model, uint32_t pin, McuPin* target)
{
    const uint32_t bank = pin & PIN_BANK_FIELD;
    const int column = PinMapColumn(model);
    const int bit = __builtin_ctz(pin & ~PIN_BANK_FIELD);
    const int bankPins = static_cast<int>(bank == PIN_BANK_4 ? BANK_4_PIN_COUNT : BANK_8_PIN_COUNT);
    if (column < 0 || bit >= bankPins)
        return RESULT_PIN_UNAVAILABLE;
    *target = PIN_MAP[(bank == PIN_BANK_4 ? 0 : static_cast<int>(BANK_4_PIN_COUNT)) + bit].byModel[column];
    return RESULT_OK;
}

// The board's own line when a pin to float has no mapping.
int SayUnavailable(int result, PinAction action)
{
    if (result == RESULT_PIN_UNAVAILABLE && action == PinAction::Floating)
        DebugPrint("add failed");
    return result;
}

} // namespace

int AppendPinRecords(InstructionBatch& batch, BoardType model, uint32_t pins, PinAction action, int value)
{
    // Every pin's record is this one aimed at the pin.
    const _INSTRUCTION_INFO_ pattern = PinRecord(PinActionEffect(action, value), 0, 0);
    const int walk = WalkPins(model, pins, [&](const McuPin& target) {
        if (batch.inCount == batch.capacity)
            return;
        _INSTRUCTION_INFO_& record = batch.records[batch.inCount++];
        record = pattern;
        AimGpioRecord(record, target.port, 1u << target.pin);
    });
    return SayUnavailable(walk, action);
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
        const int found = SinglePinTarget(link.boardType, pins, &target);
        if (found != RESULT_OK)
            return SayUnavailable(found, action);
        const _INSTRUCTION_INFO_ record = PinRecord(PinActionEffect(action, value), target.port, 1u << target.pin);
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
