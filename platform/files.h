// File and directory services. Narrow paths are byte strings passed to the
// system as they are; wide paths are UTF-16 (see common/files.h for the
// convention that tells them apart).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mf::platform {

bool is_regular_file(const std::string& path);
bool is_regular_file(const std::u16string& path);
bool is_directory(const std::string& path);
// Creates one directory level; true when it exists afterwards.
bool create_directory(const std::string& path);
// The names in a directory, without "." and "..", sorted by their bytes so that a
// listing comes out in the same order on every system. False when the directory
// cannot be read.
bool list_directory(const std::string& path, std::vector<std::string>* names);

std::FILE* open_file(const std::string& path, const char* mode);
std::FILE* open_file(const std::u16string& path, const char* mode);

bool remove_file(const std::string& path);
// Size in bytes, or -1.
int64_t file_size(const std::string& path);
// Last modification time in the system's finest units (nanoseconds on POSIX, 100 ns
// on Windows), or -1 when
// the file cannot be queried. Only compared for equality (has the file changed).
int64_t file_mtime(const std::string& path);
// Size in bytes of the file behind an open stream (64-bit on every system), or -1.
int64_t stream_size(std::FILE* stream);

// The system's last error number (errno, or GetLastError on Windows).
int last_error();
// Restores a saved error number (after clean-up calls that may change it).
void set_last_error(int error);

// The directory separator of the platform.
char path_separator();
// How lines end in text files written on this system ("\n", or "\r\n" on Windows).
const char* text_line_end();
// The system's error number for an input/output error (EIO, ERROR_WRITE_FAULT).
int io_error_number();
// The system's error number for an invalid argument (EINVAL, ERROR_INVALID_PARAMETER).
int invalid_argument_error_number();
// The system's error number for a refused permission (EACCES, ERROR_ACCESS_DENIED).
int access_denied_error_number();
// Creates a FIFO (named pipe) at path; false where the system has none.
bool create_fifo(const std::string& path);

}  // namespace mf::platform
