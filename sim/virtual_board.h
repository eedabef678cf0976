/*
 * virtual_board.h - the TAV board on the virtual bus: the board model behind
 * a device's bulk pipes. Every whole or short OUT transfer is executed as the
 * firmware would; the board-information reply goes to the IN endpoint.
 */
#ifndef TAVSIM_VIRTUAL_BOARD_H
#define TAVSIM_VIRTUAL_BOARD_H

#include "model/board_model.h"
#include "virtual_usb.h"

namespace tavsim {

class VirtualBoard : public UsbFunction, public tavmodel::BoardModel {
public:
    using BoardModel::BoardModel;
    void OnBulkOut(const uint8_t* bytes, size_t length, std::vector<uint8_t>* reply) override
    {
        Execute(bytes, length, reply);
    }
};

} // namespace tavsim

#endif
