// Several threads on one board and on several boards: every operation's
// records reach the wire as one unbroken run on the right device. Built as a
// test program of its own so that a ThreadSanitizer build can run it alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/library_mutex.h"
#include "board_fixture.h"
#include "model/board_view.h"
#include "tav/board.hpp"

using TAVDll::TAVLib;

namespace {

using Records = std::vector<_INSTRUCTION_INFO_>;

constexpr int ROUNDS = 40;

// The records one operation sends on a fresh board of the installed kind.
Records RecordsOf(const std::function<int()>& operation)
{
    tavtest::FreshBoard fresh;
    EXPECT_EQ(operation(), 0);
    return fresh.bus.DeliveredRecords();
}

// Reads the wire log as a chain of whole operations, each one of the
// expected sequences; names the first record that breaks the chain.
::testing::AssertionResult WholeOperations(const Records& wire, const std::vector<Records>& sequences,
                                           std::vector<int>* counts)
{
    counts->assign(sequences.size(), 0);
    size_t position = 0;
    while (position < wire.size()) {
        bool matched = false;
        for (size_t kind = 0; kind < sequences.size() && !matched; ++kind) {
            const Records& sequence = sequences[kind];
            if (position + sequence.size() > wire.size())
                continue;
            matched = true;
            for (size_t offset = 0; offset < sequence.size() && matched; ++offset)
                matched = tavtest::BytesOf(wire[position + offset]) == tavtest::BytesOf(sequence[offset]);
            if (matched) {
                ++(*counts)[kind];
                position += sequence.size();
            }
        }
        if (!matched)
            return ::testing::AssertionFailure() << "record " << position + 1 << " of " << wire.size()
                                                 << " starts no whole operation: "
                                                 << tavtest::Describe(tavtest::BytesOf(wire[position]).data());
    }
    return ::testing::AssertionSuccess();
}

void RunTogether(const std::vector<std::function<void()>>& bodies)
{
    std::vector<std::thread> threads;
    for (const auto& body : bodies)
        threads.emplace_back([&body] {
            for (int round = 0; round < ROUNDS; ++round)
                body();
        });
    for (std::thread& thread : threads)
        thread.join();
}

const uint32_t ALL_BANK_4 = TAVDll::PIN_BANK_4 | 0xFFFF;

// One by one and through the bus's queue ("queued:").
class ThreadsOnOneBoard : public ::testing::TestWithParam<const char*> {};

TEST_P(ThreadsOnOneBoard, OneBoardObjectFromThreeThreadsNeverInterleaves)
{
    const std::vector<Records> sequences = {
        RecordsOf([] { return TAVLib::InitTav(7); }),
        RecordsOf([] { return TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV2, 1, 2, 3, 4, nullptr); }),
        RecordsOf([] { return TAVLib::Pin_Set(ALL_BANK_4); }),
    };
    tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false);
    tav::Board board;
    ASSERT_EQ(board.open(GetParam()), TAV_OK);
    fresh.bus.ClearLog();
    const uint32_t duties[4] = {1, 2, 3, 4};
    RunTogether({[&] { board.init(7); }, [&] { board.pwmStart('B', 2, duties, 4); },
                 [&] { board.pinSet(ALL_BANK_4); }});
    std::vector<int> counts;
    EXPECT_TRUE(WholeOperations(fresh.bus.DeliveredRecords(), sequences, &counts));
    EXPECT_EQ(counts, (std::vector<int>{ROUNDS, ROUNDS, ROUNDS}));
    EXPECT_EQ(fresh.bus.CountCalls(tavsim::UsbCall::QueueWrite) > 0, std::string(GetParam()) != "sync:");
}

// One transfer at a time, queued by default, and queued as asked.
INSTANTIATE_TEST_SUITE_P(Sending, ThreadsOnOneBoard, ::testing::Values("sync:", "", "queued:"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             const std::string selector = info.param;
                             return std::string(selector == "sync:" ? "OneByOne" : selector.empty() ? "Queued"
                                                                                                   : "QueuedAsked");
                         });

