#ifndef TAV_PINS_PIN_MAP_H
#define TAV_PINS_PIN_MAP_H

#include "pin_map_table.h"

namespace TAVDll::detail {

// Resolves a single-pin identifier on a board model to its port index and
// one-bit pin mask. On a miss neither out-value is written.
inline bool MapPin(uint32_t pinId, BoardType boardType, uint32_t* gpio, uint32_t* pin)
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

} // namespace TAVDll::detail

#endif
