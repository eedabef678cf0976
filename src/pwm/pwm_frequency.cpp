#include "pwm/pwm_frequency.h"

#include <cmath>

#include "wire_layout.h"

namespace TAVDll::detail {

namespace {

constexpr double TOLERANCE = 0.001; // 0.1 %

double ReachedHz(uint32_t divisor, uint32_t steps)
{
    return static_cast<double>(TIMER_CLOCK_HZ) / (static_cast<double>(divisor) * steps);
}

} // namespace

double PwmLowestHz()
{
    return static_cast<double>(TIMER_CLOCK_HZ) / (static_cast<double>(PWM_MAX_COUNT) * PWM_MAX_COUNT);
}

double PwmHighestHz()
{
    return static_cast<double>(TIMER_CLOCK_HZ) / PWM_MIN_STEPS;
}

bool ChoosePwmTimeBase(double frequencyHz, PwmTimeBase* timeBase)
{
    if (!std::isfinite(frequencyHz) || frequencyHz < PwmLowestHz() || frequencyHz > PwmHighestHz())
        return false;
    // Timer clocks per PWM period: the divisor (prescaler + 1) times the
    // steps (period + 1). The smallest divisor gives the most steps; a
    // divisor whose exact period is longer than 65536 steps has the longest
    // there is, which may still be within the tolerance.
    const double clocks = static_cast<double>(TIMER_CLOCK_HZ) / frequencyHz;
    const auto firstDivisor =
        static_cast<uint32_t>(std::max(1.0, std::floor(clocks / (PWM_MAX_COUNT * (1 + TOLERANCE)))));
    uint32_t bestDivisor = 0;
    uint32_t bestSteps = 0;
    double bestError = 0;
    for (uint32_t divisor = firstDivisor; divisor <= PWM_MAX_COUNT; ++divisor) {
        const double exactSteps = clocks / divisor;
        if (exactSteps < PWM_MIN_STEPS - 0.5)
            break; // fewer steps from here on
        const auto steps = static_cast<uint32_t>(
            std::min<double>(PWM_MAX_COUNT, std::max<double>(PWM_MIN_STEPS, std::round(exactSteps))));
        const double error = std::fabs(ReachedHz(divisor, steps) - frequencyHz) / frequencyHz;
        if (bestDivisor == 0 || error < bestError) {
            bestDivisor = divisor;
            bestSteps = steps;
            bestError = error;
        }
        if (error <= TOLERANCE)
            break; // the most steps within the tolerance
    }
    if (bestDivisor == 0)
        return false;
    *timeBase = PwmTimeBase{bestDivisor - 1, bestSteps - 1, ReachedHz(bestDivisor, bestSteps)};
    return true;
}

} // namespace TAVDll::detail