TEST(Threads, TheDefaultBoardFromThreeThreadsNeverInterleaves)
{
    const std::vector<Records> sequences = {
        RecordsOf([] { return TAVLib::DisableAll(); }),
        RecordsOf([] { return TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV8, 9, 8, 7, 6, nullptr); }),
        RecordsOf([] { return TAVLib::Pin_DirOutput(TAVDll::PIN_BANK_8 | 0x1FFFF); }),
    };
    tavtest::FreshBoard fresh;
    RunTogether({[] { TAVLib::DisableAll(); }, [] { TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV8, 9, 8, 7, 6, nullptr); },
                 [] { TAVLib::Pin_DirOutput(TAVDll::PIN_BANK_8 | 0x1FFFF); }});
    std::vector<int> counts;
    EXPECT_TRUE(WholeOperations(fresh.bus.DeliveredRecords(), sequences, &counts));
    EXPECT_EQ(counts, (std::vector<int>{ROUNDS, ROUNDS, ROUNDS}));
}

TEST(Threads, TwoBoardsOnOneBusFromTwoThreadsEachGetTheirOwnRecords)
{
    const Records initSequence = RecordsOf([] { return TAVLib::InitTav(1); });
    const Records pinSequence = RecordsOf([] { return TAVLib::Pin_Reset(ALL_BANK_4); });
    tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false);
    tavsim::VirtualDevice& second = fresh.bus.AddBoard();
    tav::Board first;
    tav::Board other;
    ASSERT_EQ(first.open("usb:1:2"), TAV_OK);
    ASSERT_EQ(other.open("usb:1:3"), TAV_OK);
    fresh.bus.ClearLog();
    // Discovery from further threads runs alongside (libusb's bus list is shared).
    RunTogether({[&] { first.init(1); }, [&] { other.pinReset(ALL_BANK_4); },
                 [] {
                     tav_board* extra = nullptr;
                     if (tav_open("usb:1:2", &extra) == TAV_OK)
                         tav_release(extra);
                 }});
    std::vector<Records> perDevice(2);
    for (const tavsim::Transfer& transfer : fresh.bus.TransfersTo(tavsim::TAV_ENDPOINT_OUT)) {
        _INSTRUCTION_INFO_ record;
        ASSERT_EQ(transfer.bytes.size(), sizeof record);
        std::memcpy(&record, transfer.bytes.data(), sizeof record);
        perDevice[transfer.device == second.Device() ? 1 : 0].push_back(record);
    }
    std::vector<int> counts;
    EXPECT_TRUE(WholeOperations(perDevice[0], {initSequence}, &counts));
    EXPECT_EQ(counts[0], ROUNDS);
    EXPECT_TRUE(WholeOperations(perDevice[1], {pinSequence}, &counts));
    EXPECT_EQ(counts[0], ROUNDS);
}

// The log callback set, called and taken away from several threads at once
// (ThreadSanitizer checks the hand-over).
TEST(Threads, TheLogCallbackFromSeveralThreads)
{
    tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false);
    tav::Board held;
    ASSERT_EQ(held.open("usb:1:2"), TAV_OK);
    static std::atomic<int> heard{0};
    const tav_log_callback count = [](int, const char*, void*) { heard.fetch_add(1); };
    tav_set_log_callback(count, nullptr);
    auto refused = [] {
        tav_board* board = nullptr;
        EXPECT_EQ(tav_open("usb:1:2", &board), TAV_E_ACCESS); // held: the claim fails, and says why
    };
    static std::atomic<int> swaps{0};
    RunTogether({refused, refused, [&] {
                     tav_set_log_callback(swaps.fetch_add(1) % 2 == 0 ? nullptr : count, nullptr);
                     std::this_thread::yield();
                 }});
    tav_set_log_callback(count, nullptr);
    refused();
    EXPECT_GT(heard.load(), 0);
    tav_set_log_callback(nullptr, nullptr);
}

