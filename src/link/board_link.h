#ifndef TAV_LINK_BOARD_LINK_H
#define TAV_LINK_BOARD_LINK_H

#include <mutex>

#include "board_facts.h"
#include "base/library_mutex.h"
#include "usb/usb_backend.h"
#include "usb/usb_system.h"

namespace TAVDll::detail {

constexpr int VERSION_TEXT_SIZE = 64;

// Called after every OUT transfer of a link, with the link's lock held: the
// bytes handed to the USB layer and its result (bytes moved or an error).
using RecordObserver = void (*)(void* user, const uint8_t* bytes, int length, int result);

// One connection to one board. Every operation takes the link it acts on;
// the static TAVLib functions act on DefaultLink(). boardType and
// versionText describe the last board that answered and survive a release.
struct BoardLink {
    explicit BoardLink(const UsbBackend* backend = nullptr) : usb(backend) {}

    const UsbBackend* usb; // the backend this board's handle belongs to
    usb_dev_handle* deviceHandle = nullptr;
    int32_t timeoutMs = 0;
    BoardType boardType = BOARD_T;
    char versionText[VERSION_TEXT_SIZE] = {};
    // A "queued:" board: an operation's records go out through the backend's
    // queue (bulkWriteQueue) where it has one.
    bool queued = false;
    RecordObserver observer = nullptr;
    // Called after every IN transfer (a reply), with the observer's user.
    RecordObserver replyObserver = nullptr;
    // Called when an operation ends, with the observer's user (a trace
    // flushes its file there, not after every record).
    void (*operationObserver)(void* user) = nullptr;
    void* observerUser = nullptr;
    // Called, when set, at the first record of a submission that does not go
    // out whole (or is not sent), with the records of that submission before
    // it, which all went out whole; with the observer's user. A board object
    // that watches no record one by one catches up there.
    void (*shortfall)(void* user, const _INSTRUCTION_INFO_* wholeRecords, int wholeCount) = nullptr;
    // Set when a transfer of the running operation timed out or found the
    // board gone: nothing more is sent until the next operation starts.
    bool stopSending = false;
    // Where the board was found ("1-3.2"), when asked for (a board that is
    // to be found again); "" otherwise or where the library cannot tell.
    char portPath[USB_PORT_PATH_SIZE] = {};
    // Where it was found: its address then ("usb:1:5"), to tell a replug.
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    // Board objects say a failed read through the log; the static ReadPipe
    // (and what calls it) prints its line.
    bool printsReadFailure = true;
    // Held for the whole of every public operation, so that no two record
    // sequences to this board interleave.
    LibraryMutex mutex;
};

// Makes the default board, once (DefaultLink's first call).
BoardLink& MakeDefaultLink();

// The process-default board of the static TAVLib functions; its backend is
// the installed one. Inline: every static call asks for it.
inline BoardLink& DefaultLink()
{
    static BoardLink& link = MakeDefaultLink();
    return link;
}

// Puts the default board back to its state at load (no USB call). For tests.
void ResetDefaultLink();

// Runs one public operation on a board: its lock held throughout, sending
// allowed again at the start.
template <typename Operation>
auto RunOperation(BoardLink& link, Operation operation)
{
    std::lock_guard<LibraryMutex> lock(link.mutex);
    link.stopSending = false;
    struct OperationEnd {
        BoardLink& link;
        ~OperationEnd()
        {
            if (link.operationObserver != nullptr)
                link.operationObserver(link.observerUser);
        }
    } end{link};
    return operation(link);
}

// The same on the default board of the static functions.
template <typename Operation>
auto OnDefaultBoard(Operation operation)
{
    return RunOperation(DefaultLink(), operation);
}

inline bool BoardOpen(const BoardLink& link)
{
    return link.deviceHandle != nullptr;
}

// usb_init, usb_find_busses, usb_find_devices; the discovery lock is held.
void RefreshBusList(const UsbBackend& usb);

// The connection steps on one link (its lock held by the caller).
void Enumerate(BoardLink& link);
usb_dev_handle* OpenFirstMatch(BoardLink& link, unsigned int vendorId, unsigned int productId);
usb_dev_handle* OpenDevice(BoardLink& link, struct usb_device* device);
// Why this thread's last open or claim of a board failed, in words (no
// permission, in use by another program, ...); null when the last one did not.
const char* OpenProblem();
void ClearOpenProblem();
void SetOpenProblem(const char* text);
// Closes the handle if one is open and forgets it.
void ReleaseDevice(BoardLink& link);

} // namespace TAVDll::detail

#endif
