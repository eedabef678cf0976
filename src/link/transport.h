#ifndef TAV_LINK_TRANSPORT_H
#define TAV_LINK_TRANSPORT_H

#include "link/board_link.h"

namespace TAVDll::detail {

// The OUT pipe as WritePipe uses it; *moved receives the bytes moved.
short WriteOut(BoardLink& link, const void* buffer, unsigned long length, unsigned long* moved);
// The IN pipe as ReadPipe uses it.
short ReadIn(BoardLink& link, void* buffer, unsigned long length);

// Sends one record as one transfer; true when all 64 bytes moved. With no
// board open nothing is sent and the result is false.
bool SubmitRecord(BoardLink& link, const _INSTRUCTION_INFO_& record);

// Sends count records in order, one transfer each, going on after a failure.
// Returns how many of them did not go out whole.
int SubmitRecords(BoardLink& link, const _INSTRUCTION_INFO_* records, int count);

} // namespace TAVDll::detail

#endif
