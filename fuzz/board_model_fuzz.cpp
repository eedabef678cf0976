// The board model executing any stream of records (the last one may be
// short), then the board view of what they did.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/board_view.h"
#include "virtual_board.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    tavsim::VirtualBoard board(static_cast<char>("TSCx"[data[0] % 4]));
    board.SetKeepReceived(false);
    for (size_t offset = 1; offset < size; offset += 64) {
        std::vector<uint8_t> reply;
        board.Execute(data + offset, size - offset < 64 ? size - offset : 64, &reply);
    }
    (void)tavmodel::BoardView(board).Render();
    return 0;
}
