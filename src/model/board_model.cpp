#include "board_model.h"

#include <cstring>

namespace tavmodel {

namespace {

using namespace TAVDll::detail;

constexpr uint32_t OC_POLARITY_LOW = 0x2;

DebugPort DebugPortFor(uint32_t remapCode)
{
    switch (remapCode) {
    case GPIO_REMAP_SWJ_NOJTRST: return DebugPort::NoJtrst;
    case GPIO_REMAP_SWJ_JTAG_DISABLE: return DebugPort::JtagDisabled;
    default: return DebugPort::Disabled;
    }
}

} // namespace

BoardModel::BoardModel(char modelLetter, std::vector<uint8_t> version)
    : modelLetter_(modelLetter)
{
    SetVersion(std::move(version));
}

uint64_t BoardModel::Now() const
{
    if (virtualTime_)
        return virtualNow_;
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - made_).count());
}

void BoardModel::UseVirtualTime(bool on)
{
    if (on == virtualTime_)
        return;
    virtualTime_ = on;
    if (!on) {
        made_ = std::chrono::steady_clock::now() - std::chrono::nanoseconds(virtualNow_);
        return;
    }
    // Virtual time starts at 0, whatever real time went by: what happened so
    // far is folded into the state at time 0, so that runs repeat exactly.
    virtualNow_ = 0;
    history_.assign(1, StateAt{0, state_});
    for (TimerState& timer : state_.timers)
        timer.counterStartNs = 0;
    history_.front().state = state_;
}

void BoardModel::Advance(uint64_t nanoseconds)
{
    if (virtualTime_)
        virtualNow_ += nanoseconds;
}

void BoardModel::SetVersion(std::vector<uint8_t> version)
{
    version_ = std::move(version);
    version_.resize(4);
}

void BoardModel::Execute(const uint8_t* bytes, size_t length, std::vector<uint8_t>* reply)
{
    if (length == RECORD_SIZE && keepReceived_) {
        _INSTRUCTION_INFO_ copy;
        std::memcpy(&copy, bytes, RECORD_SIZE);
        received_.push_back(copy);
    }
    Execute(DecodeRecord(bytes, length), reply);
}

void BoardModel::Execute(const DecodedRecord& record, std::vector<uint8_t>* reply)
{
    if (!record.problem.empty() || record.kind == RecordKind::Unknown) {
        rejected_.push_back({record, record.problem});
        if (rejected_.size() > REJECTED_LIMIT)
            rejected_.pop_front();
        ++rejectedCount_;
        return;
    }
    if (Apply(record, reply) && keepHistory_)
        Remember();
}

void BoardModel::SetOutputBits(uint32_t port, uint32_t mask, bool high)
{
    uint16_t& outputData = state_.ports[port].outputData;
    outputData = static_cast<uint16_t>(high ? outputData | mask : outputData & ~mask);
}

void BoardModel::SetPinModes(uint32_t portIndex, uint32_t mask, uint8_t speed, uint8_t mode)
{
    GpioPortState& port = state_.ports[portIndex];
    // The pins of the mask, lowest first (the decoder keeps it within the port).
    for (uint32_t remaining = mask & ((1u << PINS_PER_PORT) - 1); remaining != 0; remaining &= remaining - 1) {
        const int pin = __builtin_ctz(remaining);
        port.pins[pin].mode = mode;
        if ((mode & 0x10) != 0)
            port.pins[pin].speed = speed;
    }
    // The pull resistors are chosen through the output register.
    if (mode == GPIO_MODE_IPD)
        port.outputData = static_cast<uint16_t>(port.outputData & ~mask);
    else if (mode == GPIO_MODE_IPU)
        port.outputData = static_cast<uint16_t>(port.outputData | mask);
}

void BoardModel::ExecuteGpioInit(uint32_t port, uint32_t mask, uint8_t speed, uint8_t mode)
{
    SetPinModes(port, mask, speed, mode);
    if (keepHistory_)
        Remember();
}

void BoardModel::ExecuteGpioBits(uint32_t port, uint32_t mask, bool high)
{
    SetOutputBits(port, mask, high);
    if (keepHistory_)
        Remember();
}

void BoardModel::PowerCycle()
{
    state_ = BoardState{};
    if (keepHistory_)
        Remember();
}

