// PWM and pins beyond the board's original operations: any frequency,
// duties in percent and pulses, one group stopped alone, pull-up, pull-down
// and open-drain pins. Checked on the wire (bytes from the layout tables)
// and on the virtual board.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>
#include <cstdint>
#include <limits>
#include <vector>

#include "board_fixture.h"
#include "tav/board.hpp"
#include "tav/tav.h"

namespace {

using tavtest::Wire;

constexpr double CLOCK_HZ = 72e6;

// A board on the process's virtual bus, opened as a real one is, so that
// every transfer is in the bus's log.
class ExtendedPwm : public ::testing::Test {
protected:
    void SetUp() override
    {
        device = &usb.AddBoard(model);
        ASSERT_EQ(tav_open("", &board), TAV_OK);
        usb.ClearLog();
    }
    void TearDown() override { tav_release(board); }

    std::vector<_INSTRUCTION_INFO_> Sent() const { return usb.DeliveredRecords(); }
    tav_pwm_group_state Group(char group)
    {
        tav_pwm_group_state state{};
        EXPECT_EQ(tav_pwm_group_state_get(board, group, &state), TAV_OK);
        return state;
    }

    char model = 'T';
    tavsim::VirtualUsb usb;
    tavsim::VirtualDevice* device = nullptr;
    tav_board* board = nullptr;
};

// The start of group B at a time base: gate, time base, four channels (pin,
// compare, preload), then the timer started.
std::vector<Wire> GroupBStart(uint32_t prescaler, uint32_t period, const uint32_t (&pulses)[4])
{
    std::vector<Wire> records{tavtest::ClockGate(TAVDll::RCC_OP_APB1_CLOCK, 0x1, 1),
                              Wire(TAVDll::CLASS_TIM, TAVDll::TIM_OP_TIME_BASE_INIT)
                                  .U32(8, 1)
                                  .U32(12, prescaler)
                                  .U32(20, period)};
    const uint32_t masks[4] = {0x1, 0x2, 0x4, 0x8};
    for (int channel = 0; channel < 4; ++channel) {
        records.push_back(tavtest::GpioInit(0, masks[channel], 0x18));
        records.push_back(tavtest::OutputCompare(static_cast<uint8_t>(channel + 1), 1, pulses[channel]));
        records.push_back(tavtest::TimValue(static_cast<uint8_t>(TAVDll::TIM_OP_OC1_PRELOAD + channel), 1, 8));
    }
    records.push_back(tavtest::TimValue(TAVDll::TIM_OP_ARR_PRELOAD, 1, 1));
    records.push_back(tavtest::TimValue(TAVDll::TIM_OP_CMD, 1, 1));
    records.push_back(tavtest::TimValue(TAVDll::TIM_OP_CTRL_PWM_OUTPUTS, 1, 1));
    return records;
}

// 50 Hz (servos), 20 kHz (motors) and 1 Hz on the wire: the time base with
// the most steps within 0.1 %, duties as steps of it.
TEST_F(ExtendedPwm, FrequenciesOnTheWire)
{
    struct Case {
        double hz;
        uint32_t prescaler;
        uint32_t period;
        double duties[4];
        uint32_t pulses[4];
    };
    // 72 MHz / 22 / 65455 = 49.99965 Hz; / 1 / 3600 = 20 kHz; / 1098 / 65536
    // = 1.00058 Hz (the finest prescaler within 0.1 %: 1097 is 0.15 % off).
    const Case cases[] = {{50, 21, 65454, {7.5, 5, 10, 100}, {4909, 3273, 6546, 65455}},
                          {20000, 0, 3599, {50, 0, 25, 12.5}, {1800, 0, 900, 450}},
                          {1, 1097, 65535, {50, 0, 0, 0}, {32768, 0, 0, 0}}};
    for (const Case& want : cases) {
        SCOPED_TRACE(want.hz);
        usb.ClearLog();
        double reached = 0;
        ASSERT_EQ(tav_pwm_start_hz(board, 'B', want.hz, want.duties, 4, &reached), TAV_OK);
        EXPECT_TRUE(tavtest::SameRecords(Sent(), GroupBStart(want.prescaler, want.period, want.pulses)));
        EXPECT_DOUBLE_EQ(reached, CLOCK_HZ / ((want.prescaler + 1.0) * (want.period + 1.0)));
        EXPECT_LE(std::fabs(reached - want.hz) / want.hz, 0.001);
        const tav_pwm_group_state state = Group('B');
        EXPECT_EQ(state.full_scale, want.period + 1);
        EXPECT_EQ(state.prescaler, want.prescaler);
        EXPECT_EQ(state.divider, 0);
        EXPECT_EQ(state.running, 1);
        EXPECT_NEAR(state.frequency_hz, reached, 1e-9);
    }
    // The dividers' start is what it always was, and says so.
    const uint32_t duties[] = {100, 200, 300, 400};
    ASSERT_EQ(tav_pwm_start(board, 'B', 4, duties, 4), TAV_OK);
    const tav_pwm_group_state state = Group('B');
    EXPECT_EQ(state.full_scale, 36000u);
    EXPECT_EQ(state.divider, 4);
}

// Where no time base reaches the frequency within 0.1 %, the nearest one is
// chosen; where several do, the finest prescaler (the most steps) with its
// nearest period. Checked against every prescaler.
TEST_F(ExtendedPwm, TheTimeBaseIsTheBestThereIs)
{
    for (double hz : {700000.0, 719999.0, 333333.0, 123456.7, 47.123, 0.0168, 0.02, 65537.0, 1098.7654}) {
        SCOPED_TRACE(hz);
        usb.ClearLog();
        double reached = 0;
        ASSERT_EQ(tav_pwm_start_hz(board, 'C', hz, nullptr, 0, &reached), TAV_OK);
        const std::vector<_INSTRUCTION_INFO_> sent = Sent();
        ASSERT_GE(sent.size(), 2u);
        const uint32_t prescaler = sent[1].wordParam[1];
        const uint32_t period = sent[1].wordParam[3];
        const double chosenError = std::fabs(CLOCK_HZ / ((prescaler + 1.0) * (period + 1.0)) - hz) / hz;
        EXPECT_GE(period + 1, 100u);
        EXPECT_LE(period, 65535u);
        EXPECT_LE(prescaler, 65535u);
        // Every (divisor, steps) with 100 to 65536 steps: the finest divisor
        // that has a period within 0.1 % (its nearest period), else the
        // pair nearest to the frequency.
        double bestError = std::numeric_limits<double>::infinity();
        uint32_t finestDivisor = 0;
        uint32_t finestSteps = 0;
        for (uint32_t divisor = 1; divisor <= 65536; ++divisor) {
            const double exact = CLOCK_HZ / hz / divisor;
            for (double steps : {std::floor(exact), std::ceil(exact), 65536.0}) {
                if (steps < 100 || steps > 65536)
                    continue;
                const double error = std::fabs(CLOCK_HZ / (divisor * steps) - hz) / hz;
                bestError = std::min(bestError, error);
                const bool nearer = finestDivisor == divisor
                                    && error < std::fabs(CLOCK_HZ / (divisor * finestSteps) - hz) / hz;
                if (error <= 0.001 && (finestDivisor == 0 || nearer)) {
                    finestDivisor = divisor;
                    finestSteps = static_cast<uint32_t>(steps);
                }
            }
        }
        if (finestDivisor > 0) {
            EXPECT_LE(chosenError, 0.001);
            EXPECT_EQ(prescaler + 1, finestDivisor);
            EXPECT_EQ(period + 1, finestSteps);
        } else {
            EXPECT_LE(chosenError, bestError * (1 + 1e-12)); // the nearest there is
        }
    }
}

// Bad input: refused, nothing sent.
TEST_F(ExtendedPwm, BadInputSendsNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const double good[] = {50};
    for (double hz : {nan, infinity, -infinity, 0.0, -50.0, 0.0167, 720001.0, 1e12})
        EXPECT_EQ(tav_pwm_start_hz(board, 'A', hz, good, 1, nullptr), TAV_E_INVALID) << hz;
    EXPECT_EQ(tav_pwm_start_hz(board, 'A', 720000.0, good, 1, nullptr), TAV_OK);
    EXPECT_EQ(tav_pwm_start_hz(board, 'A', 72e6 / 4294967296.0, good, 1, nullptr), TAV_OK);
    usb.ClearLog();
    for (double duty : {-0.1, 100.1, nan, infinity}) {
        const double duties[] = {10, duty};
        EXPECT_EQ(tav_pwm_start_hz(board, 'B', 50, duties, 2, nullptr), TAV_E_INVALID) << duty;
    }
    const double four[] = {1, 2, 3, 4};
    EXPECT_EQ(tav_pwm_start_hz(board, 'A', 50, four, 4, nullptr), TAV_E_INVALID); // A has 3 channels
    EXPECT_EQ(tav_pwm_start_hz(board, 'D', 50, good, 1, nullptr), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_start_hz(board, 'B', 50, nullptr, 1, nullptr), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_start_hz(nullptr, 'B', 50, good, 1, nullptr), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set_percent(board, 'B', 1, 100.5), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set_percent(board, 'B', 1, nan), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set_percent(board, 'B', 5, 10), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set_percent(board, 'A', 0, 10), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set_pulse(board, 'B', 1, 1500), TAV_E_INVALID); // B is not running
    EXPECT_EQ(tav_pwm_stop_group(board, 'E'), TAV_E_INVALID);
    EXPECT_EQ(tav_pin_input_pull(board, 0x40000100, 0), TAV_E_INVALID);
    EXPECT_EQ(tav_pin_input_pull(board, 0x40000100, 3), TAV_E_INVALID);
    EXPECT_EQ(tav_pin_input_pull(nullptr, 0x40000100, TAV_PULL_UP), TAV_E_INVALID);
    EXPECT_EQ(tav_pin_output_open_drain(board, 0x20000001), TAV_BAD_PIN);
    EXPECT_EQ(usb.CountCalls(tavsim::UsbCall::BulkWrite), 0u);
}

// Servo pulses and percent duties in the group's own steps; counts of
// tav_pwm_set are of that full scale too.
TEST_F(ExtendedPwm, PulsesAndPercentOfTheRunningTimeBase)
{
    ASSERT_EQ(tav_pwm_start_hz(board, 'B', 50, nullptr, 0, nullptr), TAV_OK); // 22 x 65455 steps
    usb.ClearLog();
    ASSERT_EQ(tav_pwm_set_pulse(board, 'B', 2, 1500), TAV_OK);  // 1500 us x 72 / 22 = 4909.09
    ASSERT_EQ(tav_pwm_set_pulse(board, 'B', 3, 1000), TAV_OK);  // 3272.7
    ASSERT_EQ(tav_pwm_set_percent(board, 'B', 4, 50), TAV_OK);  // 32727.5
    ASSERT_EQ(tav_pwm_set(board, 'B', 1, 65455), TAV_OK);       // full scale of this time base
    EXPECT_TRUE(tavtest::SameRecords(Sent(), {tavtest::OutputCompare(2, 1, 4909), tavtest::OutputCompare(3, 1, 3273),
                                              tavtest::OutputCompare(4, 1, 32728), tavtest::OutputCompare(1, 1, 65455)}));
    usb.ClearLog();
    EXPECT_EQ(tav_pwm_set(board, 'B', 1, 65456), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set_pulse(board, 'B', 1, 20001), TAV_E_INVALID); // the period is 19999.9 us
    EXPECT_EQ(tav_pwm_set_pulse(board, 'B', 1, -1), TAV_E_INVALID);
    EXPECT_EQ(usb.CountCalls(tavsim::UsbCall::BulkWrite), 0u);
    // Group C, whose channel 1 is unit 4: a pulse reaches the right unit.
    ASSERT_EQ(tav_pwm_start_hz(board, 'C', 20000, nullptr, 0, nullptr), TAV_OK);
    usb.ClearLog();
    ASSERT_EQ(tav_pwm_set_pulse(board, 'C', 1, 25), TAV_OK); // 25 us x 72 = 1800 of 3600
    EXPECT_TRUE(tavtest::SameRecords(Sent(), {tavtest::OutputCompare(4, 2, 1800)}));
    EXPECT_EQ(Group('C').duty[0], 1800u);
    // A group whose counter another record stopped (its time base and clock
    // kept) does not run: a pulse has nothing to run in.
    Wire counterOff(TAVDll::CLASS_TIM, TAVDll::TIM_OP_CMD);
    counterOff.U32(8, 2).U32(32, 0);
    ASSERT_EQ(tav_send_record(board, counterOff.bytes.data()), TAV_OK);
    EXPECT_EQ(tav_pwm_set_pulse(board, 'C', 1, 25), TAV_E_INVALID);
    // After a stop the group has no time base: counts are of 36000 again,
    // and a pulse has nothing to be measured against.
    ASSERT_EQ(tav_pwm_stop_group(board, 'B'), TAV_OK);
    EXPECT_EQ(tav_pwm_set_pulse(board, 'B', 1, 1500), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set(board, 'B', 1, 36001), TAV_E_INVALID);
    EXPECT_EQ(tav_pwm_set(board, 'B', 1, 36000), TAV_OK);
}

// Stopping group B while A and C run: B's part of the shutdown alone, on
// the wire and on the board.
TEST_F(ExtendedPwm, OneGroupStopsAlone)
{
    const uint32_t duties[] = {1000, 2000, 3000, 4000};
    ASSERT_EQ(tav_pwm_start(board, 'A', 1, duties, 3), TAV_OK);
    ASSERT_EQ(tav_pwm_start(board, 'B', 2, duties, 4), TAV_OK);
    ASSERT_EQ(tav_pwm_start(board, 'C', 4, duties, 4), TAV_OK);
    usb.ClearLog();
    ASSERT_EQ(tav_pwm_stop_group(board, 'B'), TAV_OK);
    EXPECT_TRUE(tavtest::SameRecords(
        Sent(), {tavtest::TimValue(TAVDll::TIM_OP_DEINIT, 1, 0), tavtest::TimValue(TAVDll::TIM_OP_ARR_PRELOAD, 1, 0),
                 tavtest::TimValue(TAVDll::TIM_OP_CMD, 1, 0), tavtest::TimValue(TAVDll::TIM_OP_CTRL_PWM_OUTPUTS, 1, 0),
                 tavtest::ClockGate(TAVDll::RCC_OP_APB1_CLOCK, 0x1, 0), tavtest::GpioInit(0, 0x1, 0x04),
                 tavtest::GpioInit(0, 0x2, 0x04), tavtest::GpioInit(0, 0x4, 0x04), tavtest::GpioInit(0, 0x8, 0x04)}));
    EXPECT_EQ(Group('A').running, 1);
    EXPECT_EQ(Group('B').running, 0);
    EXPECT_EQ(Group('C').running, 1);
    EXPECT_EQ(Group('C').duty[3], 4000u);
    // Group A's stop gates APB2's TIM1 only; C's APB1 mask 0x2 only.
    usb.ClearLog();
    ASSERT_EQ(tav_pwm_stop_group(board, 'a'), TAV_OK);
    ASSERT_EQ(tav_pwm_stop_group(board, 'C'), TAV_OK);
    const std::vector<_INSTRUCTION_INFO_> sent = Sent();
    ASSERT_EQ(sent.size(), 8u + 9u);
    EXPECT_TRUE(tavtest::SameRecords({sent[4]}, {tavtest::ClockGate(TAVDll::RCC_OP_APB2_CLOCK, 0x800, 0)}));
    EXPECT_TRUE(tavtest::SameRecords({sent[12]}, {tavtest::ClockGate(TAVDll::RCC_OP_APB1_CLOCK, 0x2, 0)}));
    EXPECT_TRUE(tavtest::SameRecords({sent[5], sent[6], sent[7]}, {tavtest::GpioInit(0, 0x400, 0x04),
                                                                   tavtest::GpioInit(0, 0x200, 0x04),
                                                                   tavtest::GpioInit(0, 0x100, 0x04)}));
}

// A fault on each record of a group's stop, on a virtual board: an error, a
// stall or a short write leaves the rest to be sent; a time-out ends it; an
// unplug ends it and lets the board go.
TEST(ExtendedPwmFaults, EveryRecordOfAGroupStop)
{
    for (const char* selector : {"sim:T", "queued:sim:T"}) {
        for (int kind : {TAV_SIM_STALL, TAV_SIM_SHORT_WRITE, TAV_SIM_TIMEOUT, TAV_SIM_UNPLUG}) {
            for (int position = 1; position <= 9; ++position) {
                SCOPED_TRACE(std::string(selector) + " kind " + std::to_string(kind) + " at " +
                             std::to_string(position));
                tav_board* board = nullptr;
                ASSERT_EQ(tav_open(selector, &board), TAV_OK);
                const uint32_t duties[] = {1, 2, 3, 4};
                ASSERT_EQ(tav_pwm_start(board, 'B', 1, duties, 4), TAV_OK);
                struct Count {
                    int attempted = 0;
                    int whole = 0;
                } count;
                ASSERT_EQ(tav_set_record_callback(
                              board,
                              [](void* user, const uint8_t*, int length, int result) {
                                  auto* counted = static_cast<Count*>(user);
                                  ++counted->attempted;
                                  counted->whole += result == length ? 1 : 0;
                              },
                              &count),
                          TAV_OK);
                ASSERT_EQ(tav_sim_fail(board, kind, static_cast<unsigned>(position)), TAV_OK);
                EXPECT_EQ(tav_pwm_stop_group(board, 'B'), TAV_IO_FAILED);
                const bool ends = kind == TAV_SIM_TIMEOUT || kind == TAV_SIM_UNPLUG;
                EXPECT_EQ(count.attempted, ends ? position : 9);
                EXPECT_EQ(count.whole, ends ? position - 1 : 8);
                EXPECT_EQ(tav_connected(board), kind == TAV_SIM_UNPLUG ? 0 : 1);
                EXPECT_EQ(tav_pwm_stop_group(board, 'B'), kind == TAV_SIM_UNPLUG ? TAV_NOT_OPEN : TAV_OK);
                tav_close(board);
            }
        }
    }
}

// Pull-up, pull-down and open-drain records, pin by pin in ascending order,
// on each model; the board shows them.
class ExtendedPins : public ExtendedPwm, public ::testing::WithParamInterface<char> {
protected:
    void SetUp() override
    {
        model = GetParam();
        ExtendedPwm::SetUp();
        tav_init(board, 0); // the debug pins released
        usb.ClearLog();
    }
};

TEST_P(ExtendedPins, PullAndOpenDrainRecords)
{
    const uint32_t pins = 0x40000000 | (1u << 8) | (1u << 2); // P4.2, P4.8
    if (model == 'C') { // no pin map: nothing sent
        EXPECT_EQ(tav_pin_input_pull(board, pins, TAV_PULL_UP), TAV_PIN_UNAVAILABLE);
        EXPECT_EQ(tav_pin_output_open_drain(board, pins), TAV_PIN_UNAVAILABLE);
        EXPECT_EQ(usb.CountCalls(tavsim::UsbCall::BulkWrite), 0u);
        return;
    }
    char name[8];
    char mcu[2][8];
    ASSERT_EQ(tav_pin_name(0x40000004, model, name, mcu[0]), TAV_OK);
    ASSERT_EQ(tav_pin_name(0x40000100, model, name, mcu[1]), TAV_OK);
    const auto wire = [](const char* mcuPin, uint8_t mode) {
        return tavtest::GpioInit(static_cast<uint32_t>(mcuPin[1] - 'A'), 1u << std::atoi(mcuPin + 2), mode);
    };
    for (const auto& [call, mode, function] :
         {std::tuple<int (*)(tav_board*, uint32_t), uint8_t, int>{
              [](tav_board* on, uint32_t named) { return tav_pin_input_pull(on, named, TAV_PULL_UP); }, 0x48,
              TAV_PIN_PULL_UP_INPUT},
          {[](tav_board* on, uint32_t named) { return tav_pin_input_pull(on, named, TAV_PULL_DOWN); }, 0x28,
           TAV_PIN_PULL_DOWN_INPUT},
          {tav_pin_output_open_drain, 0x14, TAV_PIN_OUTPUT_LOW}}) {
        usb.ClearLog();
        ASSERT_EQ(call(board, pins), TAV_OK);
        EXPECT_TRUE(tavtest::SameRecords(Sent(), {wire(mcu[0], mode), wire(mcu[1], mode)}));
        tav_pin_state state{};
        ASSERT_EQ(tav_pin_state_get(board, 0x40000100, &state), TAV_OK);
        EXPECT_EQ(state.function, function);
        EXPECT_EQ(state.known, 1);
    }
    // An open-drain output set high lets go of the line.
    ASSERT_EQ(tav_pin_set(board, 0x40000100), TAV_OK);
    tav_pin_state state{};
    ASSERT_EQ(tav_pin_state_get(board, 0x40000100, &state), TAV_OK);
    EXPECT_EQ(state.function, TAV_PIN_OUTPUT_HIGH);
    EXPECT_NE(std::string(state.description).find("open-drain"), std::string::npos) << state.description;
}

// The same from C++.
TEST(ExtendedPwmObjects, FromCplusplus)
{
    tav::Board board;
    ASSERT_EQ(board.open("sim:T"), TAV_OK);
    double reached = 0;
    ASSERT_EQ(board.pwmStartHz('B', 20000, {50, 25}, &reached), TAV_OK);
    EXPECT_DOUBLE_EQ(reached, 20000);
    ASSERT_EQ(board.pwmSetPulse('B', 3, 10), TAV_OK); // 720 of 3600
    ASSERT_EQ(board.pwmSetPercent('B', 4, 100), TAV_OK);
    tav_pwm_group_state state{};
    ASSERT_EQ(tav_pwm_group_state_get(board.handle(), 'B', &state), TAV_OK);
    EXPECT_EQ(state.duty[0], 1800u);
    EXPECT_EQ(state.duty[1], 900u);
    EXPECT_EQ(state.duty[2], 720u);
    EXPECT_EQ(state.duty[3], 3600u);
    ASSERT_EQ(board.pwmStopGroup('B'), TAV_OK);
    ASSERT_EQ(board.pinInputPull(0x40000100, TAV_PULL_DOWN), TAV_OK);
    ASSERT_EQ(board.pinOutputOpenDrain(0x40000200), TAV_OK);
    EXPECT_NE(board.simStatus().find("input with pull-down"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Models, ExtendedPins, ::testing::Values('T', 'S', 'C'));

} // namespace
