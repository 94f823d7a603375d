#include "common/files.h"

#include "common/alloc.h"
#include "common/errors.h"
#include "common/msg.h"
#include "platform/file_io.h"
#include "platform/files.h"

namespace mf {

std::optional<std::u16string> u_wide_path(const char* path) {
    if (!path || !path[0] || !path[1]) return std::nullopt;
    auto unit_at = [path](size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(path[i]) |
                                     (static_cast<unsigned char>(path[i + 1]) << 8));
    };
    char16_t mark = unit_at(0);
    if (mark != 0xFEFF && mark != 0xFFFE) return std::nullopt;
    std::u16string wide;
    for (size_t i = 2;; i += 2) {
        if (!path[i] && !path[i + 1]) break;
        if (wide.size() == u_wide_path_max_units) return std::nullopt;
        wide += unit_at(i);
    }
    return wide;
}

std::string u_argument_path(const char* argument) {
    if (!argument) return {};
    const auto byte = [argument](size_t i) { return static_cast<unsigned char>(argument[i]); };
    const bool signature =
        argument[0] && argument[1] && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF));
    return signature ? std::string("./") + argument : std::string(argument);
}

bool u_file_exists(const char* path) {
    if (!path) return false;
    if (auto wide = u_wide_path(path)) return platform::is_regular_file(*wide);
    return path[0] != '\0' && platform::is_regular_file(std::string(path));
}

std::FILE* u_fopen(const char* path, const char* mode) {
    if (!path) return nullptr;
    if (auto wide = u_wide_path(path)) return platform::open_file(*wide, mode);
    return platform::open_file(std::string(path), mode);
}

int32_t u_replace_file(const char* path, const std::function<int32_t(platform::file_handle& out)>& produce,
                       const std::function<int32_t()>& before_in_place) {
    if (!path) return ERR_CANT_CREATE_FILE;
    const platform::content_producer producer = [&](platform::file_handle& out) {
        return static_cast<int>(produce(out));
    };
    platform::in_place_check check;
    if (before_in_place) check = [&] { return static_cast<int>(before_in_place()); };
    const auto wide = u_wide_path(path);
    const platform::replace_result result = wide ? platform::replace_contents(*wide, producer, check)
                                                 : platform::replace_contents(std::string(path), producer, check);
    switch (result.failed) {
    case platform::replace_stage::none:
        return 0;
    case platform::replace_stage::open:
        return ERR_CANT_CREATE_FILE;
    case platform::replace_stage::produce:
        return result.produce_status;
    case platform::replace_stage::commit:
        break;
    }
    return ERR_CANT_WRITE_FILE;
}

namespace {

constexpr size_t copy_chunk = 64 * 1024;

// The source is checked (a readable regular file, not the destination itself)
// before anything is created or truncated, and the destination's contents are
// replaced as a whole, so a failed copy leaves it as it was.
bool copy_replacing(const std::string& source, const std::string& destination) {
    platform::file_handle in = platform::file_handle::open_regular_for_reading(source);
    if (!in.valid()) return false;
    if (in.same_file_as(destination)) {
        platform::set_last_error(platform::invalid_argument_error_number());
        return false;
    }
    u_buffer<char> buffer(copy_chunk);
    if (!buffer) return false;
    const platform::replace_result result = platform::replace_contents(destination, [&](platform::file_handle& out) {
        for (;;) {
            size_t got = 0;
            if (!in.read(buffer.get(), copy_chunk, &got)) return 1;
            if (got == 0) return 0;
            if (!out.write(buffer.get(), got)) return 1;
        }
    });
    if (result.failed == platform::replace_stage::none) return true;
    platform::set_last_error(result.system_error);
    return false;
}

}  // namespace

int32_t u_copy_file(const char* source, const char* destination) {
    if (source && destination && copy_replacing(source, destination)) return 0;
    u_sink("u_copy_file failed: win_err = %d\n", platform::last_error());
    return ERR_CANT_WRITE_FILE;
}

}  // namespace mf
