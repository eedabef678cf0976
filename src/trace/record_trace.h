// TAV_TRACE=FILE: a trace of every board a program opens, whatever front
// end it uses, in the format the file's name asks for:
//   FILE.vcd       a value change dump of what the program commanded the
//                  board's pins to do (the virtual board's --vcd wires)
//   FILE.svg       the same as a timing diagram
//   anything else  a record log (FILE.tavtrace): one line per record with
//                  its time, direction, bytes and meaning, flushed at the
//                  end of each operation
// The waveforms are written when the board is closed or released, or at the
// program's normal exit for a board still open. The second board of a
// process writes FILE-2.vcd, the third FILE-3.vcd, and so on; a file another
// process holds becomes FILE-pidN.vcd (trace_file.h).
#ifndef TAV_TRACE_RECORD_TRACE_H
#define TAV_TRACE_RECORD_TRACE_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "model/board_model.h"
#include "model/record_decoder.h"

namespace TAVDll::detail {

// At most this many records in one record log; the log says so when it
// stops.
constexpr uint64_t TRACE_LOG_LIMIT = 100000;

class RecordTrace {
public:
    enum class Format { Vcd, Svg, RecordLog };

    // The trace TAV_TRACE asks for, for a board just opened (its model
    // letter and firmware text); null when TAV_TRACE is unset or empty, or
    // when its file cannot be made (one line on standard error says so). clock: a virtual board's model, whose clock
    // the trace follows; null for a real board (time since now).
    static std::unique_ptr<RecordTrace> Start(char modelLetter, const char* firmware,
                                              const tavmodel::BoardModel* clock);
    ~RecordTrace();
    RecordTrace(const RecordTrace&) = delete;
    RecordTrace& operator=(const RecordTrace&) = delete;

    // One OUT transfer and its result (bytes moved or a negative error).
    void Out(const uint8_t* bytes, int length, int result);
    // One IN transfer (a reply) and its result.
    void In(const uint8_t* bytes, int length, int result);
    // An operation ended: what it logged goes to the file now.
    void EndOperation();
    // The board turned out to be another model (its information arrived).
    void SetModel(char modelLetter);
    // Writes the waveform, ends the log; later calls do nothing.
    void Finish();

    const std::string& Path() const { return path_; }

private:
    RecordTrace(Format format, std::string path, char modelLetter, const tavmodel::BoardModel* clock);
    uint64_t Now() const;
    void LogLine(const char* direction, uint64_t timeNs, const uint8_t* bytes, int length, int result);
    // Flushes the file; a failed write is said once and ends the trace.
    void Flush();

    std::mutex mutex_; // against the exit handler
    Format format_;
    std::string path_;
    const tavmodel::BoardModel* clock_;
    char modelLetter_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    tavmodel::BoardModel model_; // the waveforms' board: fed what went out whole
    FILE* log_ = nullptr; // the open file, of every format; null once a write failed
    std::unique_ptr<char[]> buffer_; // the file's, so that an operation's lines are one write
    tavmodel::DecodedRecord decoded_; // the record being logged, kept for its text's room
    bool unflushed_ = false;
    uint64_t records_ = 0;
    uint64_t logged_ = 0;
    uint64_t lastNs_ = 0;
    bool finished_ = false;
};

} // namespace TAVDll::detail

#endif
