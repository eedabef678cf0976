#ifndef TAV_LINK_RECORD_BATCH_H
#define TAV_LINK_RECORD_BATCH_H

#include <new>

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

// Appends one record and returns the new inCount. The operations stay far
// below capacity; this only guards the array.
inline int Append(InstructionBatch& batch, const _INSTRUCTION_INFO_& record)
{
    if (batch.inCount < batch.capacity)
        batch.records[batch.inCount++] = record;
    return batch.inCount;
}

// Appends the record build(arguments...) makes, built straight into its
// slot (no copy), and returns the new inCount. A full batch takes nothing.
template <typename Builder, typename... Arguments>
int Append(InstructionBatch& batch, Builder build, Arguments... arguments)
{
    if (batch.inCount < batch.capacity)
        ::new (&batch.records[batch.inCount++]) _INSTRUCTION_INFO_(build(arguments...));
    return batch.inCount;
}

} // namespace TAVDll::detail

#endif
