// The record decoder on any bytes: every length, every class and operation.
#include <cstddef>
#include <cstdint>

#include "record_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const tavsim::DecodedRecord record = tavsim::DecodeRecord(data, size);
    (void)tavsim::DescribeRecord(record);
    return 0;
}
