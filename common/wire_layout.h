// The board's 64-byte instruction records as the firmware reads them: where
// each slot is, the chip vendor's two timer structures, the vendor codes the
// records carry, and the clock the timers count. The record builders write
// by it, the record decoder and the board model read by it. Shared inside
// this project; not public API. (The tests keep literal offsets of their own
// as the independent check.)
#ifndef TAV_COMMON_WIRE_LAYOUT_H
#define TAV_COMMON_WIRE_LAYOUT_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "board_facts.h"

namespace TAVDll::detail {

// Byte offsets of the slots each operation uses.
constexpr size_t CLASS_OFFSET = 0;
constexpr size_t OPERATION_OFFSET = 1;
constexpr size_t GPIO_SPEED_OFFSET = 2;
constexpr size_t GPIO_MODE_OFFSET = 3;
constexpr size_t GPIO_PORT_OFFSET = 8;
constexpr size_t GPIO_MASK_OFFSET = 12;
constexpr size_t REMAP_CODE_OFFSET = 24;
constexpr size_t REMAP_STATE_OFFSET = 36;
constexpr size_t RCC_STATE_OFFSET = 7;
constexpr size_t RCC_MASK_OFFSET = 8;
constexpr size_t TIM_INDEX_OFFSET = 8;
constexpr size_t TIM_VALUE_OFFSET = 32;
constexpr size_t BOARD_INIT_ARGUMENT_OFFSET = 8;

constexpr size_t TIME_BASE_PRESCALER_OFFSET = 12;
constexpr size_t TIME_BASE_COUNTER_MODE_OFFSET = 16;
constexpr size_t TIME_BASE_PERIOD_OFFSET = 20;
constexpr size_t TIME_BASE_CLOCK_DIVISION_OFFSET = 24;
constexpr size_t TIME_BASE_REPETITION_OFFSET = 28;

// The output-compare structure fills 12..28, skips 32 and goes on at 36.
constexpr size_t OC_MODE_OFFSET = 12;
constexpr size_t OC_OUTPUT_STATE_OFFSET = 16;
constexpr size_t OC_OUTPUT_N_STATE_OFFSET = 20;
constexpr size_t OC_PULSE_OFFSET = 24;
constexpr size_t OC_POLARITY_OFFSET = 28;
constexpr size_t OC_N_POLARITY_OFFSET = 36;
constexpr size_t OC_IDLE_STATE_OFFSET = 40;
constexpr size_t OC_N_IDLE_STATE_OFFSET = 44;

static_assert(offsetof(_INSTRUCTION_INFO_, byteParam) + 5 == RCC_STATE_OFFSET, "RCC state is the last byte slot");
static_assert(offsetof(_INSTRUCTION_INFO_, wordParam) == GPIO_PORT_OFFSET, "first word slot holds port/timer");

// A little-endian word of a record's bytes.
constexpr uint32_t RecordWord(const uint8_t* bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8
           | static_cast<uint32_t>(bytes[offset + 2]) << 16 | static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

// Writes a little-endian word into a record's bytes, whatever the host's
// byte order (the compiler makes one store of it on a little-endian host).
inline void PutRecordWord(uint8_t* bytes, size_t offset, uint32_t value)
{
    const uint8_t word[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                             static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    memcpy(bytes + offset, word, sizeof word);
}

// The vendor's TIM_TimeBaseInitTypeDef, in declared order.
struct TimeBaseParams {
    uint32_t prescaler;
    uint32_t counterMode;
    uint32_t period;
    uint32_t clockDivision;
    uint8_t repetitionCounter;
};

// The vendor's TIM_OCInitTypeDef, in declared order.
struct OutputCompareParams {
    uint32_t ocMode;
    uint32_t outputState;
    uint32_t outputNState;
    uint32_t pulse;
    uint32_t ocPolarity;
    uint32_t ocNPolarity;
    uint32_t ocIdleState;
    uint32_t ocNIdleState;
};

// Vendor codes in timer records.
constexpr uint32_t TIM_OCMODE_PWM1 = 0x60;
constexpr uint32_t TIM_OUTPUT_STATE_ENABLE = 1;
constexpr uint32_t TIM_OUTPUT_N_STATE_ENABLE = 4;
constexpr uint32_t TIM_OCPRELOAD_ENABLE = 8;
constexpr uint32_t TIM_OC_POLARITY_LOW = 0x2;

// The clock gates of the three timers (RCC_APB2Periph_TIM1, RCC_APB1Periph_TIM2/3).
constexpr uint32_t RCC_APB2_TIM1 = 0x800;
constexpr uint32_t RCC_APB1_TIM2 = 0x1;
constexpr uint32_t RCC_APB1_TIM3 = 0x2;

// The timers count at 72 MHz, the usual clock of this board class (the board
// does not report it); 36000 steps a period give 2000 Hz undivided.
constexpr uint32_t TIMER_CLOCK_HZ = 72000000;
constexpr uint32_t PWM_BASE_HZ = TIMER_CLOCK_HZ / PWM_FULL_SCALE;
static_assert(PWM_BASE_HZ * PWM_FULL_SCALE == TIMER_CLOCK_HZ, "a whole number of periods a second");

} // namespace TAVDll::detail

#endif
