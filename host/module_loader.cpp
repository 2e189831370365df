// module_loader.cpp - the platform's library loader behind one small interface.
#include "host/module_loader.h"

#if defined(_WIN32)
#include <windows.h>

#include <filesystem>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace quorin_host {

bool ModuleLoader::Load(const std::string& path, std::string* error)
{
    Unload();
#if defined(_WIN32)
    // The wide loader: the narrow one reads names in the ANSI code page, which cannot spell them all.
    module_ = reinterpret_cast<void*>(LoadLibraryW(std::filesystem::u8path(path).c_str()));
    if (module_ == nullptr && error != nullptr) *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
#else
    module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr && error != nullptr) *error = dlerror();
#endif
    if (module_ != nullptr) path_ = path;
    return module_ != nullptr;
}

void ModuleLoader::Unload()
{
    if (module_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(module_));
#else
    dlclose(module_);
#endif
    module_ = nullptr;
}

void* ModuleLoader::Procedure(const char* name) const
{
    if (module_ == nullptr) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module_), name));
#else
    return dlsym(module_, name);
#endif
}

std::string DefaultModulePath()
{
#if defined(_WIN32)
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string self = std::filesystem::path(path).u8string();
    const char* file = "quorin64.xll";
    const size_t slash = self.find_last_of("\\/");
#else
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string self = (length > 0) ? std::string(path, static_cast<size_t>(length)) : std::string();
    const char* file = "quorin64.so";
    const size_t slash = self.find_last_of('/');
#endif
    return (slash == std::string::npos) ? std::string(file) : self.substr(0, slash + 1) + file;
}

}  // namespace quorin_host
