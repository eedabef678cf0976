#include "pwm/pwm_sequences.h"

#include "pwm_tables.h"
#include "records/records.h"

namespace TAVDll::detail {

namespace {

using OutputCompareBuilder = _INSTRUCTION_INFO_ (*)(uint32_t, OutputCompareParams);
using PreloadBuilder = _INSTRUCTION_INFO_ (*)(uint32_t, uint32_t);

// Indexed by output-compare unit - 1.
constexpr OutputCompareBuilder OC_INIT_BUILDERS[4] = {MakeTimOc1Init, MakeTimOc2Init, MakeTimOc3Init, MakeTimOc4Init};
constexpr PreloadBuilder OC_PRELOAD_BUILDERS[4] = {MakeTimOc1Preload, MakeTimOc2Preload, MakeTimOc3Preload,
                                                   MakeTimOc4Preload};

constexpr uint8_t STATE_ON = 1;
constexpr uint8_t STATE_OFF = 0;

OutputCompareParams PwmOutputCompare(uint32_t duty)
{
    OutputCompareParams params{};
    params.ocMode = TIM_OCMODE_PWM1;
    params.outputState = TIM_OUTPUT_STATE_ENABLE;
    params.pulse = duty;
    return params;
}

_INSTRUCTION_INFO_ ClockGate(const PwmGroup& group, uint8_t state)
{
    return group.clockOperation == RCC_OP_APB2_CLOCK ? MakeRccApb2Clock(group.peripheralMask, state)
                                                     : MakeRccApb1Clock(group.peripheralMask, state);
}

int AppendOutputCompare(InstructionBatch& batch, const PwmChannel& entry, uint32_t duty)
{
    return Append(batch, OC_INIT_BUILDERS[entry.unit - 1], entry.timerIndex, PwmOutputCompare(duty));
}

int AppendUpdate(InstructionBatch& batch, uint32_t timerIndex, uint32_t channel, uint32_t duty)
{
    const PwmChannel* entry = FindPwmChannel(timerIndex, channel);
    return entry != nullptr ? AppendOutputCompare(batch, *entry, duty) : batch.inCount;
}

} // namespace

int AppendTimeBase(InstructionBatch& batch, uint32_t timerIndex, uint32_t period, uint32_t prescaler,
                   uint32_t clockDivision, uint32_t counterMode)
{
    if (timerIndex >= PWM_GROUP_COUNT)
        return batch.inCount;
    Append(batch, ClockGate, PWM_GROUPS[timerIndex], STATE_ON);
    TimeBaseParams params{};
    params.prescaler = prescaler;
    params.counterMode = counterMode;
    params.period = period;
    params.clockDivision = clockDivision;
    params.repetitionCounter = 0;
    return Append(batch, MakeTimTimeBaseInit, timerIndex, params);
}

int AppendFrequency(InstructionBatch& batch, uint32_t timerIndex, PWM_Frequency frequency, unsigned int* max)
{
    if (max != nullptr)
        *max = PWM_FULL_SCALE;
    return AppendTimeBase(batch, timerIndex, PWM_PERIOD, PrescalerFor(frequency), 0, 0);
}

int AppendChannel(InstructionBatch& batch, uint32_t timerIndex, uint32_t channel, uint32_t duty)
{
    const PwmChannel* entry = FindPwmChannel(timerIndex, channel);
    if (entry == nullptr)
        return batch.inCount;
    Append(batch, MakeGpioInit, entry->mcuPin.port, entry->mcuPin.Mask(), GPIO_SPEED_50MHZ, GPIO_MODE_AF_PP);
    AppendOutputCompare(batch, *entry, duty);
    return Append(batch, OC_PRELOAD_BUILDERS[entry->unit - 1], timerIndex, TIM_OCPRELOAD_ENABLE);
}

int AppendTimerStart(InstructionBatch& batch, uint32_t timerIndex)
{
    Append(batch, MakeTimArrPreload, timerIndex, STATE_ON);
    Append(batch, MakeTimCmd, timerIndex, STATE_ON);
    return Append(batch, MakeTimCtrlPwmOutputs, timerIndex, STATE_ON);
}

int AppendInitPWMA(InstructionBatch& batch, PWM_Frequency frequency, uint32_t duty1, uint32_t duty2, uint32_t duty3,
                   unsigned int* max)
{
    constexpr uint32_t timer = 0;
    AppendFrequency(batch, timer, frequency, max);
    AppendChannel(batch, timer, 1, duty1);
    AppendChannel(batch, timer, 2, duty2);
    AppendChannel(batch, timer, 3, duty3);
    return AppendTimerStart(batch, timer);
}

namespace {

int AppendInitFourChannels(InstructionBatch& batch, uint32_t timer, PWM_Frequency frequency, const uint32_t (&duties)[4],
                           unsigned int* max)
{
    AppendFrequency(batch, timer, frequency, max);
    for (uint32_t channel = 1; channel <= 4; ++channel)
        AppendChannel(batch, timer, channel, duties[channel - 1]);
    return AppendTimerStart(batch, timer);
}

} // namespace

int AppendInitPWMB(InstructionBatch& batch, PWM_Frequency frequency, uint32_t duty1, uint32_t duty2, uint32_t duty3,
                   uint32_t duty4, unsigned int* max)
{
    return AppendInitFourChannels(batch, 1, frequency, {duty1, duty2, duty3, duty4}, max);
}

int AppendInitPWMC(InstructionBatch& batch, PWM_Frequency frequency, uint32_t duty1, uint32_t duty2, uint32_t duty3,
                   uint32_t duty4, unsigned int* max)
{
    return AppendInitFourChannels(batch, 2, frequency, {duty1, duty2, duty3, duty4}, max);
}

int AppendUpdatePWMA(InstructionBatch& batch, uint32_t channel, uint32_t duty)
{
    return AppendUpdate(batch, 0, channel, duty);
}

int AppendUpdatePWMB(InstructionBatch& batch, uint32_t channel, uint32_t duty)
{
    return AppendUpdate(batch, 1, channel, duty);
}

int AppendUpdatePWMC(InstructionBatch& batch, uint32_t channel, uint32_t duty)
{
    return AppendUpdate(batch, 2, channel, duty);
}

namespace {

int AppendTimerStop(InstructionBatch& batch, uint32_t timerIndex)
{
    Append(batch, MakeTimDeInit, timerIndex);
    Append(batch, MakeTimArrPreload, timerIndex, STATE_OFF);
    Append(batch, MakeTimCmd, timerIndex, STATE_OFF);
    return Append(batch, MakeTimCtrlPwmOutputs, timerIndex, STATE_OFF);
}

int AppendPinRelease(InstructionBatch& batch, const PwmChannel& entry)
{
    return Append(batch, MakeGpioInit, entry.mcuPin.port, entry.mcuPin.Mask(), GPIO_SPEED_50MHZ, GPIO_MODE_IN_FLOATING);
}

} // namespace

int AppendDisablePWM(InstructionBatch& batch)
{
    // Timers stop before their clocks go off; the pins are released last.
    for (const PwmGroup& group : PWM_GROUPS)
        AppendTimerStop(batch, group.timerIndex);
    for (const PwmGroup& group : PWM_GROUPS)
        Append(batch, ClockGate, group, STATE_OFF);
    for (const PwmChannel& entry : PWM_CHANNEL_MAP)
        AppendPinRelease(batch, entry);
    return batch.inCount;
}

int AppendGroupStart(InstructionBatch& batch, uint32_t timerIndex, uint32_t prescaler, uint32_t period,
                     const uint32_t (&duties)[4])
{
    if (timerIndex >= PWM_GROUP_COUNT)
        return batch.inCount;
    AppendTimeBase(batch, timerIndex, period, prescaler, 0, 0);
    for (uint32_t channel = 1; channel <= PWM_GROUPS[timerIndex].channelCount; ++channel)
        AppendChannel(batch, timerIndex, channel, duties[channel - 1]);
    return AppendTimerStart(batch, timerIndex);
}

int AppendGroupStop(InstructionBatch& batch, uint32_t timerIndex)
{
    if (timerIndex >= PWM_GROUP_COUNT)
        return batch.inCount;
    AppendTimerStop(batch, timerIndex);
    Append(batch, ClockGate, PWM_GROUPS[timerIndex], STATE_OFF);
    for (const PwmChannel& entry : PWM_CHANNEL_MAP)
        if (entry.timerIndex == timerIndex)
            AppendPinRelease(batch, entry);
    return batch.inCount;
}

} // namespace TAVDll::detail
