// The ways a person ends tavctl while it holds the board: Ctrl-C, SIGTERM
// and SIGHUP (terminal closed, SSH dropped) on POSIX systems; Ctrl-C,
// Ctrl-Break and closing the console window on Windows. Once held they no
// longer end the process at once: the tool waits for them and closes the
// board into the safe state first.
#ifndef TAVCTL_STOP_SIGNAL_H
#define TAVCTL_STOP_SIGNAL_H

#include <cstdint>

namespace tavctl {

// First thing in main: a stop signal that comes before the command line is
// read waits (is not lost) until one of the two calls below.
void DeferStopSignals();

// The stop signals of this platform in words, for the help: "Ctrl-C or
// SIGTERM" (the signals that end tavctl) and those --hold waits for.
extern const char* const STOP_SIGNAL_WORDS;
extern const char* const HOLD_SIGNAL_WORDS;
// From here on a stop signal is held for the waits below, in every thread,
// also one the process was started ignoring (a background job, nohup).
void HoldStopSignals();
// Without --hold: stop signals act as they did when tavctl started (one that
// came meanwhile acts now).
void ReleaseStopSignals();
// Waits at most that long; true when a stop signal came.
bool WaitForStop(uint64_t nanoseconds);
// Waits until a stop signal comes.
void WaitForStop();
// The board is safe: a console that is being closed may go now (Windows
// gives its programs a few seconds for that). Nothing elsewhere.
void StopHandled();

// The shell without --hold: Ctrl-C (SIGINT) stops the running command and
// returns to the prompt instead of ending tavctl. From CatchInterrupts on,
// a Ctrl-C only raises a flag: InterruptRequested tells, TakeInterrupt tells
// and lowers it, and SleepUnlessInterrupted sleeps until it rises (false
// then). Nothing of this on Windows, where a console Ctrl-C ends the shell.
void CatchInterrupts();
bool InterruptRequested();
bool TakeInterrupt();
bool SleepUnlessInterrupted(uint64_t nanoseconds);

} // namespace tavctl

#endif
