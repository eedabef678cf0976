#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "pin_map_table.h"
#include "tool.h"

namespace tavctl {

namespace {

using TAVDll::detail::BANK_4_PIN_COUNT;
using TAVDll::detail::BANK_8_PIN_COUNT;

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

std::string Hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string PinName(uint32_t bank, int bit)
{
    return (bank == TAVDll::PIN_BANK_4 ? "P4." : "P8.") + std::to_string(bit);
}

int BankPinCount(uint32_t bank)
{
    return bank == TAVDll::PIN_BANK_4 ? static_cast<int>(BANK_4_PIN_COUNT) : static_cast<int>(BANK_8_PIN_COUNT);
}

// The microcontroller pin a single-pin identifier reaches on this model, or
// empty when it reaches none.
std::string McuPinOf(uint32_t singlePin, TAVDll::BoardType model)
{
    const int column = TAVDll::detail::PinMapColumn(model);
    const int row = TAVDll::detail::PinMapRowIndex(singlePin);
    if (column < 0 || row < 0)
        return "";
    const TAVDll::detail::McuPin& target = TAVDll::detail::PIN_MAP[row].byModel[column];
    return TAVDll::detail::McuPinName(target.port, target.pin);
}

} // namespace

std::string BoardModelName(TAVDll::BoardType type)
{
    switch (type) {
    case TAVDll::BOARD_T: return "T";
    case TAVDll::BOARD_C: return "C";
    case TAVDll::BOARD_S: return "S";
    default: return "other";
    }
}

void Check(int result, const std::string& what)
{
    if (result != TAVDll::RESULT_OK)
        throw ToolError(what + ": " + TAVDll::ResultText(result));
}

std::string DescribeRecord(const uint8_t* bytes)
{
    char text[512];
    tav_describe_record(bytes, text, sizeof text);
    return text;
}

uint64_t ParseNumber(const std::string& text, const std::string& what, uint64_t low, uint64_t high)
{
    const std::string trimmed = Trim(text);
    if (trimmed.empty() || trimmed[0] == '-' || trimmed[0] == '+')
        throw ToolError(what + " '" + text + "' is not a number", EXIT_USAGE);
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(trimmed.c_str(), &end, 0);
    if (errno != 0 || end == trimmed.c_str() || *end != '\0')
        throw ToolError(what + " '" + text + "' is not a number", EXIT_USAGE);
    if (value < low || value > high)
        throw ToolError(what + " " + trimmed + " is out of range (" + std::to_string(low) + " to " +
                            std::to_string(high) + ")",
                        EXIT_USAGE);
    return value;
}

std::vector<uint8_t> ParseHexBytes(const std::string& text)
{
    std::vector<uint8_t> bytes;
    std::string digits;
    for (char symbol : text) {
        if (std::isxdigit(static_cast<unsigned char>(symbol))) {
            digits += symbol;
        } else if (symbol == ' ' || symbol == '\t' || symbol == '\n' || symbol == '\r' || symbol == ':'
                   || symbol == ',') {
            if (digits.size() % 2 != 0)
                throw ToolError("malformed hex: '" + digits + "' is not a whole number of bytes", EXIT_USAGE);
        } else {
            throw ToolError(std::string("malformed hex: unexpected '") + symbol + "'", EXIT_USAGE);
        }
    }
    if (digits.size() % 2 != 0)
        throw ToolError("malformed hex: odd number of digits", EXIT_USAGE);
    for (size_t index = 0; index < digits.size(); index += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(index, 2), nullptr, 16)));
    return bytes;
}

std::vector<uint32_t> ParsePins(const std::string& text)
{
    uint32_t identifiers[2];
    size_t count = 0;
    char reason[256];
    if (tav_parse_pins(text.c_str(), identifiers, &count, reason, sizeof reason) != TAV_OK)
        throw ToolError(reason, EXIT_USAGE);
    return std::vector<uint32_t>(identifiers, identifiers + count);
}

std::string DescribePins(uint32_t pinId, TAVDll::BoardType model)
{
    const uint32_t bank = pinId & TAVDll::PIN_BANK_FIELD;
    if (bank != TAVDll::PIN_BANK_4 && bank != TAVDll::PIN_BANK_8)
        return Hex32(pinId);
    std::string text;
    for (int bit = 0; bit < 28; ++bit) {
        if ((pinId & (1u << bit)) == 0)
            continue;
        const std::string mcu = McuPinOf(bank | (1u << bit), model);
        text += (text.empty() ? "" : ", ") + PinName(bank, bit) + (mcu.empty() ? "" : " (" + mcu + ")");
    }
    return text.empty() ? "no pin" : text;
}

std::string FirstUnmappedPin(uint32_t pinId, TAVDll::BoardType model)
{
    const uint32_t bank = pinId & TAVDll::PIN_BANK_FIELD;
    for (int bit = 0; bit < 28; ++bit) {
        if ((pinId & (1u << bit)) == 0)
            continue;
        if (bit >= BankPinCount(bank))
            return "pin " + PinName(bank, bit) + " does not exist";
        if (McuPinOf(bank | (1u << bit), model).empty())
            return "pin " + PinName(bank, bit) + " has no mapping on board model " +
                   BoardModelName(model);
    }
    return "a pin has no mapping on board model " + BoardModelName(model);
}

} // namespace tavctl
