// TAV_TRACE on the static functions' default board: the record log as it is
// written, record by record, and the numbering of a second board's file.
#include <gtest/gtest.h>

#include <algorithm>
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
        fresh.device.FailWrite(64, tavsim::WriteFault::Stall); // the first record of the next InitTav
        fresh.device.FailWrite(65, tavsim::WriteFault::Error);
        EXPECT_EQ(TAVLib::InitTav(7), TAVDll::RESULT_IO_FAILED);
        // Written as it goes: the records are there before the board is closed.
        EXPECT_EQ(CountRecords(Lines(path), "out"), 1u + 60u + 59u); // the failed ones are comments
        EXPECT_EQ(TAVLib::Close(), 0);
    }
    const std::vector<std::string> lines = Lines(path);
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[0], "# tavtrace 1");
    EXPECT_EQ(CountRecords(lines, "in"), 1u);
    // The short write is shown as a comment, never as a record to replay.
    EXPECT_EQ(CountContaining(lines, " # 64 bytes, transfer result 10"), 1u);
    EXPECT_EQ(CountContaining(lines, " # 64 bytes, transfer result 0"), 1u);
    EXPECT_EQ(CountContaining(lines, " # 64 bytes, transfer result -"), 1u);
    EXPECT_EQ(CountRecords(lines, "out"), 1u + 60u + 59u + 60u);
    EXPECT_NE(lines.back().find(": 183 records"), std::string::npos) << lines.back();
    EXPECT_EQ(lines.back().rfind("# end at ", 0), 0u) << lines.back();
    EXPECT_NE(lines[lines.size() - 2].find(", 50 MHz, floating input)"), std::string::npos)
        << lines[lines.size() - 2];
    // Opened before its information arrived: the log says which model the
    // records were meant for, for a replay to check.
    EXPECT_EQ(CountContaining(lines, "# board model S: the board's information names it"), 1u);
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

// A record that did not reach the board is no change of its pins: the
// waveform shows what the board was commanded, never a failed write.
TEST_F(RecordTrace, AFailedWriteIsNotDrawnInTheWaveform)
{
    const std::string vcd = name + ".vcd";
    tavtest::SetEnvironment("TAV_TRACE", vcd.c_str());
    {
        tavtest::FreshBoard fresh;
        fresh.device.FailWrite(2, tavsim::WriteFault::Error); // Pin_Set's record
        const uint32_t p48 = TAVDll::PIN_BANK_4 | (1u << 8);
        EXPECT_EQ(TAVLib::Pin_DirOutput(p48), TAVDll::RESULT_OK);
        EXPECT_EQ(TAVLib::Pin_Set(p48), TAVDll::RESULT_IO_FAILED);
        EXPECT_EQ(TAVLib::Pin_DirOutput(TAVDll::PIN_BANK_4 | 1u), TAVDll::RESULT_OK); // P4.0 goes on
        TAVLib::Close();
    }
    std::string id48;
    std::string id40;
    std::vector<std::string> values;
    for (const std::string& line : Lines(vcd)) {
        char id[16] = {};
        char wire[64] = {};
        if (std::sscanf(line.c_str(), "$var wire 1 %15s %63s $end", id, wire) == 2) {
            if (std::string(wire) == "P4_8_PB8")
                id48 = id;
            if (std::string(wire) == "P4_0_PB0")
                id40 = id;
        } else if (!line.empty() && line[0] != '#' && line[0] != '$') {
            values.push_back(line);
        }
    }
    ASSERT_FALSE(id48.empty());
    EXPECT_EQ(std::count(values.begin(), values.end(), "1" + id48), 0);
    EXPECT_EQ(std::count(values.begin(), values.end(), "0" + id48), 1); // output low, then floating at Close
    EXPECT_EQ(std::count(values.begin(), values.end(), "0" + id40), 1); // the write after it went out
    if (!HasFailure())
        std::remove(vcd.c_str());
}

TEST_F(RecordTrace, UnsetItLeavesTheBoardUnobserved)
{
    tavtest::UnsetEnvironment("TAV_TRACE");
    tavtest::FreshBoard fresh;
    EXPECT_EQ(TAVDll::detail::DefaultLink().observer, nullptr);
    EXPECT_EQ(TAVDll::detail::DefaultLink().replyObserver, nullptr);
}

} // namespace
