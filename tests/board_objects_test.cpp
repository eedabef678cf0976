// Board objects through the public C and C++ interfaces: selectors, distinct
// failures, ownership, and boards that do not disturb each other or the
// default board of the static functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TAVLib.h"
#include "board_fixture.h"
#include "model/board_view.h"
#include "pwm_tables.h"
#include "tav/board.hpp"
#include "tav/tav.h"

using TAVDll::TAVLib;
using tavtest::GpioSet;
using tavtest::SameRecords;

namespace {

class BoardObjects : public tavtest::BoardTest {};

TEST_F(BoardObjects, SelectorsNameBoardsByDecimalAddress)
{
    // Devices 2..10 on bus 1; device 10 is a board, as are 2 and 8.
    usb.AddBoard('S');
    for (int filler = 3; filler <= 7; ++filler)
        usb.AddDevice(0, 0x1111, 0x2222, nullptr);
    usb.AddBoard('C');
    usb.AddDevice(0, 0x1111, 0x2222, nullptr);
    usb.AddBoard('T', {1, 0, 0, 10});

    struct Case {
        const char* selector;
        int result;
        char model;
    };
    const Case cases[] = {
        {"", TAV_OK, 'S'},           {nullptr, TAV_OK, 'S'},          {"usb:1:2", TAV_OK, 'S'},
        {"usb:001:010", TAV_OK, 'T'}, {"001:010", TAV_OK, 'T'},        {"1:8", TAV_OK, 'C'},
        {"usb:1:9", TAV_E_NOT_FOUND, 0}, {"usb:1:3", TAV_E_NOT_FOUND, 0}, {"usb:2:2", TAV_E_NOT_FOUND, 0},
        {"usb:1", TAV_E_INVALID, 0},  {"usb:1:0x2", TAV_E_INVALID, 0}, {"usb:-1:2", TAV_E_INVALID, 0},
        {"usb::2", TAV_E_INVALID, 0}, {"1:2:3", TAV_E_INVALID, 0},     {"sim:X", TAV_E_INVALID, 0},
        {"sim:T ", TAV_E_INVALID, 0}, {"sim:", TAV_E_INVALID, 0},      {"board", TAV_E_INVALID, 0},
        // queued: before any of them names the same boards
        {"queued:", TAV_OK, 'S'},     {"queued:usb:001:010", TAV_OK, 'T'}, {"queued:1:8", TAV_OK, 'C'},
        {"queued:sim:C", TAV_OK, 'C'}, {"queued:usb:1:9", TAV_E_NOT_FOUND, 0}, {"queued:queued:", TAV_E_INVALID, 0},
        {"sim:s", TAV_OK, 'S'},       {"queued:sim:c", TAV_OK, 'C'},       {"sim:x", TAV_E_INVALID, 0},
        {"queued", TAV_E_INVALID, 0}, {"queued:sim:X", TAV_E_INVALID, 0}, {"QUEUED:1:8", TAV_E_INVALID, 0},
    };
    for (const Case& entry : cases) {
        const std::string name = entry.selector != nullptr ? entry.selector : "NULL";
        tav_board* board = reinterpret_cast<tav_board*>(&usb); // must be overwritten
        EXPECT_EQ(tav_open(entry.selector, &board), entry.result) << name;
        if (entry.result != TAV_OK) {
            EXPECT_EQ(board, nullptr) << name;
            continue;
        }
        EXPECT_EQ(tav_model(board), entry.model) << name;
        tav_release(board);
    }
    EXPECT_EQ(usb.OpenHandleCount(), 0);
    EXPECT_EQ(tav_open("", nullptr), TAV_E_INVALID);
}

// Busses and devices are named by decimal numbers (usbfs: "001", "012"); a
// device whose names are not numbers has no selector.
TEST_F(BoardObjects, UsbfsNamesSelectByTheirNumbers)
{
    struct Named {
        const char* bus;
        const char* device;
    };
    const Named names[] = {{"000", "001"}, {"000", "012"}, {"000", "x3"}, {"bus", "003"}};
    const char models[] = {'S', 'C', 'T', 'T'};
    for (size_t index = 0; index < std::size(names); ++index) {
        tavsim::VirtualDevice& device = usb.AddBoard(models[index], {1, 0, 0, 0}, static_cast<int>(index));
        std::snprintf(device.Device()->filename, sizeof device.Device()->filename, "%s", names[index].device);
        std::snprintf(device.Device()->bus->dirname, sizeof device.Device()->bus->dirname, "%s", names[index].bus);
    }
    const std::pair<const char*, int> cases[] = {{"usb:0:1", 'S'},  {"0:12", 'C'}, {"usb:000:0012", 'C'},
                                                 {"usb:0:2", 0},    {"usb:0:0", 0}, {"usb:0:3", 0}};
    for (const auto& [selector, model] : cases) {
        tav_board* board = nullptr;
        EXPECT_EQ(tav_open(selector, &board), model != 0 ? TAV_OK : TAV_E_NOT_FOUND) << selector;
        if (board != nullptr) {
            EXPECT_EQ(tav_model(board), model) << selector;
            tav_release(board);
        }
    }
    tav_device devices[4];
    ASSERT_EQ(tav_list(devices, 4, 0), 4);
    EXPECT_STREQ(devices[1].selector, "usb:000:012");
    EXPECT_STREQ(devices[1].library, "virtual");
    EXPECT_STREQ(devices[2].selector, ""); // no number: no selector reaches it
    EXPECT_EQ(devices[2].openable, 0);
    EXPECT_STREQ(devices[3].selector, "");
}

// A board's port path stays when it is plugged in again; its device number
// does not. A port without a board is "not found", a malformed one invalid.
TEST_F(BoardObjects, PortSelectorsFindTheBoardWhereverItsNumberMoves)
{
    usb.AddBoard('T');
    tavsim::VirtualDevice& second = usb.AddBoard('S');
    tav_device devices[2];
    ASSERT_EQ(tav_list(devices, 2, 0), 2);
    EXPECT_STREQ(devices[0].port, "1-1");
    EXPECT_STREQ(devices[1].port, "1-2");
    tav::Board board;
    ASSERT_EQ(board.open("port:1-2"), TAV_OK);
    EXPECT_EQ(board.model(), 'S');
    board.release();

    usb.Replug(second); // same port, the bus's next device number
    ASSERT_EQ(tav_list(devices, 2, 0), 2);
    EXPECT_STREQ(devices[1].selector, "usb:001:004");
    EXPECT_STREQ(devices[1].port, "1-2");
    ASSERT_EQ(board.open("port:1-2"), TAV_OK);
    EXPECT_EQ(board.model(), 'S');
    board.release();
    EXPECT_EQ(board.open("usb:1:3"), TAV_E_NOT_FOUND);

    usb.Replug(second, "1-4.3"); // another port: another board as far as port: goes
    EXPECT_EQ(board.open("port:1-2"), TAV_E_NOT_FOUND);
    ASSERT_EQ(board.open("queued:port:1-4.3"), TAV_OK);
    EXPECT_EQ(board.model(), 'S');
    board.release();
    for (const char* malformed : {"port:", "port:1", "port:1-", "port:0-1", "port:1-0", "port:01-2", "port:1-2.",
                                  "port:1-2..3", "port:256-1", "port:1-1.1.1.1.1.1.1.1", "port:1-2 ", "port:a-b"})
        EXPECT_EQ(board.open(malformed), TAV_E_INVALID) << malformed;
    for (const char* wellFormed : {"port:1-1.1.1.1.1.1.1", "port:255-200.99"}) // seven ports; three digits
        EXPECT_EQ(board.open(wellFormed), TAV_E_NOT_FOUND) << wellFormed;
}

// A handle opened before a replug stays dead after it, as a file of a
// device node that went away: the board is let go, not driven through it.
TEST_F(BoardObjects, AHandleFromBeforeAReplugFindsTheBoardGone)
{
    tavsim::VirtualDevice& device = usb.AddBoard('T');
    tav::Board board;
    ASSERT_EQ(board.open("port:1-1"), TAV_OK);
    usb.Replug(device);
    EXPECT_EQ(board.pinSet(0x40000100), TAV_IO_FAILED);
    EXPECT_EQ(board.pwmStop(), TAV_NOT_OPEN);
    EXPECT_EQ(usb.OpenHandleCount(), 0);
}

// TAV_DEVICE for this process; null unsets it.
void SetDefaultDevice(const char* selector)
{
#if defined(_WIN32)
    _putenv_s("TAV_DEVICE", selector != nullptr ? selector : "");
#else
    if (selector != nullptr)
        setenv("TAV_DEVICE", selector, 1);
    else
        unsetenv("TAV_DEVICE");
#endif
}

// A session of every kind of operation on an open board object. Results are
// not asserted: a pin a model has no pin for is refused there, and a fault
// may fail any of them.
void RunEveryKindOfOperation(tav_board* board)
{
    const uint32_t duties[4] = {9000, 0, 36000, 123};
    double reached = 0;
    const double percents[2] = {7.5, 50};
    char firmware[32];
    tav_firmware(board, firmware, sizeof firmware); // a call that sends nothing, first
    tav_init(board, 0);
    tav_pin_output(board, 0x4000FF00u);
    tav_pin_set(board, 0x4000A500u);
    tav_pin_write(board, 0x80010000u, 1);
    tav_pin_output(board, 0x80010000u);
    tav_pin_input_pull(board, 0x40000020u, TAV_PULL_UP);
    tav_pin_input_pull(board, 0x40000040u, TAV_PULL_DOWN);
    tav_pin_output_open_drain(board, 0x40000080u);
    tav_pin_reset(board, 0x40000080u);
    tav_pwm_start(board, 'B', 4, duties, 4);
    tav_pwm_start(board, 'A', 1, duties, 3);
    tav_pwm_start_hz(board, 'C', 50, percents, 2, &reached);
    tav_pwm_set(board, 'B', 2, 18000);
    tav_pwm_stop_group(board, 'A');
    tav_pin_float(board, 0x4000F000u);
    tav_pin_write(board, 0x40000003u, 0);
    // P8.0 and P8.1, then a bit past the bank's last pin: refused there.
    tav_pin_output(board, 0x80020003u);
    tav_pin_set(board, 0x80020003u);
    const uint8_t own[64] = {TAVDll::CLASS_GPIO, TAVDll::GPIO_OP_SET_BITS, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x00, 0x40};
    tav_send_record(board, own); // GPIOB, pin 14
    // At 0.5 Hz the full scale is 65536 steps: all of them is a compare
    // value wider than the timer's 16 bits, which the board refuses.
    const double all[1] = {100};
    tav_pwm_start_hz(board, 'B', 0.5, all, 1, &reached);
}

// Every pin and PWM group as the object has it against what the board made
// of the records it received.
void ExpectTheBoardsWord(tav_board* board, tavsim::VirtualDevice& device, const std::string& where)
{
    for (uint32_t bit = 0; bit < 33; ++bit) {
        const uint32_t pin = bit < 16 ? 0x40000000u | (1u << bit) : 0x80000000u | (1u << (bit - 16));
        tav_pin_state state;
        ASSERT_EQ(tav_pin_state_get(board, pin, &state), TAV_OK);
        const tavmodel::PinStatus status = tavmodel::BoardView(device.Board()).Pin(pin);
        const std::string pinWhere = where + " " + state.name;
        EXPECT_EQ(state.function, static_cast<int>(status.function)) << pinWhere;
        EXPECT_EQ(state.duty_counts, status.dutyCounts) << pinWhere;
        EXPECT_EQ(state.period_counts, status.periodCounts) << pinWhere;
        EXPECT_STREQ(state.description, status.Describe().c_str()) << pinWhere;
    }
    for (char group : {'A', 'B', 'C'}) {
        tav_pwm_group_state state;
        ASSERT_EQ(tav_pwm_group_state_get(board, group, &state), TAV_OK);
        const TAVDll::detail::PwmGroup& entry = TAVDll::detail::PWM_GROUPS[group - 'A'];
        const tavmodel::TimerState& timer = device.Board().State().timers[entry.timerIndex];
        EXPECT_EQ(state.running != 0, timer.counterEnabled) << where << group;
        for (unsigned channel = 0; channel < state.channel_count; ++channel)
            EXPECT_EQ(state.duty[channel],
                      timer.outputCompare[TAVDll::detail::PWM_CHANNEL_MAP[entry.firstChannel + channel].unit - 1].pulse)
                << where << group << channel;
    }
}

// What a board object keeps of what it told a real board is what the board
// itself makes of the records it received: a session of every kind of
// operation on both pin maps, queued and one at a time, and the close after
// it, each board's received records run through its board model.
TEST_F(BoardObjects, TheCommandedStateIsWhatTheRecordsSentMake)
{
    tavsim::VirtualDevice& boardT = usb.AddBoard('T');
    tavsim::VirtualDevice& boardS = usb.AddBoard('S');
    for (tavsim::VirtualDevice* device : {&boardT, &boardS}) {
        const std::string selector = "usb:1:" + std::to_string(device == &boardT ? 2 : 3);
        for (const char* way : {"", "sync:"}) {
            tav_board* board = nullptr;
            ASSERT_EQ(tav_open((way + selector).c_str(), &board), TAV_OK);
            RunEveryKindOfOperation(board);
            ExpectTheBoardsWord(board, *device, selector + way);
            // The close's safe state too: the object still answers for the board.
            ASSERT_EQ(tav_disconnect(board, 1), TAV_OK);
            ExpectTheBoardsWord(board, *device, selector + way + " closed");
            tav_release(board);
        }
    }
}

// A record callback set on a real board's object sees every record of the
// library's own operations (which otherwise update the commanded state
// without watching their records), and the commanded state goes on
// following the board when the callback is taken away.
TEST_F(BoardObjects, ARecordCallbackSeesEveryRecordOfARealBoard)
{
    tavsim::VirtualDevice& device = usb.AddBoard('T');
    for (const char* way : {"", "sync:"}) {
        device.Board().PowerCycle();
        tav_board* board = nullptr;
        ASSERT_EQ(tav_open((std::string(way) + "usb:1:2").c_str(), &board), TAV_OK);
        const size_t before = device.Board().Received().size(); // the open asked for the board's version
        std::vector<std::array<uint8_t, 64>> seen;
        ASSERT_EQ(tav_set_record_callback(
                      board,
                      [](void* user, const uint8_t* bytes, int length, int) {
                          std::array<uint8_t, 64> record{};
                          std::memcpy(record.data(), bytes, std::min<size_t>(length, record.size()));
                          static_cast<std::vector<std::array<uint8_t, 64>>*>(user)->push_back(record);
                      },
                      &seen),
                  TAV_OK);
        RunEveryKindOfOperation(board);
        const std::vector<TAVDll::_INSTRUCTION_INFO_>& received = device.Board().Received();
        ASSERT_EQ(seen.size(), received.size() - before) << way;
        for (size_t index = 0; index < seen.size(); ++index)
            EXPECT_EQ(std::memcmp(seen[index].data(), &received[before + index], 64), 0) << way << index;
        ExpectTheBoardsWord(board, device, std::string(way) + " with a callback");

        ASSERT_EQ(tav_set_record_callback(board, nullptr, nullptr), TAV_OK);
        const size_t withCallback = seen.size();
        RunEveryKindOfOperation(board);
        tav_pwm_stop(board);
        tav_pin_output(board, 0x40000001u);
        EXPECT_EQ(seen.size(), withCallback) << way;
        ExpectTheBoardsWord(board, device, std::string(way) + " after the callback");
        tav_release(board);
    }
}

// A traced real board's object: its trace holds every record the board
// received after the open, the program's own and the close's among them,
// and its commanded state follows the board.
TEST_F(BoardObjects, ATracedRealBoardTracesEveryRecord)
{
    tavsim::VirtualDevice& device = usb.AddBoard('T');
    const std::string path = ::testing::TempDir() + "ATracedRealBoardTracesEveryRecord.tavtrace";
    tavtest::SetEnvironment("TAV_TRACE", path.c_str());
    tav_board* board = nullptr;
    const int opened = tav_open("usb:1:2", &board);
    tavtest::UnsetEnvironment("TAV_TRACE");
    ASSERT_EQ(opened, TAV_OK);
    const size_t before = device.Board().Received().size();
    RunEveryKindOfOperation(board);
    ExpectTheBoardsWord(board, device, "traced");
    tav_close(board);
    size_t traced = 0;
    std::FILE* file = std::fopen(path.c_str(), "r");
    ASSERT_NE(file, nullptr);
    for (char line[512]; std::fgets(line, sizeof line, file) != nullptr;)
        traced += std::isdigit(static_cast<unsigned char>(line[0])) && std::strstr(line, " out ") != nullptr ? 1 : 0;
    std::fclose(file);
    EXPECT_EQ(traced, device.Board().Received().size() - before);
    std::remove(path.c_str());
}

// The same with records that do not go out whole in the middle of
// operations (an error, a stall, a short write, a time-out that ends its
// operation): the object keeps what went out whole, and only that.
TEST_F(BoardObjects, TheCommandedStateIsWhatWentOutWholeWhenTransfersFail)
{
    tavsim::VirtualDevice& device = usb.AddBoard('T');
    struct Fault {
        int writesFromNow;
        tavsim::WriteFault fault;
    };
    // The session's writes are numbered alike on every run up to a time-out
    // (which leaves the rest of its operation unsent): tav_init's are
    // 1-61, the pin calls' 62-79 (71: P4.10 high), the PWM starts' from 80
    // (83, 89: B's first and third duties; 112: C's time base), 145: P8.0
    // high in a walk that ends at a pin the board does not have.
    const std::vector<std::vector<Fault>> runs = {
        {{5, tavsim::WriteFault::Error},
         {71, tavsim::WriteFault::Stall},
         {89, tavsim::WriteFault::Short},
         {145, tavsim::WriteFault::Stall}},
        {{30, tavsim::WriteFault::Timeout}, {70, tavsim::WriteFault::Error}, {100, tavsim::WriteFault::Timeout}},
        {{1, tavsim::WriteFault::Stall}, {64, tavsim::WriteFault::Error}, {112, tavsim::WriteFault::Error}},
        {{84, tavsim::WriteFault::Timeout}, {124, tavsim::WriteFault::Short}, {128, tavsim::WriteFault::Error}},
    };
    for (const char* way : {"", "sync:"}) {
        for (size_t run = 0; run < runs.size(); ++run) {
            device.Board().PowerCycle();
            tav_board* board = nullptr;
            ASSERT_EQ(tav_open((std::string(way) + "usb:1:2").c_str(), &board), TAV_OK);
            for (const Fault& fault : runs[run])
                usb.FailWriteFromNow(device, fault.writesFromNow, fault.fault, 10);
            RunEveryKindOfOperation(board);
            ExpectTheBoardsWord(board, device, std::string(way) + " run " + std::to_string(run));
            tav_release(board);
        }
    }
}

// A USB library without a queue sends one transfer at a time, and a board
// object says so, whatever its selector asked for.
TEST_F(BoardObjects, OnALibraryWithoutAQueueTheySayTheyAreNotQueued)
{
    // The virtual bus as it is, less its queue.
    tavsim::VirtualUsb bus(tavsim::VirtualUsb::Install::No);
    bus.AddBoard('S');
    TAVDll::UsbBackend table = bus.Backend();
    table.bulkWriteQueue = nullptr;
    struct Installed {
        const TAVDll::UsbBackend* before;
        ~Installed() { TAVDll::InstallUsbBackend(before); }
    } installed{TAVDll::InstallUsbBackend(&table)};
    for (const char* selector : {"", "queued:", "sync:usb:1:2"}) {
        tav_board* board = nullptr;
        ASSERT_EQ(tav_open(selector, &board), TAV_OK) << selector;
        EXPECT_EQ(tav_queued(board), 0) << selector;
        EXPECT_EQ(tav_pin_set(board, 0x40000020u), TAV_OK) << selector;
        tav_release(board);
    }
    tav_device devices[2];
    ASSERT_EQ(tav_list(devices, 2, 0), 1);
    EXPECT_EQ(devices[0].queued, 0);
}

class DefaultDevice : public BoardObjects {
protected:
    void TearDown() override
    {
        SetDefaultDevice(nullptr);
        TAVDll::TAVLib::Close();
        BoardObjects::TearDown();
    }
};

// TAV_DEVICE is "the first board" of every front end; a selector in the
// program's own call wins.
TEST_F(DefaultDevice, TavDeviceNamesTheFirstBoard)
{
    usb.AddBoard('T');
    usb.AddBoard('C');
    SetDefaultDevice("port:1-2");
    tav::Board board;
    ASSERT_EQ(board.open(""), TAV_OK);
    EXPECT_EQ(board.model(), 'C');
    board.release();
    ASSERT_EQ(board.open("usb:1:2"), TAV_OK); // the call's own selector
    EXPECT_EQ(board.model(), 'T');
    board.release();

    SetDefaultDevice("sim:S");
    tav_board* first = nullptr;
    ASSERT_EQ(tav_open(nullptr, &first), TAV_OK);
    EXPECT_EQ(tav_model(first), 'S');
    char status[64];
    EXPECT_EQ(tav_sim_status(first, status, sizeof status), TAV_OK); // a virtual board
    tav_release(first);
    ASSERT_EQ(board.open("queued:"), TAV_OK);
    EXPECT_EQ(board.model(), 'S');
    board.release();

    SetDefaultDevice("sim:X");
    EXPECT_EQ(board.open(""), TAV_E_INVALID);
    SetDefaultDevice("");
    ASSERT_EQ(board.open(""), TAV_OK);
    EXPECT_EQ(board.model(), 'T');
}

// An unchanged program of the static functions runs on the board TAV_DEVICE
// names: a virtual board, or one by port.
TEST_F(DefaultDevice, TheStaticFunctionsOpenTheBoardTavDeviceNames)
{
    usb.AddBoard('T');
    tavsim::VirtualDevice& second = usb.AddBoard('S');
    SetDefaultDevice("port:1-2");
    TAVDll::TAVLib::Initial();
    ASSERT_NE(TAVDll::TAVLib::Open(), nullptr);
    EXPECT_EQ(TAVDll::TAVLib::Pin_DirOutput(0x40000100), 0);
    EXPECT_EQ(usb.DeliveredRecords().size(), 1u);
    EXPECT_EQ(second.WriteCount(), 1);
    EXPECT_EQ(TAVDll::TAVLib::Close(), 0);

    SetDefaultDevice("sim:C");
    usb.ClearLog();
    TAVDll::TAVLib::Initial();
    ASSERT_NE(TAVDll::TAVLib::Open(), nullptr);
    EXPECT_EQ(TAVDll::TAVLib::RequestBoardInfo(), 0);
    EXPECT_EQ(TAVDll::TAVLib::GetType(), TAVDll::BOARD_C);
    EXPECT_EQ(TAVDll::TAVLib::InitTav(0), 0);
    EXPECT_EQ(TAVDll::TAVLib::Close(), 0);
    EXPECT_TRUE(usb.DeliveredRecords().empty()); // nothing reached the USB bus

    // Open(vendor, product) is the program's own choice.
    TAVDll::TAVLib::Initial();
    EXPECT_NE(TAVDll::TAVLib::Open(TAV_USB_VENDOR_ID, TAV_USB_PRODUCT_ID), nullptr);
}

// The log callback hears why opens, claims and transfers fail, in the USB
// library's numbers and words, and the debug lines, until it is taken away.
TEST_F(BoardObjects, TheLogCallbackHearsWhyAndStopsWhenTakenAway)
{
    struct Line {
        int level;
        std::string text;
    };
    std::vector<Line> lines;
    tav_set_log_callback(
        [](int level, const char* text, void* user) { static_cast<std::vector<Line>*>(user)->push_back({level, text}); },
        &lines);
    tavsim::VirtualDevice& device = usb.AddBoard('T');
    tav::Board held;
    ASSERT_EQ(held.open("usb:1:2"), TAV_OK);
    tav::Board second;
    EXPECT_EQ(second.open("usb:1:2"), TAV_E_ACCESS);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().level, TAV_LOG_WARNING);
    EXPECT_EQ(lines.back().text, "cannot claim interface 0 of usb:001:002 (virtual): " + std::to_string(-EBUSY) + " ("
                                     + std::strerror(EBUSY) + ")");
    EXPECT_STREQ(tav_open_problem(), "usb:001:002 (virtual) is in use by another program (it holds the board's "
                                     "interface): close that one first");
    tav::Board elsewhere;
    EXPECT_EQ(elsewhere.open("usb:1:9"), TAV_E_NOT_FOUND);
    EXPECT_EQ(tav_open_problem(), nullptr); // an open that found nothing had no claim problem

