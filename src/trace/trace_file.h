// The file TAV_TRACE names, opened for this process alone. OpenTraceFile is
// portable (record_trace.cpp); OpenOwnFile and ProcessId are platform code:
// trace_file_posix.cpp, trace_file_windows.cpp.
#ifndef TAV_TRACE_TRACE_FILE_H
#define TAV_TRACE_TRACE_FILE_H

#include <cstdio>
#include <string>

namespace TAVDll::detail {

// Opens *path for writing, empty, without ever blocking (a FIFO nobody
// reads); only a regular file or a terminal is taken. A regular file stays
// locked to this process while it is open: when another process holds it,
// this one writes a name of its own, FILE-pid1234.EXT, and *path says which.
// Null on failure, with *problem saying why.
FILE* OpenTraceFile(std::string* path, std::string* problem);

// One name, opened empty and held by this process alone, or null with
// *problem; *held when another process holds it.
FILE* OpenOwnFile(const std::string& path, std::string* problem, bool* held);
unsigned long ProcessId();

// path with suffix before its extension: trace.vcd, "-2" -> trace-2.vcd
// (a dot in a folder's name is no extension).
std::string PathWithSuffix(const std::string& path, const std::string& suffix);

} // namespace TAVDll::detail

#endif
