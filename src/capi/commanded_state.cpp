#include "capi/commanded_state.h"

namespace TAVDll::detail {

CommandedState::CommandedState(char modelLetter) : model_(modelLetter)
{
    // The present state only: no record log, no history.
    model_.SetKeepReceived(false);
    model_.SetKeepHistory(false);
}

void CommandedState::Observe(const uint8_t* bytes, int length, int result)
{
    if (result != length || length != static_cast<int>(RECORD_SIZE))
        return;
    uint32_t port = 0;
    uint32_t mask = 0;
    bool high = false;
    if (tavmodel::ReadGpioBits(bytes, &port, &mask, &high)) {
        model_.ExecuteGpioBits(port, mask, high); // the common cases, read in place
        return;
    }
    uint8_t speed = 0;
    uint8_t mode = 0;
    if (tavmodel::ReadGpioInit(bytes, &port, &mask, &speed, &mode)) {
        touchedPins_[port] = static_cast<uint16_t>(touchedPins_[port] | mask);
        model_.ExecuteGpioInit(port, mask, speed, mode);
        return;
    }
    tavmodel::DecodeRecordInto(bytes, RECORD_SIZE, decoded_);
    const tavmodel::DecodedRecord& record = decoded_;
    if (record.problem.empty()) {
        if (record.kind == tavmodel::RecordKind::GpioInit && record.index < PORT_COUNT)
            touchedPins_[record.index] = static_cast<uint16_t>(touchedPins_[record.index] | record.mask);
        if (record.kind == tavmodel::RecordKind::GpioPinRemap)
            touchedDebugPort_ = true;
        if ((record.kind == tavmodel::RecordKind::TimDeInit || record.kind == tavmodel::RecordKind::TimTimeBaseInit)
            && record.index < PWM_GROUP_COUNT)
            touchedTimers_[record.index] = true;
        if (record.kind == tavmodel::RecordKind::TimDeInit && record.index < PWM_GROUP_COUNT)
            touchedDuties_[record.index] = 0x1E; // the reset clears every compare value
        if (record.kind == tavmodel::RecordKind::TimOcInit && record.index < PWM_GROUP_COUNT && record.unit >= 1
            && record.unit <= 4)
            touchedDuties_[record.index] = static_cast<uint8_t>(touchedDuties_[record.index] | (1u << record.unit));
    }
    model_.Execute(record);
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
