// Pin identifiers and the board pin map: rows against the board's pinout,
// and the rules the map must keep.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "board_fixture.h"
#include "pins/pin_map.h"

using TAVDll::TAVLib;
using TAVDll::detail::MapPin;

namespace {

std::vector<std::string> Words(const char* text)
{
    std::istringstream stream(text);
    std::vector<std::string> words;
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

// The pinout, bank by bank, in bit order.
const char* const kBank4T = "PB0 PB1 PB2 PB3 PB4 PB5 PB6 PB7 PB8 PB9 PB10 PB11 PB12 PB13 PB14 PB15";
const char* const kBank8T = "PA0 PA1 PA2 PA3 PA4 PA5 PA6 PA7 PA8 PA9 PA10 PC13 PC14 PA13 PA14 PA15 PC15";
const char* const kBank4S = "PA13 PA14 PA15 PB3 PB4 PB5 PB6 PB7 PB8 PB9 PC13 PC14 PC15 PA0 PA1 PA2";
const char* const kBank8S = "PA10 PA9 PA8 PB15 PB14 PB13 PB12 PB11 PB10 PB2 PB1 PB0 PA7 PA6 PA5 PA4 PA3";

std::string McuPinName(uint32_t gpio, uint32_t mask)
{
    int bit = 0;
    while (bit < 32 && mask != (1u << bit))
        ++bit;
    if (gpio > 2 || bit > 15)
        return "invalid";
    return std::string("P") + static_cast<char>('A' + gpio) + std::to_string(bit);
}

std::vector<std::string> Column(TAVDll::BoardType type)
{
    std::vector<std::string> names;
    for (uint32_t bank : {TAVDll::PIN_BANK_4, TAVDll::PIN_BANK_8}) {
        const int pins = bank == TAVDll::PIN_BANK_4 ? 16 : 17;
        for (int bit = 0; bit < pins; ++bit) {
            uint32_t gpio = 99;
            uint32_t mask = 0;
            const bool found = MapPin(bank | (1u << bit), type, &gpio, &mask);
            names.push_back(found ? McuPinName(gpio, mask) : "none");
        }
    }
    return names;
}

std::vector<std::string> Expected(const char* bank4, const char* bank8)
{
    std::vector<std::string> names = Words(bank4);
    for (const std::string& name : Words(bank8))
        names.push_back(name);
    return names;
}

TEST(PinMap, ColumnsMatchTheBoardPinout)
{
    EXPECT_EQ(Column(TAVDll::BOARD_T), Expected(kBank4T, kBank8T));
    EXPECT_EQ(Column(TAVDll::BOARD_S), Expected(kBank4S, kBank8S));
}

TEST(PinMap, BothColumnsAreOneToOneOverTheSame33PortPins)
{
    std::set<std::string> expectedPins;
    for (int bit : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 14, 15})
        expectedPins.insert("PA" + std::to_string(bit));
    for (int bit = 0; bit < 16; ++bit)
        expectedPins.insert("PB" + std::to_string(bit));
    for (int bit : {13, 14, 15})
        expectedPins.insert("PC" + std::to_string(bit));
    ASSERT_EQ(expectedPins.size(), 33u);

    for (TAVDll::BoardType type : {TAVDll::BOARD_T, TAVDll::BOARD_S}) {
        const std::vector<std::string> column = Column(type);
        const std::set<std::string> reached(column.begin(), column.end());
        EXPECT_EQ(column.size(), 33u);
        EXPECT_EQ(reached.size(), column.size()) << "two identifiers reach one pin on model " << type;
        EXPECT_EQ(reached, expectedPins) << "model " << type;
        for (const char* forbidden : {"PA11", "PA12", "PC0", "PC12"})
            EXPECT_EQ(reached.count(forbidden), 0u) << forbidden;
    }
}

TEST(PinMap, OnlySingleValidPinsResolve)
{
    uint32_t gpio = 77;
    uint32_t mask = 88;
    for (uint32_t pinId : {0x40010000u, 0x40000003u, 0x40000000u, 0x80000000u, 0xC0000001u, 0x80020000u,
                           0x00000001u, 0x48000000u})
        for (TAVDll::BoardType type : {TAVDll::BOARD_T, TAVDll::BOARD_S})
            EXPECT_FALSE(MapPin(pinId, type, &gpio, &mask)) << std::hex << pinId;
    for (int type : {1, 3, 4, 255})
        EXPECT_FALSE(MapPin(0x40000001u, static_cast<TAVDll::BoardType>(type), &gpio, &mask)) << type;
    EXPECT_EQ(gpio, 77u);
    EXPECT_EQ(mask, 88u);

    ASSERT_TRUE(MapPin(0x80010000u, TAVDll::BOARD_T, &gpio, &mask));
    EXPECT_EQ(gpio, 2u);
    EXPECT_EQ(mask, 0x8000u);
    ASSERT_TRUE(MapPin(0x80000800u, TAVDll::BOARD_S, &gpio, &mask));
    EXPECT_EQ(gpio, 1u);
    EXPECT_EQ(mask, 0x0001u);
}

TEST(PinMap, VerifyPortAcceptsExactlyTheTwoBanks)
{
    for (uint32_t pinId : {0x40000000u, 0x80000000u, 0x4FFFFFFFu, 0x8FFFFFFFu, 0x40000005u})
        EXPECT_EQ(TAVLib::VerifyPORT(pinId), 1) << std::hex << pinId;
    for (uint32_t pinId : {0u, 0x3FFFFFFFu, 0x50000000u, 0x7FFFFFFFu, 0x90000000u, 0xC0000001u, 0xFFFFFFFFu})
        EXPECT_EQ(TAVLib::VerifyPORT(pinId), 0) << std::hex << pinId;
}

} // namespace
