// File tests, copying and opening, honouring the wide-path convention: a path
// whose first two bytes, read as a little-endian 16-bit unit, are 0xFEFF or 0xFFFE
// is a UTF-16 path starting right after them; any other path is a byte path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace mf {

namespace platform {
class file_handle;
}

// The longest UTF-16 path the convention carries, in units after the signature
// (the longest path the systems accept).
constexpr std::size_t u_wide_path_max_units = 32767;

// The UTF-16 path a wide-convention path carries, or nothing for a narrow path.
// The UTF-16 text ends at the first zero unit; the scan stops after
// u_wide_path_max_units units (no zero unit by then: not a wide path). Only text
// that the caller knows follows the convention may be passed: a narrow text that
// happens to start with the signature bytes is read past its end.
std::optional<std::u16string> u_wide_path(const char* path);

// A path from the system's argument vector, which is always narrow, in a form the
// convention reads as narrow: one that starts with the signature bytes gets a
// "./" in front (the same file); any other is unchanged.
std::string u_argument_path(const char* argument);

// True only when the path names an existing regular file.
bool u_file_exists(const char* path);

// Opens a file with a stdio mode, narrow or wide by the convention.
std::FILE* u_fopen(const char* path, const char* mode);

// Replaces the contents of the file a path names (wide or narrow by the
// convention) with what produce writes, by the rules of
// platform::replace_contents: a failure leaves an existing regular file as it was.
// produce returns 0 or its own error code, which is returned. Otherwise 0,
// ERR_CANT_CREATE_FILE when nothing could be opened for the name, or
// ERR_CANT_WRITE_FILE when the new contents could not be made durable.
// before_in_place, when given, is asked before a file is written in place (a
// device, FIFO or file with other links); its non-zero code is returned and
// nothing is opened.
int32_t u_replace_file(const char* path, const std::function<int32_t(platform::file_handle& out)>& produce,
                       const std::function<int32_t()>& before_in_place = {});

// Copies source over destination. 0, or ERR_CANT_WRITE_FILE after the message
// "u_copy_file failed: win_err = %d\n" with the system's error number.
int32_t u_copy_file(const char* source, const char* destination);

}  // namespace mf
