// PWM set-up, update and shutdown on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "board_fixture.h"
#include "pwm/pwm_sequences.h"
#include "pwm_tables.h"

using TAVDll::TAVLib;
using tavsim::WriteFault;
using tavtest::ClockGate;
using tavtest::GpioInit;
using tavtest::OutputCompare;
using tavtest::SameRecords;
using tavtest::TimeBase;
using tavtest::TimValue;
using tavtest::Wire;

namespace {

constexpr uint8_t kAfPushPull = 0x18;
constexpr uint8_t kFloating = 0x04;
constexpr uint8_t kApb2 = 30;
constexpr uint8_t kApb1 = 31;
constexpr uint8_t kDeInit = 0;
constexpr uint8_t kCmd = 13;
constexpr uint8_t kCtrlPwmOutputs = 14;
constexpr uint8_t kArrPreload = 33;

Wire Preload(uint8_t unit, uint32_t timer)
{
    return TimValue(static_cast<uint8_t>(36 + unit), timer, 8);
}

void AddChannel(std::vector<Wire>& records, uint32_t timer, uint32_t port, uint32_t mask, uint8_t unit, uint32_t duty)
{
    records.push_back(GpioInit(port, mask, kAfPushPull));
    records.push_back(OutputCompare(unit, timer, duty));
    records.push_back(Preload(unit, timer));
}

void AddStart(std::vector<Wire>& records, uint32_t timer)
{
    records.push_back(TimValue(kArrPreload, timer, 1));
    records.push_back(TimValue(kCmd, timer, 1));
    records.push_back(TimValue(kCtrlPwmOutputs, timer, 1));
}

std::vector<Wire> GroupA(uint32_t prescaler, uint32_t d1, uint32_t d2, uint32_t d3)
{
    std::vector<Wire> records = {ClockGate(kApb2, 0x800, 1), TimeBase(0, prescaler)};
    AddChannel(records, 0, 0, 0x0400, 3, d1);
    AddChannel(records, 0, 0, 0x0200, 2, d2);
    AddChannel(records, 0, 0, 0x0100, 1, d3);
    AddStart(records, 0);
    return records;
}

std::vector<Wire> GroupB(uint32_t prescaler, uint32_t d1, uint32_t d2, uint32_t d3, uint32_t d4)
{
    std::vector<Wire> records = {ClockGate(kApb1, 0x1, 1), TimeBase(1, prescaler)};
    AddChannel(records, 1, 0, 0x0001, 1, d1);
    AddChannel(records, 1, 0, 0x0002, 2, d2);
    AddChannel(records, 1, 0, 0x0004, 3, d3);
    AddChannel(records, 1, 0, 0x0008, 4, d4);
    AddStart(records, 1);
    return records;
}

std::vector<Wire> Shutdown()
{
    std::vector<Wire> records;
    for (uint32_t timer = 0; timer < 3; ++timer) {
        records.push_back(TimValue(kDeInit, timer, 0));
        records.push_back(TimValue(kArrPreload, timer, 0));
        records.push_back(TimValue(kCmd, timer, 0));
        records.push_back(TimValue(kCtrlPwmOutputs, timer, 0));
    }
    records.push_back(ClockGate(kApb2, 0x800, 0));
    records.push_back(ClockGate(kApb1, 0x1, 0));
    records.push_back(ClockGate(kApb1, 0x2, 0));
    const std::pair<uint32_t, uint32_t> pins[] = {{0, 0x0400}, {0, 0x0200}, {0, 0x0100}, {0, 0x0001},
                                                  {0, 0x0002}, {0, 0x0004}, {0, 0x0008}, {1, 0x0002},
                                                  {1, 0x0001}, {0, 0x0080}, {0, 0x0040}};
    for (const auto& [port, mask] : pins)
        records.push_back(GpioInit(port, mask, kFloating));
    return records;
}

class Pwm : public tavtest::BoardTest {};

TEST_F(Pwm, GroupCWorkedExample)
{
    OpenBoard();
    unsigned int max = 0;
    EXPECT_EQ(TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV4, 100, 200, 300, 400, &max), 0);
    EXPECT_EQ(max, 36000u);
    std::vector<Wire> expected = {ClockGate(kApb1, 0x2, 1), TimeBase(2, 3)};
    AddChannel(expected, 2, 1, 0x0002, 4, 100);
    AddChannel(expected, 2, 1, 0x0001, 3, 200);
    AddChannel(expected, 2, 0, 0x0080, 2, 300);
    AddChannel(expected, 2, 0, 0x0040, 1, 400);
    AddStart(expected, 2);
    ASSERT_EQ(expected.size(), 17u);
    EXPECT_TRUE(SameRecords(Sent(), expected));
}

