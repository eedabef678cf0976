#include "link/library_state.h"
#include "link/transport.h"
#include "pins/pin_operations.h"
#include "records/records.h"

namespace TAVDll {

namespace {

constexpr uint32_t ALL_BANK_8_PINS = PIN_BANK_8 | 0x1FFFF;
constexpr uint32_t ALL_BANK_4_PINS = PIN_BANK_4 | 0xFFFF;
constexpr uint8_t REMAP_APPLY = 1;
constexpr uint8_t REMAP_UNDO = 0;

// Floats one bank as Pin_Floating does; true when a record failed. A model
// without a pin map sends nothing here, which is not a failure.
bool FloatBank(uint32_t pins)
{
    bool ioFailed = false;
    detail::RunPinLoop(pins, detail::PinAction::Floating, 0, &ioFailed);
    return ioFailed;
}

} // namespace

int TAVLib::InitTav(unsigned int startupValue)
{
    if (!detail::BoardOpen())
        return RESULT_IO_FAILED;
    // Free the debug-port pins first: several of them are ordinary board pins.
    bool ioFailed = !detail::SubmitRecord(detail::MakeGpioPinRemap(detail::GPIO_REMAP_SWJ_DISABLE, REMAP_APPLY));
    ioFailed |= DisableAll() == RESULT_IO_FAILED;
    ioFailed |= !detail::SubmitRecord(detail::MakeBoardInit(startupValue));
    return ioFailed ? RESULT_IO_FAILED : RESULT_OK;
}

int TAVLib::DisableAll()
{
    if (!detail::BoardOpen())
        return RESULT_NOT_OPEN;
    WaitStandby();
    bool ioFailed = DisablePWM() == RESULT_IO_FAILED;
    DisableADC();
    ioFailed |= FloatBank(ALL_BANK_8_PINS);
    ioFailed |= FloatBank(ALL_BANK_4_PINS);
    return ioFailed ? RESULT_IO_FAILED : RESULT_OK;
}

short TAVLib::Close()
{
    // Undo the remap before the pins float: the reverse of InitTav.
    detail::SubmitRecord(detail::MakeGpioPinRemap(detail::GPIO_REMAP_SWJ_DISABLE, REMAP_UNDO));
    DisableAll();
    WaitStandby();
    detail::ReleaseDevice();
    return RESULT_OK;
}

int TAVLib::WaitStandby()
{
    return RESULT_OK;
}

int TAVLib::EnableADC()
{
    return detail::BoardOpen() ? RESULT_OK : RESULT_NOT_OPEN;
}

int TAVLib::DisableADC()
{
    return detail::BoardOpen() ? RESULT_OK : RESULT_NOT_OPEN;
}

} // namespace TAVDll