    device.FailWrite(device.WriteCount() + 1, tavsim::WriteFault::Timeout);
    EXPECT_EQ(held.init(), TAV_IO_FAILED);
    EXPECT_EQ(lines.back().text, "a transfer to the board failed: " + std::to_string(-ETIMEDOUT)
                                     + " (timed out); nothing more is sent in this operation");
    held.release();

    TAVDll::TAVLib::Initial();
    ASSERT_NE(TAVDll::TAVLib::Open(), nullptr);
    EXPECT_EQ(lines.back().level, TAV_LOG_DEBUG);
    EXPECT_EQ(lines.back().text, "open good");
    TAVDll::TAVLib::Close();

    tav_set_log_callback(nullptr, nullptr);
    const size_t heard = lines.size();
    EXPECT_EQ(second.open("usb:1:9"), TAV_E_NOT_FOUND);
    device.FailOpen();
    EXPECT_EQ(second.open("usb:1:2"), TAV_E_ACCESS);
    EXPECT_EQ(lines.size(), heard);
    // The device file's permissions refuse it: the udev rule, not another program.
    ASSERT_NE(tav_open_problem(), nullptr);
    EXPECT_EQ(std::string(tav_open_problem()).rfind("no permission to open usb:001:002 (virtual): install the udev "
                                                    "rule", 0),
              0u)
        << tav_open_problem();
    held.release();
    EXPECT_EQ(held.open("sim:T"), TAV_OK);
    EXPECT_EQ(tav_open_problem(), nullptr);
}

