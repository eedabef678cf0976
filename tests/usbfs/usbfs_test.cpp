// The library through Debian's libusb 0.1 and the kernel's usbfs interface,
// emulated by umockdev: device files, descriptors and ioctls, with the board
// model answering the URBs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "board_fixture.h"
#include "model/board_view.h"
#include "emulated_usb.h"
#include "link/board_link.h"
#include "tav/board.hpp"
#include "virtual_usb.h"

using TAVDll::TAVLib;
using tavmodel::PinFunction;
using tavtest::EmulatedBoard;
using tavtest::EmulatedBus;

namespace {

class Usbfs : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!tavtest::InMockEnvironment())
            GTEST_SKIP() << "needs umockdev's preload library (run under umockdev-wrapper)";
        tavtest::ResetLibraryState();
        bus = std::make_unique<EmulatedBus>();
    }

    void TearDown() override
    {
        TAVDll::detail::ReleaseDevice(TAVDll::detail::DefaultLink());
        tavtest::ResetLibraryState();
        bus.reset();
    }

    // Every OUT URB the board received whole, as records.
    static std::vector<_INSTRUCTION_INFO_> Records(EmulatedBoard& board)
    {
        std::vector<_INSTRUCTION_INFO_> records;
        for (const tavtest::UrbRecord& urb : board.Urbs()) {
            if (urb.endpoint != 0x02 || urb.actualLength != 64)
                continue;
            _INSTRUCTION_INFO_ record;
            std::memcpy(&record, urb.bytes.data(), sizeof record);
            records.push_back(record);
        }
        return records;
    }

    std::unique_ptr<EmulatedBus> bus;
};

TEST_F(Usbfs, InitialAndOpenSetConfigurationOneAndClaimInterfaceZero)
{
    EmulatedBoard& board = bus->AddBoard(2);
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    EXPECT_EQ(board.Configuration(), 1);
    EXPECT_EQ(board.ClaimedInterfaces(), std::vector<int>{0});
    EXPECT_TRUE(board.OpenFiles() == 1); // enumeration closed its own
}

TEST_F(Usbfs, InitTavArrivesWholeAndInOrder)
{
    EmulatedBoard& board = bus->AddBoard(2);
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    ASSERT_EQ(TAVLib::InitTav(258), 0);
    const auto urbs = board.Urbs();
    ASSERT_EQ(urbs.size(), 61u);
    for (const tavtest::UrbRecord& urb : urbs) {
        EXPECT_EQ(urb.endpoint, 0x02);
        EXPECT_EQ(urb.length, 64);
        EXPECT_EQ(urb.actualLength, 64);
    }
    EXPECT_TRUE(board.Board().Rejected().empty());

    // The same records, in the same order, as on the virtual bus.
    const std::vector<_INSTRUCTION_INFO_> overUsbfs = Records(board);
    TAVDll::detail::ReleaseDevice(TAVDll::detail::DefaultLink());
    tavtest::ResetLibraryState();
    std::vector<_INSTRUCTION_INFO_> overVirtualBus;
    {
        tavtest::FreshBoard fresh;
        ASSERT_EQ(TAVLib::InitTav(258), 0);
        overVirtualBus = fresh.bus.DeliveredRecords();
    }
    ASSERT_EQ(overUsbfs.size(), overVirtualBus.size());
    for (size_t index = 0; index < overUsbfs.size(); ++index)
        EXPECT_EQ(tavtest::BytesOf(overUsbfs[index]), tavtest::BytesOf(overVirtualBus[index])) << index;
}

TEST_F(Usbfs, BoardInformationRoundTrip)
{
    EmulatedBoard& board = bus->AddBoard(2, 'S', {1, 0, 2, 13});
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    ASSERT_EQ(TAVLib::RequestBoardInfo(), 0);
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_S);
    char version[16];
    TAVLib::GetVersion(version, sizeof version);
    EXPECT_STREQ(version, "1.0.2.13");
    const auto urbs = board.Urbs();
    ASSERT_EQ(urbs.size(), 2u);
    EXPECT_EQ(urbs[0].endpoint, 0x02);
    EXPECT_EQ(urbs[1].endpoint, 0x83);
    EXPECT_EQ(urbs[1].length, 64);
}

