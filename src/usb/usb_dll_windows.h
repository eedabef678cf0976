// Loading a USB library's DLL on Windows: both libusb0.dll (libusb-win32)
// and libusb-1.0.dll are loaded at run time rather than linked, so that
// tav.dll loads (and its virtual boards work) on a machine without them.
#ifndef TAV_USB_USB_DLL_WINDOWS_H
#define TAV_USB_USB_DLL_WINDOWS_H

#include <windows.h>

#include <atomic>
#include <mutex>

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

// A DLL's function table, loaded once: tried again at each call until it
// succeeds (a library installed while a program runs is found at its next
// enumeration). resolve(module, functions) fills the table and says whether
// every function it needs is there; a DLL without them is let go.
template <typename Functions>
class UsbDll {
public:
    explicit UsbDll(const char* name) : name_(name) {}

    template <typename ResolveAll>
    const Functions* Load(ResolveAll resolve)
    {
        if (const Functions* ready = Loaded())
            return ready;
        std::lock_guard<std::mutex> lock(mutex_);
        if (const Functions* ready = Loaded())
            return ready;
        HMODULE module = LoadUsbDll(name_);
        if (module == nullptr)
            return nullptr;
        Functions functions{};
        if (!resolve(module, functions)) {
            FreeLibrary(module);
            return nullptr;
        }
        functions_ = functions;
        loaded_.store(&functions_, std::memory_order_release);
        return &functions_;
    }

    const Functions* Loaded() const { return loaded_.load(std::memory_order_acquire); }

private:
    const char* name_;
    std::mutex mutex_;
    Functions functions_{};
    std::atomic<const Functions*> loaded_{nullptr};
};

} // namespace TAVDll

#endif
