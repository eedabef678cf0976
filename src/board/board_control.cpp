#include "board/board_control.h"

#include "link/transport.h"
#include "records/records.h"

namespace TAVDll {
namespace detail {

namespace {

class BoardBatchSink : public BatchSink {
public:
    using BatchSink::BatchSink;
    void PinRemap(uint32_t remapCode, uint8_t state) { Add(MakeGpioPinRemap, remapCode, state); }
    void BoardStart(uint32_t startupValue) { Add(MakeBoardInit, startupValue); }
    void Pins(BoardType model, uint32_t pins, PinAction action) { AppendPinRecords(batch_, model, pins, action, 0); }
};

} // namespace

int InitTav(BoardLink& link, uint32_t startupValue)
{
    if (!BoardOpen(link))
        return RESULT_IO_FAILED;
    InstructionBatch batch;
    BoardBatchSink sink(batch);
    board_sequence::Init(sink, link.boardType, startupValue);
    return SubmitBatch(link, batch);
}

int DisableAll(BoardLink& link)
{
    if (!BoardOpen(link))
        return RESULT_NOT_OPEN;
    InstructionBatch batch;
    BoardBatchSink sink(batch);
    board_sequence::SafeState(sink, link.boardType);
    return SubmitBatch(link, batch);
}

void CloseBoard(BoardLink& link)
{
    if (BoardOpen(link)) {
        InstructionBatch batch;
        BoardBatchSink sink(batch);
        board_sequence::Close(sink, link.boardType);
            SubmitBatch(link, batch);
    }
    ReleaseDevice(link);
}

} // namespace detail

} // namespace TAVDll
