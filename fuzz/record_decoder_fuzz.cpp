// The record decoder on any bytes: every length, every class and operation.
#include <cstddef>
#include <cstdint>

#include "model/record_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const tavmodel::DecodedRecord record = tavmodel::DecodeRecord(data, size);
    (void)tavmodel::DescribeRecord(record);
    return 0;
}