TEST_F(Usbfs, PinsAndPwmReachTheBoard)
{
    EmulatedBoard& board = bus->AddBoard(2);
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    ASSERT_EQ(TAVLib::InitTav(0), 0);
    ASSERT_EQ(TAVLib::Pin_DirOutput(TAVDll::PIN_BANK_4 | 0x30), 0);
    ASSERT_EQ(TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 0x10), 0);
    unsigned int max = 0;
    ASSERT_EQ(TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV2, 100, 200, 300, 400, &max), 0);
    tavsim::VirtualBoard& model = board.Board();
    EXPECT_EQ(tavmodel::BoardView(model).McuPin(1, 4).function, PinFunction::OutputHigh);
    EXPECT_EQ(tavmodel::BoardView(model).McuPin(1, 5).function, PinFunction::OutputLow);
    EXPECT_EQ(tavmodel::BoardView(model).McuPin(0, 3).Describe(), "PWM TIM2 CH4, 1000 Hz, duty 400/36000 (1.11%)");
}

TEST_F(Usbfs, CloseUndoesTheRemapFloatsEverythingAndClosesTheFile)
{
    EmulatedBoard& board = bus->AddBoard(2);
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    ASSERT_EQ(TAVLib::InitTav(0), 0);
    ASSERT_EQ(TAVLib::Pin_DirOutput(TAVDll::PIN_BANK_8 | 0x1), 0);
    board.ClearLog();
    EXPECT_EQ(TAVLib::Close(), 0);
    const auto records = Records(board);
    ASSERT_EQ(records.size(), 60u);
    EXPECT_EQ(tavtest::BytesOf(records[0]), tavtest::Remap(0).bytes);
    EXPECT_EQ(board.Board().State().debugPort, tavmodel::DebugPort::FullSwj);
    for (const tavmodel::BoardPinRow& row : tavmodel::BoardView(board.Board()).Rows())
        EXPECT_TRUE(row.status.function == PinFunction::FloatingInput || row.status.function == PinFunction::DebugPort)
            << row.name;
    EXPECT_EQ(board.OpenFiles(), 0);
    EXPECT_EQ(TAVLib::Open(static_cast<struct usb_device*>(nullptr)), nullptr);
}

TEST_F(Usbfs, OfTwoBoardsWithTheSameIdentifiersTheFirstListedIsOpened)
{
    EmulatedBoard& first = bus->AddBoard(2, 'T', {1, 0, 0, 2});
    EmulatedBoard& second = bus->AddBoard(3, 'T', {1, 0, 0, 3});
    TAVLib::Initial();
    usb_bus* busList = usb_get_busses();
    ASSERT_NE(busList, nullptr);
    ASSERT_NE(busList->devices, nullptr);
    ASSERT_NE(busList->devices->next, nullptr);
    const std::string firstListed = busList->devices->filename;
    ASSERT_NE(TAVLib::Open(), nullptr);
    EmulatedBoard& opened = firstListed == "002" ? first : second;
    EmulatedBoard& other = firstListed == "002" ? second : first;
    EXPECT_EQ(opened.ClaimedInterfaces(), std::vector<int>{0});
    EXPECT_TRUE(other.ClaimedInterfaces().empty());
    EXPECT_EQ(other.Configuration(), 0);
}

TEST_F(Usbfs, StalledWriteIsAFailedTransfer)
{
    EmulatedBoard& board = bus->AddBoard(2);
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    board.StallWrite(2);
    EXPECT_EQ(TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 0x7), TAVDll::RESULT_IO_FAILED);
    EXPECT_EQ(board.Urbs().size(), 3u);
    EXPECT_EQ(Records(board).size(), 2u);
    unsigned long written = 99;
    uint8_t data[64] = {};
    board.StallWrite(4);
    EXPECT_EQ(TAVLib::WritePipe(data, sizeof data, &written), TAVDll::RESULT_NOT_OPEN);
    EXPECT_EQ(written, 0u);
}

