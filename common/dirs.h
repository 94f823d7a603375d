// Install, configuration and ramps directories, file search and machine name.
// Each lookup is done once on first use and kept for the life of the process;
// none of them is safe for concurrent first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mf {

// The install directory: $HX_INSTALL_DIR, else cut from the program path (the
// sink gets "Install directory: %s\n"). Null when absent.
const char* u_install_dir();
// $HX_CONFIG_DIR, else <install>/cfg when that directory exists, else the install
// directory. Null when absent.
const char* u_config_dir();
// $HX_RAMPS_DIR, else <config>/ramps (created when missing). Null when absent.
const char* u_ramps_dir();

// Finds a data file: an absolute name as it is, a relative one in the current
// directory and then in the configuration directory. 0 with *path set to a text
// owned by the library until the next call; ERR_CANT_READ_FILE when not found,
// ERR_CANT_OPEN_FILE when the configuration directory is needed but absent,
// ERR_NO_MEM. An empty name gives 0 and leaves *path unchanged.
int32_t u_find_file(const char* name, const char** path);

// The computer name (at most 15 characters) followed by "." and '0' + n, built on
// the first call; later calls return the same text whatever n they pass.
const char* u_machine_name(int n);

// The rules behind the lookups, as pure functions of their inputs so they can be
// checked with both Windows and POSIX paths.
namespace paths {

// Drops the file name, then the program's own directory when what remains is
// longer than 3 characters. Lower-cases first when asked. "" without a separator.
std::string install_dir_from_program(std::string program, char separator, bool lower_case);

// Absolute: begins with a separator, with "." and a separator, or with a letter and ':'.
bool is_absolute_name(const std::string& name, char separator);

std::string join(const std::string& directory, const std::string& name, char separator);

// The directory part of a path ("." when it has none); with '\\' as the
// separator '/' counts too.
std::string parent_directory(const std::string& path, char separator);

// On POSIX a '\' in a name from a configuration file stands for '/'.
std::string native_separators(std::string path, char separator);

// The longest directory a lookup keeps.
constexpr std::size_t max_directory_length = 260;
// A directory value as a lookup keeps it: whole, or "" (absent) when it is longer
// than max_directory_length. Never cut, since a cut path names another directory.
std::string kept_directory(std::string value);

}  // namespace paths

}  // namespace mf
