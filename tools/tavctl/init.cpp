// tavctl init / safe: bring-up and the safe state.
#include <cstdio>

#include "command.h"
#include "tool.h"

namespace tavctl {

void InitCommand(Context& context, const std::string& value)
{
    const auto startupValue = static_cast<uint32_t>(ParseNumber(value, "start-up value", 0, 0xFFFFFFFFu));
    context.session.Connect();
    Check(context.session.Board().init(startupValue), "init");
    std::fprintf(context.out, "board initialised (start-up value %u)\n", startupValue);
}

void SafeCommand(Context& context)
{
    context.session.Connect();
    Check(context.session.Board().safe(), "safe");
    std::fprintf(context.out, "every output back to the safe state\n");
}

Command InitDeclaration()
{
    return {"init", "Bring the board up: debug pins released, everything safe, board started",
            {Optional("VALUE", "Start-up value passed to the firmware (default 0)", "0")},
            "Examples:\n  tavctl init\n  tavctl init 258",
            [](Context& context, const Arguments& arguments) { InitCommand(context, arguments.Text("VALUE")); }};
}

Command SafeDeclaration()
{
    return {"safe", "Stop all PWM and make every pin a floating input", {}, "Examples:\n  tavctl safe",
            [](Context& context, const Arguments&) { SafeCommand(context); }};
}

} // namespace tavctl
