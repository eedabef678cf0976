// Virtual boards as a program's own tests use them (unplug, plug, faults,
// edges), and "reattach:" objects taken through those replugs: what is
// restored, who is told, and what may be called from the callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board_fixture.h"
#include "tav/board.hpp"
#include "tav/tav.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t P4_8 = 0x40000100;
constexpr uint32_t P4_10 = 0x40000400;
constexpr uint32_t P8_0 = 0x80000001;

// Waits (5 s at most) until condition holds.
template <typename Condition>
bool Eventually(Condition condition)
{
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

using tavtest::Transitions;

std::string View(tav_board* board)
{
    std::string text(8192, '\0');
    EXPECT_EQ(tav_sim_status(board, text.data(), text.size()), TAV_OK);
    text.resize(std::strlen(text.c_str()));
    return text;
}

tav_pwm_group_state Group(tav_board* board, char group)
{
    tav_pwm_group_state state{};
    EXPECT_EQ(tav_pwm_group_state_get(board, group, &state), TAV_OK);
    return state;
}

class VirtualBoards : public ::testing::TestWithParam<char> {};

// The board leaves and comes back at power-on; a plain object stays let go.
TEST_P(VirtualBoards, UnplugAndPlugAsARealBoardDoes)
{
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open(std::string("sim:").append(1, GetParam()).c_str(), &board), TAV_OK);
    ASSERT_EQ(tav_init(board, 0), TAV_OK);
    const uint32_t duties[] = {9000};
    ASSERT_EQ(tav_pwm_start(board, 'B', 1, duties, 1), TAV_OK);
    EXPECT_EQ(tav_sim_plug(board), TAV_OK); // plugged already: nothing changes
    EXPECT_EQ(tav_connected(board), 1);
    ASSERT_EQ(tav_sim_unplug(board), TAV_OK);
    EXPECT_EQ(tav_sim_unplug(board), TAV_OK);
    EXPECT_EQ(tav_pwm_set(board, 'B', 1, 100), TAV_IO_FAILED); // finds it gone
    EXPECT_EQ(tav_connected(board), 0);
    EXPECT_EQ(tav_pwm_set(board, 'B', 1, 100), TAV_NOT_OPEN);
    EXPECT_EQ(tav_init(board, 0), TAV_IO_FAILED);
    ASSERT_EQ(tav_sim_plug(board), TAV_OK);
    EXPECT_EQ(tav_connected(board), 0); // no reattach: let go for good
    EXPECT_FALSE(Group(board, 'B').running); // powered anew
    tav_close(board);
}

