#include <windows.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/utf.h"

namespace mf::platform {

namespace {
bool attributes_match(DWORD attributes, bool want_directory) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    bool is_dir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool is_device = (attributes & FILE_ATTRIBUTE_DEVICE) != 0;
    return want_directory ? is_dir : (!is_dir && !is_device);
}

std::wstring wide(const std::u16string& path) { return std::wstring(path.begin(), path.end()); }
std::wstring wide_mode(const char* mode) {
    std::wstring out;
    for (const char* p = mode; *p; ++p)
        out += static_cast<wchar_t>(*p);
    return out;
}
}  // namespace

bool is_regular_file(const std::string& path) { return attributes_match(GetFileAttributesA(path.c_str()), false); }
bool is_regular_file(const std::u16string& path) {
    return attributes_match(GetFileAttributesW(wide(path).c_str()), false);
}
bool is_directory(const std::string& path) { return attributes_match(GetFileAttributesA(path.c_str()), true); }

bool create_directory(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0 ||
           (GetLastError() == ERROR_ALREADY_EXISTS && is_directory(path));
}

bool list_directory(const std::string& path, std::vector<std::string>* names) {
    names->clear();
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") names->push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names->begin(), names->end());
    return true;
}

std::FILE* open_file(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
std::FILE* open_file(const std::u16string& path, const char* mode) {
    return _wfopen(wide(path).c_str(), wide_mode(mode).c_str());
}

bool remove_file(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

int64_t file_size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int64_t file_mtime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    // 100 ns units since 1601 (in nanoseconds it would not fit 63 bits).
    return (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

int64_t stream_size(std::FILE* stream) {
    if (stream == nullptr) return -1;
    LARGE_INTEGER size;
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (h == INVALID_HANDLE_VALUE || !GetFileSizeEx(h, &size)) return -1;
    return static_cast<int64_t>(size.QuadPart);
}

int last_error() { return static_cast<int>(GetLastError()); }
void set_last_error(int error) { SetLastError(static_cast<DWORD>(error)); }

char path_separator() { return '\\'; }
const char* text_line_end() { return "\r\n"; }
int io_error_number() { return ERROR_WRITE_FAULT; }
int invalid_argument_error_number() { return ERROR_INVALID_PARAMETER; }
int access_denied_error_number() { return ERROR_ACCESS_DENIED; }
bool create_fifo(const std::string&) { return false; }

}  // namespace mf::platform
