// tavctl serve where the tool was built without the HTTP library (the
// Windows build): a clear word instead of a missing command.
#include "tool.h"

namespace tavctl {

void ServeCommand(Context&, const std::string&)
{
    throw ToolError("this tavctl was built without the control panel (no HTTP library for this platform): "
                    "run `tavctl serve` on Linux, or drive the board with the other commands");
}

} // namespace tavctl