TEST_F(Usbfs, ShortWriteIsAFailedTransfer)
{
    EmulatedBoard& board = bus->AddBoard(2);
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    board.ShortWrite(1, 10);
    unsigned int max = 0;
    EXPECT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, &max), TAVDll::RESULT_IO_FAILED);
    EXPECT_EQ(board.Urbs().size(), 14u);
    ASSERT_EQ(board.Board().Rejected().size(), 1u);
    EXPECT_EQ(board.Board().Rejected()[0].reason, "record of 10 bytes (a record is 64)");
}

TEST_F(Usbfs, DroppedReplyTimesOutAfterTheTransferTimeout)
{
    EmulatedBoard& board = bus->AddBoard(2, 'S');
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    board.DropReplies();
    int result = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::string out = tavtest::CaptureStdout([&] { result = TAVLib::RequestBoardInfo(); });
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, TAVDll::RESULT_IO_FAILED);
    EXPECT_EQ(out, "error: bulk read failed\n");
    // libusb waited for the 5000 ms the library passed it.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 4900);
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_T);

    // The board still works afterwards.
    board.DropReplies(false);
    EXPECT_EQ(TAVLib::RequestBoardInfo(), 0);
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_S);
}

TEST_F(Usbfs, UnpluggedHalfWayThenPluggedBackIn)
{
    EmulatedBoard& board = bus->AddBoard(2);
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    board.UnplugFromTransfer(10);
    EXPECT_EQ(TAVLib::InitTav(0), TAVDll::RESULT_IO_FAILED);
    EXPECT_EQ(Records(board).size(), 9u);
    EXPECT_EQ(TAVLib::Close(), 0);
    EXPECT_EQ(board.OpenFiles(), 0);

    // Still unplugged: the board cannot be configured, so Open fails cleanly
    // and closes what it opened.
    board.Unplug();
    TAVLib::Initial();
    EXPECT_EQ(TAVLib::Open(), nullptr);
    EXPECT_EQ(board.OpenFiles(), 0);

    board.Plug();
    board.ClearLog();
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    EXPECT_EQ(TAVLib::InitTav(0), 0);
    EXPECT_EQ(Records(board).size(), 61u);
}

} // namespace

namespace {

TEST_F(Usbfs, ABoardThatStopsTakingDataCostsOneTimeoutPerCall)
{
    EmulatedBoard& board = bus->AddBoard(2);
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    board.ClearLog();
    board.HangFromTransfer(3);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(TAVLib::InitTav(0), TAVDll::RESULT_IO_FAILED);
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(board.Urbs().size(), 3u); // two records, then the one that never completed
    EXPECT_LT(waited, std::chrono::seconds(9)); // one 5 s time-out, not 59 of them
    // The handle stays: a hung board may come back, and Close still lets it go.
    EXPECT_EQ(board.OpenFiles(), 1);
    EXPECT_EQ(TAVLib::Close(), 0);
    EXPECT_EQ(board.OpenFiles(), 0);
}

TEST_F(Usbfs, ABoardUnpluggedMidInitTavIsLetGoUntilInitialAndOpen)
{
    EmulatedBoard& board = bus->AddBoard(2);
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    board.ClearLog();
    board.UnplugFromTransfer(20);
    EXPECT_EQ(TAVLib::InitTav(0), TAVDll::RESULT_IO_FAILED);
    EXPECT_EQ(Records(board).size(), 19u);
    EXPECT_EQ(board.Urbs().size(), 19u); // nothing tried after the board was found gone
    EXPECT_EQ(board.OpenFiles(), 0);      // and the handle is closed at once
    EXPECT_EQ(TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 1), TAVDll::RESULT_NOT_OPEN);
    board.Unplug(); // its device file is gone too
    EXPECT_EQ(TAVLib::Open(), nullptr); // no dead handle handed back

