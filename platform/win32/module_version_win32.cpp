#include <windows.h>

#include <vector>

#include "platform/dynlib.h"
#include "platform/module_version.h"

namespace mf::platform {

bool loaded_module_version(const std::string& base_name, module_version* out) {
    HMODULE module = GetModuleHandleA(dynlib_file_name(base_name).c_str());
    if (!module) return false;
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return false;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data())) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    out->major = HIWORD(info->dwProductVersionMS);
    out->minor = LOWORD(info->dwProductVersionMS);
    return true;
}

}  // namespace mf::platform
