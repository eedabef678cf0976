// tavctl sim unplug / plug / fail: a virtual board taken out, put back and
// made to fail, in scripts and the shell, so that healing is seen at work.
#include <chrono>
#include <cstdio>
#include <thread>

#include "command.h"
#include "tool.h"

namespace tavctl {

namespace {

struct FaultKind {
    const char* word;
    int kind;
    const char* effect;
};
constexpr FaultKind FAULT_KINDS[] = {
    {"timeout", TAV_SIM_TIMEOUT, "times out"},
    {"stall", TAV_SIM_STALL, "stalls"},
    {"short", TAV_SIM_SHORT_WRITE, "moves half its bytes"},
    {"unplug", TAV_SIM_UNPLUG, "unplugs the board"},
};

// The board of --sim or --device sim:...: a real one cannot be unplugged from here.
tav::Board& VirtualBoard(Context& context, const char* what)
{
    if (!context.session.Simulated())
        throw ToolError(std::string("sim ") + what + " needs a virtual board: --sim, or --device reattach:sim:T",
                        EXIT_USAGE);
    context.session.Connect();
    return context.session.Board();
}

} // namespace

void SimUnplugCommand(Context& context)
{
    Check(VirtualBoard(context, "unplug").sim().unplug(), "sim unplug");
    std::fprintf(context.out, "the virtual board is unplugged\n");
}

void SimPlugCommand(Context& context)
{
    tav::Board& board = VirtualBoard(context, "plug");
    Check(board.sim().plug(), "sim plug");
    std::fprintf(context.out, "the virtual board is plugged in again, at power-on\n");
    // A reattach: board heals on a thread of its own: the script's next line
    // sees the board as healed, not the moment before.
    if (context.session.Selector().find("reattach") == std::string::npos)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!board.connected() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (!board.connected())
        throw ToolError("the reattaching board did not find its virtual board again within 5 s");
    std::fprintf(context.out, "the board object found it again and applied its policy\n");
}

void SimFailCommand(Context& context, const std::string& kind, unsigned after)
{
    for (const FaultKind& fault : FAULT_KINDS) {
        if (kind != fault.word)
            continue;
        Check(VirtualBoard(context, "fail").sim().fail(fault.kind, after), "sim fail");
        std::fprintf(context.out, "record %u from now %s\n", after, fault.effect);
        return;
    }
    throw ToolError("sim fail: no fault " + Quoted(kind) + ": timeout, stall, short or unplug", EXIT_USAGE);
}

Command SimDeclaration()
{
    std::vector<std::string> kinds;
    for (const FaultKind& fault : FAULT_KINDS)
        kinds.push_back(fault.word);
    Command unplug{"unplug", "The virtual board leaves its bus, as a real one leaves USB", {},
                   "Examples:\n  tavctl --device reattach:sim:T shell, then: sim unplug",
                   [](Context& context, const Arguments&) { SimUnplugCommand(context); }};
    Command plug{"plug", "It comes back on its port, at power-on (a reattach: board restores itself)", {},
                 "Examples:\n  sim plug",
                 [](Context& context, const Arguments&) { SimPlugCommand(context); }};
    Command fail{"fail", "A record transfer from now meets a fault",
                 {OneOf("KIND", "timeout, stall, short (half the record) or unplug", kinds),
                  Number("AFTER", "Which record from now: 1 is the next (default 1)", 1, 1, 0x7FFFFFFFu)},
                 "Examples:\n  sim fail timeout\n  sim fail unplug 3",
                 [](Context& context, const Arguments& arguments) {
                     SimFailCommand(context, arguments.Text("KIND"), arguments.Number("AFTER"));
                 }};
    Command sim{"sim", "Unplug, plug back or fault a virtual board (scripts and the shell)", {},
                "On a virtual board only (--sim, --device sim:T or reattach:sim:T): a program's\n"
                "reconnect and error paths, seen at work. A reattach: board notices an unplug\n"
                "within 250 ms, and restores what was set once it is plugged in again.\n"
                "Examples:\n  tavctl --device reattach:sim:T shell\n    > pin output P4.8\n    > sim unplug\n"
                "    > pin set P4.8          (the board is gone: no board open)\n    > sim plug\n    > status"};
    sim.subcommands = {unplug, plug, fail};
    return sim;
}

} // namespace tavctl
