#include "pins/pin_operations.h"

#include "link/debug_print.h"
#include "link/library_state.h"
#include "link/transport.h"
#include "pins/pin_map.h"
#include "records/records.h"

namespace TAVDll {
namespace detail {

namespace {

constexpr int PIN_BIT_COUNT = 28;

_INSTRUCTION_INFO_ PinRecord(PinAction action, int value, uint32_t gpio, uint32_t pin)
{
    switch (action) {
    case PinAction::DirOutput: return MakeGpioInit(gpio, pin, GPIO_SPEED_50MHZ, GPIO_MODE_OUT_PP);
    case PinAction::DirInput:
    case PinAction::Floating: return MakeGpioInit(gpio, pin, GPIO_SPEED_50MHZ, GPIO_MODE_IN_FLOATING);
    case PinAction::Set: return MakeGpioSetBits(gpio, pin);
    case PinAction::Reset: return MakeGpioResetBits(gpio, pin);
    case PinAction::Write: return value == 1 ? MakeGpioSetBits(gpio, pin) : MakeGpioResetBits(gpio, pin);
    }
    return MakeGpioResetBits(gpio, pin);
}

} // namespace

int RunPinLoop(uint32_t pins, PinAction action, int value, bool* ioFailed)
{
    *ioFailed = false;
    if (!TAVLib::VerifyPORT(pins))
        return RESULT_BAD_PIN;
    if (!BoardOpen())
        return RESULT_NOT_OPEN;
    for (int bit = 0; bit < PIN_BIT_COUNT; ++bit) {
        const uint32_t singlePin = (pins & PIN_BANK_FIELD) | (1u << bit);
        if ((pins & singlePin) != singlePin)
            continue;
        uint32_t gpio = 0;
        uint32_t pin = 0;
        if (!MapPin(singlePin, libraryState.boardType, &gpio, &pin)) {
            if (action == PinAction::Floating)
                DebugPrint("add failed");
            return RESULT_PIN_UNAVAILABLE;
        }
        if (!SubmitRecord(PinRecord(action, value, gpio, pin)))
            *ioFailed = true;
    }
    return *ioFailed ? RESULT_IO_FAILED : RESULT_OK;
}

} // namespace detail

using namespace detail;

namespace {

int PinOperation(uint32_t pins, PinAction action, int value = 0)
{
    bool ioFailed = false;
    return RunPinLoop(pins, action, value, &ioFailed);
}

} // namespace

int TAVLib::Pin_DirOutput(unsigned int pins)
{
    return PinOperation(pins, PinAction::DirOutput);
}

int TAVLib::Pin_DirInput(unsigned int pins)
{
    return PinOperation(pins, PinAction::DirInput);
}

int TAVLib::Pin_Floating(unsigned int pins)
{
    return PinOperation(pins, PinAction::Floating);
}

int TAVLib::Pin_Set(unsigned int pins)
{
    return PinOperation(pins, PinAction::Set);
}

int TAVLib::Pin_Reset(unsigned int pins)
{
    return PinOperation(pins, PinAction::Reset);
}

int TAVLib::Pin_Write(unsigned int pins, int value)
{
    return PinOperation(pins, PinAction::Write, value);
}

} // namespace TAVDll
