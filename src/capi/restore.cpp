#include "capi/restore.h"

#include "link/transport.h"
#include "pwm/pwm_operations.h"
#include "records/records.h"

namespace TAVDll::detail {

namespace {

bool IsOutput(uint8_t mode)
{
    return mode == GPIO_MODE_OUT_PP || mode == GPIO_MODE_OUT_OD;
}

bool IsAlternate(uint8_t mode)
{
    return mode == GPIO_MODE_AF_PP || mode == GPIO_MODE_AF_OD;
}

// Each group this object started and left running, as tav_pwm_start (or
// tav_pwm_start_hz) sends it.
int RestorePwm(BoardLink& link, const tavmodel::BoardState& state, const CommandedState& commanded)
{
    int result = RESULT_OK;
    for (int timerIndex = 0; timerIndex < tavmodel::TIMER_COUNT; ++timerIndex) {
        const tavmodel::TimerState& timer = state.timers[timerIndex];
        if (!commanded.TimerTouched(timerIndex) || !timer.counterEnabled)
            continue;
        // The start sequence takes the duties by the group's channels;
        // groups A and C drive channel 1 from their highest unit.
        uint32_t duties[4] = {};
        for (uint32_t channel = 1; channel <= PWM_GROUPS[timerIndex].channelCount; ++channel)
            duties[channel - 1] =
                timer.outputCompare[FindPwmChannel(static_cast<uint32_t>(timerIndex), channel)->unit - 1].pulse;
        // Its own time base: a divider's, or any other (tav_pwm_start_hz).
        if (StartPwmGroup(link, static_cast<uint32_t>(timerIndex), timer.prescaler, timer.period, duties) != RESULT_OK)
            result = RESULT_IO_FAILED;
    }
    return result;
}

// Each pin this object made an input or an output: a port's output levels
// first, then one GPIO_Init a pin, so that an output comes back driving its
// level at once (never a glitch to low first: a relay would click). Pins of
// a PWM group were set above.
int RestorePins(BoardLink& link, const tavmodel::BoardState& state, const CommandedState& commanded)
{
    constexpr int MOST_RECORDS = PORT_COUNT * (PINS_PER_PORT + 2);
    _INSTRUCTION_INFO_ records[MOST_RECORDS];
    int count = 0;
    for (int port = 0; port < PORT_COUNT; ++port) {
        uint32_t high = 0;
        uint32_t low = 0;
        uint32_t restored = 0;
        for (int pin = 0; pin < PINS_PER_PORT; ++pin) {
            const tavmodel::GpioPinState& setting = state.ports[port].pins[pin];
            // A floating input is how every pin starts; a timer's pins came
            // with their group.
            if (!commanded.PinTouched(port, pin) || IsAlternate(setting.mode) || setting.mode == GPIO_MODE_IN_FLOATING)
                continue;
            const uint32_t mask = 1u << pin;
            restored |= mask;
            if (IsOutput(setting.mode))
                ((state.ports[port].outputData & mask) != 0 ? high : low) |= mask;
        }
        if (high != 0)
            records[count++] = MakeGpioSetBits(static_cast<uint32_t>(port), high);
        if (low != 0)
            records[count++] = MakeGpioResetBits(static_cast<uint32_t>(port), low);
        for (int pin = 0; pin < PINS_PER_PORT; ++pin) {
            const tavmodel::GpioPinState& setting = state.ports[port].pins[pin];
            if ((restored & (1u << pin)) != 0)
                records[count++] = MakeGpioInit(static_cast<uint32_t>(port), 1u << pin, setting.speed, setting.mode);
        }
    }
    return SubmitRecords(link, records, count) == 0 ? RESULT_OK : RESULT_IO_FAILED;
}

} // namespace

int RestoreCommandedState(BoardLink& link, const CommandedState& commanded)
{
    // A copy: sending the records feeds the commanded state again.
    const tavmodel::BoardState state = commanded.Model().State();
    int result = RESULT_OK;
    if (commanded.DebugPortTouched() && state.debugPort == tavmodel::DebugPort::Disabled
        && !SubmitRecord(link, MakeGpioPinRemap(GPIO_REMAP_SWJ_DISABLE, REMAP_APPLY)))
        result = RESULT_IO_FAILED;
    if (state.startCount > 0 && !SubmitRecord(link, MakeBoardInit(state.startArgument)))
        result = RESULT_IO_FAILED;
    if (RestorePwm(link, state, commanded) != RESULT_OK)
        result = RESULT_IO_FAILED;
    if (RestorePins(link, state, commanded) != RESULT_OK)
        result = RESULT_IO_FAILED;
    return result;
}

} // namespace TAVDll::detail
