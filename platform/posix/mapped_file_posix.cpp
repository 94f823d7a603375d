#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/mapped_file.h"
#include "platform/utf.h"

namespace mf::platform {

mapped_file::~mapped_file() { close(); }

void mapped_file::close() {
    if (data_) ::munmap(const_cast<char*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
}

bool mapped_file::open(const std::string& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    void* view = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        view = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);  // the mapping keeps the file
    if (view == MAP_FAILED) return false;
    ::madvise(view, static_cast<std::size_t>(st.st_size), MADV_SEQUENTIAL);
    data_ = static_cast<const char*>(view);
    size_ = static_cast<std::size_t>(st.st_size);
    return true;
}

bool mapped_file::open(const std::u16string& path) { return open(utf16_to_utf8(path)); }

void mapped_file::release(std::size_t offset, std::size_t length) {
    if (!data_ || offset >= size_) return;
    if (length > size_ - offset) length = size_ - offset;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t first = (offset + page - 1) / page * page;
    const std::size_t end =
        offset + length == size_ ? (size_ + page - 1) / page * page : (offset + length) / page * page;
    if (end > first) ::madvise(const_cast<char*>(data_) + first, end - first, MADV_DONTNEED);
}

}  // namespace mf::platform
