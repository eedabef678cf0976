#ifndef TAV_LINK_TRANSPORT_H
#define TAV_LINK_TRANSPORT_H

#include "link/board_link.h"
#include "link/record_batch.h"

namespace TAVDll::detail {

// The OUT pipe as WritePipe uses it; *moved receives the bytes moved.
short WriteOut(BoardLink& link, const void* buffer, unsigned long length, unsigned long* moved);
// The IN pipe as ReadPipe uses it.
short ReadIn(BoardLink& link, void* buffer, unsigned long length);

// After a transfer that failed with a negative error: a time-out stops the
// operation's sending; a board found gone also closes and forgets the handle
// (the board counts as not open from then on).
void AfterFailedTransfer(BoardLink& link, int error);

// What follows every record's transfer, one by one or queued: the observer
// sees it, then a failure may stop the operation.
inline void AfterRecordTransfer(BoardLink& link, const uint8_t* bytes, int result)
{
    if (link.observer != nullptr)
        link.observer(link.observerUser, bytes, RECORD_SIZE, result);
    if (result < 0)
        AfterFailedTransfer(link, result);
}

// Tells the shortfall hook, when there is one, that a record of a
// submission did not go out whole: wholeCount records before it did.
inline void NoteShortfall(BoardLink& link, const _INSTRUCTION_INFO_* records, int wholeCount)
{
    if (link.shortfall != nullptr)
        link.shortfall(link.observerUser, records, wholeCount);
}

// Sends one record as one transfer; true when all 64 bytes moved. With no
// board open, or once the running operation has stopped sending, nothing is
// sent and the result is false. SendRecord leaves the shortfall to its
// caller; SubmitRecord is a submission of its own.
inline bool SendRecord(BoardLink& link, const _INSTRUCTION_INFO_& record)
{
    if (!BoardOpen(link) || link.stopSending)
        return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    const int transferred = link.usb->bulkWrite(link.usb->context, link.deviceHandle, ENDPOINT_OUT,
                                                reinterpret_cast<const char*>(bytes), RECORD_SIZE, link.timeoutMs);
    AfterRecordTransfer(link, bytes, transferred);
    return transferred == static_cast<int>(RECORD_SIZE);
}

inline bool SubmitRecord(BoardLink& link, const _INSTRUCTION_INFO_& record)
{
    if (SendRecord(link, record))
        return true;
    NoteShortfall(link, &record, 0);
    return false;
}

// Sends count records in order, one transfer each, going on after an error,
// stall or short write (not after a time-out or a vanished board). On a
// queued board they go out back to back through the backend's queue. Returns
// how many of them did not go out whole.
int SubmitRecords(BoardLink& link, const _INSTRUCTION_INFO_* records, int count);

// Sends a filled batch as SubmitRecords does: 0 when every record went out
// whole, 4 otherwise.
inline int SubmitBatch(BoardLink& link, const InstructionBatch& batch)
{
    return SubmitRecords(link, batch.records, batch.inCount) == 0 ? RESULT_OK : RESULT_IO_FAILED;
}

} // namespace TAVDll::detail

#endif
