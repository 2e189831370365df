// text_file.h - the one way the command line reads a file a user names (the whole file as text, or a
// message fit to print after the file's name) and writes one (whole, or not at all). Names are UTF-8
// on every system: Windows reads the narrow names that fopen and std::filesystem take in its ANSI
// code page, so every name a user gives reaches the system through FilePath or OpenFile.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace quorin_host {

// A UTF-8 file name as the system's path, and back.
std::filesystem::path FilePath(const std::string& name);
std::string FileName(const std::filesystem::path& path);

// std::fopen for a UTF-8 file name.
FILE* OpenFile(const std::string& name, const char* mode);

// A new empty file in path's folder under a name no file has, open for binary writing, its name in
// *temporary; nullptr with error when it cannot be made.
FILE* CreateBeside(const std::string& path, std::string* temporary, std::string* error);

// Flushes the named file to the disk, so that a rename after it cannot leave an empty file behind
// a crash.
bool SyncFile(const std::string& name, std::string* error);

// Gives the file at from the name to in one step, replacing a file there (on Windows MoveFileEx with
// MOVEFILE_REPLACE_EXISTING, since rename there refuses an existing target).
bool RenameOver(const std::string& from, const std::string& to, std::string* error);

// The file's bytes; false with error ("no such file", "is a directory", "holds binary content ...",
// "is not UTF-8 text ...", "cannot be read") for anything that is not a readable UTF-8 text file.
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);

// Writes text beside path and renames it into place, so that a reader never sees part of a file and
// a failed write leaves what was there; false with error when it cannot.
bool WriteFileWhole(const std::string& path, const std::string& text, std::string* error);

}  // namespace quorin_host
