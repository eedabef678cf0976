#include "waveform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <tuple>

#include "model/board_view.h"

namespace tavmodel {

namespace {

using TAVDll::detail::TIM_OCMODE_PWM1;
using TAVDll::detail::TIMER_CLOCK_HZ;

constexpr uint64_t MIN_TAIL_NS = 1000000; // at least 1 ms after the last change
constexpr unsigned TAIL_PERIODS = 5;

WaveSegment LevelSegment(uint64_t start, uint64_t end, char level)
{
    WaveSegment segment{};
    segment.startNs = start;
    segment.endNs = end;
    segment.kind = WaveSegment::Kind::Level;
    segment.level = level;
    return segment;
}

double PeriodNs(const TimerState& timer)
{
    return (timer.prescaler + 1.0) * (timer.period + 1.0) * 1e9 / static_cast<double>(TIMER_CLOCK_HZ);
}

WaveSegment SegmentOf(const PinStatus& status, const BoardState& state, uint64_t start, uint64_t end)
{
    switch (status.function) {
    case PinFunction::OutputHigh: return LevelSegment(start, end, '1');
    case PinFunction::OutputLow: return LevelSegment(start, end, '0');
    case PinFunction::Pwm: break;
    default: return LevelSegment(start, end, 'z');
    }
    const TimerState& timer = state.timers[status.timer - 1];
    const OutputCompareState& unit = timer.outputCompare[status.channel - 1];
    const double fraction = status.dutyPercent / 100.0;
    if (fraction <= 0.0 || fraction >= 1.0) {
        WaveSegment held = LevelSegment(start, end, fraction <= 0.0 ? '0' : '1');
        held.heldByPwm = true;
        held.frequencyHz = status.frequencyHz;
        held.dutyPercent = status.dutyPercent;
        return held;
    }
    WaveSegment segment = LevelSegment(start, end, 'x');
    segment.kind = WaveSegment::Kind::Pwm;
    segment.periodNs = PeriodNs(timer);
    segment.highNs = fraction * segment.periodNs;
    segment.highFirst = (unit.mode == TIM_OCMODE_PWM1) != unit.activeLow;
    segment.originNs = std::min(timer.counterStartNs, start);
    segment.frequencyHz = status.frequencyHz;
    segment.dutyPercent = status.dutyPercent;
    return segment;
}

bool SameSignal(const WaveSegment& first, const WaveSegment& second)
{
    if (first.kind != second.kind)
        return false;
    if (first.kind == WaveSegment::Kind::Level)
        return first.level == second.level && first.heldByPwm == second.heldByPwm;
    return first.periodNs == second.periodNs && first.highNs == second.highNs && first.highFirst == second.highFirst
           && first.originNs == second.originNs;
}

// The end of a waveform that was not asked for: now, and long enough after
// the last change to see a few periods of every running PWM.
uint64_t DefaultEnd(const BoardModel& board, const std::vector<PinWave>& finalStates, uint64_t lastChange)
{
    double tail = MIN_TAIL_NS;
    for (const PinWave& pin : finalStates)
        for (const WaveSegment& segment : pin.segments)
            if (segment.kind == WaveSegment::Kind::Pwm)
                tail = std::max(tail, TAIL_PERIODS * segment.periodNs);
    return std::max(board.Now(), lastChange + static_cast<uint64_t>(tail));
}

bool HighAt(const WaveSegment& segment, double time)
{
    const double phase = std::fmod(time - static_cast<double>(segment.originNs), segment.periodNs);
    return segment.highFirst ? phase < segment.highNs : phase >= segment.periodNs - segment.highNs;
}

// Calls edge(time, high) for each edge of a PWM segment strictly between
// from and to, in time order: the one edge loop of the VCD and the SVG.
template <typename Edge>
void ForEachPwmEdge(const WaveSegment& segment, double from, double to, Edge edge)
{
    const double origin = static_cast<double>(segment.originNs);
    for (double periodStart = origin + std::floor((from - origin) / segment.periodNs) * segment.periodNs;
         periodStart < to; periodStart += segment.periodNs) {
        const double rise = segment.highFirst ? periodStart : periodStart + segment.periodNs - segment.highNs;
        const double fall = segment.highFirst ? periodStart + segment.highNs : periodStart;
        const bool riseFirst = rise < fall;
        for (const auto& [time, high] : {std::pair<double, bool>{std::min(rise, fall), riseFirst},
                                         std::pair<double, bool>{std::max(rise, fall), !riseFirst}})
            if (time > from && time < to)
                edge(time, high);
    }
}

std::string Escape(const std::string& text)
{
    std::string escaped;
    for (char symbol : text) {
        switch (symbol) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += symbol;
        }
    }
    return escaped;
}

std::string Number(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// "250 us", "1.5 ms" for a time in nanoseconds.
std::string TimeText(double nanoseconds)
{
    if (nanoseconds >= 1e9)
        return Number("%g s", nanoseconds / 1e9);
    if (nanoseconds >= 1e6)
        return Number("%g ms", nanoseconds / 1e6);
    if (nanoseconds >= 1e3)
        return Number("%g us", nanoseconds / 1e3);
    return Number("%g ns", nanoseconds);
}

} // namespace

bool PinWave::Changed() const
{
    return segments.size() > 1
           || (!segments.empty() && (segments.front().kind != WaveSegment::Kind::Level || segments.front().level != 'z'));
}

Waveforms BuildWaveforms(const BoardModel& board, const WaveformOptions& options)
{
    const std::vector<StateAt>& history = board.History();
    const std::vector<BoardPinRow> rows = BoardView(board).Rows();
    Waveforms waves{options.endNs, board.HistoryComplete(), {}};
    if (waves.endNs == 0) {
        // Needs the final state's PWM periods: look at the last history entry alone.
        std::vector<PinWave> last;
        for (const BoardPinRow& row : rows) {
            const PinStatus status = BoardView(board, history.back().state).Pin(row.pinId);
            last.push_back({row.pinId, "", "", {SegmentOf(status, history.back().state, 0, 1)}});
        }
        waves.endNs = DefaultEnd(board, last, history.back().timeNs);
    }
    for (const BoardPinRow& row : rows) {
        PinWave wave;
        wave.pinId = row.pinId;
        std::string name = row.name;
        std::replace(name.begin(), name.end(), '.', '_');
        const std::string mcu = row.mapped ? McuPinName(row.port, row.pin) : "";
        wave.name = mcu.empty() ? name : name + "_" + mcu;
        wave.label = mcu.empty() ? row.name : row.name + " " + mcu;
        for (size_t index = 0; index < history.size(); ++index) {
            const uint64_t start = history[index].timeNs;
            const uint64_t end = std::min(index + 1 < history.size() ? history[index + 1].timeNs : waves.endNs,
                                          waves.endNs);
            if (start >= end)
                continue;
            const PinStatus status = BoardView(board, history[index].state).Pin(row.pinId);
            const WaveSegment segment = SegmentOf(status, history[index].state, start, end);
            if (!wave.segments.empty() && SameSignal(wave.segments.back(), segment))
                wave.segments.back().endNs = end;
            else
                wave.segments.push_back(segment);
        }
        waves.pins.push_back(std::move(wave));
    }
    return waves;
}

std::string RenderVcd(const BoardModel& board, const WaveformOptions& options)
{
    const Waveforms waves = BuildWaveforms(board, options);
    // (time, pin, value), collected per pin with no repeats, then merged.
    std::vector<std::tuple<uint64_t, size_t, char>> changes;
    for (size_t pin = 0; pin < waves.pins.size(); ++pin) {
        char current = '?';
        auto emit = [&](double time, char value) {
            const auto at = static_cast<uint64_t>(std::llround(time));
            if (!changes.empty() && std::get<1>(changes.back()) == pin && std::get<0>(changes.back()) == at) {
                std::get<2>(changes.back()) = value; // two edges in one nanosecond: the later wins
                current = value;
                return;
            }
            if (value != current)
                changes.emplace_back(at, pin, value);
            current = value;
        };
        for (const WaveSegment& segment : waves.pins[pin].segments) {
            if (segment.kind == WaveSegment::Kind::Level) {
                emit(static_cast<double>(segment.startNs), segment.level);
                continue;
            }
            const double start = static_cast<double>(segment.startNs);
            const double window = std::max(static_cast<double>(options.pwmWindowNs), PWM_MIN_PERIODS * segment.periodNs);
            const double drawnEnd = std::min(static_cast<double>(segment.endNs), start + window);
            emit(start, HighAt(segment, start) ? '1' : '0');
            ForEachPwmEdge(segment, start, drawnEnd, [&](double time, bool high) { emit(time, high ? '1' : '0'); });
            if (drawnEnd < static_cast<double>(segment.endNs))
                emit(drawnEnd, 'x');
        }
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const auto& first, const auto& second) { return std::get<0>(first) < std::get<0>(second); });

