// Loads a plug-in module by file name and resolves its four entry points, as
// the host application does.
#pragma once

#include <cstdint>
#include <string>

namespace standin {

class PluginModule {
public:
    using GetActionNameFn = const char* (*)();
    using GetPositionIndexToAddActionFn = std::int32_t (*)();
    using DoFunctionAfterLoadingCLOFileFn = void (*)(const char*);
    using DoFunctionFn = void (*)();

    // Loads the module; on failure error() says what went wrong (the module
    // that would not load, or the entry point that is missing).
    explicit PluginModule(const std::string& fileName);
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;
    ~PluginModule();

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    GetActionNameFn GetActionName = nullptr;
    GetPositionIndexToAddActionFn GetPositionIndexToAddAction = nullptr;
    DoFunctionAfterLoadingCLOFileFn DoFunctionAfterLoadingCLOFile = nullptr;
    DoFunctionFn DoFunction = nullptr;

private:
    void* Resolve(const char* name);

    void* handle_ = nullptr;
    std::string error_;
};

} // namespace standin
