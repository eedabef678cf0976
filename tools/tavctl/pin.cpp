// tavctl pin and toggle: digital pins by name or identifier. What the output
// says is what was sent; where the commanded state shows that it has no
// effect (a level stored for a pin that is not an output, a mode for a pin
// the debug port holds) a warning says why and what to run first.
#include <cstdio>
#include <map>

#include "command.h"
#include "json_output.h"
#include "tool.h"

namespace tavctl {

namespace {

struct PinAction {
    const char* done;
    int (*run)(tav::Board& board, uint32_t pins, int value);
    bool storesLevel; // set, reset, write: the output register
};

const std::map<std::string, PinAction>& Actions()
{
    static const std::map<std::string, PinAction> actions = {
        {"output", {"push-pull output", [](tav::Board& board, uint32_t pins, int) { return board.pinOutput(pins); }, false}},
        {"input", {"floating input", [](tav::Board& board, uint32_t pins, int) { return board.pinInput(pins); }, false}},
        {"float", {"floating input", [](tav::Board& board, uint32_t pins, int) { return board.pinFloat(pins); }, false}},
        {"set", {"high", [](tav::Board& board, uint32_t pins, int) { return board.pinSet(pins); }, true}},
        {"reset", {"low", [](tav::Board& board, uint32_t pins, int) { return board.pinReset(pins); }, true}},
        {"write", {"", [](tav::Board& board, uint32_t pins, int value) { return board.pinWrite(pins, value); }, true}},
    };
    return actions;
}

int ParseLevel(const std::string& text)
{
    int level = 0;
    if (tav_parse_level(text.c_str(), &level, nullptr, 0) == TAV_OK)
        return level;
    throw ToolError("pin level " + Quoted(text) + " is neither 0/low nor 1/high", EXIT_USAGE);
}

bool IsOutput(const tav_pin_state& state)
{
    return state.function == TAV_PIN_OUTPUT_HIGH || state.function == TAV_PIN_OUTPUT_LOW;
}

// A pin whose mode is known but cannot act on what was sent.
void WarnIfNoEffect(const tav_pin_state& state, bool storesLevel)
{
    if (!state.known)
        return;
    if (state.function == TAV_PIN_DEBUG_PORT) {
        Warn(std::string(state.name) + " (" + state.mcu_pin + ") is held by the debug port, so this takes no effect "
             "on the pin: run `init` first");
    } else if (storesLevel && !IsOutput(state)) {
        Warn(std::string(state.name) + " (" + state.mcu_pin + ") is a " + state.description +
             ", so the level is only stored, not driven: run `pin output " + state.name + "` first");
    }
}

// With --format json: the pins a command named, each as `status` gives it, in one document.
void PrintPinsJson(Context& context, const std::vector<uint32_t>& identifiers)
{
    if (context.options.format != "json")
        return;
    Json pins = Json::array();
    for (uint32_t identifier : identifiers)
        for (uint32_t single : SinglePins(identifier))
            pins.push_back(PinJson(context.session, single));
    PrintJson({{"pins", pins}});
}

void SendToPins(Context& context, const PinAction& action, uint32_t identifier, int level)
{
    const int result = action.run(context.session.Board(), identifier, level);
    if (result == TAVDll::RESULT_PIN_UNAVAILABLE)
        throw ToolError(FirstUnmappedPin(identifier, context.session.ModelLetter()));
    Check(result, "pin");
}

} // namespace

bool IsLevelWord(const std::string& text)
{
    int level = 0;
    return tav_parse_level(text.c_str(), &level, nullptr, 0) == TAV_OK;
}

namespace {

// input --pull up|down and output --open-drain: the same walk with the
// chip's other modes.
const PinAction* ModeVariant(const std::string& actionName, const PinModeOptions& mode)
{
    static const PinAction pullUp{"input with pull-up", [](tav::Board& board, uint32_t pins, int) {
                                      return board.pinInputPull(pins, TAV_PULL_UP);
                                  }, false};
    static const PinAction pullDown{"input with pull-down", [](tav::Board& board, uint32_t pins, int) {
                                        return board.pinInputPull(pins, TAV_PULL_DOWN);
                                    }, false};
    static const PinAction openDrain{"open-drain output", [](tav::Board& board, uint32_t pins, int) {
                                         return board.pinOutputOpenDrain(pins);
                                     }, false};
    if (!mode.pull.empty() && actionName != "input")
        throw ToolError("--pull is for pin input, not pin " + actionName, EXIT_USAGE);
    if (mode.openDrain && actionName != "output")
        throw ToolError("--open-drain is for pin output, not pin " + actionName, EXIT_USAGE);
    if (mode.pull == "up")
        return &pullUp;
    if (mode.pull == "down")
        return &pullDown;
    if (!mode.pull.empty())
        throw ToolError("--pull " + Quoted(mode.pull) + ": up or down", EXIT_USAGE);
    return mode.openDrain ? &openDrain : nullptr;
}

} // namespace

void PinCommand(Context& context, const std::string& actionName, const std::string& pins, const std::string& value,
                const PinModeOptions& mode)
{
    const auto found = Actions().find(actionName);
    if (found == Actions().end())
        throw ToolError("pin action " + Quoted(actionName) + " does not exist: output, input, float, set, reset or write",
                        EXIT_USAGE);
    const PinAction* variant = ModeVariant(actionName, mode);
    const PinAction& action = variant != nullptr ? *variant : found->second;
    int level = 0;
    if (actionName == "write") {
        if (value.empty())
            throw ToolError("pin write needs a VALUE: 1/high or 0/low", EXIT_USAGE);
        level = ParseLevel(value);
    } else if (!value.empty()) {
        throw ToolError("pin " + actionName + " takes no VALUE (did you mean pin write?)", EXIT_USAGE);
    }
    const std::vector<uint32_t> identifiers = ParsePins(pins);
    context.session.Connect();
    for (uint32_t identifier : identifiers) {
        SendToPins(context, action, identifier, level);
        std::string done = actionName == "write" ? (level ? "high" : "low") : action.done;
        bool allDrive = true;
        bool someUnknown = false;
        for (uint32_t single : SinglePins(identifier)) {
            const tav_pin_state state = context.session.PinState(single);
            allDrive = allDrive && state.known && IsOutput(state);
            someUnknown = someUnknown || !state.known;
        }
        if (action.storesLevel && !allDrive)
            done = "output register " + done + (someUnknown ? " (drives only a pin that is an output)" : "");
        std::fprintf(context.out, "%s: %s\n", DescribePins(identifier, context.session.ModelLetter()).c_str(), done.c_str());
        for (uint32_t single : SinglePins(identifier))
            WarnIfNoEffect(context.session.PinState(single), action.storesLevel);
    }
    PrintPinsJson(context, identifiers);
}

void ToggleCommand(Context& context, const std::string& pins)
{
    const std::vector<uint32_t> identifiers = ParsePins(pins);
    context.session.Connect();
    for (uint32_t identifier : identifiers) {
        for (uint32_t single : SinglePins(identifier)) {
            if (std::string(context.session.PinState(single).mcu_pin) == "-")
                throw ToolError(FirstUnmappedPin(single, context.session.ModelLetter()));
        }
        for (uint32_t single : SinglePins(identifier)) {
            const tav_pin_state state = context.session.PinState(single);
            if (!state.known)
                throw ToolError("the level of " + std::string(state.name) + " is not known to this session: run `pin "
                                "output " + state.name + "` (or set or reset it) first");
            if (!IsOutput(state))
                throw ToolError(std::string(state.name) + " is not an output (" + state.description + "): run `pin "
                                "output " + state.name + "` first");
            const bool high = state.function == TAV_PIN_OUTPUT_HIGH;
            SendToPins(context, Actions().at(high ? "reset" : "set"), single, 0);
            std::fprintf(context.out, "%s: %s\n", DescribePins(single, context.session.ModelLetter()).c_str(), high ? "low" : "high");
        }
    }
    PrintPinsJson(context, identifiers);
}

namespace {

Argument Choice(Argument argument, std::vector<std::string> choices)
{
    argument.choices = std::move(choices);
    return argument;
}

} // namespace

Command PinDeclaration()
{
    return {"pin", "Configure or drive digital pins",
            {OneOf("ACTION", "output, input, float, set, reset or write",
                   {"output", "input", "float", "set", "reset", "write"}),
             Choice(Optional("--pull", "input: the chip's pull-up or pull-down resistor on (a button to ground: "
                                       "up)"),
                    {"up", "down"}),
             Flag("--open-drain", "output: drive low only, let the line float when set (relays, shared lines)"),
             RequiredWords("PINS", std::string(tav_pin_syntax()) + " (hex with 0x, or decimal), several words "
                                   "(P4.8 P4.10); for write, then VALUE: 1/high or 0/low")},
            "Pins are named by bank and bit: P4.n is identifier 0x40000000 | 1<<n (n = 0-15),\n"
            "P8.n is 0x80000000 | 1<<n (n = 0-16). Which microcontroller pin each reaches\n"
            "depends on the board model and is shown in the output. A pin that is not an\n"
            "output does not drive what set, reset or write store: tavctl warns.\n"
            "Examples:\n  tavctl pin output P4.0-3\n  tavctl pin output P4.8 P4.10\n  tavctl pin set P4.0,P4.2\n"
            "  tavctl pin write P8.16 1\n  tavctl pin float 0x8001FFFF\n  tavctl pin input --pull up P4.9      (a button to ground)\n"
            "  tavctl pin output --open-drain P4.8  (a relay board's input)",
            [](Context& context, const Arguments& arguments) {
                // Several pins as several words, as gpioset takes them; write's level last.
                const std::string& action = arguments.Text("ACTION");
                std::vector<std::string> pinWords = arguments.Words("PINS");
                std::string level;
                if (action == "write" && pinWords.size() > 1) {
                    level = pinWords.back();
                    pinWords.pop_back();
                } else if (action != "write" && pinWords.size() > 1 && IsLevelWord(pinWords.back())) {
                    level = pinWords.back(); // "pin set P4.8 1": PinCommand says to use write
                    pinWords.pop_back();
                }
                std::string pins;
                for (const std::string& word : pinWords)
                    pins += (pins.empty() ? "" : ",") + word;
                PinModeOptions mode;
                mode.pull = arguments.Given("--pull") ? arguments.Text("--pull") : "";
                mode.openDrain = arguments.Given("--open-drain");
                PinCommand(context, action, pins, level, mode);
            }};
}

Command ToggleDeclaration()
{
    return {"toggle", "Drive output pins to the other level (by the commanded state)",
            {Required("PINS", "Pins, as for pin")},
            "Examples:\n  tavctl run blink.tav, with the lines:\n    pin output P4.8\n"
            "    repeat 10 toggle P4.8; sleep 250ms",
            [](Context& context, const Arguments& arguments) { ToggleCommand(context, arguments.Text("PINS")); }};
}

} // namespace tavctl
