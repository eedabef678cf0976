// tavctl pwm: start, retune and stop the three PWM groups.
#include <algorithm>
#include <cstdio>

#include <cmath>
#include <cstdlib>

#include "command.h"
#include "json_output.h"
#include "tool.h"

namespace tavctl {

namespace {



struct Group {
    char letter;
    uint32_t channels;
};

// The library reads PWM arguments for every front end; a refusal is a usage error.
void Refused(int result, const char* reason)
{
    if (result != TAV_OK)
        throw ToolError(reason, EXIT_USAGE);
}

Group ParseGroup(const std::string& text)
{
    char letter = 0;
    char reason[256] = "";
    Refused(tav_parse_pwm_group(text.c_str(), &letter, reason, sizeof reason), reason);
    return {letter, static_cast<uint32_t>(tav_pwm_channel_count(letter))};
}

int ParseDivider(const std::string& text)
{
    int divider = 0;
    char reason[256] = "";
    Refused(tav_parse_pwm_divider(text.c_str(), &divider, reason, sizeof reason), reason);
    return divider;
}

// "9000" counts, or "25%" of full scale; signed when relative.
long ParseDutyAmount(const std::string& text, bool allowSign)
{
    const bool negative = allowSign && !text.empty() && text[0] == '-';
    const std::string magnitude = allowSign && !text.empty() && (text[0] == '+' || text[0] == '-') ? text.substr(1) : text;
    uint32_t counts = 0;
    char reason[256] = "";
    Refused(tav_parse_duty(magnitude.c_str(), &counts, reason, sizeof reason), reason);
    return negative ? -static_cast<long>(counts) : static_cast<long>(counts);
}

// A bare number is counts (scripts rely on it), but "--duty 25" was most
// likely meant as 25 %: said once when every duty given reads that way.
void NoteSmallCounts(const std::vector<std::string>& duties)
{
    unsigned long shown = 0;
    for (std::string text : duties) {
        if (!text.empty() && (text[0] == '+' || text[0] == '-'))
            text.erase(0, 1);
        if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
            return;
        const unsigned long counts = std::stoul(text);
        if (counts > 100)
            return;
        if (shown == 0)
            shown = counts;
    }
    if (shown == 0)
        return;
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.2f", 100.0 * shown / TAV_PWM_FULL_SCALE);
    Warn(std::to_string(shown) + " counts = " + percent + " %; write " + std::to_string(shown) +
         "% for a percentage");
}

uint32_t ParseChannel(const Group& group, const std::string& text)
{
    const auto channel = ParseNumber(text, "channel", 0, 0xFFFFFFFFu);
    if (channel < 1 || channel > group.channels)
        throw ToolError(std::string("group ") + group.letter + " has channels 1-" + std::to_string(group.channels) +
                            ", not " + text,
                        EXIT_USAGE);
    return static_cast<uint32_t>(channel);
}

// "PA0 (P8.0)": the channel's microcontroller pin and the board pin on it.
std::string ChannelPin(char group, uint32_t channel, char model)
{
    const tav_pwm_channel info = ChannelInfo(group, channel, model);
    return info.pin != 0 ? std::string(info.mcu_pin) + " (" + BoardPinName(info.pin) + ")" : info.mcu_pin;
}

void PrintChannel(FILE* out, const Group& group, uint32_t channel, unsigned int duty, char model,
                  uint32_t fullScale = TAV_PWM_FULL_SCALE)
{
    std::fprintf(out, "  channel %u %-12s duty %u/%u (%.2f%%)\n", channel, ChannelPin(group.letter, channel, model).c_str(),
                 duty, fullScale, 100.0 * duty / fullScale);
}

tav_pwm_group_state GroupState(Context& context, char letter, const char* what)
{
    tav_pwm_group_state state{};
    Check(tav_pwm_group_state_get(context.session.Board().handle(), letter, &state), what);
    return state;
}

// Digits with at most one point among them ("7.5", "1500"; not "", ".", "1.2.3").
bool PlainDecimal(const std::string& text)
{
    return !text.empty() && text != "." && text.find_first_not_of("0123456789.") == std::string::npos
           && text.find('.') == text.rfind('.');
}

// "7.5%": digits and at most one point, then %; NaN when text is no percentage.
double ParsePercent(const std::string& text)
{
    if (text.size() < 2 || text.back() != '%')
        return std::nan("");
    const std::string number = text.substr(0, text.size() - 1);
    if (!PlainDecimal(number))
        return std::nan("");
    const double percent = std::strtod(number.c_str(), nullptr);
    if (percent > 100)
        throw ToolError("duty " + Quoted(text) + " is above 100%", EXIT_USAGE);
    return percent;
}

// A duty of a group at fullScale steps: counts (decimal or 0x hex) or a percentage.
uint32_t DutySteps(const std::string& text, uint32_t fullScale)
{
    const double percent = ParsePercent(text);
    if (!std::isnan(percent))
        return static_cast<uint32_t>(std::lround(percent / 100.0 * fullScale));
    const auto counts = static_cast<uint32_t>(ParseNumber(text, "duty", 0, fullScale));
    return counts;
}

// "1500us", "1.5ms", "1500" (microseconds): a pulse in microseconds.
double ParsePulse(const std::string& text)
{
    double scale = 1;
    std::string number = text;
    if (number.size() > 2 && number.compare(number.size() - 2, 2, "us") == 0) {
        number.resize(number.size() - 2);
    } else if (number.size() > 2 && number.compare(number.size() - 2, 2, "ms") == 0) {
        number.resize(number.size() - 2);
        scale = 1000;
    }
    if (!PlainDecimal(number))
        throw ToolError("pulse " + Quoted(text) + ": microseconds or milliseconds, like 1500us or 1.5ms", EXIT_USAGE);
    return std::strtod(number.c_str(), nullptr) * scale;
}

void PrintGroupJson(char letter, const tav_pwm_group_state& state)
{
    Json channels = Json::array();
    for (unsigned channel = 1; channel <= state.channel_count; ++channel)
        channels.push_back({{"channel", channel}, {"duty", state.duty[channel - 1]},
                            {"duty_percent", 100.0 * state.duty[channel - 1] / state.full_scale}});
    const Json document = {{"group", std::string(1, letter)}, {"running", state.running != 0},
                           {"frequency_hz", state.frequency_hz}, {"prescaler", state.prescaler},
                           {"full_scale", state.full_scale}, {"channels", channels}};
    // JSON Lines on standard output, as list, info and status give theirs.
    PrintJson(document);
}

} // namespace

namespace {

// The duties of --duty as words, one per channel given.
std::vector<std::string> DutyFields(const Group& group, const std::string& duties)
{
    std::vector<std::string> fields;
    if (!duties.empty()) {
        size_t start = 0;
        while (start <= duties.size()) {
            const size_t comma = std::min(duties.find(',', start), duties.size());
            fields.push_back(duties.substr(start, comma - start));
            start = comma + 1;
        }
    }
    if (fields.size() > group.channels)
        throw ToolError(std::string("group ") + group.letter + " has " + std::to_string(group.channels) +
                            " channels, " + std::to_string(fields.size()) + " duties given",
                        EXIT_USAGE);
    for (size_t index = 0; index < fields.size(); ++index)
        if (fields[index].empty())
            throw ToolError("duty " + std::to_string(index + 1) + " of " + Quoted(duties) +
                                " is empty: give every channel up to the last one a duty (0 for off)",
                            EXIT_USAGE);
    return fields;
}

void PwmStartAtHz(Context& context, const Group& group, const std::string& hzText, const std::string& duties)
{
    const std::vector<std::string> fields = DutyFields(group, duties);
    char* end = nullptr;
    const double hz = std::strtod(hzText.c_str(), &end);
    uint32_t fullScale = 0;
    uint32_t prescaler = 0;
    if (hzText.empty() || end == nullptr || *end != '\0' || !std::isfinite(hz)
        || tav_pwm_time_base(hz, &prescaler, &fullScale, nullptr) != TAV_OK)
        throw ToolError("--hz " + Quoted(hzText) + ": a frequency from 0.0168 to 720000 Hz", EXIT_USAGE);
    double percents[4] = {0, 0, 0, 0};
    for (size_t index = 0; index < fields.size(); ++index)
        percents[index] = 100.0 * DutySteps(fields[index], fullScale) / fullScale;
    context.session.Connect();
    double reached = 0;
    Check(tav_pwm_start_hz(context.session.Board().handle(), group.letter, hz, percents, fields.size(), &reached),
          "pwm start");
    const tav_pwm_group_state state = GroupState(context, group.letter, "pwm start");
    if (context.options.format == "json")
        return PrintGroupJson(group.letter, state);
    std::fprintf(context.out, "group %c started: %g Hz (72 MHz timer clock / %u / %u steps)\n", group.letter, reached,
                 prescaler + 1, fullScale);
    for (uint32_t channel = 1; channel <= group.channels; ++channel)
        PrintChannel(context.out, group, channel, state.duty[channel - 1], context.session.ModelLetter(), fullScale);
}

} // namespace

void PwmStartCommand(Context& context, const std::string& groupText, const std::string& divider, const std::string& duties,
                     const std::string& hz)
{
    const Group group = ParseGroup(groupText);
    if (!hz.empty()) {
        if (!divider.empty())
            throw ToolError("pwm start takes --div or --hz, not both", EXIT_USAGE);
        return PwmStartAtHz(context, group, hz, duties);
    }
    const int dividedBy = ParseDivider(divider.empty() ? "1" : divider);
    const std::vector<std::string> fields = DutyFields(group, duties);
    uint32_t values[4] = {0, 0, 0, 0};
    for (size_t index = 0; index < fields.size(); ++index)
        values[index] = static_cast<uint32_t>(ParseDutyAmount(fields[index], false));
    NoteSmallCounts(fields);
    context.session.Connect();
    Check(context.session.Board().pwmStart(group.letter, dividedBy, values, group.channels), "pwm start");
    if (context.options.format == "json")
        return PrintGroupJson(group.letter, GroupState(context, group.letter, "pwm start"));
    std::fprintf(context.out, "group %c started: %g Hz (%u MHz timer clock / %d)\n", group.letter,
                 double(TAV_PWM_BASE_HZ) / dividedBy, TAV_PWM_BASE_HZ * TAV_PWM_FULL_SCALE / 1000000u,
                 dividedBy);
    for (uint32_t channel = 1; channel <= group.channels; ++channel)
        PrintChannel(context.out, group, channel, values[channel - 1], context.session.ModelLetter());
}

void PwmSetCommand(Context& context, const std::string& groupText, const std::string& channelText,
                   const std::string& dutyText)
{
    const Group group = ParseGroup(groupText);
    const uint32_t channel = ParseChannel(group, channelText);
    const bool relative = !dutyText.empty() && (dutyText[0] == '+' || dutyText[0] == '-');
    const std::string magnitude = relative ? dutyText.substr(1) : dutyText;
    // Checked before the board is opened: counts or a percentage.
    const bool percent = !std::isnan(ParsePercent(magnitude));
    if (!percent)
        ParseDutyAmount(magnitude, false);
    NoteSmallCounts({dutyText});
    context.session.Connect();
    // The group as this board object commanded it, on every model (one
    // without a pin map too): its full scale is the unit of the duty.
    const tav_pwm_group_state before = GroupState(context, group.letter, "pwm set");
    const uint32_t fullScale = before.full_scale;
    const long amount = static_cast<long>(percent ? DutySteps(magnitude, fullScale)
                                                  : static_cast<uint32_t>(ParseNumber(magnitude, "duty", 0, fullScale)));
    long duty = amount;
    if (relative) {
        if (!before.duty_known[channel - 1])
            throw ToolError(std::string("the duty of group ") + group.letter + " channel " + std::to_string(channel) +
                            " is not known to this session: give it whole, or run `pwm start " + group.letter +
                            "` first");
        duty = std::clamp(static_cast<long>(before.duty[channel - 1]) + (dutyText[0] == '-' ? -amount : amount), 0L,
                          static_cast<long>(fullScale));
    }
    Check(context.session.Board().pwmSet(group.letter, channel, static_cast<uint32_t>(duty)), "pwm set");
    const tav_pwm_group_state after = GroupState(context, group.letter, "pwm set");
    if (context.options.format == "json") {
        PrintGroupJson(group.letter, after);
    } else {
        std::fprintf(context.out, "group %c:\n", group.letter);
        PrintChannel(context.out, group, channel, static_cast<unsigned int>(duty), context.session.ModelLetter(), fullScale);
    }
    if (after.known && !after.running)
        Warn(std::string("group ") + group.letter + " is not running, so the duty is only stored: run `pwm start " +
             group.letter + "` first");
}

void PwmPulseCommand(Context& context, const std::string& groupText, const std::string& channelText,
                     const std::string& pulseText)
{
    const Group group = ParseGroup(groupText);
    const uint32_t channel = ParseChannel(group, channelText);
    const double microseconds = ParsePulse(pulseText);
    context.session.Connect();
    const int result = context.session.Board().pwmSetPulse(group.letter, channel, microseconds);
    const tav_pwm_group_state state = GroupState(context, group.letter, "pwm pulse");
    if (result == TAV_E_INVALID)
        throw ToolError(state.running ? std::string("a pulse of ") + pulseText + " is longer than group " +
                                            group.letter + "'s period (" + std::to_string(1e6 / state.frequency_hz) +
                                            " us)"
                                      : std::string("group ") + group.letter +
                                            " is not running: start it first (pwm start " + group.letter +
                                            " --hz 50 for servos)",
                        EXIT_USAGE);
    Check(result, "pwm pulse");
    if (context.options.format == "json")
        return PrintGroupJson(group.letter, state);
    std::fprintf(context.out, "group %c: pulse %g us\n", group.letter, microseconds);
    PrintChannel(context.out, group, channel, state.duty[channel - 1], context.session.ModelLetter(), state.full_scale);
}

void PwmStopCommand(Context& context, const std::string& groupText)
{
    if (!groupText.empty()) {
        const Group group = ParseGroup(groupText);
        context.session.Connect();
        Check(context.session.Board().pwmStopGroup(group.letter), "pwm stop");
        std::fprintf(context.out, "group %c stopped, its pins floating; the other groups run on\n", group.letter);
        if (context.options.format == "json")
            PrintGroupJson(group.letter, GroupState(context, group.letter, "pwm stop"));
        return;
    }
    context.session.Connect();
    Check(context.session.Board().pwmStop(), "pwm stop");
    std::fprintf(context.out, "all PWM stopped, PWM pins floating\n");
    if (context.options.format == "json")
        for (const char letter : PwmGroups())
            PrintGroupJson(letter, GroupState(context, letter, "pwm stop"));
}

namespace {

// Each group's channels: the microcontroller's pins and the board pins on
// them, by model (those with a pin map), as the library's channel table has
// them.
std::string PwmPinsHelp()
{
    const std::string models = ModelLetters();
    std::string help;
    for (const char group : PwmGroups()) {
        const int count = tav_pwm_channel_count(group);
        const tav_pwm_channel first = ChannelInfo(group, 1, models.front());
        std::string mcu; // the same on every model
        for (int channel = 1; channel <= count; ++channel)
            mcu += std::string(mcu.empty() ? "" : " ") +
                   ChannelInfo(group, static_cast<uint32_t>(channel), models.front()).mcu_pin;
        std::string byModel;
        for (const char model : models) {
            std::string pins;
            bool mapped = false;
            for (int channel = 1; channel <= count; ++channel) {
                const tav_pwm_channel info = ChannelInfo(group, static_cast<uint32_t>(channel), model);
                pins += std::string(pins.empty() ? "" : " ") + (info.pin != 0 ? BoardPinName(info.pin) : "-");
                mapped = mapped || info.pin != 0;
            }
            if (mapped)
                byModel += std::string(byModel.empty() ? "" : "; ") + pins + " on model " + model;
        }
        help += std::string("Group ") + group + " (TIM" + std::to_string(first.timer) + "), channels 1-" +
                std::to_string(count) + ": " + mcu + "\n  = board pins " + byModel + "\n";
    }
    return help;
}

// "1-3 for A, 1-4 for B and C": each group's channels.
std::string ChannelRangesText()
{
    std::vector<std::pair<int, std::string>> byCount; // channel count, its groups in order
    for (const char group : PwmGroups()) {
        const int count = tav_pwm_channel_count(group);
        if (byCount.empty() || byCount.back().first != count)
            byCount.push_back({count, ""});
        byCount.back().second += group;
    }
    std::string text;
    for (const auto& [count, groups] : byCount) {
        text += (text.empty() ? "" : ", ") + std::string("1-") + std::to_string(count) + " for " +
                Alternatives(groups, "and");
    }
    return text;
}

} // namespace

Command PwmDeclaration()
{
    const std::string groups = Alternatives(PwmGroups());
    const std::string fullScale = std::to_string(TAV_PWM_FULL_SCALE);
    Command start{"start", "Set up and start one group",
                  {Required("GROUP", groups),
                   Optional("--div", "Clock divider: " + DividersText() + " (default 1: " +
                                         std::to_string(TAV_PWM_BASE_HZ) + " Hz)"),
                   Optional("--hz", "Any frequency instead, 0.0168 to 720000 Hz (50 for servos, 20000 for motors): "
                                    "the finest time base within 0.1 %"),
                   Optional("--duty", "Duties of channels 1..n, counts (of the full scale) or percent, "
                                      "comma-separated (missing ones are 0)")},
                  "Examples:\n  tavctl pwm start A --duty 50%\n  tavctl pwm start C --div 8 --duty 100,200,300,400\n"
                  "  tavctl pwm start B --hz 50 --duty 7.5%     (a servo at its centre)\n"
                  "  tavctl pwm start C --hz 20000 --duty 30%   (a motor, above hearing)",
                  [](Context& context, const Arguments& arguments) {
                      if (arguments.Given("--duty") && arguments.Text("--duty").empty())
                          throw ToolError("--duty needs at least one duty (counts or percent, comma-separated)",
                                          EXIT_USAGE);
                      PwmStartCommand(context, arguments.Text("GROUP"), arguments.Text("--div"),
                                      arguments.Text("--duty"), arguments.Text("--hz"));
                  }};
    Command set{"set", "Change the duty of one channel",
                {Required("GROUP", groups), Required("CHANNEL", ChannelRangesText()),
                 Required("DUTY", "Counts of the group's full scale (0-" + fullScale + " with a divider) or "
                                  "percent (50%); +N or -N (+10%) steps from the commanded duty")},
                "Examples:\n  tavctl pwm set A 1 18000\n  tavctl pwm set C 4 12.5%\n"
                "  in a script: repeat 10 pwm set B 1 +10%; sleep 100ms",
                [](Context& context, const Arguments& arguments) {
                    PwmSetCommand(context, arguments.Text("GROUP"), arguments.Text("CHANNEL"), arguments.Text("DUTY"));
                }};
    Command pulse{"pulse", "Set one channel's high time (a servo's pulse) of the running group",
                  {Required("GROUP", groups), Required("CHANNEL", ChannelRangesText()),
                   Required("PULSE", "Microseconds or milliseconds: 1500us, 1.5ms (a bare number is us)")},
                  "Examples:\n  tavctl pwm start B --hz 50\n  tavctl pwm pulse B 1 1500us   (centre)\n"
                  "  tavctl pwm pulse B 1 1ms      (one end)",
                  [](Context& context, const Arguments& arguments) {
                      PwmPulseCommand(context, arguments.Text("GROUP"), arguments.Text("CHANNEL"),
                                      arguments.Text("PULSE"));
                  }};
    Command stop{"stop", "Stop one group (the others run on), or every group", {Optional("GROUP", groups)},
                 "Examples:\n  tavctl pwm stop B\n  tavctl pwm stop",
                 [](Context& context, const Arguments& arguments) { PwmStopCommand(context, arguments.Text("GROUP")); }};
    Command pwm{"pwm", "Start, retune or stop the PWM groups " + Alternatives(PwmGroups(), "and"), {},
                PwmPinsHelp() + "Full scale is " + fullScale +
                    " counts: a bare number is counts (25 is 0.07 %), 25% a percentage.\n"
                    "The PWM runs at " + std::to_string(TAV_PWM_BASE_HZ) +
                    " Hz / divider with the usual 72 MHz timer clock.\n"
                    "Examples:\n  tavctl pwm start B --div 2 --duty 25%,50%,9000,0\n  tavctl pwm set B 1 75%\n"
                    "  tavctl pwm stop"};
    pwm.subcommands = {start, set, pulse, stop};
    return pwm;
}

} // namespace tavctl
