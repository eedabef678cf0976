#include "board_view.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace tavmodel {

namespace {

using namespace TAVDll::detail;

constexpr uint32_t OC_MODE_PWM2 = 0x70;

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
    if (unit.mode != TIM_OCMODE_PWM1 && unit.mode != OC_MODE_PWM2)
        return NotDriven(wiring.timer, wiring.channel, name + " channel " + std::to_string(wiring.channel) + " in " +
                                                           OcModeName(unit.mode) + " mode, not PWM");
    PinStatus status;
    status.function = PinFunction::Pwm;
    status.timer = wiring.timer + 1;
    status.channel = wiring.channel;
    status.periodCounts = timer.period + 1;
    status.dutyCounts = unit.pulse;
    status.frequencyHz = PwmFrequencyHz(timer);
    double active = std::fmin(static_cast<double>(unit.pulse) / status.periodCounts, 1.0);
    if (unit.mode == OC_MODE_PWM2)
        active = 1.0 - active;
    status.dutyPercent = 100.0 * (unit.activeLow ? 1.0 - active : active);
    return status;
}

} // namespace

double PwmFrequencyHz(const TimerState& timer)
{
    const bool centerAligned = (timer.counterMode & 0x60) != 0;
    const double countsPerPeriod = centerAligned ? 2.0 * timer.period : static_cast<double>(timer.period) + 1.0;
    return countsPerPeriod > 0 ? static_cast<double>(TIMER_CLOCK_HZ) / ((timer.prescaler + 1.0) * countsPerPeriod) : 0.0;
}

bool DebugHolds(const BoardState& state, int port, int pin)
{
    const DebugPinRole role = DebugPinRoleOf(port, pin);
    switch (state.debugPort) {
    case DebugPort::FullSwj: return role != DebugPinRole::None;
    case DebugPort::NoJtrst: return role == DebugPinRole::SerialWire || role == DebugPinRole::Jtag;
    case DebugPort::JtagDisabled: return role == DebugPinRole::SerialWire;
    case DebugPort::Disabled: return false;
    }
    return false;
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

PinStatus BoardView::McuPin(int port, int pin) const
{
    PinStatus status;
    if (port < 0 || port >= PORT_COUNT || pin < 0 || pin >= PINS_PER_PORT) {
        status.function = PinFunction::NotDriven;
        status.reason = "no such pin";
        return status;
    }
    if (DebugHolds(state_, port, pin)) {
        status.function = PinFunction::DebugPort;
        return status;
    }
    const GpioPortState& gpio = state_.ports[port];
    const bool high = (gpio.outputData & (1u << pin)) != 0;
    switch (gpio.pins[pin].mode) {
    case GPIO_MODE_AIN: status.function = PinFunction::AnalogInput; return status;
    case GPIO_MODE_IN_FLOATING: status.function = PinFunction::FloatingInput; return status;
    case GPIO_MODE_IPD: status.function = PinFunction::PullDownInput; return status;
    case GPIO_MODE_IPU: status.function = PinFunction::PullUpInput; return status;
    case GPIO_MODE_OUT_PP:
    case GPIO_MODE_OUT_OD:
        status.function = high ? PinFunction::OutputHigh : PinFunction::OutputLow;
        status.openDrain = gpio.pins[pin].mode == GPIO_MODE_OUT_OD;
        return status;
    default: break;
    }
    const TimerChannelPin* wiring = TimerChannelAt(port, pin);
    if (wiring == nullptr) {
        status.function = PinFunction::NotDriven;
        status.openDrain = gpio.pins[pin].mode == GPIO_MODE_AF_OD;
        status.reason = "alternate function, but no timer channel on this pin";
        return status;
    }
    status = TimerOutput(state_.timers[wiring->timer], *wiring);
    status.openDrain = gpio.pins[pin].mode == GPIO_MODE_AF_OD;
    return status;
}

PinStatus BoardView::Pin(uint32_t pinId) const
{
    const int column = PinMapColumn(BoardTypeFromLetter(board_.ModelLetter()));
    const int row = PinMapRowIndex(pinId);
    if (column < 0 || row < 0) {
        PinStatus status;
        status.function = PinFunction::NotDriven;
        status.reason = "no mapping on board model " + std::string(1, board_.ModelLetter());
        return status;
    }
    const TAVDll::detail::McuPin& target = PIN_MAP[row].byModel[column];
    return McuPin(target.port, target.pin);
}

std::vector<BoardPinRow> BoardView::Rows() const
{
    const int column = PinMapColumn(BoardTypeFromLetter(board_.ModelLetter()));
    std::vector<BoardPinRow> rows;
    for (const PinMapRow& entry : PIN_MAP) {
        BoardPinRow row{entry.pinId, BoardPinName(entry.pinId), column >= 0, -1, -1, Pin(entry.pinId)};
        if (column >= 0) {
            row.port = entry.byModel[column].port;
            row.pin = entry.byModel[column].pin;
        }
        rows.push_back(row);
    }
    return rows;
}

std::string BoardView::Render() const
{
    std::ostringstream out;
    const char letter = board_.ModelLetter();
    const std::vector<uint8_t>& version = board_.Version();
    out << "board model " << (letter >= 0x20 && letter < 0x7F ? std::string(1, letter) : "?") << ", firmware "
        << static_cast<int>(version[0]) << '.' << static_cast<int>(version[1]) << '.' << static_cast<int>(version[2])
        << '.' << static_cast<int>(version[3])
        << ", timer clock " << TIMER_CLOCK_HZ / 1000000 << " MHz (assumed)\n";
    bool reached[PORT_COUNT][PINS_PER_PORT] = {};
    char line[160];
    for (const BoardPinRow& row : Rows()) {
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
    const std::deque<RejectedRecord>& rejected = board_.Rejected();
    if (!rejected.empty())
        out << "rejected records: " << board_.RejectedCount() << ", last: " << DescribeRecord(rejected.back().record)
            << "\n";
    return out.str();
}

} // namespace tavmodel
