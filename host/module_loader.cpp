// module_loader.cpp - the platform's library loader behind one small interface.
#include "host/module_loader.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace quorin_host {

bool ModuleLoader::Open(const std::string& file, std::string* error)
{
#if defined(_WIN32)
    // The wide loader: the narrow one reads names in the ANSI code page, which cannot spell them all.
    module_ = reinterpret_cast<void*>(LoadLibraryW(std::filesystem::u8path(file).c_str()));
    if (module_ == nullptr && error != nullptr) *error = "cannot load " + file + " (error " + std::to_string(GetLastError()) + ")";
#else
    module_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr && error != nullptr) *error = dlerror();
#endif
    return module_ != nullptr;
}

bool ModuleLoader::Load(const std::string& path, std::string* error)
{
    Unload();
    if (Open(path, error)) path_ = path;
    return module_ != nullptr;
}

bool ModuleLoader::LoadCopy(const std::string& path, std::string* error)
{
    Unload();
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in || bytes.empty()) {
        if (error != nullptr) *error = "cannot read " + path;
        return false;
    }
#if defined(_WIN32)
    // Named for this process and a count, so that two programs, or two copies, never share a file.
    static std::atomic<uint32_t> copies{0};
    std::error_code failure;
    const std::filesystem::path copy = std::filesystem::temp_directory_path(failure) /
        ("quorin64-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++copies) + ".xll");
    {
        std::ofstream out(copy, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (failure || !out.flush()) {
            if (error != nullptr) *error = "cannot copy " + path + " to " + copy.u8string();
            return false;
        }
    }
    copy_ = copy.u8string();
    if (!Open(copy_, error)) {
        std::filesystem::remove(copy, failure);
        copy_.clear();
        return false;
    }
#else
    // An anonymous file: nothing is left behind whatever ends the process, and no folder needs to
    // allow running what it holds.
    const int file = memfd_create("quorin64.so", MFD_CLOEXEC);
    bool written = file >= 0;
    for (size_t at = 0; written && at < bytes.size();) {
        const ssize_t n = write(file, bytes.data() + at, bytes.size() - at);
        written = n > 0;
        at += written ? static_cast<size_t>(n) : 0;
    }
    // Kept open while loaded: the loader knows a library by the name it was opened by, and a number
    // given back would name the next copy as this one, which it would hand back instead of loading.
    const bool opened = written && Open("/proc/self/fd/" + std::to_string(file), error);
    if (!written && error != nullptr) *error = "cannot copy " + path + " into memory";
    if (!opened) {
        if (file >= 0) close(file);
        return false;
    }
    copyFile_ = file;
#endif
    path_ = path;
    return true;
}

void ModuleLoader::Unload()
{
    if (module_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(module_));
    if (!copy_.empty()) {
        std::error_code failure;
        std::filesystem::remove(std::filesystem::u8path(copy_), failure);
        copy_.clear();
    }
#else
    dlclose(module_);
    if (copyFile_ >= 0) close(copyFile_);
    copyFile_ = -1;
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
