#ifndef TAV_LINK_USB_BACKEND_H
#define TAV_LINK_USB_BACKEND_H

#include "TAVUsbBackend.h"

namespace TAVDll::detail {

// The table every usb_* call of the library goes through.
const UsbBackend& Usb();

} // namespace TAVDll::detail

#endif
