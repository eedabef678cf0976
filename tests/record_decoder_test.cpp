// The decoder: every record the library sends, in words.
#include <gtest/gtest.h>

#include "board_fixture.h"
#include "model/record_decoder.h"

using tavmodel::DecodeRecord;
using tavmodel::DescribeRecord;
using tavtest::Wire;

namespace {

std::string Text(const Wire& record)
{
    return DescribeRecord(DecodeRecord(record.bytes.data(), record.bytes.size()));
}

TEST(RecordDecoder, NamesEveryVendorFunction)
{
    const std::pair<Wire, const char*> cases[] = {
        {tavtest::GpioInit(1, 0x0002, 0x18), "GPIO_Init(GPIOB, pin 1, 50 MHz, alternate-function push-pull)"},
        {tavtest::GpioInit(0, 0x0005, 0x04), "GPIO_Init(GPIOA, pins 0,2, 50 MHz, floating input)"},
        {tavtest::GpioSet(2, 0x8000), "GPIO_SetBits(GPIOC, pin 15)"},
        {tavtest::GpioReset(0, 0x0001), "GPIO_ResetBits(GPIOA, pin 0)"},
        {tavtest::Remap(1), "GPIO_PinRemapConfig(GPIO_Remap_SWJ_Disable, ENABLE)"},
        {tavtest::Remap(0), "GPIO_PinRemapConfig(GPIO_Remap_SWJ_Disable, DISABLE)"},
        {tavtest::ClockGate(30, 0x800, 1), "RCC_APB2PeriphClockCmd(RCC_APB2Periph_TIM1, ENABLE)"},
        {tavtest::ClockGate(31, 0x2, 0), "RCC_APB1PeriphClockCmd(RCC_APB1Periph_TIM3, DISABLE)"},
        {tavtest::TimValue(0, 1, 0), "TIM_DeInit(TIM2)"},
        {tavtest::TimeBase(2, 3), "TIM_TimeBaseInit(TIM3, prescaler 3, counting up, period 35999, clock division 1)"},
        {tavtest::OutputCompare(4, 2, 100), "TIM_OC4Init(TIM3, PWM1, output enabled, pulse 100)"},
        {tavtest::TimValue(39, 0, 8), "TIM_OC3PreloadConfig(TIM1, preload enabled)"},
        {tavtest::TimValue(39, 1, 0), "TIM_OC3PreloadConfig(TIM2, preload disabled)"},
        {tavtest::TimValue(33, 0, 1), "TIM_ARRPreloadConfig(TIM1, ENABLE)"},
        {tavtest::TimValue(13, 2, 0), "TIM_Cmd(TIM3, DISABLE)"},
        {tavtest::TimValue(14, 0, 1), "TIM_CtrlPWMOutputs(TIM1, ENABLE)"},
        {tavtest::BoardInit(258), "BoardStart(argument 258)"},
        {tavtest::InfoRequest(), "BoardInfoRequest()"},
        {Wire(34, 2).U32(12, 0x70).U32(24, 5).U32(28, 2).U32(36, 8), "TIM_OC1Init(TIM1, PWM2, output disabled, pulse 5, polarity 0x2, complementary polarity 0x8)"},
    };
    for (const auto& [record, text] : cases)
        EXPECT_EQ(Text(record), text);
}

TEST(RecordDecoder, UnknownAndRefusedRecords)
{
    EXPECT_EQ(Text(Wire(0x63, 1).U8(63, 0xAB)).substr(0, 58),
              "unknown record (class 99, operation 1): 63 01 00 00 00 00 ");
    EXPECT_NE(Text(Wire(0x63, 1).U8(63, 0xAB)).find(" AB"), std::string::npos);
    EXPECT_EQ(Text(tavtest::GpioSet(5, 1)), "GPIO_SetBits(port 5, pin 0) -- rejected: port index 5 (only 0-2: GPIOA-GPIOC)");
    EXPECT_EQ(Text(tavtest::GpioSet(3, 1)), "GPIO_SetBits(port 3, pin 0) -- rejected: port index 3 (only 0-2: GPIOA-GPIOC)");
    EXPECT_EQ(Text(tavtest::ClockGate(30, 0, 1)),
              "RCC_APB2PeriphClockCmd(APB2 peripherals 0x0, ENABLE) -- rejected: APB2 peripheral mask 0x0 invalid");
    EXPECT_EQ(Text(tavtest::ClockGate(31, 0, 1)),
              "RCC_APB1PeriphClockCmd(APB1 peripherals 0x0, ENABLE) -- rejected: APB1 peripheral mask 0x0 invalid");
    const uint8_t shortRecord[3] = {26, 8, 0};
    EXPECT_EQ(DescribeRecord(DecodeRecord(shortRecord, 3)),
              "unknown record (class 26, operation 8): 1A 08 00 -- rejected: record of 3 bytes (a record is 64)");
    EXPECT_EQ(DecodeRecord(nullptr, 0).problem, "record of 0 bytes (a record is 64)");
    // No bytes at all reads as zeros, whatever length is claimed.
    EXPECT_EQ(DecodeRecord(nullptr, 5).problem, "record of 5 bytes (a record is 64)");
    EXPECT_EQ(DecodeRecord(nullptr, 64).instructionClass, 0);
}

} // namespace
