// The C interface's board facts: models, pin names, PWM groups, channels and
// dividers, the constants by name, a record in words. No board is needed.
#include <cstdio>
#include <cstring>
#include <string>

#include "TAVLib.h"
#include "board_facts.h"
#include "capi/board_object.h"
#include "capi/call_support.h"
#include "model/board_view.h"
#include "model/record_decoder.h"
#include "pins/pin_names.h"
#include "pwm/pwm_arguments.h"
#include "pwm/pwm_frequency.h"
#include "pwm_tables.h"
#include "tav/tav.h"

using namespace TAVDll;
using namespace TAVDll::detail;

namespace {

// The C interface's codes and constants are the library's own.
static_assert(TAV_OK == RESULT_OK && TAV_NOT_OPEN == RESULT_NOT_OPEN && TAV_IO_FAILED == RESULT_IO_FAILED
                  && TAV_BAD_PIN == RESULT_BAD_PIN && TAV_PIN_UNAVAILABLE == RESULT_PIN_UNAVAILABLE,
              "tav.h's result codes are TAVLib.h's ResultCode");
static_assert(TAV_PWM_FULL_SCALE == PWM_FULL_SCALE && TAV_PWM_BASE_HZ == PWM_BASE_HZ && TAV_RECORD_SIZE == RECORD_SIZE,
              "tav.h's constants are the board's");
static_assert(TAV_USB_VENDOR_ID == BOARD_VENDOR_ID && TAV_USB_PRODUCT_ID == BOARD_PRODUCT_ID, "tav.h's USB identity");

static_assert(TAV_PIN_DEBUG_PORT == static_cast<int>(tavmodel::PinFunction::DebugPort)
                  && TAV_PIN_FLOATING_INPUT == static_cast<int>(tavmodel::PinFunction::FloatingInput)
                  && TAV_PIN_OUTPUT_HIGH == static_cast<int>(tavmodel::PinFunction::OutputHigh)
                  && TAV_PIN_PWM == static_cast<int>(tavmodel::PinFunction::Pwm)
                  && TAV_PIN_NOT_DRIVEN == static_cast<int>(tavmodel::PinFunction::NotDriven),
              "tav_pin_function follows the board view's PinFunction");

} // namespace

