// tavctl: drive a TAV USB input/output board from the shell.
#include <cstdio>
#include <iostream>

#include "tool.h"

namespace tavctl {

namespace {

// CLI11 would only say that a sub-command is required; name the word instead.
void RejectUnknownCommand(const CLI::App& app, int argc, char** argv)
{
    for (int index = 1; index < argc; ++index) {
        const std::string word = argv[index];
        if (word == "--device") {
            ++index;
            continue;
        }
        if (word.empty() || word[0] == '-')
            continue;
        std::string known;
        for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
            if (command->get_name() == word)
                return;
            known += (known.empty() ? "" : ", ") + command->get_name();
        }
        throw ToolError("unknown command '" + word + "' (commands: " + known + ")", EXIT_USAGE);
    }
}

} // namespace
} // namespace tavctl

int main(int argc, char** argv)
{
    using namespace tavctl;
    Context context;
    CLI::App app{"tavctl - drive a TAV USB input/output board from the shell.\n\n"
                 "Without --hold a command leaves the board exactly as it set it: the USB handle is released\n"
                 "without the shutdown sequence, so outputs keep driving. With --hold tavctl keeps the board\n"
                 "until Ctrl-C or SIGTERM and then closes it into the safe state (every pin floating, PWM off).",
                 "tavctl"};
    app.fallthrough();
    app.require_subcommand(1);
    app.add_flag("--sim{T}", context.options.simModel,
                 "Use the virtual board of model T, S or C instead of USB hardware; the board view follows")
        ->check(CLI::IsMember({"T", "S", "C"}));
    app.add_option("--device", context.options.device,
                   "Use the board this selector names: BUS:DEV or usb:BUS:DEV (decimal, see `tavctl list`), "
                   "or sim:T, sim:S, sim:C");
    app.add_flag("--trace", context.options.trace, "Print every record as it is sent, decoded, on standard error");
    app.add_flag("--hold", context.options.hold,
                 "Keep the board as set until Ctrl-C or SIGTERM, then close it into the safe state");
    app.footer("Pins: P4.0-P4.15 and P8.0-P8.16 (also ranges P4.0-3 and lists), or raw identifiers.\n"
               "Examples:\n  tavctl --sim run examples/demo.tav\n  tavctl list\n  tavctl info\n"
               "  tavctl --hold pin output P4.0   (then: Ctrl-C)\n  tavctl <command> --help");
    AddCommands(app, context, false);

    int status = 0;
    try {
        RejectUnknownCommand(app, argc, argv);
        app.parse(argc, argv);
        if (context.session.Simulated() && context.session.Connected() && !context.viewShown) {
            std::printf("\nvirtual board:\n%s", context.session.Board().simStatus().c_str());
            std::fflush(stdout);
        }
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "tavctl: %s (see tavctl --help)\n", error.what());
        status = EXIT_USAGE;
    } catch (const ToolError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "tavctl: %s\n", error.what());
        status = error.status;
    }
    context.session.Finish(status == 0);
    return status;
}
