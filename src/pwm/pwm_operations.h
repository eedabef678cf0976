#ifndef TAV_PWM_PWM_OPERATIONS_H
#define TAV_PWM_PWM_OPERATIONS_H

#include "pwm/pwm_sequences.h"

namespace TAVDll::detail {

// Sends a filled batch: 0 when every record went out whole, 4 otherwise
// (every record is attempted either way).
int SubmitBatch(const InstructionBatch& batch);

} // namespace TAVDll::detail

#endif
