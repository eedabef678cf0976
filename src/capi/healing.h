// The healing thread of "reattach:" board objects, and what closing a board
// needs of it.
#ifndef TAV_CAPI_HEALING_H
#define TAV_CAPI_HEALING_H

struct tav_board;

namespace TAVDll::detail {

// The thread of a "reattach:" board, from open to close.
void HealerThread(tav_board* board);

// Whether this thread may wait for the board's healer: not the healer
// itself, nor any thread inside a callback of the library's (another
// board's healer may be waiting for this one).
bool MayWaitForHealer(const tav_board* board);

// Tells the healer to stop, and waits for it where this thread may.
void StopHealing(tav_board* board);

// Frees a disconnected board; where its healer could not be waited for and
// still runs, the healer frees it as it ends.
void FreeBoard(tav_board* board);

// The healer looks at its board at once (a virtual board was unplugged or
// plugged in).
void HealerLookNow(tav_board* board);

} // namespace TAVDll::detail

#endif
