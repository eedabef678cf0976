// The C interface's argument readers: pins, PWM groups, dividers, duties and
// selectors as every front end reads them from text, with the reason a text
// is refused.
#include <cstring>
#include <string>
#include <vector>

#include "board_facts.h"
#include "capi/call_support.h"
#include "link/debug_print.h"
#include "link/selector.h"
#include "pins/pin_names.h"
#include "pwm/pwm_arguments.h"
#include "tav/tav.h"

using namespace TAVDll;
using namespace TAVDll::detail;

namespace {

// One of the argument readers for the C interface: TAV_OK, or TAV_E_INVALID
// with its reason.
template <typename Result, typename Reader>
int ParseArgument(const char* text, Result* result, char* reason, size_t reasonSize, Reader read)
{
    std::string why = "no text or no room for the result";
    if (text != nullptr && result != nullptr && read(std::string(text), result, &why))
        return TAV_OK;
    if (reason != nullptr && reasonSize > 0)
        CopyText(why.c_str(), reason, reasonSize);
    return TAV_E_INVALID;
}

} // namespace

namespace TAVDll::detail {

// Why text is no selector, in words, as tav_parse_selector and
// tav_open_problem give it.
std::string SelectorReason(const char* text)
{
    char quoted[96] = "no text";
    if (text != nullptr)
        QuoteText(text, quoted, sizeof quoted);
    std::string virtualBoards;
    for (const BoardModelEntry& model : BOARD_MODELS)
        virtualBoards += std::string(virtualBoards.empty() ? "" : ", ") + "sim:" + model.letter;
    // The board part, after any prefixes, says which kind was meant.
    const char* board = text != nullptr ? std::strrchr(text, ':') : nullptr;
    const std::string rest = text != nullptr ? text : "";
    std::string why;
    if (rest.find("dev:") != std::string::npos) {
        why = " is not a board selector: dev: names a USB device node, /dev/bus/usb/BUS/DEV or a link to one (a "
              "udev rule's SYMLINK), and this is none";
    } else if (board != nullptr && board - text >= 3 && std::strncmp(board - 3, "sim:", 4) == 0) {
        char model[16] = "";
        QuoteText(board + 1, model, sizeof model);
        why = std::string(" is not a board selector: unknown model ") + model + " (virtual boards: " + virtualBoards + ")";
    } else {
        why = " is not a board selector: use BUS:DEV or usb:BUS:DEV (decimal, as `tavctl list` shows them), "
              "port:1-3.2, dev:/dev/bus/usb/BUS/DEV (or a link to it), or " + virtualBoards +
              ", each also after queued: or sync: and reattach: (or reattach-safe:, reattach-none:)";
    }
    return std::string(quoted) + why;
}

} // namespace TAVDll::detail

extern "C" {

int tav_parse_pins(const char* text, uint32_t ids[2], size_t* count, char* reason, size_t reason_size)
{
    std::vector<uint32_t> identifiers;
    std::string why;
    if (text == nullptr || ids == nullptr || count == nullptr)
        why = "no text or no room for the result";
    else if (ParsePinText(text, &identifiers, &why) && identifiers.size() <= 2) {
        for (size_t index = 0; index < identifiers.size(); ++index)
            ids[index] = identifiers[index];
        *count = identifiers.size();
        return TAV_OK;
    }
    if (count != nullptr)
        *count = 0;
    if (reason != nullptr && reason_size > 0)
        CopyText(why.c_str(), reason, reason_size);
    return TAV_E_INVALID;
}

int tav_parse_pwm_group(const char* text, char* group, char* reason, size_t reason_size)
{
    return ParseArgument(text, group, reason, reason_size, ParsePwmGroup);
}

int tav_parse_pwm_divider(const char* text, int* divider, char* reason, size_t reason_size)
{
    return ParseArgument(text, divider, reason, reason_size, ParsePwmDivider);
}

int tav_parse_duty(const char* text, uint32_t* counts, char* reason, size_t reason_size)
{
    return ParseArgument(text, counts, reason, reason_size, ParseDuty);
}

int tav_parse_level(const char* text, int* level, char* reason, size_t reason_size)
{
    return ParseArgument(text, level, reason, reason_size, ParseLevelWord);
}

const char* tav_pin_syntax(void)
{
    return PIN_SYNTAX;
}

int tav_parse_selector(const char* text, char* reason, size_t reason_size)
{
    Selector selector;
    if (text != nullptr && ParseSelector(text, &selector))
        return TAV_OK;
    if (reason != nullptr && reason_size > 0)
        CopyText(SelectorReason(text).c_str(), reason, reason_size);
    return TAV_E_INVALID;
}

int tav_selector_is_virtual(const char* selector)
{
    Selector parsed;
    if (!ParseSelector(selector, &parsed) || !ApplyDefaultSelector(&parsed))
        return TAV_E_INVALID;
    return parsed.kind == Selector::Kind::Virtual ? 1 : 0;
}

} // extern "C"
