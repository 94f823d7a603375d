#include "calfile/bpix.h"

#include <charconv>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "common/dirs.h"
#include "common/error_codes.h"
#include "common/files.h"
#include "common/msg.h"
#include "platform/files.h"

namespace mf {

namespace {

sb_bpix_set slot_sets[sys_slot_count];

std::string printf_text(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    if (n < 0) return std::string();
    return std::string(buffer,
                       static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n) : sizeof buffer - 1);
}

bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_separator(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !is_separator(line[i]))
            ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

enum class field_fault { none, missing, not_number, extra, range };

const char* fault_text(field_fault f) {
    switch (f) {
    case field_fault::missing:
        return "Missing number.\n";
    case field_fault::not_number:
        return "Not a number.\n";
    case field_fault::extra:
        return "Extra characters after number.\n";
    default:
        return "Number out of range.\n";
    }
}

field_fault parse_int(const std::string* field, int32_t low, int32_t high, int32_t* out) {
    if (!field) return field_fault::missing;
    const char* s = field->c_str();
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    if (*s < '0' || *s > '9') return field_fault::not_number;
    int64_t v = 0;
    for (; *s >= '0' && *s <= '9'; ++s)
        if (v <= INT32_MAX) v = v * 10 + (*s - '0');
    if (*s) return field_fault::extra;
    if (negative) v = -v;
    if (v < low || v > high) return field_fault::range;
    *out = static_cast<int32_t>(v);
    return field_fault::none;
}

field_fault parse_real(const std::string* field, double low, double high, double* out) {
    if (!field) return field_fault::missing;
    const char* begin = field->c_str();
    const char* end = begin + field->size();
    if (*begin == '+') ++begin;
    double v = 0;
    const auto r = std::from_chars(begin, end, v);
    if (r.ptr == begin) return field_fault::not_number;
    if (r.ptr != end) return field_fault::extra;
    if (r.ec == std::errc::result_out_of_range || !(v >= low && v <= high)) return field_fault::range;
    *out = v;
    return field_fault::none;
}

void int_message(std::string* messages, field_fault f, const char* name, int32_t low, int32_t high) {
    *messages += fault_text(f);
    *messages += "Expected";
    *messages += printf_text(" '%.40s'", name);
    *messages += " an integer value";
    *messages += printf_text(" in the range [%d,%d]", low, high);
    *messages += "\n";
}

void real_message(std::string* messages, field_fault f, const char* name, double low, double high) {
    *messages += fault_text(f);
    *messages += "Expected";
    *messages += printf_text(" '%.40s'", name);
    *messages += " a floating point value";
    *messages += printf_text(" in the range [%g,%g]", low, high);
    *messages += "\n";
}

void line_error(std::string* messages, int number, const std::string* line) {
    if (line)
        *messages += printf_text("Error in line %d:\r\n  ", number) + *line + "\n";
    else
        *messages += printf_text("Error in line %d\r\n", number);
}

const std::string* field_at(const std::vector<std::string>& fields, std::size_t i) {
    return i < fields.size() ? &fields[i] : nullptr;
}

bool is_comment(const std::vector<std::string>& fields) { return fields.empty() || fields[0][0] == '#'; }

}  // namespace

int sb_bpix_lines::get() {
    if (file_) return std::getc(file_);
    if (pos_ < size_) return static_cast<unsigned char>(data_[pos_++]);
    return EOF;
}

sb_bpix_lines::status sb_bpix_lines::next(std::string* line) {
    if (pushed_) {
        pushed_ = false;
        *line = line_;
        return last_;
    }
    line_.clear();
    bool any = false;
    bool too_long = false;
    for (;;) {
        const int c = get();
        if (c == EOF) break;
        any = true;
        if (c == '\n') break;
        // One character beyond the limit is kept so a final '\r' can be told apart.
        if (line_.size() <= static_cast<std::size_t>(sb_bpix_line_max))
            line_.push_back(static_cast<char>(c));
        else
            too_long = true;
    }
    if (!any) return last_ = status::end;
    ++number_;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (too_long || line_.size() > static_cast<std::size_t>(sb_bpix_line_max)) {
        line_.clear();
        last_ = status::too_long;
    } else {
        last_ = status::line;
    }
    *line = line_;
    return last_;
}

