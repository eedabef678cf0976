/*
 * virtual_board.h - the TAV board as seen from its USB pipes.
 *
 * Receives every OUT transfer the way the board's firmware does and answers
 * the board-information request with its model letter and firmware version.
 */
#ifndef TAVSIM_VIRTUAL_BOARD_H
#define TAVSIM_VIRTUAL_BOARD_H

#include <cstdint>
#include <string>
#include <vector>

#include "virtual_usb.h"

namespace tavsim {

class VirtualBoard : public UsbFunction {
public:
    explicit VirtualBoard(char modelLetter = 'T', std::vector<uint8_t> version = {1, 0, 0, 0});

    void OnBulkOut(const uint8_t* bytes, size_t length, std::vector<uint8_t>* reply) override;

    char ModelLetter() const { return modelLetter_; }
    void SetModelLetter(char letter) { modelLetter_ = letter; }
    const std::vector<uint8_t>& Version() const { return version_; }
    void SetVersion(std::vector<uint8_t> version) { version_ = std::move(version); }

    // Every whole record received, in order.
    const std::vector<_INSTRUCTION_INFO_>& Received() const { return received_; }

private:
    char modelLetter_;
    std::vector<uint8_t> version_;
    std::vector<_INSTRUCTION_INFO_> received_;
};

} // namespace tavsim

#endif
