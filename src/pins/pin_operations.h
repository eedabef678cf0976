#ifndef TAV_PINS_PIN_OPERATIONS_H
#define TAV_PINS_PIN_OPERATIONS_H

#include <stdint.h>

#include "link/board_link.h"
#include "link/record_batch.h"

namespace TAVDll::detail {

// The first six are the board's original operations; the others send the
// same GPIO_Init record with the vendor's other mode codes.
enum class PinAction { DirOutput, DirInput, Floating, Set, Reset, Write, InputPullUp, InputPullDown, OutputOpenDrain };

// The pin walk behind every pin operation: one record per named pin in
// ascending bit order, appended to the batch. RESULT_OK, RESULT_BAD_PIN
// (nothing appended), or RESULT_PIN_UNAVAILABLE at the first pin the model
// has no mapping for (the pins before it are appended).
int AppendPinRecords(InstructionBatch& batch, BoardType model, uint32_t pins, PinAction action, int value);

// A pin operation's result: the walk's records sent back to back.
int PinOperation(BoardLink& link, uint32_t pins, PinAction action, int value = 0);

} // namespace TAVDll::detail

#endif
