#ifndef TAV_PINS_PIN_MAP_H
#define TAV_PINS_PIN_MAP_H

#include "pin_map_table.h"

namespace TAVDll::detail {

// Resolves a single-pin identifier on a board model to its port index and
// one-bit pin mask. On a miss neither out-value is written.
bool MapPin(uint32_t pinId, BoardType boardType, uint32_t* gpio, uint32_t* pin);

} // namespace TAVDll::detail

#endif
