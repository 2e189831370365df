// text_file.h - the one way the command line reads a file a user names (the whole file as text, or a
// message fit to print after the file's name) and writes one (whole, or not at all).
#pragma once

#include <string>

namespace quorin_host {

// The file's bytes; false with error ("no such file", "is a directory", "holds binary content ...",
// "is not UTF-8 text ...", "cannot be read") for anything that is not a readable UTF-8 text file.
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);

// Writes text beside path and renames it into place, so that a reader never sees part of a file and
// a failed write leaves what was there; false with error when it cannot.
bool WriteFileWhole(const std::string& path, const std::string& text, std::string* error);

}  // namespace quorin_host
