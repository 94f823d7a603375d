#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/mapped_file.h"
#include "platform/win32/ansi_path.h"

namespace mf::platform {

namespace {

// Maps the file behind an open handle; the view keeps the file, the handles go.
const char* map_handle(HANDLE file, std::size_t* size) {
    LARGE_INTEGER length{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &length) || length.QuadPart <= 0) return nullptr;
    if (static_cast<unsigned long long>(length.QuadPart) > SIZE_MAX) return nullptr;
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) return nullptr;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping);
    if (!view) return nullptr;
    *size = static_cast<std::size_t>(length.QuadPart);
    return static_cast<const char*>(view);
}

const char* map_path(const std::wstring& path, std::size_t* size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const char* view = map_handle(file, size);
    CloseHandle(file);
    return view;
}

}  // namespace

mapped_file::~mapped_file() { close(); }

void mapped_file::close() {
    if (data_) UnmapViewOfFile(data_);
    data_ = nullptr;
    size_ = 0;
}

bool mapped_file::open(const std::string& path) {
    close();
    data_ = map_path(widen(path), &size_);
    if (!data_) size_ = 0;
    return data_ != nullptr;
}

bool mapped_file::open(const std::u16string& path) {
    close();
    data_ = map_path(std::wstring(path.begin(), path.end()), &size_);
    if (!data_) size_ = 0;
    return data_ != nullptr;
}

// The system refuses to shorten a file while a view of it is mapped.
bool mapped_file::cut_short() const { return false; }

// Pages of a read-only view are the system's cache; trimming them from the
// working set gains nothing worth a call per block here.

}  // namespace mf::platform
