#include "trace/record_trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "board_facts.h"
#include "model/record_decoder.h"
#include "trace/trace_file.h"
#include "waveform/waveform.h"

namespace TAVDll::detail {

namespace {

// Every trace not finished yet, for the exit handler.
struct LiveTraces {
    std::mutex mutex;
    std::vector<RecordTrace*> traces;
    std::map<std::string, unsigned> started; // traces per TAV_TRACE value
};

void FinishAtExit();

LiveTraces& Live()
{
    static LiveTraces* const live = [] {
        // Never destroyed: boards may outlive every static object.
        auto* made = new LiveTraces;
        std::atexit(FinishAtExit);
        return made;
    }();
    return *live;
}

void FinishAtExit()
{
    std::vector<RecordTrace*> traces;
    {
        std::lock_guard<std::mutex> lock(Live().mutex);
        traces = Live().traces;
    }
    for (RecordTrace* trace : traces)
        trace->Finish();
}

bool EndsWith(const std::string& text, const char* suffix)
{
    const size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The file's buffer: an operation's lines (PWM start-up is about 40) go
// out in one write.
constexpr size_t FILE_BUFFER_SIZE = 64 * 1024;

// A log line is built here before it is written: the time, the bytes shown
// (at most four records' worth), the description.
constexpr size_t LINE_CAPACITY = 64 + 4 * RECORD_SIZE * 2 + tavmodel::DESCRIPTION_CAPACITY;

// value's decimal digits at out, at least `width` of them (zeros in front);
// returns the end. Two digits a step.
char* PutDecimal(char* out, uint64_t value, int width = 1)
{
    static const char PAIRS[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                "8081828384858687888990919293949596979899";
    char digits[20];
    char* start = digits + sizeof digits;
    while (value >= 100) {
        start -= 2;
        std::memcpy(start, PAIRS + (value % 100) * 2, 2);
        value /= 100;
    }
    if (value >= 10) {
        start -= 2;
        std::memcpy(start, PAIRS + value * 2, 2);
    } else {
        *--start = static_cast<char>('0' + value);
    }
    while (digits + sizeof digits - start < width)
        *--start = '0';
    const size_t length = static_cast<size_t>(digits + sizeof digits - start);
    std::memcpy(out, start, length);
    return out + length;
}

// "12.000450000": seconds with nine decimals.
char* PutTime(char* out, uint64_t timeNs)
{
    out = PutDecimal(out, timeNs / 1000000000u);
    *out++ = '.';
    return PutDecimal(out, timeNs % 1000000000u, 9);
}

char* PutText(char* out, const char* text)
{
    const size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
}

// Two lower-case hex digits per byte value, for the bytes of a line.
struct HexPairs {
    char pairs[256][2];
    HexPairs()
    {
        static const char DIGITS[] = "0123456789abcdef";
        for (int value = 0; value < 256; ++value) {
            pairs[value][0] = DIGITS[value >> 4];
            pairs[value][1] = DIGITS[value & 0xF];
        }
    }
};
const HexPairs HEX_PAIRS;

char* PutSigned(char* out, int value)
{
    if (value < 0)
        *out++ = '-';
    return PutDecimal(out, value < 0 ? 0u - static_cast<uint64_t>(static_cast<int64_t>(value))
                                     : static_cast<uint64_t>(value));
}

void WriteTime(FILE* file, uint64_t timeNs)
{
    char text[32];
    char* end = PutTime(text, timeNs);
    std::fwrite(text, 1, static_cast<size_t>(end - text), file);
}

} // namespace

std::string PathWithSuffix(const std::string& path, const std::string& suffix)
{
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
    return hasExtension ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix;
}

FILE* OpenTraceFile(std::string* path, std::string* problem)
{
    bool held = false;
    FILE* file = OpenOwnFile(*path, problem, &held);
    if (file == nullptr && held) {
        *path = PathWithSuffix(*path, "-pid" + std::to_string(ProcessId()));
        file = OpenOwnFile(*path, problem, &held);
    }
    return file;
}

std::unique_ptr<RecordTrace> RecordTrace::Start(char modelLetter, const char* firmware,
                                                const tavmodel::BoardModel* clock)
{
    const char* wanted = std::getenv("TAV_TRACE");
    if (wanted == nullptr || wanted[0] == '\0')
        return nullptr;
    unsigned number = 0;
    {
        std::lock_guard<std::mutex> lock(Live().mutex);
        number = ++Live().started[wanted];
    }
    // The n-th trace of the process: FILE for the first, then FILE-2.vcd, ...
    std::string path = number <= 1 ? std::string(wanted) : PathWithSuffix(wanted, "-" + std::to_string(number));
    const std::string numbered = path;
    const Format format = EndsWith(path, ".vcd") ? Format::Vcd : EndsWith(path, ".svg") ? Format::Svg : Format::RecordLog;
    // Opened now, so that a name that cannot be written costs nothing later;
    // held to its end, so that no other process writes into it.
    std::string problem;
    FILE* file = OpenTraceFile(&path, &problem);
    if (file == nullptr) {
        // The library prints of its own only about the trace asked for: it
        // cannot be made, and the program runs on without it.
        std::fprintf(stderr, "libtav: TAV_TRACE: cannot write %s: %s\n", path.c_str(), problem.c_str());
        return nullptr;
    }
    if (path != numbered)
        std::fprintf(stderr, "libtav: TAV_TRACE: %s is another process's trace; this one writes %s\n",
                     numbered.c_str(), path.c_str());
    std::unique_ptr<RecordTrace> trace(new RecordTrace(format, path, modelLetter, clock));
    trace->log_ = file;
    trace->buffer_.reset(new (std::nothrow) char[FILE_BUFFER_SIZE]);
    if (trace->buffer_ != nullptr)
        std::setvbuf(file, trace->buffer_.get(), _IOFBF, FILE_BUFFER_SIZE);
    if (format == Format::RecordLog) {
        std::fprintf(trace->log_,
                     "# tavtrace 1\n"
                     "# a record log of libtav: board model %c, firmware %s\n"
                     "# seconds since the board was opened, out (to the board) or in (a reply), the bytes,\n"
                     "# and what they do; lines starting with # are not records\n",
                     modelLetter, firmware != nullptr && firmware[0] != '\0' ? firmware : "unknown");
        trace->Flush();
    }
    std::lock_guard<std::mutex> lock(Live().mutex);
    Live().traces.push_back(trace.get());
    return trace;
}

RecordTrace::RecordTrace(Format format, std::string path, char modelLetter, const tavmodel::BoardModel* clock)
    : format_(format), path_(std::move(path)), clock_(clock), modelLetter_(modelLetter), model_(modelLetter)
{
    model_.SetKeepReceived(false);
    model_.SetKeepHistory(format != Format::RecordLog);
    model_.UseVirtualTime(true); // moved to each record's time
}

RecordTrace::~RecordTrace()
{
    Finish();
}

uint64_t RecordTrace::Now() const
{
    if (clock_ != nullptr)
        return clock_->Now();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started_).count());
}

void RecordTrace::LogLine(const char* direction, uint64_t timeNs, const uint8_t* bytes, int length, int result)
{
    if (log_ == nullptr)
        return;
    if (logged_ == TRACE_LOG_LIMIT) {
        std::fprintf(log_, "# the log stops here: it holds at most %llu records\n",
                     static_cast<unsigned long long>(TRACE_LOG_LIMIT));
        Flush();
        ++logged_;
    }
    if (logged_ > TRACE_LOG_LIMIT)
        return;
    char line[LINE_CAPACITY];
    char* out = line;
    const bool whole = length == static_cast<int>(RECORD_SIZE) && result == length;
    if (!whole)
        out = PutText(out, "# "); // not a record the board took whole: shown, never replayed
    out = PutTime(out, timeNs);
    *out++ = ' ';
    out = PutText(out, direction);
    *out++ = ' ';
    const int shown = std::min(length, static_cast<int>(RECORD_SIZE) * 4);
    for (int index = 0; index < shown; ++index, out += 2)
        std::memcpy(out, HEX_PAIRS.pairs[bytes[index]], 2);
    if (!whole) {
        out = PutText(out, " # ");
        out = PutSigned(out, length);
        out = PutText(out, " bytes, transfer result ");
        out = PutSigned(out, result);
    } else if (std::strcmp(direction, "out") == 0) {
        out = PutText(out, " # ");
        tavmodel::DecodeRecordInto(bytes, RECORD_SIZE, decoded_);
        out += tavmodel::DescribeRecordTo(decoded_, out, static_cast<size_t>(line + sizeof line - 1 - out));
    } else {
        out = PutText(out, " # the board's reply");
    }
    *out++ = '\n';
    std::fwrite(line, 1, static_cast<size_t>(out - line), log_);
    ++logged_;
    unflushed_ = true;
}

void RecordTrace::EndOperation()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (unflushed_ && !finished_)
        Flush();
}

