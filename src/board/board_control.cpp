#include "board/board_control.h"

#include "link/transport.h"
#include "pins/pin_operations.h"
#include "pwm/pwm_operations.h"
#include "records/records.h"

namespace TAVDll {
namespace detail {

namespace {

constexpr uint32_t ALL_BANK_8_PINS = PIN_BANK_8 | 0x1FFFF;
constexpr uint32_t ALL_BANK_4_PINS = PIN_BANK_4 | 0xFFFF;
constexpr uint8_t REMAP_APPLY = 1;
constexpr uint8_t REMAP_UNDO = 0;

// Floats one bank as Pin_Floating does; true when a record failed. A model
// without a pin map sends nothing here, which is not a failure.
bool FloatBank(BoardLink& link, uint32_t pins)
{
    bool ioFailed = false;
    RunPinLoop(link, pins, PinAction::Floating, 0, &ioFailed);
    return ioFailed;
}

} // namespace

int InitTav(BoardLink& link, uint32_t startupValue)
{
    if (!BoardOpen(link))
        return RESULT_IO_FAILED;
    // Free the debug-port pins first: several of them are ordinary board pins.
    bool ioFailed = !SubmitRecord(link, MakeGpioPinRemap(GPIO_REMAP_SWJ_DISABLE, REMAP_APPLY));
    ioFailed |= DisableAll(link) == RESULT_IO_FAILED;
    ioFailed |= !SubmitRecord(link, MakeBoardInit(startupValue));
    return ioFailed ? RESULT_IO_FAILED : RESULT_OK;
}

int DisableAll(BoardLink& link)
{
    if (!BoardOpen(link))
        return RESULT_NOT_OPEN;
    bool ioFailed = DisablePwm(link) == RESULT_IO_FAILED;
    ioFailed |= FloatBank(link, ALL_BANK_8_PINS);
    ioFailed |= FloatBank(link, ALL_BANK_4_PINS);
    return ioFailed ? RESULT_IO_FAILED : RESULT_OK;
}

void CloseBoard(BoardLink& link)
{
    // Undo the remap before the pins float: the reverse of InitTav.
    if (BoardOpen(link)) {
        SubmitRecord(link, MakeGpioPinRemap(GPIO_REMAP_SWJ_DISABLE, REMAP_UNDO));
        DisableAll(link);
    }
    ReleaseDevice(link);
}

} // namespace detail

} // namespace TAVDll
