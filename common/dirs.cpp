#include "common/dirs.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/alloc.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/msg.h"
#include "platform/files.h"
#include "platform/system.h"

namespace mf {

namespace paths {

std::string install_dir_from_program(std::string program, char separator, bool lower_case) {
    if (lower_case)
        for (char& c : program)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto cut = program.rfind(separator);
    if (cut == std::string::npos) return {};
    program.resize(cut);
    if (program.size() > 3) {
        cut = program.rfind(separator);
        if (cut != std::string::npos) program.resize(cut);
    }
    return program;
}

bool is_absolute_name(const std::string& name, char separator) {
    auto is_sep = [separator](char c) { return c == separator || c == '\\'; };
    if (name.empty()) return false;
    if (is_sep(name[0])) return true;
    if (name.size() >= 2 && name[0] == '.' && is_sep(name[1])) return true;
    return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
}

std::string join(const std::string& directory, const std::string& name, char separator) {
    return directory + separator + name;
}

std::string parent_directory(const std::string& path, char separator) {
    std::string separators(1, separator);
    if (separator == '\\') separators += '/';  // Windows takes both
    const auto cut = path.find_last_of(separators);
    if (cut == std::string::npos) {
        // "c:name" lies in drive c's current directory.
        if (separator == '\\' && path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + ".";
        return ".";
    }
    if (cut == 0) return path.substr(0, 1);
    return path.substr(0, cut);
}

std::string native_separators(std::string path, char separator) {
    if (separator != '\\')
        for (char& c : path)
            if (c == '\\') c = separator;
    return path;
}

std::string kept_directory(std::string value) {
    if (value.size() > max_directory_length) value.clear();
    return value;
}

}  // namespace paths

namespace {

// A looked-up directory: 260 characters at most, empty means absent.
struct DirectoryLookup {
    bool done = false;
    std::string value;
    const char* result() const { return value.empty() ? nullptr : value.c_str(); }
};

DirectoryLookup install_lookup, config_lookup, ramps_lookup;
std::string machine_name_text;
bool machine_name_done = false;
// The path u_find_file last found; freed with the program (or with a library that
// carries this code and is unloaded).
struct FoundFile {
    char* path = nullptr;
    ~FoundFile() { u_free(path); }
} found_file;

bool from_environment(const char* variable, DirectoryLookup& lookup) {
    const char* value = std::getenv(variable);
    if (!value) return false;
    // Set but too long: the directory is absent, not the unset variable's default.
    lookup.value = paths::kept_directory(value);
    return true;
}

// Runs a first-use lookup. Out of memory on the way the directory is absent for
// this call and the lookup is tried again on the next (never an exception out of
// the library).
// A lookup that builds on another (config on install, ramps on config) is not kept
// either when the one below failed that way.
int lookup_failures = 0;

template <typename Find>
const char* looked_up(DirectoryLookup& lookup, Find find) {
    if (!lookup.done) {
        const int failures_before = lookup_failures;
        try {
            find();
        } catch (const std::bad_alloc&) {
            ++lookup_failures;
        }
        if (lookup_failures != failures_before) {
            lookup.value.clear();
            return nullptr;
        }
        lookup.done = true;
    }
    return lookup.result();
}

}  // namespace

const char* u_install_dir() {
    return looked_up(install_lookup, [] {
        if (from_environment("HX_INSTALL_DIR", install_lookup)) return;
        install_lookup.value = paths::kept_directory(paths::install_dir_from_program(
            platform::program_path(), platform::path_separator(), !platform::paths_are_case_sensitive()));
        u_sink("Install directory: %s\n", install_lookup.value.c_str());
    });
}

const char* u_config_dir() {
    return looked_up(config_lookup, [] {
        if (from_environment("HX_CONFIG_DIR", config_lookup)) return;
        if (const char* install = u_install_dir()) {
            std::string candidate = paths::join(install, "cfg", platform::path_separator());
            config_lookup.value = paths::kept_directory(platform::is_directory(candidate) ? candidate : install);
        }
    });
}

const char* u_ramps_dir() {
    return looked_up(ramps_lookup, [] {
        if (from_environment("HX_RAMPS_DIR", ramps_lookup)) return;
        if (const char* config = u_config_dir()) {
            ramps_lookup.value = paths::kept_directory(paths::join(config, "ramps", platform::path_separator()));
            if (!ramps_lookup.value.empty() && !platform::is_directory(ramps_lookup.value))
                platform::create_directory(ramps_lookup.value);
        }
    });
}

namespace {

int32_t find_file(const char* name, const char** path) {
    const char sep = platform::path_separator();
    const std::string wanted = paths::native_separators(name, sep);

    auto accept = [&](const std::string& candidate) -> int32_t {
        char* copy = static_cast<char*>(u_malloc(candidate.size() + 1));
        if (!copy) return ERR_NO_MEM;
        std::memcpy(copy, candidate.c_str(), candidate.size() + 1);
        bool exists = false;
        try {
            exists = u_file_exists(copy);
        } catch (...) {
            u_free(copy);
            throw;
        }
        if (!exists) {
            u_free(copy);
            return ERR_CANT_READ_FILE;
        }
        u_free(found_file.path);
        found_file.path = copy;
        *path = found_file.path;
        return 0;
    };

    if (paths::is_absolute_name(wanted, sep)) return accept(wanted);
    int32_t status = accept(paths::join(".", wanted, sep));
    if (status != ERR_CANT_READ_FILE) return status;
    const char* config = u_config_dir();
    if (!config) return ERR_CANT_OPEN_FILE;
    return accept(paths::join(config, wanted, sep));
}

}  // namespace

int32_t u_find_file(const char* name, const char** path) {
    if (!name || !name[0]) return 0;
    try {
        return find_file(name, path);
    } catch (const std::bad_alloc&) {
        return ERR_NO_MEM;
    }
}

const char* u_machine_name(int n) {
    if (!machine_name_done) {
        machine_name_done = true;
        machine_name_text = platform::computer_name().substr(0, 15);
        machine_name_text += '.';
        machine_name_text += static_cast<char>('0' + n);
    }
    return machine_name_text.c_str();
}

}  // namespace mf
