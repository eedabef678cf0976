// Loading a USB library's DLL on Windows: both libusb0.dll (libusb-win32)
// and libusb-1.0.dll are loaded at run time rather than linked, so that
// tav.dll loads (and its virtual boards work) on a machine without them.
#ifndef TAV_USB_USB_DLL_WINDOWS_H
#define TAV_USB_USB_DLL_WINDOWS_H

#include <windows.h>

namespace TAVDll {

constexpr const char* LIBUSB0_DLL = "libusb0.dll";
constexpr const char* LIBUSB1_DLL = "libusb-1.0.dll";

// From the application's folder, System32 and folders added with
// AddDllDirectory: never the current folder or PATH, where anybody may have
// put a DLL of that name. A DLL of that name the application already loaded
// is the one returned.
inline HMODULE LoadUsbDll(const char* name)
{
    return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

// One export, typed as the caller declares it. GetProcAddress hands back
// every export as FARPROC; the cast to the export's own type goes through a
// plain pointer.
template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* function)
{
    FARPROC address = GetProcAddress(module, name);
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    return address != nullptr;
}

} // namespace TAVDll

#endif