void sb_bpix_clear(sb_bpix_set* set) {
    for (int i = 0; i < set->count && i < sb_max_bpix_sections; ++i) {
        u_free(set->sections[i].pixels);
        set->sections[i] = {};
    }
    set->count = 0;
}

int32_t sb_read_bpix_section(sb_bpix_lines& lines, sb_bpix_section* section, bool* found, bool* at_end,
                             std::string* messages) {
    *section = {};
    *found = false;
    *at_end = false;
    int32_t capacity = 0;
    auto fail = [&](const std::string* line) {
        line_error(messages, lines.number(), line);
        u_free(section->pixels);
        *section = {};
        return ERR_CB_FILE_INVALID;
    };
    std::string line;
    for (;;) {
        const sb_bpix_lines::status st = lines.next(&line);
        if (st == sb_bpix_lines::status::end) {
            *at_end = true;
            return 0;
        }
        if (st == sb_bpix_lines::status::too_long) {
            *messages += printf_text("Line longer than %d characters\r\n", sb_bpix_line_max);
            return fail(nullptr);
        }
        const std::vector<std::string> fields = fields_of(line);
        if (is_comment(fields)) continue;
        if (fields[0][0] == '[') {
            if (*found) {
                lines.put_back();
                return 0;
            }
            int32_t mode = 0, under = 0, sx = 0, sy = 0;
            double rate = 0;
            field_fault f;
            if ((f = parse_int(field_at(fields, 1), 0, 10, &mode)) != field_fault::none) {
                int_message(messages, f, "grab mode", 0, 10);
                return fail(&line);
            }
            if ((f = parse_int(field_at(fields, 2), 0, 10, &under)) != field_fault::none) {
                int_message(messages, f, "grab under", 0, 10);
                return fail(&line);
            }
            if ((f = parse_int(field_at(fields, 3), 0, 32767, &sx)) != field_fault::none) {
                int_message(messages, f, "size x", 0, 32767);
                return fail(&line);
            }
            if ((f = parse_int(field_at(fields, 4), 0, 32767, &sy)) != field_fault::none) {
                int_message(messages, f, "size y", 0, 32767);
                return fail(&line);
            }
            if ((f = parse_real(field_at(fields, 5), 0, 500, &rate)) != field_fault::none) {
                real_message(messages, f, "grab rate", 0, 500);
                return fail(&line);
            }
            section->grabMode = mode;
            section->grabUnder = under;
            section->sizeX = static_cast<uint16_t>(sx);
            section->sizeY = static_cast<uint16_t>(sy);
            section->grabRate = rate;
            *found = true;
            continue;
        }
        if (!*found) {
            *messages += "Missing camera information.\r\n";
            return fail(&line);
        }
        int32_t x = 0, y = 0;
        field_fault f;
        if ((f = parse_int(field_at(fields, 0), 0, section->sizeX - 1, &x)) != field_fault::none) {
            int_message(messages, f, "coord x", 0, section->sizeX - 1);
            return fail(&line);
        }
        if ((f = parse_int(field_at(fields, 1), 0, section->sizeY - 1, &y)) != field_fault::none) {
            int_message(messages, f, "coord y", 0, section->sizeY - 1);
            return fail(&line);
        }
        if (section->count == capacity) {
            const int32_t grown = capacity ? capacity * 2 : 16;
            void* block = u_realloc(section->pixels, static_cast<std::size_t>(grown) * sizeof(sb_bpix_pixel));
            if (!block) {
                u_free(section->pixels);
                *section = {};
                return ERR_NO_MEM;
            }
            section->pixels = static_cast<sb_bpix_pixel*>(block);
            capacity = grown;
        }
        section->pixels[section->count++] = {x, y, 0.0f};
    }
}

