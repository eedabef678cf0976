#include "link/transport.h"

#include "link/debug_print.h"
#include "tav/tav.h"

#include <cerrno>
#include <climits>
#include <cstdio>

namespace TAVDll {
namespace detail {

namespace {

bool UsableBuffer(const void* buffer, unsigned long length)
{
    return length <= static_cast<unsigned long>(INT_MAX) && (buffer != nullptr || length == 0);
}

} // namespace

// A board that stopped answering holds each further record for a whole
// time-out, and a board that is gone will never answer this handle again.
void AfterFailedTransfer(BoardLink& link, int error)
{
    char words[128];
    ErrorWords(error, words, sizeof words);
    LogPrint(TAV_LOG_WARNING, "a transfer to the board failed: %s%s", words,
             error == -ETIMEDOUT ? "; nothing more is sent in this operation"
             : error == -ENODEV  ? "; the board is let go"
                                 : "");
    if (error == -ETIMEDOUT)
        link.stopSending = true;
    if (error == -ENODEV) {
        link.stopSending = true;
        ReleaseDevice(link);
    }
}

short WriteOut(BoardLink& link, const void* buffer, unsigned long length, unsigned long* moved)
{
    *moved = 0;
    if (!BoardOpen(link) || !UsableBuffer(buffer, length))
        return RESULT_NOT_OPEN;
    const int transferred = link.usb->bulkWrite(link.usb->context, link.deviceHandle, ENDPOINT_OUT,
                                                static_cast<const char*>(buffer), static_cast<int>(length),
                                                link.timeoutMs);
    if (link.observer != nullptr)
        link.observer(link.observerUser, static_cast<const uint8_t*>(buffer), static_cast<int>(length), transferred);
    if (transferred < 0)
        AfterFailedTransfer(link, transferred);
    if (transferred > 0)
        *moved = static_cast<unsigned long>(transferred);
    return transferred >= 0 && static_cast<unsigned long>(transferred) == length ? RESULT_OK : RESULT_NOT_OPEN;
}

short ReadIn(BoardLink& link, void* buffer, unsigned long length)
{
    if (!BoardOpen(link) || !UsableBuffer(buffer, length))
        return RESULT_IO_FAILED;
    const int transferred = link.usb->bulkRead(link.usb->context, link.deviceHandle, ENDPOINT_IN,
                                               static_cast<char*>(buffer), static_cast<int>(length), link.timeoutMs);
    if (link.replyObserver != nullptr)
        link.replyObserver(link.observerUser, static_cast<const uint8_t*>(buffer), static_cast<int>(length), transferred);
    if (transferred < 0)
        AfterFailedTransfer(link, transferred);
    if (transferred >= 0 && static_cast<unsigned long>(transferred) == length)
        return RESULT_OK;
    if (link.printsReadFailure)
        std::printf("error: bulk read failed\n");
    else
        LogPrint(TAV_LOG_WARNING, "the board did not answer: bulk read %d of %lu bytes", transferred, length);
    return RESULT_IO_FAILED;
}

namespace {

// Up to USB_QUEUE_DEPTH records through the backend's queue. What the queue
// did not send goes out one by one afterwards, in order, unless a time-out
// or a vanished board stopped the operation: the same records reach the
// board as on the one-by-one path.
int SubmitQueued(BoardLink& link, const _INSTRUCTION_INFO_* submission, int first, int count)
{
    const _INSTRUCTION_INFO_* records = submission + first;
    int results[USB_QUEUE_DEPTH];
    link.usb->bulkWriteQueue(link.usb->context, link.deviceHandle, ENDPOINT_OUT,
                             reinterpret_cast<const char*>(records), static_cast<int>(RECORD_SIZE), count,
                             link.timeoutMs, results);
    int failed = 0;
    for (int index = 0; index < count; ++index) {
        const int result = results[index];
        if (result == USB_NOT_SENT) {
            if (!SendRecord(link, records[index])) {
                NoteShortfall(link, submission, first + index);
                ++failed;
            }
            continue;
        }
        if (result != static_cast<int>(RECORD_SIZE))
            NoteShortfall(link, submission, first + index);
        AfterRecordTransfer(link, reinterpret_cast<const uint8_t*>(&records[index]), result);
        if (result != static_cast<int>(RECORD_SIZE))
            ++failed;
    }
    return failed;
}

// One transfer each, in order. While transfers succeed nothing can change
// the board's handle, table or observer, so they are read once for the run;
// a failure (which may stop sending or let the board go) starts a new run.
int SubmitOneByOne(BoardLink& link, const _INSTRUCTION_INFO_* submission, int first, int count)
{
    const _INSTRUCTION_INFO_* next = submission + first;
    const _INSTRUCTION_INFO_* const end = submission + count;
    int failed = 0;
    while (next != end) {
        if (!BoardOpen(link) || link.stopSending) {
            NoteShortfall(link, submission, static_cast<int>(next - submission));
            return failed + static_cast<int>(end - next);
        }
        const UsbBackend& usb = *link.usb;
        void* const context = usb.context;
        usb_dev_handle* const handle = link.deviceHandle;
        const int32_t timeoutMs = link.timeoutMs;
        const RecordObserver observer = link.observer;
        void* const observerUser = link.observerUser;
        int transferred = 0;
        do {
            const char* bytes = reinterpret_cast<const char*>(next++);
            transferred = usb.bulkWrite(context, handle, ENDPOINT_OUT, bytes, static_cast<int>(RECORD_SIZE), timeoutMs);
            if (observer != nullptr)
                observer(observerUser, reinterpret_cast<const uint8_t*>(bytes), RECORD_SIZE, transferred);
        } while (transferred == static_cast<int>(RECORD_SIZE) && next != end);
        if (transferred != static_cast<int>(RECORD_SIZE)) {
            NoteShortfall(link, submission, static_cast<int>(next - submission) - 1);
            if (transferred < 0)
                AfterFailedTransfer(link, transferred);
            ++failed;
        }
    }
    return failed;
}

} // namespace

int SubmitRecords(BoardLink& link, const _INSTRUCTION_INFO_* records, int count)
{
    // A null array is refused rather than read, whatever the count says.
    if (count <= 0)
        return 0;
    if (!BoardOpen(link) || records == nullptr) {
        NoteShortfall(link, records, 0);
        return count;
    }
    int failed = 0;
    int index = 0;
    if (link.queued && link.usb->bulkWriteQueue != nullptr) {
        // A last single record gains nothing from the queue.
        while (count - index > 1 && BoardOpen(link) && !link.stopSending) {
            const int chunk = count - index < USB_QUEUE_DEPTH ? count - index : USB_QUEUE_DEPTH;
            failed += SubmitQueued(link, records, index, chunk);
            index += chunk;
        }
    }
    return failed + SubmitOneByOne(link, records, index, count);
}

} // namespace detail

} // namespace TAVDll
