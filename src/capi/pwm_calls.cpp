// The C interface's PWM calls: a group started by divider or by frequency,
// percent and pulse duties, one channel's duty in any unit, one group stopped
// alone or all of them, and the group state.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "capi/board_object.h"
#include "model/board_view.h"
#include "pins/pin_operations.h"
#include "pwm/pwm_arguments.h"
#include "pwm/pwm_frequency.h"
#include "pwm/pwm_operations.h"
#include "pwm/pwm_sequences.h"
#include "pwm_tables.h"

using namespace TAVDll;
using namespace TAVDll::detail;

namespace {

// tav_pwm_group_state as tav.h 1.1 had it: up to the duty_known flags.
constexpr size_t GROUP_STATE_SIZE_1_1 =
    (offsetof(tav_pwm_group_state, full_scale) + alignof(tav_pwm_group_state) - 1) / alignof(tav_pwm_group_state)
    * alignof(tav_pwm_group_state);

// Whether this object's records (or, on a virtual board, the board) set the
// group's time base and it has a clock.
bool TimeBaseSet(const tav_board& board, int timerIndex)
{
    const tavmodel::TimerState& timer = board.Model().State().timers[timerIndex];
    const bool known = board.simulated != nullptr || board.commanded->TimerTouched(timerIndex);
    return known && timer.clockEnabled;
}

// The steps in one period of a group's time base as this object set it (a
// virtual board: as the board has it): the unit of its duties. 36000 (the
// dividers' full scale) while the group has no time base of the object's.
uint32_t GroupFullScale(const tav_board& board, int timerIndex)
{
    return TimeBaseSet(board, timerIndex) ? board.Model().State().timers[timerIndex].period + 1 : PWM_FULL_SCALE;
}

bool GroupRunning(const tavmodel::TimerState& timer, int timerIndex)
{
    return timer.clockEnabled && timer.counterEnabled && (timerIndex != 0 || timer.mainOutputEnabled);
}

// A share of full scale in steps, rounded to the nearest; false outside 0-100 % or NaN.
bool StepsOfPercent(double percent, uint32_t fullScale, uint32_t* steps)
{
    if (!(percent >= 0.0 && percent <= 100.0))
        return false;
    *steps = static_cast<uint32_t>(std::lround(percent / 100.0 * fullScale));
    return true;
}

// One channel's new duty, computed under the board's lock from the group's
// time base: TAV_E_INVALID when toSteps refuses.
template <typename ToSteps>
int SetChannel(tav_board* board, char group, unsigned channel, ToSteps toSteps)
{
    const int timerIndex = PwmGroupIndex(group);
    if (board == nullptr || timerIndex < 0 || channel < 1 || channel > ChannelCount(timerIndex))
        return TAV_E_INVALID;
    uint32_t steps = 0;
    return OnBoardWithEffect(
        board,
        [&](BoardLink& link) {
            if (!toSteps(*board, timerIndex, &steps))
                return static_cast<int>(TAV_E_INVALID);
            return UpdatePwm(link, static_cast<uint32_t>(timerIndex), channel, steps);
        },
        [&](CommandedState& state, BoardLink&, int result) {
            if (result == RESULT_OK)
                pwm_sequence::Update(state, static_cast<uint32_t>(timerIndex), channel, steps);
        });
}

} // namespace