void RecordTrace::Out(const uint8_t* bytes, int length, int result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_)
        return;
    const uint64_t timeNs = std::max(Now(), lastNs_);
    lastNs_ = timeNs;
    ++records_;
    if (format_ == Format::RecordLog) {
        LogLine("out", timeNs, bytes, length, result);
        return;
    }
    if (result != length || length != static_cast<int>(RECORD_SIZE))
        return;
    model_.Advance(timeNs - model_.Now());
    model_.Execute(bytes, RECORD_SIZE);
}

void RecordTrace::In(const uint8_t* bytes, int length, int result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_ || format_ != Format::RecordLog)
        return;
    const uint64_t timeNs = std::max(Now(), lastNs_);
    lastNs_ = timeNs;
    LogLine("in", timeNs, bytes, result > 0 ? std::min(result, length) : 0, result);
}

void RecordTrace::SetModel(char modelLetter)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (modelLetter == modelLetter_)
        return;
    modelLetter_ = modelLetter;
    model_.SetModelLetter(modelLetter);
    // A replay must know which pins the records drove.
    if (format_ == Format::RecordLog && log_ != nullptr && !finished_) {
        std::fprintf(log_, "# board model %c: the board's information names it\n", modelLetter);
        Flush();
    }
}

void RecordTrace::Flush()
{
    unflushed_ = false;
    if (log_ == nullptr)
        return;
    if (std::fflush(log_) == 0 && !std::ferror(log_))
        return;
    // A full disk, or a file too large: said once, and the trace ends here
    // rather than go on with holes.
    const int error = errno;
    std::fprintf(stderr, "libtav: TAV_TRACE: writing %s failed: %s; the trace ends there\n", path_.c_str(),
                 std::strerror(error));
    std::fclose(log_);
    log_ = nullptr;
}