// Watchers started and stopped while boards come and go and other threads
// open them: every stop is clean (ThreadSanitizer checks the hand-overs).
TEST(Threads, WatchingStopsCleanlyWhileBoardsComeAndGo)
{
    tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false);
    tavsim::VirtualDevice& second = fresh.bus.AddBoard('S');
    static std::atomic<int> events{0};
    const tav_watch_callback count = [](const tav_event*, void*) { events.fetch_add(1); };
    RunTogether({[&] {
                     tav_watcher* watcher = nullptr;
                     ASSERT_EQ(tav_watch(count, nullptr, 10, &watcher), TAV_OK);
                     // Its first look, however slowly its thread starts (a
                     // busy machine), then stopped while the others run.
                     const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                     while (events.load() == 0 && std::chrono::steady_clock::now() < giveUp)
                         std::this_thread::sleep_for(std::chrono::microseconds(100));
                     tav_unwatch(watcher);
                 },
                 [&] { fresh.bus.Replug(second); },
                 [] {
                     tav_board* board = nullptr;
                     if (tav_open("usb:1:2", &board) == TAV_OK)
                         tav_release(board);
                 }});
    EXPECT_GT(events.load(), 0);
}

// A reattaching board unplugged and plugged in again while other threads
// call it, then closed: its thread stops cleanly, calls never block on it
// for long (ThreadSanitizer checks the hand-overs).
TEST(Threads, AReattachingBoardHealsAndClosesWhileCalled)
{
    tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false);
    tavsim::VirtualDevice& device = fresh.bus.DeviceAt(0);
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("reattach:", &board), TAV_OK);
    static std::atomic<int> transitions{0};
    tav_set_connection_callback(board, [](tav_board*, int, void*) { transitions.fetch_add(1); }, nullptr);
    std::atomic<bool> done{false};
    std::thread plugging([&] {
        for (int round = 0; round < 2; ++round) {
            fresh.bus.Unplug(device);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            fresh.bus.Replug(device);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        done.store(true);
    });
    while (!done.load()) {
        tav_pin_set(board, ALL_BANK_4);
        tav_connected(board);
    }
    plugging.join();
    tav_close(board);
    EXPECT_GT(transitions.load(), 0);
}

// A reattach:sim: board unplugged and plugged 100 times while two threads
// call: nothing crashes, a call that did not reach the board is not counted
// as sent, and after the last plug the board is as the calls that returned
// TAV_OK left it (each thread owns a pin and knows its last level).
TEST(Threads, AVirtualBoardReplugged100TimesWhileTwoThreadsCall)
{
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("reattach:sim:T", &board), TAV_OK);
    ASSERT_EQ(tav_init(board, 0), TAV_OK);
    const uint32_t pins[2] = {0x40000100, 0x40000400}; // P4.8, P4.10
    ASSERT_EQ(tav_pin_output(board, pins[0] | pins[1]), TAV_OK);
    std::atomic<bool> stop{false};
    int lastLevel[2] = {0, 0};
    std::vector<std::thread> callers;
    for (int index = 0; index < 2; ++index)
        callers.emplace_back([&, index] {
            for (int call = 0; !stop.load(); ++call) {
                const int level = call & 1;
                if (tav_pin_write(board, pins[index], level) == TAV_OK)
                    lastLevel[index] = level;
                tav_connected(board);
            }
        });
    const auto waitFor = [board](int connected) {
        for (int tries = 0; tries < 500 && tav_connected(board) != connected; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return tav_connected(board) == connected;
    };
    for (int round = 0; round < 100; ++round) {
        ASSERT_EQ(tav_sim_unplug(board), TAV_OK);
        ASSERT_TRUE(waitFor(0)) << round;
        ASSERT_EQ(tav_sim_plug(board), TAV_OK);
        ASSERT_TRUE(waitFor(1)) << round;
    }
    stop.store(true);
    for (std::thread& caller : callers)
        caller.join();
    // One more replug with no caller: the board comes back as commanded.
    ASSERT_EQ(tav_sim_unplug(board), TAV_OK);
    ASSERT_EQ(tav_sim_plug(board), TAV_OK);
    ASSERT_TRUE(waitFor(1));
    for (int index = 0; index < 2; ++index) {
        tav_pin_state state{};
        ASSERT_EQ(tav_pin_state_get(board, pins[index], &state), TAV_OK);
        EXPECT_EQ(state.function, lastLevel[index] ? TAV_PIN_OUTPUT_HIGH : TAV_PIN_OUTPUT_LOW) << state.name;
    }
    tav_close(board);
}

