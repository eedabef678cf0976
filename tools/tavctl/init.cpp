// tavctl init / safe: bring-up and the safe state.
#include <cstdio>

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

} // namespace tavctl
