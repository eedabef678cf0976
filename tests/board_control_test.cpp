// Bring-up, safe state and Close on the wire.
#include <gtest/gtest.h>

#include <tuple>

#include "board_fixture.h"

using TAVDll::TAVLib;
using tavsim::UsbCall;
using tavsim::WriteFault;
using tavtest::BoardInit;
using tavtest::GpioInit;
using tavtest::Remap;
using tavtest::SameRecords;
using tavtest::Wire;

namespace {

class BoardControl : public tavtest::DebugOutputTest {};

// What the records of DisableAll are, by class: 26 PWM records, then pins.
std::vector<Wire> PinFloatRecords(char model)
{
    // Bank 8 then bank 4, in bit order, as the pin map places them.
    const std::vector<std::pair<uint32_t, uint32_t>> t = {
        {0, 0x0001}, {0, 0x0002}, {0, 0x0004}, {0, 0x0008}, {0, 0x0010}, {0, 0x0020}, {0, 0x0040},
        {0, 0x0080}, {0, 0x0100}, {0, 0x0200}, {0, 0x0400}, {2, 0x2000}, {2, 0x4000}, {0, 0x2000},
        {0, 0x4000}, {0, 0x8000}, {2, 0x8000}};
    const std::vector<std::pair<uint32_t, uint32_t>> s = {
        {0, 0x0400}, {0, 0x0200}, {0, 0x0100}, {1, 0x8000}, {1, 0x4000}, {1, 0x2000}, {1, 0x1000},
        {1, 0x0800}, {1, 0x0400}, {1, 0x0004}, {1, 0x0002}, {1, 0x0001}, {0, 0x0080}, {0, 0x0040},
        {0, 0x0020}, {0, 0x0010}, {0, 0x0008}, {0, 0x2000}, {0, 0x4000}, {0, 0x8000}, {1, 0x0008},
        {1, 0x0010}, {1, 0x0020}, {1, 0x0040}, {1, 0x0080}, {1, 0x0100}, {1, 0x0200}, {2, 0x2000},
        {2, 0x4000}, {2, 0x8000}, {0, 0x0001}, {0, 0x0002}, {0, 0x0004}};
    std::vector<Wire> records;
    for (const auto& [port, mask] : model == 'T' ? t : s)
        records.push_back(GpioInit(port, mask, 0x04));
    if (model == 'T') {
        for (uint32_t bit = 0; bit < 16; ++bit)
            records.push_back(GpioInit(1, 1u << bit, 0x04));
    }
    return records;
}

std::vector<_INSTRUCTION_INFO_> Slice(const std::vector<_INSTRUCTION_INFO_>& records, size_t first, size_t count)
{
    return {records.begin() + static_cast<long>(first), records.begin() + static_cast<long>(first + count)};
}

TEST_F(BoardControl, InitTavOnBoardT)
{
    OpenBoard('T');
    EXPECT_EQ(TAVLib::InitTav(0), 0);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 61u);
    EXPECT_TRUE(SameRecords(Slice(sent, 0, 1), {Remap(1)}));
    EXPECT_EQ(tavtest::BytesOf(sent[1])[0], 34); // DisablePWM's TIM_DeInit(TIM1)
    EXPECT_TRUE(SameRecords(Slice(sent, 27, 33), PinFloatRecords('T')));
    EXPECT_TRUE(SameRecords(Slice(sent, 60, 1), {BoardInit(0)}));
    EXPECT_EQ(tavtest::BytesOf(sent[60]), Wire(1, 0).bytes);
}

TEST_F(BoardControl, InitTavCarriesItsArgumentAndMatchesDisableAll)
{
    OpenBoard('S');
    EXPECT_EQ(TAVLib::DisableAll(), 0);
    const auto disableAll = Sent();
    ASSERT_EQ(disableAll.size(), 59u);
    EXPECT_TRUE(SameRecords(Slice(disableAll, 26, 33), PinFloatRecords('S')));
    usb.ClearLog();
    EXPECT_EQ(TAVLib::InitTav(258), 0);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 61u);
    for (size_t index = 0; index < 59; ++index)
        EXPECT_EQ(tavtest::BytesOf(sent[index + 1]), tavtest::BytesOf(disableAll[index])) << index;
    const auto last = tavtest::BytesOf(sent[60]);
    EXPECT_EQ(last[8], 0x02);
    EXPECT_EQ(last[9], 0x01);
    EXPECT_TRUE(SameRecords(Slice(sent, 60, 1), {BoardInit(258)}));
}

