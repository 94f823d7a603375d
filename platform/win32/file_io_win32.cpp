#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/win32/ansi_path.h"
#include "platform/files.h"

namespace mf::platform {

namespace {

HANDLE handle_of(const file_handle& f) { return reinterpret_cast<HANDLE>(f.native()); }
file_handle adopt(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? file_handle() : file_handle(reinterpret_cast<intptr_t>(h));
}

std::wstring directory_of(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::wstring base_name_of(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::atomic<unsigned> name_counter{0};

std::wstring unique_suffix() {
    const unsigned long long mix = (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^
                                   static_cast<unsigned long long>(GetTickCount64()) ^
                                   (static_cast<unsigned long long>(name_counter.fetch_add(1)) * 0x9E3779B97F4A7C15ull);
    static const wchar_t digits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
    std::wstring out;
    unsigned long long v = mix;
    for (int i = 0; i < 8; ++i, v /= 36)
        out += digits[v % 36];
    return out;
}

file_handle create_exclusive(const std::wstring& directory, const std::wstring& prefix, std::wstring* path,
                             DWORD flags = FILE_FLAG_WRITE_THROUGH) {
    if (file_fault(file_op::open)) return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = directory + L"\\" + prefix + unique_suffix();
        HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | flags, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            *path = name;
            return adopt(h);
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return {};
    }
    return {};
}

// What an existing name designates, after reparse points.
struct existing_file {
    bool exists = false;
    bool directory = false;
    bool disk_file = false;  // a file on a disk (not a device, pipe or folder)
    bool plain = false;      // a disk file with one link
    std::wstring final_path;
};

existing_file inspect(const std::wstring& path) {
    existing_file info;
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        info.final_path = path;
        return info;
    }
    info.exists = true;
    BY_HANDLE_FILE_INFORMATION data{};
    const bool disk = GetFileType(h) == FILE_TYPE_DISK;
    if (disk && GetFileInformationByHandle(h, &data)) {
        info.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        info.disk_file = !info.directory;
        info.plain = info.disk_file && data.nNumberOfLinks == 1;
    }
    std::vector<wchar_t> final_path(MAX_PATH + 1);
    DWORD n = disk ? GetFinalPathNameByHandleW(h, final_path.data(), static_cast<DWORD>(final_path.size()), 0) : 0;
    if (n >= final_path.size()) {
        final_path.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, final_path.data(), static_cast<DWORD>(final_path.size()), 0);
    }
    info.final_path = n > 0 && n < final_path.size() ? std::wstring(final_path.data(), n) : path;
    CloseHandle(h);
    return info;
}

replace_result failure(replace_stage stage, int status = 0, bool in_place = false) {
    return {stage, status, static_cast<int>(GetLastError()), in_place};
}

replace_result write_in_place(const std::wstring& target, bool disk_file, const content_producer& produce,
                              const in_place_check& before) {
    if (before)
        if (const int status = before()) return {replace_stage::produce, status, 0, true};
    if (file_fault(file_op::open)) return failure(replace_stage::open);
    file_handle out = adopt(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        disk_file ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid()) return failure(replace_stage::open);
    if (const int status = produce(out)) {
        const DWORD error = GetLastError();
        out.close();
        return {replace_stage::produce, status, static_cast<int>(error), true};
    }
    if ((disk_file && !out.sync()) || !out.close()) return failure(replace_stage::commit, 0, true);
    return {replace_stage::none, 0, 0, true};
}

replace_result replace_wide(const std::wstring& path, const content_producer& produce,
                            const in_place_check& before_in_place) {
    const existing_file info = inspect(path);
    if (info.directory) {
        SetLastError(ERROR_ACCESS_DENIED);
        return failure(replace_stage::open);
    }
    // A rename replaces the name, not what it designates: only a plain file
    // known by this one name may be swapped for a new one.
    // A file with other hard links is cut to its new length like any disk file.
    if (info.exists && !info.plain) return write_in_place(info.final_path, info.disk_file, produce, before_in_place);

    std::wstring temp;
    // Only a replacement writes through: the old contents must survive a crash.
    file_handle out = create_exclusive(directory_of(info.final_path), L"." + base_name_of(info.final_path) + L".",
                                       &temp, info.exists ? FILE_FLAG_WRITE_THROUGH : 0);
    if (!out.valid()) {
        // Only a folder that refuses new files sends the write to the file itself.
        if (info.exists && GetLastError() == ERROR_ACCESS_DENIED)
            return write_in_place(info.final_path, true, produce, before_in_place);
        return failure(replace_stage::open);
    }
    auto abandon = [&](replace_stage stage, int status) {
        const DWORD error = GetLastError();
        if (out.valid()) out.close();
        DeleteFileW(temp.c_str());
        return replace_result{stage, status, static_cast<int>(error), false};
    };
    if (const int status = produce(out)) return abandon(replace_stage::produce, status);
    if ((info.exists && !out.sync()) || !out.close()) return abandon(replace_stage::commit, 0);
    if (file_fault(file_op::rename)) return abandon(replace_stage::commit, 0);
    // Replacing keeps the old file's attributes and security; a new name is a move.
    const bool renamed = info.exists ? ReplaceFileW(info.final_path.c_str(), temp.c_str(), nullptr,
                                                    REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0 ||
                                           MoveFileExW(temp.c_str(), info.final_path.c_str(),
                                                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0
                                     : MoveFileExW(temp.c_str(), info.final_path.c_str(), 0) != 0;
    if (!renamed) return abandon(replace_stage::commit, 0);
    return {};
}

}  // namespace

file_handle file_handle::open_regular_for_reading(const std::string& path) {
    if (file_fault(file_op::open)) return {};
    file_handle in = adopt(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in.valid()) return {};
    if (GetFileType(handle_of(in)) != FILE_TYPE_DISK) {
        in.close();
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    return in;
}

file_handle file_handle::create_unique(const std::string& directory, const std::string& prefix, std::string* path) {
    std::wstring wide_path;
    file_handle out = create_exclusive(widen(directory), widen(prefix), &wide_path);
    if (out.valid()) {
        const int n = WideCharToMultiByte(CP_ACP, 0, wide_path.data(), static_cast<int>(wide_path.size()), nullptr, 0,
                                          nullptr, nullptr);
        path->assign(static_cast<size_t>(n), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide_path.data(), static_cast<int>(wide_path.size()), path->data(), n, nullptr,
                            nullptr);
    }
    return out;
}

bool file_handle::read(void* data, size_t size, size_t* got) {
    *got = 0;
    if (file_fault(file_op::read)) return false;
    DWORD n = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!ReadFile(handle_of(*this), data, want, &n, nullptr)) return GetLastError() == ERROR_BROKEN_PIPE;
    *got = n;
    return true;
}

// Not set aside on Windows: the conversions that ask have not been measured there.
bool file_handle::reserve_ahead(uint64_t) { return false; }

bool file_handle::write(const void* data, size_t size) {
    if (file_fault(file_op::write)) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD n = 0;
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        if (!WriteFile(handle_of(*this), p, chunk, &n, nullptr) || n == 0) return false;
        p += n;
        size -= n;
    }
    return true;
}

bool file_handle::sync() {
    if (file_fault(file_op::sync)) return false;
    return FlushFileBuffers(handle_of(*this)) != 0;
}

bool file_handle::close() {
    if (!valid()) return false;
    const bool faulted = file_fault(file_op::close);
    const DWORD error = GetLastError();
    const BOOL closed = CloseHandle(handle_of(*this));
    handle_ = invalid;
    if (faulted) SetLastError(error);
    return !faulted && closed != 0;
}

bool file_handle::same_file_as(const std::string& path) const {
    HANDLE other = CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION mine{}, theirs{};
    const bool same = GetFileInformationByHandle(handle_of(*this), &mine) &&
                      GetFileInformationByHandle(other, &theirs) &&
                      mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
                      mine.nFileIndexHigh == theirs.nFileIndexHigh && mine.nFileIndexLow == theirs.nFileIndexLow;
    CloseHandle(other);
    return same;
}

replace_result replace_contents(const std::string& path, const content_producer& produce,
                                const in_place_check& before_in_place) {
    return replace_wide(widen(path), produce, before_in_place);
}

replace_result replace_contents(const std::u16string& path, const content_producer& produce,
                                const in_place_check& before_in_place) {
    return replace_wide(std::wstring(path.begin(), path.end()), produce, before_in_place);
}

}  // namespace mf::platform
