// tavctl pin: digital pins by name or identifier.
#include <cstdio>
#include <map>

#include "tool.h"

namespace tavctl {

namespace {

struct PinAction {
    const char* verb;
    const char* done;
    int (*run)(tav::Board& board, uint32_t pins, int value);
};

const std::map<std::string, PinAction>& Actions()
{
    static const std::map<std::string, PinAction> actions = {
        {"output", {"output", "push-pull output", [](tav::Board& board, uint32_t pins, int) { return board.pinOutput(pins); }}},
        {"input", {"input", "floating input", [](tav::Board& board, uint32_t pins, int) { return board.pinInput(pins); }}},
        {"float", {"float", "floating input", [](tav::Board& board, uint32_t pins, int) { return board.pinFloat(pins); }}},
        {"set", {"set", "high", [](tav::Board& board, uint32_t pins, int) { return board.pinSet(pins); }}},
        {"reset", {"reset", "low", [](tav::Board& board, uint32_t pins, int) { return board.pinReset(pins); }}},
        {"write", {"write", "", [](tav::Board& board, uint32_t pins, int value) { return board.pinWrite(pins, value); }}},
    };
    return actions;
}

int ParseLevel(const std::string& text)
{
    if (text == "1" || text == "high" || text == "on")
        return 1;
    if (text == "0" || text == "low" || text == "off")
        return 0;
    throw ToolError("pin level '" + text + "' is neither 0/low nor 1/high", EXIT_USAGE);
}

} // namespace

void AddPinCommand(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("pin", "Configure or drive digital pins");
    auto action = std::make_shared<std::string>();
    auto pins = std::make_shared<std::string>();
    auto value = std::make_shared<std::string>();
    command->add_option("ACTION", *action, "output, input, float, set, reset or write")
        ->required()
        ->check(CLI::IsMember({"output", "input", "float", "set", "reset", "write"}));
    command->add_option("PINS", *pins, "P4.0-P4.15 and P8.0-P8.16, ranges (P4.0-3), lists (P4.0,P8.2) or a raw "
                                       "identifier, hex with 0x (0x40000005) or decimal (1073741829)")
        ->required();
    command->add_option("VALUE", *value, "For write: 1/high or 0/low");
    command->footer("Pins are named by bank and bit: P4.n is identifier 0x40000000 | 1<<n (n = 0-15),\n"
                    "P8.n is 0x80000000 | 1<<n (n = 0-16). Which microcontroller pin each reaches\n"
                    "depends on the board model and is shown in the output.\n"
                    "Examples:\n  tavctl pin output P4.0-3\n  tavctl pin set P4.0,P4.2\n"
                    "  tavctl pin write P8.16 1\n  tavctl pin float 0x8001FFFF");
    command->callback([&context, action, pins, value] {
        const PinAction& chosen = Actions().at(*action);
        int level = 0;
        if (*action == "write") {
            if (value->empty())
                throw ToolError("pin write needs a VALUE: 1/high or 0/low", EXIT_USAGE);
            level = ParseLevel(*value);
        } else if (!value->empty()) {
            throw ToolError("pin " + *action + " takes no VALUE (did you mean pin write?)", EXIT_USAGE);
        }
        const std::vector<uint32_t> identifiers = ParsePins(*pins);
        context.session.Connect();
        for (uint32_t identifier : identifiers) {
            const int result = chosen.run(context.session.Board(), identifier, level);
            if (result == TAVDll::RESULT_PIN_UNAVAILABLE)
                throw ToolError(FirstUnmappedPin(identifier, context.session.Model()));
            Check(result, "pin " + *action);
            const std::string state = *action == "write" ? (level ? "high" : "low") : chosen.done;
            std::printf("%s: %s\n", DescribePins(identifier, context.session.Model()).c_str(), state.c_str());
        }
    });
}

} // namespace tavctl
