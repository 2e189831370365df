// module_loader.h - the add-in module as a loaded library: loading, unloading, finding a procedure.
#pragma once

#include <string>

namespace quorin_host {

class ModuleLoader {
public:
    ModuleLoader() = default;
    ~ModuleLoader() { Unload(); }
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    // Replaces any module loaded before; false with error when the file cannot be loaded. Paths here
    // are UTF-8 on every system, as the command line's are.
    bool Load(const std::string& path, std::string* error);
    // Loads a private copy of the file, which the system does not take for the module already loaded,
    // so that its statics are its own: on Linux from an anonymous file in memory, on Windows from a
    // copy in the temporary folder, removed when unloaded. Path() stays path.
    bool LoadCopy(const std::string& path, std::string* error);
    void Unload();
    bool Loaded() const { return module_ != nullptr; }
    const std::string& Path() const { return path_; }
    // The exported procedure, or nullptr.
    void* Procedure(const char* name) const;

private:
    bool Open(const std::string& file, std::string* error);

    void* module_ = nullptr;
    std::string path_;
#if defined(_WIN32)
    std::string copy_;  // the copy to remove once unloaded
#else
    int copyFile_ = -1;  // the copy's anonymous file, open while it is loaded
#endif
};

// The default module file: quorin64.so or quorin64.xll beside the running program, as UTF-8.
std::string DefaultModulePath();

}  // namespace quorin_host
