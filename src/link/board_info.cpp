#include "link/board_info.h"

#include <cstdio>

#include "link/transport.h"

namespace TAVDll {
namespace detail {

int RequestBoardInfo(BoardLink& link)
{
    if (!BoardOpen(link))
        return RESULT_NOT_OPEN;
    _INSTRUCTION_INFO_ request{};
    request.instructionClass = CLASS_BOARD_INFO;
    request.operation = INFO_OP_REQUEST;
    unsigned long moved = 0;
    if (WriteOut(link, &request, RECORD_SIZE, &moved) != RESULT_OK)
        return RESULT_IO_FAILED;
    uint8_t reply[RECORD_SIZE] = {};
    if (ReadIn(link, reply, sizeof reply) != RESULT_OK)
        return RESULT_IO_FAILED;
    link.boardType = BoardTypeFromLetter(static_cast<char>(reply[REPLY_MODEL_OFFSET]));
    const uint8_t* version = reply + REPLY_VERSION_OFFSET;
    std::snprintf(link.versionText, sizeof link.versionText, "%u.%u.%u.%u", version[0], version[1], version[2],
                  version[3]);
    return RESULT_OK;
}

} // namespace detail

} // namespace TAVDll
