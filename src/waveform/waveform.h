/*
 * waveform.h - what the 33 board pins of a virtual board did over time, from
 * the board model's history: as segments (a level, high impedance, or PWM with
 * its frequency and duty), as a VCD value change dump that sigrok and GTKWave
 * read, and as an SVG timing diagram.
 *
 * Sizes grow with the number of records that changed something, never with
 * the timer clock: a PWM pin is written to the VCD as its square wave for a
 * window after each change of its settings (PwmWindowNs, at least
 * PWM_MIN_PERIODS periods) and as 'x' (not drawn) after that; the SVG draws
 * PWM as a labelled band where its periods would be too narrow to see.
 */
#ifndef TAV_WAVEFORM_H
#define TAV_WAVEFORM_H

#include <cstdint>
#include <string>
#include <vector>

#include "model/board_model.h"

namespace tavmodel {

constexpr uint64_t PWM_WINDOW_NS = 50000000; // 50 ms of square wave after each change
constexpr unsigned PWM_MIN_PERIODS = 10;

struct WaveformOptions {
    // The end of the waveform; 0: the board's clock now, and at least a few
    // PWM periods (and 1 ms) after the last change.
    uint64_t endNs = 0;
    uint64_t pwmWindowNs = PWM_WINDOW_NS;
};

struct WaveSegment {
    enum class Kind { Level, Pwm };
    uint64_t startNs;
    uint64_t endNs;
    Kind kind;
    char level;         // Level: '0', '1' or 'z' (not driven by the pin)
    double periodNs;    // Pwm
    double highNs;      // Pwm: high time in a period
    bool highFirst;     // Pwm: the period starts high
    uint64_t originNs;  // Pwm: a period starts here (the counter's start)
    double frequencyHz; // Pwm, and a Level that PWM at 0 % or 100 % holds
    double dutyPercent; // the same
    bool heldByPwm;     // Level: PWM at 0 % or 100 %, not an output
};

struct PinWave {
    uint32_t pinId;
    std::string name;  // "P8_0_PA0": a VCD identifier with both names
    std::string label; // "P8.0 PA0"
    std::vector<WaveSegment> segments;
    bool Changed() const; // anything but high impedance from start to end
};

struct Waveforms {
    uint64_t endNs;
    bool historyComplete;
    std::vector<PinWave> pins; // the 33 board pins, in identifier order
};

Waveforms BuildWaveforms(const BoardModel& board, const WaveformOptions& options = {});

// IEEE 1364 value change dump: timescale 1 ns, one wire per board pin in a
// scope for the board.
std::string RenderVcd(const BoardModel& board, const WaveformOptions& options = {});

// A timing diagram: one labelled row per pin that changed (did anything but
// drive nothing all along), a time axis.
std::string RenderSvg(const BoardModel& board, const WaveformOptions& options = {});

} // namespace tavmodel

#endif
