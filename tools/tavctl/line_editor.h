// The shell's lines: libedit's line editing and history where libedit is
// installed, loaded when the shell starts so that no other command pays for
// it; plain lines from standard input otherwise (and on Windows, whose
// console edits the line itself).
#pragma once

#include <cstdio>
#include <string>

namespace tavctl {

// The few calls of libedit's readline interface the shell uses.
struct Editline {
    char* (*readline)(const char* prompt);
    int (*addHistory)(const char* line);
    void (*usingHistory)();
    int (*readHistory)(const char* file);
    int (*writeHistory)(const char* file);
    void (*replaceLine)(const char* text, int clearUndo);
    int* catchSignals;             // rl_catch_signals
    int (**getcFunction)(FILE*);   // rl_getc_function
};

// libedit, loaded on the first call; nullptr where it is not installed
// (one file per platform).
const Editline* LoadEditline();

class LineEditor {
public:
    // With `interruptible`, Ctrl-C at the prompt drops the line typed so far
    // (CatchInterrupts must be on); otherwise it acts as the signal does.
    explicit LineEditor(bool interruptible);

    bool Editing() const { return editline_ != nullptr; }
    // False at the end of the input.
    bool ReadLine(const char* prompt, std::string& line);
    void Remember(const std::string& line);
    void LoadHistory(const std::string& file);
    void SaveHistory(const std::string& file);

private:
    const Editline* editline_;
};

} // namespace tavctl
