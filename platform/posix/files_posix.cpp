#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::FILE* open_file(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
std::FILE* open_file(const std::u16string& path, const char* mode) { return open_file(utf16_to_utf8(path), mode); }

bool copy_file(const std::string& source, const std::string& destination) {
    int in = ::open(source.c_str(), O_RDONLY);
    if (in < 0) return false;
    int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0) {
        int saved = errno;
        ::close(in);
        errno = saved;
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok) break;
    }
    int saved = errno;
    if (::close(out) != 0) ok = false;
    ::close(in);
    if (!ok) errno = saved;
    return ok;
}

bool replace_file(const std::string& source, const std::string& destination) {
    return ::rename(source.c_str(), destination.c_str()) == 0;
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string create_temp_file(const std::string& directory, const std::string& prefix) {
    std::string pattern = directory;
    if (!pattern.empty() && pattern.back() != '/') pattern += '/';
    pattern += prefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) return {};
    ::close(fd);
    return std::string(name.data());
}

int64_t file_size(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t stream_size(std::FILE* stream) {
    struct stat st {};
    if (stream == nullptr || ::fstat(::fileno(stream), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int last_error() { return errno; }
void set_last_error(int error) { errno = error; }

char path_separator() { return '/'; }

}  // namespace mf::platform
