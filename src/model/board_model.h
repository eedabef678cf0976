/*
 * virtual_board.h - a software model of the TAV board behind the virtual bus.
 *
 * The board executes every record it receives as its STM32F10x-class
 * microcontroller would under the vendor's Standard Peripheral Library: GPIO
 * ports A-C (mode, speed, output register, the serial-wire/JTAG debug pins),
 * the RCC gates of TIM1-TIM3, and the three timers (time base, four
 * output-compare units, preloads, counter and main output enable). It answers
 * the board-information request with its model letter and firmware version.
 * A record it cannot execute is counted and kept as rejected with the reason;
 * it never changes the state.
 *
 * What the pins do as a result is the board view's business (board_view.h).
 * The virtual USB device runs one behind the USB seam; above the seam, the C
 * interface keeps a real board's commanded state in one and the trace draws
 * its waveforms from one.
 */
#ifndef TAV_MODEL_BOARD_MODEL_H
#define TAV_MODEL_BOARD_MODEL_H

#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "pin_map_table.h"
#include "record_decoder.h"
#include "wire_layout.h"

namespace tavmodel {

using TAVDll::_INSTRUCTION_INFO_;
using TAVDll::detail::PINS_PER_PORT;
using TAVDll::detail::PORT_COUNT;
constexpr int TIMER_COUNT = 3;

struct GpioPinState {
    uint8_t mode = 0x04; // vendor mode code; floating input after reset
    uint8_t speed = 0;   // 0 until an output mode set one
};

struct GpioPortState {
    GpioPinState pins[PINS_PER_PORT];
    uint16_t outputData = 0; // ODR
};

// Which debug pins the serial-wire/JTAG port still holds.
enum class DebugPort { FullSwj, NoJtrst, JtagDisabled, Disabled };

struct OutputCompareState {
    uint32_t mode = 0;          // TIM_OCMode_*
    bool outputEnabled = false; // CCxE
    bool complementaryEnabled = false;
    uint32_t pulse = 0;         // CCRx
    bool activeLow = false;
    bool preload = false;       // OCxPE
};

struct TimerState {
    bool clockEnabled = false; // RCC gate
    uint64_t counterStartNs = 0; // when the counter last began counting from 0 (enable or update)
    uint32_t prescaler = 0;
    uint32_t counterMode = 0;
    uint32_t period = 0xFFFF; // ARR reset value
    uint32_t clockDivision = 0;
    uint32_t repetitionCounter = 0;
    bool arrPreload = false;
    bool counterEnabled = false;
    bool mainOutputEnabled = false; // BDTR.MOE, only TIM1 has it
    OutputCompareState outputCompare[4];
};

struct BoardState {
    GpioPortState ports[PORT_COUNT];
    DebugPort debugPort = DebugPort::FullSwj;
    uint32_t apb2Enabled = 0;
    uint32_t apb1Enabled = 0;
    TimerState timers[TIMER_COUNT];
    int startCount = 0;
    uint32_t startArgument = 0;
    int infoRequests = 0;
};

// The board's state from a moment on: the board model's history has one for
// every time a record changed something.
struct StateAt {
    uint64_t timeNs;
    BoardState state;
};

struct RejectedRecord {
    DecodedRecord record;
    std::string reason;
};

class BoardModel {
public:
    explicit BoardModel(char modelLetter = 'T', std::vector<uint8_t> version = {1, 0, 0, 0});

