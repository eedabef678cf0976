/*
 * board_view.h - what the pins of a virtual board do now, worked out from the
 * board model's registers: for each of the 33 board pins and for the pins
 * that no identifier reaches, as data and as the text tavctl shows.
 */
#ifndef TAV_MODEL_BOARD_VIEW_H
#define TAV_MODEL_BOARD_VIEW_H

#include <cstdint>
#include <string>
#include <vector>

#include "board_model.h"

namespace tavmodel {

enum class PinFunction {
    DebugPort,     // held by the serial-wire/JTAG port
    AnalogInput,
    FloatingInput,
    PullDownInput,
    PullUpInput,
    OutputHigh,
    OutputLow,
    Pwm,
    NotDriven      // alternate function, but nothing drives it (see reason)
};

struct PinStatus {
    PinFunction function = PinFunction::FloatingInput;
    bool openDrain = false;
    int timer = 0;   // 1..3 (TIM1..TIM3) for PWM and timer reasons
    int channel = 0; // timer channel 1..4
    double frequencyHz = 0;
    uint32_t dutyCounts = 0;   // compare value
    uint32_t periodCounts = 0; // ARR + 1
    double dutyPercent = 0;    // share of the period the pin is high
    std::string reason;

    std::string Describe() const;
};

struct BoardPinRow {
    uint32_t pinId;    // e.g. 0x40000001
    std::string name;  // e.g. "P4.0"
    bool mapped;       // false on models without a pin map
    int port;          // 0..2 when mapped
    int pin;           // 0..15 when mapped
    PinStatus status;
};

// The frequency of a timer's PWM period (centre-aligned counting included).
double PwmFrequencyHz(const TimerState& timer);

// Whether the serial-wire/JTAG port holds this microcontroller pin.
bool DebugHolds(const BoardState& state, int port, int pin);

class BoardView {
public:
    // What the board does now, or did in a state from its history.
    explicit BoardView(const BoardModel& board) : board_(board), state_(board.State()) {}
    BoardView(const BoardModel& board, const BoardState& state) : board_(board), state_(state) {}

    // What a microcontroller pin (port 0..2, pin 0..15) does now.
    PinStatus McuPin(int port, int pin) const;
    // What the board pin with this single-pin identifier does now; a pin
    // without mapping on this model reports NotDriven.
    PinStatus Pin(uint32_t pinId) const;
    // The 33 board pins in identifier order (bank 4, then bank 8).
    std::vector<BoardPinRow> Rows() const;
    // The board view as text, including the pins no identifier reaches.
    std::string Render() const;

private:
    const BoardModel& board_;
    const BoardState& state_;
};

} // namespace tavmodel

#endif