    board.Plug();
    board.ClearLog();
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    EXPECT_EQ(TAVLib::InitTav(0), TAVDll::RESULT_OK);
    EXPECT_EQ(Records(board).size(), 61u);
}

} // namespace

// libusb-1.0's hotplug event ends the watcher's pause once, not for good.
TEST_F(Usbfs, AHotplugEventEndsOnePause)
{
    TAVDll::UsbHotplug* hotplug = TAVDll::OpenUsbHotplug();
    ASSERT_NE(hotplug, nullptr);
    EmulatedBoard& board = bus->AddBoard(2);
    bus->Announce(board, "add");
    EXPECT_TRUE(TAVDll::WaitUsbHotplug(hotplug, 2000));
    EXPECT_FALSE(TAVDll::WaitUsbHotplug(hotplug, 50));
    TAVDll::CloseUsbHotplug(hotplug);
}

namespace {

// Watching the real libusb path: the boards already there, each with its
// port path from sysfs, and nothing opened. (A board taken off the bus
// reaches libusb 0.1's list through libusb-1.0's hotplug thread: removal
// and replugs are checked on the virtual bus and under wine.)
TEST_F(Usbfs, WatchingSeesTheBoardsThereWithTheirPortsAndOpensNothing)
{
    EmulatedBoard& board = bus->AddBoard(2, 'T');
    bus->AddBoard(4, 'S', {1, 0, 0, 0}, 3);
    struct Seen {
        std::mutex mutex;
        std::vector<std::string> lines;
    } seen;
    tav_watcher* watcher = nullptr;
    ASSERT_EQ(tav_watch(
                  [](const tav_event* event, void* user) {
                      auto* state = static_cast<Seen*>(user);
                      std::lock_guard<std::mutex> lock(state->mutex);
                      state->lines.push_back(std::string(event->initial ? "there " : "new ") + event->device->selector
                                             + " " + event->device->port);
                  },
                  &seen, 10, &watcher),
              TAV_OK);
    std::vector<std::string> lines;
    for (int tries = 0; tries < 500 && lines.size() < 2; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard<std::mutex> lock(seen.mutex);
        lines = seen.lines;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    tav_unwatch(watcher);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"there usb:001:002 1-2", "there usb:001:004 1-3"}));
    EXPECT_EQ(seen.lines.size(), 2u);
    EXPECT_EQ(board.OpenFiles(), 0);
}

// The same board through both real USB backends: libusb 0.1 one transfer at
// a time ("sync:usb:") and libusb-1.0 with queued transfers, a board
// object's default ("usb:"). The
// board receives the same records and ends in the same state; only the
// frames they take differ.
class UsbfsBackends : public Usbfs, public ::testing::WithParamInterface<const char*> {
protected:
    // The selector of the board at device 2 (or another one) on bus 1.
    std::string Selector(int device = 2) const { return std::string(GetParam()) + "1:" + std::to_string(device); }
    bool Queued() const { return std::string(GetParam()) != "sync:usb:"; }

    // That board opened through the backend, its log cleared.
    tav::Board Open(EmulatedBoard& board)
    {
        tav::Board opened;
        EXPECT_EQ(opened.open(Selector(board.DeviceNumber())), TAV_OK);
        board.ClearLog();
        return opened;
    }

    // The frames the board's clock counted for its OUT transfers.
    static long FramesUsed(EmulatedBoard& board)
    {
        long first = -1;
        long last = -1;
        for (const tavtest::UrbRecord& urb : board.Urbs()) {
            if (urb.endpoint != 0x02)
                continue;
            if (first < 0)
                first = urb.frame;
            last = urb.frame;
        }
        return first < 0 ? 0 : last - first + 1;
    }
};

