// An emulated USB bus for the real libusb 0.1 path: umockdev provides the
// device files and the usbfs ioctls, and this process answers them with the
// same board model that sits behind the virtual bus.
#ifndef TAV_TESTS_EMULATED_USB_H
#define TAV_TESTS_EMULATED_USB_H

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "virtual_board.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace tavtest {

// One bulk URB as the board saw it.
struct UrbRecord {
    int endpoint;
    int length;
    int actualLength;
    int status;
    std::vector<uint8_t> bytes; // OUT: what arrived; IN: what was answered
    long frame;                 // the bus frame that carried it (see FRAME_PACKETS)
};

// A full-speed bus carries at most 19 bulk packets of 64 bytes in one 1 ms
// frame. The board keeps a frame clock of its own, counted, not timed: a URB
// submitted while earlier ones are still pending (not yet reaped by the
// host) joins the last frame while it has room, and one submitted when none
// is pending waits for the next frame. A host that queues its transfers
// uses about ceil(packets / 19) frames; one that waits for each transfer
// before the next uses one frame per packet.
constexpr int FRAME_PACKETS = 19;

class EmulatedBoard {
public:
    EmulatedBoard(int deviceNumber, char modelLetter, std::vector<uint8_t> version);
    ~EmulatedBoard() { SetClaimOwner(nullptr); }

    // Fault modes; transfers are counted from 1 over both endpoints.
    void StallWrite(int transfer);               // the URB completes with -EPIPE, 0 bytes
    void ShortWrite(int transfer, int bytes);    // only that many bytes arrive
    void DropReplies(bool drop = true);          // IN URBs never complete
    // A link between host and board with this round trip (a remote board
    // over USB/IP): a URB can be reaped only that long after it was
    // submitted. Zero: at once.
    void SetRoundTrip(std::chrono::microseconds roundTrip);
    void HangFromTransfer(int transfer);         // that OUT URB and all later ones never complete
    // That OUT URB is not taken until it is discarded (libusb's time-out).
    // laterWait: the OUT URBs after it wait behind it, as on one bulk
    // endpoint, and are taken as they are reaped once it is gone (a board
    // that resumes taking data); otherwise they are taken as usual.
    void HangTransfer(int transfer, bool laterWait);
    void UnplugFromTransfer(int transfer);       // that transfer and all later ones: -ENODEV
    void Unplug(); // URBs in flight end with -ESHUTDOWN, as the kernel kills them
    void Plug();

    // What the board saw. Safe to call while no libusb call is running.
    tavsim::VirtualBoard& Board() { return board_; }
    std::vector<UrbRecord> Urbs();
    int Configuration();
    std::vector<int> ClaimedInterfaces();
    int OpenFiles(); // this process's open files on the device node
    void ClearLog();

    const std::string& DevicePath() const { return devicePath_; }
    // Its sysfs device, /sys/devices/pci0000:00/usb1/1-PORT.
    const std::string& SysfsPath() const { return sysfsPath_; }
    int DeviceNumber() const { return deviceNumber_; }

private:
    friend class EmulatedBus;
    bool HandleIoctl(UMockdevIoctlClient* client);
    void SetClaimOwner(UMockdevIoctlClient* client);
    bool Unplugged(int transfer) const;
    // An OUT URB's bytes reach the board model (or a fault) now.
    void TakeOut(UMockdevIoctlData* urbData, UrbRecord& record, int transfer);

    std::mutex mutex_;
    std::chrono::microseconds roundTrip_{0};
    std::map<const void*, std::chrono::steady_clock::time_point> readyAt_; // URBs of a slow link
    int deviceNumber_;
    std::string sysfsPath_;
    std::string devicePath_;
    tavsim::VirtualBoard board_;
    std::vector<std::vector<uint8_t>> replies_;
    std::vector<UMockdevIoctlData*> completed_; // reapable, in order
    std::vector<UMockdevIoctlData*> flying_;    // submitted, not complete
    std::vector<UrbRecord> urbs_;
    std::vector<int> claimed_;
    // The open file that holds interface 0: another file's claim is refused
    // (EBUSY), as the kernel refuses it, until that one releases or closes.
    UMockdevIoctlClient* claimOwner_ = nullptr;
    int configuration_ = 0;
    int transferCount_ = 0;
    long frame_ = 0;      // the frame being filled
    int inFrame_ = 0;     // packets in it
    int pendingUrbs_ = 0; // submitted and not yet reaped
    int stallAt_ = 0;
    int shortAt_ = 0;
    int shortBytes_ = 0;
    int unplugFrom_ = 0;
    int hangFrom_ = 0;
    int hangOne_ = 0;
    bool laterWait_ = false;
    bool outBlocked_ = false; // the hung URB holds the OUT endpoint
    const UMockdevIoctlData* hungUrb_ = nullptr;
    struct WaitingUrb {
        UMockdevIoctlData* urb; // also in flying_
        int transfer;
        size_t logIndex; // its row in urbs_
    };
    std::vector<WaitingUrb> waiting_; // OUT URBs behind the hung one, in order
    bool unplugged_ = false;
    bool dropReplies_ = false;
    UMockdevIoctlBase* handler_ = nullptr;
};

class EmulatedBus {
public:
    EmulatedBus();
    ~EmulatedBus();
    EmulatedBus(const EmulatedBus&) = delete;
    EmulatedBus& operator=(const EmulatedBus&) = delete;

    // A TAV board at /dev/bus/usb/001/NNN. Add boards before Initial().
    EmulatedBoard& AddBoard(int deviceNumber, char modelLetter = 'T', std::vector<uint8_t> version = {1, 0, 0, 0},
                            int port = 0);

    // The kernel's uevent for that board ("add" or "remove").
    void Announce(const EmulatedBoard& board, const char* action);

private:
    UMockdevTestbed* testbed_;
    std::vector<std::unique_ptr<EmulatedBoard>> boards_;
};

// True when the process runs with umockdev's preload library.
bool InMockEnvironment();

} // namespace tavtest

#endif