extern "C" {

uint32_t tav_pwm_full_scale(void)
{
    return TAV_PWM_FULL_SCALE;
}

int tav_pin_name(uint32_t pin, char model, char name[8], char mcu_pin[8])
{
    if (name == nullptr || mcu_pin == nullptr)
        return TAV_E_INVALID;
    const int row = PinMapRowIndex(pin);
    if (row < 0) {
        // One bit of a bank where no board pin is: named all the same, for
        // the message that says so.
        const std::string bitName = BankBitName(pin);
        if (!bitName.empty()) {
            std::snprintf(name, 8, "%s", bitName.c_str());
            std::snprintf(mcu_pin, 8, "-");
        }
        return TAV_BAD_PIN;
    }
    std::snprintf(name, 8, "%s", BoardPinName(pin).c_str());
    const int column = PinMapColumn(BoardTypeFromLetter(model));
    const McuPin* target = column < 0 ? nullptr : &PIN_MAP[row].byModel[column];
    std::snprintf(mcu_pin, 8, "%s", target == nullptr ? "-" : McuPinName(target->port, target->pin).c_str());
    return TAV_OK;
}

int tav_board_pins(uint32_t* pins, size_t capacity)
{
    if (pins == nullptr && capacity > 0)
        return TAV_E_INVALID;
    for (size_t index = 0; index < capacity && index < PIN_MAP_ROWS; ++index)
        pins[index] = PIN_MAP[index].pinId;
    return static_cast<int>(PIN_MAP_ROWS);
}

int tav_pwm_channel_count(char group)
{
    const int timerIndex = PwmGroupIndex(group);
    return timerIndex < 0 ? TAV_E_INVALID : static_cast<int>(ChannelCount(timerIndex));
}

int tav_pwm_channel_info(char group, unsigned channel, char model, tav_pwm_channel* info)
{
    const int timerIndex = PwmGroupIndex(group);
    const PwmChannel* entry = timerIndex < 0 ? nullptr : FindPwmChannel(static_cast<uint32_t>(timerIndex), channel);
    if (entry == nullptr || info == nullptr)
        return TAV_E_INVALID;
    *info = tav_pwm_channel{};
    info->timer = timerIndex + 1;
    info->timer_channel = entry->unit;
    const McuPin& mcuPin = entry->mcuPin;
    std::snprintf(info->mcu_pin, sizeof info->mcu_pin, "%s", McuPinName(mcuPin.port, mcuPin.pin).c_str());
    const int column = PinMapColumn(BoardTypeFromLetter(model));
    if (column >= 0)
        for (const PinMapRow& row : PIN_MAP)
            if (row.byModel[column].port == mcuPin.port && row.byModel[column].pin == mcuPin.pin)
                info->pin = row.pinId;
    return TAV_OK;
}

int tav_models(char* letters, size_t size)
{
    return CopyLetters(letters, size, BOARD_MODEL_COUNT, [](size_t index) { return BOARD_MODELS[index].letter; });
}

int tav_pwm_groups(char* letters, size_t size)
{
    return CopyLetters(letters, size, PWM_GROUP_COUNT, PwmGroupLetter);
}

int tav_pwm_dividers(int* dividers, size_t capacity)
{
    if (dividers == nullptr && capacity > 0)
        return TAV_E_INVALID;
    for (size_t index = 0; index < capacity && index < PWM_FREQUENCY_COUNT; ++index)
        dividers[index] = static_cast<int>(PwmDivider(index));
    return static_cast<int>(PWM_FREQUENCY_COUNT);
}

int tav_constant(const char* name, long* value)
{
#define TAV_CONSTANT(constant) {#constant, static_cast<long>(constant)}
    static const struct {
        const char* name;
        long value;
    } CONSTANTS[] = {
        TAV_CONSTANT(TAV_OK), TAV_CONSTANT(TAV_NOT_OPEN), TAV_CONSTANT(TAV_IO_FAILED), TAV_CONSTANT(TAV_BAD_PIN),
        TAV_CONSTANT(TAV_PIN_UNAVAILABLE), TAV_CONSTANT(TAV_E_INVALID), TAV_CONSTANT(TAV_E_NOT_FOUND),
        TAV_CONSTANT(TAV_E_ACCESS), TAV_CONSTANT(TAV_E_NOT_VIRTUAL), TAV_CONSTANT(TAV_PWM_FULL_SCALE),
        TAV_CONSTANT(TAV_PWM_BASE_HZ), TAV_CONSTANT(TAV_RECORD_SIZE), TAV_CONSTANT(TAV_USB_VENDOR_ID),
        TAV_CONSTANT(TAV_USB_PRODUCT_ID), TAV_CONSTANT(TAV_LOG_ERROR), TAV_CONSTANT(TAV_LOG_WARNING),
        TAV_CONSTANT(TAV_LOG_INFO), TAV_CONSTANT(TAV_LOG_DEBUG), TAV_CONSTANT(TAV_EVENT_ARRIVED),
        TAV_CONSTANT(TAV_EVENT_LEFT), TAV_CONSTANT(TAV_PIN_DEBUG_PORT), TAV_CONSTANT(TAV_PIN_ANALOG_INPUT),
        TAV_CONSTANT(TAV_PIN_FLOATING_INPUT), TAV_CONSTANT(TAV_PIN_PULL_DOWN_INPUT),
        TAV_CONSTANT(TAV_PIN_PULL_UP_INPUT), TAV_CONSTANT(TAV_PIN_OUTPUT_HIGH), TAV_CONSTANT(TAV_PIN_OUTPUT_LOW),
        TAV_CONSTANT(TAV_PIN_PWM), TAV_CONSTANT(TAV_PIN_NOT_DRIVEN), TAV_CONSTANT(TAV_SIM_TIMEOUT),
        TAV_CONSTANT(TAV_SIM_STALL), TAV_CONSTANT(TAV_SIM_SHORT_WRITE), TAV_CONSTANT(TAV_SIM_UNPLUG),
        TAV_CONSTANT(TAV_SIM_NOT_DRIVEN), TAV_CONSTANT(TAV_SIM_PWM), TAV_CONSTANT(TAV_PULL_UP),
        TAV_CONSTANT(TAV_PULL_DOWN),
    };
#undef TAV_CONSTANT
    if (name == nullptr || value == nullptr)
        return TAV_E_INVALID;
    for (const auto& constant : CONSTANTS) {
        if (std::strcmp(constant.name, name) == 0) {
            *value = constant.value;
            return TAV_OK;
        }
    }
    return TAV_E_INVALID;
}

int tav_pin_state_group(const tav_pin_state* state, char* group, int* channel)
{
    if (state == nullptr || group == nullptr || channel == nullptr || state->function != TAV_PIN_PWM
        || state->timer < 1 || state->channel < 1)
        return TAV_E_INVALID;
    const PwmChannel* entry =
        FindPwmChannelOfUnit(static_cast<uint32_t>(state->timer - 1), static_cast<uint32_t>(state->channel));
    if (entry == nullptr)
        return TAV_E_INVALID;
    *group = PwmGroupLetter(entry->timerIndex);
    *channel = static_cast<int>(entry->channel);
    return TAV_OK;
}

int tav_describe_record(const uint8_t record[64], char* text, size_t size)
{
    if (record == nullptr)
        return TAV_E_INVALID;
    return CopyText(tavmodel::DescribeRecord(tavmodel::DecodeRecord(record, RECORD_SIZE)).c_str(), text, size);
}

} // extern "C"
