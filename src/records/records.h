#ifndef TAV_RECORDS_RECORDS_H
#define TAV_RECORDS_RECORDS_H

#include "wire_layout.h"

#if defined(__GNUC__)
#define TAV_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define TAV_ALWAYS_INLINE inline
#endif

namespace TAVDll::detail {

// The builders a sequence sends (GPIO, clock gates, timers) are inline, so
// that each record is written straight into its slot of the batch.
inline _INSTRUCTION_INFO_ NewRecord(uint8_t instructionClass, uint8_t operation)
{
    _INSTRUCTION_INFO_ record{};
    record.instructionClass = instructionClass;
    record.operation = operation;
    return record;
}

inline void PutRecordByte(_INSTRUCTION_INFO_& record, size_t offset, uint8_t value)
{
    reinterpret_cast<uint8_t*>(&record)[offset] = value;
}

inline void PutRecordWord(_INSTRUCTION_INFO_& record, size_t offset, uint32_t value)
{
    PutRecordWord(reinterpret_cast<uint8_t*>(&record), offset, value);
}

// Aims a GPIO_Init, GPIO_SetBits or GPIO_ResetBits record at other pins: a
// walk over many pins builds its record once and aims a copy at each.
inline void AimGpioRecord(_INSTRUCTION_INFO_& record, uint32_t portIndex, uint32_t pinMask)
{
    PutRecordWord(record, GPIO_PORT_OFFSET, portIndex);
    PutRecordWord(record, GPIO_MASK_OFFSET, pinMask);
}

inline _INSTRUCTION_INFO_ MakeGpioBitsRecord(uint8_t operation, uint32_t portIndex, uint32_t pinMask)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_GPIO, operation);
    AimGpioRecord(record, portIndex, pinMask);
    return record;
}

inline _INSTRUCTION_INFO_ MakeGpioInit(uint32_t portIndex, uint32_t pinMask, uint8_t speedCode, uint8_t modeCode)
{
    _INSTRUCTION_INFO_ record = MakeGpioBitsRecord(GPIO_OP_INIT, portIndex, pinMask);
    PutRecordByte(record, GPIO_SPEED_OFFSET, speedCode);
    PutRecordByte(record, GPIO_MODE_OFFSET, modeCode);
    return record;
}

inline _INSTRUCTION_INFO_ MakeGpioSetBits(uint32_t portIndex, uint32_t pinMask)
{
    return MakeGpioBitsRecord(GPIO_OP_SET_BITS, portIndex, pinMask);
}

inline _INSTRUCTION_INFO_ MakeGpioResetBits(uint32_t portIndex, uint32_t pinMask)
{
    return MakeGpioBitsRecord(GPIO_OP_RESET_BITS, portIndex, pinMask);
}

_INSTRUCTION_INFO_ MakeGpioPinRemap(uint32_t remapCode, uint8_t state);

inline _INSTRUCTION_INFO_ MakeRccRecord(uint8_t operation, uint32_t peripheralMask, uint8_t state)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_RCC, operation);
    PutRecordByte(record, RCC_STATE_OFFSET, state);
    PutRecordWord(record, RCC_MASK_OFFSET, peripheralMask);
    return record;
}

inline _INSTRUCTION_INFO_ MakeRccApb2Clock(uint32_t peripheralMask, uint8_t state)
{
    return MakeRccRecord(RCC_OP_APB2_CLOCK, peripheralMask, state);
}

inline _INSTRUCTION_INFO_ MakeRccApb1Clock(uint32_t peripheralMask, uint8_t state)
{
    return MakeRccRecord(RCC_OP_APB1_CLOCK, peripheralMask, state);
}

inline _INSTRUCTION_INFO_ MakeTimValueRecord(uint8_t operation, uint32_t timerIndex, uint32_t value)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_TIM, operation);
    PutRecordWord(record, TIM_INDEX_OFFSET, timerIndex);
    PutRecordWord(record, TIM_VALUE_OFFSET, value);
    return record;
}

inline _INSTRUCTION_INFO_ MakeTimTimeBaseRecord(uint8_t operation, uint32_t timerIndex, const TimeBaseParams& params)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_TIM, operation);
    PutRecordWord(record, TIM_INDEX_OFFSET, timerIndex);
    PutRecordWord(record, TIME_BASE_PRESCALER_OFFSET, params.prescaler);
    PutRecordWord(record, TIME_BASE_COUNTER_MODE_OFFSET, params.counterMode);
    PutRecordWord(record, TIME_BASE_PERIOD_OFFSET, params.period);
    PutRecordWord(record, TIME_BASE_CLOCK_DIVISION_OFFSET, params.clockDivision);
    PutRecordWord(record, TIME_BASE_REPETITION_OFFSET, params.repetitionCounter);
    return record;
}

