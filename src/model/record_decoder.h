/*
 * record_decoder.h - reads a 64-byte record the way the board's firmware
 * dispatches it: class, then operation, then the vendor function's arguments.
 * The board model executes decoded records; tools and tests print them.
 */
#ifndef TAV_MODEL_RECORD_DECODER_H
#define TAV_MODEL_RECORD_DECODER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "TAVLib.h"
#include "board_facts.h"
#include "wire_layout.h"

namespace tavmodel {

enum class RecordKind {
    BoardStart,       // class 1
    BoardInfoRequest, // class 2, operation 1
    GpioInit,
    GpioSetBits,
    GpioResetBits,
    GpioPinRemap,
    RccApb2Clock,
    RccApb1Clock,
    TimDeInit,
    TimTimeBaseInit,
    TimOcInit,
    TimCmd,
    TimCtrlPwmOutputs,
    TimArrPreload,
    TimOcPreload,
    Unknown
};

struct DecodedRecord {
    RecordKind kind = RecordKind::Unknown;
    // Why the firmware would refuse it; empty when it is acceptable.
    std::string problem;
    uint8_t instructionClass = 0;
    uint8_t operation = 0;
    uint32_t index = 0;  // GPIO port or timer index
    uint32_t mask = 0;   // pin mask, peripheral mask or remap code
    uint32_t value = 0;  // state, preload code or start-up argument
    uint8_t speed = 0;   // GPIO_Init
    uint8_t mode = 0;    // GPIO_Init
    uint8_t unit = 0;    // output-compare unit 1..4
    TAVDll::detail::TimeBaseParams timeBase{};
    TAVDll::detail::OutputCompareParams outputCompare{};
    std::array<uint8_t, TAVDll::detail::RECORD_SIZE> bytes{};
    size_t length = 0;
};

// GPIO_SetBits and GPIO_ResetBits, the records pin calls send most, read
// straight from the 64 bytes: true, with the port, the pin mask and the level,
// when the record is one of them and the firmware would take it; false for
// anything else, which DecodeRecord reads whole. Their layout and rules live
// here and in DecodeRecord's GPIO part alike.
inline bool ReadGpioBits(const uint8_t* bytes, uint32_t* port, uint32_t* mask, bool* high)
{
    const uint8_t operation = bytes[TAVDll::detail::OPERATION_OFFSET];
    if (bytes[TAVDll::detail::CLASS_OFFSET] != TAVDll::CLASS_GPIO
        || (operation != TAVDll::GPIO_OP_SET_BITS && operation != TAVDll::GPIO_OP_RESET_BITS))
        return false;
    *port = TAVDll::detail::RecordWord(bytes, TAVDll::detail::GPIO_PORT_OFFSET);
    *mask = TAVDll::detail::RecordWord(bytes, TAVDll::detail::GPIO_MASK_OFFSET);
    *high = operation == TAVDll::GPIO_OP_SET_BITS;
    return *port <= 2 && *mask != 0 && (*mask & 0xFFFF0000u) == 0;
}

// GPIO_Init, the record of every pin mode, read the same way: true, with the
// port, the pin mask, the speed and the mode, when the firmware would take it.
inline bool ReadGpioInit(const uint8_t* bytes, uint32_t* port, uint32_t* mask, uint8_t* speed, uint8_t* mode)
{
    if (bytes[TAVDll::detail::CLASS_OFFSET] != TAVDll::CLASS_GPIO
        || bytes[TAVDll::detail::OPERATION_OFFSET] != TAVDll::GPIO_OP_INIT)
        return false;
    *port = TAVDll::detail::RecordWord(bytes, TAVDll::detail::GPIO_PORT_OFFSET);
    *mask = TAVDll::detail::RecordWord(bytes, TAVDll::detail::GPIO_MASK_OFFSET);
    *speed = bytes[TAVDll::detail::GPIO_SPEED_OFFSET];
    *mode = bytes[TAVDll::detail::GPIO_MODE_OFFSET];
    return *port <= 2 && *mask != 0 && (*mask & 0xFFFF0000u) == 0 && TAVDll::detail::IsGpioMode(*mode)
           && ((*mode & 0x10) == 0 || (*speed >= 1 && *speed <= 3));
}

DecodedRecord DecodeRecord(const uint8_t* bytes, size_t length);
// The same into a record the caller keeps, whose text is reused: for paths
// that decode every record sent.
void DecodeRecordInto(const uint8_t* bytes, size_t length, DecodedRecord& record);
DecodedRecord DecodeRecord(const TAVDll::_INSTRUCTION_INFO_& record);

// Text written into a buffer its caller owns: nothing is allocated; text
// that does not fit is cut, and the buffer always ends with a NUL.
struct Hexadecimal {
    uint32_t value; // written as 0x1F
};
class TextOut {
public:
    TextOut(char* buffer, size_t size) : buffer_(buffer), size_(size) { buffer_[0] = '\0'; }
    TextOut& operator<<(const char* text) { return Append(text, std::strlen(text)); }
    // A string literal: its length is known where it is written.
    template <size_t N>
    TextOut& operator<<(const char (&text)[N])
    {
        return Append(text, N - 1);
    }
    TextOut& operator<<(uint32_t value);
    TextOut& operator<<(Hexadecimal value);
    size_t Length() const { return length_; }

private:
    TextOut& Append(const char* text, size_t length)
    {
        if (length > size_ - 1 - length_)
            length = size_ - 1 - length_;
        std::memcpy(buffer_ + length_, text, length);
        length_ += length;
        buffer_[length_] = '\0';
        return *this;
    }

    char* buffer_;
    size_t size_; // at least 1
    size_t length_ = 0;
};

// Room for any record's description.
constexpr size_t DESCRIPTION_CAPACITY = 512;

// One line naming the vendor function and its arguments by meaning, e.g.
// "TIM_OC4Init(TIM3, PWM1, output enabled, pulse 100)". A record the
// firmware would refuse ends with " -- rejected: <reason>"; an unknown one is
// shown with its bytes. DescribeRecordTo writes it into text (size bytes,
// at least 1) and returns its length.
size_t DescribeRecordTo(const DecodedRecord& record, char* text, size_t size);
std::string DescribeRecord(const DecodedRecord& record);
std::string DescribeRecord(const TAVDll::_INSTRUCTION_INFO_& record);

// The vendor's name of an output-compare mode ("PWM1"), for the board view.
std::string OcModeName(uint32_t mode);

} // namespace tavmodel

#endif
