// Board-information exchange and its decoding.
#include <gtest/gtest.h>

#include <cstring>

#include "board_fixture.h"

using TAVDll::TAVLib;
using tavsim::ReadFault;
using tavsim::WriteFault;

namespace {

class BoardInfo : public tavtest::BoardTest {
protected:
    std::string Version(int size = 64)
    {
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(TAVLib::GetVersion(buffer, size), 0);
        return std::string(buffer, strnlen(buffer, sizeof buffer));
    }
};

TEST_F(BoardInfo, LoadStateIsBoardTWithEmptyVersion)
{
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_T);
    EXPECT_EQ(Version(), "");
    EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_NOT_OPEN);
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(BoardInfo, RequestIsTwoOneThenZerosAndTheReplyIsDecoded)
{
    OpenBoard('T', {1, 0, 2, 13});
    EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_OK);
    EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_OK);
    EXPECT_TRUE(tavtest::SameRecords(Sent(), {tavtest::InfoRequest(), tavtest::InfoRequest()}));
    const auto reads = usb.TransfersTo(0x83);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].length, 64);
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_T);
    EXPECT_EQ(Version(), "1.0.2.13");
}

TEST_F(BoardInfo, ModelLettersAndVersionExtremes)
{
    struct Case {
        char letter;
        std::vector<uint8_t> version;
        TAVDll::BoardType type;
        const char* text;
    };
    const Case cases[] = {
        {'C', {255, 255, 255, 255}, TAVDll::BOARD_C, "255.255.255.255"},
        {'S', {0, 0, 0, 0}, TAVDll::BOARD_S, "0.0.0.0"},
        {'T', {10, 20, 30, 40}, TAVDll::BOARD_T, "10.20.30.40"},
        {'t', {1, 2, 3, 4}, TAVDll::BOARD_OTHER, "1.2.3.4"},
        {'\0', {1, 2, 3, 4}, TAVDll::BOARD_OTHER, "1.2.3.4"},
        {'X', {9, 9, 9, 9}, TAVDll::BOARD_OTHER, "9.9.9.9"},
    };
    for (const Case& entry : cases) {
        tavtest::FreshBoard fresh(entry.letter, entry.version);
        EXPECT_EQ(TAVLib::GetType(), entry.type) << entry.text;
        EXPECT_EQ(Version(), entry.text);
    }
}

TEST_F(BoardInfo, FailedRequestsKeepTheLastGoodAnswer)
{
    tavsim::VirtualDevice& board = OpenBoard('S', {1, 2, 3, 4});
    // The write of the request fails: no read, no message.
    board.FailWrite(1, WriteFault::Short, 32);
    std::string out = tavtest::CaptureStdout([] { EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_IO_FAILED); });
    EXPECT_EQ(out, "");
    EXPECT_TRUE(usb.TransfersTo(0x83).empty());

    // The reply never comes.
    board.DropReplies();
    out = tavtest::CaptureStdout([] { EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_IO_FAILED); });
    EXPECT_EQ(out, "error: bulk read failed\n");
    board.DropReplies(false);

    // A short reply.
    board.FailRead(2, ReadFault::Short, 8);
    out = tavtest::CaptureStdout([] { EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_IO_FAILED); });
    EXPECT_EQ(out, "error: bulk read failed\n");
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_S);
    EXPECT_EQ(Version(), "1.2.3.4");
}

TEST_F(BoardInfo, AnswerSurvivesReleaseInitialAndAnotherBoard)
{
    OpenBoard('C', {4, 3, 2, 1});
    TAVLib::Initial();
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_C);
    EXPECT_EQ(Version(), "4.3.2.1");

    // A failed request on a new board keeps the old answer; a good one replaces both fields.
    tavsim::VirtualDevice& other = usb.AddBoard('S', {7, 7, 7, 7});
    usb.DeviceAt(0).Unplug();
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    other.FailRead(1, ReadFault::Error);
    tavtest::CaptureStdout([] { EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_IO_FAILED); });
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_C);
    EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_OK);
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_S);
    EXPECT_EQ(Version(), "7.7.7.7");
}

TEST_F(BoardInfo, GetVersionNeverWritesPastSize)
{
    OpenBoard('T', {255, 255, 255, 255});
    ASSERT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_OK);
    char buffer[20];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(TAVLib::GetVersion(buffer, 16), 0);
    EXPECT_STREQ(buffer, "255.255.255.255");

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(TAVLib::GetVersion(buffer, 5), 0);
    EXPECT_STREQ(buffer, "255.");
    EXPECT_EQ(buffer[5], '#');

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(TAVLib::GetVersion(buffer, 1), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], '#');

    EXPECT_EQ(TAVLib::GetVersion(buffer, 0), 0);
    EXPECT_EQ(TAVLib::GetVersion(buffer, -3), 0);
    EXPECT_EQ(buffer[1], '#');
    EXPECT_EQ(TAVLib::GetVersion(nullptr, 16), 0);
}

} // namespace