// What another thread collects under mutex, once there are at least count
// items (5 s at most).
using tavtest::WaitForCount;

// Events of tav_watch as "arrived usb:001:002 1-1" lines, collected from the
// watcher's thread.
struct WatchedEvents {
    std::mutex mutex;
    std::vector<std::string> lines;

    static void Add(const tav_event* event, void* user)
    {
        auto* events = static_cast<WatchedEvents*>(user);
        std::lock_guard<std::mutex> lock(events->mutex);
        events->lines.push_back(std::string(event->kind == TAV_EVENT_ARRIVED ? "arrived " : "left ")
                                + (event->initial ? "(initial) " : "") + event->device->selector + " "
                                + event->device->port);
    }

    std::vector<std::string> WaitFor(size_t count) { return WaitForCount(mutex, lines, count); }
};

// Boards already there, then each arrival and departure once, in order; a
// replug leaves and arrives under a new number, on its port or another.
TEST_F(BoardObjects, WatchingReportsEveryArrivalAndDepartureOnceInOrder)
{
    usb.AddBoard('T');
    tavsim::VirtualDevice& second = usb.AddBoard('S');
    WatchedEvents events;
    tav_watcher* watcher = nullptr;
    ASSERT_EQ(tav_watch(WatchedEvents::Add, &events, 10, &watcher), TAV_OK);
    EXPECT_EQ(events.WaitFor(2), (std::vector<std::string>{"arrived (initial) usb:001:002 1-1",
                                                           "arrived (initial) usb:001:003 1-2"}));
    usb.Unplug(second);
    EXPECT_EQ(events.WaitFor(3).back(), "left usb:001:003 1-2");
    usb.Replug(second);
    EXPECT_EQ(events.WaitFor(4).back(), "arrived usb:001:004 1-2");
    usb.Replug(second, "1-7");
    const std::vector<std::string> lines = events.WaitFor(6);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "left usb:001:004 1-2");
    EXPECT_EQ(lines[5], "arrived usb:001:005 1-7");
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // several more looks: nothing new
    tav_unwatch(watcher);
    usb.Unplug(second);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(events.WaitFor(0).size(), 6u); // nothing after the stop
    EXPECT_EQ(tav_watch(nullptr, nullptr, 0, &watcher), TAV_E_INVALID);
    EXPECT_EQ(watcher, nullptr);

    // The C++ wrapper: the same events to a function, until it is stopped.
    WatchedEvents fromCpp;
    {
        tav::Watch watching;
        ASSERT_EQ(watching.start([&fromCpp](const tav_event& event) { WatchedEvents::Add(&event, &fromCpp); }, 10),
                  TAV_OK);
        EXPECT_EQ(watching.start([](const tav_event&) {}), TAV_E_INVALID); // once at a time
        EXPECT_EQ(fromCpp.WaitFor(1).size(), 1u);
    }
    EXPECT_EQ(fromCpp.WaitFor(0), (std::vector<std::string>{"arrived (initial) usb:001:002 1-1"})); // the one left
    EXPECT_EQ(usb.OpenHandleCount(), 0); // watching opens nothing
}

