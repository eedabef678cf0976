// tavctl status: the virtual board's view of every pin, or on a real board
// (which reports nothing back) what this session commanded.
#include <cstdio>

#include "command.h"
#include "json_output.h"

namespace tavctl {

namespace {

// The commanded state, pin by pin, as the panel shows it: a pin this
// session has not set is marked unknown.
void PrintCommandedState(Context& context)
{
    std::printf("board model %c, firmware %s: a real board reports nothing back, so this is what tavctl "
                "commanded since it opened the board (?: not set since then)\n",
                context.session.ModelLetter(), context.session.Board().firmware().c_str());
    for (const uint32_t boardPin : BoardPins()) {
        const tav_pin_state state = context.session.PinState(boardPin);
        std::printf("  %-5s  0x%08X  %-4s  %s%s\n", state.name, boardPin, state.mcu_pin, state.known ? "" : "? ",
                    state.description);
    }
}

} // namespace

void StatusCommand(Context& context)
{
    context.session.Connect();
    context.viewShown = true;
    if (context.options.format != "json") {
        if (context.session.Simulated())
            std::printf("%s", context.session.Board().simStatus().c_str());
        else
            PrintCommandedState(context);
        return;
    }
    PrintJson({{"model", BoardModelName(context.session.ModelLetter())},
               {"firmware", context.session.Board().firmware()},
               {"pins", PinsJson(context.session)}});
}

Command StatusDeclaration()
{
    return {"status", "Show what every pin does: the virtual board's view, or what was commanded to a real board", {},
            "A real board reports nothing back but its model and firmware: its status is what this\n"
            "session (a script, the shell) commanded, and pins not set since it opened the board are\n"
            "marked unknown.\n"
            "Examples:\n  tavctl --sim status\n  tavctl --sim=S run script.tav   # ends with the same view\n"
            "  tavctl --sim --format json status\n  printf 'pin output P4.8\\nstatus\\n' | tavctl run -",
            [](Context& context, const Arguments&) { StatusCommand(context); }};
}

} // namespace tavctl