TEST_F(Pwm, GroupsAAndBSetUpEveryChannel)
{
    OpenBoard();
    unsigned int max = 0;
    EXPECT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV8, 10, 20, 30, &max), 0);
    EXPECT_TRUE(SameRecords(Sent(), GroupA(7, 10, 20, 30)));
    usb.ClearLog();
    EXPECT_EQ(TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV2, 100, 200, 300, 400, &max), 0);
    EXPECT_TRUE(SameRecords(Sent(), GroupB(1, 100, 200, 300, 400)));
}

TEST_F(Pwm, EveryInitPWMAFormSendsTheSameRecords)
{
    OpenBoard();
    unsigned int max = 0;
    const std::vector<Wire> expected = GroupA(0, 500, 0, 0);
    const std::function<int()> forms[] = {
        [] { return TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 500); },
        [] { return TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 500, 0); },
        [] { return TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 500, 0, 0); },
        [&max] { return TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 500, 0, 0, &max); },
    };
    for (const auto& form : forms) {
        usb.ClearLog();
        EXPECT_EQ(form(), 0);
        EXPECT_TRUE(SameRecords(Sent(), expected));
    }
}

TEST_F(Pwm, FrequencySelectionAndDutiesAreCarriedAsGiven)
{
    OpenBoard();
    const std::pair<uint32_t, uint32_t> cases[] = {{7, 127}, {8, 0}, {0xFFFFFFFF, 0}, {0, 0}, {4, 15}};
    for (const auto& [frequency, prescaler] : cases) {
        usb.ClearLog();
        unsigned int max = 1;
        EXPECT_EQ(TAVLib::InitPWMB(static_cast<TAVDll::PWM_Frequency>(frequency), 0, 36000, 36001, 0xFFFFFFFF, &max),
                  0);
        EXPECT_EQ(max, 36000u) << frequency;
        EXPECT_TRUE(SameRecords(Sent(), GroupB(prescaler, 0, 36000, 36001, 0xFFFFFFFF))) << frequency;
    }
}

TEST_F(Pwm, NullMaxIsIgnored)
{
    OpenBoard();
    EXPECT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, nullptr), 0);
    EXPECT_EQ(TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, nullptr), 0);
    EXPECT_EQ(TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, nullptr), 0);
    EXPECT_EQ(Sent().size(), 14u + 17u + 17u);
}

TEST(PwmBatch, AFullBatchTakesNoMoreRecords)
{
    // Room for 5 of the group start's 17 records: the sixth slot is never written.
    TAVDll::detail::InstructionBatch batch(5);
    std::memset(&batch.records[5], 0xA5, sizeof batch.records[5]);
    unsigned int max = 0;
    EXPECT_EQ(TAVDll::detail::AppendInitGroup(batch, 1, TAVDll::PWM_FREQ_DIV1, {1, 2, 3, 4}, &max), 5);
    EXPECT_EQ(batch.inCount, 5);
    const auto* slot = reinterpret_cast<const uint8_t*>(&batch.records[5]);
    EXPECT_TRUE(std::all_of(slot, slot + 64, [](uint8_t byte) { return byte == 0xA5; }));
}

