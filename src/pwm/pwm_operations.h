#ifndef TAV_PWM_PWM_OPERATIONS_H
#define TAV_PWM_PWM_OPERATIONS_H

#include "link/board_link.h"
#include "pwm/pwm_sequences.h"

namespace TAVDll::detail {

// The PWM operations on one board: 0, 2 with no board open (nothing sent, max
// untouched), 4 when a record failed. timerIndex 0..2 is group A..C; group A
// takes duties[0..2], B and C duties[0..3].
int InitPwmGroup(BoardLink& link, uint32_t timerIndex, PWM_Frequency frequency, const uint32_t (&duties)[4],
                 unsigned int* max);
int UpdatePwm(BoardLink& link, uint32_t timerIndex, uint32_t channel, uint32_t duty);
int DisablePwm(BoardLink& link);
// Beyond the original operations: a group started at any time base, and
// one group stopped alone.
int StartPwmGroup(BoardLink& link, uint32_t timerIndex, uint32_t prescaler, uint32_t period,
                  const uint32_t (&duties)[4]);
int StopPwmGroup(BoardLink& link, uint32_t timerIndex);

} // namespace TAVDll::detail

#endif
