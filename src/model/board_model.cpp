#include "board_model.h"

#include <cstring>

namespace tavmodel {

namespace {

using namespace TAVDll::detail;

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
    case RecordKind::BoardStart: StartBoard(record.value); return true;
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
    case RecordKind::RccApb1Clock: GateClocks(record.kind, record.mask, record.value); return true;
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
    default: RemapPins(record.mask, record.value); break;
    }
}

void BoardModel::RemapPins(uint32_t remapCode, uint32_t state)
{
    // GPIO_PinRemapConfig clears the SWJ field first, so DISABLE gives the full debug port back.
    state_.debugPort = state == 1 ? DebugPortFor(remapCode) : DebugPort::FullSwj;
}

void BoardModel::StartBoard(uint32_t startupArgument)
{
    ++state_.startCount;
    state_.startArgument = startupArgument;
}

bool BoardModel::ApplyTimer(const DecodedRecord& record)
{
    const uint32_t index = record.index;
    switch (record.kind) {
    case RecordKind::TimDeInit: ResetTimer(index); return true;
    case RecordKind::TimTimeBaseInit: InitTimeBase(index, record.timeBase); return true;
    case RecordKind::TimOcInit: InitOutputCompare(index, record.unit, record.outputCompare); return true;
    case RecordKind::TimCmd: EnableCounter(index, record.value); return true;
    case RecordKind::TimCtrlPwmOutputs: EnableMainOutput(index, record.value); return true;
    case RecordKind::TimArrPreload: PreloadPeriod(index, record.value); return true;
    case RecordKind::TimOcPreload: PreloadCompare(index, record.unit, record.value); return true;
    default: return false;
    }
}

} // namespace tavmodel