// A watcher stopped from its own callback delivers nothing more.
TEST_F(BoardObjects, AWatcherStopsFromItsOwnCallback)
{
    usb.AddBoard('T');
    usb.AddBoard('S');
    struct Stopping {
        tav_watcher* watcher = nullptr;
        std::atomic<int> calls{0};
    } stopping;
    ASSERT_EQ(tav_watch(
                  [](const tav_event*, void* user) {
                      auto* state = static_cast<Stopping*>(user);
                      state->calls.fetch_add(1);
                      tav_unwatch(state->watcher);
                  },
                  &stopping, 10, &stopping.watcher),
              TAV_OK);
    for (int tries = 0; tries < 100 && stopping.calls.load() == 0; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(stopping.calls.load(), 1); // the second board's arrival never came
}

using tavtest::Transitions;

// A board object that reattaches, taken through one unplug: a board with
// pins and a running PWM group on it, gone at a transfer.
class Reattaching : public BoardObjects {
protected:
    tav_board* OpenAndSetUp(const char* selector)
    {
        device = &usb.AddBoard('T');
        tav_board* board = nullptr;
        EXPECT_EQ(tav_open(selector, &board), TAV_OK);
        EXPECT_EQ(tav_set_connection_callback(board, Transitions::Add, &transitions), TAV_OK);
        EXPECT_EQ(tav_init(board, 7), TAV_OK);
        EXPECT_EQ(tav_pin_output(board, P4_8 | P4_10), TAV_OK);
        EXPECT_EQ(tav_pin_set(board, P4_8), TAV_OK);
        EXPECT_EQ(tav_pin_input(board, P8_2), TAV_OK);
        const uint32_t duties[] = {9000, 18000, 0, 36000};
        EXPECT_EQ(tav_pwm_start(board, 'B', 4, duties, 4), TAV_OK);
        commandedBefore = tavmodel::BoardView(device->Board()).Render();
        device->UnplugAtWrite(device->WriteCount() + 1);
        EXPECT_NE(tav_pin_reset(board, P4_8), TAV_OK); // finds it gone
        return board;
    }

    // The board is gone: every call says so at once, and sends nothing.
    void ExpectAbsent(tav_board* board)
    {
        EXPECT_EQ(tav_connected(board), 0);
        const int writes = device->WriteCount();
        EXPECT_EQ(tav_pin_set(board, P4_8), TAV_NOT_OPEN);
        EXPECT_EQ(tav_pwm_stop(board), TAV_NOT_OPEN);
        EXPECT_EQ(tav_init(board, 0), TAV_IO_FAILED);
        EXPECT_EQ(device->WriteCount(), writes);
        EXPECT_EQ(transitions.WaitFor(1), std::vector<int>{0});
    }

    // safe: the request, then the safe state (every pin floating, PWM off);
    // none: the request alone. Either way what the object had set is no longer
    // taken as the board's state.
    void ExpectPolicyApplied(const char* selector, size_t records, int pinKnown)
    {
        tav_board* board = OpenAndSetUp(selector);
        ExpectAbsent(board);
        usb.ClearLog();
        usb.Replug(*device);
        EXPECT_EQ(transitions.WaitFor(2), (std::vector<int>{0, 1}));
        EXPECT_EQ(usb.DeliveredRecords().size(), records);
        tav_pin_state state;
        ASSERT_EQ(tav_pin_state_get(board, P4_8, &state), TAV_OK);
        EXPECT_EQ(state.known, pinKnown);
        EXPECT_EQ(state.function, TAV_PIN_FLOATING_INPUT);
        tav_close(board);
    }

    static constexpr uint32_t P4_8 = 0x40000100;
    static constexpr uint32_t P4_10 = 0x40000400;
    static constexpr uint32_t P8_2 = 0x80000004;
    tavsim::VirtualDevice* device = nullptr;
    Transitions transitions;
    std::string commandedBefore;
};

TEST_F(Reattaching, RestoreBringsTheReplugedBoardToTheCommandedState)
{
    tav_board* board = OpenAndSetUp("reattach:port:1-1");
    ExpectAbsent(board);
    usb.ClearLog();
    usb.Replug(*device);
    EXPECT_EQ(transitions.WaitFor(2), (std::vector<int>{0, 1}));
    EXPECT_EQ(tav_connected(board), 1);
    // The board model, powered anew, is where the object had left it ...
    EXPECT_EQ(tavmodel::BoardView(device->Board()).Render(), commandedBefore);
    // ... from the information request and the records of that state alone:
    // remap, start, group B's set-up, the pins, their levels.
    const std::vector<_INSTRUCTION_INFO_> sent = usb.DeliveredRecords();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0].instructionClass, TAVDll::CLASS_BOARD_INFO);
    EXPECT_EQ(sent[1].instructionClass, TAVDll::CLASS_GPIO); // the debug port released first
    EXPECT_EQ(sent.size(), 1u + 1 + 1 + 17 + 4);
    // And it goes on as before.
    EXPECT_EQ(tav_pin_reset(board, P4_8), TAV_OK);
    tav_pin_state state;
    ASSERT_EQ(tav_pin_state_get(board, P4_8, &state), TAV_OK);
    EXPECT_EQ(state.function, TAV_PIN_OUTPUT_LOW);
    tav_close(board);
    EXPECT_EQ(usb.OpenHandleCount(), 0);
}

