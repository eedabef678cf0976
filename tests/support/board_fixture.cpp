#include "board_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "link/board_link.h"
#include "model/record_decoder.h"

namespace tavtest {

Wire GpioInit(uint32_t port, uint32_t mask, uint8_t mode)
{
    return Wire(26, 2).U8(2, 3).U8(3, mode).U32(8, port).U32(12, mask);
}

Wire GpioSet(uint32_t port, uint32_t mask)
{
    return Wire(26, 8).U32(8, port).U32(12, mask);
}

Wire GpioReset(uint32_t port, uint32_t mask)
{
    return Wire(26, 9).U32(8, port).U32(12, mask);
}

Wire Remap(uint8_t state)
{
    return Wire(26, 15).U32(24, 0x300400).U32(36, state);
}

Wire ClockGate(uint8_t operation, uint32_t mask, uint8_t state)
{
    return Wire(30, operation).U8(7, state).U32(8, mask);
}

Wire TimeBase(uint32_t timer, uint32_t prescaler)
{
    return Wire(34, 1).U32(8, timer).U32(12, prescaler).U32(20, 35999);
}

Wire OutputCompare(uint8_t unit, uint32_t timer, uint32_t pulse)
{
    return Wire(34, static_cast<uint8_t>(1 + unit)).U32(8, timer).U32(12, 0x60).U32(16, 1).U32(24, pulse);
}

Wire TimValue(uint8_t operation, uint32_t timer, uint32_t value)
{
    return Wire(34, operation).U32(8, timer).U32(32, value);
}

Wire BoardInit(uint32_t argument)
{
    return Wire(1, 0).U32(8, argument);
}

Wire InfoRequest()
{
    return Wire(2, 1);
}

std::array<uint8_t, 64> BytesOf(const _INSTRUCTION_INFO_& record)
{
    std::array<uint8_t, 64> bytes;
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

std::string Describe(const uint8_t* bytes)
{
    return tavmodel::DescribeRecord(tavmodel::DecodeRecord(bytes, 64)) + "\n            " + Hex(bytes);
}

std::string Hex(const uint8_t* bytes)
{
    std::string text;
    char part[4];
    for (size_t k = 0; k < 64; ++k) {
        std::snprintf(part, sizeof part, "%02X", bytes[k]);
        text += part;
        if (k + 1 < 64)
            text += (k % 4 == 3) ? " | " : " ";
    }
    return text;
}

::testing::AssertionResult SameRecords(const std::vector<_INSTRUCTION_INFO_>& actual,
                                       const std::vector<Wire>& expected)
{
    const size_t common = std::min(actual.size(), expected.size());
    for (size_t index = 0; index < common; ++index) {
        const auto bytes = BytesOf(actual[index]);
        if (bytes != expected[index].bytes) {
            return ::testing::AssertionFailure()
                   << "record " << index + 1 << " differs\n  sent:     " << Describe(bytes.data())
                   << "\n  expected: " << Describe(expected[index].bytes.data());
        }
    }
    if (actual.size() > expected.size())
        return ::testing::AssertionFailure() << actual.size() << " records sent, " << expected.size()
                                             << " expected; first extra: " << Describe(BytesOf(actual[common]).data());
    if (actual.size() < expected.size())
        return ::testing::AssertionFailure() << actual.size() << " records sent, " << expected.size()
                                             << " expected; first missing: " << Describe(expected[common].bytes.data());
    return ::testing::AssertionSuccess();
}

void ResetLibraryState()
{
    TAVDll::detail::ResetDefaultLink();
}

FreshBoard::FreshBoard(char modelLetter, std::vector<uint8_t> version, bool open)
    : device((ResetLibraryState(), bus.AddBoard(modelLetter, std::move(version))))
{
    if (!open)
        return;
    TAVDll::TAVLib::Initial();
    EXPECT_NE(TAVDll::TAVLib::Open(), nullptr);
    EXPECT_EQ(TAVDll::TAVLib::RequestBoardInfo(), TAVDll::RESULT_OK);
    bus.ClearLog();
    device.ResetCounters();
}

FreshBoard::~FreshBoard()
{
    // The handle belongs to this bus, which goes away now.
    ResetLibraryState();
}

namespace {

std::string Capture(FILE* stream, void (*begin)(), std::string (*end)(), const std::function<void()>& action)
{
    std::fflush(stream);
    begin();
    action();
    std::fflush(stream);
    return end();
}

} // namespace

void SetEnvironment(const char* name, const char* value)
{
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

void UnsetEnvironment(const char* name)
{
#if defined(_WIN32)
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

std::string CaptureStdout(const std::function<void()>& action)
{
    return Capture(stdout, ::testing::internal::CaptureStdout, ::testing::internal::GetCapturedStdout, action);
}

std::string CaptureStderr(const std::function<void()>& action)
{
    return Capture(stderr, ::testing::internal::CaptureStderr, ::testing::internal::GetCapturedStderr, action);
}

void BoardTest::SetUp()
{
    ResetLibraryState();
}

void BoardTest::TearDown()
{
    // The handle belongs to this test's virtual bus, which goes away now.
    ResetLibraryState();
}

tavsim::VirtualDevice& BoardTest::OpenBoard(char modelLetter, std::vector<uint8_t> version)
{
    tavsim::VirtualDevice& device = usb.AddBoard(modelLetter, std::move(version));
    TAVDll::TAVLib::Initial();
    EXPECT_NE(TAVDll::TAVLib::Open(), nullptr);
    if (modelLetter != 'T') {
        EXPECT_EQ(TAVDll::TAVLib::RequestBoardInfo(), TAVDll::RESULT_OK);
    }
    usb.ClearLog();
    device.ResetCounters();
    return device;
}

void DebugOutputTest::SetUp()
{
    BoardTest::SetUp();
    SetEnvironment("TAV_DEBUG", "1");
}

void DebugOutputTest::TearDown()
{
    UnsetEnvironment("TAV_DEBUG");
    BoardTest::TearDown();
}

} // namespace tavtest
