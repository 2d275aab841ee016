#include "plugin_module.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstring>

namespace standin {
namespace {

#if defined(_WIN32)
std::string LastError() { return "Windows error " + std::to_string(GetLastError()); }
#endif

// Function pointers from the loader come as untyped addresses.
template <typename Fn>
Fn As(void* address)
{
    Fn function = nullptr;
    static_assert(sizeof(function) == sizeof(address), "function and object pointers differ");
    std::memcpy(&function, &address, sizeof(function));
    return function;
}

} // namespace

PluginModule::PluginModule(const std::string& fileName)
{
#if defined(_WIN32)
    handle_ = LoadLibraryA(fileName.c_str());
    if (handle_ == nullptr) {
        error_ = "cannot load plug-in module " + fileName + ": " + LastError();
        return;
    }
#else
    handle_ = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        error_ =
            "cannot load plug-in module " + fileName + ": " + (reason ? reason : "unknown error");
        return;
    }
#endif
    GetActionName = As<GetActionNameFn>(Resolve("GetActionName"));
    GetPositionIndexToAddAction =
        As<GetPositionIndexToAddActionFn>(Resolve("GetPositionIndexToAddAction"));
    DoFunctionAfterLoadingCLOFile =
        As<DoFunctionAfterLoadingCLOFileFn>(Resolve("DoFunctionAfterLoadingCLOFile"));
    DoFunction = As<DoFunctionFn>(Resolve("DoFunction"));
    if (!ok()) {
        error_ = fileName + ": " + error_;
    }
}

PluginModule::~PluginModule()
{
    if (handle_ == nullptr) {
        return;
    }
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

void* PluginModule::Resolve(const char* name)
{
#if defined(_WIN32)
    void* address = nullptr;
    FARPROC procedure = GetProcAddress(static_cast<HMODULE>(handle_), name);
    static_assert(sizeof(procedure) == sizeof(address), "function and object pointers differ");
    std::memcpy(&address, &procedure, sizeof(address));
#else
    void* address = dlsym(handle_, name);
#endif
    if (address == nullptr && ok()) {
        error_ = std::string("missing entry point ") + name;
    }
    return address;
}

} // namespace standin
