// Shared fixture: a fresh virtual USB bus and a library in its load state for
// every test, plus expected records written straight from the wire layout.
#ifndef TAV_TESTS_BOARD_FIXTURE_H
#define TAV_TESTS_BOARD_FIXTURE_H

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <mutex>
#include <thread>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "TAVLib.h"
#include "tav/tav.h"
#include "virtual_board.h"
#include "virtual_usb.h"

using TAVDll::_INSTRUCTION_INFO_;

namespace tavtest {

// A 64-byte record as the wire layout tables describe it, independent of the
// library's builders.
struct Wire {
    std::array<uint8_t, 64> bytes{};

    Wire(uint8_t instructionClass, uint8_t operation)
    {
        bytes[0] = instructionClass;
        bytes[1] = operation;
    }
    Wire& U8(size_t offset, uint8_t value)
    {
        bytes.at(offset) = value;
        return *this;
    }
    Wire& U32(size_t offset, uint32_t value)
    {
        for (size_t k = 0; k < 4; ++k)
            bytes.at(offset + k) = static_cast<uint8_t>(value >> (8 * k));
        return *this;
    }
};

// Records by meaning, at the offsets of the layout tables.
Wire GpioInit(uint32_t port, uint32_t mask, uint8_t mode);
Wire GpioSet(uint32_t port, uint32_t mask);
Wire GpioReset(uint32_t port, uint32_t mask);
Wire Remap(uint8_t state);
Wire ClockGate(uint8_t operation, uint32_t mask, uint8_t state);
Wire TimeBase(uint32_t timer, uint32_t prescaler);
Wire OutputCompare(uint8_t unit, uint32_t timer, uint32_t pulse);
Wire TimValue(uint8_t operation, uint32_t timer, uint32_t value);
Wire BoardInit(uint32_t argument);
Wire InfoRequest();

std::array<uint8_t, 64> BytesOf(const _INSTRUCTION_INFO_& record);
// A record in words (decoded) with its bytes below.
std::string Describe(const uint8_t* bytes);
std::string Hex(const uint8_t* bytes);

// Compares record lists one by one and names the first difference in words.
::testing::AssertionResult SameRecords(const std::vector<_INSTRUCTION_INFO_>& actual,
                                       const std::vector<Wire>& expected);

// Resets the library's default board to what it is at load.
void ResetLibraryState();

// A fresh virtual bus with one board, installed for the process, and the
// library's default board reset; unless told otherwise also Initial(),
// Open() and RequestBoardInfo(), with the log and the device's write and read
// numbering cleared afterwards. One line per test or loop round:
//     tavtest::FreshBoard fresh('S');
struct FreshBoard {
    explicit FreshBoard(char modelLetter = 'T', std::vector<uint8_t> version = {1, 0, 0, 0}, bool open = true);
    ~FreshBoard();
    FreshBoard(const FreshBoard&) = delete;
    FreshBoard& operator=(const FreshBoard&) = delete;

    tavsim::VirtualUsb bus;
    tavsim::VirtualDevice& device;
};

// setenv and unsetenv where the C library has them, _putenv_s on Windows
// (where an empty value removes the variable).
void SetEnvironment(const char* name, const char* value);
void UnsetEnvironment(const char* name);

// Standard output / error of the library while fn runs.
std::string CaptureStdout(const std::function<void()>& action);
std::string CaptureStderr(const std::function<void()>& action);

// Waits (5 s at most) until items, guarded by mutex, has count entries; a copy.
template <typename Item>
std::vector<Item> WaitForCount(std::mutex& mutex, const std::vector<Item>& items, size_t count)
{
    for (int tries = 0; tries < 500; ++tries) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (items.size() >= count)
                return items;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard<std::mutex> lock(mutex);
    return items;
}

// A "reattach:" board's transitions, as its connection callback hears them
// on the board's own thread: tav_set_connection_callback(board,
// Transitions::Add, &transitions).
struct Transitions {
    std::mutex mutex;
    std::vector<int> seen;

    static void Add(tav_board*, int connected, void* user)
    {
        auto* transitions = static_cast<Transitions*>(user);
        std::lock_guard<std::mutex> lock(transitions->mutex);
        transitions->seen.push_back(connected);
    }
    std::vector<int> WaitFor(size_t count) { return WaitForCount(mutex, seen, count); }
    std::vector<int> Seen()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }
};

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A board (model letter, version) on bus 0, then Initial() and Open();
    // for any model other than 'T' also RequestBoardInfo(). The log is
    // cleared and the device's write and read numbering restarted
    // afterwards, so both cover only what the test does.
    tavsim::VirtualDevice& OpenBoard(char modelLetter = 'T', std::vector<uint8_t> version = {1, 0, 0, 0});

    std::vector<_INSTRUCTION_INFO_> Sent() const { return usb.DeliveredRecords(); }
    size_t WriteCount() const { return usb.CountCalls(tavsim::UsbCall::BulkWrite); }

    tavsim::VirtualUsb usb;
};

// BoardTest with the library's debug lines switched on (TAV_DEBUG=1), so
// that CaptureStderr sees them.
class DebugOutputTest : public BoardTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace tavtest

#endif
