#include "records/records.h"

namespace TAVDll::detail {

namespace {

_INSTRUCTION_INFO_ NewRecord(uint8_t instructionClass, uint8_t operation)
{
    _INSTRUCTION_INFO_ record{};
    record.instructionClass = instructionClass;
    record.operation = operation;
    return record;
}

void PutByte(_INSTRUCTION_INFO_& record, size_t offset, uint8_t value)
{
    reinterpret_cast<uint8_t*>(&record)[offset] = value;
}

void PutWord(_INSTRUCTION_INFO_& record, size_t offset, uint32_t value)
{
    PutRecordWord(reinterpret_cast<uint8_t*>(&record), offset, value);
}

} // namespace

_INSTRUCTION_INFO_ MakeGpioPinRemap(uint32_t remapCode, uint8_t state)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_GPIO, GPIO_OP_PIN_REMAP);
    PutWord(record, REMAP_CODE_OFFSET, remapCode);
    PutWord(record, REMAP_STATE_OFFSET, state);
    return record;
}

_INSTRUCTION_INFO_ MakeRccRecord(uint8_t operation, uint32_t peripheralMask, uint8_t state)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_RCC, operation);
    PutByte(record, RCC_STATE_OFFSET, state);
    PutWord(record, RCC_MASK_OFFSET, peripheralMask);
    return record;
}

_INSTRUCTION_INFO_ MakeRccApb2Clock(uint32_t peripheralMask, uint8_t state)
{
    return MakeRccRecord(RCC_OP_APB2_CLOCK, peripheralMask, state);
}

_INSTRUCTION_INFO_ MakeRccApb1Clock(uint32_t peripheralMask, uint8_t state)
{
    return MakeRccRecord(RCC_OP_APB1_CLOCK, peripheralMask, state);
}

_INSTRUCTION_INFO_ MakeTimValueRecord(uint8_t operation, uint32_t timerIndex, uint32_t value)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_TIM, operation);
    PutWord(record, TIM_INDEX_OFFSET, timerIndex);
    PutWord(record, TIM_VALUE_OFFSET, value);
    return record;
}

_INSTRUCTION_INFO_ MakeTimTimeBaseRecord(uint8_t operation, uint32_t timerIndex, const TimeBaseParams& params)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_TIM, operation);
    PutWord(record, TIM_INDEX_OFFSET, timerIndex);
    PutWord(record, TIME_BASE_PRESCALER_OFFSET, params.prescaler);
    PutWord(record, TIME_BASE_COUNTER_MODE_OFFSET, params.counterMode);
    PutWord(record, TIME_BASE_PERIOD_OFFSET, params.period);
    PutWord(record, TIME_BASE_CLOCK_DIVISION_OFFSET, params.clockDivision);
    PutWord(record, TIME_BASE_REPETITION_OFFSET, params.repetitionCounter);
    return record;
}

_INSTRUCTION_INFO_ MakeTimOutputCompareRecord(uint8_t operation, uint32_t timerIndex,
                                              const OutputCompareParams& params)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_TIM, operation);
    PutWord(record, TIM_INDEX_OFFSET, timerIndex);
    PutWord(record, OC_MODE_OFFSET, params.ocMode);
    PutWord(record, OC_OUTPUT_STATE_OFFSET, params.outputState);
    PutWord(record, OC_OUTPUT_N_STATE_OFFSET, params.outputNState);
    PutWord(record, OC_PULSE_OFFSET, params.pulse);
    PutWord(record, OC_POLARITY_OFFSET, params.ocPolarity);
    PutWord(record, OC_N_POLARITY_OFFSET, params.ocNPolarity);
    PutWord(record, OC_IDLE_STATE_OFFSET, params.ocIdleState);
    PutWord(record, OC_N_IDLE_STATE_OFFSET, params.ocNIdleState);
    return record;
}

_INSTRUCTION_INFO_ MakeTimDeInit(uint32_t timerIndex)
{
    return MakeTimValueRecord(TIM_OP_DEINIT, timerIndex, 0);
}

_INSTRUCTION_INFO_ MakeTimTimeBaseInit(uint32_t timerIndex, TimeBaseParams params)
{
    return MakeTimTimeBaseRecord(TIM_OP_TIME_BASE_INIT, timerIndex, params);
}

_INSTRUCTION_INFO_ MakeTimOc1Init(uint32_t timerIndex, OutputCompareParams params)
{
    return MakeTimOutputCompareRecord(TIM_OP_OC1_INIT, timerIndex, params);
}

_INSTRUCTION_INFO_ MakeTimOc2Init(uint32_t timerIndex, OutputCompareParams params)
{
    return MakeTimOutputCompareRecord(TIM_OP_OC2_INIT, timerIndex, params);
}

_INSTRUCTION_INFO_ MakeTimOc3Init(uint32_t timerIndex, OutputCompareParams params)
{
    return MakeTimOutputCompareRecord(TIM_OP_OC3_INIT, timerIndex, params);
}

_INSTRUCTION_INFO_ MakeTimOc4Init(uint32_t timerIndex, OutputCompareParams params)
{
    return MakeTimOutputCompareRecord(TIM_OP_OC4_INIT, timerIndex, params);
}

_INSTRUCTION_INFO_ MakeTimCmd(uint32_t timerIndex, uint8_t state)
{
    return MakeTimValueRecord(TIM_OP_CMD, timerIndex, state);
}

_INSTRUCTION_INFO_ MakeTimCtrlPwmOutputs(uint32_t timerIndex, uint8_t state)
{
    return MakeTimValueRecord(TIM_OP_CTRL_PWM_OUTPUTS, timerIndex, state);
}

_INSTRUCTION_INFO_ MakeTimArrPreload(uint32_t timerIndex, uint8_t state)
{
    return MakeTimValueRecord(TIM_OP_ARR_PRELOAD, timerIndex, state);
}

_INSTRUCTION_INFO_ MakeTimOc1Preload(uint32_t timerIndex, uint32_t preloadCode)
{
    return MakeTimValueRecord(TIM_OP_OC1_PRELOAD, timerIndex, preloadCode);
}

_INSTRUCTION_INFO_ MakeTimOc2Preload(uint32_t timerIndex, uint32_t preloadCode)
{
    return MakeTimValueRecord(TIM_OP_OC2_PRELOAD, timerIndex, preloadCode);
}

_INSTRUCTION_INFO_ MakeTimOc3Preload(uint32_t timerIndex, uint32_t preloadCode)
{
    return MakeTimValueRecord(TIM_OP_OC3_PRELOAD, timerIndex, preloadCode);
}

_INSTRUCTION_INFO_ MakeTimOc4Preload(uint32_t timerIndex, uint32_t preloadCode)
{
    return MakeTimValueRecord(TIM_OP_OC4_PRELOAD, timerIndex, preloadCode);
}

_INSTRUCTION_INFO_ MakeBoardInit(uint32_t startupArgument)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_BOARD_INIT, 0);
    PutWord(record, BOARD_INIT_ARGUMENT_OFFSET, startupArgument);
    return record;
}

} // namespace TAVDll::detail
