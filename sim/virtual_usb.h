/*
 * virtual_usb.h - an in-memory USB bus that takes the place of libusb 0.1.
 *
 * Build a VirtualUsb, add busses and devices (each with a board behind it),
 * and every usb_* call libtav makes lands here: logged in order, with every
 * bulk transfer's endpoint, bytes, length and timeout. Faults are scripted per
 * device in one line: device.FailWrite(7), device.UnplugAtWrite(20),
 * device.FailRead(1, ReadFault::Timeout).
 *
 * A bus built with Install::AsDefault (the default) becomes the process's
 * USB backend (what the static TAVLib functions and tav_open's "usb:"
 * selectors go through) until it is destroyed, which puts the previous backend
 * back. A bus built with Install::No is reached only through its own Backend()
 * table, as the board of a "sim:" selector is. Every usb_* call on a bus is
 * serialised by the bus, so boards on one bus may be driven from several
 * threads; read the logs once those threads are done.
 */
#ifndef TAVSIM_VIRTUAL_USB_H
#define TAVSIM_VIRTUAL_USB_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TAVLib.h"
#include "usb/usb_backend.h"
#include "board_facts.h"

namespace tavsim {

using TAVDll::_INSTRUCTION_INFO_;

// What sits behind a virtual device's bulk pipes.
class UsbFunction {
public:
    virtual ~UsbFunction() = default;
    // One OUT transfer as it arrived (possibly short). A reply left in *reply
    // is queued on the IN endpoint.
    virtual void OnBulkOut(const uint8_t* bytes, size_t length, std::vector<uint8_t>* reply) = 0;
};

// libusb 0.1 reports errors as negative errno values.
constexpr int USB_ERROR_IO = -EIO;
constexpr int USB_ERROR_TIMEOUT = -ETIMEDOUT;
constexpr int USB_ERROR_NO_DEVICE = -ENODEV;
constexpr int USB_ERROR_INVALID = -EINVAL;
constexpr int USB_ERROR_BAD_HANDLE = -EBADF;

constexpr uint16_t TAV_VENDOR_ID = TAVDll::detail::BOARD_VENDOR_ID;
constexpr uint16_t TAV_PRODUCT_ID = TAVDll::detail::BOARD_PRODUCT_ID;
constexpr int TAV_ENDPOINT_OUT = TAVDll::detail::ENDPOINT_OUT;
constexpr int TAV_ENDPOINT_IN = TAVDll::detail::ENDPOINT_IN;

// QueueWrite is one bulkWriteQueue call (argument: the number of transfers);
// each transfer of the queue that reached the bus follows it as a BulkWrite.
enum class UsbCall { Init, FindBusses, FindDevices, GetBusses, Open, SetConfiguration, ClaimInterface, Close, BulkWrite, BulkRead, QueueWrite };

struct CallRecord {
    UsbCall call;
    struct usb_device* device;     // the device the call concerns, if any
    usb_dev_handle* handle; // the handle it was made on (or returned, for Open)
    int argument;           // configuration, interface, endpoint
    int result;
};

struct Transfer {
    struct usb_device* device;
    int endpoint;
    int length;                 // as asked
    int timeoutMs;
    int result;                 // bytes moved or a negative error
    std::vector<uint8_t> bytes; // OUT: what the caller handed over; IN: what was delivered
};

enum class WriteFault {
    Error,   // -EIO, nothing arrives
    Stall,   // 0 bytes moved (how libusb 0.1 reports a stalled bulk write)
    Short,   // only movedBytes arrive
    Timeout  // -ETIMEDOUT, nothing arrives
};

enum class ReadFault {
    Error,   // -EIO
    Short,   // only movedBytes of the reply are delivered
    Timeout  // -ETIMEDOUT
};

class VirtualUsb;
class VirtualBoard;

class VirtualDevice {
public:
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    struct usb_device* Device() { return &device_; }
    UsbFunction* Function() { return function_.get(); }
    // The board model behind a device added with AddBoard (throws
    // std::logic_error for any other device).
    VirtualBoard& Board();

