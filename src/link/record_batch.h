#ifndef TAV_LINK_RECORD_BATCH_H
#define TAV_LINK_RECORD_BATCH_H

#include "wire_layout.h"

namespace TAVDll::detail {

// Room for the longest operation (InitTav: 61 records).
constexpr int BATCH_CAPACITY = 100;

// The records of one operation, collected before any is sent, so that they
// can go out back to back. Fixed storage (no heap); slots at and past
// inCount are never read.
struct InstructionBatch {
    explicit InstructionBatch(int capacityInRecords = BATCH_CAPACITY)
        : capacity(capacityInRecords < BATCH_CAPACITY ? capacityInRecords : BATCH_CAPACITY)
    {
    }
    _INSTRUCTION_INFO_ records[BATCH_CAPACITY];
    int inCount = 0;
    int capacity;
};

} // namespace TAVDll::detail

#endif