// Each fault on a one-record and a many-record operation, one by one and
// queued: a time-out stops the operation, a stall or short write does not,
// an unplug lets the board go.
TEST_P(VirtualBoards, FaultsMeetTheRecordTheyName)
{
    for (const char* prefix : {"sim:", "queued:sim:"}) {
        SCOPED_TRACE(prefix);
        const std::string selector = std::string(prefix).append(1, GetParam());
        struct Case {
            int kind;
            int result;      // of a 17-record group start whose 5th record meets it
            size_t arrived;  // whole records the board executed of the 17
            int connected;
        };
        for (const Case& fault : {Case{TAV_SIM_TIMEOUT, TAV_IO_FAILED, 4, 1}, Case{TAV_SIM_STALL, TAV_IO_FAILED, 16, 1},
                                  Case{TAV_SIM_SHORT_WRITE, TAV_IO_FAILED, 16, 1},
                                  Case{TAV_SIM_UNPLUG, TAV_IO_FAILED, 4, 0}}) {
            SCOPED_TRACE(fault.kind);
            tav_board* board = nullptr;
            ASSERT_EQ(tav_open(selector.c_str(), &board), TAV_OK);
            ASSERT_EQ(tav_sim_set_virtual_time(board, 1), TAV_OK);
            ASSERT_EQ(tav_sim_fail(board, fault.kind, 5), TAV_OK);
            const uint32_t duties[] = {1, 2, 3, 4};
            EXPECT_EQ(tav_pwm_start(board, 'C', 2, duties, 4), fault.result);
            EXPECT_EQ(tav_connected(board), fault.connected);
            // The records that arrived: the group's pins of its first channels.
            tav_pwm_group_state state{};
            ASSERT_EQ(tav_pwm_group_state_get(board, 'C', &state), TAV_OK);
            EXPECT_EQ(state.running, fault.arrived == 16 ? 1 : 0);
            if (fault.connected == 1) {
                // One fault, one record: the next operation goes through.
                EXPECT_EQ(tav_pwm_set(board, 'C', 4, 7), TAV_OK);
                EXPECT_EQ(Group(board, 'C').duty[3], 7u);
            }
            tav_close(board);
        }
        // A one-record operation meeting a fault at once.
        tav_board* board = nullptr;
        ASSERT_EQ(tav_open(selector.c_str(), &board), TAV_OK);
        ASSERT_EQ(tav_sim_fail(board, TAV_SIM_TIMEOUT, 1), TAV_OK);
        ASSERT_EQ(tav_sim_fail(board, TAV_SIM_STALL, 2), TAV_OK); // several pending
        EXPECT_EQ(tav_pwm_set(board, 'A', 1, 5), TAV_IO_FAILED);
        EXPECT_EQ(tav_pwm_set(board, 'A', 1, 5), TAV_IO_FAILED);
        EXPECT_EQ(tav_pwm_set(board, 'A', 1, 5), TAV_OK);
        tav_close(board);
    }
}

INSTANTIATE_TEST_SUITE_P(Models, VirtualBoards, ::testing::Values('T', 'S', 'C'));

TEST(VirtualBoardCalls, RefuseWhatTheyCannotDo)
{
    tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false); // a real board, as far as the library knows
    (void)fresh;
    tav_board* real = nullptr;
    ASSERT_EQ(tav_open("", &real), TAV_OK);
    tav_sim_edge edge{};
    EXPECT_EQ(tav_sim_unplug(real), TAV_E_NOT_VIRTUAL);
    EXPECT_EQ(tav_sim_plug(real), TAV_E_NOT_VIRTUAL);
    EXPECT_EQ(tav_sim_fail(real, TAV_SIM_STALL, 1), TAV_E_NOT_VIRTUAL);
    EXPECT_EQ(tav_sim_edges(real, P4_8, &edge, 1), TAV_E_NOT_VIRTUAL);
    EXPECT_EQ(tav_sim_set_virtual_time(real, 1), TAV_E_NOT_VIRTUAL);
    EXPECT_EQ(tav_sim_advance(real, 1000), TAV_E_NOT_VIRTUAL);
    char text[64];
    EXPECT_EQ(tav_sim_status(real, text, sizeof text), TAV_E_NOT_VIRTUAL);
    EXPECT_EQ(tav_sim_write_vcd(real, "/dev/null"), TAV_E_NOT_VIRTUAL);
    tav_close(real);

    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("sim:T", &board), TAV_OK);
    EXPECT_EQ(tav_sim_unplug(nullptr), TAV_E_INVALID);
    EXPECT_EQ(tav_sim_plug(nullptr), TAV_E_INVALID);
    EXPECT_EQ(tav_sim_fail(nullptr, TAV_SIM_STALL, 1), TAV_E_INVALID);
    for (int kind : {0, 5, -1})
        EXPECT_EQ(tav_sim_fail(board, kind, 1), TAV_E_INVALID) << kind;
    EXPECT_EQ(tav_sim_fail(board, TAV_SIM_STALL, 0), TAV_E_INVALID);
    EXPECT_EQ(tav_sim_fail(board, TAV_SIM_STALL, 0x80000000u), TAV_E_INVALID);
    EXPECT_EQ(tav_sim_fail(board, TAV_SIM_STALL, 0x7FFFFFFFu), TAV_OK);
    EXPECT_EQ(tav_sim_edges(board, P4_8 | P4_10, &edge, 1), TAV_BAD_PIN);
    EXPECT_EQ(tav_sim_edges(board, P4_8, nullptr, 1), TAV_E_INVALID);
    EXPECT_EQ(tav_sim_edges(nullptr, P4_8, &edge, 1), TAV_E_INVALID);
    EXPECT_EQ(tav_pin_set(board, P4_8), TAV_OK); // nothing pending went off early
    tav_close(board);
}

