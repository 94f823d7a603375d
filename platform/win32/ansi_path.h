// A narrow path in the system's ANSI code page, as the wide string the file
// functions take.
#pragma once

#include <windows.h>

#include <string>

namespace mf::platform {

inline std::wstring widen(const std::string& narrow) {
    if (narrow.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), wide.data(), n);
    return wide;
}

}  // namespace mf::platform
