#include "pwm/pwm_sequences.h"

namespace TAVDll::detail {

int AppendTimeBase(InstructionBatch& batch, uint32_t timerIndex, uint32_t period, uint32_t prescaler,
                   uint32_t clockDivision, uint32_t counterMode)
{
    BatchSink sink{batch};
    pwm_sequence::TimeBase(sink, timerIndex, period, prescaler, clockDivision, counterMode);
    return sink.Finish();
}

int AppendFrequency(InstructionBatch& batch, uint32_t timerIndex, PWM_Frequency frequency, unsigned int* max)
{
    if (max != nullptr)
        *max = PWM_FULL_SCALE;
    return AppendTimeBase(batch, timerIndex, PWM_PERIOD, PrescalerFor(frequency), 0, 0);
}

int AppendChannel(InstructionBatch& batch, uint32_t timerIndex, uint32_t channel, uint32_t duty)
{
    BatchSink sink{batch};
    pwm_sequence::Channel(sink, timerIndex, channel, duty);
    return sink.Finish();
}

int AppendTimerStart(InstructionBatch& batch, uint32_t timerIndex)
{
    BatchSink sink{batch};
    pwm_sequence::TimerStart(sink, timerIndex);
    return sink.Finish();
}

namespace {

// With the group's channels (A has three).
int AppendInit(InstructionBatch& batch, uint32_t timer, PWM_Frequency frequency, const uint32_t (&duties)[4],
               unsigned int* max)
{
    if (max != nullptr)
        *max = PWM_FULL_SCALE;
    BatchSink sink{batch};
    pwm_sequence::InitGroup(sink, timer, frequency, duties);
    return sink.Finish();
}

} // namespace

int AppendInitPWMA(InstructionBatch& batch, PWM_Frequency frequency, uint32_t duty1, uint32_t duty2, uint32_t duty3,
                   unsigned int* max)
{
    return AppendInit(batch, 0, frequency, {duty1, duty2, duty3, 0}, max);
}

int AppendInitPWMB(InstructionBatch& batch, PWM_Frequency frequency, uint32_t duty1, uint32_t duty2, uint32_t duty3,
                   uint32_t duty4, unsigned int* max)
{
    return AppendInit(batch, 1, frequency, {duty1, duty2, duty3, duty4}, max);
}

int AppendInitPWMC(InstructionBatch& batch, PWM_Frequency frequency, uint32_t duty1, uint32_t duty2, uint32_t duty3,
                   uint32_t duty4, unsigned int* max)
{
    return AppendInit(batch, 2, frequency, {duty1, duty2, duty3, duty4}, max);
}

namespace {

int AppendUpdate(InstructionBatch& batch, uint32_t timerIndex, uint32_t channel, uint32_t duty)
{
    BatchSink sink{batch};
    pwm_sequence::Update(sink, timerIndex, channel, duty);
    return sink.Finish();
}

} // namespace

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

int AppendDisablePWM(InstructionBatch& batch)
{
    BatchSink sink{batch};
    pwm_sequence::DisableAll(sink);
    return sink.Finish();
}

int AppendGroupStart(InstructionBatch& batch, uint32_t timerIndex, uint32_t prescaler, uint32_t period,
                     const uint32_t (&duties)[4])
{
    BatchSink sink{batch};
    pwm_sequence::GroupStart(sink, timerIndex, prescaler, period, duties);
    return sink.Finish();
}

int AppendGroupStop(InstructionBatch& batch, uint32_t timerIndex)
{
    BatchSink sink{batch};
    pwm_sequence::GroupStop(sink, timerIndex);
    return sink.Finish();
}

} // namespace TAVDll::detail
