#include "pwm/pwm_sequences.h"

namespace TAVDll::detail {

int AppendInitGroup(InstructionBatch& batch, uint32_t timerIndex, PWM_Frequency frequency, const uint32_t (&duties)[4],
                    unsigned int* max)
{
    if (max != nullptr)
        *max = PWM_FULL_SCALE;
    BatchSink sink(batch);
    pwm_sequence::InitGroup(sink, timerIndex, frequency, duties);
    return sink.Finish();
}

int AppendUpdate(InstructionBatch& batch, uint32_t timerIndex, uint32_t channel, uint32_t duty)
{
    BatchSink sink(batch);
    pwm_sequence::Update(sink, timerIndex, channel, duty);
    return sink.Finish();
}

int AppendDisablePWM(InstructionBatch& batch)
{
    BatchSink sink(batch);
    pwm_sequence::DisableAll(sink);
    return sink.Finish();
}

int AppendGroupStart(InstructionBatch& batch, uint32_t timerIndex, uint32_t prescaler, uint32_t period,
                     const uint32_t (&duties)[4])
{
    BatchSink sink(batch);
    pwm_sequence::GroupStart(sink, timerIndex, prescaler, period, duties);
    return sink.Finish();
}

int AppendGroupStop(InstructionBatch& batch, uint32_t timerIndex)
{
    BatchSink sink(batch);
    pwm_sequence::GroupStop(sink, timerIndex);
    return sink.Finish();
}

} // namespace TAVDll::detail
