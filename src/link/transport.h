#ifndef TAV_LINK_TRANSPORT_H
#define TAV_LINK_TRANSPORT_H

#include "link/board_link.h"

namespace TAVDll::detail {

// The OUT pipe as WritePipe uses it; *moved receives the bytes moved.
short WriteOut(BoardLink& link, const void* buffer, unsigned long length, unsigned long* moved);
// The IN pipe as ReadPipe uses it.
short ReadIn(BoardLink& link, void* buffer, unsigned long length);

// Sends one record as one transfer; true when all 64 bytes moved. With no
// board open, or once the running operation has stopped sending, nothing is
// sent and the result is false. A transfer that times out stops the
// operation's sending; one that finds the board gone also closes and forgets
// the handle (the board counts as not open from then on).
bool SubmitRecord(BoardLink& link, const _INSTRUCTION_INFO_& record);

// Sends count records in order, one transfer each, going on after an error,
// stall or short write (not after a time-out or a vanished board). Returns
// how many of them did not go out whole.
int SubmitRecords(BoardLink& link, const _INSTRUCTION_INFO_* records, int count);

} // namespace TAVDll::detail

#endif
