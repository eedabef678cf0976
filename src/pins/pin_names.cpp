#include "pins/pin_names.h"

#include <cctype>
#include <cstdio>

#include "pin_map_table.h"

namespace TAVDll::detail {

namespace {


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

bool AllOf(const std::string& text, int (*accept)(int))
{
    for (char symbol : text) {
        if (!accept(static_cast<unsigned char>(symbol)))
            return false;
    }
    return !text.empty();
}

// Digits of one base into a 32-bit value; false on overflow.
bool Accumulate(const std::string& digits, unsigned base, uint32_t* value)
{
    uint64_t number = 0;
    for (char symbol : digits) {
        const unsigned digit = std::isdigit(static_cast<unsigned char>(symbol))
                                   ? static_cast<unsigned>(symbol - '0')
                                   : static_cast<unsigned>(std::tolower(static_cast<unsigned char>(symbol)) - 'a' + 10);
        number = number * base + digit;
        if (number > 0xFFFFFFFFu)
            return false;
    }
    *value = static_cast<uint32_t>(number);
    return true;
}

bool ParseIdentifier(const std::string& text, uint32_t* identifier, std::string* reason)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (!AllOf(digits, hex ? isxdigit : isdigit)) {
        *reason = "pin identifier '" + text + "' is neither hex with 0x nor decimal";
        if (!hex && AllOf(digits, isxdigit))
            *reason += " (did you mean 0x" + digits + "?)";
        return false;
    }
    uint32_t value = 0;
    if (!Accumulate(digits, hex ? 16 : 10, &value)) {
        *reason = "pin identifier '" + text + "' does not fit in 32 bits";
        return false;
    }
    if (!KnownPinBank(value)) {
        *reason = "pin identifier " + Hex32(value) + " names no bank: its top four bits must be 4 (P4) or 8 (P8)";
        uint32_t asHex = 0;
        if (!hex && Accumulate(digits, 16, &asHex) && KnownPinBank(asHex))
            *reason += " (did you mean 0x" + digits + "?)";
        return false;
    }
    if ((value & ~PIN_BANK_FIELD) == 0) {
        *reason = "pin identifier " + Hex32(value) + " names no pin";
        return false;
    }
    *identifier = value;
    return true;
}

bool ParseName(const std::string& item, uint32_t* bank, uint32_t* bits, std::string* reason)
{
    if (item.size() < 4 || (item[0] != 'P' && item[0] != 'p') || item[2] != '.') {
        *reason = "unknown pin name '" + item + "': use " + PIN_SYNTAX;
        return false;
    }
    if (item[1] != '4' && item[1] != '8') {
        *reason = "unknown pin bank in '" + item + "': banks are P4 (pins 0-15) and P8 (pins 0-16)";
        return false;
    }
    *bank = item[1] == '4' ? PIN_BANK_4 : PIN_BANK_8;
    const int pinCount = static_cast<int>(item[1] == '4' ? BANK_4_PIN_COUNT : BANK_8_PIN_COUNT);
    const std::string numbers = item.substr(3);
    const size_t dash = numbers.find('-');
    const std::string firstText = numbers.substr(0, dash);
    const std::string lastText = dash == std::string::npos ? firstText : numbers.substr(dash + 1);
    uint32_t first = 0;
    uint32_t last = 0;
    for (const std::string* part : {&firstText, &lastText}) {
        if (part->size() > 3 || !AllOf(*part, isdigit)) {
            *reason = "unknown pin name '" + item + "': use " + PIN_SYNTAX;
            return false;
        }
    }
    Accumulate(firstText, 10, &first);
    Accumulate(lastText, 10, &last);
    for (uint32_t bit : {first, last}) {
        if (bit >= static_cast<uint32_t>(pinCount)) {
            *reason = "pin P" + std::string(1, item[1]) + "." + std::to_string(bit) + " does not exist: bank P"
                      + std::string(1, item[1]) + " has pins 0-" + std::to_string(pinCount - 1);
            return false;
        }
    }
    if (first > last) {
        *reason = "range " + item + " runs backwards";
        return false;
    }
    *bits = 0;
    for (uint32_t bit = first; bit <= last; ++bit)
        *bits |= 1u << bit;
    return true;
}

} // namespace

bool ParsePinText(const std::string& text, std::vector<uint32_t>* identifiers, std::string* reason)
{
    identifiers->clear();
    const std::string trimmed = Trim(text);
    if (trimmed.empty()) {
        *reason = "no pins given";
        return false;
    }
    if (std::isdigit(static_cast<unsigned char>(trimmed[0]))) {
        uint32_t identifier = 0;
        if (!ParseIdentifier(trimmed, &identifier, reason))
            return false;
        identifiers->push_back(identifier);
        return true;
    }
    size_t start = 0;
    while (start <= trimmed.size()) {
        const size_t comma = trimmed.find(',', start);
        const std::string item =
            Trim(trimmed.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        start = comma == std::string::npos ? trimmed.size() + 1 : comma + 1;
        uint32_t bank = 0;
        uint32_t bits = 0;
        if (!ParseName(item, &bank, &bits, reason)) {
            identifiers->clear();
            return false;
        }
        bool merged = false;
        for (uint32_t& identifier : *identifiers) {
            if ((identifier & PIN_BANK_FIELD) == bank) {
                identifier |= bits;
                merged = true;
            }
        }
        if (!merged)
            identifiers->push_back(bank | bits);
    }
    return true;
}

bool ParseLevelWord(const std::string& text, int* level, std::string* reason)
{
    static const struct {
        const char* word;
        int level;
    } LEVEL_WORDS[] = {{"1", 1}, {"high", 1}, {"on", 1}, {"0", 0}, {"low", 0}, {"off", 0}};
    for (const auto& entry : LEVEL_WORDS) {
        if (text == entry.word) {
            *level = entry.level;
            return true;
        }
    }
    *reason = "pin level '" + text + "' is none of 1, high, on, 0, low, off";
    return false;
}

} // namespace TAVDll::detail
