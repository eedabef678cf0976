// TAV_TRACE on the static functions' default board: the record log as it is
// written, record by record, and the numbering of a second board's file.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "board_fixture.h"
#include "link/board_link.h"

using TAVDll::TAVLib;

namespace {

std::vector<std::string> Lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// Record lines (not comments) of that direction.
size_t CountRecords(const std::vector<std::string>& lines, const std::string& direction)
{
    size_t count = 0;
    for (const std::string& line : lines)
        count += !line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))
                         && line.find(" " + direction + " ") == line.find(' ')
                     ? 1
                     : 0;
    return count;
}

size_t CountContaining(const std::vector<std::string>& lines, const std::string& text)
{
    size_t count = 0;
    for (const std::string& line : lines)
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

class RecordTrace : public ::testing::Test {
protected:
    void SetUp() override { tavtest::SetEnvironment("TAV_TRACE", path.c_str()); }
    void TearDown() override
    {
        tavtest::UnsetEnvironment("TAV_TRACE");
        if (!HasFailure()) {
            std::remove(path.c_str());
            std::remove(second.c_str());
        }
    }
    // Files are numbered per TAV_TRACE value in a process: one name per test.
    const std::string name = ::testing::TempDir() + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string path = name + ".tavtrace";
    const std::string second = name + "-2.tavtrace";
};

TEST_F(RecordTrace, TheDefaultBoardIsLoggedFromOpenToClose)
{
    {
        tavtest::FreshBoard fresh('S'); // Open, then the board-information request and reply
        fresh.device.FailWrite(3, tavsim::WriteFault::Short, 10);
        EXPECT_EQ(TAVLib::InitTav(7), TAVDll::RESULT_IO_FAILED);
        // Written as it goes: the records are there before the board is closed.
        EXPECT_EQ(CountRecords(Lines(path), "out"), 61u); // the short one is a comment
        EXPECT_EQ(TAVLib::Close(), 0);
    }
    const std::vector<std::string> lines = Lines(path);
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[0], "# tavtrace 1");
    EXPECT_EQ(CountRecords(lines, "in"), 1u);
    // The short write is shown as a comment, never as a record to replay.
    EXPECT_EQ(CountContaining(lines, " # 64 bytes, transfer result 10"), 1u);
    EXPECT_EQ(CountRecords(lines, "out"), 1u + 60u + 60u);
    EXPECT_NE(lines.back().find(": 122 records"), std::string::npos) << lines.back();
    EXPECT_EQ(lines.back().rfind("# end at ", 0), 0u) << lines.back();
    EXPECT_NE(lines[lines.size() - 2].find(", 50 MHz, floating input)"), std::string::npos)
        << lines[lines.size() - 2];
}

TEST_F(RecordTrace, ASecondBoardGetsANumberedFile)
{
    {
        tavtest::FreshBoard fresh;
        TAVLib::Close();
    }
    {
        tavtest::FreshBoard fresh;
        TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 1);
        TAVLib::Close();
    }
    EXPECT_EQ(Lines(path).back().substr(Lines(path).back().find(':')), ": 61 records"); // info request + Close
    EXPECT_EQ(Lines(second).back().substr(Lines(second).back().find(':')), ": 62 records");
}

TEST_F(RecordTrace, UnsetItLeavesTheBoardUnobserved)
{
    tavtest::UnsetEnvironment("TAV_TRACE");
    tavtest::FreshBoard fresh;
    EXPECT_EQ(TAVDll::detail::DefaultLink().observer, nullptr);
    EXPECT_EQ(TAVDll::detail::DefaultLink().replyObserver, nullptr);
}

} // namespace
