#include "pins/pin_map.h"

namespace TAVDll {
namespace detail {

bool MapPin(uint32_t pinId, BoardType boardType, uint32_t* gpio, uint32_t* pin)
{
    const int column = PinMapColumn(boardType);
    const int row = PinMapRowIndex(pinId);
    if (column < 0 || row < 0 || PIN_MAP[row].pinId != pinId)
        return false;
    const McuPin& target = PIN_MAP[row].byModel[column];
    *gpio = target.port;
    *pin = 1u << target.pin;
    return true;
}

} // namespace detail

int TAVLib::VerifyPORT(unsigned int pins)
{
    const uint32_t bank = pins & PIN_BANK_FIELD;
    return bank == PIN_BANK_4 || bank == PIN_BANK_8 ? 1 : 0;
}

} // namespace TAVDll
