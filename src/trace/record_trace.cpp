#include "trace/record_trace.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <cstdlib>
#include <cstring>
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

void WriteTime(FILE* file, uint64_t timeNs)
{
    std::fprintf(file, "%llu.%09llu", static_cast<unsigned long long>(timeNs / 1000000000u),
                 static_cast<unsigned long long>(timeNs % 1000000000u));
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
    const bool whole = length == static_cast<int>(RECORD_SIZE) && result == length;
    if (!whole)
        std::fputs("# ", log_); // not a record the board took whole: shown, never replayed
    WriteTime(log_, timeNs);
    std::fprintf(log_, " %s ", direction);
    const int shown = std::min(length, static_cast<int>(RECORD_SIZE) * 4);
    for (int index = 0; index < shown; ++index)
        std::fprintf(log_, "%02x", bytes[index]);
    if (!whole) {
        std::fprintf(log_, " # %d bytes, transfer result %d\n", length, result);
    } else if (std::strcmp(direction, "out") == 0) {
        std::fprintf(log_, " # %s\n", tavmodel::DescribeRecord(tavmodel::DecodeRecord(bytes, RECORD_SIZE)).c_str());
    } else {
        std::fputs(" # the board's reply\n", log_);
    }
    ++logged_;
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
