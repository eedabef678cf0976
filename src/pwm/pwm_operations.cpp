#include "pwm/pwm_operations.h"

#include "link/library_state.h"
#include "link/transport.h"

namespace TAVDll {
namespace detail {

int SubmitBatch(const InstructionBatch& batch)
{
    return SubmitRecords(batch.records, batch.inCount) == 0 ? RESULT_OK : RESULT_IO_FAILED;
}

} // namespace detail

using namespace detail;

int TAVLib::InitPWMA(PWM_Frequency frequency, unsigned int duty1)
{
    return InitPWMA(frequency, duty1, 0, 0);
}

int TAVLib::InitPWMA(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2)
{
    return InitPWMA(frequency, duty1, duty2, 0);
}

int TAVLib::InitPWMA(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3)
{
    unsigned int fullScale = 0;
    return InitPWMA(frequency, duty1, duty2, duty3, &fullScale);
}

namespace {

// Every PWM operation: board test, one sequence into a fresh batch, submit.
template <typename Sequence>
int RunSequence(int capacity, Sequence appendSequence)
{
    if (!BoardOpen())
        return RESULT_NOT_OPEN;
    InstructionBatch batch(capacity);
    appendSequence(batch);
    return SubmitBatch(batch);
}

} // namespace

int TAVLib::InitPWMA(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                     unsigned int* max)
{
    return RunSequence(PWM_BATCH_CAPACITY, [&](InstructionBatch& batch) {
        AppendInitPWMA(batch, frequency, duty1, duty2, duty3, max);
    });
}

int TAVLib::InitPWMB(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                     unsigned int duty4, unsigned int* max)
{
    return RunSequence(PWM_BATCH_CAPACITY, [&](InstructionBatch& batch) {
        AppendInitPWMB(batch, frequency, duty1, duty2, duty3, duty4, max);
    });
}

int TAVLib::InitPWMC(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                     unsigned int duty4, unsigned int* max)
{
    return RunSequence(PWM_BATCH_CAPACITY, [&](InstructionBatch& batch) {
        AppendInitPWMC(batch, frequency, duty1, duty2, duty3, duty4, max);
    });
}

int TAVLib::UpdatePWMA(unsigned int channel, unsigned int duty)
{
    return RunSequence(PWM_BATCH_CAPACITY, [&](InstructionBatch& batch) { AppendUpdatePWMA(batch, channel, duty); });
}

int TAVLib::UpdatePWMB(unsigned int channel, unsigned int duty)
{
    return RunSequence(PWM_BATCH_CAPACITY, [&](InstructionBatch& batch) { AppendUpdatePWMB(batch, channel, duty); });
}

int TAVLib::UpdatePWMC(unsigned int channel, unsigned int duty)
{
    return RunSequence(PWM_BATCH_CAPACITY, [&](InstructionBatch& batch) { AppendUpdatePWMC(batch, channel, duty); });
}

int TAVLib::DisablePWM()
{
    return RunSequence(PWM_DISABLE_BATCH_CAPACITY, [](InstructionBatch& batch) { AppendDisablePWM(batch); });
}

} // namespace TAVDll