TEST_F(BoardControl, NoBoardSendsNothing)
{
    usb.AddBoard();
    TAVLib::Initial();
    usb.ClearLog();
    EXPECT_EQ(TAVLib::InitTav(0), 4);
    EXPECT_EQ(TAVLib::DisableAll(), 2);
    EXPECT_EQ(TAVLib::EnableADC(), 2);
    EXPECT_EQ(TAVLib::DisableADC(), 2);
    EXPECT_EQ(TAVLib::WaitStandby(), 0);
    EXPECT_EQ(TAVLib::Close(), 0);
    EXPECT_EQ(TAVLib::Close(), 0);
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(BoardControl, AdcAndStandbyNeverSend)
{
    OpenBoard();
    EXPECT_EQ(TAVLib::EnableADC(), 0);
    EXPECT_EQ(TAVLib::DisableADC(), 0);
    EXPECT_EQ(TAVLib::WaitStandby(), 0);
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(BoardControl, DisableAllOnModelWithoutPinMap)
{
    OpenBoard('C');
    int result = -1;
    const std::string debug = tavtest::CaptureStderr([&] { result = TAVLib::DisableAll(); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(debug, "add failed\nadd failed\n");
    EXPECT_EQ(Sent().size(), 26u);
}

TEST_F(BoardControl, CloseUndoesRemapFirstThenReleases)
{
    tavsim::VirtualDevice& board = OpenBoard('S', {2, 0, 0, 1});
    EXPECT_EQ(TAVLib::Close(), 0);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 60u);
    EXPECT_TRUE(SameRecords(Slice(sent, 0, 1), {Remap(0)}));
    EXPECT_EQ(usb.Calls().back().call, UsbCall::Close);
    EXPECT_EQ(usb.OpenHandleCount(), 0);
    EXPECT_FALSE(board.InterfaceClaimed());

    // Afterwards: no board, but the model and version are still known.
    usb.ClearLog();
    EXPECT_EQ(TAVLib::Close(), 0);
    EXPECT_EQ(TAVLib::Pin_Set(0x40000001), 2);
    EXPECT_EQ(TAVLib::DisablePWM(), 2);
    EXPECT_TRUE(usb.Calls().empty());
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_S);
    char version[16];
    TAVLib::GetVersion(version, sizeof version);
    EXPECT_STREQ(version, "2.0.0.1");
}

TEST_F(BoardControl, FailedRecordsGiveIoFailedAfterTheWholeSequence)
{
    for (int failing : {1, 2, 40, 61}) {
        tavtest::FreshBoard fresh;
        fresh.device.FailWrite(failing, WriteFault::Short, 32);
        EXPECT_EQ(TAVLib::InitTav(7), 4) << failing;
        EXPECT_EQ(fresh.bus.CountCalls(UsbCall::BulkWrite), 61u);
        EXPECT_EQ(fresh.bus.DeliveredRecords().size(), 60u);
    }
    tavsim::VirtualDevice& board = OpenBoard();
    board.FailWrite(30, WriteFault::Stall);
    EXPECT_EQ(TAVLib::DisableAll(), 4);
    EXPECT_EQ(WriteCount(), 59u);
    EXPECT_EQ(TAVLib::DisableAll(), 0);
    board.FailWrite(200, WriteFault::Error);
    EXPECT_EQ(TAVLib::Close(), 0);
}

TEST_F(BoardControl, UnpluggedDuringInitTav)
{
    tavsim::VirtualDevice& board = OpenBoard();
    board.UnplugAtWrite(10);
    EXPECT_EQ(TAVLib::InitTav(0), 4);
    EXPECT_EQ(WriteCount(), 10u); // nothing after the transfer that found it gone
    EXPECT_EQ(Sent().size(), 9u);
    EXPECT_EQ(usb.OpenHandleCount(), 0); // let go at once
    EXPECT_EQ(TAVLib::DisableAll(), 2);
    EXPECT_EQ(TAVLib::Close(), 0);
    EXPECT_EQ(WriteCount(), 10u);
}

TEST_F(BoardControl, FailureInTheBankFourPartGivesIoFailed)
{
    // Records 45-60 of InitTav and 44-59 of DisableAll float bank 4.
    for (const auto& [operation, failing, total] :
         {std::tuple<int (*)(), int, size_t>{[] { return TAVLib::InitTav(0); }, 50, 61},
          std::tuple<int (*)(), int, size_t>{[] { return TAVLib::DisableAll(); }, 59, 59}}) {
        tavtest::FreshBoard fresh;
        fresh.device.FailWrite(failing, WriteFault::Error);
        EXPECT_EQ(operation(), 4) << failing;
        EXPECT_EQ(fresh.bus.CountCalls(UsbCall::BulkWrite), total);
        EXPECT_EQ(fresh.bus.DeliveredRecords().size(), total - 1);
    }
}

} // namespace
