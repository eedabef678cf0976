// tavctl replay: sends the records of a record log (TAV_TRACE=FILE.tavtrace)
// to a board again, at their recorded times; and the reading of such logs,
// which decode shares.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "command.h"
#include "tool.h"

namespace tavctl {

namespace {

constexpr const char* RECORD_LOG_HEADER = "# tavtrace 1";
constexpr size_t RECORD_HEX_DIGITS = 2 * TAV_RECORD_SIZE;
constexpr size_t MAX_SECONDS_DIGITS = 10; // fits nanoseconds in 64 bits
constexpr size_t NANOSECOND_DIGITS = 9;
// The longest a replay waits at the recorded pace.
constexpr uint64_t MAX_REPLAY_NS = uint64_t{7} * 24 * 3600 * 1000000000u;

// "12.000345678" in nanoseconds; false for anything else.
bool ParseSeconds(const std::string& text, uint64_t* nanoseconds)
{
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (whole.empty() || whole.size() > MAX_SECONDS_DIGITS || fraction.size() > NANOSECOND_DIGITS
        || (dot != std::string::npos && fraction.empty()))
        return false;
    uint64_t value = 0;
    for (char digit : whole + fraction + std::string(NANOSECOND_DIGITS - fraction.size(), '0')) {
        if (digit < '0' || digit > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(digit - '0');
    }
    *nanoseconds = value;
    return true;
}

// "# a record log of libtav: board model S, firmware ..." in the header, or
// "# board model S: ..." once the board's information named another model.
bool ParseModelLine(const std::string& line, char* model)
{
    const std::string words = "board model ";
    const size_t at = line.find(words);
    const bool stated = line.rfind("# a record log of libtav: " + words, 0) == 0 || line.rfind("# " + words, 0) == 0;
    if (!stated || at + words.size() >= line.size())
        return false;
    *model = line[at + words.size()];
    return true;
}

// "# end at 1.250000000: 63 records": the time the traced board was let go.
bool ParseEndLine(const std::string& line, uint64_t* endNs)
{
    const std::string prefix = "# end at ";
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    const size_t colon = line.find(':', prefix.size());
    return colon != std::string::npos && ParseSeconds(line.substr(prefix.size(), colon - prefix.size()), endNs);
}

LoggedRecord ParseRecordLine(const std::string& line, int lineNumber)
{
    auto refuse = [lineNumber](const std::string& why) {
        return ToolError("line " + std::to_string(lineNumber) + ": " + why, EXIT_USAGE);
    };
    std::istringstream words(line.substr(0, line.find('#')));
    std::string time;
    std::string direction;
    std::string hex;
    std::string extra;
    words >> time >> direction >> hex >> extra;
    LoggedRecord record;
    record.line = lineNumber;
    if (!ParseSeconds(time, &record.timeNs))
        throw refuse(Quoted(time) + " is not a time in seconds (like 1.250000000)");
    if (direction != "out" && direction != "in")
        throw refuse(direction.empty() ? "the direction (out or in) is missing"
                                       : "unknown direction " + Quoted(direction) + " (out or in)");
    record.out = direction == "out";
    if (hex.empty())
        throw refuse("the record's bytes are missing");
    for (char digit : hex)
        if (!std::isxdigit(static_cast<unsigned char>(digit)))
            throw refuse(Quoted(std::string(1, digit)) + " in the record's bytes is not a hex digit");
    if (hex.size() != RECORD_HEX_DIGITS)
        throw refuse("the record has " + std::to_string(hex.size()) + " hex digits, not " +
                     std::to_string(RECORD_HEX_DIGITS) + " (truncated?)");
    if (!extra.empty())
        throw refuse(Quoted(extra) + " after the record's bytes (a comment starts with #)");
    const std::vector<uint8_t> bytes = ParseHexBytes(hex);
    std::copy(bytes.begin(), bytes.end(), record.bytes);
    return record;
}

RecordLog ReadRecordLogLines(const std::string& content)
{
    RecordLog log;
    std::istringstream lines(content);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (lineNumber == 1 && line != RECORD_LOG_HEADER)
            throw ToolError("line 1: not a record log of tavlib (it starts with '" + std::string(RECORD_LOG_HEADER) +
                                "', as TAV_TRACE=FILE.tavtrace writes it)",
                            EXIT_USAGE);
        uint64_t endNs = 0;
        if (ParseEndLine(line, &endNs)) {
            log.endNs = endNs;
            log.endLine = lineNumber;
        }
        ParseModelLine(line, &log.model);
        if (line.empty() || line[0] == '#')
            continue;
        LoggedRecord record = ParseRecordLine(line, lineNumber);
        if (!log.records.empty() && record.timeNs < log.records.back().timeNs)
            throw ToolError("line " + std::to_string(lineNumber) + ": the time goes back", EXIT_USAGE);
        log.records.push_back(record);
    }
    if (lineNumber == 0)
        throw ToolError("line 1: the file is empty, not a record log", EXIT_USAGE);
    if (!log.records.empty() && log.endNs < log.records.back().timeNs) {
        log.endNs = log.records.back().timeNs;
        log.endLine = log.records.back().line;
    }
    return log;
}

} // namespace

bool IsRecordLog(const std::string& content)
{
    return content.compare(0, std::strlen(RECORD_LOG_HEADER), RECORD_LOG_HEADER) == 0;
}

RecordLog ReadRecordLog(const std::string& content, const std::string& name)
{
    try {
        return ReadRecordLogLines(content);
    } catch (const ToolError& error) {
        throw ToolError(name + " " + error.what(), error.status);
    }
}


std::string SecondsText(uint64_t nanoseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%09llu", static_cast<unsigned long long>(nanoseconds / 1000000000u),
                  static_cast<unsigned long long>(nanoseconds % 1000000000u));
    return text;
}

