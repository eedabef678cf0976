// A program as Microsoft's toolchain builds it: compiled by clang in
// Microsoft mode, linked by lld-link against tav.lib alone (no C runtime),
// calling TAVLib's static functions by their Microsoft names. Run under wine
// beside tav.dll and the stand-in libusb0.dll with one board
// (TAV_STANDIN_BOARDS=T). The exit code is 0, or the number of the first
// step that went wrong.
#include "TAVLib.h"

using TAVDll::TAVLib;

namespace {

bool SameText(const char* left, const char* right)
{
    while (*left != '\0' && *left == *right) {
        ++left;
        ++right;
    }
    return *left == *right;
}

} // namespace

extern "C" int mainCRTStartup()
{
    const unsigned int ledPin = TAVDll::PIN_BANK_4 | 0x100; // P4.8
    TAVLib::Initial();
    if (TAVLib::Open() == nullptr)
        return 1;
    if (TAVLib::RequestBoardInfo() != TAVDll::RESULT_OK || TAVLib::GetType() != TAVDll::BOARD_T)
        return 2;
    char version[16] = {};
    TAVLib::GetVersion(version, static_cast<int>(sizeof version));
    if (!SameText(version, "1.0.2.13"))
        return 3;
    if (TAVLib::InitTav(0) != 0 || TAVLib::Pin_DirOutput(ledPin) != 0 || TAVLib::Pin_Set(ledPin) != 0)
        return 4;
    unsigned int max = 0;
    if (TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV2, 100, 200, 300, 400, &max) != 0 || max != TAVDll::PWM_FULL_SCALE)
        return 5;
    if (TAVLib::UpdatePWMB(1, 9000) != 0 || TAVLib::VerifyPORT(ledPin) != 1)
        return 6;
    if (TAVLib::Close() != 0 || TAVLib::Pin_Set(ledPin) != TAVDll::RESULT_NOT_OPEN)
        return 7;
    return 0;
}