// The same calls on a C++ board object.
TEST(VirtualBoardCalls, FromCplusplus)
{
    tav::Board board;
    ASSERT_EQ(board.open("reattach:sim:S"), TAV_OK);
    ASSERT_EQ(board.pinOutput(P8_0), TAV_OK);
    EXPECT_EQ(board.sim().fail(TAV_SIM_STALL, 1), TAV_OK);
    EXPECT_EQ(board.pinSet(P8_0), TAV_IO_FAILED);
    EXPECT_EQ(board.pinSet(P8_0), TAV_OK);
    tav_sim_edge edges[4];
    EXPECT_EQ(board.sim().edges(P8_0, edges, 4), 2); // output low, then high
    EXPECT_EQ(edges[1].level, 1);
    EXPECT_EQ(board.sim().unplug(), TAV_OK);
    ASSERT_TRUE(Eventually([&] { return !board.connected(); }));
    EXPECT_EQ(board.sim().plug(), TAV_OK);
    ASSERT_TRUE(Eventually([&] { return board.connected(); }));
    tav::Board real;
    EXPECT_EQ(real.sim().unplug(), TAV_E_INVALID); // no board at all
}

// Edges: levels in time order on the virtual clock, a PWM pin's settings,
// capacity 0 counts, a replug's power-on shows as the pin let go.
TEST(VirtualBoardCalls, EdgesOfOnePin)
{
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("sim:T", &board), TAV_OK);
    ASSERT_EQ(tav_sim_set_virtual_time(board, 1), TAV_OK);
    ASSERT_EQ(tav_init(board, 0), TAV_OK);
    ASSERT_EQ(tav_sim_advance(board, 1000), TAV_OK);
    ASSERT_EQ(tav_pin_output(board, P4_8), TAV_OK); // low
    ASSERT_EQ(tav_sim_advance(board, 1000), TAV_OK);
    ASSERT_EQ(tav_pin_set(board, P4_8), TAV_OK);
    ASSERT_EQ(tav_pin_set(board, P4_10), TAV_OK); // another pin: no edge of P4.8
    ASSERT_EQ(tav_sim_advance(board, 500), TAV_OK);
    ASSERT_EQ(tav_pin_set(board, P4_8), TAV_OK); // no change
    ASSERT_EQ(tav_pin_reset(board, P4_8), TAV_OK);
    EXPECT_EQ(tav_sim_edges(board, P4_8, nullptr, 0), 3);
    tav_sim_edge edges[8] = {};
    ASSERT_EQ(tav_sim_edges(board, P4_8, edges, 2), 3); // fills two
    EXPECT_EQ(edges[2].time_ns, 0u);
    ASSERT_EQ(tav_sim_edges(board, P4_8, edges, 8), 3);
    EXPECT_EQ(edges[0].time_ns, 1000u);
    EXPECT_EQ(edges[0].level, 0);
    EXPECT_EQ(edges[1].time_ns, 2000u);
    EXPECT_EQ(edges[1].level, 1);
    EXPECT_EQ(edges[2].time_ns, 2500u);
    EXPECT_EQ(edges[2].level, 0);

    // Group B channel 1 is P8.0 on model T: started, retuned, full scale, stopped.
    const uint32_t duties[] = {9000};
    ASSERT_EQ(tav_sim_advance(board, 1000), TAV_OK);
    ASSERT_EQ(tav_pwm_start(board, 'B', 1, duties, 1), TAV_OK);
    ASSERT_EQ(tav_sim_advance(board, 1000), TAV_OK);
    ASSERT_EQ(tav_pwm_set(board, 'B', 1, 18000), TAV_OK);
    ASSERT_EQ(tav_pwm_set(board, 'B', 1, 36000), TAV_OK);
    ASSERT_EQ(tav_sim_advance(board, 1000), TAV_OK);
    ASSERT_EQ(tav_pwm_stop(board), TAV_OK);
    ASSERT_EQ(tav_sim_edges(board, P8_0, edges, 8), 3);
    EXPECT_EQ(edges[0].level, TAV_SIM_PWM);
    EXPECT_EQ(edges[0].time_ns, 3500u);
    EXPECT_EQ(edges[1].level, 1); // 18000, then full scale at the same moment: the latest wins
    EXPECT_EQ(edges[1].time_ns, 4500u);
    EXPECT_EQ(edges[2].level, TAV_SIM_NOT_DRIVEN); // stopped: its pin floats
    EXPECT_EQ(edges[2].time_ns, 5500u);
    tav_close(board);
}