    std::ostringstream out;
    const std::vector<uint8_t>& version = board.Version();
    out << "$comment\n  tavlib virtual board, model " << board.ModelLetter() << ", firmware "
        << static_cast<int>(version[0]) << '.' << static_cast<int>(version[1]) << '.' << static_cast<int>(version[2])
        << '.' << static_cast<int>(version[3]) << ": its 33 board pins, timer clock " << TIMER_CLOCK_HZ / 1000000 << " MHz.\n"
        << "  A PWM pin is drawn as its square wave for " << TimeText(static_cast<double>(options.pwmWindowNs))
        << " (at least " << PWM_MIN_PERIODS << " periods) after each change of its settings and as x after\n"
        << "  that, until its next change: the file grows with the changes, not with the run's length.\n"
        << "  z: the pin drives nothing (input, debug port, no running timer).\n";
    if (!waves.historyComplete)
        out << "  The board's history was full: changes after " << TimeText(static_cast<double>(board.History().back().timeNs))
            << " are missing.\n";
    out << "$end\n$timescale 1 ns $end\n$scope module tav_board $end\n";
    auto code = [](size_t pin) { return std::string(1, static_cast<char>('!' + pin)); };
    for (size_t pin = 0; pin < waves.pins.size(); ++pin)
        out << "$var wire 1 " << code(pin) << ' ' << waves.pins[pin].name << " $end\n";
    out << "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    size_t next = 0;
    for (; next < changes.size() && std::get<0>(changes[next]) == 0; ++next)
        out << std::get<2>(changes[next]) << code(std::get<1>(changes[next])) << '\n';
    out << "$end\n";
    uint64_t written = 0;
    for (; next < changes.size(); ++next) {
        const auto& [time, pin, value] = changes[next];
        if (time != written)
            out << '#' << time << '\n';
        written = time;
        out << value << code(pin) << '\n';
    }
    if (written < waves.endNs)
        out << '#' << waves.endNs << '\n';
    return out.str();
}

