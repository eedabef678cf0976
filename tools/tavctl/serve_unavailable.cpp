// tavctl serve where the tool was built without the panel (the Windows
// build: its server is built on POSIX sockets): a clear word instead of a
// missing command.
#include "tool.h"

namespace tavctl {

extern const bool PANEL_AVAILABLE = false;

void ServeCommand(Context&, const std::string&)
{
    throw ToolError("this tavctl was built without the control panel (its server is built on POSIX sockets): "
                    "run `tavctl serve` on Linux, or drive the board with the other commands");
}

} // namespace tavctl
