// The board's pin map as data: which microcontroller pin each pin identifier
// reaches on each board model. One column per mapped model; a new model is one
// more column here and one more entry in PIN_MAP_MODELS. Shared by the
// library, the board model and the tools; not public API.
#ifndef TAV_COMMON_PIN_MAP_TABLE_H
#define TAV_COMMON_PIN_MAP_TABLE_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "board_facts.h"

namespace TAVDll::detail {

constexpr size_t PIN_MAP_MODEL_COUNT = 2;
constexpr BoardType PIN_MAP_MODELS[PIN_MAP_MODEL_COUNT] = {BOARD_T, BOARD_S};

constexpr size_t BANK_4_PIN_COUNT = 16;
constexpr size_t BANK_8_PIN_COUNT = 17;
constexpr size_t PIN_MAP_ROWS = BANK_4_PIN_COUNT + BANK_8_PIN_COUNT;

struct PinMapRow {
    uint32_t pinId;
    McuPin byModel[PIN_MAP_MODEL_COUNT];
};

// Rows 0-15: PIN_BANK_4 bits 0-15; rows 16-32: PIN_BANK_8 bits 0-16.
constexpr PinMapRow PIN_MAP[PIN_MAP_ROWS] = {
    //  identifier     BOARD_T          BOARD_S
    {0x40000001u, {{PORT_B, 0}, {PORT_A, 13}}},
    {0x40000002u, {{PORT_B, 1}, {PORT_A, 14}}},
    {0x40000004u, {{PORT_B, 2}, {PORT_A, 15}}},
    {0x40000008u, {{PORT_B, 3}, {PORT_B, 3}}},
    {0x40000010u, {{PORT_B, 4}, {PORT_B, 4}}},
    {0x40000020u, {{PORT_B, 5}, {PORT_B, 5}}},
    {0x40000040u, {{PORT_B, 6}, {PORT_B, 6}}},
    {0x40000080u, {{PORT_B, 7}, {PORT_B, 7}}},
    {0x40000100u, {{PORT_B, 8}, {PORT_B, 8}}},
    {0x40000200u, {{PORT_B, 9}, {PORT_B, 9}}},
    {0x40000400u, {{PORT_B, 10}, {PORT_C, 13}}},
    {0x40000800u, {{PORT_B, 11}, {PORT_C, 14}}},
    {0x40001000u, {{PORT_B, 12}, {PORT_C, 15}}},
    {0x40002000u, {{PORT_B, 13}, {PORT_A, 0}}},
    {0x40004000u, {{PORT_B, 14}, {PORT_A, 1}}},
    {0x40008000u, {{PORT_B, 15}, {PORT_A, 2}}},
    {0x80000001u, {{PORT_A, 0}, {PORT_A, 10}}},
    {0x80000002u, {{PORT_A, 1}, {PORT_A, 9}}},
    {0x80000004u, {{PORT_A, 2}, {PORT_A, 8}}},
    {0x80000008u, {{PORT_A, 3}, {PORT_B, 15}}},
    {0x80000010u, {{PORT_A, 4}, {PORT_B, 14}}},
    {0x80000020u, {{PORT_A, 5}, {PORT_B, 13}}},
    {0x80000040u, {{PORT_A, 6}, {PORT_B, 12}}},
    {0x80000080u, {{PORT_A, 7}, {PORT_B, 11}}},
    {0x80000100u, {{PORT_A, 8}, {PORT_B, 10}}},
    {0x80000200u, {{PORT_A, 9}, {PORT_B, 2}}},
    {0x80000400u, {{PORT_A, 10}, {PORT_B, 1}}},
    {0x80000800u, {{PORT_C, 13}, {PORT_B, 0}}},
    {0x80001000u, {{PORT_C, 14}, {PORT_A, 7}}},
    {0x80002000u, {{PORT_A, 13}, {PORT_A, 6}}},
    {0x80004000u, {{PORT_A, 14}, {PORT_A, 5}}},
    {0x80008000u, {{PORT_A, 15}, {PORT_A, 4}}},
    {0x80010000u, {{PORT_C, 15}, {PORT_A, 3}}},
};

// The rows follow the identifiers: bank 4 bits 0-15, then bank 8 bits 0-16,
// so that a pin's row is its bank's first row plus its bit.
constexpr bool RowsInIdentifierOrder()
{
    for (size_t row = 0; row < PIN_MAP_ROWS; ++row) {
        const uint32_t expected = row < BANK_4_PIN_COUNT ? PIN_BANK_4 | (1u << row)
                                                         : PIN_BANK_8 | (1u << (row - BANK_4_PIN_COUNT));
        if (PIN_MAP[row].pinId != expected)
            return false;
    }
    return true;
}
static_assert(RowsInIdentifierOrder(), "PIN_MAP rows must follow the identifiers");

// Whether the identifier's bank selector is bank 4 or bank 8 (the pin bits
// are not looked at).
constexpr bool KnownPinBank(uint32_t pins)
{
    return (pins & PIN_BANK_FIELD) == PIN_BANK_4 || (pins & PIN_BANK_FIELD) == PIN_BANK_8;
}

// The column of a board model, or -1 when the model has no pin map.
constexpr int PinMapColumn(BoardType boardType)
{
    for (size_t column = 0; column < PIN_MAP_MODEL_COUNT; ++column) {
        if (PIN_MAP_MODELS[column] == boardType)
            return static_cast<int>(column);
    }
    return -1;
}

// The row of a single-pin identifier, or -1 when it names no board pin.
constexpr int PinMapRowIndex(uint32_t pinId)
{
    const uint32_t bank = pinId & PIN_BANK_FIELD;
    const uint32_t bits = pinId & ~PIN_BANK_FIELD;
    if (bits == 0 || (bits & (bits - 1)) != 0)
        return -1;
    const int bit = __builtin_ctz(bits);
    if (bank == PIN_BANK_4 && bit < static_cast<int>(BANK_4_PIN_COUNT))
        return bit;
    if (bank == PIN_BANK_8 && bit < static_cast<int>(BANK_8_PIN_COUNT))
        return static_cast<int>(BANK_4_PIN_COUNT) + bit;
    return -1;
}

// "PB8" for port 1, pin 8.
inline std::string McuPinName(int port, int pin)
{
    return std::string("P") + PortLetter(port) + std::to_string(pin);
}

// The name of one bit of a bank's identifier, whether or not a board pin is
// there: "P4.3" for 0x40000008, "P8.17" for 0x80020000; empty for anything
// but a single bit of bank 4 or 8.
inline std::string BankBitName(uint32_t pinId)
{
    const uint32_t bank = pinId & PIN_BANK_FIELD;
    const uint32_t bits = pinId & ~PIN_BANK_FIELD;
    if ((bank != PIN_BANK_4 && bank != PIN_BANK_8) || bits == 0 || (bits & (bits - 1)) != 0)
        return "";
    return (bank == PIN_BANK_4 ? "P4." : "P8.") + std::to_string(__builtin_ctz(bits));
}

// "P4.0" for 0x40000001, "P8.16" for 0x80010000; empty for anything else.
inline std::string BoardPinName(uint32_t pinId)
{
    return PinMapRowIndex(pinId) < 0 ? "" : BankBitName(pinId);
}

} // namespace TAVDll::detail

#endif