TEST_F(Pwm, UpdateSendsOneOutputCompareRecordOrNothing)
{
    OpenBoard();
    EXPECT_EQ(TAVLib::UpdatePWMA(1, 777), 0);
    EXPECT_EQ(TAVLib::UpdatePWMB(4, 5), 0);
    EXPECT_EQ(TAVLib::UpdatePWMC(1, 40000), 0);
    EXPECT_TRUE(SameRecords(Sent(), {OutputCompare(3, 0, 777), OutputCompare(4, 1, 5), OutputCompare(4, 2, 40000)}));

    usb.ClearLog();
    for (unsigned int channel : {0u, 4u, 5u, 0xFFFFFFFFu})
        EXPECT_EQ(TAVLib::UpdatePWMA(channel, 1), 0);
    for (unsigned int channel : {0u, 5u})
        EXPECT_EQ(TAVLib::UpdatePWMB(channel, 1) + TAVLib::UpdatePWMC(channel, 1), 0);
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(Pwm, ShutdownIsTheSame26RecordsEveryTime)
{
    OpenBoard();
    EXPECT_EQ(TAVLib::DisablePWM(), 0);
    EXPECT_EQ(TAVLib::DisablePWM(), 0);
    std::vector<Wire> twice = Shutdown();
    const std::vector<Wire> once = Shutdown();
    ASSERT_EQ(once.size(), 26u);
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_TRUE(SameRecords(Sent(), twice));
}

TEST_F(Pwm, NoBoardSendsNothingAndLeavesMax)
{
    usb.AddBoard();
    TAVLib::Initial();
    usb.ClearLog();
    unsigned int max = 5;
    EXPECT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 1), 2);
    EXPECT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, &max), 2);
    EXPECT_EQ(TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, &max), 2);
    EXPECT_EQ(TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, &max), 2);
    EXPECT_EQ(TAVLib::UpdatePWMA(1, 1), 2);
    EXPECT_EQ(TAVLib::UpdatePWMB(1, 1), 2);
    EXPECT_EQ(TAVLib::UpdatePWMC(1, 1), 2);
    EXPECT_EQ(TAVLib::DisablePWM(), 2);
    EXPECT_EQ(max, 5u);
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(Pwm, BoardThatStopsAcceptingMidSetUp)
{
    tavsim::VirtualDevice& board = OpenBoard();
    board.FailWrite(3, WriteFault::Stall).FailWrite(9, WriteFault::Short, 1);
    unsigned int max = 0;
    EXPECT_EQ(TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, &max), 4);
    EXPECT_EQ(max, 36000u);
    EXPECT_EQ(WriteCount(), 17u);
    EXPECT_EQ(Sent().size(), 15u);

    // A board that stops taking data: the set-up ends at the first time-out.
    usb.ClearLog();
    board.FailWrite(20, WriteFault::Timeout);
    EXPECT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, &max), 4);
    EXPECT_EQ(usb.Transfers().size(), 3u);

    // Unplugged for good: the set-up ends there and the board is let go.
    usb.ClearLog();
    board.UnplugAtWrite(23);
    EXPECT_EQ(TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, &max), 4);
    EXPECT_EQ(usb.CountCalls(tavsim::UsbCall::BulkWrite), 3u);
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_EQ(TAVLib::UpdatePWMA(1, 1), 2);
    EXPECT_EQ(TAVLib::DisablePWM(), 2);
}

TEST(PwmTables, ChannelMapRules)
{
    using namespace TAVDll::detail;
    std::set<std::pair<uint32_t, uint32_t>> pins;
    const uint32_t channelsPerTimer[3] = {3, 4, 4};
    for (uint32_t timer = 0; timer < 3; ++timer) {
        std::set<uint8_t> units;
        for (uint32_t channel = 1; channel <= channelsPerTimer[timer]; ++channel) {
            const PwmChannel* entry = FindPwmChannel(timer, channel);
            ASSERT_NE(entry, nullptr) << timer << "/" << channel;
            EXPECT_GE(entry->unit, 1);
            EXPECT_LE(entry->unit, 4);
            EXPECT_LT(entry->mcuPin.pin, 16);
            units.insert(entry->unit);
            pins.insert({entry->mcuPin.port, entry->mcuPin.pin});
        }
        EXPECT_EQ(units.size(), channelsPerTimer[timer]) << "a unit drives two channels of timer " << timer;
        EXPECT_EQ(FindPwmChannel(timer, 0), nullptr);
        EXPECT_EQ(FindPwmChannel(timer, channelsPerTimer[timer] + 1), nullptr);
    }
    EXPECT_EQ(pins.size(), 11u) << "two channels share a pin";
}

TEST_F(Pwm, ShortFormsOfInitPwmaPutEveryDutyOnItsChannel)
{
    OpenBoard();
    // Channel 2 of group A is TIM1's output-compare unit 2, the seventh record.
    ASSERT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 11, 22), 0);
    ASSERT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 11, 22, 33), 0);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 28u);
    for (size_t first : {size_t{0}, size_t{14}}) {
        EXPECT_EQ(tavtest::BytesOf(sent[first + 3]), OutputCompare(3, 0, 11).bytes) << first;
        EXPECT_EQ(tavtest::BytesOf(sent[first + 6]), OutputCompare(2, 0, 22).bytes) << first;
    }
    EXPECT_EQ(tavtest::BytesOf(sent[9]), OutputCompare(1, 0, 0).bytes);
    EXPECT_EQ(tavtest::BytesOf(sent[23]), OutputCompare(1, 0, 33).bytes);
}

} // namespace
