// Opens a TAV board, prints its model and firmware version, brings it up and
// drives one pin. Without a board attached (or with --sim) it runs against the
// virtual board and prints what the board's pins do afterwards.
#include <cstdio>
#include <cstring>
#include <memory>

#include "TAVLib.h"
#include "virtual_board.h"
#include "virtual_usb.h"

using TAVDll::TAVLib;

static const char* ModelName(TAVDll::BoardType type)
{
    switch (type) {
    case TAVDll::BOARD_T: return "T";
    case TAVDll::BOARD_C: return "C";
    case TAVDll::BOARD_S: return "S";
    default: return "other";
    }
}

int main(int argc, char** argv)
{
    const bool forceSim = argc > 1 && std::strcmp(argv[1], "--sim") == 0;
    std::unique_ptr<tavsim::VirtualUsb> virtualBus;
    TAVLib::Initial();
    if (forceSim || TAVLib::Open() == nullptr) {
        virtualBus = std::make_unique<tavsim::VirtualUsb>();
        virtualBus->AddBoard('T', {1, 0, 2, 13});
        std::printf("no board attached: using the virtual board\n");
        TAVLib::Initial();
        TAVLib::Open();
    }
    if (TAVLib::RequestBoardInfo() != TAVDll::RESULT_OK) {
        std::fprintf(stderr, "board information request failed\n");
        return 1;
    }
    char version[16];
    TAVLib::GetVersion(version, sizeof version);
    std::printf("board model %s, firmware %s\n", ModelName(TAVLib::GetType()), version);

    const unsigned int firstPin = TAVDll::PIN_BANK_4 | 0x1; // P4.0
    if (TAVLib::InitTav(0) != TAVDll::RESULT_OK || TAVLib::Pin_DirOutput(firstPin) != TAVDll::RESULT_OK
        || TAVLib::Pin_Set(firstPin) != TAVDll::RESULT_OK) {
        std::fprintf(stderr, "driving P4.0 failed\n");
        return 1;
    }
    if (virtualBus != nullptr)
        std::printf("P4.0 on the virtual board: %s\n", virtualBus->DeviceAt(0).Board().Pin(firstPin).Describe().c_str());
    TAVLib::Close();
    return 0;
}
