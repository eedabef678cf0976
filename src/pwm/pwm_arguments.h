#ifndef TAV_PWM_PWM_ARGUMENTS_H
#define TAV_PWM_PWM_ARGUMENTS_H

#include <stdint.h>

#include <string>

namespace TAVDll::detail {

// PWM arguments as people write them, read once for every front end (the C
// interface, tavctl, Python, the panel). Each gives false and a one-line
// reason on a mistake.
//   group:   "A", "B" or "C", either case; *group the upper-case letter
//   divider: 1, 2, 4, ... 128 (decimal, or hex with 0x)
//   duty:    counts 0..36000 (decimal, or hex with 0x), or a percentage of
//            digits and a point ("25%", "12.5%") rounded to the nearest count
bool ParsePwmGroup(const std::string& text, char* group, std::string* reason);
bool ParsePwmDivider(const std::string& text, int* divider, std::string* reason);
bool ParseDuty(const std::string& text, uint32_t* counts, std::string* reason);

} // namespace TAVDll::detail

#endif
