#ifndef TAV_PINS_PIN_NAMES_H
#define TAV_PINS_PIN_NAMES_H

#include <stdint.h>

#include <string>
#include <vector>

namespace TAVDll::detail {

// How pins are written, for help and for the reason a name is refused.
constexpr const char* PIN_SYNTAX = "P4.0-P4.15, P8.0-P8.16, ranges like P4.0-3, lists like P4.0,P8.2, "
                                   "or an identifier like 0x40000001";

// A level word: "1", "high", "on" are 1; "0", "low", "off" are 0. False, with
// the reason, for any other text.
bool ParseLevelWord(const std::string& text, int* level, std::string* reason);

// Pins as people write them: names P4.0-P4.15 and P8.0-P8.16, ranges within a
// bank (P4.0-3), comma lists of these (P4.0,P8.2-3), or one identifier in hex
// with 0x or in decimal. Gives one identifier per bank, in the order the
// banks first appear; on a mistake false and a one-line reason.
bool ParsePinText(const std::string& text, std::vector<uint32_t>* identifiers, std::string* reason);

} // namespace TAVDll::detail

#endif