// A "reattach:" virtual board unplugged while the program makes no call:
// noticed, reported, found again and restored within the look interval, every
// group with its duties by channel, three replugs in a row.
TEST(Healing, AnIdleReplugIsRestoredWithEveryGroupAsItWas)
{
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("reattach:sim:T", &board), TAV_OK);
    Transitions transitions;
    ASSERT_EQ(tav_set_connection_callback(board, Transitions::Add, &transitions), TAV_OK);
    ASSERT_EQ(tav_init(board, 3), TAV_OK);
    const uint32_t groupA[] = {1000, 2000, 3000};
    const uint32_t groupB[] = {4000, 5000, 6000, 7000};
    const uint32_t groupC[] = {8000, 9000, 10000, 11000};
    ASSERT_EQ(tav_pwm_start(board, 'A', 2, groupA, 3), TAV_OK);
    ASSERT_EQ(tav_pwm_start(board, 'B', 4, groupB, 4), TAV_OK);
    ASSERT_EQ(tav_pwm_start(board, 'C', 8, groupC, 4), TAV_OK);
    ASSERT_EQ(tav_pin_output(board, P4_8 | P4_10), TAV_OK);
    ASSERT_EQ(tav_pin_set(board, P4_10), TAV_OK);
    // What the board's original operations never send comes back as well.
    const double servo[] = {7.5};
    ASSERT_EQ(tav_pwm_start_hz(board, 'B', 50, servo, 1, nullptr), TAV_OK);
    ASSERT_EQ(tav_pin_input_pull(board, 0x40000001, TAV_PULL_UP), TAV_OK);
    ASSERT_EQ(tav_pin_output_open_drain(board, 0x40000002), TAV_OK);
    ASSERT_EQ(tav_pin_set(board, 0x40000002), TAV_OK);
    const std::string before = View(board);
    for (size_t round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(tav_sim_unplug(board), TAV_OK);
        ASSERT_GE(transitions.WaitFor(2 * round - 1).size(), 2 * round - 1);
        ASSERT_EQ(tav_sim_plug(board), TAV_OK);
        ASSERT_GE(transitions.WaitFor(2 * round).size(), 2 * round);
        EXPECT_EQ(View(board), before);
        EXPECT_EQ(Group(board, 'A').duty[0], 1000u);
        EXPECT_EQ(Group(board, 'C').duty[0], 8000u);
        EXPECT_EQ(Group(board, 'C').duty[3], 11000u);
        EXPECT_EQ(Group(board, 'B').full_scale, 65455u);
    }
    EXPECT_EQ(transitions.Seen(), (std::vector<int>{0, 1, 0, 1, 0, 1}));
    EXPECT_EQ(tav_connected(board), 1);
    EXPECT_EQ(tav_pin_reset(board, P4_10), TAV_OK); // and it goes on
    tav_close(board);
}

