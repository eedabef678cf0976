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

int TAVLib::InitPWMA(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                     unsigned int* max)
{
    if (!BoardOpen())
        return RESULT_NOT_OPEN;
    InstructionBatch batch(PWM_BATCH_CAPACITY);
    AppendInitPWMA(batch, frequency, duty1, duty2, duty3, max);
    return SubmitBatch(batch);
}

int TAVLib::InitPWMB(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                     unsigned int duty4, unsigned int* max)
{
    if (!BoardOpen())
        return RESULT_NOT_OPEN;
    InstructionBatch batch(PWM_BATCH_CAPACITY);
    AppendInitPWMB(batch, frequency, duty1, duty2, duty3, duty4, max);
    return SubmitBatch(batch);
}

int TAVLib::InitPWMC(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                     unsigned int duty4, unsigned int* max)
{
    if (!BoardOpen())
        return RESULT_NOT_OPEN;
    InstructionBatch batch(PWM_BATCH_CAPACITY);
    AppendInitPWMC(batch, frequency, duty1, duty2, duty3, duty4, max);
    return SubmitBatch(batch);
}

namespace {

using UpdateSequence = int (*)(InstructionBatch&, uint32_t, uint32_t);

int UpdateChannel(UpdateSequence sequence, unsigned int channel, unsigned int duty)
{
    if (!BoardOpen())
        return RESULT_NOT_OPEN;
    InstructionBatch batch(PWM_BATCH_CAPACITY);
    sequence(batch, channel, duty);
    return SubmitBatch(batch);
}

} // namespace

int TAVLib::UpdatePWMA(unsigned int channel, unsigned int duty)
{
    return UpdateChannel(AppendUpdatePWMA, channel, duty);
}

int TAVLib::UpdatePWMB(unsigned int channel, unsigned int duty)
{
    return UpdateChannel(AppendUpdatePWMB, channel, duty);
}

int TAVLib::UpdatePWMC(unsigned int channel, unsigned int duty)
{
    return UpdateChannel(AppendUpdatePWMC, channel, duty);
}

int TAVLib::DisablePWM()
{
    if (!BoardOpen())
        return RESULT_NOT_OPEN;
    InstructionBatch batch(PWM_DISABLE_BATCH_CAPACITY);
    AppendDisablePWM(batch);
    return SubmitBatch(batch);
}

} // namespace TAVDll
