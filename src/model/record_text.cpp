// Records in words, as the vendor calls the firmware makes of them; written
// into the caller's buffer, nothing allocated (the trace describes every
// record it logs).
#include "record_decoder.h"

#include <cstdio>

#include "board_facts.h"

namespace tavmodel {

using namespace TAVDll::detail;

TextOut& TextOut::operator<<(uint32_t value)
{
    char digits[11];
    char* start = digits + sizeof digits - 1;
    *start = '\0';
    do {
        *--start = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return *this << start;
}

TextOut& TextOut::operator<<(Hexadecimal number)
{
    static const char DIGITS[] = "0123456789ABCDEF";
    char digits[11];
    char* start = digits + sizeof digits - 1;
    *start = '\0';
    uint32_t value = number.value;
    do {
        *--start = DIGITS[value & 0xF];
        value >>= 4;
    } while (value != 0);
    return *this << "0x" << start;
}

namespace {

void StateName(TextOut& out, uint32_t state)
{
    if (state <= 1)
        out << (state == 1 ? "ENABLE" : "DISABLE");
    else
        out << "state " << state;
}

void RemapName(TextOut& out, uint32_t code)
{
    switch (code) {
    case GPIO_REMAP_SWJ_NOJTRST: out << "GPIO_Remap_SWJ_NoJTRST"; break;
    case GPIO_REMAP_SWJ_JTAG_DISABLE: out << "GPIO_Remap_SWJ_JTAGDisable"; break;
    case GPIO_REMAP_SWJ_DISABLE: out << "GPIO_Remap_SWJ_Disable"; break;
    default: out << "remap " << Hexadecimal{code};
    }
}

void Apb2Name(TextOut& out, uint32_t mask)
{
    if (mask == RCC_APB2_TIM1)
        out << "RCC_APB2Periph_TIM1";
    else
        out << "APB2 peripherals " << Hexadecimal{mask};
}

void Apb1Name(TextOut& out, uint32_t mask)
{
    if (mask == RCC_APB1_TIM2)
        out << "RCC_APB1Periph_TIM2";
    else if (mask == RCC_APB1_TIM3)
        out << "RCC_APB1Periph_TIM3";
    else
        out << "APB1 peripherals " << Hexadecimal{mask};
}

void CounterModeName(TextOut& out, uint32_t mode)
{
    switch (mode) {
    case 0x00: out << "counting up"; break;
    case 0x10: out << "counting down"; break;
    case 0x20: out << "center-aligned 1"; break;
    case 0x40: out << "center-aligned 2"; break;
    case 0x60: out << "center-aligned 3"; break;
    default: out << "counter mode " << Hexadecimal{mode};
    }
}

void ClockDivisionName(TextOut& out, uint32_t division)
{
    switch (division) {
    case 0x000: out << "clock division 1"; break;
    case 0x100: out << "clock division 2"; break;
    case 0x200: out << "clock division 4"; break;
    default: out << "clock division " << Hexadecimal{division};
    }
}

void GpioModeName(TextOut& out, uint8_t mode)
{
    switch (mode) {
    case GPIO_MODE_AIN: out << "analog input"; break;
    case GPIO_MODE_IN_FLOATING: out << "floating input"; break;
    case GPIO_MODE_IPD: out << "pull-down input"; break;
    case GPIO_MODE_IPU: out << "pull-up input"; break;
    case GPIO_MODE_OUT_OD: out << "open-drain output"; break;
    case GPIO_MODE_OUT_PP: out << "push-pull output"; break;
    case GPIO_MODE_AF_OD: out << "alternate-function open-drain"; break;
    case GPIO_MODE_AF_PP: out << "alternate-function push-pull"; break;
    default: out << "mode " << Hexadecimal{mode};
    }
}

void GpioSpeedName(TextOut& out, uint8_t speed)
{
    switch (speed) {
    case 1: out << "10 MHz"; break;
    case 2: out << "2 MHz"; break;
    case 3: out << "50 MHz"; break;
    default: out << "speed " << uint32_t{speed};
    }
}

void OcModeName(TextOut& out, uint32_t mode)
{
    switch (mode) {
    case 0x00: out << "timing"; break;
    case 0x10: out << "active"; break;
    case 0x20: out << "inactive"; break;
    case 0x30: out << "toggle"; break;
    case 0x60: out << "PWM1"; break;
    case 0x70: out << "PWM2"; break;
    default: out << "mode " << Hexadecimal{mode};
    }
}

void PortName(TextOut& out, uint32_t port)
{
    if (port <= 2) {
        const char name[] = {'G', 'P', 'I', 'O', static_cast<char>('A' + port), '\0'};
        out << name;
    } else {
        out << "port " << port;
    }
}

void TimerName(TextOut& out, uint32_t timer)
{
    if (timer <= 2)
        out << "TIM" << timer + 1;
    else
        out << "timer " << timer;
}

void PinListText(TextOut& out, uint32_t mask)
{
    if (mask == 0) {
        out << "no pin";
        return;
    }
    out << ((mask & (mask - 1)) == 0 ? "pin " : "pins ");
    for (bool first = true; mask != 0; mask &= mask - 1, first = false) {
        if (!first)
            out << ",";
        out << static_cast<uint32_t>(__builtin_ctz(mask)); // the lowest pin left
    }
}

void HexBytes(TextOut& out, const uint8_t* bytes, size_t length)
{
    static const char DIGITS[] = "0123456789ABCDEF";
    for (size_t index = 0; index < length; ++index) {
        const char part[] = {index != 0 ? ' ' : '\0', DIGITS[bytes[index] >> 4], DIGITS[bytes[index] & 0xF], '\0'};
        out << (index != 0 ? part : part + 1);
    }
}

void OutputCompareText(TextOut& out, const OutputCompareParams& fields)
{
    OcModeName(out, fields.ocMode);
    if (fields.outputState <= 1)
        out << (fields.outputState == 1 ? ", output enabled" : ", output disabled");
    else
        out << ", output state " << uint32_t{fields.outputState};
    out << ", pulse " << uint32_t{fields.pulse};
    // Fields the library always leaves at their defaults are named only when set.
    if (fields.ocPolarity != 0)
        out << ", polarity " << Hexadecimal{fields.ocPolarity};
    if (fields.outputNState != 0)
        out << ", complementary output " << Hexadecimal{fields.outputNState};
    if (fields.ocNPolarity != 0)
        out << ", complementary polarity " << Hexadecimal{fields.ocNPolarity};
    if (fields.ocIdleState != 0)
        out << ", idle state " << Hexadecimal{fields.ocIdleState};
    if (fields.ocNIdleState != 0)
        out << ", complementary idle state " << Hexadecimal{fields.ocNIdleState};
}

// "GPIO_SetBits(GPIOB, pin 8)": a vendor function on a port and its pins.
void PortCallText(TextOut& out, const char* function, const DecodedRecord& record)
{
    out << function << "(";
    PortName(out, record.index);
    out << ", ";
    PinListText(out, record.mask);
}

// "TIM_Cmd(TIM2, ": a vendor function on a timer, up to its next argument.
void TimerCallStart(TextOut& out, const char* function, const DecodedRecord& record)
{
    out << function << "(";
    TimerName(out, record.index);
    out << ", ";
}

// A timer record as its vendor call.
void TimerRecordText(TextOut& out, const DecodedRecord& record)
{
    switch (record.kind) {
    case RecordKind::TimDeInit:
        out << "TIM_DeInit(";
        TimerName(out, record.index);
        out << ")";
        return;
    case RecordKind::TimTimeBaseInit: {
        const TimeBaseParams& base = record.timeBase;
        TimerCallStart(out, "TIM_TimeBaseInit", record);
        out << "prescaler " << uint32_t{base.prescaler} << ", ";
        CounterModeName(out, base.counterMode);
        out << ", period " << uint32_t{base.period} << ", ";
        ClockDivisionName(out, base.clockDivision);
        if (base.repetitionCounter != 0)
            out << ", repetition " << uint32_t{base.repetitionCounter};
        out << ")";
        return;
    }
    case RecordKind::TimOcInit:
        out << "TIM_OC" << uint32_t{record.unit} << "Init(";
        TimerName(out, record.index);
        out << ", ";
        OutputCompareText(out, record.outputCompare);
        out << ")";
        return;
    case RecordKind::TimCmd: TimerCallStart(out, "TIM_Cmd", record); StateName(out, record.value); out << ")"; return;
    case RecordKind::TimCtrlPwmOutputs:
        TimerCallStart(out, "TIM_CtrlPWMOutputs", record);
        StateName(out, record.value);
        out << ")";
        return;
    case RecordKind::TimArrPreload:
        TimerCallStart(out, "TIM_ARRPreloadConfig", record);
        StateName(out, record.value);
        out << ")";
        return;
    case RecordKind::TimOcPreload:
        out << "TIM_OC" << uint32_t{record.unit} << "PreloadConfig(";
        TimerName(out, record.index);
        if (record.value == 8 || record.value == 0)
            out << (record.value == 8 ? ", preload enabled)" : ", preload disabled)");
        else
            out << ", preload " << record.value << ")";
        return;
    default: return;
    }
}

// A record as the vendor call the firmware makes of it:
// "GPIO_SetBits(GPIOB, pin 8)".
void VendorCallText(TextOut& out, const DecodedRecord& record)
{
    switch (record.kind) {
    case RecordKind::BoardStart: out << "BoardStart(argument " << record.value << ")"; return;
    case RecordKind::BoardInfoRequest: out << "BoardInfoRequest()"; return;
    case RecordKind::GpioInit:
        PortCallText(out, "GPIO_Init", record);
        out << ", ";
        GpioSpeedName(out, record.speed);
        out << ", ";
        GpioModeName(out, record.mode);
        out << ")";
        return;
    case RecordKind::GpioSetBits: PortCallText(out, "GPIO_SetBits", record); out << ")"; return;
    case RecordKind::GpioResetBits: PortCallText(out, "GPIO_ResetBits", record); out << ")"; return;
    case RecordKind::GpioPinRemap:
        out << "GPIO_PinRemapConfig(";
        RemapName(out, record.mask);
        break;
    case RecordKind::RccApb2Clock:
        out << "RCC_APB2PeriphClockCmd(";
        Apb2Name(out, record.mask);
        break;
    case RecordKind::RccApb1Clock:
        out << "RCC_APB1PeriphClockCmd(";
        Apb1Name(out, record.mask);
        break;
    case RecordKind::TimDeInit:
    case RecordKind::TimTimeBaseInit:
    case RecordKind::TimOcInit:
    case RecordKind::TimCmd:
    case RecordKind::TimCtrlPwmOutputs:
    case RecordKind::TimArrPreload:
    case RecordKind::TimOcPreload: TimerRecordText(out, record); return;
    case RecordKind::Unknown:
        out << "unknown record (class " << uint32_t{record.instructionClass} << ", operation "
            << uint32_t{record.operation} << "): ";
        HexBytes(out, record.bytes.data(), record.length);
        return;
    }
    // The remap and clock calls end with their state.
    out << ", ";
    StateName(out, record.value);
    out << ")";
}

} // namespace

size_t DescribeRecordTo(const DecodedRecord& record, char* text, size_t size)
{
    TextOut out(text, size);
    VendorCallText(out, record);
    // An unknown record's text already says so; a short one also needs its reason.
    if (!record.problem.empty() && (record.kind != RecordKind::Unknown || record.length != RECORD_SIZE))
        out << " -- rejected: " << record.problem.c_str();
    return out.Length();
}

std::string DescribeRecord(const DecodedRecord& record)
{
    char text[DESCRIPTION_CAPACITY];
    DescribeRecordTo(record, text, sizeof text);
    return text;
}

std::string DescribeRecord(const TAVDll::_INSTRUCTION_INFO_& record)
{
    return DescribeRecord(DecodeRecord(record));
}

std::string OcModeName(uint32_t mode)
{
    char text[32];
    TextOut out(text, sizeof text);
    OcModeName(out, mode);
    return text;
}

} // namespace tavmodel
