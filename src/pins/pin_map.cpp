#include "pins/pin_map.h"

namespace TAVDll {

int TAVLib::VerifyPORT(unsigned int pins)
{
    return detail::KnownPinBank(pins) ? 1 : 0;
}

} // namespace TAVDll
