#include "board/board_control.h"

#include "link/transport.h"
#include "pins/pin_operations.h"
#include "pwm/pwm_sequences.h"
#include "records/records.h"

namespace TAVDll {
namespace detail {

namespace {

constexpr uint32_t ALL_BANK_8_PINS = PIN_BANK_8 | 0x1FFFF;
constexpr uint32_t ALL_BANK_4_PINS = PIN_BANK_4 | 0xFFFF;
constexpr uint8_t REMAP_UNDO = 0;

// The safe state: PWM off, then both banks floating (a model without a pin
// map floats no pins here, which is not a failure).
void AppendSafeState(InstructionBatch& batch, BoardType model)
{
    AppendDisablePWM(batch);
    AppendPinRecords(batch, model, ALL_BANK_8_PINS, PinAction::Floating, 0);
    AppendPinRecords(batch, model, ALL_BANK_4_PINS, PinAction::Floating, 0);
}

} // namespace

int InitTav(BoardLink& link, uint32_t startupValue)
{
    if (!BoardOpen(link))
        return RESULT_IO_FAILED;
    InstructionBatch batch;
    // Free the debug-port pins first: several of them are ordinary board pins.
    Append(batch, MakeGpioPinRemap(GPIO_REMAP_SWJ_DISABLE, REMAP_APPLY));
    AppendSafeState(batch, link.boardType);
    Append(batch, MakeBoardInit(startupValue));
    return SubmitBatch(link, batch);
}

int DisableAll(BoardLink& link)
{
    if (!BoardOpen(link))
        return RESULT_NOT_OPEN;
    InstructionBatch batch;
    AppendSafeState(batch, link.boardType);
    return SubmitBatch(link, batch);
}

void CloseBoard(BoardLink& link)
{
    if (BoardOpen(link)) {
        InstructionBatch batch;
        // Undo the remap before the pins float: the reverse of InitTav.
        Append(batch, MakeGpioPinRemap(GPIO_REMAP_SWJ_DISABLE, REMAP_UNDO));
        AppendSafeState(batch, link.boardType);
        SubmitBatch(link, batch);
    }
    ReleaseDevice(link);
}

} // namespace detail

} // namespace TAVDll