    // Executes one record as the firmware would (no USB involved).
    void Execute(const uint8_t* bytes, size_t length, std::vector<uint8_t>* reply = nullptr);
    // The same for a record its caller has decoded already (not added to
    // Received()).
    void Execute(const DecodedRecord& record, std::vector<uint8_t>* reply = nullptr);
    // The effect of each record the board takes, for a caller that knows a
    // valid record's arguments without the record (the commanded state of a
    // board object); each as Execute would apply it, but no history kept.
    // The values are the records' own (a state is on when 1, ...).
    void SetPinModes(uint32_t port, uint32_t mask, uint8_t speed, uint8_t mode);
    void SetPinMode(uint32_t port, uint32_t pin, uint8_t speed, uint8_t mode); // pin < PINS_PER_PORT
    void SetOutputBits(uint32_t port, uint32_t mask, bool high)
    {
        uint16_t& outputData = state_.ports[port].outputData;
        outputData = static_cast<uint16_t>(high ? outputData | mask : outputData & ~mask);
    }
    void RemapPins(uint32_t remapCode, uint32_t state);
    void GateClocks(RecordKind kind, uint32_t peripheralMask, uint32_t state); // RccApb2Clock or RccApb1Clock
    void StartBoard(uint32_t startupArgument);
    void ResetTimer(uint32_t timerIndex);
    void InitTimeBase(uint32_t timerIndex, const TAVDll::detail::TimeBaseParams& params);
    void InitOutputCompare(uint32_t timerIndex, uint8_t unit, const TAVDll::detail::OutputCompareParams& params);
    void EnableCounter(uint32_t timerIndex, uint32_t state);
    void EnableMainOutput(uint32_t timerIndex, uint32_t state);
    void PreloadPeriod(uint32_t timerIndex, uint32_t state);
    void PreloadCompare(uint32_t timerIndex, uint8_t unit, uint32_t preloadCode);
    // The board lost its power and got it back: every peripheral as at
    // reset, from now on (the history and the clock go on).
    void PowerCycle();

    char ModelLetter() const { return modelLetter_; }
    void SetModelLetter(char letter) { modelLetter_ = letter; }
    const std::vector<uint8_t>& Version() const { return version_; }
    void SetVersion(std::vector<uint8_t> version);

    const BoardState& State() const { return state_; }
    // The state after each record that arrived at a new time, oldest first;
    // the first entry is the state at power-up (time 0). At most
    // HISTORY_LIMIT entries are kept; HistoryComplete() is false after that.
    const std::vector<StateAt>& History() const { return history_; }
    bool HistoryComplete() const { return historyComplete_; }
    // A model that keeps no history keeps no times either: its counters'
    // start times stay 0 (nothing draws its waveforms).
    void SetKeepHistory(bool keep) { keepHistory_ = keep; }
    static constexpr size_t HISTORY_LIMIT = 20000; // about 9 MB
    // Every whole record received, in order (accepted or not).
    const std::vector<_INSTRUCTION_INFO_>& Received() const { return received_; }
    // The last REJECTED_LIMIT records it could not execute, oldest first, and
    // how many there were in all.
    const std::deque<RejectedRecord>& Rejected() const { return rejected_; }
    uint64_t RejectedCount() const { return rejectedCount_; }
    static constexpr size_t REJECTED_LIMIT = 1000;
    void SetKeepReceived(bool keep) { keepReceived_ = keep; }

    // The board's clock in nanoseconds since it was made. It follows real
    // time unless virtual time is on; then only Advance moves it. Turning
    // virtual time on restarts the clock at 0 and folds the history so far
    // into the state at 0.
    uint64_t Now() const;
    void UseVirtualTime(bool on);
    bool VirtualTime() const { return virtualTime_; }
    void Advance(uint64_t nanoseconds);

private:
    bool Apply(const DecodedRecord& record, std::vector<uint8_t>* reply);
    void ApplyGpio(const DecodedRecord& record);
    bool ApplyTimer(const DecodedRecord& record);
    void Remember();
    uint64_t CounterStart() const { return keepHistory_ ? Now() : 0; }