namespace {

// Where an SVG's parts go: pin names on the left, the plot to their right,
// one row per pin.
struct SvgLayout {
    static constexpr double LABEL_WIDTH = 110;
    static constexpr double PLOT_WIDTH = 900;
    static constexpr double ROW_HEIGHT = 30;
    static constexpr double TOP = 40;
    static constexpr double MIN_PERIOD_PX = 4; // narrower PWM periods become a band
    double endNs;
    double X(double time) const { return LABEL_WIDTH + time / endNs * PLOT_WIDTH; }
};

constexpr const char* WAVE_COLOUR = "#1f5fa8";
constexpr const char* FAST_PWM_FILL = "#cfe0f5";
constexpr const char* HELD_PWM_FILL = "#f5e6cf";

// One row's vertical places.
struct SvgRow {
    double high;
    double low;
    double middle;
};

// A level stretch: a line at its height, joined to the one before by a
// vertical edge. The height drawn, for the next stretch.
double DrawLevel(std::ostringstream& out, const WaveSegment& segment, double left, double right, const SvgRow& row,
                 double lastY)
{
    const double y = segment.level == '1' ? row.high : segment.level == '0' ? row.low : row.middle;
    if (lastY >= 0 && lastY != y)
        out << "<line x1=\"" << left << "\" y1=\"" << lastY << "\" x2=\"" << left << "\" y2=\"" << y
            << "\" stroke=\"" << WAVE_COLOUR << "\"/>\n";
    out << "<line x1=\"" << left << "\" y1=\"" << y << "\" x2=\"" << right << "\" y2=\"" << y << "\" stroke=\""
        << (segment.level == 'z' ? "#999\" stroke-dasharray=\"4 3" : WAVE_COLOUR) << "\" stroke-width=\"1.5\"/>\n";
    return y;
}

// A PWM stretch, a group with its caption (a tooltip where no room is left
// for the text): a band where its periods are too narrow to draw, or at 0 %
// or 100 % (which would look like a pin held low or high); its square wave
// otherwise. The height it ends at, or -1 after a band.
double DrawPwm(std::ostringstream& out, const WaveSegment& segment, double left, double right, const SvgRow& row,
               const SvgLayout& layout)
{
    const std::string caption = "PWM " + Number("%g Hz", segment.frequencyHz) + Number(", %.2f%%", segment.dutyPercent);
    out << "<g class=\"pwm\"><title>" << Escape(caption) << "</title>\n";
    const double periodPx = segment.periodNs / layout.endNs * SvgLayout::PLOT_WIDTH;
    const bool flat = segment.heldByPwm;
    if (periodPx < SvgLayout::MIN_PERIOD_PX || flat) {
        out << "<rect x=\"" << left << "\" y=\"" << row.high << "\" width=\"" << std::max(right - left, 0.5)
            << "\" height=\"" << row.low - row.high << "\" fill=\"" << (flat ? HELD_PWM_FILL : FAST_PWM_FILL)
            << "\" stroke=\"" << WAVE_COLOUR << "\"/>\n";
        if (right - left > 7.0 * static_cast<double>(caption.size()))
            out << "<text x=\"" << (left + right) / 2 << "\" y=\"" << row.middle + 4 << "\" text-anchor=\"middle\">"
                << Escape(caption) << "</text>\n";
        out << "</g>\n";
        return -1;
    }
    out << "<polyline fill=\"none\" stroke=\"" << WAVE_COLOUR << "\" stroke-width=\"1.5\" points=\"";
    const double start = static_cast<double>(segment.startNs);
    double level = HighAt(segment, start) ? row.high : row.low;
    out << left << ',' << level;
    ForEachPwmEdge(segment, start, static_cast<double>(segment.endNs), [&](double time, bool rising) {
        const double y = rising ? row.high : row.low;
        out << ' ' << layout.X(time) << ',' << level << ' ' << layout.X(time) << ',' << y;
        level = y;
    });
    out << ' ' << right << ',' << level << "\"/>\n</g>\n";
    return level;
}

void DrawPin(std::ostringstream& out, const PinWave& pin, size_t rowIndex, const SvgLayout& layout)
{
    const double top = SvgLayout::TOP + SvgLayout::ROW_HEIGHT * static_cast<double>(rowIndex);
    SvgRow row{top + 6, top + SvgLayout::ROW_HEIGHT - 8, 0};
    row.middle = (row.high + row.low) / 2;
    out << "<g class=\"pin\" data-pin=\"" << Escape(pin.name) << "\">\n"
        << "<text x=\"8\" y=\"" << row.middle + 4 << "\">" << Escape(pin.label) << "</text>\n";
    double lastY = -1;
    for (const WaveSegment& segment : pin.segments) {
        const double left = layout.X(static_cast<double>(segment.startNs));
        const double right = layout.X(static_cast<double>(segment.endNs));
        lastY = segment.kind == WaveSegment::Kind::Level && !segment.heldByPwm
                    ? DrawLevel(out, segment, left, right, row, lastY)
                    : DrawPwm(out, segment, left, right, row, layout);
    }
    out << "</g>\n";
}

// The time axis: 1-2-5 steps, about eight ticks, each in the unit of the
// scale ("0 ms", "5 ms", ...).
void DrawTimeAxis(std::ostringstream& out, double axisY, const SvgLayout& layout)
{
    const double end = layout.endNs;
    const double rough = end / 8;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    const double step = rough / magnitude < 2 ? magnitude : rough / magnitude < 5 ? 2 * magnitude : 5 * magnitude;
    out << "<line x1=\"" << layout.X(0) << "\" y1=\"" << axisY << "\" x2=\"" << layout.X(end) << "\" y2=\"" << axisY
        << "\" stroke=\"black\"/>\n";
    const std::string unitText = TimeText(end);
    const std::string unit = unitText.substr(unitText.find(' ') + 1);
    const double unitNs = unit == "s" ? 1e9 : unit == "ms" ? 1e6 : unit == "us" ? 1e3 : 1.0;
    for (double tick = 0; tick <= end * 1.0000001; tick += step)
        out << "<line x1=\"" << layout.X(tick) << "\" y1=\"" << axisY << "\" x2=\"" << layout.X(tick) << "\" y2=\""
            << axisY + 5 << "\" stroke=\"black\"/>\n<text x=\"" << layout.X(tick) << "\" y=\"" << axisY + 18
            << "\" text-anchor=\"middle\">" << Escape(Number("%g ", tick / unitNs) + unit) << "</text>\n";
}

// What the strokes mean: each entry a swatch and its words, left to right,
// at its offset from the plot's left edge.
struct LegendEntry {
    double offset;
    enum class Swatch { Driven, Floating, FastPwm, HeldPwm } swatch;
    const char* text;
};
constexpr LegendEntry LEGEND[] = {
    {0, LegendEntry::Swatch::Driven, "driven high or low"},
    {170, LegendEntry::Swatch::Floating, "floating (not driven)"},
    {350, LegendEntry::Swatch::FastPwm, "PWM too fast to draw (hover: frequency, duty)"},
    {650, LegendEntry::Swatch::HeldPwm, "PWM at 0 % or 100 %"},
};
constexpr double SWATCH_WIDTH = 30;
constexpr double SWATCH_TO_TEXT = 6;

void DrawLegend(std::ostringstream& out, double legendY)
{
    out << "<g class=\"legend\" font-size=\"11\">\n";
    for (const LegendEntry& entry : LEGEND) {
        const double left = SvgLayout::LABEL_WIDTH + entry.offset;
        switch (entry.swatch) {
        case LegendEntry::Swatch::Driven:
        case LegendEntry::Swatch::Floating:
            out << "<line x1=\"" << left << "\" y1=\"" << legendY << "\" x2=\"" << left + SWATCH_WIDTH << "\" y2=\""
                << legendY << "\" stroke=\""
                << (entry.swatch == LegendEntry::Swatch::Driven ? WAVE_COLOUR : "#999\" stroke-dasharray=\"4 3")
                << "\" stroke-width=\"1.5\"/>\n";
            break;
        case LegendEntry::Swatch::FastPwm:
        case LegendEntry::Swatch::HeldPwm:
            out << "<rect x=\"" << left << "\" y=\"" << legendY - 6 << "\" width=\"" << SWATCH_WIDTH
                << "\" height=\"12\" fill=\""
                << (entry.swatch == LegendEntry::Swatch::FastPwm ? FAST_PWM_FILL : HELD_PWM_FILL) << "\" stroke=\""
                << WAVE_COLOUR << "\"/>\n";
            break;
        }
        out << "<text x=\"" << left + SWATCH_WIDTH + SWATCH_TO_TEXT << "\" y=\"" << legendY + 4 << "\">" << entry.text
            << "</text>\n";
    }
    out << "</g>\n";
}

} // namespace

std::string RenderSvg(const BoardModel& board, const WaveformOptions& options)
{
    const Waveforms waves = BuildWaveforms(board, options);
    std::vector<const PinWave*> shown;
    for (const PinWave& pin : waves.pins)
        if (pin.Changed())
            shown.push_back(&pin);
    const SvgLayout layout{static_cast<double>(std::max<uint64_t>(waves.endNs, 1))};
    const double rows = SvgLayout::ROW_HEIGHT * static_cast<double>(shown.size());
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << SvgLayout::LABEL_WIDTH + SvgLayout::PLOT_WIDTH + 30
        << "\" height=\"" << SvgLayout::TOP + rows + 75 << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"10\" y=\"20\" font-size=\"14\">TAV virtual board, model " << Escape(std::string(1, board.ModelLetter()))
        << ": " << shown.size() << " pins changed in " << Escape(TimeText(layout.endNs)) << "</text>\n";
    for (size_t row = 0; row < shown.size(); ++row)
        DrawPin(out, *shown[row], row, layout);
    const double axisY = SvgLayout::TOP + rows + 10;
    DrawTimeAxis(out, axisY, layout);
    DrawLegend(out, axisY + 38);
    out << "</svg>\n";
    return out.str();
}

} // namespace tavmodel
