#include "record_decoder.h"

#include <cstdio>
#include <cstring>

#include "board_facts.h"

namespace tavmodel {

namespace {


using namespace TAVDll::detail;

uint32_t Word(const std::array<uint8_t, 64>& bytes, size_t offset)
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

std::string StateName(uint32_t state)
{
    return state == 1 ? "ENABLE" : state == 0 ? "DISABLE" : "state " + Number(state);
}

std::string RemapName(uint32_t code)
{
    switch (code) {
    case GPIO_REMAP_SWJ_NOJTRST: return "GPIO_Remap_SWJ_NoJTRST";
    case GPIO_REMAP_SWJ_JTAG_DISABLE: return "GPIO_Remap_SWJ_JTAGDisable";
    case GPIO_REMAP_SWJ_DISABLE: return "GPIO_Remap_SWJ_Disable";
    default: return "remap " + Hex(code);
    }
}

std::string Apb2Name(uint32_t mask)
{
    return mask == RCC_APB2_TIM1 ? "RCC_APB2Periph_TIM1" : "APB2 peripherals " + Hex(mask);
}

std::string Apb1Name(uint32_t mask)
{
    if (mask == RCC_APB1_TIM2)
        return "RCC_APB1Periph_TIM2";
    if (mask == RCC_APB1_TIM3)
        return "RCC_APB1Periph_TIM3";
    return "APB1 peripherals " + Hex(mask);
}

std::string CounterModeName(uint32_t mode)
{
    switch (mode) {
    case 0x00: return "counting up";
    case 0x10: return "counting down";
    case 0x20: return "center-aligned 1";
    case 0x40: return "center-aligned 2";
    case 0x60: return "center-aligned 3";
    default: return "counter mode " + Hex(mode);
    }
}

std::string ClockDivisionName(uint32_t division)
{
    switch (division) {
    case 0x000: return "clock division 1";
    case 0x100: return "clock division 2";
    case 0x200: return "clock division 4";
    default: return "clock division " + Hex(division);
    }
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
        record.problem = "record of " + Number(static_cast<uint32_t>(length)) + " bytes (a record is 64)";
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

std::string GpioModeName(uint8_t mode)
{
    switch (mode) {
    case GPIO_MODE_AIN: return "analog input";
    case GPIO_MODE_IN_FLOATING: return "floating input";
    case GPIO_MODE_IPD: return "pull-down input";
    case GPIO_MODE_IPU: return "pull-up input";
    case GPIO_MODE_OUT_OD: return "open-drain output";
    case GPIO_MODE_OUT_PP: return "push-pull output";
    case GPIO_MODE_AF_OD: return "alternate-function open-drain";
    case GPIO_MODE_AF_PP: return "alternate-function push-pull";
    default: return "mode " + Hex(mode);
    }
}

std::string GpioSpeedName(uint8_t speed)
{
    switch (speed) {
    case 1: return "10 MHz";
    case 2: return "2 MHz";
    case 3: return "50 MHz";
    default: return "speed " + Number(speed);
    }
}

std::string OcModeName(uint32_t mode)
{
    switch (mode) {
    case 0x00: return "timing";
    case 0x10: return "active";
    case 0x20: return "inactive";
    case 0x30: return "toggle";
    case 0x60: return "PWM1";
    case 0x70: return "PWM2";
    default: return "mode " + Hex(mode);
    }
}

std::string PortName(uint32_t port)
{
    if (port <= 2)
        return std::string("GPIO") + static_cast<char>('A' + port);
    return "port " + Number(port);
}

std::string TimerName(uint32_t timer)
{
    if (timer <= 2)
        return "TIM" + Number(timer + 1);
    return "timer " + Number(timer);
}

std::string PinListText(uint32_t mask)
{
    std::string pins;
    int count = 0;
    for (int bit = 0; bit < 32; ++bit) {
        if ((mask & (1u << bit)) == 0)
            continue;
        pins += (count++ ? "," : "") + Number(static_cast<uint32_t>(bit));
    }
    if (count == 0)
        return "no pin";
    return (count == 1 ? "pin " : "pins ") + pins;
}

std::string HexBytes(const uint8_t* bytes, size_t length)
{
    std::string text;
    char part[4];
    for (size_t k = 0; k < length; ++k) {
        std::snprintf(part, sizeof part, "%02X", bytes[k]);
        text += (k ? " " : "") + std::string(part);
    }
    return text;
}

namespace {

std::string OutputCompareText(const OutputCompareParams& fields)
{
    std::string text = OcModeName(fields.ocMode);
    text += fields.outputState == 1 ? ", output enabled" : fields.outputState == 0 ? ", output disabled"
                                                                                    : ", output state " + Number(fields.outputState);
    text += ", pulse " + Number(fields.pulse);
    // Fields the library always leaves at their defaults are named only when set.
    if (fields.ocPolarity != 0)
        text += ", polarity " + Hex(fields.ocPolarity);
    if (fields.outputNState != 0)
        text += ", complementary output " + Hex(fields.outputNState);
    if (fields.ocNPolarity != 0)
        text += ", complementary polarity " + Hex(fields.ocNPolarity);
    if (fields.ocIdleState != 0)
        text += ", idle state " + Hex(fields.ocIdleState);
    if (fields.ocNIdleState != 0)
        text += ", complementary idle state " + Hex(fields.ocNIdleState);
    return text;
}

std::string Call(const DecodedRecord& record)
{
    const std::string timer = TimerName(record.index);
    const std::string unit = Number(record.unit);
    switch (record.kind) {
    case RecordKind::BoardStart: return "BoardStart(argument " + Number(record.value) + ")";
    case RecordKind::BoardInfoRequest: return "BoardInfoRequest()";
    case RecordKind::GpioInit:
        return "GPIO_Init(" + PortName(record.index) + ", " + PinListText(record.mask) + ", " +
               GpioSpeedName(record.speed) + ", " + GpioModeName(record.mode) + ")";
    case RecordKind::GpioSetBits: return "GPIO_SetBits(" + PortName(record.index) + ", " + PinListText(record.mask) + ")";
    case RecordKind::GpioResetBits:
        return "GPIO_ResetBits(" + PortName(record.index) + ", " + PinListText(record.mask) + ")";
    case RecordKind::GpioPinRemap: return "GPIO_PinRemapConfig(" + RemapName(record.mask) + ", " + StateName(record.value) + ")";
    case RecordKind::RccApb2Clock: return "RCC_APB2PeriphClockCmd(" + Apb2Name(record.mask) + ", " + StateName(record.value) + ")";
    case RecordKind::RccApb1Clock: return "RCC_APB1PeriphClockCmd(" + Apb1Name(record.mask) + ", " + StateName(record.value) + ")";
    case RecordKind::TimDeInit: return "TIM_DeInit(" + timer + ")";
    case RecordKind::TimTimeBaseInit: {
        const TimeBaseParams& base = record.timeBase;
        std::string text = "TIM_TimeBaseInit(" + timer + ", prescaler " + Number(base.prescaler) + ", " +
                           CounterModeName(base.counterMode) + ", period " + Number(base.period) + ", " +
                           ClockDivisionName(base.clockDivision);
        if (base.repetitionCounter != 0)
            text += ", repetition " + Number(base.repetitionCounter);
        return text + ")";
    }
    case RecordKind::TimOcInit: return "TIM_OC" + unit + "Init(" + timer + ", " + OutputCompareText(record.outputCompare) + ")";
    case RecordKind::TimCmd: return "TIM_Cmd(" + timer + ", " + StateName(record.value) + ")";
    case RecordKind::TimCtrlPwmOutputs: return "TIM_CtrlPWMOutputs(" + timer + ", " + StateName(record.value) + ")";
    case RecordKind::TimArrPreload: return "TIM_ARRPreloadConfig(" + timer + ", " + StateName(record.value) + ")";
    case RecordKind::TimOcPreload:
        return "TIM_OC" + unit + "PreloadConfig(" + timer + ", " +
               (record.value == 8 ? std::string("preload enabled")
                                  : record.value == 0 ? std::string("preload disabled") : "preload " + Number(record.value)) +
               ")";
    case RecordKind::Unknown: break;
    }
    return "unknown record (class " + Number(record.instructionClass) + ", operation " + Number(record.operation) +
           "): " + HexBytes(record.bytes.data(), record.length);
}

} // namespace

std::string DescribeRecord(const DecodedRecord& record)
{
    std::string text = Call(record);
    // An unknown record's text already says so; a short one also needs its reason.
    if (!record.problem.empty() && (record.kind != RecordKind::Unknown || record.length != RECORD_SIZE))
        text += " -- rejected: " + record.problem;
    return text;
}

std::string DescribeRecord(const TAVDll::_INSTRUCTION_INFO_& record)
{
    return DescribeRecord(DecodeRecord(record));
}

} // namespace tavmodel
