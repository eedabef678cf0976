#include "record_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "board_facts.h"

namespace tavmodel {

namespace {

using namespace TAVDll::detail;

uint32_t Word(const std::array<uint8_t, RECORD_SIZE>& bytes, size_t offset)
{
    return RecordWord(bytes.data(), offset);
}

bool ValidOcMode(uint32_t mode)
{
    switch (mode) {
    case 0x00: case 0x10: case 0x20: case 0x30: case 0x60: case 0x70: return true;
    default: return false;
    }
}

bool ValidCounterMode(uint32_t mode)
{
    return mode == 0x00 || mode == 0x10 || mode == 0x20 || mode == 0x40 || mode == 0x60;
}

std::string Number(uint32_t value)
{
    return std::to_string(value);
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// Checks shared by every timer record.
// The checks note a problem in words only when there is one: every record
// of a real board's commanded state passes through here.
void CheckTimer(DecodedRecord& record)
{
    if (record.index > 2)
        record.problem = "timer index " + Number(record.index) + " (only 0-2: TIM1-TIM3)";
}

void CheckPinMask(DecodedRecord& record)
{
    if (record.mask == 0)
        record.problem = "pin mask of zero";
    else if ((record.mask & 0xFFFF0000u) != 0)
        record.problem = "pin mask " + Hex(record.mask) + " above pin 15";
}

void CheckState(DecodedRecord& record)
{
    if (record.value > 1)
        record.problem = "state " + Number(record.value) + " (only 0 or 1)";
}

void DecodeGpio(DecodedRecord& record)
{
    const auto& bytes = record.bytes;
    record.index = Word(bytes, GPIO_PORT_OFFSET);
    record.mask = Word(bytes, GPIO_MASK_OFFSET);
    switch (record.operation) {
    case TAVDll::GPIO_OP_INIT:
        record.kind = RecordKind::GpioInit;
        record.speed = bytes[GPIO_SPEED_OFFSET];
        record.mode = bytes[GPIO_MODE_OFFSET];
        break;
    case TAVDll::GPIO_OP_SET_BITS: record.kind = RecordKind::GpioSetBits; break;
    case TAVDll::GPIO_OP_RESET_BITS: record.kind = RecordKind::GpioResetBits; break;
    case TAVDll::GPIO_OP_PIN_REMAP:
        record.kind = RecordKind::GpioPinRemap;
        record.index = 0;
        record.mask = Word(bytes, REMAP_CODE_OFFSET);
        record.value = Word(bytes, REMAP_STATE_OFFSET);
        CheckState(record);
        if (record.problem.empty() && record.mask != GPIO_REMAP_SWJ_NOJTRST
            && record.mask != GPIO_REMAP_SWJ_JTAG_DISABLE && record.mask != GPIO_REMAP_SWJ_DISABLE)
            record.problem = "remap code " + Hex(record.mask) + " not supported by this board";
        return;
    default: record.problem = "unknown GPIO operation " + Number(record.operation); return;
    }
    if (record.index > 2)
        record.problem = "port index " + Number(record.index) + " (only 0-2: GPIOA-GPIOC)";
    else
        CheckPinMask(record);
    if (record.problem.empty() && record.kind == RecordKind::GpioInit) {
        if (!IsGpioMode(record.mode))
            record.problem = "GPIO mode " + Hex(record.mode) + " unknown";
        else if ((record.mode & 0x10) != 0 && (record.speed < 1 || record.speed > 3))
            record.problem = "GPIO speed " + Number(record.speed) + " unknown";
    }
}

void DecodeRcc(DecodedRecord& record)
{
    record.mask = Word(record.bytes, RCC_MASK_OFFSET);
    record.value = record.bytes[RCC_STATE_OFFSET];
    if (record.operation == TAVDll::RCC_OP_APB2_CLOCK) {
        record.kind = RecordKind::RccApb2Clock;
        if ((record.mask & 0xFFC00002u) != 0 || record.mask == 0)
            record.problem = "APB2 peripheral mask " + Hex(record.mask) + " invalid";
    } else if (record.operation == TAVDll::RCC_OP_APB1_CLOCK) {
        record.kind = RecordKind::RccApb1Clock;
        if ((record.mask & 0x81013600u) != 0 || record.mask == 0)
            record.problem = "APB1 peripheral mask " + Hex(record.mask) + " invalid";
    } else {
        record.problem = "unknown RCC operation " + Number(record.operation);
        return;
    }
    if (record.problem.empty())
        CheckState(record);
}

void DecodeTim(DecodedRecord& record)
{
    const auto& bytes = record.bytes;
    record.index = Word(bytes, TIM_INDEX_OFFSET);
    record.value = Word(bytes, TIM_VALUE_OFFSET);
    const uint8_t operation = record.operation;
    if (operation == TAVDll::TIM_OP_DEINIT) {
        record.kind = RecordKind::TimDeInit;
    } else if (operation == TAVDll::TIM_OP_TIME_BASE_INIT) {
        record.kind = RecordKind::TimTimeBaseInit;
        record.timeBase = {Word(bytes, TIME_BASE_PRESCALER_OFFSET), Word(bytes, TIME_BASE_COUNTER_MODE_OFFSET),
                           Word(bytes, TIME_BASE_PERIOD_OFFSET), Word(bytes, TIME_BASE_CLOCK_DIVISION_OFFSET),
                           bytes[TIME_BASE_REPETITION_OFFSET]};
    } else if (operation >= TAVDll::TIM_OP_OC1_INIT && operation <= TAVDll::TIM_OP_OC4_INIT) {
        record.kind = RecordKind::TimOcInit;
        record.unit = static_cast<uint8_t>(operation - TAVDll::TIM_OP_OC1_INIT + 1);
        record.outputCompare = {Word(bytes, OC_MODE_OFFSET),         Word(bytes, OC_OUTPUT_STATE_OFFSET),
                                Word(bytes, OC_OUTPUT_N_STATE_OFFSET), Word(bytes, OC_PULSE_OFFSET),
                                Word(bytes, OC_POLARITY_OFFSET),     Word(bytes, OC_N_POLARITY_OFFSET),
                                Word(bytes, OC_IDLE_STATE_OFFSET),   Word(bytes, OC_N_IDLE_STATE_OFFSET)};
    } else if (operation == TAVDll::TIM_OP_CMD) {
        record.kind = RecordKind::TimCmd;
    } else if (operation == TAVDll::TIM_OP_CTRL_PWM_OUTPUTS) {
        record.kind = RecordKind::TimCtrlPwmOutputs;
    } else if (operation == TAVDll::TIM_OP_ARR_PRELOAD) {
        record.kind = RecordKind::TimArrPreload;
    } else if (operation >= TAVDll::TIM_OP_OC1_PRELOAD && operation <= TAVDll::TIM_OP_OC4_PRELOAD) {
        record.kind = RecordKind::TimOcPreload;
        record.unit = static_cast<uint8_t>(operation - TAVDll::TIM_OP_OC1_PRELOAD + 1);
    } else {
        record.problem = "unknown TIM operation " + Number(operation);
        return;
    }
    CheckTimer(record);
    if (!record.problem.empty())
        return;
    switch (record.kind) {
    case RecordKind::TimCmd:
    case RecordKind::TimCtrlPwmOutputs:
    case RecordKind::TimArrPreload: CheckState(record); break;
    case RecordKind::TimOcPreload:
        if (record.value != 0 && record.value != 8)
            record.problem = "preload code " + Number(record.value) + " (only 0 or 8)";
        break;
    case RecordKind::TimTimeBaseInit:
        if (record.timeBase.prescaler > 0xFFFF)
            record.problem = "prescaler " + Number(record.timeBase.prescaler) + " above 16 bits";
        else if (record.timeBase.period > 0xFFFF)
            record.problem = "period " + Number(record.timeBase.period) + " above 16 bits";
        else if (!ValidCounterMode(record.timeBase.counterMode))
            record.problem = "counter mode " + Hex(record.timeBase.counterMode) + " unknown";
        else if (record.timeBase.clockDivision != 0 && record.timeBase.clockDivision != 0x100
                 && record.timeBase.clockDivision != 0x200)
            record.problem = "clock division " + Hex(record.timeBase.clockDivision) + " unknown";
        break;
    case RecordKind::TimOcInit:
        if (!ValidOcMode(record.outputCompare.ocMode))
            record.problem = "output-compare mode " + Hex(record.outputCompare.ocMode) + " unknown";
        else if (record.outputCompare.outputState > 1)
            record.problem = "output state " + Number(record.outputCompare.outputState) + " unknown";
        else if (record.outputCompare.pulse > 0xFFFF)
            record.problem = "pulse " + Number(record.outputCompare.pulse) + " above 16 bits";
        break;
    default: break;
    }
}

} // namespace

void DecodeRecordInto(const uint8_t* bytes, size_t length, DecodedRecord& record)
{
    record.kind = RecordKind::Unknown;
    record.problem.clear();
    record.index = 0;
    record.mask = 0;
    record.value = 0;
    record.speed = 0;
    record.mode = 0;
    record.unit = 0;
    // timeBase and outputCompare are written whole by the records that have them.
    record.length = length < RECORD_SIZE ? length : RECORD_SIZE;
    if (bytes != nullptr && record.length == RECORD_SIZE) {
        std::memcpy(record.bytes.data(), bytes, RECORD_SIZE); // a fixed size: a few moves
    } else {
        record.bytes.fill(0);
        if (bytes != nullptr && record.length > 0)
            std::memcpy(record.bytes.data(), bytes, record.length);
    }
    record.instructionClass = record.bytes[CLASS_OFFSET];
    record.operation = record.bytes[OPERATION_OFFSET];
    if (length != RECORD_SIZE) {
        record.problem = "record of " + Number(static_cast<uint32_t>(length)) + " bytes (a record is " + Number(static_cast<uint32_t>(RECORD_SIZE)) + ")";
        return;
    }
    switch (record.instructionClass) {
    case TAVDll::CLASS_BOARD_INIT:
        record.value = Word(record.bytes, BOARD_INIT_ARGUMENT_OFFSET);
        if (record.operation == 0)
            record.kind = RecordKind::BoardStart;
        else
            record.problem = "unknown start-up operation " + Number(record.operation);
        break;
    case TAVDll::CLASS_BOARD_INFO:
        if (record.operation == TAVDll::INFO_OP_REQUEST)
            record.kind = RecordKind::BoardInfoRequest;
        else
            record.problem = "unknown board-information operation " + Number(record.operation);
        break;
    case TAVDll::CLASS_GPIO: DecodeGpio(record); break;
    case TAVDll::CLASS_RCC: DecodeRcc(record); break;
    case TAVDll::CLASS_TIM: DecodeTim(record); break;
    default: record.problem = "unknown instruction class " + Number(record.instructionClass); break;
    }
}

DecodedRecord DecodeRecord(const uint8_t* bytes, size_t length)
{
    DecodedRecord record;
    DecodeRecordInto(bytes, length, record);
    return record;
}

DecodedRecord DecodeRecord(const TAVDll::_INSTRUCTION_INFO_& record)
{
    return DecodeRecord(reinterpret_cast<const uint8_t*>(&record), sizeof record);
}

} // namespace tavmodel
