// tavctl pwm: start, retune and stop the three PWM groups.
#include <cctype>
#include <cmath>
#include <cstdio>

#include "pin_map_table.h"
#include "pwm_tables.h"
#include "tool.h"

namespace tavctl {

namespace {

using TAVDll::detail::FindPwmChannel;
using TAVDll::detail::PwmChannel;

constexpr double FULL_SCALE_HZ = 2000.0; // 72 MHz timer clock / 36000 steps

struct Group {
    char letter;
    uint32_t timerIndex;
    uint32_t channels;
};

Group ParseGroup(const std::string& text)
{
    if (text.size() == 1) {
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        if (letter >= 'A' && letter < static_cast<char>('A' + TAVDll::detail::PWM_GROUP_COUNT)) {
            const uint32_t timerIndex = static_cast<uint32_t>(letter - 'A');
            return {letter, timerIndex, TAVDll::detail::PWM_GROUPS[timerIndex].channelCount};
        }
    }
    throw ToolError("PWM group '" + text + "' does not exist: groups are A, B and C", EXIT_USAGE);
}

int ParseDivider(const std::string& text)
{
    const auto divider = ParseNumber(text, "divider", 1, 128);
    if ((divider & (divider - 1)) == 0)
        return static_cast<int>(divider);
    throw ToolError("divider " + text + " is not one of 1, 2, 4, 8, 16, 32, 64, 128", EXIT_USAGE);
}

// "9000" counts, or "25%" of full scale.
unsigned int ParseDuty(const std::string& text)
{
    if (!text.empty() && text.back() == '%') {
        const std::string number = text.substr(0, text.size() - 1);
        char* end = nullptr;
        const double percent = std::strtod(number.c_str(), &end);
        if (number.empty() || *end != '\0' || !(percent >= 0.0) || percent > 100.0)
            throw ToolError("duty " + text + " is not a percentage from 0% to 100%", EXIT_USAGE);
        return static_cast<unsigned int>(std::lround(percent / 100.0 * TAVDll::PWM_FULL_SCALE));
    }
    const auto counts = ParseNumber(text, "duty", 0, 0xFFFFFFFFu);
    if (counts > TAVDll::PWM_FULL_SCALE)
        throw ToolError("duty " + text + " is above full scale (" + std::to_string(TAVDll::PWM_FULL_SCALE) +
                            " counts, or give a percentage like 50%)",
                        EXIT_USAGE);
    return static_cast<unsigned int>(counts);
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
std::string ChannelPin(const PwmChannel& entry, TAVDll::BoardType model)
{
    const int bit = __builtin_ctz(entry.pinMask);
    std::string text = TAVDll::detail::McuPinName(static_cast<int>(entry.portIndex), bit);
    const int column = TAVDll::detail::PinMapColumn(model);
    if (column < 0)
        return text;
    for (const TAVDll::detail::PinMapRow& row : TAVDll::detail::PIN_MAP) {
        const TAVDll::detail::McuPin& target = row.byModel[column];
        if (target.port == entry.portIndex && target.pin == bit)
            text += " (" + TAVDll::detail::BoardPinName(row.pinId) + ")";
    }
    return text;
}

void PrintChannel(const Group& group, uint32_t channel, unsigned int duty, TAVDll::BoardType model)
{
    const PwmChannel* entry = FindPwmChannel(group.timerIndex, channel);
    std::printf("  channel %u %-12s duty %u/%u (%.2f%%)\n", channel, ChannelPin(*entry, model).c_str(), duty,
                TAVDll::PWM_FULL_SCALE, 100.0 * duty / TAVDll::PWM_FULL_SCALE);
}

} // namespace

void AddPwmCommand(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("pwm", "Start, retune or stop the PWM groups A, B and C");
    command->require_subcommand(1);
    command->footer("Group A: channels 1-3 on PA10, PA9, PA8 (TIM1); group B: 1-4 on PA0-PA3 (TIM2);\n"
                    "group C: 1-4 on PB1, PB0, PA7, PA6 (TIM3). Full scale is 36000 counts; the PWM runs at\n"
                    "2000 Hz / divider with the usual 72 MHz timer clock.\n"
                    "Examples:\n  tavctl pwm start B --div 2 --duty 25%,50%,9000,0\n  tavctl pwm set B 1 75%\n"
                    "  tavctl pwm stop");

    auto* start = command->add_subcommand("start", "Set up and start one group");
    auto group = std::make_shared<std::string>();
    auto divider = std::make_shared<std::string>("1");
    auto duties = std::make_shared<std::vector<std::string>>();
    start->add_option("GROUP", *group, "A, B or C")->required();
    start->add_option("--div", *divider, "Clock divider: 1, 2, 4, ... 128 (default 1: 2000 Hz)");
    start->add_option("--duty", *duties, "Duties of channels 1..n, counts or percent, comma-separated "
                                         "(missing ones are 0)")
        ->delimiter(',');
    start->footer("Examples:\n  tavctl pwm start A --duty 50%\n  tavctl pwm start C --div 8 --duty 100,200,300,400");
    start->callback([&context, group, divider, duties] {
        const Group chosen = ParseGroup(*group);
        const int dividedBy = ParseDivider(*divider);
        if (duties->size() > chosen.channels)
            throw ToolError(std::string("group ") + chosen.letter + " has " + std::to_string(chosen.channels) +
                                " channels, " + std::to_string(duties->size()) + " duties given",
                            EXIT_USAGE);
        uint32_t values[4] = {0, 0, 0, 0};
        for (size_t index = 0; index < duties->size(); ++index)
            values[index] = ParseDuty((*duties)[index]);
        context.session.Connect();
        Check(context.session.Board().pwmStart(chosen.letter, dividedBy, values, chosen.channels), "pwm start");
        std::printf("group %c started: %g Hz (72 MHz timer clock / %d)\n", chosen.letter, FULL_SCALE_HZ / dividedBy,
                    dividedBy);
        for (uint32_t channel = 1; channel <= chosen.channels; ++channel)
            PrintChannel(chosen, channel, values[channel - 1], context.session.Model());
    });

    auto* set = command->add_subcommand("set", "Change the duty of one channel");
    auto setGroup = std::make_shared<std::string>();
    auto channel = std::make_shared<std::string>();
    auto duty = std::make_shared<std::string>();
    set->add_option("GROUP", *setGroup, "A, B or C")->required();
    set->add_option("CHANNEL", *channel, "1-3 for A, 1-4 for B and C")->required();
    set->add_option("DUTY", *duty, "Counts (0-36000) or percent (50%)")->required();
    set->footer("Examples:\n  tavctl pwm set A 1 18000\n  tavctl pwm set C 4 12.5%");
    set->callback([&context, setGroup, channel, duty] {
        const Group chosen = ParseGroup(*setGroup);
        const uint32_t number = ParseChannel(chosen, *channel);
        const unsigned int value = ParseDuty(*duty);
        context.session.Connect();
        Check(context.session.Board().pwmSet(chosen.letter, number, value), "pwm set");
        std::printf("group %c:\n", chosen.letter);
        PrintChannel(chosen, number, value, context.session.Model());
    });

    auto* stop = command->add_subcommand("stop", "Stop all three groups and release their pins");
    stop->footer("Examples:\n  tavctl pwm stop");
    stop->callback([&context] {
        context.session.Connect();
        Check(context.session.Board().pwmStop(), "pwm stop");
        std::printf("all PWM stopped, PWM pins floating\n");
    });
}

} // namespace tavctl