// Two threads disconnecting one reattach board at once, many times over.
TEST(Threads, TwoDisconnectsOfOneHealingBoardAtOnce)
{
    for (int round = 0; round < 20; ++round) {
        tav_board* board = nullptr;
        ASSERT_EQ(tav_open("reattach:sim:T", &board), TAV_OK);
        std::thread first([board] { tav_disconnect(board, 1); });
        std::thread second([board] { tav_disconnect(board, 0); });
        first.join();
        second.join();
        EXPECT_EQ(tav_connected(board), 0);
        tav_close(board);
    }
}

TEST(Threads, VirtualBoardsInTheirOwnThreads)
{
    tav::Board boards[2];
    ASSERT_EQ(boards[0].open("sim:T"), TAV_OK);
    ASSERT_EQ(boards[1].open("sim:S"), TAV_OK);
    RunTogether({[&] { boards[0].pwmStart('A', 1, {100, 200, 300}); }, [&] { boards[1].init(); },
                 [&] { boards[0].pinOutput(TAVDll::PIN_BANK_4 | 0x100); }});
    EXPECT_NE(boards[0].simStatus().find("PA10  PWM TIM1 CH3, 2000 Hz, duty 100/36000"), std::string::npos);
    EXPECT_NE(boards[0].simStatus().find("P4.8   0x40000100  PB8   output low"), std::string::npos);
    EXPECT_NE(boards[1].simStatus().find("P4.0   0x40000001  PA13  floating input"), std::string::npos);
}

// Closing a board while calls on it run in other threads: one call is inside
// (held in the record callback), more wait for the board; the close waits
// for all of them, and those that come after the close find it closed.
// Freeing under them shows as a use-after-free (ASan) or a crash.
TEST(Threads, CloseWaitsForTheCallsRunningOnTheBoard)
{
    for (const bool safeState : {true, false}) {
        for (int round = 0; round < 10; ++round) {
            tav_board* board = nullptr;
            ASSERT_EQ(tav_open("sim:T", &board), TAV_OK);
            struct Hold {
                std::atomic<bool> inside{false};
                std::atomic<bool> letGo{false};
            } hold;
            ASSERT_EQ(tav_set_record_callback(
                          board,
                          [](void* user, const uint8_t*, int, int) {
                              auto* held = static_cast<Hold*>(user);
                              if (held->inside.exchange(true))
                                  return;
                              while (!held->letGo)
                                  std::this_thread::yield();
                          },
                          &hold),
                      TAV_OK);
            std::atomic<int> notOpen{0};
            std::thread inside([&] { tav_pin_set(board, TAVDll::PIN_BANK_4 | 0x100); });
            while (!hold.inside)
                std::this_thread::yield();
            std::vector<std::thread> waiting;
            std::atomic<int> calling{0};
            for (int index = 0; index < 3; ++index)
                waiting.emplace_back([&] {
                    ++calling;
                    if (tav_pin_reset(board, TAVDll::PIN_BANK_4 | 0x100) == TAV_NOT_OPEN)
                        ++notOpen;
                });
            while (calling < 3)
                std::this_thread::yield();
            // Calls must have started before the close (a later one is the
            // caller's fault): give them ample time to be waiting for the board.
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            std::thread closer([&] { safeState ? tav_close(board) : tav_release(board); });
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            hold.letGo = true;
            inside.join();
            for (std::thread& thread : waiting)
                thread.join();
            closer.join();
            EXPECT_LE(notOpen.load(), 3);
        }
    }
}

