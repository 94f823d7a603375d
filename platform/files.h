// File and directory services. Narrow paths are byte strings passed to the
// system as they are; wide paths are UTF-16 (see common/files.h for the
// convention that tells them apart).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace mf::platform {

bool is_regular_file(const std::string& path);
bool is_regular_file(const std::u16string& path);
bool is_directory(const std::string& path);
// Creates one directory level; true when it exists afterwards.
bool create_directory(const std::string& path);

std::FILE* open_file(const std::string& path, const char* mode);
std::FILE* open_file(const std::u16string& path, const char* mode);

// Copies source over destination, replacing it. False on failure; the system's
// error number is then available from last_error().
bool copy_file(const std::string& source, const std::string& destination);
// Renames source over destination, replacing it in one step where the system can.
bool replace_file(const std::string& source, const std::string& destination);
bool remove_file(const std::string& path);
// Creates a new empty file with a unique name in the directory, the name starting
// with prefix; returns its path, or "" on failure.
std::string create_temp_file(const std::string& directory, const std::string& prefix);
// Size in bytes, or -1.
int64_t file_size(const std::string& path);
// Size in bytes of the file behind an open stream (64-bit on every system), or -1.
int64_t stream_size(std::FILE* stream);

// The system's last error number (errno, or GetLastError on Windows).
int last_error();
// Restores a saved error number (after clean-up calls that may change it).
void set_last_error(int error);

// The directory separator of the platform.
char path_separator();

}  // namespace mf::platform
