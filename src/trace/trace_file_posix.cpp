#include "trace/trace_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace TAVDll::detail {

namespace {

// The open file, locked and empty; -1 with *problem set, and *held when
// another process holds the file.
int OpenLocked(const std::string& path, std::string* problem, bool* held)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        // A FIFO with no reader: refused at once instead of waiting for one.
        *problem = errno == ENXIO ? "it is not a regular file or a terminal" : std::strerror(errno);
        return -1;
    }
    struct stat info {};
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!regular && !isatty(fd)) {
        close(fd);
        *problem = "it is not a regular file or a terminal";
        return -1;
    }
    if (regular && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *held = errno == EWOULDBLOCK;
        *problem = std::strerror(errno);
        close(fd);
        return -1;
    }
    if (regular && ftruncate(fd, 0) != 0) {
        *problem = std::strerror(errno);
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

FILE* OpenOwnFile(const std::string& path, std::string* problem, bool* held)
{
    const int fd = OpenLocked(path, problem, held);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "w");
    if (file == nullptr) {
        *problem = std::strerror(errno);
        close(fd);
    }
    return file;
}

unsigned long ProcessId()
{
    return static_cast<unsigned long>(getpid());
}

} // namespace TAVDll::detail
