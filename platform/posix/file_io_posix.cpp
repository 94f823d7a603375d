#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/utf.h"

namespace mf::platform {

namespace {

int fd_of(const file_handle& f) { return static_cast<int>(f.native()); }

// Symbolic links nest at most this deep, as the system itself allows.
constexpr int max_link_depth = 40;

std::string directory_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_name_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows a chain of symbolic links to the name that is not one (which may not
// exist yet: a dangling link names the file to create). False on a loop.
bool final_target(const std::string& path, std::string* target) {
    std::string current = path;
    for (int depth = 0; depth < max_link_depth; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            *target = current;
            return true;
        }
        std::vector<char> link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n < 0) return false;
        if (static_cast<size_t>(n) >= link.size()) {  // grew since lstat: read again
            --depth;
            continue;
        }
        const std::string next(link.data(), static_cast<size_t>(n));
        current = !next.empty() && next[0] == '/' ? next : directory_of(current) + "/" + next;
    }
    errno = ELOOP;
    return false;
}

std::atomic<unsigned> name_counter{0};

// A name no other writer is likely to pick: the process, a counter and the clock.
std::string unique_suffix() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long long mix = (static_cast<unsigned long long>(::getpid()) << 32) ^
                                   static_cast<unsigned long long>(now.tv_nsec) ^
                                   (static_cast<unsigned long long>(name_counter.fetch_add(1)) * 0x9E3779B97F4A7C15ull);
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string out;
    unsigned long long v = mix;
    for (int i = 0; i < 8; ++i, v /= 36)
        out += digits[v % 36];
    return out;
}

file_handle create_exclusive(const std::string& directory, const std::string& prefix, mode_t mode, std::string* path) {
    if (file_fault(file_op::open)) return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = directory + "/" + prefix + unique_suffix();
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            *path = name;
            return file_handle(fd);
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

file_handle open_in_place(const std::string& path) {
    if (file_fault(file_op::open)) return {};
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd >= 0 ? file_handle(fd) : file_handle();
}

replace_result failure(replace_stage stage, int produce_status = 0) { return {stage, produce_status, errno, false}; }

// Writes into the file as it stands (devices, FIFOs, hard-linked files, or a
// folder that takes no new file): what the documented truncating open does.
replace_result write_in_place(const std::string& target, const content_producer& produce,
                              const in_place_check& before) {
    if (before)
        if (const int status = before()) return {replace_stage::produce, status, 0, true};
    file_handle out = open_in_place(target);
    if (!out.valid()) return failure(replace_stage::open);
    struct stat st {};
    const bool regular = ::fstat(fd_of(out), &st) == 0 && S_ISREG(st.st_mode);
    if (const int status = produce(out)) {
        const int error = errno;
        out.close();
        return {replace_stage::produce, status, error, true};
    }
    if ((regular && !out.sync()) || !out.close()) return {replace_stage::commit, 0, errno, true};
    return {replace_stage::none, 0, 0, true};
}

// Flushes the folder's entry for a renamed file. A folder that cannot be synced
// (some file systems refuse) still holds the complete new file.
void sync_directory(const std::string& directory) {
    if (file_fault(file_op::open)) return;
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    file_handle dir(fd);
    dir.sync();
    dir.close();
}

}  // namespace

file_handle file_handle::open_regular_for_reading(const std::string& path) {
    if (file_fault(file_op::open)) return {};
    // Non-blocking, so that naming a FIFO does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    file_handle in(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    if (!S_ISREG(st.st_mode)) {
        in.close();
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return {};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return in;
}

file_handle file_handle::create_unique(const std::string& directory, const std::string& prefix, std::string* path) {
    return create_exclusive(directory, prefix, 0600, path);
}

bool file_handle::read(void* data, size_t size, size_t* got) {
    *got = 0;
    if (file_fault(file_op::read)) return false;
    for (;;) {
        const ssize_t n = ::read(fd_of(*this), data, size);
        if (n >= 0) {
            *got = static_cast<size_t>(n);
            return true;
        }
        if (errno != EINTR) return false;
    }
}

bool file_handle::reserve_ahead(uint64_t size) {
#ifdef __linux__
    const off_t at = ::lseek(fd_of(*this), 0, SEEK_CUR);
    return at >= 0 && size > 0 && size <= static_cast<uint64_t>(INT64_MAX - at) &&
           ::fallocate(fd_of(*this), FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(size)) == 0;
#else
    (void)size;
    return false;
#endif
}

bool file_handle::write(const void* data, size_t size) {
    if (file_fault(file_op::write)) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_of(*this), p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool file_handle::sync() {
    if (file_fault(file_op::sync)) return false;
    return ::fsync(fd_of(*this)) == 0;
}

bool file_handle::close() {
    if (!valid()) return false;
    const bool faulted = file_fault(file_op::close);
    const int error = errno;
    // The descriptor is released even when close reports a failure.
    const int result = ::close(fd_of(*this));
    handle_ = invalid;
    if (faulted) errno = error;
    return !faulted && result == 0;
}

bool file_handle::same_file_as(const std::string& path) const {
    struct stat mine {
    }, theirs{};
    return ::fstat(fd_of(*this), &mine) == 0 && ::stat(path.c_str(), &theirs) == 0 && mine.st_dev == theirs.st_dev &&
           mine.st_ino == theirs.st_ino;
}

replace_result replace_contents(const std::string& path, const content_producer& produce,
                                const in_place_check& before_in_place) {
    std::string target;
    if (!final_target(path, &target)) return failure(replace_stage::open);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return failure(replace_stage::open);
    }
    // A rename replaces the name, not what it designates: only a plain file
    // known by this one name may be swapped for a new one.
    if (exists && !(S_ISREG(st.st_mode) && st.st_nlink == 1)) return write_in_place(target, produce, before_in_place);

    const std::string directory = directory_of(target);
    std::string temp;
    // A new name gets what the system gives any new file (0666 less the umask).
    file_handle out = create_exclusive(directory, "." + base_name_of(target) + ".", exists ? 0600 : 0666, &temp);
    if (!out.valid()) {
        // Only a folder that refuses new files sends the write to the file
        // itself; any other failure (a full disk) must not cost the old contents.
        if (exists && (errno == EACCES || errno == EPERM)) return write_in_place(target, produce, before_in_place);
        return failure(replace_stage::open);
    }
    if (exists) {
        // Owner first: changing it may clear set-id bits the mode then restores.
        // Without the privilege the file stays the writer's; that is not a failure.
        const bool owner_kept = ::fchown(fd_of(out), st.st_uid, st.st_gid) == 0;
        (void)owner_kept;
        ::fchmod(fd_of(out), st.st_mode & 07777);
    }
    auto abandon = [&](replace_stage stage, int status) {
        const int error = errno;
        if (out.valid()) out.close();
        ::unlink(temp.c_str());
        return replace_result{stage, status, error, false};
    };
    if (const int status = produce(out)) return abandon(replace_stage::produce, status);
    if ((exists && !out.sync()) || !out.close()) return abandon(replace_stage::commit, 0);
    if (file_fault(file_op::rename) || ::rename(temp.c_str(), target.c_str()) != 0)
        return abandon(replace_stage::commit, 0);
    if (exists) sync_directory(directory);
    return {};
}

replace_result replace_contents(const std::u16string& path, const content_producer& produce,
                                const in_place_check& before_in_place) {
    return replace_contents(utf16_to_utf8(path), produce, before_in_place);
}

}  // namespace mf::platform