    // Fault injection. Writes and reads are counted per device from 1.
    VirtualDevice& FailOpen(bool fail = true);
    VirtualDevice& FailSetConfiguration(bool fail = true);
    VirtualDevice& FailClaim(bool fail = true);
    VirtualDevice& FailWrite(int writeNumber, WriteFault fault = WriteFault::Error, int movedBytes = 0);
    VirtualDevice& FailRead(int readNumber, ReadFault fault = ReadFault::Timeout, int movedBytes = 0);
    VirtualDevice& UnplugAtWrite(int writeNumber); // that write and everything after it fails
    // A queue of transfers (bulkWriteQueue) stops before that write: the
    // rest of that queue never reaches the bus. Once.
    VirtualDevice& HaltQueueAtWrite(int writeNumber);
    VirtualDevice& DropReplies(bool drop = true);  // the board never answers

    void Unplug(); // gone at once; off the bus list at the next enumeration
    void Plug();   // back (its write count starts again); listed at the next enumeration
    bool Plugged() const { return plugged_; }
    // Where it is plugged in, as sysfs names it ("1-3.2"): by default its
    // bus number and place on the bus ("1-1" for the first device of bus 1).
    const std::string& PortPath() const { return portPath_; }
    VirtualDevice& SetPortPath(std::string portPath)
    {
        portPath_ = std::move(portPath);
        return *this;
    }

    void QueueReply(const std::vector<uint8_t>& reply) { replies_.push_back(reply); }

    // Starts the write and read numbering again from 1 (faults stay).
    void ResetCounters()
    {
        writeCount_ = 0;
        readCount_ = 0;
    }
    int WriteCount() const { return writeCount_; }
    int Configuration() const { return configuration_; }
    bool InterfaceClaimed() const { return claimedBy_ != nullptr; }

private:
    friend class VirtualUsb;
    struct ScriptedWriteFault {
        int number;
        WriteFault fault;
        int movedBytes;
    };
    struct ScriptedReadFault {
        int number;
        ReadFault fault;
        int movedBytes;
    };

    VirtualDevice(usb_bus* bus, uint16_t vendorId, uint16_t productId, uint8_t deviceNumber,
                  std::unique_ptr<UsbFunction> function);
    const ScriptedWriteFault* WriteFaultAt(int number) const;
    const ScriptedReadFault* ReadFaultAt(int number) const;

    struct usb_device device_{};
    usb_config_descriptor config_{};
    usb_interface interface_{};
    usb_interface_descriptor altsetting_{};
    usb_endpoint_descriptor endpoints_[2]{};
    std::unique_ptr<UsbFunction> function_;
    std::deque<std::vector<uint8_t>> replies_;
    std::vector<ScriptedWriteFault> writeFaults_;
    std::vector<ScriptedReadFault> readFaults_;
    bool failOpen_ = false;
    bool failSetConfiguration_ = false;
    bool failClaim_ = false;
    bool dropReplies_ = false;
    bool plugged_ = true;
    int plugCount_ = 0; // a handle lives only as long as the plug it was opened on
    std::string portPath_;
    int pendingNumber_ = 0;        // a replug's device number, from the next enumeration on
    std::string pendingPortPath_;  // and its port
    int unplugAtWrite_ = 0;
    int haltQueueAtWrite_ = 0;
    int writeCount_ = 0;
    int readCount_ = 0;
    int configuration_ = 0;
    const void* claimedBy_ = nullptr; // the handle holding interface 0
};

class VirtualUsb {
public:
    enum class Install { AsDefault, No };
    explicit VirtualUsb(Install install = Install::AsDefault);
    ~VirtualUsb();
    VirtualUsb(const VirtualUsb&) = delete;
    VirtualUsb& operator=(const VirtualUsb&) = delete;

    // Busses are numbered from 0 in list order.
    int AddBus();
    // A device on bus busIndex (created with the busses before it if needed),
    // appended to that bus's device list.
    VirtualDevice& AddDevice(int busIndex, uint16_t vendorId, uint16_t productId,
                             std::unique_ptr<UsbFunction> function);
    // A TAV board (4C52:0101) of the given model and firmware version.
    VirtualDevice& AddBoard(char modelLetter = 'T', std::vector<uint8_t> version = {1, 0, 0, 0}, int busIndex = 0);

