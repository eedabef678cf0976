#include "link/transport.h"

#include <climits>
#include <cstdio>

#include "link/library_state.h"
#include "link/usb_backend.h"

namespace TAVDll {
namespace detail {

namespace {

bool UsableBuffer(const void* buffer, unsigned long length)
{
    return length <= static_cast<unsigned long>(INT_MAX) && (buffer != nullptr || length == 0);
}

} // namespace

short WriteOut(const void* buffer, unsigned long length, unsigned long* moved)
{
    *moved = 0;
    if (!BoardOpen() || !UsableBuffer(buffer, length))
        return RESULT_NOT_OPEN;
    const int transferred = Usb().bulkWrite(libraryState.deviceHandle, ENDPOINT_OUT,
                                            static_cast<const char*>(buffer), static_cast<int>(length),
                                            libraryState.timeoutMs);
    if (transferred > 0)
        *moved = static_cast<unsigned long>(transferred);
    return transferred >= 0 && static_cast<unsigned long>(transferred) == length ? RESULT_OK : RESULT_NOT_OPEN;
}

bool SubmitRecord(const _INSTRUCTION_INFO_& record)
{
    if (!BoardOpen())
        return false;
    unsigned long moved = 0;
    return WriteOut(&record, RECORD_SIZE, &moved) == RESULT_OK;
}

int SubmitRecords(const _INSTRUCTION_INFO_* records, int count)
{
    int failed = 0;
    // A null array is refused rather than read, whatever the count says.
    if (!BoardOpen() || records == nullptr)
        return count > 0 ? count : 0;
    for (int index = 0; index < count; ++index) {
        if (!SubmitRecord(records[index]))
            ++failed;
    }
    return failed;
}

} // namespace detail

using namespace detail;

short TAVLib::WritePipe(void* buffer, unsigned long length, unsigned long* written)
{
    unsigned long moved = 0;
    const short result = WriteOut(buffer, length, &moved);
    if (written != nullptr)
        *written = moved;
    return result;
}

short TAVLib::ReadPipe(void* buffer, unsigned long length)
{
    if (!BoardOpen() || !UsableBuffer(buffer, length))
        return RESULT_IO_FAILED;
    const int transferred = Usb().bulkRead(libraryState.deviceHandle, ENDPOINT_IN, static_cast<char*>(buffer),
                                           static_cast<int>(length), libraryState.timeoutMs);
    if (transferred >= 0 && static_cast<unsigned long>(transferred) == length)
        return RESULT_OK;
    std::printf("error: bulk read failed\n");
    return RESULT_IO_FAILED;
}

void TAVLib::AddCommand(_INSTRUCTION_INFO_ instruction)
{
    SubmitRecord(instruction);
}

void TAVLib::AddCommands(_INSTRUCTION_INFO_* instructions, int count)
{
    SubmitRecords(instructions, count);
}

} // namespace TAVDll
