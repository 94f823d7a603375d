#include <windows.h>

#include "platform/dynlib.h"

namespace mf::platform {

namespace {
thread_local int last_code = 0;
thread_local std::string last_text;

void note_failure() {
    DWORD code = GetLastError();
    last_code = static_cast<int>(code);
    char text[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' '))
        --n;
    last_text.assign(text, n);
}
}  // namespace

std::string dynlib_file_name(const std::string& base_name) { return base_name + ".dll"; }

dynlib_handle dynlib_load(const std::string& base_name) {
    HMODULE lib = LoadLibraryA(dynlib_file_name(base_name).c_str());
    if (!lib) note_failure();
    return reinterpret_cast<dynlib_handle>(lib);
}

void* dynlib_symbol(dynlib_handle lib, const char* name) {
    if (!lib) return nullptr;
    FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(lib), name);
    if (!address) note_failure();
    return reinterpret_cast<void*>(address);
}

void dynlib_free(dynlib_handle lib) {
    if (lib) FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

int dynlib_last_error() { return last_code; }
std::string dynlib_last_error_text() { return last_text; }

}  // namespace mf::platform
