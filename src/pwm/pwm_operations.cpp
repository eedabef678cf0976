#include "pwm/pwm_operations.h"

#include "link/transport.h"

namespace TAVDll {
namespace detail {

namespace {

// Every PWM operation: board test, one sequence into a fresh batch, submit.
template <typename Sequence>
int RunSequence(BoardLink& link, int capacity, Sequence appendSequence)
{
    if (!BoardOpen(link))
        return RESULT_NOT_OPEN;
    InstructionBatch batch(capacity);
    appendSequence(batch);
    return SubmitBatch(link, batch);
}

} // namespace

int InitPwmGroup(BoardLink& link, uint32_t timerIndex, PWM_Frequency frequency, const uint32_t (&duties)[4],
                 unsigned int* max)
{
    return RunSequence(link, PWM_BATCH_CAPACITY,
                       [&](InstructionBatch& batch) { AppendInitGroup(batch, timerIndex, frequency, duties, max); });
}

int UpdatePwm(BoardLink& link, uint32_t timerIndex, uint32_t channel, uint32_t duty)
{
    return RunSequence(link, PWM_BATCH_CAPACITY,
                       [&](InstructionBatch& batch) { AppendUpdate(batch, timerIndex, channel, duty); });
}

int DisablePwm(BoardLink& link)
{
    return RunSequence(link, PWM_DISABLE_BATCH_CAPACITY, [](InstructionBatch& batch) { AppendDisablePWM(batch); });
}

int StartPwmGroup(BoardLink& link, uint32_t timerIndex, uint32_t prescaler, uint32_t period,
                  const uint32_t (&duties)[4])
{
    return RunSequence(link, PWM_BATCH_CAPACITY, [&](InstructionBatch& batch) {
        AppendGroupStart(batch, timerIndex, prescaler, period, duties);
    });
}

int StopPwmGroup(BoardLink& link, uint32_t timerIndex)
{
    return RunSequence(link, PWM_BATCH_CAPACITY,
                       [&](InstructionBatch& batch) { AppendGroupStop(batch, timerIndex); });
}

} // namespace detail

} // namespace TAVDll