// An unplug and a plug back between two looks is still a replug: the
// device number changed, the board was powered anew.
TEST(Healing, AReplugBetweenTwoLooksIsNoticed)
{
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("reattach:sim:S", &board), TAV_OK);
    Transitions transitions;
    ASSERT_EQ(tav_set_connection_callback(board, Transitions::Add, &transitions), TAV_OK);
    ASSERT_EQ(tav_init(board, 0), TAV_OK);
    ASSERT_EQ(tav_pin_output(board, P8_0), TAV_OK);
    ASSERT_EQ(tav_pin_set(board, P8_0), TAV_OK);
    ASSERT_EQ(tav_sim_unplug(board), TAV_OK);
    ASSERT_EQ(tav_sim_plug(board), TAV_OK);
    ASSERT_GE(transitions.WaitFor(2).size(), 2u);
    EXPECT_EQ(transitions.Seen(), (std::vector<int>{0, 1}));
    tav_pin_state state{};
    ASSERT_EQ(tav_pin_state_get(board, P8_0, &state), TAV_OK);
    EXPECT_EQ(state.function, TAV_PIN_OUTPUT_HIGH);
    tav_close(board);
}

// The policies on a virtual board: safe sends the safe state, none nothing.
TEST(Healing, PoliciesOnAVirtualBoard)
{
    for (const char* selector : {"reattach-safe:sim:T", "reattach-none:queued:sim:T"}) {
        SCOPED_TRACE(selector);
        tav_board* board = nullptr;
        ASSERT_EQ(tav_open(selector, &board), TAV_OK);
        Transitions transitions;
        ASSERT_EQ(tav_set_connection_callback(board, Transitions::Add, &transitions), TAV_OK);
        ASSERT_EQ(tav_init(board, 0), TAV_OK);
        ASSERT_EQ(tav_pin_output(board, P4_8), TAV_OK);
        ASSERT_EQ(tav_sim_fail(board, TAV_SIM_UNPLUG, 1), TAV_OK);
        EXPECT_EQ(tav_pin_set(board, P4_8), TAV_IO_FAILED);
        ASSERT_GE(transitions.WaitFor(1).size(), 1u);
        ASSERT_EQ(tav_sim_plug(board), TAV_OK);
        ASSERT_GE(transitions.WaitFor(2).size(), 2u);
        tav_pin_state state{};
        ASSERT_EQ(tav_pin_state_get(board, P4_8, &state), TAV_OK);
        EXPECT_EQ(state.function, TAV_PIN_FLOATING_INPUT);
        tav_close(board);
    }
}

// Closing, releasing or disconnecting from the board's own connection
// callback: no abort, no hang; the object is freed once the callback returns.
TEST(Healing, TheConnectionCallbackMayCloseItsBoard)
{
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        tav_board* board = nullptr;
        ASSERT_EQ(tav_open("reattach:sim:T", &board), TAV_OK);
        struct Closer {
            int how;
            std::atomic<bool> done{false};
            static void OnConnection(tav_board* board, int, void* user)
            {
                auto* closer = static_cast<Closer*>(user);
                if (closer->how == 0)
                    tav_close(board);
                else if (closer->how == 1)
                    tav_release(board);
                else
                    EXPECT_EQ(tav_disconnect(board, 1), TAV_OK);
                closer->done = true;
            }
        } closer{how};
        ASSERT_EQ(tav_set_connection_callback(board, Closer::OnConnection, &closer), TAV_OK);
        ASSERT_EQ(tav_sim_unplug(board), TAV_OK);
        ASSERT_TRUE(Eventually([&] { return closer.done.load(); }));
        if (how == 2) {
            EXPECT_EQ(tav_pin_set(board, P4_8), TAV_NOT_OPEN);
            tav_close(board);
        }
        std::this_thread::sleep_for(50ms); // the healer frees it after the callback (ASan: no leak, no reuse)
    }
}

