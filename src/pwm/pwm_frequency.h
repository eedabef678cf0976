// Any PWM frequency: the time base (prescaler and period, 16 bits each on
// the chip) that reaches it at the 72 MHz timer clock.
#ifndef TAV_PWM_PWM_FREQUENCY_H
#define TAV_PWM_PWM_FREQUENCY_H

#include <cstdint>

namespace TAVDll::detail {

// The fewest duty steps a chosen time base has.
constexpr uint32_t PWM_MIN_STEPS = 100;
// The most a 16-bit prescaler or period field counts: 65536 (value 65535).
constexpr uint32_t PWM_MAX_COUNT = 65536;

struct PwmTimeBase {
    uint32_t prescaler; // the timer counts at 72 MHz / (prescaler + 1)
    uint32_t period;    // and wraps after period + 1 steps: the full scale
    double frequencyHz; // what that reaches
};

// The lowest and highest frequencies reachable with at least PWM_MIN_STEPS
// steps: 72 MHz / 2^32 (about 0.0168 Hz) and 720 kHz.
double PwmLowestHz();
double PwmHighestHz();

// The time base closest to frequencyHz with as many steps as possible: the
// largest full scale whose frequency is within 0.1 %, or where none is, the
// one nearest to it. False (nothing written) for NaN, an infinity or a
// frequency outside the reachable range.
bool ChoosePwmTimeBase(double frequencyHz, PwmTimeBase* timeBase);

} // namespace TAVDll::detail

#endif