// Unplugged and plugged back while the program makes no call: the object's
// own look finds another device number on its port, reports both
// transitions and restores, with no call of the program's lost.
TEST_F(Reattaching, AReplugWhileIdleIsNoticedAndRestored)
{
    device = &usb.AddBoard('T');
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("reattach:port:1-1", &board), TAV_OK);
    ASSERT_EQ(tav_set_connection_callback(board, Transitions::Add, &transitions), TAV_OK);
    ASSERT_EQ(tav_init(board, 7), TAV_OK);
    ASSERT_EQ(tav_pin_output(board, P4_8), TAV_OK);
    ASSERT_EQ(tav_pin_set(board, P4_8), TAV_OK);
    const uint32_t duties[] = {100, 200, 300};
    ASSERT_EQ(tav_pwm_start(board, 'A', 2, duties, 3), TAV_OK);
    commandedBefore = tavmodel::BoardView(device->Board()).Render();
    usb.Replug(*device);
    EXPECT_EQ(transitions.WaitFor(2), (std::vector<int>{0, 1}));
    EXPECT_EQ(tavmodel::BoardView(device->Board()).Render(), commandedBefore);
    EXPECT_EQ(tav_pin_reset(board, P4_8), TAV_OK);
    tav_close(board);
}

TEST_F(Reattaching, SafeSendsTheSafeState)
{
    ExpectPolicyApplied("reattach-safe:port:1-1", 1u + 26 + 33, 1);
}

TEST_F(Reattaching, NoneSendsNothing)
{
    ExpectPolicyApplied("queued:reattach-none:", 1u, 0);
}

// Back on another port, or a board of another model on its port: not the
// same board, left alone.
TEST_F(Reattaching, AnotherPortOrAnotherModelIsNotTheSameBoard)
{
    tav_board* board = OpenAndSetUp("reattach:port:1-1");
    ExpectAbsent(board);
    usb.Replug(*device, "1-3");
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // two looks and more
    EXPECT_EQ(tav_connected(board), 0);
    EXPECT_EQ(usb.OpenHandleCount(), 0);
    // A board of model S on its port: asked once, then left unclaimed while
    // it stays; the object keeps its own model and pin map.
    std::vector<std::string> warnings;
    tav_set_log_callback(
        [](int level, const char* text, void* user) {
            if (level == TAV_LOG_WARNING)
                static_cast<std::vector<std::string>*>(user)->push_back(text);
        },
        &warnings);
    device->Board().SetModelLetter('S');
    usb.ClearLog();
    usb.Replug(*device, "1-1");
    std::this_thread::sleep_for(std::chrono::milliseconds(900)); // three looks and more
    EXPECT_EQ(tav_connected(board), 0);
    EXPECT_EQ(usb.OpenHandleCount(), 0); // opened, asked, let go
    EXPECT_EQ(usb.CountCalls(tavsim::UsbCall::Open), 1u);
    tav_set_log_callback(nullptr, nullptr);
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(tav_model(board), 'T');
    tav_pin_state state;
    ASSERT_EQ(tav_pin_state_get(board, P4_8, &state), TAV_OK);
    EXPECT_STREQ(state.mcu_pin, "PB8");
    EXPECT_EQ(transitions.WaitFor(1), std::vector<int>{0});
    // Once it leaves, what comes next is looked at again.
    device->Board().SetModelLetter('T');
    usb.Replug(*device, "1-1");
    EXPECT_EQ(transitions.WaitFor(2), (std::vector<int>{0, 1}));
    tav_release(board);
}

// Selectors: each prefix once, in either order.
TEST_F(BoardObjects, ReattachPrefixesOnceEachInEitherOrder)
{
    usb.AddBoard('T');
    for (const char* good : {"reattach:", "reattach-safe:usb:1:2", "queued:reattach-none:port:1-1",
                             "reattach:queued:1:2"}) {
        tav_board* board = nullptr;
        EXPECT_EQ(tav_open(good, &board), TAV_OK) << good;
        tav_release(board);
    }
    for (const char* bad : {"reattach:reattach:", "reattach:reattach-safe:", "queued:queued:", "reattach-later:",
                            "reattach"}) {
        tav_board* board = nullptr;
        EXPECT_EQ(tav_open(bad, &board), TAV_E_INVALID) << bad;
    }
    // queued: in either place queues the records.
    for (const char* queued : {"reattach:queued:", "queued:reattach-safe:usb:1:2"}) {
        tav::Board board;
        ASSERT_EQ(board.open(queued), TAV_OK) << queued;
        usb.ClearLog();
        EXPECT_EQ(board.init(), TAV_OK);
        EXPECT_EQ(usb.CountCalls(tavsim::UsbCall::QueueWrite), 1u) << queued;
    }
}

TEST_F(BoardObjects, ABoardThatCannotBeOpenedOrClaimedIsAccessNotNotFound)
{
    usb.AddBoard().FailOpen();
    usb.AddBoard();
    tav_board* board = nullptr;
    EXPECT_EQ(tav_open("usb:1:2", &board), TAV_E_ACCESS);
    EXPECT_EQ(tav_open("", &board), TAV_E_ACCESS); // the first board is the one meant
    ASSERT_EQ(tav_open("usb:1:3", &board), TAV_OK);

    // The same board once more, while the first object holds its interface.
    tav_board* second = nullptr;
    EXPECT_EQ(tav_open("usb:1:3", &second), TAV_E_ACCESS);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(usb.OpenHandleCount(), 1);
    EXPECT_STRNE(tav_strerror(TAV_E_ACCESS), tav_strerror(TAV_E_NOT_FOUND));
    tav_release(board);
}

TEST_F(BoardObjects, ListingNamesEachBoardWithItsSelectorModelAndWhetherItCanBeOpened)
{
    usb.AddBoard('S');
    usb.AddDevice(0, 0x1234, 0x5678, nullptr);
    usb.AddBoard('T').FailClaim();
    usb.AddBoard('C');
    tav::Board held;
    ASSERT_EQ(held.open("usb:1:5"), TAV_OK);
    usb.ClearLog();

    tav_device devices[8];
    ASSERT_EQ(tav_list(devices, 8, 0), 3);
    EXPECT_STREQ(devices[0].selector, "usb:001:002");
    EXPECT_EQ(devices[0].bus, 1u);
    EXPECT_EQ(devices[0].device, 2u);
    EXPECT_EQ(devices[0].openable, 1);
    EXPECT_EQ(devices[0].model, 'S');
    EXPECT_STREQ(devices[1].selector, "usb:001:004");
    EXPECT_EQ(devices[1].openable, 0); // cannot be claimed
    EXPECT_EQ(devices[1].model, 0);
    EXPECT_EQ(devices[2].openable, 0); // held by a board object
    // Listing asks each openable board for its information and sends nothing else.
    EXPECT_TRUE(SameRecords(usb.DeliveredRecords(), {tavtest::InfoRequest()}));
    EXPECT_EQ(usb.OpenHandleCount(), 1);

    ASSERT_EQ(tav_list(devices, 8, 1), 4);
    EXPECT_EQ(devices[1].vendor, 0x1234);
    EXPECT_EQ(devices[1].board, 0);
    EXPECT_EQ(devices[1].openable, 0);
    // A board object would queue the boards' records (the virtual bus has a
    // queue); another device is no board to send to.
    EXPECT_EQ(devices[0].queued, 1);
    EXPECT_EQ(devices[1].queued, 0);
    EXPECT_EQ(devices[2].queued, 1);
    EXPECT_EQ(tav_list(nullptr, 0, 0), 3); // counting only
    EXPECT_EQ(tav_list(devices, 1, 0), 3); // more than there is room for
    EXPECT_EQ(tav_list(nullptr, 1, 0), TAV_E_INVALID);

    // A program built against 1.1's tav.h calls the function tav_list with
    // its shorter tav_device (48 bytes): filled in that layout, nothing past it.
    struct Device11 {
        unsigned char bytes[48];
    };
    Device11 old[4];
    std::memset(old, 0x5a, sizeof old);
    ASSERT_EQ((tav_list)(reinterpret_cast<tav_device*>(old), 3, 0), 3);
    EXPECT_STREQ(reinterpret_cast<const char*>(old[1].bytes), "usb:001:004");
    EXPECT_EQ(old[3].bytes[0], 0x5a);
    ASSERT_EQ((tav_list)(reinterpret_cast<tav_device*>(old), 4, 1), 4);
    EXPECT_STREQ(reinterpret_cast<const char*>(old[3].bytes), "usb:001:005");
    EXPECT_EQ(tav_list_sized(devices, 8, 0, 40), TAV_E_INVALID);
}