// Once tav_set_connection_callback(board, NULL) returns, the old callback
// has returned and is never called again.
TEST(Healing, ARemovedConnectionCallbackHasReturned)
{
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("reattach:sim:T", &board), TAV_OK);
    struct Slow {
        std::atomic<bool> inside{false};
        std::atomic<bool> returned{false};
        std::atomic<int> calls{0};
        static void OnConnection(tav_board*, int, void* user)
        {
            auto* slow = static_cast<Slow*>(user);
            ++slow->calls;
            slow->inside = true;
            std::this_thread::sleep_for(200ms);
            slow->returned = true;
        }
    } slow;
    ASSERT_EQ(tav_set_connection_callback(board, Slow::OnConnection, &slow), TAV_OK);
    ASSERT_EQ(tav_sim_unplug(board), TAV_OK);
    ASSERT_TRUE(Eventually([&] { return slow.inside.load(); }));
    ASSERT_EQ(tav_set_connection_callback(board, nullptr, nullptr), TAV_OK);
    EXPECT_TRUE(slow.returned.load());
    ASSERT_EQ(tav_sim_plug(board), TAV_OK);
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(slow.calls.load(), 1);
    tav_close(board);
}

// Two boards whose callbacks, both running, close each other's board:
// neither waits for the other's thread, so neither hangs.
TEST(Healing, CallbacksThatCloseEachOthersBoards)
{
    tav_board* first = nullptr;
    tav_board* second = nullptr;
    ASSERT_EQ(tav_open("reattach:sim:T", &first), TAV_OK);
    ASSERT_EQ(tav_open("reattach:sim:T", &second), TAV_OK);
    struct Meeting {
        std::mutex mutex;
        std::condition_variable met;
        int arrived = 0;
        std::atomic<int> closed{0};
    } meeting;
    struct Other {
        tav_board* board;
        Meeting* meeting;
        std::atomic<bool> called{false};
        static void OnConnection(tav_board*, int, void* user)
        {
            auto* other = static_cast<Other*>(user);
            if (other->called.exchange(true))
                return;
            {
                // Both callbacks are running before either closes.
                std::unique_lock<std::mutex> lock(other->meeting->mutex);
                ++other->meeting->arrived;
                other->meeting->met.notify_all();
                other->meeting->met.wait_for(lock, 5s, [other] { return other->meeting->arrived == 2; });
            }
            tav_close(other->board);
            ++other->meeting->closed;
        }
    };
    Other closesSecond{second, &meeting};
    Other closesFirst{first, &meeting};
    ASSERT_EQ(tav_set_connection_callback(first, Other::OnConnection, &closesSecond), TAV_OK);
    ASSERT_EQ(tav_set_connection_callback(second, Other::OnConnection, &closesFirst), TAV_OK);
    ASSERT_EQ(tav_sim_unplug(first), TAV_OK);
    ASSERT_EQ(tav_sim_unplug(second), TAV_OK);
    ASSERT_TRUE(Eventually([&] { return meeting.closed.load() == 2; }));
    std::this_thread::sleep_for(100ms); // each board is freed by its own thread as its callback returns
}

// A log callback that calls the library (lists boards, asks a board) from
// a line logged while the library held its locks: no deadlock.
TEST(Healing, ALogCallbackMayCallTheLibrary)
{
    // A claim that fails is logged while the board's lock and the discovery
    // lock are held.
    tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false);
    fresh.device.FailClaim();
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("sim:T", &board), TAV_OK);
    struct Listener {
        tav_board* board;
        std::atomic<int> lines{0};
        static void OnLine(int, const char*, void* user)
        {
            auto* listener = static_cast<Listener*>(user);
            if (listener->lines++ > 0)
                return;
            tav_device devices[4];
            EXPECT_GE(tav_list(devices, 4, 0), 1);
            char firmware[32];
            EXPECT_EQ(tav_firmware(listener->board, firmware, sizeof firmware), TAV_OK);
        }
    } listener{board};
    tav_set_log_callback(Listener::OnLine, &listener);
    tav_board* real = nullptr;
    ASSERT_EQ(tav_open("", &real), TAV_E_ACCESS);
    tav_set_log_callback(nullptr, nullptr);
    EXPECT_GE(listener.lines.load(), 1);
    tav_close(board);
}