void ReplayCommand(Context& context, const std::string& file, bool fast, bool anyModel)
{
    // Everything is read and checked before anything is sent.
    const RecordLog log = ReadRecordLog(ReadTextFile(file, MAX_RECORD_LOG_BYTES), file);
    if (!fast && log.endNs > MAX_REPLAY_NS)
        throw ToolError(file + " line " + std::to_string(log.endLine) + ": " + SecondsText(log.endNs) +
                            " s is later than a replay waits for (" + std::to_string(MAX_REPLAY_NS / 1000000000u) +
                            " s, 7 days); --fast sends the records without waiting",
                        EXIT_USAGE);
    context.session.Connect();
    tav::Board& board = context.session.Board();
    // The same record drives another pin on another model (PB0 is P8.11 on
    // model S and P4.0 on model T).
    if (log.model != 0 && log.model != board.model() && !anyModel)
        throw ToolError(file + " was recorded on a model " + std::string(1, log.model) + " board and this board is model " +
                            std::string(1, board.model()) +
                            ": its records would drive other pins (--any-model replays it anyway)",
                        EXIT_USAGE);
    // A virtual board replays on the recorded clock, exactly and at once;
    // a real one at the recorded pace.
    const bool virtualClock = context.session.Simulated() && !fast;
    if (virtualClock) {
        Check(tav_sim_set_virtual_time(board.handle(), 1), "replay");
    } else if (!fast) {
        std::fprintf(context.out, "replaying %s takes %s s, as recorded (--fast sends at once)\n", file.c_str(),
                     SecondsText(log.endNs).c_str());
        std::fflush(context.out);
    }
    const auto started = std::chrono::steady_clock::now();
    uint64_t nowNs = 0;
    auto waitUntil = [&](uint64_t timeNs) {
        if (fast || timeNs <= nowNs)
            return;
        if (virtualClock) {
            Check(tav_sim_advance(board.handle(), timeNs - nowNs), "replay");
        } else {
            const uint64_t elapsedNs = static_cast<uint64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started)
                    .count());
            if (timeNs > elapsedNs)
                context.session.Sleep(timeNs - elapsedNs);
        }
        nowNs = timeNs;
    };
    size_t sent = 0;
    for (const LoggedRecord& record : log.records) {
        if (!record.out)
            continue; // a reply: the board sends its own
        waitUntil(record.timeNs);
        TAVDll::_INSTRUCTION_INFO_ instruction;
        std::memcpy(&instruction, record.bytes, sizeof instruction);
        const int result = board.sendRecord(instruction);
        if (result != TAV_OK)
            throw ToolError(file + " line " + std::to_string(record.line) + ": the board did not take the record (" +
                            tav_strerror(result) + "); " + std::to_string(sent) + " records were replayed");
        ++sent;
    }
    waitUntil(log.endNs);
    std::fprintf(context.out, "replayed %zu records of %s (%s)\n", sent, file.c_str(),
                 fast ? "at full speed" : (SecondsText(log.endNs) + " s as recorded").c_str());
}

Command ReplayDeclaration()
{
    Command replay{
        "replay", "Send the records of a record log (TAV_TRACE=FILE.tavtrace) to the board again, at their "
                  "recorded times",
        {Required("FILE", "The record log"), Flag("--fast", "Send them back to back instead of at the recorded times"),
         Flag("--any-model", "Replay a log recorded on another board model (its records then drive other pins)")},
        "The whole log is read and checked first: a log with a bad line sends nothing. A virtual\n"
        "board (--sim) runs on the recorded clock at once, so --vcd and --svg show the session\n"
        "as it was recorded; a real board gets the records at the recorded pace. Replies (in)\n"
        "are not sent: the board makes its own. A log recorded on another board model is refused\n"
        "(--any-model replays it anyway); paced waits end at 7 days (--fast does not wait).\n"
        "Examples:\n  TAV_TRACE=session.tavtrace ./my-program\n"
        "  tavctl --sim replay session.tavtrace --vcd session.vcd\n"
        "  tavctl --device usb:1:5 replay --fast session.tavtrace",
        [](Context& context, const Arguments& arguments) {
            ReplayCommand(context, arguments.Text("FILE"), arguments.Given("--fast"), arguments.Given("--any-model"));
        }};
    replay.inScripts = false;
    return replay;
}

} // namespace tavctl