TEST_P(UsbfsBackends, InitTavArrivesWholeInOrderQueuedInFrames)
{
    EmulatedBoard& board = bus->AddBoard(2);
    tav::Board opened = Open(board);
    ASSERT_TRUE(opened.isOpen());
    ASSERT_EQ(opened.init(258), TAV_OK);
    const std::vector<_INSTRUCTION_INFO_> records = Records(board);
    ASSERT_EQ(board.Urbs().size(), 61u);
    ASSERT_EQ(records.size(), 61u);
    EXPECT_EQ(tavtest::BytesOf(records[0]), tavtest::Remap(1).bytes);
    EXPECT_EQ(tavtest::BytesOf(records[60]), tavtest::BoardInit(258).bytes);
    EXPECT_TRUE(board.Board().Rejected().empty());
    // 19 packets fit in a frame: 4 frames queued, one per record otherwise.
    EXPECT_EQ(FramesUsed(board), Queued() ? 4 : 61);

    board.ClearLog();
    ASSERT_EQ(opened.pinOutput(TAVDll::PIN_BANK_4 | 0x30), TAV_OK);
    ASSERT_EQ(opened.pinSet(TAVDll::PIN_BANK_4 | 0x10), TAV_OK);
    ASSERT_EQ(opened.pwmStart('B', 2, {100, 200, 300, 400}), TAV_OK);
    EXPECT_EQ(tavmodel::BoardView(board.Board()).McuPin(1, 4).function, PinFunction::OutputHigh);
    EXPECT_EQ(tavmodel::BoardView(board.Board()).McuPin(1, 5).function, PinFunction::OutputLow);
    EXPECT_EQ(tavmodel::BoardView(board.Board()).McuPin(0, 3).Describe(), "PWM TIM2 CH4, 1000 Hz, duty 400/36000 (1.11%)");
    opened.close();
    EXPECT_EQ(board.OpenFiles(), 0);
}

TEST_P(UsbfsBackends, StalledAndShortWritesFailTheirRecordAndTheRestGoesOn)
{
    EmulatedBoard& board = bus->AddBoard(2);
    tav::Board opened = Open(board);
    ASSERT_TRUE(opened.isOpen());
    board.StallWrite(4); // the open took two transfers
    board.ShortWrite(7, 10);
    // Each record's result as the USB library gave it: a stall moved 0
    // bytes (not an I/O error), the short write its 10, one by one and queued.
    static std::vector<int> results;
    results.clear();
    ASSERT_EQ(tav_set_record_callback(
                  opened.handle(), [](void*, const uint8_t*, int, int result) { results.push_back(result); }, nullptr),
              TAV_OK);
    EXPECT_EQ(opened.pinOutput(TAVDll::PIN_BANK_4 | 0x3F), TAV_IO_FAILED);
    EXPECT_EQ(results, (std::vector<int>{64, 0, 64, 64, 10, 64}));
    EXPECT_EQ(board.Urbs().size(), 6u);
    EXPECT_EQ(Records(board).size(), 4u);
    ASSERT_EQ(board.Board().Rejected().size(), 1u);
    EXPECT_EQ(tavmodel::BoardView(board.Board()).Pin(TAVDll::PIN_BANK_4 | 0x20).function, PinFunction::OutputLow);
    EXPECT_EQ(opened.pinSet(TAVDll::PIN_BANK_4 | 0x20), TAV_OK); // the board is still held
}

// The library's warnings while an action runs.
std::vector<std::string> WarningsOf(const std::function<void()>& action)
{
    static std::mutex mutex;
    static std::vector<std::string>* heard = nullptr;
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(mutex);
        heard = &lines;
    }
    tav_set_log_callback(
        [](int level, const char* text, void*) {
            std::lock_guard<std::mutex> lock(mutex);
            if (level == TAV_LOG_WARNING && heard != nullptr)
                heard->push_back(text);
        },
        nullptr);
    action();
    tav_set_log_callback(nullptr, nullptr);
    std::lock_guard<std::mutex> lock(mutex);
    heard = nullptr;
    return lines;
}

