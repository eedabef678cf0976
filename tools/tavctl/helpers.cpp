#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "json_output.h"
#include "tool.h"

namespace tavctl {

namespace {

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    const size_t last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The name of one bit of a bank, also where no board pin is ("P8.17").
std::string PinName(uint32_t singlePin)
{
    char name[8] = "?";
    char mcu[8];
    tav_pin_name(singlePin, 'T', name, mcu);
    return name;
}

// The microcontroller pin a single-pin identifier reaches on this model, or
// empty when it reaches none.
std::string McuPinOf(uint32_t singlePin, char model)
{
    char name[8];
    char mcu[8];
    if (tav_pin_name(singlePin, model, name, mcu) != TAV_OK || std::string(mcu) == "-")
        return "";
    return mcu;
}

} // namespace

std::vector<uint32_t> BoardPins()
{
    std::vector<uint32_t> pins(static_cast<size_t>(tav_board_pins(nullptr, 0)));
    tav_board_pins(pins.data(), pins.size());
    return pins;
}

std::string BoardModelName(char model)
{
    return model != '\0' && ModelLetters().find(model) != std::string::npos ? std::string(1, model) : "other";
}

namespace {

std::string Letters(int (*query)(char*, size_t))
{
    char letters[16] = {};
    query(letters, sizeof letters);
    return letters;
}

} // namespace

std::string ModelLetters()
{
    return Letters(tav_models);
}

std::string PwmGroups()
{
    return Letters(tav_pwm_groups);
}

std::vector<int> PwmDividers()
{
    std::vector<int> dividers(static_cast<size_t>(tav_pwm_dividers(nullptr, 0)));
    tav_pwm_dividers(dividers.data(), dividers.size());
    return dividers;
}

std::string Alternatives(const std::string& letters, const char* last)
{
    std::string text;
    for (size_t index = 0; index < letters.size(); ++index)
        text += (index == 0 ? "" : index + 1 == letters.size() ? " " + std::string(last) + " " : ", ") +
                std::string(1, letters[index]);
    return text;
}

std::string DividersText()
{
    const std::vector<int> dividers = PwmDividers();
    std::string text;
    for (size_t index = 0; index < dividers.size() && index < 3; ++index)
        text += std::to_string(dividers[index]) + ", ";
    return text + "... " + std::to_string(dividers.back());
}

std::string BoardPinName(uint32_t singlePin)
{
    char name[8] = "?";
    char mcu[8];
    tav_pin_name(singlePin, 'T', name, mcu);
    return name;
}

void Check(int result, const std::string& what)
{
    if (result != TAVDll::RESULT_OK)
        throw ToolError(what + ": " + tav_strerror(result));
}

std::string DescribeRecord(const uint8_t* bytes, int length)
{
    uint8_t record[TAV_RECORD_SIZE] = {};
    for (int index = 0; index < length && index < static_cast<int>(TAV_RECORD_SIZE); ++index)
        record[index] = bytes[index];
    char text[512];
    tav_describe_record(record, text, sizeof text);
    return text;
}

tav_pwm_channel ChannelInfo(char group, uint32_t channel, char model)
{
    tav_pwm_channel info{};
    tav_pwm_channel_info(group, channel, model, &info);
    return info;
}

std::string ReadCapped(std::istream& input, size_t maxBytes, const std::string& name)
{
    // Counted as it is read: a FIFO, /dev/zero or a /proc file has no
    // size to trust beforehand.
    std::string content;
    char chunk[65536];
    while (input) {
        input.read(chunk, sizeof chunk);
        content.append(chunk, static_cast<size_t>(input.gcount()));
        if (content.size() > maxBytes)
            throw ToolError("cannot read " + name + ": larger than " + std::to_string(maxBytes >> 20) + " MiB");
    }
    if (input.bad())
        throw ToolError("cannot read " + name + ": " + std::strerror(errno));
    return content;
}

std::string ReadTextFile(const std::string& path, size_t maxBytes)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        throw ToolError("cannot read " + path + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        throw ToolError("cannot read " + path + ": it is a directory");
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw ToolError("cannot read " + path + ": " + std::strerror(errno));
    return ReadCapped(file, maxBytes, path);
}

std::string Quoted(const std::string& text)
{
    constexpr size_t MAX_QUOTED = 40;
    std::string quoted = "'";
    for (size_t index = 0; index < text.size() && index < MAX_QUOTED; ++index) {
        const unsigned char symbol = static_cast<unsigned char>(text[index]);
        if (symbol < 0x20 || symbol == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", symbol);
            quoted += escaped;
        } else {
            quoted += static_cast<char>(symbol);
        }
    }
    if (text.size() > MAX_QUOTED)
        quoted += "...' (" + std::to_string(text.size()) + " characters)";
    else
        quoted += "'";
    return quoted;
}

FILE* NullOutput()
{
#if defined(_WIN32)
    static FILE* const null = std::fopen("NUL", "w");
#else
    static FILE* const null = std::fopen("/dev/null", "w");
#endif
    return null != nullptr ? null : stderr;
}

namespace {

thread_local std::vector<std::string>* warningSink = nullptr;

} // namespace

void Warn(const std::string& text)
{
    if (warningSink != nullptr) {
        warningSink->push_back(text);
        return;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "warning: %s\n", text.c_str());
}

WarningsTo::WarningsTo(std::vector<std::string>* sink) : previous_(warningSink)
{
    warningSink = sink;
}

WarningsTo::~WarningsTo()
{
    warningSink = previous_;
}

uint64_t ParseNumber(const std::string& text, const std::string& what, uint64_t low, uint64_t high)
{
    const std::string trimmed = Trim(text);
    const bool hex = trimmed.size() > 2 && trimmed[0] == '0' && (trimmed[1] == 'x' || trimmed[1] == 'X');
    const std::string digits = hex ? trimmed.substr(2) : trimmed;
    bool valid = !digits.empty();
    for (char symbol : digits)
        valid = valid && (hex ? std::isxdigit(static_cast<unsigned char>(symbol)) : std::isdigit(static_cast<unsigned char>(symbol)));
    errno = 0;
    const unsigned long long value = valid ? std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10) : 0;
    if (!valid || errno != 0)
        throw ToolError(what + " " + Quoted(text) + " is not a number (decimal, or hex with 0x)", EXIT_USAGE);
    if (value < low || value > high)
        throw ToolError(what + " " + trimmed + " is out of range (" + std::to_string(low) + " to " +
                            std::to_string(high) + ")",
                        EXIT_USAGE);
    return value;
}