void RecordTrace::Finish()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_)
        return;
    finished_ = true;
    {
        std::lock_guard<std::mutex> live(Live().mutex);
        auto& traces = Live().traces;
        traces.erase(std::remove(traces.begin(), traces.end(), this), traces.end());
    }
    const uint64_t endNs = std::max(Now(), lastNs_);
    if (log_ == nullptr)
        return; // a write failed and was said
    if (format_ == Format::RecordLog) {
        // The time the board was let go, for a replay to end at.
        std::fputs("# end at ", log_);
        WriteTime(log_, endNs);
        if (logged_ > TRACE_LOG_LIMIT)
            std::fprintf(log_, ": %llu records, the first %llu of them logged\n",
                         static_cast<unsigned long long>(records_), static_cast<unsigned long long>(TRACE_LOG_LIMIT));
        else
            std::fprintf(log_, ": %llu records\n", static_cast<unsigned long long>(records_));
    } else {
        model_.Advance(endNs - model_.Now());
        const std::string waveform = format_ == Format::Vcd ? tavmodel::RenderVcd(model_) : tavmodel::RenderSvg(model_);
        std::fwrite(waveform.data(), 1, waveform.size(), log_);
    }
    Flush();
    if (log_ != nullptr)
        std::fclose(log_);
    log_ = nullptr;
}

} // namespace TAVDll::detail