int32_t sb_read_bpix_lines(sb_bpix_lines& lines, const char* path, sb_bpix_set* set) {
    sb_bpix_clear(set);
    std::string messages;
    int32_t result = 0;
    for (;;) {
        if (set->count == sb_max_bpix_sections) {
            // Room for no more: anything but comments from here on is a section too many.
            std::string line;
            sb_bpix_lines::status st;
            while ((st = lines.next(&line)) == sb_bpix_lines::status::line && is_comment(fields_of(line))) {
            }
            if (st == sb_bpix_lines::status::end) break;
            if (st == sb_bpix_lines::status::too_long) {
                messages += printf_text("Line longer than %d characters\r\n", sb_bpix_line_max);
                line_error(&messages, lines.number(), nullptr);
            } else {
                messages += printf_text("More than %d sections.\r\n", sb_max_bpix_sections);
                line_error(&messages, lines.number(), &line);
            }
            result = ERR_CB_FILE_INVALID;
            break;
        }
        bool found = false, at_end = false;
        sb_bpix_section section;
        result = sb_read_bpix_section(lines, &section, &found, &at_end, &messages);
        if (result) break;
        if (found) set->sections[set->count++] = section;
        if (at_end) break;
    }
    if (result) {
        sb_bpix_clear(set);
        if (result == ERR_CB_FILE_INVALID)
            u_sink("%s", (printf_text("Error reading bad pixel file \"%s\"\r\n", path ? path : "") + messages).c_str());
    }
    return result;
}

int32_t gen_cam_ped_filename(const sysInfo* si, std::string* path) {
    const char* config = u_config_dir();
    if (!config) {
        u_sink("gen_cam_ped_filename: invalid config directory.\n");
        return ERR_INVALID_PARAM;
    }
    const char sep = platform::path_separator();
    const std::string name = si->camera.bpixFile && si->camera.bpixFile[0]
                                 ? paths::native_separators(si->camera.bpixFile, sep)
                                 : printf_text("bpix_%d.dat", si->serialNum);
    *path = paths::join(config, name, sep);
    return 0;
}

int32_t sb_read_bpix(sysInfo* si) {
    if (!si || si->slot < 0 || si->slot >= sys_slot_count) return ERR_INVALID_PARAM;
    sb_bpix_set& stored = slot_sets[si->slot];
    sb_bpix_clear(&stored);
    std::string path;
    int32_t result = gen_cam_ped_filename(si, &path);
    if (result) return result;
    std::FILE* file = u_fopen(path.c_str(), "rb");
    if (!file) {
        u_sink("Cannot open camera bad file \"%s\"\r\n", path.c_str());
        return ERR_CANT_OPEN_FILE;
    }
    sb_bpix_lines lines(file);
    result = sb_read_bpix_lines(lines, path.c_str(), &stored);
    // A read error looks like the end of the file to the line reader (a directory
    // opens on some systems and fails at the first read): what was read is not
    // the file.
    const bool read_error = std::ferror(file) != 0;
    std::fclose(file);
    if (read_error && result != ERR_NO_MEM) {
        sb_bpix_clear(&stored);
        u_sink("Cannot read camera bad file \"%s\"\r\n", path.c_str());
        return ERR_CANT_READ_FILE;
    }
    return result;
}

const sb_bpix_set* sb_bpix_sections(int slot) {
    return slot >= 0 && slot < sys_slot_count ? &slot_sets[slot] : nullptr;
}

void sb_bpix_release(int slot) {
    if (slot >= 0 && slot < sys_slot_count) sb_bpix_clear(&slot_sets[slot]);
}

}  // namespace mf
