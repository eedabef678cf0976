#ifndef TAV_PWM_PWM_SEQUENCES_H
#define TAV_PWM_PWM_SEQUENCES_H

#include "TAVLib.h"
#include "link/record_batch.h"

namespace TAVDll::detail {

constexpr int PWM_BATCH_CAPACITY = BATCH_CAPACITY;
constexpr int PWM_DISABLE_BATCH_CAPACITY = 60;

// Each routine appends to the batch and returns the new inCount.
int AppendTimeBase(InstructionBatch& batch, uint32_t timerIndex, uint32_t period, uint32_t prescaler,
                   uint32_t clockDivision, uint32_t counterMode);
// Stores the full scale (36000) through max first; a null max is skipped.
int AppendFrequency(InstructionBatch& batch, uint32_t timerIndex, PWM_Frequency frequency, unsigned int* max);
int AppendChannel(InstructionBatch& batch, uint32_t timerIndex, uint32_t channel, uint32_t duty);
int AppendTimerStart(InstructionBatch& batch, uint32_t timerIndex);
int AppendInitPWMA(InstructionBatch& batch, PWM_Frequency frequency, uint32_t duty1, uint32_t duty2, uint32_t duty3,
                   unsigned int* max);
int AppendInitPWMB(InstructionBatch& batch, PWM_Frequency frequency, uint32_t duty1, uint32_t duty2, uint32_t duty3,
                   uint32_t duty4, unsigned int* max);
int AppendInitPWMC(InstructionBatch& batch, PWM_Frequency frequency, uint32_t duty1, uint32_t duty2, uint32_t duty3,
                   uint32_t duty4, unsigned int* max);
int AppendUpdatePWMA(InstructionBatch& batch, uint32_t channel, uint32_t duty);
int AppendUpdatePWMB(InstructionBatch& batch, uint32_t channel, uint32_t duty);
int AppendUpdatePWMC(InstructionBatch& batch, uint32_t channel, uint32_t duty);
int AppendDisablePWM(InstructionBatch& batch);

// Beyond the board's original operations, the same records with other
// values. A group started at any time base: clock gate, time base with this
// prescaler and period, each channel of the group with its duty (duties[i]
// is channel i + 1), then the timer started.
int AppendGroupStart(InstructionBatch& batch, uint32_t timerIndex, uint32_t prescaler, uint32_t period,
                     const uint32_t (&duties)[4]);
// One group's part of the shutdown sequence: its timer reset and stopped,
// its clock gate off, its pins floating. Nothing names another timer.
int AppendGroupStop(InstructionBatch& batch, uint32_t timerIndex);

} // namespace TAVDll::detail

#endif
