#include "virtual_board.h"

#include <cstring>

namespace tavsim {

namespace {

constexpr size_t RECORD_SIZE = sizeof(_INSTRUCTION_INFO_);
constexpr size_t REPLY_VERSION_OFFSET = 4;

} // namespace

VirtualBoard::VirtualBoard(char modelLetter, std::vector<uint8_t> version)
    : modelLetter_(modelLetter), version_(std::move(version))
{
    version_.resize(4);
}

void VirtualBoard::OnBulkOut(const uint8_t* bytes, size_t length, std::vector<uint8_t>* reply)
{
    if (length != RECORD_SIZE)
        return;
    _INSTRUCTION_INFO_ record;
    std::memcpy(&record, bytes, RECORD_SIZE);
    received_.push_back(record);
    if (record.instructionClass == TAVDll::CLASS_BOARD_INFO && record.operation == TAVDll::INFO_OP_REQUEST) {
        reply->assign(RECORD_SIZE, 0);
        (*reply)[0] = static_cast<uint8_t>(modelLetter_);
        std::memcpy(reply->data() + REPLY_VERSION_OFFSET, version_.data(), 4);
    }
}

} // namespace tavsim
