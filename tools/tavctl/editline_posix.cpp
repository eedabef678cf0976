// libedit through dlopen: only the shell loads it (with libtinfo and libbsd
// behind it), and a system without it still has a shell of plain lines.
#include <dlfcn.h>

#include "line_editor.h"

namespace tavctl {

namespace {

template <typename Symbol>
bool Resolve(void* library, const char* name, Symbol& symbol)
{
    symbol = reinterpret_cast<Symbol>(dlsym(library, name));
    return symbol != nullptr;
}

const Editline* Load()
{
    void* library = dlopen("libedit.so.2", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return nullptr;
    static Editline editline;
    if (Resolve(library, "readline", editline.readline) && Resolve(library, "add_history", editline.addHistory)
        && Resolve(library, "using_history", editline.usingHistory)
        && Resolve(library, "read_history", editline.readHistory)
        && Resolve(library, "write_history", editline.writeHistory)
        && Resolve(library, "rl_replace_line", editline.replaceLine)
        && Resolve(library, "rl_catch_signals", editline.catchSignals)
        && Resolve(library, "rl_getc_function", editline.getcFunction))
        return &editline;
    dlclose(library);
    return nullptr;
}

} // namespace

extern const bool LINE_EDITING = true; // where libedit is installed

const Editline* LoadEditline()
{
    static const Editline* const loaded = Load();
    return loaded;
}

} // namespace tavctl
