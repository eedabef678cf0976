#include "virtual_board.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "pins/pin_map_table.h"

namespace tavsim {

namespace {

constexpr size_t RECORD_SIZE = sizeof(_INSTRUCTION_INFO_);
constexpr size_t REPLY_VERSION_OFFSET = 4;
constexpr uint32_t APB2_TIM1 = 0x800;
constexpr uint32_t APB1_TIM2 = 0x1;
constexpr uint32_t APB1_TIM3 = 0x2;
constexpr uint32_t OC_MODE_PWM1 = 0x60;
constexpr uint32_t OC_MODE_PWM2 = 0x70;
constexpr uint32_t OC_POLARITY_LOW = 0x2;
constexpr uint32_t OC_N_STATE_ENABLE = 0x4;

struct TimerChannelPin {
    int timer;   // 0..2
    int channel; // 1..4
    int port;
    int pin;
};

// The microcontroller's own wiring of timer channels to pins (no timer remap).
constexpr TimerChannelPin TIMER_CHANNEL_PINS[] = {
    {0, 1, 0, 8}, {0, 2, 0, 9}, {0, 3, 0, 10}, {0, 4, 0, 11}, // TIM1_CH1..4: PA8..PA11
    {1, 1, 0, 0}, {1, 2, 0, 1}, {1, 3, 0, 2},  {1, 4, 0, 3},  // TIM2_CH1..4: PA0..PA3
    {2, 1, 0, 6}, {2, 2, 0, 7}, {2, 3, 1, 0},  {2, 4, 1, 1},  // TIM3_CH1..4: PA6, PA7, PB0, PB1
};

const TimerChannelPin* TimerChannelAt(int port, int pin)
{
    for (const TimerChannelPin& entry : TIMER_CHANNEL_PINS) {
        if (entry.port == port && entry.pin == pin)
            return &entry;
    }
    return nullptr;
}

TAVDll::BoardType BoardTypeOf(char letter)
{
    switch (letter) {
    case 'T': return TAVDll::BOARD_T;
    case 'C': return TAVDll::BOARD_C;
    case 'S': return TAVDll::BOARD_S;
    default: return TAVDll::BOARD_OTHER;
    }
}

DebugPort DebugPortFor(uint32_t remapCode)
{
    switch (remapCode) {
    case 0x300100: return DebugPort::NoJtrst;
    case 0x300200: return DebugPort::JtagDisabled;
    default: return DebugPort::Disabled;
    }
}

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

PinStatus NotDriven(int timer, int channel, std::string reason)
{
    PinStatus status;
    status.function = PinFunction::NotDriven;
    status.timer = timer + 1;
    status.channel = channel;
    status.reason = std::move(reason);
    return status;
}

PinStatus TimerOutput(const TimerState& timer, const TimerChannelPin& wiring)
{
    const std::string name = "TIM" + std::to_string(wiring.timer + 1);
    if (!timer.clockEnabled)
        return NotDriven(wiring.timer, wiring.channel, name + " clock off");
    if (!timer.counterEnabled)
        return NotDriven(wiring.timer, wiring.channel, name + " stopped");
    const OutputCompareState& unit = timer.outputCompare[wiring.channel - 1];
    if (!unit.outputEnabled)
        return NotDriven(wiring.timer, wiring.channel, name + " channel " + std::to_string(wiring.channel) +
                                                           " output compare disabled");
    if (wiring.timer == 0 && !timer.mainOutputEnabled)
        return NotDriven(wiring.timer, wiring.channel, "TIM1 main output off");
    if (unit.mode != OC_MODE_PWM1 && unit.mode != OC_MODE_PWM2)
        return NotDriven(wiring.timer, wiring.channel, name + " channel " + std::to_string(wiring.channel) + " in " +
                                                           OcModeName(unit.mode) + " mode, not PWM");
    PinStatus status;
    status.function = PinFunction::Pwm;
    status.timer = wiring.timer + 1;
    status.channel = wiring.channel;
    status.periodCounts = timer.period + 1;
    status.dutyCounts = unit.pulse;
    const bool centerAligned = (timer.counterMode & 0x60) != 0;
    const double countsPerPeriod = centerAligned ? 2.0 * timer.period : static_cast<double>(timer.period) + 1.0;
    status.frequencyHz = countsPerPeriod > 0 ? TIMER_CLOCK_HZ / ((timer.prescaler + 1.0) * countsPerPeriod) : 0.0;
    double active = std::fmin(static_cast<double>(unit.pulse) / status.periodCounts, 1.0);
    if (unit.mode == OC_MODE_PWM2)
        active = 1.0 - active;
    status.dutyPercent = 100.0 * (unit.activeLow ? 1.0 - active : active);
    return status;
}

} // namespace

std::string BoardPinName(uint32_t pinId)
{
    const int row = TAVDll::detail::PinMapRowIndex(pinId);
    if (row < 0)
        return "";
    const int bank4Pins = static_cast<int>(TAVDll::detail::BANK_4_PIN_COUNT);
    return row < bank4Pins ? "P4." + std::to_string(row) : "P8." + std::to_string(row - bank4Pins);
}

std::string McuPinName(int port, int pin)
{
    return std::string("P") + static_cast<char>('A' + port) + std::to_string(pin);
}

std::string PinStatus::Describe() const
{
    switch (function) {
    case PinFunction::DebugPort: return "held by the debug port (serial-wire/JTAG)";
    case PinFunction::AnalogInput: return "analog input";
    case PinFunction::FloatingInput: return "floating input";
    case PinFunction::PullDownInput: return "input with pull-down";
    case PinFunction::PullUpInput: return "input with pull-up";
    case PinFunction::OutputHigh: return std::string("output high") + (openDrain ? " (open-drain)" : "");
    case PinFunction::OutputLow: return std::string("output low") + (openDrain ? " (open-drain)" : "");
    case PinFunction::Pwm:
        return "PWM TIM" + std::to_string(timer) + " CH" + std::to_string(channel) + ", " +
               Format("%.6g Hz", frequencyHz) + ", duty " + std::to_string(dutyCounts) + "/" +
               std::to_string(periodCounts) + Format(" (%.2f%%)", dutyPercent);
    case PinFunction::NotDriven: return "not driven: " + reason;
    }
    return "?";
}

VirtualBoard::VirtualBoard(char modelLetter, std::vector<uint8_t> version)
    : modelLetter_(modelLetter)
{
    SetVersion(std::move(version));
}

void VirtualBoard::SetVersion(std::vector<uint8_t> version)
{
    version_ = std::move(version);
    version_.resize(4);
}

void VirtualBoard::OnBulkOut(const uint8_t* bytes, size_t length, std::vector<uint8_t>* reply)
{
    Execute(bytes, length, reply);
}

void VirtualBoard::Execute(const uint8_t* bytes, size_t length, std::vector<uint8_t>* reply)
{
    const DecodedRecord record = DecodeRecord(bytes, length);
    if (length == RECORD_SIZE && keepReceived_) {
        _INSTRUCTION_INFO_ copy;
        std::memcpy(&copy, bytes, RECORD_SIZE);
        received_.push_back(copy);
    }
    if (!record.problem.empty() || record.kind == RecordKind::Unknown) {
        rejected_.push_back({record, record.problem});
        return;
    }
    Apply(record, reply);
}

bool VirtualBoard::Apply(const DecodedRecord& record, std::vector<uint8_t>* reply)
{
    const uint32_t index = record.index;
    switch (record.kind) {
    case RecordKind::BoardStart:
        ++state_.startCount;
        state_.startArgument = record.value;
        return true;
    case RecordKind::BoardInfoRequest:
        ++state_.infoRequests;
        if (reply != nullptr) {
            reply->assign(RECORD_SIZE, 0);
            (*reply)[0] = static_cast<uint8_t>(modelLetter_);
            std::memcpy(reply->data() + REPLY_VERSION_OFFSET, version_.data(), 4);
        }
        return true;
    case RecordKind::GpioInit: {
        GpioPortState& port = state_.ports[index];
        for (int pin = 0; pin < PINS_PER_PORT; ++pin) {
            if ((record.mask & (1u << pin)) == 0)
                continue;
            port.pins[pin].mode = record.mode;
            if ((record.mode & 0x10) != 0)
                port.pins[pin].speed = record.speed;
        }
        // The pull resistors are chosen through the output register.
        if (record.mode == 0x28)
            port.outputData = static_cast<uint16_t>(port.outputData & ~record.mask);
        else if (record.mode == 0x48)
            port.outputData = static_cast<uint16_t>(port.outputData | record.mask);
        return true;
    }
    case RecordKind::GpioSetBits:
        state_.ports[index].outputData = static_cast<uint16_t>(state_.ports[index].outputData | record.mask);
        return true;
    case RecordKind::GpioResetBits:
        state_.ports[index].outputData = static_cast<uint16_t>(state_.ports[index].outputData & ~record.mask);
        return true;
    case RecordKind::GpioPinRemap:
        // The SWJ field is cleared first, so DISABLE gives the full debug port back.
        state_.debugPort = record.value == 1 ? DebugPortFor(record.mask) : DebugPort::FullSwj;
        return true;
    case RecordKind::RccApb2Clock:
        state_.apb2Enabled = record.value ? state_.apb2Enabled | record.mask : state_.apb2Enabled & ~record.mask;
        state_.timers[0].clockEnabled = (state_.apb2Enabled & APB2_TIM1) != 0;
        return true;
    case RecordKind::RccApb1Clock:
        state_.apb1Enabled = record.value ? state_.apb1Enabled | record.mask : state_.apb1Enabled & ~record.mask;
        state_.timers[1].clockEnabled = (state_.apb1Enabled & APB1_TIM2) != 0;
        state_.timers[2].clockEnabled = (state_.apb1Enabled & APB1_TIM3) != 0;
        return true;
    default: break;
    }

    TimerState& timer = state_.timers[index];
    switch (record.kind) {
    case RecordKind::TimDeInit: {
        // A peripheral reset: every register back to its reset value, the clock gate untouched.
        const bool clock = timer.clockEnabled;
        timer = TimerState{};
        timer.clockEnabled = clock;
        return true;
    }
    case RecordKind::TimTimeBaseInit:
        timer.prescaler = record.timeBase.prescaler;
        timer.counterMode = record.timeBase.counterMode;
        timer.period = record.timeBase.period;
        timer.clockDivision = record.timeBase.clockDivision;
        if (index == 0) // only the advanced timer has a repetition counter
            timer.repetitionCounter = record.timeBase.repetitionCounter & 0xFF;
        return true;
    case RecordKind::TimOcInit: {
        // The preload bit is left as it was, as TIM_OCxInit does.
        OutputCompareState& unit = timer.outputCompare[record.unit - 1];
        unit.mode = record.outputCompare.ocMode;
        unit.outputEnabled = record.outputCompare.outputState == 1;
        unit.complementaryEnabled = index == 0 && record.outputCompare.outputNState == OC_N_STATE_ENABLE;
        unit.pulse = record.outputCompare.pulse;
        unit.activeLow = record.outputCompare.ocPolarity == OC_POLARITY_LOW;
        return true;
    }
    case RecordKind::TimCmd: timer.counterEnabled = record.value == 1; return true;
    case RecordKind::TimCtrlPwmOutputs: timer.mainOutputEnabled = record.value == 1; return true;
    case RecordKind::TimArrPreload: timer.arrPreload = record.value == 1; return true;
    case RecordKind::TimOcPreload: timer.outputCompare[record.unit - 1].preload = record.value == 8; return true;
    default: return false;
    }
}

bool VirtualBoard::DebugHolds(int port, int pin) const
{
    const bool swd = port == 0 && (pin == 13 || pin == 14);            // SWDIO, SWCLK
    const bool jtag = (port == 0 && pin == 15) || (port == 1 && pin == 3); // JTDI, JTDO
    const bool jtrst = port == 1 && pin == 4;                           // NJTRST
    switch (state_.debugPort) {
    case DebugPort::FullSwj: return swd || jtag || jtrst;
    case DebugPort::NoJtrst: return swd || jtag;
    case DebugPort::JtagDisabled: return swd;
    case DebugPort::Disabled: return false;
    }
    return false;
}

PinStatus VirtualBoard::McuPin(int port, int pin) const
{
    PinStatus status;
    if (port < 0 || port >= PORT_COUNT || pin < 0 || pin >= PINS_PER_PORT) {
        status.function = PinFunction::NotDriven;
        status.reason = "no such pin";
        return status;
    }
    if (DebugHolds(port, pin)) {
        status.function = PinFunction::DebugPort;
        return status;
    }
    const GpioPortState& gpio = state_.ports[port];
    const bool high = (gpio.outputData & (1u << pin)) != 0;
    switch (gpio.pins[pin].mode) {
    case 0x00: status.function = PinFunction::AnalogInput; return status;
    case 0x04: status.function = PinFunction::FloatingInput; return status;
    case 0x28: status.function = PinFunction::PullDownInput; return status;
    case 0x48: status.function = PinFunction::PullUpInput; return status;
    case 0x10:
    case 0x14:
        status.function = high ? PinFunction::OutputHigh : PinFunction::OutputLow;
        status.openDrain = gpio.pins[pin].mode == 0x14;
        return status;
    default: break;
    }
    const TimerChannelPin* wiring = TimerChannelAt(port, pin);
    if (wiring == nullptr) {
        status.function = PinFunction::NotDriven;
        status.openDrain = gpio.pins[pin].mode == 0x1C;
        status.reason = "alternate function, but no timer channel on this pin";
        return status;
    }
    status = TimerOutput(state_.timers[wiring->timer], *wiring);
    status.openDrain = gpio.pins[pin].mode == 0x1C;
    return status;
}

PinStatus VirtualBoard::Pin(uint32_t pinId) const
{
    const int column = TAVDll::detail::PinMapColumn(BoardTypeOf(modelLetter_));
    const int row = TAVDll::detail::PinMapRowIndex(pinId);
    if (column < 0 || row < 0) {
        PinStatus status;
        status.function = PinFunction::NotDriven;
        status.reason = "no mapping on board model " + std::string(1, modelLetter_);
        return status;
    }
    const TAVDll::detail::McuPin& target = TAVDll::detail::PIN_MAP[row].byModel[column];
    return McuPin(target.port, target.pin);
}

std::vector<BoardPinRow> VirtualBoard::View() const
{
    const int column = TAVDll::detail::PinMapColumn(BoardTypeOf(modelLetter_));
    std::vector<BoardPinRow> rows;
    for (const TAVDll::detail::PinMapRow& entry : TAVDll::detail::PIN_MAP) {
        BoardPinRow row{entry.pinId, BoardPinName(entry.pinId), column >= 0, -1, -1, Pin(entry.pinId)};
        if (column >= 0) {
            row.port = entry.byModel[column].port;
            row.pin = entry.byModel[column].pin;
        }
        rows.push_back(row);
    }
    return rows;
}

std::string VirtualBoard::RenderView() const
{
    std::ostringstream out;
    out << "board model " << (modelLetter_ >= 0x20 && modelLetter_ < 0x7F ? std::string(1, modelLetter_) : "?")
        << ", firmware " << static_cast<int>(version_[0]) << '.' << static_cast<int>(version_[1]) << '.'
        << static_cast<int>(version_[2]) << '.' << static_cast<int>(version_[3])
        << ", timer clock 72 MHz (assumed)\n";
    bool reached[PORT_COUNT][PINS_PER_PORT] = {};
    char line[160];
    for (const BoardPinRow& row : View()) {
        std::string mcu = row.mapped ? McuPinName(row.port, row.pin) : "-";
        if (row.mapped)
            reached[row.port][row.pin] = true;
        std::snprintf(line, sizeof line, "  %-6s 0x%08X  %-5s %s\n", row.name.c_str(), row.pinId, mcu.c_str(),
                      row.status.Describe().c_str());
        out << line;
    }
    out << "pins no identifier reaches:\n";
    for (int port = 0; port < PORT_COUNT; ++port) {
        for (int pin = 0; pin < PINS_PER_PORT; ++pin) {
            if (reached[port][pin])
                continue;
            std::snprintf(line, sizeof line, "  %-5s %s\n", McuPinName(port, pin).c_str(),
                          McuPin(port, pin).Describe().c_str());
            out << line;
        }
    }
    if (!rejected_.empty())
        out << "rejected records: " << rejected_.size() << ", last: " << DescribeRecord(rejected_.back().record) << "\n";
    return out.str();
}

} // namespace tavsim