TEST_F(BoardObjects, OpenAsksForTheModelAndSendsNothingElse)
{
    usb.AddBoard('S', {1, 0, 2, 13});
    tav::Board board;
    ASSERT_EQ(board.open("usb:1:2"), TAV_OK);
    EXPECT_EQ(board.model(), 'S');
    EXPECT_EQ(board.firmware(), "1.0.2.13");
    EXPECT_TRUE(SameRecords(usb.DeliveredRecords(), {tavtest::InfoRequest()}));
    // The pin map of model S: P4.0 is PA13.
    EXPECT_EQ(board.pinSet(TAVDll::PIN_BANK_4 | 1), TAV_OK);
    EXPECT_TRUE(SameRecords(usb.DeliveredRecords(), {tavtest::InfoRequest(), GpioSet(0, 0x2000)}));
    board.release();

    char text[4] = "xyz";
    EXPECT_EQ(tav_firmware(nullptr, text, sizeof text), TAV_E_INVALID);
    EXPECT_EQ(tav_model(nullptr), '?');
}

TEST_F(BoardObjects, BoardsAndTheDefaultBoardKeepTheirOwnModelAndHandle)
{
    tavsim::VirtualDevice& first = usb.AddBoard('S', {2, 0, 0, 0});
    tavsim::VirtualDevice& second = usb.AddBoard('T', {3, 0, 0, 0});
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(second.Device()), nullptr);
    ASSERT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_OK);

    tav::Board board;
    ASSERT_EQ(board.open("usb:1:2"), TAV_OK);
    usb.ClearLog();
    // P4.0 is PB0 on model T and PA13 on model S.
    EXPECT_EQ(TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 1), 0);
    EXPECT_EQ(board.pinSet(TAVDll::PIN_BANK_4 | 1), TAV_OK);
    const auto writes = usb.TransfersTo(tavsim::TAV_ENDPOINT_OUT);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].device, second.Device());
    EXPECT_EQ(writes[1].device, first.Device());
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_T);
    EXPECT_EQ(board.model(), 'S');
}

TEST_F(BoardObjects, DestructorClosesIntoTheSafeStateReleaseLeavesOutputs)
{
    tavsim::VirtualDevice& device = usb.AddBoard();
    const uint32_t led = TAVDll::PIN_BANK_4 | 0x100; // P4.8, PB8
    {
        tav::Board board;
        ASSERT_EQ(board.open(), TAV_OK);
        ASSERT_EQ(board.init(), TAV_OK);
        ASSERT_EQ(board.pinOutput(led), TAV_OK);
        ASSERT_EQ(board.pinSet(led), TAV_OK);
        tav::Board moved(std::move(board));
        EXPECT_FALSE(board.isOpen());
        EXPECT_EQ(board.pinSet(led), TAV_E_INVALID);
        moved.release();
    }
    EXPECT_EQ(tavmodel::BoardView(device.Board()).Pin(led).function, tavmodel::PinFunction::OutputHigh);
    EXPECT_EQ(usb.OpenHandleCount(), 0);
    {
        tav::Board board;
        ASSERT_EQ(board.open(), TAV_OK);
        usb.ClearLog();
    }
    EXPECT_EQ(tavmodel::BoardView(device.Board()).Pin(led).function, tavmodel::PinFunction::FloatingInput);
    EXPECT_EQ(tavtest::BytesOf(usb.DeliveredRecords().front()), tavtest::Remap(0).bytes);
    EXPECT_EQ(usb.DeliveredRecords().size(), 60u); // remap undone, then the 59 of the safe state
    EXPECT_EQ(usb.OpenHandleCount(), 0);
}

TEST_F(BoardObjects, OpeningAgainClosesTheBoardHeldBefore)
{
    tavsim::VirtualDevice& device = usb.AddBoard();
    const uint32_t led = TAVDll::PIN_BANK_4 | 0x100;
    tav::Board board;
    ASSERT_EQ(board.open(), TAV_OK);
    ASSERT_EQ(board.pinOutput(led), TAV_OK);
    ASSERT_EQ(board.pinSet(led), TAV_OK);
    ASSERT_EQ(board.open(), TAV_OK); // the same board: held by no one now
    EXPECT_EQ(tavmodel::BoardView(device.Board()).Pin(led).function, tavmodel::PinFunction::FloatingInput);
    EXPECT_EQ(usb.OpenHandleCount(), 1);
}

TEST_F(BoardObjects, ABoardThatDoesNotAnswerIsLetGoSoThatARetryCanOpenIt)
{
    tavsim::VirtualDevice& device = usb.AddBoard().DropReplies();
    tav_board* board = nullptr;
    EXPECT_EQ(tav_open("", &board), TAV_IO_FAILED);
    EXPECT_EQ(board, nullptr);
    EXPECT_EQ(usb.OpenHandleCount(), 0);
    device.DropReplies(false);
    ASSERT_EQ(tav_open("", &board), TAV_OK);
    tav_release(board);
}

TEST_F(BoardObjects, VirtualBoardsAreFreshAndPrivate)
{
    tav::Board first;
    tav::Board second;
    ASSERT_EQ(first.open("sim:S"), TAV_OK);
    ASSERT_EQ(second.open("sim:T"), TAV_OK);
    EXPECT_EQ(first.model(), 'S');
    EXPECT_EQ(second.model(), 'T');
    ASSERT_EQ(second.pinOutput(TAVDll::PIN_BANK_4 | 1), TAV_OK);
    EXPECT_NE(second.simStatus().find("P4.0   0x40000001  PB0   output low"), std::string::npos);
    EXPECT_NE(first.simStatus().find("P4.0   0x40000001  PA13  held by the debug port"), std::string::npos);
    EXPECT_TRUE(usb.Calls().empty()); // nothing reached the installed bus

    usb.AddBoard();
    tav::Board real;
    ASSERT_EQ(real.open(), TAV_OK);
    char text[64];
    EXPECT_EQ(tav_sim_status(real.handle(), text, sizeof text), TAV_E_NOT_VIRTUAL);
    EXPECT_EQ(real.simStatus(), "");
}

TEST_F(BoardObjects, CArgumentsAreRefusedBeforeAnythingIsSent)
{
    tav::Board board;
    ASSERT_EQ(board.open("sim:T"), TAV_OK);
    int records = 0;
    tav_set_record_callback(
        board.handle(), [](void* user, const uint8_t*, int, int) { ++*static_cast<int*>(user); }, &records);
    const uint32_t four[4] = {1, 2, 3, 4};
    const uint32_t aboveFullScale[1] = {TAV_PWM_FULL_SCALE + 1};
    tav_board* handle = board.handle();
    EXPECT_EQ(tav_pwm_start(handle, 'D', 1, four, 1), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_start(handle, 'A', 3, four, 1), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_start(handle, 'A', 256, four, 1), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_start(handle, 'A', 0, four, 1), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_start(handle, 'A', 1, four, 4), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_start(handle, 'B', 1, nullptr, 2), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_start(handle, 'B', 1, aboveFullScale, 1), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set(handle, 'A', 4, 100), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set(handle, 'C', 0, 100), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set(handle, 'B', 1, TAV_PWM_FULL_SCALE + 1), TAV_E_INVALID);
    EXPECT_EQ(tav_send_record(handle, nullptr), TAV_E_INVALID);
    EXPECT_EQ(tav_pin_set(nullptr, TAVDll::PIN_BANK_4 | 1), TAV_E_INVALID);
    EXPECT_EQ(tav_init(nullptr, 0), TAV_E_INVALID);
    EXPECT_EQ(records, 0);

    // The limits themselves are fine: 128, full scale, three duties on A.
    const uint32_t fullScale[3] = {TAV_PWM_FULL_SCALE, 0, 1};
    EXPECT_EQ(tav_pwm_start(handle, 'a', 128, fullScale, 3), TAV_OK);
    EXPECT_EQ(tav_pwm_start(handle, 'C', 2, nullptr, 0), TAV_OK);
    EXPECT_EQ(records, 14 + 17);
    EXPECT_NE(board.simStatus().find("PA10  PWM TIM1 CH3, 15.625 Hz, duty 36000/36000"), std::string::npos);
}

