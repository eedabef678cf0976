// Builder output, byte for byte, against the wire layout.
#include <gtest/gtest.h>

#include "board_fixture.h"
#include "records/records.h"

using namespace TAVDll::detail;
using tavtest::BytesOf;
using tavtest::Describe;
using tavtest::Wire;

namespace {

constexpr OutputCompareParams kPwm1{0x60, 1, 0, 900, 0, 0, 0, 0};
constexpr OutputCompareParams kAllSet{1, 2, 3, 4, 5, 6, 7, 8};

struct BuilderCase {
    const char* name;
    _INSTRUCTION_INFO_ built;
    Wire expected;
};

// Each case: what the builder wrote against the layout, slot by slot.
std::vector<BuilderCase> Cases()
{
    return {
        {"GpioInit", MakeGpioInit(1, 0x0004, 3, 0x10), Wire(0x1A, 2).U8(2, 3).U8(3, 0x10).U32(8, 1).U32(12, 4)},
        {"GpioSetBits", MakeGpioSetBits(2, 0x8000), Wire(0x1A, 8).U32(8, 2).U32(12, 0x8000)},
        {"GpioResetBits", MakeGpioResetBits(0, 0x0001), Wire(0x1A, 9).U32(12, 1)},
        {"GpioPinRemap", MakeGpioPinRemap(0x300400, 1), Wire(0x1A, 0x0F).U32(24, 0x300400).U32(36, 1)},
        {"RccApb2", MakeRccApb2Clock(0x800, 1), Wire(0x1E, 0x1E).U8(7, 1).U32(8, 0x800)},
        {"RccApb1", MakeRccApb1Clock(0x2, 0), Wire(0x1E, 0x1F).U32(8, 2)},
        {"TimTimeBase", MakeTimTimeBaseInit(0, {7, 0, 35999, 0, 0}), Wire(0x22, 1).U32(12, 7).U32(20, 35999)},
        {"TimTimeBaseAllFields", MakeTimTimeBaseInit(2, {1, 2, 3, 4, 0xFF}),
         Wire(0x22, 1).U32(8, 2).U32(12, 1).U32(16, 2).U32(20, 3).U32(24, 4).U32(28, 0xFF)},
        {"TimOc3", MakeTimOc3Init(0, kPwm1), Wire(0x22, 4).U32(12, 0x60).U32(16, 1).U32(24, 900)},
        {"TimOc1SkipsOffset32", MakeTimOc1Init(1, kAllSet),
         Wire(0x22, 2).U32(8, 1).U32(12, 1).U32(16, 2).U32(20, 3).U32(24, 4).U32(28, 5).U32(36, 6).U32(40, 7).U32(44, 8)},
        {"TimOc2", MakeTimOc2Init(2, kPwm1), Wire(0x22, 3).U32(8, 2).U32(12, 0x60).U32(16, 1).U32(24, 900)},
        {"TimOc4", MakeTimOc4Init(2, kPwm1), Wire(0x22, 5).U32(8, 2).U32(12, 0x60).U32(16, 1).U32(24, 900)},
        {"TimCmd", MakeTimCmd(2, 1), Wire(0x22, 0x0D).U32(8, 2).U32(32, 1)},
        {"TimCmdStateDoesNotSpill", MakeTimCmd(1, 0xFF), Wire(0x22, 0x0D).U32(8, 1).U32(32, 0xFF)},
        {"TimCtrlPwmOutputs", MakeTimCtrlPwmOutputs(0, 1), Wire(0x22, 0x0E).U32(32, 1)},
        {"TimArrPreload", MakeTimArrPreload(1, 0), Wire(0x22, 0x21).U32(8, 1)},
        {"TimDeInit", MakeTimDeInit(2), Wire(0x22, 0).U32(8, 2)},
        {"TimOc1Preload", MakeTimOc1Preload(1, 8), Wire(0x22, 0x25).U32(8, 1).U32(32, 8)},
        {"TimOc2Preload", MakeTimOc2Preload(0, 8), Wire(0x22, 0x26).U32(32, 8)},
        {"TimOc3Preload", MakeTimOc3Preload(2, 8), Wire(0x22, 0x27).U32(8, 2).U32(32, 8)},
        {"TimOc4PreloadFullWord", MakeTimOc4Preload(2, 0xA5A5A5A5), Wire(0x22, 0x28).U32(8, 2).U32(32, 0xA5A5A5A5)},
        {"BoardInit", MakeBoardInit(258), Wire(1, 0).U32(8, 258)},
    };
}

TEST(Records, EveryBuilderMatchesTheWireLayout)
{
    for (const BuilderCase& entry : Cases()) {
        const auto bytes = BytesOf(entry.built);
        EXPECT_EQ(bytes, entry.expected.bytes) << entry.name << "\n  built:    " << Describe(bytes.data())
                                               << "\n  expected: " << Describe(entry.expected.bytes.data());
    }
}

TEST(Records, WorkedExamplesAsRawBytes)
{
    const uint8_t gpioInitHead[16] = {0x1A, 0x02, 0x03, 0x10, 0, 0, 0, 0, 0x01, 0, 0, 0, 0x04, 0, 0, 0};
    const auto gpio = BytesOf(MakeGpioInit(1, 0x0004, 3, 0x10));
    EXPECT_TRUE(std::equal(gpioInitHead, gpioInitHead + 16, gpio.begin()));
    EXPECT_TRUE(std::all_of(gpio.begin() + 16, gpio.end(), [](uint8_t b) { return b == 0; }));

    const uint8_t rccHead[12] = {0x1E, 0x1E, 0, 0, 0, 0, 0, 0x01, 0x00, 0x08, 0, 0};
    const auto rcc = BytesOf(MakeRccApb2Clock(0x800, 1));
    EXPECT_TRUE(std::equal(rccHead, rccHead + 12, rcc.begin()));
    EXPECT_TRUE(std::all_of(rcc.begin() + 12, rcc.end(), [](uint8_t b) { return b == 0; }));

    const uint8_t startHead[12] = {0x01, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x01, 0, 0};
    const auto start = BytesOf(MakeBoardInit(258));
    EXPECT_TRUE(std::equal(startHead, startHead + 12, start.begin()));
}

} // namespace
