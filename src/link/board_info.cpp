#include <cstdio>

#include "link/library_state.h"
#include "link/transport.h"

namespace TAVDll {
namespace detail {
namespace {

constexpr int REPLY_MODEL_OFFSET = 0;
constexpr int REPLY_VERSION_OFFSET = 4;

BoardType BoardTypeFromLetter(uint8_t letter)
{
    switch (letter) {
    case 'T': return BOARD_T;
    case 'C': return BOARD_C;
    case 'S': return BOARD_S;
    default: return BOARD_OTHER;
    }
}

} // namespace
} // namespace detail

using namespace detail;

int TAVLib::RequestBoardInfo()
{
    if (!BoardOpen())
        return RESULT_NOT_OPEN;
    _INSTRUCTION_INFO_ request{};
    request.instructionClass = CLASS_BOARD_INFO;
    request.operation = INFO_OP_REQUEST;
    if (WritePipe(&request, RECORD_SIZE, nullptr) != RESULT_OK)
        return RESULT_IO_FAILED;
    uint8_t reply[RECORD_SIZE] = {};
    if (ReadPipe(reply, sizeof reply) != RESULT_OK)
        return RESULT_IO_FAILED;
    libraryState.boardType = BoardTypeFromLetter(reply[REPLY_MODEL_OFFSET]);
    const uint8_t* version = reply + REPLY_VERSION_OFFSET;
    std::snprintf(libraryState.versionText, sizeof libraryState.versionText, "%u.%u.%u.%u", version[0],
                  version[1], version[2], version[3]);
    return RESULT_OK;
}

BoardType TAVLib::GetType()
{
    return libraryState.boardType;
}

int TAVLib::GetVersion(char* buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return RESULT_OK;
    std::snprintf(buffer, static_cast<size_t>(size), "%s", libraryState.versionText);
    return RESULT_OK;
}

} // namespace TAVDll
