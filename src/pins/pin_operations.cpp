#include "pins/pin_operations.h"

#include "link/debug_print.h"
#include "link/transport.h"
#include "pins/pin_map.h"
#include "records/records.h"

namespace TAVDll {
namespace detail {

int PinUnavailable(PinAction action)
{
    if (action == PinAction::Floating)
        DebugPrint("add failed");
    return RESULT_PIN_UNAVAILABLE;
}

int AppendPinRecords(InstructionBatch& batch, BoardType model, uint32_t pins, PinAction action, int value)
{
    // Every pin's record is this one aimed at the pin.
    const _INSTRUCTION_INFO_ pattern = PinRecord(PinActionEffect(action, value), 0, 0);
    // The count kept in a register while the records' bytes are written.
    int count = batch.inCount;
    const int walk = WalkPins(model, pins, [&](const McuPin& target) {
        if (count == batch.capacity)
            return;
        _INSTRUCTION_INFO_& record = batch.records[count++];
        record = pattern;
        AimGpioRecord(record, target.port, 1u << target.pin);
    });
    batch.inCount = count;
    return walk == RESULT_PIN_UNAVAILABLE ? PinUnavailable(action) : walk;
}

int PinWalkOperation(BoardLink& link, uint32_t pins, PinAction action, int value)
{
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