extern "C" {

int tav_pwm_start(tav_board* board, char group, int divider, const uint32_t* duties, size_t count)
{
    const int timerIndex = PwmGroupIndex(group);
    const int frequency = divider > 0 ? PwmFrequencyIndex(static_cast<uint64_t>(divider)) : -1;
    if (timerIndex < 0 || frequency < 0 || count > ChannelCount(timerIndex) || (duties == nullptr && count > 0))
        return TAV_E_INVALID;
    uint32_t channelDuties[4] = {};
    for (size_t index = 0; index < count; ++index) {
        if (duties[index] > PWM_FULL_SCALE)
            return TAV_E_INVALID;
        channelDuties[index] = duties[index];
    }
    return OnBoardWithEffect(
        board,
        [&](BoardLink& link) {
            return InitPwmGroup(link, static_cast<uint32_t>(timerIndex), static_cast<PWM_Frequency>(frequency),
                                channelDuties, nullptr);
        },
        [&](CommandedState& state, BoardLink&, int result) {
            if (result == RESULT_OK)
                pwm_sequence::WithTimerConstant(static_cast<uint32_t>(timerIndex), [&](auto timer) {
                    pwm_sequence::InitGroup(state, timer, static_cast<PWM_Frequency>(frequency), channelDuties);
                });
        });
}

int tav_pwm_stop(tav_board* board)
{
    return OnBoardWithEffect(
        board, [](BoardLink& link) { return DisablePwm(link); },
        [](CommandedState& state, BoardLink&, int result) {
            if (result == RESULT_OK)
                pwm_sequence::DisableAll(state);
        });
}

int tav_pwm_start_hz(tav_board* board, char group, double frequency_hz, const double* duty_percent, size_t count,
                     double* actual_hz)
{
    const int timerIndex = PwmGroupIndex(group);
    PwmTimeBase timeBase{};
    if (board == nullptr || timerIndex < 0 || count > ChannelCount(timerIndex) || (duty_percent == nullptr && count > 0)
        || !ChoosePwmTimeBase(frequency_hz, &timeBase))
        return TAV_E_INVALID;
    uint32_t duties[4] = {};
    for (size_t index = 0; index < count; ++index)
        if (!StepsOfPercent(duty_percent[index], timeBase.period + 1, &duties[index]))
            return TAV_E_INVALID;
    const int result = OnBoardWithEffect(
        board,
        [&](BoardLink& link) {
            return StartPwmGroup(link, static_cast<uint32_t>(timerIndex), timeBase.prescaler, timeBase.period, duties);
        },
        [&](CommandedState& state, BoardLink&, int started) {
            if (started == RESULT_OK)
                pwm_sequence::WithTimerConstant(static_cast<uint32_t>(timerIndex), [&](auto timer) {
                    pwm_sequence::GroupStart(state, timer, timeBase.prescaler, timeBase.period, duties);
                });
        });
    if (actual_hz != nullptr && result == TAV_OK)
        *actual_hz = timeBase.frequencyHz;
    return result;
}

int tav_pwm_time_base(double frequency_hz, uint32_t* prescaler, uint32_t* full_scale, double* actual_hz)
{
    PwmTimeBase timeBase{};
    if (!ChoosePwmTimeBase(frequency_hz, &timeBase))
        return TAV_E_INVALID;
    if (prescaler != nullptr)
        *prescaler = timeBase.prescaler;
    if (full_scale != nullptr)
        *full_scale = timeBase.period + 1;
    if (actual_hz != nullptr)
        *actual_hz = timeBase.frequencyHz;
    return TAV_OK;
}

int tav_pwm_set(tav_board* board, char group, unsigned channel, uint32_t duty)
{
    return SetChannel(board, group, channel, [duty](const tav_board& object, int timerIndex, uint32_t* steps) {
        *steps = duty;
        return duty <= GroupFullScale(object, timerIndex);
    });
}

int tav_pwm_set_percent(tav_board* board, char group, unsigned channel, double percent)
{
    return SetChannel(board, group, channel, [percent](const tav_board& object, int timerIndex, uint32_t* steps) {
        return StepsOfPercent(percent, GroupFullScale(object, timerIndex), steps);
    });
}

int tav_pwm_set_pulse(tav_board* board, char group, unsigned channel, double microseconds)
{
    return SetChannel(board, group, channel, [microseconds](const tav_board& object, int timerIndex, uint32_t* steps) {
        const tavmodel::TimerState& timer = object.Model().State().timers[timerIndex];
        if (!TimeBaseSet(object, timerIndex) || !GroupRunning(timer, timerIndex) || !(microseconds >= 0.0))
            return false;
        const double stepsPerMicrosecond = TIMER_CLOCK_HZ / 1e6 / (timer.prescaler + 1.0);
        const double exact = microseconds * stepsPerMicrosecond;
        if (exact > timer.period + 1.0 + 0.5)
            return false; // longer than the period
        *steps = static_cast<uint32_t>(std::lround(exact));
        return true;
    });
}

int tav_pwm_stop_group(tav_board* board, char group)
{
    const int timerIndex = PwmGroupIndex(group);
    if (timerIndex < 0)
        return TAV_E_INVALID;
    return OnBoardWithEffect(
        board, [=](BoardLink& link) { return StopPwmGroup(link, static_cast<uint32_t>(timerIndex)); },
        [=](CommandedState& state, BoardLink&, int result) {
            if (result == RESULT_OK)
                pwm_sequence::WithTimerConstant(static_cast<uint32_t>(timerIndex),
                                                [&](auto timer) { pwm_sequence::GroupStop(state, timer); });
        });
}

int tav_pwm_group_state_get_sized(const tav_board* board, char group, tav_pwm_group_state* state, size_t state_size)
{
    const int timerIndex = PwmGroupIndex(group);
    if (board == nullptr || state == nullptr || timerIndex < 0 || state_size < GROUP_STATE_SIZE_1_1)
        return TAV_E_INVALID;
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink&) {
        const tavmodel::TimerState& timer = board->Model().State().timers[timerIndex];
        const CommandedState* commanded = board->commanded.get();
        const bool virtualBoard = board->simulated != nullptr;
        tav_pwm_group_state filled{};
        filled.known = virtualBoard || commanded->TimerTouched(timerIndex) ? 1 : 0;
        filled.running = GroupRunning(timer, timerIndex) ? 1 : 0;
        for (size_t frequency = 0; frequency < PWM_FREQUENCY_COUNT; ++frequency)
            if (PWM_PRESCALERS[frequency] == timer.prescaler && timer.period == PWM_PERIOD)
                filled.divider = static_cast<int>(PwmDivider(frequency));
        filled.frequency_hz = tavmodel::PwmFrequencyHz(timer);
        filled.channel_count = ChannelCount(timerIndex);
        for (unsigned channel = 1; channel <= filled.channel_count; ++channel) {
            // Groups A and C drive their channels from the highest unit down.
            const uint8_t unit = FindPwmChannel(static_cast<uint32_t>(timerIndex), channel)->unit;
            filled.duty[channel - 1] = timer.outputCompare[unit - 1].pulse;
            filled.duty_known[channel - 1] = virtualBoard || commanded->DutyTouched(timerIndex, unit) ? 1 : 0;
        }
        filled.full_scale = GroupFullScale(*board, timerIndex);
        filled.prescaler = timer.prescaler;
        // As much as both layouts have; a longer one's rest is zero.
        const size_t common = state_size < sizeof filled ? state_size : sizeof filled;
        std::memset(state, 0, state_size);
        std::memcpy(state, &filled, common);
        return TAV_OK;
    });
}

// The function of programs built against 1.1's tav.h.
int(tav_pwm_group_state_get)(const tav_board* board, char group, tav_pwm_group_state* state)
{
    return tav_pwm_group_state_get_sized(board, group, state, GROUP_STATE_SIZE_1_1);
}

} // extern "C"