// After tav_set_log_callback(NULL) returns, no call of the old callback is
// running or will run, while three threads log (each open of a board whose
// interface cannot be claimed logs why).
TEST(Healing, ARemovedLogCallbackHasReturnedWhileThreadsLog)
{
    tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false);
    fresh.device.FailClaim();
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int index = 0; index < 3; ++index)
        threads.emplace_back([&stop] {
            while (!stop.load()) {
                tav_board* board = nullptr;
                if (tav_open("", &board) == TAV_OK)
                    tav_close(board);
            }
        });
    int delivered = 0;
    for (int round = 0; round < 50; ++round) {
        struct Counter {
            std::atomic<int> running{0};
            std::atomic<int> calls{0};
            std::atomic<bool> removed{false};
            std::atomic<int> late{0};
            static void OnLine(int, const char*, void* user)
            {
                auto* counter = static_cast<Counter*>(user);
                ++counter->running;
                ++counter->calls;
                if (counter->removed.load())
                    ++counter->late;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                --counter->running;
            }
        };
        auto* counter = new Counter;
        tav_set_log_callback(Counter::OnLine, counter);
        // Removed while lines come: after the first one (wine's clock may
        // return a short sleep at once, so it is waited for, not timed).
        EXPECT_TRUE(Eventually([&] { return counter->calls.load() > 0; }));
        tav_set_log_callback(nullptr, nullptr);
        counter->removed = true;
        EXPECT_EQ(counter->running.load(), 0);
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        EXPECT_EQ(counter->late.load(), 0);
        delivered += counter->calls.load();
        delete counter; // ASan: no use after free
    }
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_GT(delivered, 50); // the threads did log
}

// Disconnected from its own callback (its thread ends unjoined), then closed
// from inside another callback of the library's: freed at once, never leaked
// (the sanitizer and valgrind runs hold it).
TEST(Healing, ABoardDisconnectedFromItsCallbackClosedFromAnotherCallback)
{
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("reattach:sim:T", &board), TAV_OK);
    std::atomic<bool> disconnected{false};
    ASSERT_EQ(tav_set_connection_callback(
                  board,
                  [](tav_board* own, int, void* user) {
                      tav_disconnect(own, 0);
                      static_cast<std::atomic<bool>*>(user)->store(true);
                  },
                  &disconnected),
              TAV_OK);
    ASSERT_EQ(tav_sim_unplug(board), TAV_OK);
    ASSERT_TRUE(Eventually([&] { return disconnected.load(); }));
    std::this_thread::sleep_for(50ms); // its thread has ended
    struct Closer {
        tav_board* board;
        std::atomic<bool> closed{false};
        static void OnEvent(const tav_event*, void* user)
        {
            auto* closer = static_cast<Closer*>(user);
            if (!closer->closed.exchange(true))
                tav_close(closer->board);
        }
    } closer{board};
    tavtest::FreshBoard fresh; // a bus with a board: the watcher has an event to give
    tav_watcher* watcher = nullptr;
    ASSERT_EQ(tav_watch(Closer::OnEvent, &closer, 10, &watcher), TAV_OK);
    ASSERT_TRUE(Eventually([&] { return closer.closed.load(); }));
    tav_unwatch(watcher);
}

// Board objects print nothing: a board that does not answer its
// information request is said through the log only.
TEST(Healing, BoardObjectsPrintNothing)
{
    tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false);
    fresh.device.DropReplies();
    const std::string printed = tavtest::CaptureStdout([] {
        tav_board* board = nullptr;
        EXPECT_EQ(tav_open("", &board), TAV_IO_FAILED);
        tav_device devices[2];
        EXPECT_EQ(tav_list(devices, 2, 0), 1);
        EXPECT_EQ(devices[0].openable, 0);
    });
    EXPECT_EQ(printed, "");
}

