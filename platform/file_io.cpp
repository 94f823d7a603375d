#include "platform/file_io.h"

#include <atomic>
#include <string>

#include "platform/files.h"

namespace mf::platform {

namespace {
std::atomic<file_fault_hook> fault_hook{nullptr};
}

void set_file_fault_hook(file_fault_hook hook) { fault_hook.store(hook); }

bool file_fault(file_op op) {
    const file_fault_hook hook = fault_hook.load();
    const int error = hook ? hook(op) : 0;
    if (error == 0) return false;
    set_last_error(error);
    return true;
}

file_handle::~file_handle() {
    if (valid()) close();
}

file_handle::file_handle(file_handle&& other) noexcept : handle_(other.handle_) { other.handle_ = invalid; }

file_handle& file_handle::operator=(file_handle&& other) noexcept {
    if (this != &other) {
        if (valid()) close();
        handle_ = other.handle_;
        other.handle_ = invalid;
    }
    return *this;
}

bool file_handle::write_text(const char* text, size_t size) {
    const std::string line_end = text_line_end();
    if (line_end == "\n") return write(text, size);
    std::string translated;
    translated.reserve(size + size / 16);
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '\n')
            translated += line_end;
        else
            translated += text[i];
    }
    return write(translated.data(), translated.size());
}

}  // namespace mf::platform