TEST_P(UsbfsBackends, ATimeOutEndsTheOperationAfterOneTimeOut)
{
    EmulatedBoard& board = bus->AddBoard(2);
    tav::Board opened = Open(board);
    ASSERT_TRUE(opened.isOpen());
    board.HangFromTransfer(5);
    const auto started = std::chrono::steady_clock::now();
    // A time-out is a time-out on both paths (the queued transfers' and the
    // one transfer's), never a mere failed transfer: said once, it stops.
    std::vector<std::string> warnings = WarningsOf([&] { EXPECT_EQ(opened.init(0), TAV_IO_FAILED); });
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(9));
    ASSERT_EQ(warnings.size(), 1u) << warnings.back();
    EXPECT_NE(warnings[0].find("; nothing more is sent in this operation"), std::string::npos) << warnings[0];
    // Two records arrived; the queue had submitted the rest, which never did.
    EXPECT_EQ(Records(board).size(), 2u);
    EXPECT_EQ(board.Urbs().size(), Queued() ? 61u : 3u);
    warnings = WarningsOf([&] { EXPECT_EQ(opened.pinSet(TAVDll::PIN_BANK_4 | 1), TAV_IO_FAILED); });
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("; nothing more is sent in this operation"), std::string::npos) << warnings[0];
    EXPECT_EQ(board.OpenFiles(), 1); // a hung board may come back
    opened.close();
    EXPECT_EQ(board.OpenFiles(), 0);
}

// A board that stops taking data for one transfer and then takes it again:
// after the time-out, nothing more of that operation reaches it (the
// transfers queued behind are cancelled), and the next operation does.
TEST_P(UsbfsBackends, AfterATimeOutTheRestOfTheOperationNeverArrives)
{
    EmulatedBoard& board = bus->AddBoard(2);
    tav::Board opened = Open(board);
    ASSERT_TRUE(opened.isOpen());
    board.HangTransfer(5, true);
    EXPECT_EQ(opened.init(0), TAV_IO_FAILED);
    EXPECT_EQ(Records(board).size(), 2u);
    board.ClearLog();
    EXPECT_EQ(opened.pinOutput(TAVDll::PIN_BANK_4 | 0x100), TAV_OK);
    EXPECT_EQ(Records(board).size(), 1u);
}

// Records that reached the board after the one that timed out count as
// arrived: the board object's commanded state and callback hear of them.
TEST_P(UsbfsBackends, RecordsThatArrivedAfterATimeOutCountAsArrived)
{
    if (!Queued())
        GTEST_SKIP() << "one by one, nothing is sent after a time-out";
    EmulatedBoard& board = bus->AddBoard(2);
    tav::Board opened = Open(board);
    ASSERT_TRUE(opened.isOpen());
    board.HangTransfer(5, false); // the others are taken as usual
    std::atomic<int> arrived{0};
    ASSERT_EQ(tav_set_record_callback(
                  opened.handle(),
                  [](void* user, const uint8_t*, int length, int result) {
                      if (result == length)
                          ++*static_cast<std::atomic<int>*>(user);
                  },
                  &arrived),
              TAV_OK);
    EXPECT_EQ(opened.init(0), TAV_IO_FAILED);
    EXPECT_EQ(Records(board).size(), 60u);
    EXPECT_EQ(arrived.load(), 60);
    tav_pin_state state{};
    ASSERT_EQ(tav_pin_state_get(opened.handle(), TAVDll::PIN_BANK_4 | 0x100, &state), TAV_OK);
    EXPECT_TRUE(state.known); // init's last records floated P4.8
    EXPECT_EQ(state.function, TAV_PIN_FLOATING_INPUT);
}

// Unplugged while its transfers are in flight: one warning, the board let
// go, nothing more tried.
TEST_P(UsbfsBackends, UnpluggedWithTransfersInFlight)
{
    if (!Queued())
        GTEST_SKIP() << "one by one, no transfer waits in flight";
    EmulatedBoard& board = bus->AddBoard(2);
    tav::Board opened = Open(board);
    ASSERT_TRUE(opened.isOpen());
    board.HangFromTransfer(5);
    const std::vector<std::string> warnings = WarningsOf([&] {
        std::thread unplug([&] {
            while (board.Urbs().size() < 61)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            board.Unplug();
        });
        EXPECT_EQ(opened.init(0), TAV_IO_FAILED);
        unplug.join();
    });
    ASSERT_EQ(warnings.size(), 1u) << warnings.back();
    EXPECT_NE(warnings[0].find("; the board is let go"), std::string::npos) << warnings[0];
    EXPECT_EQ(board.OpenFiles(), 0);
}

