// A regular file seen read-only in memory, for readers that scan a whole file
// once: no copy out of the system's cache. Its pages are the system's cache
// itself, shared and clean, not the process's own memory.
#pragma once

#include <cstddef>
#include <string>

namespace mf::platform {

class mapped_file {
public:
    mapped_file() = default;
    ~mapped_file();
    mapped_file(const mapped_file&) = delete;
    mapped_file& operator=(const mapped_file&) = delete;

    // Maps an existing regular file (narrow path, or UTF-16 for the wide form).
    // False, leaving nothing mapped, for anything that cannot be mapped: a pipe,
    // a device, an empty file, a missing file; the caller then reads it instead.
    bool open(const std::string& path);
    bool open(const std::u16string& path);

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

    // The file was cut short by another program while mapped: the part past its
    // new end read as NUL bytes (POSIX; Windows refuses to shorten a mapped file).
    bool cut_short() const;

private:
    void close();
    const char* data_ = nullptr;
    std::size_t size_ = 0;
    int guard_ = -1;  // POSIX: the slot watching this mapping for bus errors
};

}  // namespace mf::platform