    VirtualDevice& DeviceAt(size_t index) { return *devices_.at(index); }
    // Unplugs the device if it is plugged and plugs it in again, as a
    // replug does: under the bus's next device number, on portPath (null:
    // the port it had), a board behind it as at power-on (Board() is a new
    // one). Listed at the next enumeration.
    void Replug(VirtualDevice& device, const char* portPath = nullptr);
    // device.Unplug() under the bus's lock, for a bus other threads use.
    void Unplug(VirtualDevice& device);
    // An unplugged device plugged in again on its port, under the bus's next
    // device number, its board powered anew in place (the same Board(), its
    // history going on). False when it was plugged.
    bool PlugBack(VirtualDevice& device);
    bool IsPlugged(const VirtualDevice& device) const;
    // Under the bus's lock, counted from the writes so far: the
    // writesFromNow-th write from now (1: the next) fails, or unplugs the
    // device (the earliest such write wins).
    void FailWriteFromNow(VirtualDevice& device, int writesFromNow, WriteFault fault, int movedBytes = 0);
    void UnplugFromNow(VirtualDevice& device, int writesFromNow);
    size_t DeviceCount() const { return devices_.size(); }
    VirtualDevice* Find(struct usb_device* device);

    // The log. Logging can be switched off for benchmarks.
    const std::vector<CallRecord>& Calls() const { return calls_; }
    const std::vector<Transfer>& Transfers() const { return transfers_; }
    std::vector<Transfer> TransfersTo(int endpoint) const;
    // Every OUT transfer to 0x02 that moved a whole 64-byte record, in order.
    std::vector<_INSTRUCTION_INFO_> DeliveredRecords() const;
    size_t CountCalls(UsbCall call) const;
    void ClearLog();
    void SetLogging(bool enabled) { logging_ = enabled; }

    int OpenHandleCount() const;

    // The backend table of this bus (its context is the bus).
    const TAVDll::UsbBackend& Backend() const { return backend_; }

private:
    struct Handle {
        VirtualDevice* device;
        bool open;
        int plugCount;
    };
    struct Bus {
        usb_bus bus{};
        std::vector<VirtualDevice*> devices; // every device ever added, in list order
        bool listed = false;
        int nextDeviceNumber = 2; // 1 is the root hub
    };

    static TAVDll::UsbBackend MakeBackend(VirtualUsb* bus);
    Handle* FromHandle(usb_dev_handle* handle);
    void NumberAnew(VirtualDevice& device);
    void Log(UsbCall call, struct usb_device* device, usb_dev_handle* handle, int argument, int result);
    void LogTransfer(VirtualDevice* device, int endpoint, const void* bytes, int length, int timeoutMs,
                     int result);

    // The usb_* calls, for the backend table.
    void Init();
    int FindBusses();
    int FindDevices();
    usb_bus* GetBusses();
    usb_dev_handle* Open(struct usb_device* device);
    int SetConfiguration(usb_dev_handle* handle, int configuration);
    int ClaimInterface(usb_dev_handle* handle, int interfaceNumber);
    int Close(usb_dev_handle* handle);
    int BulkWrite(usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeoutMs);
    int BulkRead(usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeoutMs);
    int QueueWrite(usb_dev_handle* handle, int endpoint, const char* bytes, int size, int count, int timeoutMs,
                   int* results);
    int CheckHandle(Handle* handle, bool needsInterface);

    std::vector<std::unique_ptr<Bus>> busses_;
    std::vector<std::unique_ptr<VirtualDevice>> devices_;
    std::vector<std::unique_ptr<Handle>> handles_;
    std::vector<CallRecord> calls_;
    std::vector<Transfer> transfers_;
    usb_bus* busList_ = nullptr;
    bool logging_ = true;
    bool installed_;
    TAVDll::UsbBackend backend_;
    const TAVDll::UsbBackend* previousBackend_ = nullptr;
    mutable std::recursive_mutex mutex_; // held by every usb_* call
};

} // namespace tavsim

#endif
