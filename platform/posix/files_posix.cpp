#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "platform/utf.h"

namespace mf::platform {

namespace {
bool stat_mode(const std::string& path, mode_t kind) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}
}  // namespace

bool is_regular_file(const std::string& path) { return stat_mode(path, S_IFREG); }
bool is_regular_file(const std::u16string& path) { return is_regular_file(utf16_to_utf8(path)); }
bool is_directory(const std::string& path) { return stat_mode(path, S_IFDIR); }

bool create_directory(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && is_directory(path));
}

bool list_directory(const std::string& path, std::vector<std::string>* names) {
    names->clear();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    ::closedir(dir);
    std::sort(names->begin(), names->end());
    return true;
}

std::FILE* open_file(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
std::FILE* open_file(const std::u16string& path, const char* mode) { return open_file(utf16_to_utf8(path), mode); }

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

int64_t file_size(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t file_mtime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

int64_t stream_size(std::FILE* stream) {
    struct stat st {};
    if (stream == nullptr || ::fstat(::fileno(stream), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int last_error() { return errno; }
void set_last_error(int error) { errno = error; }

char path_separator() { return '/'; }
const char* text_line_end() { return "\n"; }
int io_error_number() { return EIO; }
int invalid_argument_error_number() { return EINVAL; }
int access_denied_error_number() { return EACCES; }
bool create_fifo(const std::string& path) { return ::mkfifo(path.c_str(), 0666) == 0; }

}  // namespace mf::platform