void BoardModel::Remember()
{
    const uint64_t now = Now();
    if (history_.back().timeNs >= now) {
        history_.back().state = state_; // the same moment: the latest state wins
    } else if (history_.size() < HISTORY_LIMIT) {
        history_.push_back({now, state_});
    } else {
        historyComplete_ = false;
    }
}

bool BoardModel::Apply(const DecodedRecord& record, std::vector<uint8_t>* reply)
{
    switch (record.kind) {
    case RecordKind::BoardStart:
        ++state_.startCount;
        state_.startArgument = record.value;
        return true;
    case RecordKind::BoardInfoRequest:
        ++state_.infoRequests;
        if (reply != nullptr) {
            reply->assign(RECORD_SIZE, 0);
            (*reply)[REPLY_MODEL_OFFSET] = static_cast<uint8_t>(modelLetter_);
            std::memcpy(reply->data() + REPLY_VERSION_OFFSET, version_.data(), 4);
        }
        return true;
    case RecordKind::GpioInit:
    case RecordKind::GpioSetBits:
    case RecordKind::GpioResetBits:
    case RecordKind::GpioPinRemap: ApplyGpio(record); return true;
    case RecordKind::RccApb2Clock:
    case RecordKind::RccApb1Clock: ApplyClockGate(record); return true;
    case RecordKind::Unknown: return false;
    default: return ApplyTimer(record);
    }
}

void BoardModel::ApplyGpio(const DecodedRecord& record)
{
    switch (record.kind) {
    case RecordKind::GpioInit: SetPinModes(record.index, record.mask, record.speed, record.mode); break;
    case RecordKind::GpioSetBits:
    case RecordKind::GpioResetBits:
        SetOutputBits(record.index, record.mask, record.kind == RecordKind::GpioSetBits);
        break;
    default:
        // GPIO_PinRemapConfig clears the SWJ field first, so DISABLE gives the full debug port back.
        state_.debugPort = record.value == 1 ? DebugPortFor(record.mask) : DebugPort::FullSwj;
        break;
    }
}

void BoardModel::ApplyClockGate(const DecodedRecord& record)
{
    if (record.kind == RecordKind::RccApb2Clock) {
        state_.apb2Enabled = record.value ? state_.apb2Enabled | record.mask : state_.apb2Enabled & ~record.mask;
        state_.timers[0].clockEnabled = (state_.apb2Enabled & RCC_APB2_TIM1) != 0;
        return;
    }
    state_.apb1Enabled = record.value ? state_.apb1Enabled | record.mask : state_.apb1Enabled & ~record.mask;
    state_.timers[1].clockEnabled = (state_.apb1Enabled & RCC_APB1_TIM2) != 0;
    state_.timers[2].clockEnabled = (state_.apb1Enabled & RCC_APB1_TIM3) != 0;
}

bool BoardModel::ApplyTimer(const DecodedRecord& record)
{
    const uint32_t index = record.index;
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
        timer.counterStartNs = Now(); // TIM_TimeBaseInit ends with an update event: the counter restarts
        if (index == 0) // only the advanced timer has a repetition counter
            timer.repetitionCounter = record.timeBase.repetitionCounter;
        return true;
    case RecordKind::TimOcInit: {
        // The preload bit is left as it was, as TIM_OCxInit does.
        OutputCompareState& unit = timer.outputCompare[record.unit - 1];
        unit.mode = record.outputCompare.ocMode;
        unit.outputEnabled = record.outputCompare.outputState == TIM_OUTPUT_STATE_ENABLE;
        unit.complementaryEnabled = index == 0 && record.outputCompare.outputNState == TIM_OUTPUT_N_STATE_ENABLE;
        unit.pulse = record.outputCompare.pulse;
        unit.activeLow = record.outputCompare.ocPolarity == OC_POLARITY_LOW;
        return true;
    }
    case RecordKind::TimCmd:
        if (!timer.counterEnabled && record.value == 1)
            timer.counterStartNs = Now();
        timer.counterEnabled = record.value == 1;
        return true;
    case RecordKind::TimCtrlPwmOutputs: timer.mainOutputEnabled = record.value == 1; return true;
    case RecordKind::TimArrPreload: timer.arrPreload = record.value == 1; return true;
    case RecordKind::TimOcPreload:
        timer.outputCompare[record.unit - 1].preload = record.value == TIM_OCPRELOAD_ENABLE;
        return true;
    default: return false;
    }
}

} // namespace tavmodel