// A selector with control bytes is quoted in every message, never echoed raw.
TEST(Healing, SelectorMessagesQuoteControlBytes)
{
    char reason[256];
    ASSERT_EQ(tav_parse_selector("sim:T\n", reason, sizeof reason), TAV_E_INVALID);
    EXPECT_EQ(std::string(reason).find('\n'), std::string::npos);
    EXPECT_NE(std::string(reason).find("'sim:T\\x0a'"), std::string::npos) << reason;
    std::vector<std::string> lines;
    tav_set_log_callback(
        [](int, const char* text, void* user) { static_cast<std::vector<std::string>*>(user)->push_back(text); },
        &lines);
    tavtest::SetEnvironment("TAV_DEVICE", "sim:T\x1b[31m");
    tav_board* board = nullptr;
    EXPECT_EQ(tav_open("", &board), TAV_E_INVALID);
    tavtest::UnsetEnvironment("TAV_DEVICE");
    tav_set_log_callback(nullptr, nullptr);
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0], "TAV_DEVICE='sim:T\\x1b[31m' is not a board selector");
    const std::string forty(40, 'y'); // just within the quoting's length: whole
    ASSERT_EQ(tav_parse_selector(forty.c_str(), reason, sizeof reason), TAV_E_INVALID);
    EXPECT_EQ(std::string(reason).rfind("'" + forty + "' is not", 0), 0u) << reason;
    const std::string longText(60, 'x');
    ASSERT_EQ(tav_parse_selector(longText.c_str(), reason, sizeof reason), TAV_E_INVALID);
    EXPECT_EQ(std::string(reason).rfind("'" + std::string(40, 'x') + "...' (60 characters) is not", 0), 0u) << reason;
}

// A watcher sees a virtual board arrive, leave at an unplug and arrive again
// under a new number at a plug, and leave when it is closed. (Boards of
// other tests may still be let go in this process: ours is the newest,
// the highest board number.)
TEST(Healing, WatchersSeeVirtualBoardsComeAndGo)
{
    struct Events {
        std::mutex mutex;
        std::vector<std::array<unsigned, 3>> seen; // kind, board, plug
        static void On(const tav_event* event, void* user)
        {
            auto* events = static_cast<Events*>(user);
            if (std::string(event->device->library) != "sim")
                return;
            std::lock_guard<std::mutex> lock(events->mutex);
            events->seen.push_back({static_cast<unsigned>(event->kind), event->device->bus, event->device->device});
        }
        std::vector<std::array<unsigned, 3>> Of(unsigned board)
        {
            std::lock_guard<std::mutex> lock(mutex);
            std::vector<std::array<unsigned, 3>> ours;
            for (const auto& event : seen)
                if (event[1] == board)
                    ours.push_back(event);
            return ours;
        }
        unsigned Newest()
        {
            std::lock_guard<std::mutex> lock(mutex);
            unsigned newest = 0;
            for (const auto& event : seen)
                newest = std::max(newest, event[1]);
            return newest;
        }
    } events;
    tavtest::FreshBoard fresh; // the process's bus: a harness's, so that no real USB is looked at
    (void)fresh;
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("sim:C", &board), TAV_OK);
    tav_watcher* watcher = nullptr;
    ASSERT_EQ(tav_watch(Events::On, &events, 10, &watcher), TAV_OK);
    ASSERT_TRUE(Eventually([&] { return events.Newest() != 0; }));
    const unsigned ours = events.Newest();
    const unsigned arrived = TAV_EVENT_ARRIVED;
    const unsigned left = TAV_EVENT_LEFT;
    ASSERT_EQ(tav_sim_unplug(board), TAV_OK);
    ASSERT_TRUE(Eventually([&] { return events.Of(ours).size() == 2; }));
    ASSERT_EQ(tav_sim_plug(board), TAV_OK);
    ASSERT_TRUE(Eventually([&] { return events.Of(ours).size() == 3; }));
    tav_close(board);
    ASSERT_TRUE(Eventually([&] { return events.Of(ours).size() == 4; }));
    tav_unwatch(watcher);
    EXPECT_EQ(events.Of(ours), (std::vector<std::array<unsigned, 3>>{
                                   {arrived, ours, 1}, {left, ours, 1}, {arrived, ours, 2}, {left, ours, 2}}));
}

} // namespace
