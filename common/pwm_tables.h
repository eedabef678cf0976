// The PWM hardware as data: which timer and clock gate each group uses, the
// prescaler of each frequency selection, and the pin and output-compare unit
// behind each channel. Set-up, update and shutdown all read these tables, and
// the tools name channels by them. Shared inside this project; not public API.
#ifndef TAV_COMMON_PWM_TABLES_H
#define TAV_COMMON_PWM_TABLES_H

#include <stddef.h>
#include <stdint.h>

#include "TAVLib.h"
#include "board_facts.h"
#include "wire_layout.h"

namespace TAVDll::detail {

constexpr uint32_t PWM_PERIOD = PWM_FULL_SCALE - 1; // the counter counts 0..35999
constexpr size_t PWM_GROUP_COUNT = 3;
constexpr size_t PWM_FREQUENCY_COUNT = 8;

struct PwmGroup {
    uint32_t timerIndex;
    uint8_t clockOperation; // RCC_OP_APB2_CLOCK or RCC_OP_APB1_CLOCK
    uint32_t peripheralMask;
    uint32_t firstChannel;  // its first row in PWM_CHANNEL_MAP
    uint32_t channelCount;
};

// Group A, B, C in this order: a group's index is its letter's place and the
// index of the timer it drives.
constexpr PwmGroup PWM_GROUPS[PWM_GROUP_COUNT] = {
    {0, RCC_OP_APB2_CLOCK, RCC_APB2_TIM1, 0, 3}, // A: TIM1
    {1, RCC_OP_APB1_CLOCK, RCC_APB1_TIM2, 3, 4}, // B: TIM2
    {2, RCC_OP_APB1_CLOCK, RCC_APB1_TIM3, 7, 4}, // C: TIM3
};

constexpr bool GroupsDriveTheirOwnTimer()
{
    for (size_t index = 0; index < PWM_GROUP_COUNT; ++index) {
        if (PWM_GROUPS[index].timerIndex != index)
            return false;
    }
    return true;
}
static_assert(GroupsDriveTheirOwnTimer(), "group index and timer index are one number");

constexpr char PwmGroupLetter(size_t groupIndex)
{
    return static_cast<char>('A' + groupIndex);
}

// The group of a letter, either case: its index, or -1.
constexpr int PwmGroupIndex(char letter)
{
    const char upper = letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
    return upper >= 'A' && upper < PwmGroupLetter(PWM_GROUP_COUNT) ? upper - 'A' : -1;
}

// Prescaler by PWM_Frequency; the timer counts at its clock / (prescaler + 1).
constexpr uint32_t PWM_PRESCALERS[PWM_FREQUENCY_COUNT] = {0, 1, 3, 7, 15, 31, 63, 127};

// The divider people choose a frequency by (2000 Hz / divider): the
// prescaler's factor.
constexpr uint32_t PwmDivider(size_t frequencyIndex)
{
    return PWM_PRESCALERS[frequencyIndex] + 1;
}

// The frequency selection of a divider, or -1 for a divider the board has not.
constexpr int PwmFrequencyIndex(uint64_t divider)
{
    for (size_t index = 0; index < PWM_FREQUENCY_COUNT; ++index) {
        if (PwmDivider(index) == divider)
            return static_cast<int>(index);
    }
    return -1;
}

struct PwmChannel {
    uint32_t timerIndex;
    uint32_t channel;  // as the application numbers it
    McuPin mcuPin;
    uint8_t unit;      // the timer's output-compare unit 1..4
};

// In channel order; groups A and C count from the highest unit down.
constexpr PwmChannel PWM_CHANNEL_MAP[] = {
    {0, 1, {PORT_A, 10}, 3}, // A1: PA10, TIM1_CH3
    {0, 2, {PORT_A, 9}, 2},  // A2: PA9,  TIM1_CH2
    {0, 3, {PORT_A, 8}, 1},  // A3: PA8,  TIM1_CH1
    {1, 1, {PORT_A, 0}, 1},  // B1: PA0,  TIM2_CH1
    {1, 2, {PORT_A, 1}, 2},  // B2: PA1,  TIM2_CH2
    {1, 3, {PORT_A, 2}, 3},  // B3: PA2,  TIM2_CH3
    {1, 4, {PORT_A, 3}, 4},  // B4: PA3,  TIM2_CH4
    {2, 1, {PORT_B, 1}, 4},  // C1: PB1,  TIM3_CH4
    {2, 2, {PORT_B, 0}, 3},  // C2: PB0,  TIM3_CH3
    {2, 3, {PORT_A, 7}, 2},  // C3: PA7,  TIM3_CH2
    {2, 4, {PORT_A, 6}, 1},  // C4: PA6,  TIM3_CH1
};

// The group channel a timer's output-compare unit drives, or null.
constexpr const PwmChannel* FindPwmChannelOfUnit(uint32_t timerIndex, uint32_t unit)
{
    for (const PwmChannel& entry : PWM_CHANNEL_MAP) {
        if (entry.timerIndex == timerIndex && entry.unit == unit)
            return &entry;
    }
    return nullptr;
}

// Each group's rows are where its firstChannel and channelCount say.
constexpr bool GroupRowsAgree()
{
    for (const PwmGroup& group : PWM_GROUPS) {
        for (uint32_t channel = 1; channel <= group.channelCount; ++channel) {
            const PwmChannel& entry = PWM_CHANNEL_MAP[group.firstChannel + channel - 1];
            if (entry.timerIndex != group.timerIndex || entry.channel != channel)
                return false;
        }
    }
    return true;
}
static_assert(GroupRowsAgree(), "PWM_GROUPS must point at their rows of PWM_CHANNEL_MAP");

// The entry of (timer, channel), or null when the group has no such channel.
constexpr const PwmChannel* FindPwmChannel(uint32_t timerIndex, uint32_t channel)
{
    if (timerIndex >= PWM_GROUP_COUNT || channel < 1 || channel > PWM_GROUPS[timerIndex].channelCount)
        return nullptr;
    return &PWM_CHANNEL_MAP[PWM_GROUPS[timerIndex].firstChannel + channel - 1];
}

// Any selection outside the table (compared unsigned) runs undivided.
constexpr uint32_t PrescalerFor(PWM_Frequency frequency)
{
    const auto index = static_cast<uint32_t>(frequency);
    return index < PWM_FREQUENCY_COUNT ? PWM_PRESCALERS[index] : 0;
}

} // namespace TAVDll::detail

#endif
