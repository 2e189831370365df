// module_loader.h - the add-in module as a loaded library: loading, unloading, finding a procedure.
#pragma once

#include <string>

namespace quorin_host {

class ModuleLoader {
public:
    ModuleLoader() = default;
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    // Replaces any module loaded before; false with error when the file cannot be loaded. Paths here
    // are UTF-8 on every system, as the command line's are.
    bool Load(const std::string& path, std::string* error);
    void Unload();
    bool Loaded() const { return module_ != nullptr; }
    const std::string& Path() const { return path_; }
    // The exported procedure, or nullptr.
    void* Procedure(const char* name) const;

private:
    void* module_ = nullptr;
    std::string path_;
};

// The default module file: quorin64.so or quorin64.xll beside the running program, as UTF-8.
std::string DefaultModulePath();

}  // namespace quorin_host
