// tavctl pwm: start, retune and stop the three PWM groups.
#include <algorithm>
#include <cstdio>

#include "command.h"
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

void PrintChannel(FILE* out, const Group& group, uint32_t channel, unsigned int duty, char model)
{
    std::fprintf(out, "  channel %u %-12s duty %u/%u (%.2f%%)\n", channel, ChannelPin(group.letter, channel, model).c_str(),
                 duty, TAV_PWM_FULL_SCALE, 100.0 * duty / TAV_PWM_FULL_SCALE);
}

} // namespace

void PwmStartCommand(Context& context, const std::string& groupText, const std::string& divider, const std::string& duties)
{
    const Group group = ParseGroup(groupText);
    const int dividedBy = ParseDivider(divider);
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
    uint32_t values[4] = {0, 0, 0, 0};
    for (size_t index = 0; index < fields.size(); ++index) {
        if (fields[index].empty())
            throw ToolError("duty " + std::to_string(index + 1) + " of " + Quoted(duties) +
                                " is empty: give every channel up to the last one a duty (0 for off)",
                            EXIT_USAGE);
        values[index] = static_cast<uint32_t>(ParseDutyAmount(fields[index], false));
    }
    NoteSmallCounts(fields);
    context.session.Connect();
    Check(context.session.Board().pwmStart(group.letter, dividedBy, values, group.channels), "pwm start");
    std::fprintf(context.out, "group %c started: %g Hz (%u MHz timer clock / %d)\n", group.letter,
                 double(TAV_PWM_BASE_HZ) / dividedBy, TAV_PWM_BASE_HZ * TAV_PWM_FULL_SCALE / 1000000u,
                 dividedBy);
    for (uint32_t channel = 1; channel <= group.channels; ++channel)
        PrintChannel(context.out, group, channel, values[channel - 1], context.session.Model());
}

void PwmSetCommand(Context& context, const std::string& groupText, const std::string& channelText,
                   const std::string& dutyText)
{
    const Group group = ParseGroup(groupText);
    const uint32_t channel = ParseChannel(group, channelText);
    const bool relative = !dutyText.empty() && (dutyText[0] == '+' || dutyText[0] == '-');
    const long amount = ParseDutyAmount(dutyText, true);
    NoteSmallCounts({dutyText});
    context.session.Connect();
    // The group as this board object commanded it, on every model (one
    // without a pin map too).
    auto groupState = [&] {
        tav_pwm_group_state state{};
        Check(tav_pwm_group_state_get(context.session.Board().handle(), group.letter, &state), "pwm set");
        return state;
    };
    const tav_pwm_group_state before = groupState();
    long duty = amount;
    if (relative) {
        if (!before.duty_known[channel - 1])
            throw ToolError(std::string("the duty of group ") + group.letter + " channel " + std::to_string(channel) +
                            " is not known to this session: give it whole, or run `pwm start " + group.letter +
                            "` first");
        duty = std::clamp(static_cast<long>(before.duty[channel - 1]) + amount, 0L, static_cast<long>(TAV_PWM_FULL_SCALE));
    }
    Check(context.session.Board().pwmSet(group.letter, channel, static_cast<uint32_t>(duty)), "pwm set");
    std::fprintf(context.out, "group %c:\n", group.letter);
    PrintChannel(context.out, group, channel, static_cast<unsigned int>(duty), context.session.Model());
    const tav_pwm_group_state after = groupState();
    if (after.known && !after.running)
        Warn(std::string("group ") + group.letter + " is not running, so the duty is only stored: run `pwm start " +
             group.letter + "` first");
}

void PwmStopCommand(Context& context)
{
    context.session.Connect();
    Check(context.session.Board().pwmStop(), "pwm stop");
    std::fprintf(context.out, "all PWM stopped, PWM pins floating\n");
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
                                         std::to_string(TAV_PWM_BASE_HZ) + " Hz)", "1"),
                   Optional("--duty", "Duties of channels 1..n, counts or percent, comma-separated "
                                      "(missing ones are 0)")},
                  "Examples:\n  tavctl pwm start A --duty 50%\n  tavctl pwm start C --div 8 --duty 100,200,300,400",
                  [](Context& context, const Arguments& arguments) {
                      if (arguments.Given("--duty") && arguments.Text("--duty").empty())
                          throw ToolError("--duty needs at least one duty (counts or percent, comma-separated)",
                                          EXIT_USAGE);
                      PwmStartCommand(context, arguments.Text("GROUP"), arguments.Text("--div"),
                                      arguments.Text("--duty"));
                  }};
    Command set{"set", "Change the duty of one channel",
                {Required("GROUP", groups), Required("CHANNEL", ChannelRangesText()),
                 Required("DUTY", "Counts (0-" + fullScale + ") or percent (50%); +N or -N (+10%) steps from the "
                                  "commanded duty")},
                "Examples:\n  tavctl pwm set A 1 18000\n  tavctl pwm set C 4 12.5%\n"
                "  in a script: repeat 10 pwm set B 1 +10%; sleep 100ms",
                [](Context& context, const Arguments& arguments) {
                    PwmSetCommand(context, arguments.Text("GROUP"), arguments.Text("CHANNEL"), arguments.Text("DUTY"));
                }};
    Command stop{"stop", "Stop every group and release their pins", {}, "Examples:\n  tavctl pwm stop",
                 [](Context& context, const Arguments&) { PwmStopCommand(context); }};
    Command pwm{"pwm", "Start, retune or stop the PWM groups " + Alternatives(PwmGroups(), "and"), {},
                PwmPinsHelp() + "Full scale is " + fullScale +
                    " counts: a bare number is counts (25 is 0.07 %), 25% a percentage.\n"
                    "The PWM runs at " + std::to_string(TAV_PWM_BASE_HZ) +
                    " Hz / divider with the usual 72 MHz timer clock.\n"
                    "Examples:\n  tavctl pwm start B --div 2 --duty 25%,50%,9000,0\n  tavctl pwm set B 1 75%\n"
                    "  tavctl pwm stop"};
    pwm.subcommands = {start, set, stop};
    return pwm;
}

} // namespace tavctl
