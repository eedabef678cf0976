#ifndef TAV_RECORDS_RECORDS_H
#define TAV_RECORDS_RECORDS_H

#include "board_facts.h"

namespace TAVDll::detail {

// Byte offsets of the slots each operation uses.
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

// Vendor constants the library sends.
constexpr uint32_t TIM_OCMODE_PWM1 = 0x60;
constexpr uint32_t TIM_OUTPUT_STATE_ENABLE = 1;
constexpr uint32_t TIM_OCPRELOAD_ENABLE = 8;

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

_INSTRUCTION_INFO_ MakeGpioInit(uint32_t portIndex, uint32_t pinMask, uint8_t speedCode, uint8_t modeCode);
_INSTRUCTION_INFO_ MakeGpioSetBits(uint32_t portIndex, uint32_t pinMask);
_INSTRUCTION_INFO_ MakeGpioResetBits(uint32_t portIndex, uint32_t pinMask);
_INSTRUCTION_INFO_ MakeGpioPinRemap(uint32_t remapCode, uint8_t state);

_INSTRUCTION_INFO_ MakeRccRecord(uint8_t operation, uint32_t peripheralMask, uint8_t state);
_INSTRUCTION_INFO_ MakeRccApb2Clock(uint32_t peripheralMask, uint8_t state);
_INSTRUCTION_INFO_ MakeRccApb1Clock(uint32_t peripheralMask, uint8_t state);

_INSTRUCTION_INFO_ MakeTimValueRecord(uint8_t operation, uint32_t timerIndex, uint32_t value);
_INSTRUCTION_INFO_ MakeTimTimeBaseRecord(uint8_t operation, uint32_t timerIndex, const TimeBaseParams& params);
_INSTRUCTION_INFO_ MakeTimOutputCompareRecord(uint8_t operation, uint32_t timerIndex,
                                              const OutputCompareParams& params);

_INSTRUCTION_INFO_ MakeTimDeInit(uint32_t timerIndex);
_INSTRUCTION_INFO_ MakeTimTimeBaseInit(uint32_t timerIndex, TimeBaseParams params);
_INSTRUCTION_INFO_ MakeTimOc1Init(uint32_t timerIndex, OutputCompareParams params);
_INSTRUCTION_INFO_ MakeTimOc2Init(uint32_t timerIndex, OutputCompareParams params);
_INSTRUCTION_INFO_ MakeTimOc3Init(uint32_t timerIndex, OutputCompareParams params);
_INSTRUCTION_INFO_ MakeTimOc4Init(uint32_t timerIndex, OutputCompareParams params);
_INSTRUCTION_INFO_ MakeTimCmd(uint32_t timerIndex, uint8_t state);
_INSTRUCTION_INFO_ MakeTimCtrlPwmOutputs(uint32_t timerIndex, uint8_t state);
_INSTRUCTION_INFO_ MakeTimArrPreload(uint32_t timerIndex, uint8_t state);
_INSTRUCTION_INFO_ MakeTimOc1Preload(uint32_t timerIndex, uint32_t preloadCode);
_INSTRUCTION_INFO_ MakeTimOc2Preload(uint32_t timerIndex, uint32_t preloadCode);
_INSTRUCTION_INFO_ MakeTimOc3Preload(uint32_t timerIndex, uint32_t preloadCode);
_INSTRUCTION_INFO_ MakeTimOc4Preload(uint32_t timerIndex, uint32_t preloadCode);

// The class-1 start-up record: the argument at offset 8, byte 1 left zero.
_INSTRUCTION_INFO_ MakeBoardInit(uint32_t startupArgument);

} // namespace TAVDll::detail

#endif
