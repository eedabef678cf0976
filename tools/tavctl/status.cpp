// tavctl status: the virtual board's view of every pin.
#include <cstdio>

#include "pin_map_table.h"
#include "tool.h"

namespace tavctl {

void StatusCommand(Context& context)
{
    if (!context.session.Simulated())
        throw ToolError("status needs the virtual board (--sim): a real board cannot report its pins", EXIT_USAGE);
    context.session.Connect();
    context.viewShown = true;
    if (context.options.format != "json") {
        std::printf("%s", context.session.Board().simStatus().c_str());
        return;
    }
    std::string text = "{\"model\": " + JsonString(BoardModelName(context.session.Model())) +
                       ", \"firmware\": " + JsonString(context.session.Board().firmware()) + ", \"pins\": [";
    bool first = true;
    for (const TAVDll::detail::PinMapRow& row : TAVDll::detail::PIN_MAP) {
        const tav_pin_state state = context.session.PinState(row.pinId);
        char entry[512];
        std::snprintf(entry, sizeof entry,
                      "%s{\"name\": %s, \"id\": \"0x%08X\", \"mcu\": %s, \"function\": \"%s\", \"description\": %s",
                      first ? "" : ", ", JsonString(state.name).c_str(), row.pinId, JsonString(state.mcu_pin).c_str(),
                      PinFunctionName(state.function), JsonString(state.description).c_str());
        text += entry;
        if (state.function == TAV_PIN_PWM) {
            std::snprintf(entry, sizeof entry,
                          ", \"pwm\": {\"timer\": %d, \"channel\": %d, \"frequency_hz\": %.6g, \"duty_counts\": %u, "
                          "\"period_counts\": %u, \"duty_percent\": %.4f}",
                          state.timer, state.channel, state.frequency_hz, state.duty_counts, state.period_counts,
                          state.duty_percent);
            text += entry;
        }
        text += "}";
        first = false;
    }
    std::printf("%s]}\n", text.c_str());
}

} // namespace tavctl
