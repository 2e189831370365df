// text_file.cpp - a named file read whole, refused with a reason when it is not text.
#include "engine/text_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>

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

bool ReadTextFile(const std::string& path, std::string* text, std::string* error)
{
    std::error_code status;
    const std::filesystem::file_status kind = std::filesystem::status(path, status);
    if (kind.type() == std::filesystem::file_type::not_found) return *error = "no such file", false;
    if (kind.type() == std::filesystem::file_type::directory) return *error = "is a directory, not a file", false;
    std::ifstream file(path, std::ios::binary);
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
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!file.flush()) {
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            return *error = "cannot be written", false;
        }
    }
    std::error_code renamed;
    std::filesystem::rename(partial, path, renamed);
    if (renamed) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        return *error = "cannot be written: " + renamed.message(), false;
    }
    return true;
}

}  // namespace quorin_host
