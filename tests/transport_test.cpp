// The two bulk pipes and record submission.
#include <gtest/gtest.h>

#include <climits>

#include "board_fixture.h"
#include "link/transport.h"

using TAVDll::TAVLib;
using tavsim::ReadFault;
using tavsim::UsbCall;
using tavsim::WriteFault;

namespace {

class Transport : public tavtest::BoardTest {};

_INSTRUCTION_INFO_ Numbered(uint8_t number)
{
    _INSTRUCTION_INFO_ record{};
    record.instructionClass = TAVDll::CLASS_GPIO;
    record.operation = TAVDll::GPIO_OP_SET_BITS;
    record.byteParam[0] = number;
    return record;
}

TEST_F(Transport, WritePipeSendsTheBytesUnchangedToEndpointTwo)
{
    OpenBoard();
    uint8_t data[5] = {1, 2, 3, 4, 5};
    unsigned long written = 0;
    EXPECT_EQ(TAVLib::WritePipe(data, sizeof data, &written), TAVDll::RESULT_OK);
    EXPECT_EQ(written, 5u);
    const auto& transfers = usb.Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].endpoint, 0x02);
    EXPECT_EQ(transfers[0].length, 5);
    EXPECT_EQ(transfers[0].timeoutMs, 5000);
    EXPECT_EQ(transfers[0].bytes, std::vector<uint8_t>(data, data + 5));
    EXPECT_EQ(TAVLib::WritePipe(data, sizeof data, nullptr), TAVDll::RESULT_OK);
}

TEST_F(Transport, WritePipeFailuresGiveTwoAndTheBytesMoved)
{
    tavsim::VirtualDevice& board = OpenBoard();
    board.FailWrite(1, WriteFault::Short, 10).FailWrite(2, WriteFault::Timeout).FailWrite(3, WriteFault::Stall)
        .FailWrite(4, WriteFault::Error);
    uint8_t data[64] = {};
    const unsigned long expectedMoved[4] = {10, 0, 0, 0};
    for (unsigned long moved : expectedMoved) {
        unsigned long written = 1234;
        const std::string out = tavtest::CaptureStdout(
            [&] { EXPECT_EQ(TAVLib::WritePipe(data, sizeof data, &written), TAVDll::RESULT_NOT_OPEN); });
        EXPECT_EQ(written, moved);
        EXPECT_EQ(out, "");
    }
}

TEST_F(Transport, WritePipeRefusesBadBuffersWithoutCallingLibusb)
{
    OpenBoard();
    unsigned long written = 7;
    EXPECT_EQ(TAVLib::WritePipe(nullptr, 64, &written), TAVDll::RESULT_NOT_OPEN);
    EXPECT_EQ(written, 0u);
    uint8_t data[4] = {};
    EXPECT_EQ(TAVLib::WritePipe(data, static_cast<unsigned long>(INT_MAX) + 1, &written), TAVDll::RESULT_NOT_OPEN);
    EXPECT_EQ(TAVLib::ReadPipe(nullptr, 64), TAVDll::RESULT_IO_FAILED);
    std::string out = tavtest::CaptureStdout(
        [&] { EXPECT_EQ(TAVLib::ReadPipe(data, static_cast<unsigned long>(INT_MAX) + 1), TAVDll::RESULT_IO_FAILED); });
    EXPECT_EQ(out, "");
    EXPECT_TRUE(usb.Calls().empty());

    // A length of 0 is passed through unchanged.
    EXPECT_EQ(TAVLib::WritePipe(nullptr, 0, &written), TAVDll::RESULT_OK);
    ASSERT_EQ(usb.Transfers().size(), 1u);
    EXPECT_EQ(usb.Transfers()[0].length, 0);
}

TEST_F(Transport, NoBoardMeansNoUsbCallAndNoMessage)
{
    usb.AddBoard();
    TAVLib::Initial();
    usb.ClearLog();
    uint8_t data[64];
    std::fill(std::begin(data), std::end(data), 0xEE);
    unsigned long written = 5;
    const std::string out = tavtest::CaptureStdout([&] {
        EXPECT_EQ(TAVLib::WritePipe(data, 64, &written), TAVDll::RESULT_NOT_OPEN);
        EXPECT_EQ(TAVLib::ReadPipe(data, 64), TAVDll::RESULT_IO_FAILED);
        TAVLib::AddCommand(Numbered(1));
        TAVLib::AddCommands(nullptr, 3);
    });
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(out, "");
    EXPECT_EQ(data[0], 0xEE);
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(Transport, ReadPipeReadsEndpoint83AndReportsFailuresOnStdout)
{
    tavsim::VirtualDevice& board = OpenBoard();
    board.QueueReply(std::vector<uint8_t>(64, 0x5A));
    uint8_t buffer[64] = {};
    EXPECT_EQ(TAVLib::ReadPipe(buffer, sizeof buffer), TAVDll::RESULT_OK);
    EXPECT_EQ(buffer[63], 0x5A);
    const auto reads = usb.TransfersTo(0x83);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].timeoutMs, 5000);
    EXPECT_EQ(reads[0].length, 64);

    // Time-out (nothing queued), error, and a short reply whose bytes stay.
    board.FailRead(3, ReadFault::Error);
    board.QueueReply(std::vector<uint8_t>(64, 0x11));
    board.QueueReply(std::vector<uint8_t>(64, 0x22));
    board.FailRead(2, ReadFault::Timeout);
    board.FailRead(4, ReadFault::Short, 3);
    std::fill(std::begin(buffer), std::end(buffer), 0);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string out = tavtest::CaptureStdout(
            [&] { EXPECT_EQ(TAVLib::ReadPipe(buffer, sizeof buffer), TAVDll::RESULT_IO_FAILED); });
        EXPECT_EQ(out, "error: bulk read failed\n");
    }
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(buffer[3], 0x00);
}

