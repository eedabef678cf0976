// The commanded state of a real board: a board model fed what a board object
// sent whole, and which microcontroller pins, timers and the debug port that
// set. What no record of this object set is not known: an earlier program
// may have left it in any state.
//
// It takes the vendor calls of the library's own sequences directly (it is a
// sink of the PWM and board sequences and of the pin walk), so that an
// operation whose records all went out whole updates it from its own
// arguments; any other record is decoded.
#ifndef TAV_CAPI_COMMANDED_STATE_H
#define TAV_CAPI_COMMANDED_STATE_H

#include <cstdint>

#include "model/board_model.h"
#include "model/board_view.h"
#include "model/record_decoder.h"
#include "pins/pin_operations.h"
#include "pwm_tables.h"

namespace TAVDll::detail {

class CommandedState {
public:
    explicit CommandedState(char modelLetter);

    // One record transfer of the board: those that went out whole count.
    void Observe(const uint8_t* bytes, int length, int result);
    void ObserveWhole(const _INSTRUCTION_INFO_& record);
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

    // The sequences' vendor calls, each as its record would act.
    void GpioInit(uint32_t port, uint32_t mask, uint8_t speed, uint8_t mode)
    {
        touchedPins_[port] = static_cast<uint16_t>(touchedPins_[port] | mask);
        model_.SetPinModes(port, mask, speed, mode);
    }
    // GPIO_Init of one pin (pin < 16).
    void PinMode(uint32_t port, uint32_t pin, uint8_t speed, uint8_t mode)
    {
        touchedPins_[port] = static_cast<uint16_t>(touchedPins_[port] | (1u << pin));
        model_.SetPinMode(port, pin, speed, mode);
    }
    void GpioBits(uint32_t port, uint32_t mask, bool high) { model_.SetOutputBits(port, mask, high); }
    void PinRemap(uint32_t remapCode, uint32_t state)
    {
        touchedDebugPort_ = true;
        model_.RemapPins(remapCode, state);
    }
    void BoardStart(uint32_t startupValue) { model_.StartBoard(startupValue); }
    void ClockGate(const PwmGroup& group, uint8_t state)
    {
        model_.GateClocks(group.clockOperation == RCC_OP_APB2_CLOCK ? tavmodel::RecordKind::RccApb2Clock
                                                                    : tavmodel::RecordKind::RccApb1Clock,
                          group.peripheralMask, state);
    }
    void TimeBase(uint32_t timerIndex, const TimeBaseParams& params)
    {
        if (!FitsTimer(params.prescaler) || !FitsTimer(params.period))
            return RefusedTimeBase(timerIndex, params);
        touchedTimers_[timerIndex] = true;
        model_.InitTimeBase(timerIndex, params);
    }
    void OutputCompare(uint32_t timerIndex, uint8_t unit, const OutputCompareParams& params)
    {
        if (!FitsTimer(params.pulse))
            return RefusedOutputCompare(timerIndex, unit, params);
        touchedDuties_[timerIndex] = static_cast<uint8_t>(touchedDuties_[timerIndex] | (1u << unit));
        model_.InitOutputCompare(timerIndex, unit, params);
    }
    void OutputComparePreload(uint32_t timerIndex, uint8_t unit, uint32_t preloadCode)
    {
        model_.PreloadCompare(timerIndex, unit, preloadCode);
    }
    void DeInit(uint32_t timerIndex)
    {
        touchedTimers_[timerIndex] = true;
        touchedDuties_[timerIndex] = 0x1E; // the reset clears every compare value
        model_.ResetTimer(timerIndex);
    }
    void ArrPreload(uint32_t timerIndex, uint8_t state) { model_.PreloadPeriod(timerIndex, state); }
    void Cmd(uint32_t timerIndex, uint8_t state) { model_.EnableCounter(timerIndex, state); }
    void CtrlPwmOutputs(uint32_t timerIndex, uint8_t state) { model_.EnableMainOutput(timerIndex, state); }
    // A pin walk; the walk's result (the pins before an unavailable one
    // count). Out of line: a pin call hands its one pin to PortPins.
    int Pins(BoardType model, uint32_t pins, const PinEffect& effect);
    int Pins(BoardType model, uint32_t pins, PinAction action, int value = 0)
    {
        return Pins(model, pins, PinActionEffect(action, value));
    }

    // Pins of one port, as a pin operation's record acts on each.
    void PortPins(uint32_t port, uint32_t mask, const PinEffect& effect)
    {
        if (effect.level)
            GpioBits(port, mask, effect.high);
        else
            GpioInit(port, mask, GPIO_SPEED_50MHZ, effect.mode);
    }

private:
    // The timer's registers are 16 bits: the firmware refuses a record with
    // a wider prescaler, period or compare value.
    static constexpr bool FitsTimer(uint32_t value) { return (value >> 16) == 0; }
    // Records the board refuses, taken as the board takes them.
    void RefusedTimeBase(uint32_t timerIndex, const TimeBaseParams& params);
    void RefusedOutputCompare(uint32_t timerIndex, uint8_t unit, const OutputCompareParams& params);
    // A walk's pins by port: a pure function of the model and the pins, so
    // the last two walks are kept (a bring-up walks the same two banks each
    // time; programs write the same pins again and again).
    struct PortWalk {
        bool kept = false;
        BoardType model{};
        uint32_t pins = 0;
        int result = 0;
        uint16_t portMasks[PORT_COUNT] = {};
    };
    const PortWalk& WalkByPort(BoardType model, uint32_t pins);
    void Apply(const tavmodel::DecodedRecord& record);

    tavmodel::BoardModel model_;
    tavmodel::DecodedRecord decoded_; // the record being added, its text reused
    uint16_t touchedPins_[PORT_COUNT] = {};
    bool touchedTimers_[PWM_GROUP_COUNT] = {};
    uint8_t touchedDuties_[PWM_GROUP_COUNT] = {}; // bit n: channel n
    bool touchedDebugPort_ = false;
    PortWalk walks_[2];
    unsigned nextWalk_ = 0;
};

} // namespace TAVDll::detail

#endif