TEST_F(BoardObjects, CRecordsMatchTheStaticOperations)
{
    // Every C operation sends exactly what its TAVLib twin sends.
    struct Pair {
        const char* name;
        int (*viaC)(tav_board*);
        int (*viaStatic)();
    };
    const Pair pairs[] = {
        {"init", [](tav_board* board) { return tav_init(board, 258); }, [] { return TAVLib::InitTav(258); }},
        {"safe", [](tav_board* board) { return tav_safe(board); }, [] { return TAVLib::DisableAll(); }},
        {"pins", [](tav_board* board) { return tav_pin_write(board, 0x8001FFFF, 1); },
         [] { return TAVLib::Pin_Write(0x8001FFFF, 1); }},
        {"pwm A", [](tav_board* board) {
             const uint32_t duties[2] = {5, 6};
             return tav_pwm_start(board, 'A', 4, duties, 2);
         }, [] { return TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV4, 5, 6); }},
        {"pwm C", [](tav_board* board) {
             const uint32_t duties[4] = {1, 2, 3, 4};
             return tav_pwm_start(board, 'C', 128, duties, 4);
         }, [] { return TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV128, 1, 2, 3, 4, nullptr); }},
        {"pwm set", [](tav_board* board) { return tav_pwm_set(board, 'B', 4, 77); },
         [] { return TAVLib::UpdatePWMB(4, 77); }},
        {"pwm stop", [](tav_board* board) { return tav_pwm_stop(board); }, [] { return TAVLib::DisablePWM(); }},
    };
    for (const Pair& pair : pairs) {
        std::vector<_INSTRUCTION_INFO_> viaC;
        {
            tavtest::FreshBoard fresh;
            TAVLib::Initial(); // the default board lets go; the object takes the board
            tav_board* board = nullptr;
            ASSERT_EQ(tav_open("", &board), TAV_OK);
            fresh.bus.ClearLog();
            EXPECT_EQ(pair.viaC(board), TAV_OK) << pair.name;
            viaC = fresh.bus.DeliveredRecords();
            tav_release(board);
        }
        tavtest::FreshBoard fresh;
        EXPECT_EQ(pair.viaStatic(), 0) << pair.name;
        const auto viaStatic = fresh.bus.DeliveredRecords();
        ASSERT_EQ(viaC.size(), viaStatic.size()) << pair.name;
        for (size_t index = 0; index < viaC.size(); ++index)
            EXPECT_EQ(tavtest::BytesOf(viaC[index]), tavtest::BytesOf(viaStatic[index])) << pair.name << index;
    }
}

TEST_F(BoardObjects, EveryResultCodeHasWords)
{
    for (int code : {0, 2, 4, 32, 64, -1, -2, -3, -4, 7, -99}) {
        ASSERT_NE(tav_strerror(code), nullptr);
        EXPECT_STRNE(tav_strerror(code), "") << code;
    }
    EXPECT_STREQ(tav_strerror(2), "no board open");
    EXPECT_STREQ(tav_strerror(7), "unknown result code");
    EXPECT_STREQ(tav_version(), TAV_PROJECT_VERSION);
}

TEST_F(BoardObjects, CommandedStateOfARealBoardKnowsOnlyWhatThisObjectSent)
{
    tavsim::VirtualDevice& device = usb.AddBoard();
    tav::Board board;
    ASSERT_EQ(board.open(), TAV_OK);
    const uint32_t led = TAVDll::PIN_BANK_4 | 0x100;    // P4.8, PB8
    const uint32_t debugPin = TAVDll::PIN_BANK_4 | 0x8; // P4.3, PB3 (JTDO)
    const uint32_t pwmPin = TAVDll::PIN_BANK_8 | 0x1;   // P8.0, PA0 (TIM2 CH1)
    auto state = [&](uint32_t pin) {
        tav_pin_state pinState{};
        EXPECT_EQ(tav_pin_state_get(board.handle(), pin, &pinState), TAV_OK);
        return pinState;
    };
    EXPECT_FALSE(state(led).known); // an earlier program may have left anything

    ASSERT_EQ(board.pinOutput(led | debugPin), TAV_OK);
    EXPECT_TRUE(state(led).known);
    EXPECT_EQ(state(led).function, TAV_PIN_OUTPUT_LOW);
    EXPECT_STREQ(state(led).name, "P4.8");
    EXPECT_STREQ(state(led).mcu_pin, "PB8");
    ASSERT_EQ(board.pinSet(led), TAV_OK);
    EXPECT_EQ(state(led).function, TAV_PIN_OUTPUT_HIGH);
    EXPECT_FALSE(state(debugPin).known); // whether the debug port holds it is not known yet

    ASSERT_EQ(board.pwmSet('B', 1, 100), TAV_OK);
    EXPECT_FALSE(state(pwmPin).known);
    ASSERT_EQ(board.init(), TAV_OK);
    EXPECT_TRUE(state(debugPin).known);
    EXPECT_EQ(state(debugPin).function, TAV_PIN_FLOATING_INPUT);
    ASSERT_EQ(board.pwmStart('B', 2, {9000}), TAV_OK);
    const tav_pin_state pwm = state(pwmPin);
    EXPECT_TRUE(pwm.known);
    EXPECT_EQ(pwm.function, TAV_PIN_PWM);
    EXPECT_EQ(pwm.timer, 2);
    EXPECT_DOUBLE_EQ(pwm.frequency_hz, 1000.0);
    EXPECT_DOUBLE_EQ(pwm.duty_percent, 25.0);
    EXPECT_STREQ(pwm.description, tavmodel::BoardView(device.Board()).Pin(pwmPin).Describe().c_str());

    // A record that failed changed nothing in the commanded state.
    ASSERT_EQ(board.pinOutput(led), TAV_OK); // init floated it
    device.FailWrite(device.WriteCount() + 2, tavsim::WriteFault::Error);
    EXPECT_EQ(board.pinSet(led), TAV_OK);
    EXPECT_EQ(board.pinReset(led), TAV_IO_FAILED);
    EXPECT_EQ(state(led).function, TAV_PIN_OUTPUT_HIGH);

    tav_pin_state unused{};
    EXPECT_EQ(tav_pin_state_get(board.handle(), TAVDll::PIN_BANK_4 | 0x3, &unused), TAV_BAD_PIN);
    EXPECT_EQ(tav_pin_state_get(board.handle(), led, nullptr), TAV_E_INVALID);
}

// A PWM pin's timer that this object only reset is known too: stopped, as
// the reset leaves it; one it never touched is not.
TEST_F(BoardObjects, CommandedStateKnowsATimerThisObjectOnlyReset)
{
    tavsim::VirtualDevice& device = usb.AddBoard();
    tav::Board board;
    ASSERT_EQ(board.open(), TAV_OK);
    const uint32_t pwmPin = TAVDll::PIN_BANK_8 | 0x1; // P8.0, PA0 (TIM2 CH1)
    tavtest::Wire alternate(TAVDll::CLASS_GPIO, TAVDll::GPIO_OP_INIT);
    alternate.U8(2, 3).U8(3, 0x18).U32(8, 0).U32(12, 0x1); // PA0 as TIM2's output
    ASSERT_EQ(tav_send_record(board.handle(), alternate.bytes.data()), TAV_OK);
    tav_pin_state state{};
    ASSERT_EQ(tav_pin_state_get(board.handle(), pwmPin, &state), TAV_OK);
    EXPECT_FALSE(state.known);
    tavtest::Wire deInit(TAVDll::CLASS_TIM, TAVDll::TIM_OP_DEINIT);
    deInit.U32(8, 1); // TIM2
    ASSERT_EQ(tav_send_record(board.handle(), deInit.bytes.data()), TAV_OK);
    ASSERT_EQ(tav_pin_state_get(board.handle(), pwmPin, &state), TAV_OK);
    EXPECT_TRUE(state.known);
    EXPECT_STREQ(state.description, tavmodel::BoardView(device.Board()).Pin(pwmPin).Describe().c_str());
    // The reset cleared every compare value: each channel's duty is known,
    // unit 4 (group B's channel 4, group C's channel 1) as much as unit 1.
    for (const auto& [group, timer] : {std::pair<char, uint32_t>{'B', 1}, {'C', 2}}) {
        tavtest::Wire reset(TAVDll::CLASS_TIM, TAVDll::TIM_OP_DEINIT);
        reset.U32(8, timer);
        ASSERT_EQ(tav_send_record(board.handle(), reset.bytes.data()), TAV_OK);
        tav_pwm_group_state group_state{};
        ASSERT_EQ(tav_pwm_group_state_get(board.handle(), group, &group_state), TAV_OK);
        for (unsigned channel = 0; channel < 4; ++channel)
            EXPECT_EQ(group_state.duty_known[channel], 1) << group << " channel " << channel + 1;
    }
}

