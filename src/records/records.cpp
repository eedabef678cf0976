#include "records/records.h"

namespace TAVDll::detail {

_INSTRUCTION_INFO_ MakeGpioPinRemap(uint32_t remapCode, uint8_t state)
{
    _INSTRUCTION_INFO_ record = NewRecord(CLASS_GPIO, GPIO_OP_PIN_REMAP);
    PutRecordWord(record, REMAP_CODE_OFFSET, remapCode);
    PutRecordWord(record, REMAP_STATE_OFFSET, state);
    return record;
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
    PutRecordWord(record, BOARD_INIT_ARGUMENT_OFFSET, startupArgument);
    return record;
}

} // namespace TAVDll::detail
