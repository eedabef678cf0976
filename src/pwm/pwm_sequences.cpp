#include "pwm/pwm_sequences.h"

namespace TAVDll::detail {

int AppendInitGroup(InstructionBatch& batch, uint32_t timerIndex, PWM_Frequency frequency, const uint32_t (&duties)[4],
                    unsigned int* max)
{
    if (max != nullptr)
        *max = PWM_FULL_SCALE;
    BatchSink sink(batch);
    pwm_sequence::InitGroup(sink, timerIndex, frequency, duties);
    return batch.inCount;
}

int AppendUpdate(InstructionBatch& batch, uint32_t timerIndex, uint32_t channel, uint32_t duty)
{
    BatchSink sink(batch);
    pwm_sequence::Update(sink, timerIndex, channel, duty);
    return batch.inCount;
}

int AppendDisablePWM(InstructionBatch& batch)
{
    BatchSink sink(batch);
    pwm_sequence::DisableAll(sink);
    return batch.inCount;
}

int AppendGroupStart(InstructionBatch& batch, uint32_t timerIndex, uint32_t prescaler, uint32_t period,
                     const uint32_t (&duties)[4])
{
    BatchSink sink(batch);
    pwm_sequence::GroupStart(sink, timerIndex, prescaler, period, duties);
    return batch.inCount;
}

int AppendGroupStop(InstructionBatch& batch, uint32_t timerIndex)
{
    BatchSink sink(batch);
    pwm_sequence::GroupStop(sink, timerIndex);
    return batch.inCount;
}

} // namespace TAVDll::detail
