// The commanded state of a real board: a board model fed every record a
// board object sent whole, and which microcontroller pins, timers and the
// debug port those records set. What no record of this object set is not
// known: an earlier program may have left it in any state.
#ifndef TAV_CAPI_COMMANDED_STATE_H
#define TAV_CAPI_COMMANDED_STATE_H

#include <cstdint>

#include "model/board_model.h"
#include "model/board_view.h"
#include "model/record_decoder.h"
#include "pwm_tables.h"

namespace TAVDll::detail {

class CommandedState {
public:
    explicit CommandedState(char modelLetter);

    // One record transfer of the board: those that went out whole count.
    void Observe(const uint8_t* bytes, int length, int result);
    // Whether the model's word on a microcontroller pin is certain.
    bool Known(const tavmodel::PinStatus& status, int port, int pin) const;
    const tavmodel::BoardModel& Model() const { return model_; }
    // What records of this object set.
    bool PinTouched(int port, int pin) const { return (touchedPins_[port] & (1u << pin)) != 0; }
    bool TimerTouched(int timerIndex) const { return touchedTimers_[timerIndex]; }
    // Whether a record of this object set that channel's compare value (its
    // output-compare set-up, or the timer's reset).
    bool DutyTouched(int timerIndex, int unit) const { return (touchedDuties_[timerIndex] & (1u << unit)) != 0; }
    bool DebugPortTouched() const { return touchedDebugPort_; }

private:
    tavmodel::BoardModel model_;
    tavmodel::DecodedRecord decoded_; // the record being added, its text reused
    uint16_t touchedPins_[PORT_COUNT] = {};
    bool touchedTimers_[PWM_GROUP_COUNT] = {};
    uint8_t touchedDuties_[PWM_GROUP_COUNT] = {}; // bit n: channel n
    bool touchedDebugPort_ = false;
};

} // namespace TAVDll::detail

#endif
