#include "pwm/pwm_arguments.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "pwm_tables.h"

namespace TAVDll::detail {

namespace {

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A whole number, decimal or hex with 0x, from low to high.
bool ParseWhole(const std::string& text, const char* what, uint64_t low, uint64_t high, uint64_t* value,
                std::string* reason)
{
    const std::string trimmed = Trim(text);
    const bool hex = trimmed.size() > 2 && trimmed[0] == '0' && (trimmed[1] == 'x' || trimmed[1] == 'X');
    const std::string digits = hex ? trimmed.substr(2) : trimmed;
    bool valid = !digits.empty();
    for (const char symbol : digits)
        valid = valid && (hex ? std::isxdigit(static_cast<unsigned char>(symbol)) : std::isdigit(static_cast<unsigned char>(symbol)));
    errno = 0;
    *value = valid ? std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10) : 0;
    if (!valid || errno != 0) {
        *reason = std::string(what) + " '" + text + "' is not a number (decimal, or hex with 0x)";
        return false;
    }
    if (*value < low || *value > high) {
        *reason = std::string(what) + " " + trimmed + " is out of range (" + std::to_string(low) + " to " +
                  std::to_string(high) + ")";
        return false;
    }
    return true;
}

} // namespace

bool ParsePwmGroup(const std::string& text, char* group, std::string* reason)
{
    if (text.size() == 1 && PwmGroupIndex(text[0]) >= 0) {
        *group = PwmGroupLetter(static_cast<size_t>(PwmGroupIndex(text[0])));
        return true;
    }
    std::string groups;
    for (size_t index = 0; index < PWM_GROUP_COUNT; ++index)
        groups += std::string(index == 0 ? "" : index + 1 == PWM_GROUP_COUNT ? " and " : ", ") + PwmGroupLetter(index);
    *reason = "PWM group '" + text + "' does not exist: groups are " + groups;
    return false;
}

bool ParsePwmDivider(const std::string& text, int* divider, std::string* reason)
{
    uint64_t value = 0;
    if (!ParseWhole(text, "divider", PwmDivider(0), PwmDivider(PWM_FREQUENCY_COUNT - 1), &value, reason))
        return false;
    if (PwmFrequencyIndex(value) < 0) {
        std::string dividers;
        for (size_t index = 0; index < PWM_FREQUENCY_COUNT; ++index)
            dividers += (index == 0 ? "" : ", ") + std::to_string(PwmDivider(index));
        *reason = "divider " + Trim(text) + " is not one of " + dividers;
        return false;
    }
    *divider = static_cast<int>(value);
    return true;
}

bool ParseDuty(const std::string& text, uint32_t* counts, std::string* reason)
{
    if (!text.empty() && text.back() == '%') {
        const std::string number = text.substr(0, text.size() - 1);
        char* end = nullptr;
        const double percent = std::strtod(number.c_str(), &end);
        if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos || *end != '\0'
            || !(percent >= 0.0) || percent > 100.0) {
            *reason = "duty " + text + " is not a percentage from 0% to 100%";
            return false;
        }
        *counts = static_cast<uint32_t>(std::lround(percent / 100.0 * PWM_FULL_SCALE));
        return true;
    }
    uint64_t value = 0;
    if (!ParseWhole(text, "duty", 0, 0xFFFFFFFFu, &value, reason))
        return false;
    if (value > PWM_FULL_SCALE) {
        *reason = "duty " + text + " is above full scale (" + std::to_string(PWM_FULL_SCALE) +
                  " counts, or give a percentage like 50%)";
        return false;
    }
    *counts = static_cast<uint32_t>(value);
    return true;
}

} // namespace TAVDll::detail
