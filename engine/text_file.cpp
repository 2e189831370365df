// text_file.cpp - a named file read whole, refused with a reason when it is not text.
#include "engine/text_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace quorin_host {

namespace {

// Length of the well-formed UTF-8 sequence at text[i] (RFC 3629: no overlong forms, no surrogates,
// nothing past U+10FFFF), 0 when there is none.
size_t SequenceLength(const std::string& text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, low = (lead == 0xE0) ? 0xA0 : 0x80, high = (lead == 0xED) ? 0x9F : 0xBF;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, low = (lead == 0xF0) ? 0x90 : 0x80, high = (lead == 0xF4) ? 0x8F : 0xBF;
    else return 0;
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

std::filesystem::path FilePath(const std::string& name)
{
    return std::filesystem::u8path(name);
}

std::string FileName(const std::filesystem::path& path)
{
    return path.u8string();
}

FILE* OpenFile(const std::string& name, const char* mode)
{
#if defined(_WIN32)
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(FilePath(name).c_str(), wideMode.c_str());
#else
    return std::fopen(name.c_str(), mode);
#endif
}

FILE* CreateBeside(const std::string& path, std::string* temporary, std::string* error)
{
    const std::filesystem::path target = FilePath(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const std::string stem = FileName(folder / ("." + FileName(target.filename())));
#if defined(_WIN32)
    // No mkstemp for wide names: the process id and a count make the name, and _O_EXCL makes it new.
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        *temporary = stem + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        const int descriptor = _wopen(FilePath(*temporary).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                                      _S_IREAD | _S_IWRITE);
        if (descriptor >= 0) return _fdopen(descriptor, "wb");
        if (errno != EEXIST) break;
    }
#else
    *temporary = stem + ".XXXXXX";
    const int descriptor = mkstemp(temporary->data());
    if (descriptor >= 0) return fdopen(descriptor, "wb");
#endif
    *error = std::string("cannot create a file beside it: ") + std::strerror(errno);
    return nullptr;
}

bool SyncFile(const std::string& name, std::string* error)
{
    FILE* file = OpenFile(name, "r+b");
#if defined(_WIN32)
    const bool synced = file != nullptr && _commit(_fileno(file)) == 0;
#else
    const bool synced = file != nullptr && ::fsync(fileno(file)) == 0;
#endif
    if (!synced) *error = std::string("cannot write the file to the disk: ") + std::strerror(errno);
    if (file != nullptr) std::fclose(file);
    return synced;
}

bool RenameOver(const std::string& from, const std::string& to, std::string* error)
{
#if defined(_WIN32)
    if (MoveFileExW(FilePath(from).c_str(), FilePath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    *error = "cannot replace: " + std::system_category().message(static_cast<int>(GetLastError()));
#else
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    *error = std::string("cannot replace: ") + std::strerror(errno);
#endif
    return false;
}

bool ReadTextFile(const std::string& path, std::string* text, std::string* error)
{
    std::error_code status;
    const std::filesystem::file_status kind = std::filesystem::status(FilePath(path), status);
    if (kind.type() == std::filesystem::file_type::not_found) return *error = "no such file", false;
    if (kind.type() == std::filesystem::file_type::directory) return *error = "is a directory, not a file", false;
    std::ifstream file(FilePath(path), std::ios::binary);
    if (!file) return *error = "cannot be read", false;
    text->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad()) return *error = "cannot be read", false;
    size_t line = 1;
    for (size_t i = 0; i < text->size();) {
        if ((*text)[i] == '\0') return *error = "holds binary content (a NUL byte on line " + std::to_string(line) + "), not text", false;
        const size_t length = SequenceLength(*text, i);
        if (length == 0) {
            *error = "is not UTF-8 text (line " + std::to_string(line) + "): save it as CSV UTF-8";
            return false;
        }
        if ((*text)[i] == '\n') ++line;
        i += length;
    }
    return true;
}

bool WriteFileWhole(const std::string& path, const std::string& text, std::string* error)
{
    const std::string partial = path + ".partial";
    FILE* file = OpenFile(partial, "wb");
    const bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = file != nullptr && std::fclose(file) == 0;
    if (!written || !closed) {
        *error = "cannot be written";
    } else if (RenameOver(partial, path, error)) {
        return true;
    } else {
        *error = "cannot be written: " + *error;
    }
    std::error_code ignored;
    std::filesystem::remove(FilePath(partial), ignored);
    return false;
}

}  // namespace quorin_host
