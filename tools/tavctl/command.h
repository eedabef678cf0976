// A tavctl command as its own file declares it: its name, its one-line
// summary, its arguments and their help, the notes and examples after them,
// and its handler. command_line.cpp turns every declaration into CLI11 (the
// only file that knows the command-line library), once for the command line
// and once for the lines of scripts and of the shell.
#ifndef TAVCTL_COMMAND_H
#define TAVCTL_COMMAND_H

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tool.h"

namespace tavctl {

// One positional argument ("PINS") or option ("--div", "--file,-f").
struct Argument {
    Argument(std::string argumentName, std::string argumentHelp)
        : name(std::move(argumentName)), help(std::move(argumentHelp))
    {
    }
    enum class Kind {
        Text,   // one word
        Words,  // one or more words
        Flag,   // an option without a value
        Number  // a whole number within [low, high]
    };
    std::string name;
    std::string help;
    Kind kind = Kind::Text;
    bool required = false;
    std::string initial;              // Text: the value when it is not given
    std::vector<std::string> choices; // Text: the only values it takes
    unsigned low = 0;                 // Number: its range and the value
    unsigned high = 0;                //   when it is not given
    unsigned initialNumber = 0;
};

Argument Required(std::string name, std::string help);
Argument Optional(std::string name, std::string help, std::string initial = "");
Argument OneOf(std::string name, std::string help, std::vector<std::string> choices);
Argument RequiredWords(std::string name, std::string help);
Argument OptionalWords(std::string name, std::string help);
Argument Flag(std::string name, std::string help);
Argument Number(std::string name, std::string help, unsigned initial, unsigned low, unsigned high);

// The values of one run of a command, by the argument's name (an option's
// first name: "--file" for "--file,-f").
class Arguments {
public:
    const std::string& Text(const std::string& name) const { return Find(name).text; }
    const std::vector<std::string>& Words(const std::string& name) const { return Find(name).words; }
    unsigned Number(const std::string& name) const { return Find(name).number; }
    // A flag that is set, an argument that was given.
    bool Given(const std::string& name) const { return Find(name).given; }

    struct Value {
        std::string text;
        std::vector<std::string> words;
        unsigned number = 0;
        bool flag = false;
        bool given = false;
    };
    // For command_line.cpp: the value of each argument, made and reset there.
    std::map<std::string, Value> values;

private:
    const Value& Find(const std::string& name) const;
};

struct Command {
    using Handler = std::function<void(Context&, const Arguments&)>;
    Command(std::string commandName, std::string commandSummary, std::vector<Argument> commandArguments,
            std::string commandFooter, Handler handler = {})
        : name(std::move(commandName)), summary(std::move(commandSummary)),
          arguments(std::move(commandArguments)), footer(std::move(commandFooter)), run(std::move(handler))
    {
    }
    std::string name;
    std::string summary;
    std::vector<Argument> arguments;
    std::string footer; // notes and examples, after the arguments in the help
    Handler run;
    std::vector<Command> subcommands; // commands of a command (pwm start|set|stop): one is required
    bool inScripts = true;            // false: on the command line only (run, serve, ...)
    bool listed = true;               // false: taken, but not shown in the help
    // false: it does its work without the board (list, decode), so a
    // script's check stops at its arguments instead of running it.
    bool runsWhenChecked = true;
};

// Each command's declaration, in its file (in the order the help lists them).
Command ListDeclaration();     // list.cpp
Command InfoDeclaration();     // info.cpp
Command InitDeclaration();     // init.cpp
Command SafeDeclaration();     // init.cpp
Command PinDeclaration();      // pin.cpp
Command ToggleDeclaration();   // pin.cpp
Command PwmDeclaration();      // pwm.cpp
Command RawDeclaration();      // raw.cpp
Command DecodeDeclaration();   // decode.cpp
Command StatusDeclaration();   // status.cpp
Command SleepDeclaration();    // run.cpp
Command RunDeclaration();      // run.cpp
Command ReplayDeclaration();   // replay.cpp
Command MonitorDeclaration();  // monitor.cpp
Command ShellDeclaration();    // shell.cpp
Command ServeDeclaration();    // serve.cpp
Command SimDeclaration();      // sim.cpp

} // namespace tavctl

#endif
