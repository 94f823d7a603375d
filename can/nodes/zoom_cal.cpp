#include "can/nodes/zoom_cal.h"

#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <new>

#include "common/dirs.h"
#include "common/error_codes.h"
#include "common/msg.h"
#include "platform/files.h"

namespace mf {

namespace {

// Lines are read as a 512-byte line buffer reads them: at most 511 characters at a
// time, so a longer line goes on as the next one.
constexpr size_t line_buffer = 512;

void append(std::string* msg, const char* fmt, ...) MF_PRINTF_FORMAT(2, 3);
void append(std::string* msg, const char* fmt, ...) {
    if (!msg) return;
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n > 0) {
        std::string text(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), fmt, ap);
        text.resize(static_cast<size_t>(n));
        *msg += text;
    }
    va_end(ap);
}

bool two_numbers(const char* line, double* a, double* b) {
    static constexpr const char* formats[] = {"%lf %lf", "%lf,%lf", "%lf, %lf"};
    for (const char* f : formats)
        if (std::sscanf(line, f, a, b) == 2) return true;
    return false;
}

}  // namespace

int32_t tarn_enc_zoom_parse_text(std::string_view text, const char* path, std::vector<zoom_cal_entry>* table,
                                 std::string* msg) {
    std::vector<zoom_cal_entry> pairs;
    const char* fault = nullptr;
    std::string line;
    int line_no = 0;
    bool tied_to_line = true;
    size_t at = 0;
    char fault_text[96];
    while (at < text.size() && !fault) {
        // One buffer's worth, up to and including a newline.
        size_t end = at;
        while (end < text.size() && end - at < line_buffer - 1 && text[end] != '\n')
            ++end;
        if (end < text.size() && text[end] == '\n' && end - at < line_buffer - 1) ++end;
        line.assign(text.substr(at, end - at));
        at = end;
        ++line_no;
        if (line_no == 1) continue;  // the title
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // An embedded NUL ends the line, as it ends a C string.
        line.resize(std::char_traits<char>::length(line.c_str()));

        double pos, mag;
        if (!two_numbers(line.c_str(), &pos, &mag)) {
            fault = " Expected two numbers (position and magnification) separated by a comma and/or space. \n";
        } else if (!(std::fabs(pos) <= FLT_MAX) || !(std::fabs(mag) <= FLT_MAX)) {
            fault = " Magnitude of number is unreasonable. \n";
        } else if (pairs.size() == static_cast<size_t>(zoom_cal_max_pairs)) {
            std::snprintf(fault_text, sizeof fault_text,
                          " Too many position and magnification value pairs (maximum is %d). \n", zoom_cal_max_pairs);
            fault = fault_text;
            tied_to_line = false;
        } else if (!(pos >= 0 && pos <= FLT_MAX)) {
            std::snprintf(fault_text, sizeof fault_text, " Position value is out of range [%g,%g] \n", 0.0,
                          static_cast<double>(FLT_MAX));
            fault = fault_text;
        } else if (!(mag >= 0.5 && mag <= 6.0)) {
            std::snprintf(fault_text, sizeof fault_text, " Magnification value is out of range [%g,%g] \n", 0.5, 6.0);
            fault = fault_text;
        } else if (!pairs.empty() && !(static_cast<float>(pos) > pairs.back().position)) {
            // Compared as stored: two doubles that round to one float are not increasing.
            fault = " Position values are not in strictly increasing order. \n";
        } else if (!pairs.empty() && !(static_cast<float>(mag) > pairs.back().magnification)) {
            fault = " Magnification values are not in strictly increasing order. \n";
        } else {
            pairs.push_back({static_cast<float>(pos), static_cast<float>(mag)});
        }
    }
    if (!fault && pairs.size() < static_cast<size_t>(zoom_cal_min_pairs)) {
        std::snprintf(fault_text, sizeof fault_text,
                      " Too few position and magnification value pairs (minimum is %d) \n", zoom_cal_min_pairs);
        fault = fault_text;
        tied_to_line = false;
    }
    if (fault) {
        append(msg, " Error reading Tarn encoded zoom magnification calibration file \"%s\" \n", path);
        append(msg, "%s", fault);
        if (tied_to_line) {
            if (line.empty())
                append(msg, " Error in line %d \n", line_no);
            else
                append(msg, " Error in line %d: \n  %s \n", line_no, line.c_str());
        }
        return ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE;
    }
    *table = std::move(pairs);
    return 0;
}

int32_t tarn_enc_zoom_parse(const char* path, std::vector<zoom_cal_entry>* table, std::string* msg) {
    std::FILE* f = platform::open_file(path, "rb");
    if (!f) {
        append(msg, " Cannot open Tarn encoded zoom magnification calibration file \"%s\" \n", path);
        return ERR_TARN_ENC_ZOOM_CANT_OPEN_CAL_FILE;
    }
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    return tarn_enc_zoom_parse_text(text, path, table, msg);
}

namespace {
zoom_cal_state states[4];
}

zoom_cal_state* tarn_enc_zoom_state(const sysInfo* si) {
    if (!si || si->slot < 0 || si->slot > 3) return nullptr;
    return &states[si->slot];
}

void tarn_enc_zoom_reset_all() {
    for (zoom_cal_state& s : states)
        s = zoom_cal_state{};
}

int32_t tarn_enc_zoom_load(const sysInfo* si, std::string* msg) {
    zoom_cal_state* st = tarn_enc_zoom_state(si);
    if (!st) return ERR_INVALID_PARAM;
    try {
        if (!st->loaded_name.empty()) {
            const int64_t size = platform::file_size(st->loaded_name);
            if (size < 0) {
                st->loaded_name.clear();
            } else if (!st->table.empty() && size == st->size && platform::file_mtime(st->loaded_name) == st->mtime) {
                return 0;
            }
        }
        const char* configured = si->encZoom && si->encZoom->calFile && si->encZoom->calFile[0] ? si->encZoom->calFile
                                                                                                : zoom_cal_default_name;
        const char* found = nullptr;
        if (u_find_file(configured, &found) != 0 || !found) {
            append(msg, " Cannot access Tarn encoded zoom magnification calibration file \"%s\" \n", configured);
            return ERR_TARN_ENC_ZOOM_CANT_OPEN_CAL_FILE;
        }
        const std::string path = found;
        // Size and time before the read: a change during the read shows at the next load.
        const int64_t size = platform::file_size(path);
        const int64_t mtime = platform::file_mtime(path);
        std::vector<zoom_cal_entry> table;
        int32_t err = tarn_enc_zoom_parse(path.c_str(), &table, msg);
        if (err) {
            *st = zoom_cal_state{};
            return err;
        }
        st->table = std::move(table);
        st->loaded_name = path;
        st->size = size;
        st->mtime = mtime;
        u_sink("Tarn encoded zoom calibration data loaded from file %s\n", path.c_str());
        return 0;
    } catch (const std::bad_alloc&) {
        *st = zoom_cal_state{};
        return ERR_NO_MEM;
    }
}

}  // namespace mf