TEST_F(Transport, ReadPipeWithMoreBytesThanAskedStillFails)
{
    tavsim::VirtualDevice& board = OpenBoard();
    board.QueueReply(std::vector<uint8_t>(64, 1));
    uint8_t buffer[64] = {};
    const std::string out =
        tavtest::CaptureStdout([&] { EXPECT_EQ(TAVLib::ReadPipe(buffer, 32), TAVDll::RESULT_OK); });
    EXPECT_EQ(out, "");
    board.QueueReply(std::vector<uint8_t>(10, 1));
    const std::string shortOut =
        tavtest::CaptureStdout([&] { EXPECT_EQ(TAVLib::ReadPipe(buffer, 32), TAVDll::RESULT_IO_FAILED); });
    EXPECT_EQ(shortOut, "error: bulk read failed\n");
}

TEST_F(Transport, AddCommandSendsOneWholeRecord)
{
    OpenBoard();
    TAVLib::AddCommand(Numbered(9));
    const auto& transfers = usb.Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].endpoint, 0x02);
    EXPECT_EQ(transfers[0].length, 64);
    EXPECT_EQ(transfers[0].timeoutMs, 5000);
    EXPECT_TRUE(tavtest::SameRecords(Sent(), {tavtest::Wire(26, 8).U8(2, 9)}));
}

TEST_F(Transport, AddCommandsSendsEachRecordInOrderPastFailures)
{
    tavsim::VirtualDevice& board = OpenBoard();
    board.FailWrite(2, WriteFault::Stall);
    _INSTRUCTION_INFO_ records[3] = {Numbered(1), Numbered(2), Numbered(3)};
    TAVLib::AddCommands(records, 3);
    ASSERT_EQ(usb.Transfers().size(), 3u);
    EXPECT_TRUE(tavtest::SameRecords(Sent(), {tavtest::Wire(26, 8).U8(2, 1), tavtest::Wire(26, 8).U8(2, 3)}));


    EXPECT_EQ(TAVDll::detail::SubmitRecords(TAVDll::detail::DefaultLink(), records, 3), 0);
    board.FailWrite(8, WriteFault::Short, 63);
    EXPECT_EQ(TAVDll::detail::SubmitRecords(TAVDll::detail::DefaultLink(), records, 3), 1);

    // A time-out ends the batch: a board that stopped taking data costs one time-out, not three.
    usb.ClearLog();
    board.FailWrite(11, WriteFault::Timeout);
    TAVLib::AddCommands(records, 3);
    EXPECT_EQ(usb.Transfers().size(), 2u);
    TAVLib::AddCommands(records, 3); // the next operation sends again
    EXPECT_EQ(usb.Transfers().size(), 5u);
}

TEST_F(Transport, AddCommandsWithNoPositiveCountOrNoArrayReadsNothing)
{
    OpenBoard();
    TAVLib::AddCommands(nullptr, 0);
    TAVLib::AddCommands(nullptr, -5);
    TAVLib::AddCommands(nullptr, 3); // would have read through a null pointer
    _INSTRUCTION_INFO_ records[2] = {};
    TAVLib::AddCommands(records, -5);
    TAVLib::AddCommands(records, 0);
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(Transport, SubmissionReportsEveryKindOfIncompleteTransfer)
{
    tavsim::VirtualDevice& board = OpenBoard();
    board.FailWrite(1, WriteFault::Short, 63).FailWrite(2, WriteFault::Stall).FailWrite(3, WriteFault::Error);
    board.FailWrite(4, WriteFault::Timeout);
    for (int attempt = 0; attempt < 4; ++attempt)
        EXPECT_FALSE(TAVDll::detail::SubmitRecord(TAVDll::detail::DefaultLink(), Numbered(1)));
    TAVDll::detail::DefaultLink().stopSending = false; // as the next operation starts
    EXPECT_TRUE(TAVDll::detail::SubmitRecord(TAVDll::detail::DefaultLink(), Numbered(1)));
    board.UnplugAtWrite(6);
    EXPECT_FALSE(TAVDll::detail::SubmitRecord(TAVDll::detail::DefaultLink(), Numbered(1)));
    EXPECT_EQ(usb.Transfers().back().result, tavsim::USB_ERROR_NO_DEVICE);
}

} // namespace