// A stalled single record fails as on libusb 0.1: no words, no stop.
TEST_P(UsbfsBackends, AStalledRecordOnItsOwnFailsQuietly)
{
    EmulatedBoard& board = bus->AddBoard(2);
    tav::Board opened = Open(board);
    ASSERT_TRUE(opened.isOpen());
    board.StallWrite(3);
    const std::vector<std::string> warnings =
        WarningsOf([&] { EXPECT_EQ(opened.pinSet(TAVDll::PIN_BANK_4 | 1), TAV_IO_FAILED); });
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    EXPECT_EQ(opened.pinSet(TAVDll::PIN_BANK_4 | 1), TAV_OK);
}

// A board plugged in after an earlier look found none is found.
TEST_P(UsbfsBackends, ABoardPluggedInLaterIsFound)
{
    bus->AddBoard(2);
    tav::Board first;
    ASSERT_EQ(first.open(Selector(2)), TAV_OK);
    first.release();
    EXPECT_EQ(first.open(Selector(3)), TAV_E_NOT_FOUND);
    bus->AddBoard(3, 'S');
    tav::Board later;
    ASSERT_EQ(later.open(Selector(3)), TAV_OK);
    EXPECT_EQ(later.model(), 'S');
}

// ... also while another board of the same library is open and no hotplug
// event tells libusb of the new one; and each board works on, the first
// through the library's earlier look, the second through the fresh one.
TEST_P(UsbfsBackends, ABoardPluggedInWhileAnotherIsOpenIsFound)
{
    EmulatedBoard& first = bus->AddBoard(2);
    tav::Board held;
    ASSERT_EQ(held.open(Selector(2)), TAV_OK);
    EmulatedBoard& second = bus->AddBoard(3, 'S');
    tav::Board later;
    ASSERT_EQ(later.open(Selector(3)), TAV_OK);
    EXPECT_EQ(later.model(), 'S');
    first.ClearLog();
    second.ClearLog();
    EXPECT_EQ(held.init(0), TAV_OK);
    EXPECT_EQ(later.pinOutput(TAVDll::PIN_BANK_8 | 0x3), TAV_OK);
    EXPECT_EQ(Records(first).size(), 61u);
    EXPECT_EQ(Records(second).size(), 2u);
    held.close();
    EXPECT_EQ(later.init(0), TAV_OK); // its context outlives the other's close
    later.close();
    EXPECT_EQ(first.OpenFiles(), 0);
    EXPECT_EQ(second.OpenFiles(), 0);
}

TEST_P(UsbfsBackends, AnUnpluggedBoardIsLetGo)
{
    EmulatedBoard& board = bus->AddBoard(2);
    tav::Board opened = Open(board);
    ASSERT_TRUE(opened.isOpen());
    board.UnplugFromTransfer(22);
    EXPECT_EQ(opened.init(0), TAV_IO_FAILED);
    EXPECT_EQ(Records(board).size(), 19u);
    EXPECT_EQ(board.OpenFiles(), 0);
    EXPECT_EQ(opened.pinSet(TAVDll::PIN_BANK_4 | 1), TAV_NOT_OPEN);
    // The same at a record sent on its own (a one-record operation goes as
    // one transfer, not through the queue): gone is gone there too.
    EmulatedBoard& second = bus->AddBoard(3);
    tav::Board single = Open(second);
    ASSERT_TRUE(single.isOpen());
    second.UnplugFromTransfer(3); // the open took two transfers
    EXPECT_EQ(single.pinSet(TAVDll::PIN_BANK_4 | 1), TAV_IO_FAILED);
    EXPECT_EQ(second.OpenFiles(), 0);
    EXPECT_FALSE(single.connected());
    EXPECT_EQ(single.pinSet(TAVDll::PIN_BANK_4 | 1), TAV_NOT_OPEN);
}

