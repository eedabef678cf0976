#include "capi/commanded_state.h"

#include "records/records.h"

namespace TAVDll::detail {

using tavmodel::RecordKind;

CommandedState::CommandedState(char modelLetter) : model_(modelLetter)
{
    // The present state only: no record log, no history.
    model_.SetKeepReceived(false);
    model_.SetKeepHistory(false);
}

void CommandedState::ObserveWhole(const _INSTRUCTION_INFO_& record)
{
    Observe(reinterpret_cast<const uint8_t*>(&record), RECORD_SIZE, RECORD_SIZE);
}

void CommandedState::RefusedTimeBase(uint32_t timerIndex, const TimeBaseParams& params)
{
    ObserveWhole(MakeTimTimeBaseInit(timerIndex, params));
}

void CommandedState::RefusedOutputCompare(uint32_t timerIndex, uint8_t unit, const OutputCompareParams& params)
{
    ObserveWhole(MakeTimOcInit(unit, timerIndex, params));
}

const CommandedState::PortWalk& CommandedState::WalkByPort(BoardType model, uint32_t pins)
{
    for (const PortWalk& kept : walks_) {
        if (kept.pins == pins && kept.model == model && kept.kept)
            return kept;
    }
    PortWalk& walk = walks_[nextWalk_];
    nextWalk_ = (nextWalk_ + 1) % 2;
    walk = PortWalk{};
    walk.result = WalkPins(model, pins, [&](const McuPin& target) {
        walk.portMasks[target.port] = static_cast<uint16_t>(walk.portMasks[target.port] | target.Mask());
    });
    walk.kept = true;
    walk.model = model;
    walk.pins = pins;
    return walk;
}

int CommandedState::Pins(BoardType model, uint32_t pins, const PinEffect& effect)
{
    // One record per pin sets each pin alone, so the pins of a port can be
    // set together.
    const PortWalk& walk = WalkByPort(model, pins);
    for (uint32_t port = 0; port < PORT_COUNT; ++port) {
        if (walk.portMasks[port] != 0)
            PortPins(port, walk.portMasks[port], effect);
    }
    return walk.result;
}

void CommandedState::Observe(const uint8_t* bytes, int length, int result)
{
    if (result != length || length != static_cast<int>(RECORD_SIZE))
        return;
    uint32_t port = 0;
    uint32_t mask = 0;
    bool high = false;
    if (tavmodel::ReadGpioBits(bytes, &port, &mask, &high)) {
        GpioBits(port, mask, high); // the common cases, read in place
        return;
    }
    uint8_t speed = 0;
    uint8_t mode = 0;
    if (tavmodel::ReadGpioInit(bytes, &port, &mask, &speed, &mode)) {
        GpioInit(port, mask, speed, mode);
        return;
    }
    tavmodel::DecodeRecordInto(bytes, RECORD_SIZE, decoded_);
    Apply(decoded_);
}

// A decoded record: those the firmware takes through the calls above, the
// rest (refused ones among them) through the model.
void CommandedState::Apply(const tavmodel::DecodedRecord& record)
{
    if (!record.problem.empty()) {
        model_.Execute(record);
        return;
    }
    const uint32_t index = record.index;
    switch (record.kind) {
    case RecordKind::GpioInit: GpioInit(index, record.mask, record.speed, record.mode); break;
    case RecordKind::GpioPinRemap: PinRemap(record.mask, record.value); break;
    case RecordKind::TimDeInit: DeInit(index); break;
    case RecordKind::TimTimeBaseInit: TimeBase(index, record.timeBase); break;
    case RecordKind::TimOcInit: OutputCompare(index, record.unit, record.outputCompare); break;
    default: model_.Execute(record); break;
    }
}

bool CommandedState::Known(const tavmodel::PinStatus& status, int port, int pin) const
{
    if (port < 0)
        return true;
    const bool pinSet = (touchedPins_[port] & (1u << pin)) != 0;
    const bool timerSet = status.timer == 0 || touchedTimers_[status.timer - 1];
    return pinSet && timerSet && (DebugPinRoleOf(port, pin) == DebugPinRole::None || touchedDebugPort_);
}

} // namespace TAVDll::detail