// A group's state as the board object commanded it, on a real board of a
// model without a pin map: nothing known before this object set the timer,
// then the divider, the running state and each duty it set.
TEST_F(BoardObjects, CommandedStateOfAGroupOnEveryModel)
{
    usb.AddBoard('C');
    tav::Board board;
    ASSERT_EQ(board.open(), TAV_OK);
    tav_pwm_group_state state{};
    ASSERT_EQ(tav_pwm_group_state_get(board.handle(), 'B', &state), TAV_OK);
    EXPECT_EQ(state.known, 0);
    EXPECT_EQ(state.duty_known[0], 0);
    EXPECT_EQ(state.channel_count, 4u);
    ASSERT_EQ(board.pwmSet('B', 2, 4500), TAV_OK); // its output-compare set-up: that duty is known
    ASSERT_EQ(tav_pwm_group_state_get(board.handle(), 'B', &state), TAV_OK);
    EXPECT_EQ(state.known, 0);
    EXPECT_EQ(state.duty_known[1], 1);
    EXPECT_EQ(state.duty[1], 4500u);
    EXPECT_EQ(state.duty_known[0], 0);
    ASSERT_EQ(board.pwmStart('b', 8, {9000, 18000}), TAV_OK);
    ASSERT_EQ(tav_pwm_group_state_get(board.handle(), 'b', &state), TAV_OK);
    EXPECT_EQ(state.known, 1);
    EXPECT_EQ(state.running, 1);
    EXPECT_EQ(state.divider, 8);
    EXPECT_DOUBLE_EQ(state.frequency_hz, 250.0);
    for (int channel = 0; channel < 4; ++channel)
        EXPECT_EQ(state.duty_known[channel], 1) << channel;
    EXPECT_EQ(state.duty[0], 9000u);
    EXPECT_EQ(state.duty[1], 18000u);
    ASSERT_EQ(tav_pwm_group_state_get(board.handle(), 'A', &state), TAV_OK);
    EXPECT_EQ(state.known, 0);
    EXPECT_EQ(state.channel_count, 3u);
    // Group A's outputs need TIM1's main output on: counting alone is not running.
    ASSERT_EQ(board.pwmStart('A', 1, {9000}), TAV_OK);
    ASSERT_EQ(tav_pwm_group_state_get(board.handle(), 'A', &state), TAV_OK);
    EXPECT_EQ(state.running, 1);
    tavtest::Wire outputsOff(TAVDll::CLASS_TIM, TAVDll::TIM_OP_CTRL_PWM_OUTPUTS);
    outputsOff.U32(8, 0).U32(12, 0); // TIM_CtrlPWMOutputs(TIM1, DISABLE)
    ASSERT_EQ(tav_send_record(board.handle(), outputsOff.bytes.data()), TAV_OK);
    ASSERT_EQ(tav_pwm_group_state_get(board.handle(), 'A', &state), TAV_OK);
    EXPECT_EQ(state.running, 0);
    ASSERT_EQ(board.pwmStop(), TAV_OK);
    ASSERT_EQ(tav_pwm_group_state_get(board.handle(), 'B', &state), TAV_OK);
    EXPECT_EQ(state.running, 0);
    EXPECT_EQ(state.duty[0], 0u); // the timers' reset
    EXPECT_EQ(state.duty_known[0], 1);
    EXPECT_EQ(tav_pwm_group_state_get(board.handle(), 'D', &state), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_group_state_get(board.handle(), 'B', nullptr), TAV_E_INVALID);
}

// Groups A and C drive channel 1 from their highest output-compare unit: a
// group's state names each duty by the channel it was set on.
TEST_F(BoardObjects, GroupStateNamesDutiesByTheGroupsChannels)
{
    usb.AddBoard('T');
    tav::Board board;
    ASSERT_EQ(board.open(), TAV_OK);
    tav_pwm_group_state state{};
    ASSERT_EQ(board.pwmStart('A', 1, {1000, 2000, 3000}), TAV_OK);
    ASSERT_EQ(tav_pwm_group_state_get(board.handle(), 'A', &state), TAV_OK);
    EXPECT_EQ(state.duty[0], 1000u);
    EXPECT_EQ(state.duty[1], 2000u);
    EXPECT_EQ(state.duty[2], 3000u);
    ASSERT_EQ(board.pwmSet('C', 1, 4500), TAV_OK); // unit 4 of TIM3
    ASSERT_EQ(tav_pwm_group_state_get(board.handle(), 'C', &state), TAV_OK);
    EXPECT_EQ(state.duty_known[0], 1);
    EXPECT_EQ(state.duty[0], 4500u);
    EXPECT_EQ(state.duty_known[3], 0);
}

// The commanded state reads the common GPIO records in place and the rest
// through the whole decoder: after any mix of GPIO records, valid or not,
// it shows each pin this object set as the board model shows it.
TEST_F(BoardObjects, CommandedStateFollowsAnyMixOfGpioRecordsAsTheBoardDoes)
{
    tavsim::VirtualDevice& device = usb.AddBoard();
    tav::Board board;
    ASSERT_EQ(board.open(), TAV_OK);
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    const uint8_t operations[] = {TAVDll::GPIO_OP_INIT, TAVDll::GPIO_OP_SET_BITS, TAVDll::GPIO_OP_RESET_BITS};
    const uint8_t modes[] = {0x04, 0x10, 0x28, 0x48, 0x14, 0x00};
    for (int round = 0; round < 3000; ++round) {
        const uint32_t masks[] = {0, 0x10000, 1u << (next() % 16), next() & 0xFFFF, next()};
        tavtest::Wire record(TAVDll::CLASS_GPIO, operations[next() % 3]);
        record.U8(2, 3).U8(3, modes[next() % 6]).U32(8, next() % 4).U32(12, masks[next() % 5]);
        ASSERT_EQ(tav_send_record(board.handle(), record.bytes.data()), TAV_OK);
    }
    int known = 0;
    for (const auto& row : TAVDll::detail::PIN_MAP) {
        tav_pin_state state{};
        ASSERT_EQ(tav_pin_state_get(board.handle(), row.pinId, &state), TAV_OK);
        if (!state.known)
            continue;
        ++known;
        EXPECT_STREQ(state.description, tavmodel::BoardView(device.Board()).Pin(row.pinId).Describe().c_str())
            << state.name;
    }
    EXPECT_GT(known, 20);
}

// A group started without init: its pins are known and run PWM as on the
// board; the pins of the other groups, whose timers this object never set,
// are not known.
TEST_F(BoardObjects, CommandedStateOfEachGroupStartedAlone)
{
    for (const char group : {'A', 'B', 'C'}) {
        tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false);
        tav::Board board;
        ASSERT_EQ(board.open(), TAV_OK);
        ASSERT_EQ(board.pwmStart(group, 1, {9000, 9000, 9000}), TAV_OK);
        int running = 0;
        for (const auto& row : TAVDll::detail::PIN_MAP) {
            tav_pin_state state{};
            ASSERT_EQ(tav_pin_state_get(board.handle(), row.pinId, &state), TAV_OK);
            const tavmodel::PinStatus onBoard = tavmodel::BoardView(fresh.device.Board()).Pin(row.pinId);
            if (onBoard.function != tavmodel::PinFunction::Pwm)
                continue;
            ++running;
            EXPECT_TRUE(state.known) << group << " " << state.name;
            EXPECT_EQ(state.function, TAV_PIN_PWM) << group << " " << state.name;
            EXPECT_EQ(state.timer, group - 'A' + 1) << state.name;
            EXPECT_STREQ(state.description, onBoard.Describe().c_str());
        }
        EXPECT_EQ(running, group == 'A' ? 3 : 4) << group;
        for (const char other : {'A', 'B', 'C'}) {
            if (other == group)
                continue;
            tav_pin_state state{};
            // Channel 1's pin of the other group: P8.0 is TIM2 CH1 (B), P4.0 TIM3 CH3 (C), P8.8 TIM1 CH1 (A).
            const uint32_t pin = other == 'B' ? (TAVDll::PIN_BANK_8 | 0x1) : other == 'C' ? (TAVDll::PIN_BANK_4 | 0x1)
                                                                                          : (TAVDll::PIN_BANK_8 | 0x100);
            ASSERT_EQ(tav_pin_state_get(board.handle(), pin, &state), TAV_OK);
            EXPECT_FALSE(state.known) << group << " started, " << state.name << " of " << other;
        }
    }
}

TEST_F(BoardObjects, CommandedStateOfAVirtualBoardIsTheBoard)
{
    tav::Board board;
    ASSERT_EQ(board.open("sim:S"), TAV_OK);
    tav_pin_state state{};
    ASSERT_EQ(tav_pin_state_get(board.handle(), TAVDll::PIN_BANK_4 | 0x1, &state), TAV_OK);
    EXPECT_TRUE(state.known);
    EXPECT_EQ(state.function, TAV_PIN_DEBUG_PORT);
    EXPECT_STREQ(state.mcu_pin, "PA13");
    tav::Board modelC;
    ASSERT_EQ(modelC.open("sim:C"), TAV_OK);
    ASSERT_EQ(tav_pin_state_get(modelC.handle(), TAVDll::PIN_BANK_4 | 0x1, &state), TAV_OK);
    EXPECT_EQ(state.function, TAV_PIN_NOT_DRIVEN);
    EXPECT_STREQ(state.mcu_pin, "-");
}

} // namespace
