// tavctl run: many commands in one connection, one per line.
#include <fstream>
#include <iostream>
#include <sstream>

#include "tool.h"

namespace tavctl {

void AddCommands(CLI::App& app, Context& context, bool forScript)
{
    AddListCommand(app, context);
    AddInfoCommand(app, context);
    AddInitCommands(app, context);
    AddPinCommand(app, context);
    AddPwmCommand(app, context);
    AddRawCommand(app, context);
    AddDecodeCommand(app, context);
    if (!forScript)
        AddRunCommand(app, context);
    AddStatusCommand(app, context);
}

void RunCommandLine(Context& context, const std::vector<std::string>& words)
{
    CLI::App app{"script line"};
    app.require_subcommand(1);
    AddCommands(app, context, true);
    std::vector<std::string> reversed(words.rbegin(), words.rend()); // CLI11 takes them last to first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& help) {
        app.exit(help); // a script line may ask for help like the command line
    } catch (const CLI::ParseError& error) {
        throw ToolError(error.what(), EXIT_USAGE);
    }
}

void AddRunCommand(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("run", "Run the commands of a script (or of standard input: -), one per "
                                              "line, in one connection");
    auto script = std::make_shared<std::string>();
    command->add_option("SCRIPT", *script, "Script file, or - for standard input")->required();
    command->footer("A line holds one command as on the command line, without `tavctl` and the global\n"
                    "options; # starts a comment. The first failing line stops the script.\n"
                    "Example script:\n  init\n  pin output P4.0-3   # four LEDs\n  pin set P4.0,P4.2\n"
                    "  pwm start B --div 2 --duty 25%,50%\n"
                    "Examples:\n  tavctl --sim run demo.tav\n  echo 'pin set P4.1' | tavctl run -");
    command->callback([&context, script] {
        std::ifstream file;
        std::istream* input = &std::cin;
        if (*script != "-") {
            file.open(*script);
            if (!file)
                throw ToolError("cannot read script " + *script);
            input = &file;
        }
        int lineNumber = 0;
        for (std::string line; std::getline(*input, line);) {
            ++lineNumber;
            std::istringstream stream(line.substr(0, line.find('#')));
            std::vector<std::string> words;
            for (std::string word; stream >> word;)
                words.push_back(word);
            if (words.empty())
                continue;
            try {
                RunCommandLine(context, words);
            } catch (const ToolError& error) {
                throw ToolError("line " + std::to_string(lineNumber) + ": " + error.what(), error.status);
            }
        }
    });
}

} // namespace tavctl
