#ifndef TAV_PINS_PIN_OPERATIONS_H
#define TAV_PINS_PIN_OPERATIONS_H

#include <stdint.h>

#include "link/board_link.h"

namespace TAVDll::detail {

enum class PinAction { DirOutput, DirInput, Floating, Set, Reset, Write };

// The pin loop behind every pin operation: one record per named pin in
// ascending bit order. Returns the operation's result; *ioFailed is set when
// a record did not go out whole (also where the result is 64).
int RunPinLoop(BoardLink& link, uint32_t pins, PinAction action, int value, bool* ioFailed);

// A pin operation's result.
int PinOperation(BoardLink& link, uint32_t pins, PinAction action, int value = 0);

} // namespace TAVDll::detail

#endif