TEST_P(UsbfsBackends, SelectorsNameTheSameBoards)
{
    bus->AddBoard(2, 'T');
    EmulatedBoard& second = bus->AddBoard(3, 'S');
    tav::Board opened;
    ASSERT_EQ(opened.open(std::string(GetParam()) + "001:003"), TAV_OK);
    EXPECT_EQ(opened.model(), 'S');
    EXPECT_EQ(second.ClaimedInterfaces(), std::vector<int>{0});
    tav::Board other;
    EXPECT_EQ(other.open(Selector(9)), TAV_E_NOT_FOUND);
}

TEST_P(UsbfsBackends, TwoBoardsFromTwoThreads)
{
    EmulatedBoard& first = bus->AddBoard(2);
    EmulatedBoard& second = bus->AddBoard(3, 'S');
    tav::Board boards[2];
    ASSERT_EQ(boards[0].open(Selector(2)), TAV_OK);
    ASSERT_EQ(boards[1].open(Selector(3)), TAV_OK);
    first.ClearLog();
    second.ClearLog();
    constexpr int rounds = 5;
    std::thread initThread([&] {
        for (int round = 0; round < rounds; ++round)
            EXPECT_EQ(boards[0].init(round), TAV_OK);
    });
    std::thread pinThread([&] {
        for (int round = 0; round < rounds; ++round)
            EXPECT_EQ(boards[1].pinOutput(TAVDll::PIN_BANK_8 | 0x1FFFF), TAV_OK);
    });
    initThread.join();
    pinThread.join();
    // Each board got whole operations, in order, and nothing of the other's.
    const std::vector<_INSTRUCTION_INFO_> initRecords = Records(first);
    ASSERT_EQ(initRecords.size(), 61u * rounds);
    for (int round = 0; round < rounds; ++round) {
        EXPECT_EQ(tavtest::BytesOf(initRecords[61 * round]), tavtest::Remap(1).bytes) << round;
        EXPECT_EQ(tavtest::BytesOf(initRecords[61 * round + 60]), tavtest::BoardInit(round).bytes) << round;
    }
    const std::vector<_INSTRUCTION_INFO_> pinRecords = Records(second);
    ASSERT_EQ(pinRecords.size(), 17u * rounds);
    for (const _INSTRUCTION_INFO_& record : pinRecords)
        EXPECT_EQ(record.operation, TAVDll::GPIO_OP_INIT);
    EXPECT_EQ(tavmodel::BoardView(second.Board()).Pin(TAVDll::PIN_BANK_8 | 0x10000).function, PinFunction::OutputLow);
    EXPECT_TRUE(first.Board().Rejected().empty());
    EXPECT_TRUE(second.Board().Rejected().empty());
}

std::string BackendName(const ::testing::TestParamInfo<const char*>& info)
{
    return std::string(info.param) == "sync:usb:" ? "OneByOne" : "Queued";
}

// Port paths come from sysfs for libusb 0.1 and from libusb-1.0 itself;
// both name the board at /devices/.../usb1/1-N "1-N" and open it by it.
TEST_P(UsbfsBackends, PortPathsNameAndOpenTheBoard)
{
    bus->AddBoard(3, 'T');
    bus->AddBoard(5, 'S');
    tav::Board opened;
    const std::string prefix = Queued() ? "" : "sync:";
    ASSERT_EQ(opened.open(prefix + "port:1-5"), TAV_OK);
    EXPECT_EQ(opened.model(), 'S');
    opened.release();
    EXPECT_EQ(opened.open(prefix + "port:1-4"), TAV_E_NOT_FOUND);
    if (!Queued()) {
        tav_device devices[4];
        ASSERT_EQ(tav_list(devices, 4, 0), 2);
        for (const tav_device& device : {devices[0], devices[1]}) {
            EXPECT_EQ(device.port, "1-" + std::to_string(device.device)) << device.selector;
            EXPECT_STREQ(device.library, "libusb 0.1");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Backend, UsbfsBackends, ::testing::Values("sync:usb:", "usb:"), BackendName);

} // namespace
