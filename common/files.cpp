#include "common/files.h"

#include "common/dirs.h"
#include "common/errors.h"
#include "common/msg.h"
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

namespace {

// Copies into a new file beside the destination and renames it over the
// destination, so a copy that fails part way (a full disk) leaves the old
// destination whole. Where no file can be made beside it, copies in place.
bool copy_replacing(const std::string& source, const std::string& destination) {
    const std::string sibling =
        platform::create_temp_file(paths::parent_directory(destination, platform::path_separator()), ".mfcopy");
    if (sibling.empty()) return platform::copy_file(source, destination);
    if (platform::copy_file(source, sibling) && platform::replace_file(sibling, destination)) return true;
    const int error = platform::last_error();
    platform::remove_file(sibling);
    platform::set_last_error(error);
    return false;
}

}  // namespace

int32_t u_copy_file(const char* source, const char* destination) {
    if (source && destination && copy_replacing(source, destination)) return 0;
    u_sink("u_copy_file failed: win_err = %d\n", platform::last_error());
    return ERR_CANT_WRITE_FILE;
}

}  // namespace mf