// Callers that keep calling (each call returning TAV_NOT_OPEN once the board
// is closed) must not hold a disconnect off: it returns while they still
// call. A watchdog ends the calling if it does not, so that the test fails
// instead of hanging.
TEST(Threads, CallersThatKeepCallingDoNotHoldADisconnectOff)
{
    constexpr int BOARDS = 1;
    tav_board* boards[BOARDS] = {};
    for (tav_board*& board : boards)
        ASSERT_EQ(tav_open("sim:T", &board), TAV_OK);
    std::atomic<bool> stop{false};
    std::atomic<bool> disconnected{false};
    // Each caller says once that it is calling, then spends nearly all its
    // time inside the library (nothing shared is written between calls), so
    // that a disconnect that waited for every caller to be out at once
    // would wait for good.
    constexpr int CALLERS = 8;
    std::atomic<int> calling{0};
    std::vector<std::thread> callers;
    for (int index = 0; index < CALLERS; ++index)
        callers.emplace_back([&, board = boards[index % BOARDS]] {
            for (int calls = 0; !stop.load(std::memory_order_relaxed); ++calls) {
                tav_pin_set(board, TAVDll::PIN_BANK_4 | 0x100);
                if (calls == 100)
                    ++calling;
            }
        });
    std::thread watchdog([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!disconnected && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop = true;
    });
    while (calling < CALLERS)
        std::this_thread::yield();
    for (tav_board* board : boards)
        EXPECT_EQ(tav_disconnect(board, 1), TAV_OK);
    const bool whileCalled = !stop;
    disconnected = true;
    watchdog.join();
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_TRUE(whileCalled) << "a disconnect waited until the callers stopped";
    for (tav_board* board : boards)
        tav_close(board);
}

TEST(Threads, DisconnectKeepsTheObjectAndLaterCallsFindItClosed)
{
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("sim:T", &board), TAV_OK);
    ASSERT_EQ(tav_pin_output(board, TAVDll::PIN_BANK_4 | 0x100), TAV_OK);
    ASSERT_EQ(tav_pin_set(board, TAVDll::PIN_BANK_4 | 0x100), TAV_OK);
    EXPECT_EQ(tav_disconnect(board, 1), TAV_OK);
    char view[8192];
    ASSERT_EQ(tav_sim_status(board, view, sizeof view), TAV_OK);
    EXPECT_NE(std::string(view).find("P4.8   0x40000100  PB8   floating input"), std::string::npos) << view;
    EXPECT_EQ(tav_pin_set(board, TAVDll::PIN_BANK_4 | 0x100), TAV_NOT_OPEN);
    EXPECT_EQ(tav_model(board), 'T');
    char firmware[16];
    EXPECT_EQ(tav_firmware(board, firmware, sizeof firmware), TAV_NOT_OPEN); // as every later call
    EXPECT_EQ(tav_disconnect(board, 0), TAV_OK);
    tav_close(board); // frees it; the Close sequence is not sent again
    EXPECT_EQ(tav_disconnect(nullptr, 1), TAV_E_INVALID);
}

// A board's lock: a thread that wants it while another holds it waits until
// it is let go, then has it; every thread of many takes it in turn.
TEST(LibraryLocks, AHeldLockMakesTheNextThreadWait)
{
    TAVDll::detail::LibraryMutex lock;
    std::atomic<bool> taken{false};
    lock.lock();
    std::thread waiter([&] {
        lock.lock();
        taken.store(true);
        lock.unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(taken.load()) << "taken while held";
    lock.unlock();
    waiter.join();
    EXPECT_TRUE(taken.load());

    int inside = 0;
    int most = 0;
    long rounds = 0;
    std::vector<std::thread> threads;
    for (int index = 0; index < 4; ++index) {
        threads.emplace_back([&] {
            for (int round = 0; round < 2000; ++round) {
                std::lock_guard<TAVDll::detail::LibraryMutex> held(lock);
                most = std::max(most, ++inside);
                ++rounds;
                --inside;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(most, 1);
    EXPECT_EQ(rounds, 8000);
}

} // namespace