TAV_ALWAYS_INLINE _INSTRUCTION_INFO_ MakeTimOutputCompareRecord(uint8_t operation, uint32_t timerIndex,
                                                     const OutputCompareParams& params)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_TIM, operation);
    PutRecordWord(record, TIM_INDEX_OFFSET, timerIndex);
    PutRecordWord(record, OC_MODE_OFFSET, params.ocMode);
    PutRecordWord(record, OC_OUTPUT_STATE_OFFSET, params.outputState);
    PutRecordWord(record, OC_OUTPUT_N_STATE_OFFSET, params.outputNState);
    PutRecordWord(record, OC_PULSE_OFFSET, params.pulse);
    PutRecordWord(record, OC_POLARITY_OFFSET, params.ocPolarity);
    PutRecordWord(record, OC_N_POLARITY_OFFSET, params.ocNPolarity);
    PutRecordWord(record, OC_IDLE_STATE_OFFSET, params.ocIdleState);
    PutRecordWord(record, OC_N_IDLE_STATE_OFFSET, params.ocNIdleState);
    return record;
}

// An output-compare unit's (1-4) set-up and preload: the four units'
// records differ only in their operation code.
TAV_ALWAYS_INLINE _INSTRUCTION_INFO_ MakeTimOcInit(uint8_t unit, uint32_t timerIndex, const OutputCompareParams& params)
{
    static_assert(TIM_OP_OC2_INIT == TIM_OP_OC1_INIT + 1 && TIM_OP_OC4_INIT == TIM_OP_OC1_INIT + 3,
                  "output-compare set-ups by unit");
    return MakeTimOutputCompareRecord(static_cast<uint8_t>(TIM_OP_OC1_INIT + unit - 1), timerIndex, params);
}

inline _INSTRUCTION_INFO_ MakeTimOcPreload(uint8_t unit, uint32_t timerIndex, uint32_t preloadCode)
{
    static_assert(TIM_OP_OC2_PRELOAD == TIM_OP_OC1_PRELOAD + 1 && TIM_OP_OC4_PRELOAD == TIM_OP_OC1_PRELOAD + 3,
                  "output-compare preloads by unit");
    return MakeTimValueRecord(static_cast<uint8_t>(TIM_OP_OC1_PRELOAD + unit - 1), timerIndex, preloadCode);
}

inline _INSTRUCTION_INFO_ MakeTimDeInit(uint32_t timerIndex)
{
    return MakeTimValueRecord(TIM_OP_DEINIT, timerIndex, 0);
}

inline _INSTRUCTION_INFO_ MakeTimTimeBaseInit(uint32_t timerIndex, const TimeBaseParams& params)
{
    return MakeTimTimeBaseRecord(TIM_OP_TIME_BASE_INIT, timerIndex, params);
}

inline _INSTRUCTION_INFO_ MakeTimCmd(uint32_t timerIndex, uint8_t state)
{
    return MakeTimValueRecord(TIM_OP_CMD, timerIndex, state);
}

inline _INSTRUCTION_INFO_ MakeTimCtrlPwmOutputs(uint32_t timerIndex, uint8_t state)
{
    return MakeTimValueRecord(TIM_OP_CTRL_PWM_OUTPUTS, timerIndex, state);
}

inline _INSTRUCTION_INFO_ MakeTimArrPreload(uint32_t timerIndex, uint8_t state)
{
    return MakeTimValueRecord(TIM_OP_ARR_PRELOAD, timerIndex, state);
}

_INSTRUCTION_INFO_ MakeTimOc1Init(uint32_t timerIndex, OutputCompareParams params);
_INSTRUCTION_INFO_ MakeTimOc2Init(uint32_t timerIndex, OutputCompareParams params);
_INSTRUCTION_INFO_ MakeTimOc3Init(uint32_t timerIndex, OutputCompareParams params);
_INSTRUCTION_INFO_ MakeTimOc4Init(uint32_t timerIndex, OutputCompareParams params);
_INSTRUCTION_INFO_ MakeTimOc1Preload(uint32_t timerIndex, uint32_t preloadCode);
_INSTRUCTION_INFO_ MakeTimOc2Preload(uint32_t timerIndex, uint32_t preloadCode);
_INSTRUCTION_INFO_ MakeTimOc3Preload(uint32_t timerIndex, uint32_t preloadCode);
_INSTRUCTION_INFO_ MakeTimOc4Preload(uint32_t timerIndex, uint32_t preloadCode);

// The class-1 start-up record: the argument at offset 8, byte 1 left zero.
_INSTRUCTION_INFO_ MakeBoardInit(uint32_t startupArgument);

} // namespace TAVDll::detail

#endif
