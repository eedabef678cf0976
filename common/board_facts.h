// Facts about the TAV board that the library, the board model, the record
// decoder and the tools all need: USB identity, pipes, record size, model
// letters, GPIO mode and remap codes, pin names. Shared inside this project
// only: not installed and not public API. The pin map and the PWM tables sit
// beside it (pin_map_table.h, pwm_tables.h).
#ifndef TAV_COMMON_BOARD_FACTS_H
#define TAV_COMMON_BOARD_FACTS_H

#include <stddef.h>
#include <stdint.h>

#include "TAVLib.h"

namespace TAVDll::detail {

// USB identity and pipes.
constexpr uint16_t BOARD_VENDOR_ID = 0x4C52;
constexpr uint16_t BOARD_PRODUCT_ID = 0x0101;
constexpr int BOARD_CONFIGURATION = 1;
constexpr int BOARD_INTERFACE = 0;
constexpr int ENDPOINT_OUT = 0x02;
constexpr int ENDPOINT_IN = 0x83;
constexpr int TRANSFER_TIMEOUT_MS = 5000;
constexpr size_t RECORD_SIZE = sizeof(_INSTRUCTION_INFO_);
static_assert(RECORD_SIZE == 64, "one record is one 64-byte packet");

// The board-information reply: model letter at 0, four version bytes at 4.
constexpr size_t REPLY_MODEL_OFFSET = 0;
constexpr size_t REPLY_VERSION_OFFSET = 4;

// Board models by the letter the board reports, in the order the library
// names them.
struct BoardModelEntry {
    char letter;
    BoardType type;
};
constexpr BoardModelEntry BOARD_MODELS[] = {{'T', BOARD_T}, {'S', BOARD_S}, {'C', BOARD_C}};
constexpr size_t BOARD_MODEL_COUNT = sizeof BOARD_MODELS / sizeof BOARD_MODELS[0];

// The model's place in BOARD_MODELS, or -1 for a letter of no model.
constexpr int ModelIndex(char letter)
{
    for (size_t index = 0; index < BOARD_MODEL_COUNT; ++index) {
        if (BOARD_MODELS[index].letter == letter)
            return static_cast<int>(index);
    }
    return -1;
}

constexpr BoardType BoardTypeFromLetter(char letter)
{
    return ModelIndex(letter) < 0 ? BOARD_OTHER : BOARD_MODELS[ModelIndex(letter)].type;
}

constexpr char ModelLetter(BoardType type)
{
    for (const BoardModelEntry& model : BOARD_MODELS) {
        if (model.type == type)
            return model.letter;
    }
    return '?';
}

// GPIO_Mode codes of the chip vendor's GPIO driver.
constexpr uint8_t GPIO_MODE_AIN = 0x00;
constexpr uint8_t GPIO_MODE_IN_FLOATING = 0x04;
constexpr uint8_t GPIO_MODE_IPD = 0x28;
constexpr uint8_t GPIO_MODE_IPU = 0x48;
constexpr uint8_t GPIO_MODE_OUT_OD = 0x14;
constexpr uint8_t GPIO_MODE_OUT_PP = 0x10;
constexpr uint8_t GPIO_MODE_AF_OD = 0x1C;
constexpr uint8_t GPIO_MODE_AF_PP = 0x18;
constexpr uint8_t GPIO_SPEED_50MHZ = 3;

constexpr bool IsGpioMode(uint8_t mode)
{
    return mode == GPIO_MODE_AIN || mode == GPIO_MODE_IN_FLOATING || mode == GPIO_MODE_IPD || mode == GPIO_MODE_IPU
           || mode == GPIO_MODE_OUT_OD || mode == GPIO_MODE_OUT_PP || mode == GPIO_MODE_AF_OD
           || mode == GPIO_MODE_AF_PP;
}

// GPIO_PinRemapConfig codes for the serial-wire/JTAG debug port.
constexpr uint32_t GPIO_REMAP_SWJ_NOJTRST = 0x300100;
constexpr uint32_t GPIO_REMAP_SWJ_JTAG_DISABLE = 0x300200;
constexpr uint32_t GPIO_REMAP_SWJ_DISABLE = 0x300400;
// GPIO_PinRemapConfig's NewState: ENABLE applies the remap.
constexpr uint8_t REMAP_APPLY = 1;

// Microcontroller ports A-C and their pin names ("PB8").
constexpr int PORT_COUNT = 3;
constexpr int PINS_PER_PORT = 16;
enum PortIndex : uint8_t { PORT_A = 0, PORT_B = 1, PORT_C = 2 };

// One pin of the microcontroller, as every table names it.
struct McuPin {
    uint8_t port; // PORT_A..PORT_C
    uint8_t pin;  // 0..15
    // Its bit in the port's registers (a GPIO record's pin mask).
    constexpr uint32_t Mask() const { return 1u << pin; }
};

// The pins of the serial-wire/JTAG debug port, by what each remap code
// leaves to it: serial wire (PA13 SWDIO, PA14 SWCLK) is kept by every code
// but SWJ_DISABLE, JTAG (PA15 JTDI, PB3 JTDO) only by NOJTRST, and PB4
// (NJTRST) by none of them.
enum class DebugPinRole { None, SerialWire, Jtag, Jtrst };

constexpr DebugPinRole DebugPinRoleOf(int port, int pin)
{
    if (port == PORT_A && (pin == 13 || pin == 14))
        return DebugPinRole::SerialWire;
    if ((port == PORT_A && pin == 15) || (port == PORT_B && pin == 3))
        return DebugPinRole::Jtag;
    if (port == PORT_B && pin == 4)
        return DebugPinRole::Jtrst;
    return DebugPinRole::None;
}

constexpr char PortLetter(int port)
{
    return static_cast<char>('A' + port);
}

} // namespace TAVDll::detail

#endif