    char modelLetter_;
    std::vector<uint8_t> version_;
    BoardState state_;
    std::vector<_INSTRUCTION_INFO_> received_;
    std::deque<RejectedRecord> rejected_;
    uint64_t rejectedCount_ = 0;
    bool keepReceived_ = true;
    bool keepHistory_ = true;
    bool historyComplete_ = true;
    std::vector<StateAt> history_{StateAt{0, BoardState{}}};
    bool virtualTime_ = false;
    uint64_t virtualNow_ = 0;
    std::chrono::steady_clock::time_point made_ = std::chrono::steady_clock::now();
};

namespace pin_lanes {

// Four pins' states as one 64-bit word: a mask of lanes picks the bytes a
// GPIO_Init writes (the mode; the speed too for an output mode), so that a
// record for many pins of a port sets four of them at a time. Both the
// lanes and the pattern are laid out as the pins are, so the word's byte
// order does not matter.
struct FourPins {
    GpioPinState pins[4];
};
static_assert(sizeof(FourPins) == 8 && sizeof(GpioPinState) == 2, "four pin states in a word");

constexpr FourPins Lanes(unsigned nibble, bool withSpeed)
{
    FourPins lanes{};
    for (unsigned pin = 0; pin < 4; ++pin) {
        const bool on = ((nibble >> pin) & 1u) != 0;
        lanes.pins[pin].mode = on ? 0xFF : 0x00;
        lanes.pins[pin].speed = on && withSpeed ? 0xFF : 0x00;
    }
    return lanes;
}

template <bool withSpeed>
struct LaneTable {
    FourPins rows[16];
    constexpr LaneTable() : rows{}
    {
        for (unsigned nibble = 0; nibble < 16; ++nibble)
            rows[nibble] = Lanes(nibble, withSpeed);
    }
};

inline constexpr LaneTable<false> MODE_LANES{};
inline constexpr LaneTable<true> MODE_AND_SPEED_LANES{};

inline uint64_t Word(const void* bytes)
{
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// One pin's state in each of the four lanes: the pin's two bytes read as a
// 16-bit number the way the word reads them, repeated.
inline uint64_t FourTimes(const GpioPinState& pin)
{
    uint16_t pair;
    std::memcpy(&pair, &pin, sizeof pair);
    return pair * 0x0001000100010001ull;
}

} // namespace pin_lanes

// The effects of the pin, timer and clock-gate records, inline: a board
// object's commanded state applies them for every operation it sends.
namespace pin_modes {

// Output modes set the speed too.
constexpr bool SetsSpeed(uint8_t mode)
{
    return (mode & 0x10) != 0;
}

// The pull resistors are chosen through the output register.
inline void ChoosePull(GpioPortState& port, uint32_t mask, uint8_t mode)
{
    if (mode == TAVDll::detail::GPIO_MODE_IPD)
        port.outputData = static_cast<uint16_t>(port.outputData & ~mask);
    else if (mode == TAVDll::detail::GPIO_MODE_IPU)
        port.outputData = static_cast<uint16_t>(port.outputData | mask);
}

} // namespace pin_modes

inline void BoardModel::SetPinMode(uint32_t portIndex, uint32_t pinIndex, uint8_t speed, uint8_t mode)
{
    GpioPortState& port = state_.ports[portIndex];
    GpioPinState& pin = port.pins[pinIndex];
    pin.mode = mode;
    if (pin_modes::SetsSpeed(mode))
        pin.speed = speed;
    pin_modes::ChoosePull(port, 1u << pinIndex, mode);
}

inline void BoardModel::SetPinModes(uint32_t portIndex, uint32_t mask, uint8_t speed, uint8_t mode)
{
    GpioPortState& port = state_.ports[portIndex];
    const uint32_t pinMask = mask & ((1u << PINS_PER_PORT) - 1); // the decoder keeps it within the port
    if ((pinMask & (pinMask - 1)) == 0) {
        if (pinMask != 0)
            SetPinMode(portIndex, __builtin_ctz(pinMask), speed, mode);
        return;
    }
    const uint64_t value = pin_lanes::FourTimes(GpioPinState{mode, speed});
    const auto& table = pin_modes::SetsSpeed(mode) ? pin_lanes::MODE_AND_SPEED_LANES.rows : pin_lanes::MODE_LANES.rows;
#pragma GCC unroll 4
    for (unsigned first = 0; first < PINS_PER_PORT; first += 4) {
        const unsigned nibble = (pinMask >> first) & 0xFu;
        if (nibble == 0)
            continue;
        const uint64_t lanes = pin_lanes::Word(&table[nibble]);
        const uint64_t word = (pin_lanes::Word(&port.pins[first]) & ~lanes) | (value & lanes);
        std::memcpy(static_cast<void*>(&port.pins[first]), &word, sizeof word);
    }
    pin_modes::ChoosePull(port, mask, mode);
}

inline void BoardModel::GateClocks(RecordKind kind, uint32_t peripheralMask, uint32_t state)
{
    if (kind == RecordKind::RccApb2Clock) {
        state_.apb2Enabled = state ? state_.apb2Enabled | peripheralMask : state_.apb2Enabled & ~peripheralMask;
        state_.timers[0].clockEnabled = (state_.apb2Enabled & TAVDll::detail::RCC_APB2_TIM1) != 0;
        return;
    }
    state_.apb1Enabled = state ? state_.apb1Enabled | peripheralMask : state_.apb1Enabled & ~peripheralMask;
    state_.timers[1].clockEnabled = (state_.apb1Enabled & TAVDll::detail::RCC_APB1_TIM2) != 0;
    state_.timers[2].clockEnabled = (state_.apb1Enabled & TAVDll::detail::RCC_APB1_TIM3) != 0;
}

inline void BoardModel::ResetTimer(uint32_t timerIndex)
{
    // A peripheral reset: every register back to its reset value, the clock gate untouched.
    TimerState& timer = state_.timers[timerIndex];
    const bool clock = timer.clockEnabled;
    timer = TimerState{};
    timer.clockEnabled = clock;
}

inline void BoardModel::InitTimeBase(uint32_t timerIndex, const TAVDll::detail::TimeBaseParams& params)
{
    TimerState& timer = state_.timers[timerIndex];
    timer.prescaler = params.prescaler;
    timer.counterMode = params.counterMode;
    timer.period = params.period;
    timer.clockDivision = params.clockDivision;
    timer.counterStartNs = CounterStart(); // TIM_TimeBaseInit ends with an update event: the counter restarts
    if (timerIndex == 0) // only the advanced timer has a repetition counter
        timer.repetitionCounter = params.repetitionCounter;
}

inline void BoardModel::InitOutputCompare(uint32_t timerIndex, uint8_t unit,
                                          const TAVDll::detail::OutputCompareParams& params)
{
    // The preload bit is left as it was, as TIM_OCxInit does.
    OutputCompareState& compare = state_.timers[timerIndex].outputCompare[unit - 1];
    compare.mode = params.ocMode;
    compare.outputEnabled = params.outputState == TAVDll::detail::TIM_OUTPUT_STATE_ENABLE;
    compare.complementaryEnabled = timerIndex == 0 && params.outputNState == TAVDll::detail::TIM_OUTPUT_N_STATE_ENABLE;
    compare.pulse = params.pulse;
    compare.activeLow = params.ocPolarity == TAVDll::detail::TIM_OC_POLARITY_LOW;
}

inline void BoardModel::EnableCounter(uint32_t timerIndex, uint32_t state)
{
    TimerState& timer = state_.timers[timerIndex];
    if (!timer.counterEnabled && state == 1)
        timer.counterStartNs = CounterStart();
    timer.counterEnabled = state == 1;
}

inline void BoardModel::EnableMainOutput(uint32_t timerIndex, uint32_t state)
{
    state_.timers[timerIndex].mainOutputEnabled = state == 1;
}

inline void BoardModel::PreloadPeriod(uint32_t timerIndex, uint32_t state)
{
    state_.timers[timerIndex].arrPreload = state == 1;
}

inline void BoardModel::PreloadCompare(uint32_t timerIndex, uint8_t unit, uint32_t preloadCode)
{
    state_.timers[timerIndex].outputCompare[unit - 1].preload = preloadCode == TAVDll::detail::TIM_OCPRELOAD_ENABLE;
}

using TAVDll::detail::BoardPinName; // "P4.0" for 0x40000001
using TAVDll::detail::McuPinName;   // "PB8"

} // namespace tavmodel

#endif
