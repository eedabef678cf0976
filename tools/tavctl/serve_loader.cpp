// tavctl serve: loads the panel's module (tavctl-serve.so, with the HTTP
// library) beside tavctl in a build, or from its installed folder, and runs
// it. Only this command pays for loading the HTTP library.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "tool.h"

namespace tavctl {

namespace {

using ServeEntry = void (*)(Context*, const char*);

std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string program(path, static_cast<size_t>(length));
    return program.substr(0, program.find_last_of('/'));
}

} // namespace

void ServeCommand(Context& context, const std::string& port)
{
    const std::string folder = ProgramFolder();
    std::string problems;
    void* module = nullptr;
    for (const std::string& candidate : {folder + "/tavctl-serve.so", folder + "/" TAVCTL_MODULE_FROM_BIN "/tavctl-serve.so"}) {
        module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module != nullptr)
            break;
        problems += std::string(problems.empty() ? "" : "; ") + dlerror();
    }
    if (module == nullptr)
        throw ToolError("the control panel's module cannot be loaded: " + problems);
    auto serve = reinterpret_cast<ServeEntry>(dlsym(module, "tavctl_serve"));
    if (serve == nullptr)
        throw ToolError("the control panel's module has no tavctl_serve: " + std::string(dlerror()));
    serve(&context, port.c_str());
}

} // namespace tavctl