std::vector<uint8_t> ParseHexBytes(const std::string& text)
{
    std::vector<uint8_t> bytes;
    std::string digits;
    auto flush = [&] {
        if (digits.size() % 2 != 0)
            throw ToolError("malformed hex: " + Quoted(digits) + " is not a whole number of bytes", EXIT_USAGE);
        for (size_t index = 0; index < digits.size(); index += 2)
            bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(index, 2), nullptr, 16)));
        digits.clear();
    };
    for (char symbol : text) {
        if (std::isxdigit(static_cast<unsigned char>(symbol)))
            digits += symbol;
        else if (symbol == ' ' || symbol == '\t' || symbol == '\n' || symbol == '\r' || symbol == ':' || symbol == ',')
            flush();
        else
            throw ToolError("malformed hex: unexpected " + Quoted(std::string(1, symbol)), EXIT_USAGE);
    }
    flush();
    return bytes;
}

uint64_t ParseDuration(const std::string& text)
{
    static const struct {
        const char* unit;
        double nanoseconds;
    } units[] = {{"ns", 1.0}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}};
    std::string trimmed = Trim(text);
    if (!trimmed.empty() && trimmed.find_first_not_of("0123456789.") == std::string::npos)
        trimmed += "s"; // a bare number is seconds, as for sleep(1)
    for (const auto& unit : units) {
        const std::string suffix = unit.unit;
        if (trimmed.size() <= suffix.size() || trimmed.compare(trimmed.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string number = trimmed.substr(0, trimmed.size() - suffix.size());
        if (number.find_first_not_of("0123456789.") != std::string::npos)
            break;
        char* end = nullptr;
        const double value = std::strtod(number.c_str(), &end);
        const double nanoseconds = value * unit.nanoseconds;
        if (end == number.c_str() || *end != '\0' || !(nanoseconds >= 0) || nanoseconds > 86400e9)
            break;
        return static_cast<uint64_t>(std::llround(nanoseconds));
    }
    throw ToolError("duration " + Quoted(text) + " is not a number of seconds or a number with ns, us, ms or s (e.g. "
                    "250ms, 1.5s; at most a day)",
                    EXIT_USAGE);
}

std::vector<std::string> SplitWords(const std::string& line)
{
    std::istringstream stream(line.substr(0, line.find('#')));
    std::vector<std::string> words;
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

std::vector<uint32_t> ParsePins(const std::string& text)
{
    uint32_t identifiers[2];
    size_t count = 0;
    char reason[256];
    if (tav_parse_pins(text.c_str(), identifiers, &count, reason, sizeof reason) != TAV_OK)
        throw ToolError(reason, EXIT_USAGE);
    // An identifier may name bits past its bank's last pin: no board has
    // those, so the command line is wrong, as for a name like P8.17.
    for (size_t index = 0; index < count; ++index) {
        for (uint32_t single : SinglePins(identifiers[index])) {
            char name[8] = "?";
            char mcu[8];
            if (tav_pin_name(single, 'T', name, mcu) == TAV_BAD_PIN)
                throw ToolError("pin " + std::string(name) + " does not exist", EXIT_USAGE);
        }
    }
    return std::vector<uint32_t>(identifiers, identifiers + count);
}

std::vector<uint32_t> SinglePins(uint32_t pinId)
{
    std::vector<uint32_t> pins;
    const uint32_t bank = pinId & TAVDll::PIN_BANK_FIELD;
    for (uint32_t bits = pinId & ~TAVDll::PIN_BANK_FIELD; bits != 0; bits &= bits - 1)
        pins.push_back(bank | (bits & (~bits + 1)));
    return pins;
}

std::string DescribePins(uint32_t pinId, char model)
{
    std::string text;
    for (uint32_t single : SinglePins(pinId)) {
        const std::string mcu = McuPinOf(single, model);
        text += (text.empty() ? "" : ", ") + PinName(single) + (mcu.empty() ? "" : " (" + mcu + ")");
    }
    return text.empty() ? "no pin" : text;
}

std::string FirstUnmappedPin(uint32_t pinId, char model)
{
    for (uint32_t single : SinglePins(pinId)) {
        if (McuPinOf(single, model).empty())
            return "pin " + PinName(single) + " has no mapping on board model " + BoardModelName(model);
    }
    return "a pin has no mapping on board model " + BoardModelName(model);
}

Json PinsJson(const Session& session)
{
    Json pins = Json::array();
    for (const uint32_t boardPin : BoardPins())
        pins.push_back(PinJson(session, boardPin));
    return pins;
}

Json PinJson(const Session& session, uint32_t boardPin)
{
    const tav_pin_state state = session.PinState(boardPin);
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", boardPin);
    Json pin = {{"name", state.name},   {"id", id},          {"mcu", state.mcu_pin},
                {"function", PinFunctionName(state.function)}, {"known", state.known != 0},
                {"description", state.description}};
    if (state.function == TAV_PIN_PWM) {
        // channel: the group's channel, as `pwm set` takes it; the
        // timer's own output-compare unit is timer_channel.
        char group = '?';
        int groupChannel = 0;
        tav_pin_state_group(&state, &group, &groupChannel);
        pin["pwm"] = {{"group", std::string(1, group)},
                      {"channel", groupChannel},
                      {"timer", state.timer},
                      {"timer_channel", state.channel},
                      {"frequency_hz", state.frequency_hz},
                      {"duty_counts", state.duty_counts},
                      {"period_counts", state.period_counts},
                      {"duty_percent", state.duty_percent}};
    }
    return pin;
}

const char* PinFunctionName(int function)
{
    static const char* const names[] = {"debug_port", "analog_input", "floating_input", "pull_down_input",
                                        "pull_up_input", "output_high", "output_low", "pwm", "not_driven"};
    return function >= 0 && function < static_cast<int>(sizeof names / sizeof names[0]) ? names[function] : "unknown";
}

} // namespace tavctl
