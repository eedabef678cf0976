// Loading a USB library's DLL on Windows: both libusb0.dll (libusb-win32)
// and libusb-1.0.dll are loaded at run time rather than linked, so that
// tav.dll loads (and its virtual boards work) on a machine without them.
#ifndef TAV_USB_USB_DLL_WINDOWS_H
#define TAV_USB_USB_DLL_WINDOWS_H

#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace TAVDll {

constexpr const char* LIBUSB0_DLL = "libusb0.dll";
constexpr const char* LIBUSB1_DLL = "libusb-1.0.dll";

// The folder tav.dll itself was loaded from, with its last separator
// ("C:\\app\\python\\tav\\"); empty when Windows cannot say.
inline bool OwnFolder(char* folder, DWORD size)
{
    HMODULE self = nullptr;
    static const char marker = 0; // an address inside this DLL
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            &marker, &self))
        return false;
    const DWORD length = GetModuleFileNameA(self, folder, size);
    if (length == 0 || length >= size)
        return false;
    for (DWORD index = length; index > 0; --index) {
        if (folder[index - 1] == '\\' || folder[index - 1] == '/') {
            folder[index] = '\0';
            return true;
        }
    }
    return false;
}

// From the application's folder, System32 and folders added with
// AddDllDirectory, then from tav.dll's own folder by its full path (where
// the Python package and the .NET package put it beside tav.dll): never the
// current folder or PATH, where anybody may have put a DLL of that name. A
// DLL of that name the application already loaded is the one returned.
// *error: Windows' code when none loads; ERROR_BAD_EXE_FORMAT (193) from
// any of them (a DLL of the other architecture) wins over not found.
inline HMODULE LoadUsbDll(const char* name, DWORD* error)
{
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (module != nullptr)
        return module;
    *error = GetLastError();
    char path[MAX_PATH + 32];
    if (!OwnFolder(path, MAX_PATH) || std::strlen(path) + std::strlen(name) >= sizeof path)
        return nullptr;
    std::strcat(path, name);
    module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (module == nullptr && *error != ERROR_BAD_EXE_FORMAT)
        *error = GetLastError();
    return module;
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
        DWORD error = 0;
        HMODULE module = LoadUsbDll(name_, &error);
        if (module == nullptr) {
            error_.store(error);
            return nullptr;
        }
        Functions functions{};
        if (!resolve(module, functions)) {
            FreeLibrary(module);
            error_.store(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        error_.store(0);
        functions_ = functions;
        loaded_.store(&functions_, std::memory_order_release);
        return &functions_;
    }

    const Functions* Loaded() const { return loaded_.load(std::memory_order_acquire); }
    // Why the last try did not load it: Windows' error (193: another
    // architecture's DLL); 0 once loaded, or before any try.
    DWORD LastError() const { return error_.load(); }

private:
    const char* name_;
    std::mutex mutex_;
    Functions functions_{};
    std::atomic<const Functions*> loaded_{nullptr};
    std::atomic<DWORD> error_{0};
};

} // namespace TAVDll

#endif
