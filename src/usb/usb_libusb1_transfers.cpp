// libusb-1.0's transfers: one at a time as libusb 0.1 reports them, and an
// operation's records queued back to back (asynchronous transfers, the rest
// cancelled once one times out or finds the board gone).
#include <algorithm>
#include <cerrno>

#include "usb/usb_libusb1_private.h"

namespace TAVDll::libusb1 {

// One bulk transfer as usb_bulk_write/usb_bulk_read report it: a stalled
// transfer shows as the bytes it moved (0), as libusb 0.1 has it.
int BulkTransfer(usb_dev_handle* handle, int endpoint, unsigned char* bytes, int size, int timeoutMs)
{
    QueuedHandle* queued = FromHandle(handle);
    if (queued == nullptr || size < 0)
        return -EINVAL;
    int moved = 0;
    const int error = Api().bulkTransfer(queued->device, static_cast<unsigned char>(endpoint), bytes, size, &moved,
                                           static_cast<unsigned int>(timeoutMs));
    if (error == 0 || error == LIBUSB_ERROR_PIPE)
        return moved;
    return ErrnoOf(error);
}

namespace {

int QueuedResult(const libusb_transfer& transfer)
{
    switch (transfer.status) {
    case LIBUSB_TRANSFER_COMPLETED:
    case LIBUSB_TRANSFER_STALL: return transfer.actual_length;
    case LIBUSB_TRANSFER_TIMED_OUT: return -ETIMEDOUT;
    case LIBUSB_TRANSFER_NO_DEVICE: return -ENODEV;
    case LIBUSB_TRANSFER_OVERFLOW: return -EOVERFLOW;
    case LIBUSB_TRANSFER_CANCELLED: return transfer.actual_length > 0 ? transfer.actual_length : USB_NOT_SENT;
    default: return -EIO;
    }
}

// Runs where libusb handles events, maybe on another board's thread.
void LIBUSB_CALL OnQueuedTransferDone(libusb_transfer* transfer)
{
    QueueSlot& slot = *static_cast<QueueSlot*>(transfer->user_data);
    QueuedHandle& queued = *slot.owner;
    const int result = QueuedResult(*transfer);
    queued.results[slot.index] = result;
    if (result == -ETIMEDOUT || result == -ENODEV) {
        int stop = queued.stopIndex.load();
        while (slot.index < stop && !queued.stopIndex.compare_exchange_weak(stop, slot.index)) {
        }
        // At once, before libusb reaps the next one: a board that takes
        // data again must not get the rest of an operation that stopped.
        // (A submission racing this is cancelled by the queue's own loop.)
        if (slot.index < stop) {
            const int submitted = queued.submitted.load();
            for (int later = slot.index + 1; later < submitted; ++later)
                Api().cancelTransfer(queued.pool[later]);
        }
    }
    if (queued.outstanding.fetch_sub(1) == 1) {
        queued.finished.store(true);
        queued.done = 1;
    }
}

} // namespace

int QueueWrite(void*, usb_dev_handle* handle, int endpoint, const char* bytes, int size, int count,
               int timeoutMs, int* results)
{
    QueuedHandle* queued = FromHandle(handle);
    if (queued == nullptr || count < 0 || count > USB_QUEUE_DEPTH || size < 0)
        return -EINVAL;
    std::fill(results, results + count, USB_NOT_SENT);
    queued->results = results;
    queued->stopIndex.store(INT_MAX);
    queued->submitted.store(0);
    queued->done = 0;
    queued->finished.store(false);
    // One count more than submitted until every submission is made, so that
    // completions on another thread cannot end the queue early.
    queued->outstanding.store(1);
    int submitted = 0;
    for (; submitted < count && queued->stopIndex.load() == INT_MAX; ++submitted) {
        libusb_transfer*& transfer = queued->pool[submitted];
        if (transfer == nullptr && (transfer = Api().allocTransfer(0)) == nullptr)
            break;
        queued->slots[submitted] = QueueSlot{queued, submitted};
        libusb_fill_bulk_transfer(transfer, queued->device, static_cast<unsigned char>(endpoint),
                                  reinterpret_cast<unsigned char*>(const_cast<char*>(bytes)) + submitted * size, size,
                                  OnQueuedTransferDone, &queued->slots[submitted],
                                  static_cast<unsigned int>(timeoutMs));
        queued->outstanding.fetch_add(1);
        const int error = Api().submitTransfer(transfer);
        if (error != 0) {
            queued->outstanding.fetch_sub(1);
            if (error == LIBUSB_ERROR_NO_DEVICE) {
                results[submitted] = -ENODEV;
                queued->stopIndex.store(std::min(queued->stopIndex.load(), submitted));
            }
            break; // the rest is the caller's to send one by one
        }
        queued->submitted.store(submitted + 1);
    }
    if (queued->outstanding.fetch_sub(1) == 1) {
        queued->finished.store(true);
        queued->done = 1;
    }
    // Wait for every submitted transfer: their buffers are the caller's.
    bool cancelled = false;
    while (!queued->finished.load()) {
        Api().handleEventsCompleted(queued->context, &queued->done);
        const int stop = queued->stopIndex.load();
        if (!cancelled && stop < submitted) {
            // Nothing more after a time-out or a vanished board.
            for (int later = stop + 1; later < submitted; ++later)
                Api().cancelTransfer(queued->pool[later]);
            cancelled = true;
        }
    }
    // What failed after the stop never counts as sent: the one-by-one path
    // would not have tried it.
    const int stop = queued->stopIndex.load();
    for (int later = stop < count ? stop + 1 : count; later < count; ++later) {
        if (results[later] < 0)
            results[later] = USB_NOT_SENT;
    }
    queued->results = nullptr;
    return submitted;
}

} // namespace TAVDll::libusb1
