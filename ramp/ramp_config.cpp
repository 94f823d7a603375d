#include "ramp/ramp_config.h"

#include <charconv>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "common/alloc.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/msg.h"
#include "platform/file_io.h"

namespace mf {

const char* const rr_cfg_title = "# Ostrabel Ramp Configuration File";

const char* const rr_cfg_description =
    "#\n"
    "# RT  = RampType: PMI, SWLI, BTW, or BTWX where X is a filter number\n"
    "# FN  = FileName: name of ramp data file or \"+\" if derived from previous\n"
    "# SL  = ScanLen: scan length in microns for SWLI or BTW ramps\n"
    "# CR  = CameraRate: frame rate in Hz\n"
    "# CI  = CameraInterlace: 1 if interlaced fields, otherwise 0\n"
    "# GS  = GrabSkip: (GrabSkip+1 specifies camera frame sampling)\n"
    "# FPF = FringesPerFrame: normal 0.125 or 0.25, subnyquist 0.75 or 1.25\n"
    "# RS  = RampSlope: nm/frm for SWLI or BTW ramps\n"
    "# OM  = ObjMag: nominal objective magnification, required for BTW ramps\n"
    "# SC  = ScanCal: factor near 1.0 to calibrate SWLI or BTW ramps\n"
    "# H   = Optional hide flag: 0 is normal, 1 to hide ramp from user\n"
    "#\n"
    "# RT    FN                     SL    CR   CI GS  FPF    RS       OM   SC      H";

const char* const rr_cfg_sample_line =
    " SWLI d10s81c25.b12345      010.20 025.00 00 00 0.250 081.0000 000.00 1.00000 0";

namespace {

enum field_no {
    F_RAMP_TYPE = 1,
    F_FILE_NAME,
    F_SCAN_LEN,
    F_CAMERA_RATE,
    F_INTERLACE,
    F_GRAB_SKIP,
    F_FPF,
    F_RAMP_SLOPE,
    F_OBJ_MAG,
    F_SCAN_CAL,
    F_HIDE,
};

const char* const field_names[] = {"",           "RampType",        "FileName", "ScanLen",
                                   "CameraRate", "CameraInterlace", "GrabSkip", "FringesPerFrame",
                                   "RampSlope",  "ObjMag",          "ScanCal",  "Hide"};

constexpr int min_wavelength = 1, max_wavelength = 4;

// Where the lines come from: an open file or text in memory.
struct line_source {
    std::FILE* file = nullptr;
    const char* at = nullptr;
    const char* end = nullptr;

    int get() {
        if (file) return std::getc(file);
        if (at == end) return EOF;
        return static_cast<unsigned char>(*at++);
    }
};

// One line as the reader sees it: at most rr_cfg_max_line characters are kept.
struct cfg_line {
    char text[rr_cfg_max_line + 2];
    size_t length = 0;
    bool too_long = false;
};

// Reads the next line; false at the end of the input. A CR before the line end is
// part of the line end, which counts as one character, so a file written with
// CR LF on an instrument PC reads as it does there.
bool next_line(line_source& src, cfg_line& line) {
    line.length = 0;
    line.too_long = false;
    bool ended = false, any = false;
    size_t total = 0;
    for (int c; (c = src.get()) != EOF;) {
        any = true;
        if (c == '\n') {
            ended = true;
            break;
        }
        ++total;
        if (line.length < rr_cfg_max_line + 1)
            line.text[line.length++] = static_cast<char>(c);
        else
            break;  // too long: the reading stops here anyway
    }
    if (!any) return false;
    if (line.length > 0 && line.text[line.length - 1] == '\r') {
        --line.length;
        --total;
    }
    line.text[line.length] = '\0';
    line.too_long = total + (ended ? 1 : 0) > static_cast<size_t>(rr_cfg_max_line);
    return true;
}

struct field {
    const char* text = nullptr;
    size_t length = 0;
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Splits a line into at most `max` fields separated by blanks or tabs. A zero
// byte ends the line's text, as it ends the text that is quoted in messages.
int split_fields(const cfg_line& line, field* fields, int max) {
    const size_t length = std::strlen(line.text);
    int n = 0;
    size_t i = 0;
    while (n < max) {
        while (i < length && is_blank(line.text[i]))
            ++i;
        if (i == length) break;
        const size_t start = i;
        while (i < length && !is_blank(line.text[i]))
            ++i;
        fields[n++] = {line.text + start, i - start};
    }
    return n;
}

// A real number at the start of the field (sign, digits, point, exponent), read
// the same whatever the locale; text after it is ignored. False when the field
// does not begin with a number.
bool leading_real(const field& f, double* value) {
    const char* p = f.text;
    const char* end = f.text + f.length;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* number = p;
    int digits = 0;
    while (p < end && *p >= '0' && *p <= '9')
        ++p, ++digits;
    if (p < end && *p == '.') {
        ++p;
        while (p < end && *p >= '0' && *p <= '9')
            ++p, ++digits;
    }
    if (digits == 0) return false;
    bool tiny_exponent = false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool minus = false;
        if (q < end && (*q == '+' || *q == '-')) minus = *q++ == '-';
        if (q < end && *q >= '0' && *q <= '9') {
            while (q < end && *q >= '0' && *q <= '9')
                ++q;
            p = q;
            tiny_exponent = minus;
        }
    }
    double v = 0.0;
    const auto r = std::from_chars(number, p, v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range)
        v = tiny_exponent ? 0.0 : std::numeric_limits<double>::infinity();
    else if (r.ec != std::errc())
        return false;
    *value = negative ? -v : v;
    return true;
}

// An integer at the start of the field, saturated to 32 bits.
bool leading_int(const field& f, int32_t* value) {
    const char* p = f.text;
    const char* end = f.text + f.length;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end || *p < '0' || *p > '9') return false;
    int64_t v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        v = v > (int64_t{1} << 40) ? v : v * 10 + (*p - '0');
    if (negative) v = -v;
    if (v > std::numeric_limits<int32_t>::max()) v = std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) v = std::numeric_limits<int32_t>::min();
    *value = static_cast<int32_t>(v);
    return true;
}

// The value as a header field holds it.
float to_float(double v) {
    if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

// The report of a bad line: the message and the explanation that follows the line.
struct fault {
    char message[128] = "";
    char explanation[320] = "";
    bool stop = false;      // ends the reading
    int32_t code = 0;       // the reading's result when it stops
    bool keep_text = true;  // the line is quoted after the message
};

void say(char (&buffer)[128], const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
}
void explain(fault& f, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(f.explanation, sizeof f.explanation, format, args);
    va_end(args);
}

// The explanation of a numeric field's range, by field.
void explain_range(fault& f, int field_no) {
    const char* name = field_names[field_no];
    switch (field_no) {
    case F_SCAN_LEN:
        explain(f,
                "For PMI ramps, the %s value must be 0\nFor SWLI or BTW ramps, it must be greater than %g and less "
                "than %g (um)\n",
                name, 0.0, 1000.0);
        break;
    case F_CAMERA_RATE:
        explain(f, "The %s value must be greater than 0 and less than %g (Hz)\n", name, 50000.0);
        break;
    case F_INTERLACE:
        explain(f, "The %s value must be 0 or 1\n", name);
        break;
    case F_GRAB_SKIP:
        explain(f, "The %s value must be greater than or equal to %d and less than %d\n", name, 0, 100);
        break;
    case F_FPF:
        explain(f, "The %s value must be greater than %g and less than %g\n", name, 0.0, 10.0);
        break;
    case F_RAMP_SLOPE:
        explain(f,
                "For PMI ramps, the %s value may be 0\nFor SWLI or BTW ramps, it must be greater than %g and less "
                "than %g (nm/frm)\n",
                name, 0.0, 4000.0);
        break;
    case F_OBJ_MAG:
        explain(f,
                "For PMI or SWLI ramps, the %s value may be 0\nFor BTW ramps, it must be greater than %g and less "
                "than %g\n",
                name, 0.0, 1000.0);
        break;
    case F_SCAN_CAL:
        explain(f,
                "For PMI ramps, the %s value must be 0\nFor SWLI or BTW ramps, it must be greater than %g and less "
                "than %g\n",
                name, 0.5, 1.5);
        break;
    case F_HIDE:
        explain(f, "The %s value must be blank, 0 or 1\n", name);
        break;
    default:
        break;
    }
}

bool real_ok(int field_no, float v, bool pmi, bool btw) {
    switch (field_no) {
    case F_SCAN_LEN:
        return v >= 0.0f && v < 1000.0f && (pmi ? v == 0.0f : v > 0.0f);
    case F_CAMERA_RATE:
        return v > 0.0f && v <= 50000.0f;
    case F_FPF:
        return v > 0.0f && v < 10.0f;
    case F_RAMP_SLOPE:
        return v >= 0.0f && v < 4000.0f && (pmi || v > 0.0f);
    case F_OBJ_MAG:
        return v >= 0.0f && v < 1000.0f && (!btw || v > 0.0f);
    case F_SCAN_CAL:
        return pmi ? v == 0.0f : v > 0.5f && v < 1.5f;
    default:
        return false;
    }
}

bool int_ok(int field_no, int32_t v) {
    if (field_no == F_GRAB_SKIP) return v >= 0 && v < 100;
    return v == 0 || v == 1;
}

// The ramp type and wavelength index of field 1; only its first four characters
// count, so "BTW12" is filter 1.
bool parse_type(const field& f, rr_ramp_spec& spec, fault& bad) {
    char t[5] = {};
    std::memcpy(t, f.text, f.length < 4 ? f.length : 4);
    spec.wavelenSelect = 0;
    if (std::strcmp(t, "SWLI") == 0) {
        spec.rampType = RAMP_TYPE_SWLI;
        return true;
    }
    if (std::strcmp(t, "PMI") == 0) {
        spec.rampType = RAMP_TYPE_PMI_FIRST;
        return true;
    }
    if (std::strncmp(t, "BTW", 3) == 0) {
        spec.rampType = RAMP_TYPE_BTW;
        if (t[3] == '\0') return true;
        if (t[3] >= '0' + min_wavelength && t[3] <= '0' + max_wavelength) {
            spec.wavelenSelect = t[3] - '0';
            return true;
        }
        say(bad.message, "Invalid BTW wavelength index (field %d)", F_RAMP_TYPE);
        explain(bad, "Wavelength index must be an integer in the range [%d,%d]\n", min_wavelength, max_wavelength);
        return false;
    }
    say(bad.message, "Invalid %s value (field %d)", field_names[F_RAMP_TYPE], F_RAMP_TYPE);
    explain(bad, "Allowed %s values are SWLI, PMI, BTW, and BTWX\nwhere X is a wavelength index in the range [%d,%d]\n",
            field_names[F_RAMP_TYPE], min_wavelength, max_wavelength);
    return false;
}

// Checks the fields of a non-comment line in order; false with the first fault.
bool parse_spec(const field* fields, int n, rr_ramp_spec& spec, fault& bad) {
    spec = rr_ramp_spec{};
    if (!parse_type(fields[0], spec, bad)) return false;
    const bool pmi = spec.rampType == RAMP_TYPE_PMI_FIRST;
    const bool btw = spec.rampType == RAMP_TYPE_BTW;
    if (n < F_FILE_NAME) {
        say(bad.message, "Missing %s value (field %d)", field_names[F_FILE_NAME], F_FILE_NAME);
        return false;
    }
    const field& name = fields[F_FILE_NAME - 1];
    if (name.length > static_cast<size_t>(rr_cfg_max_name)) {
        say(bad.message, "%s is too long (field %d)", field_names[F_FILE_NAME], F_FILE_NAME);
        explain(bad, "The %s may be up to %d characters\n", field_names[F_FILE_NAME], rr_cfg_max_name);
        return false;
    }
    std::memcpy(spec.fileName, name.text, name.length);
    spec.fileName[name.length] = '\0';

    float* const reals[] = {&spec.scanLen,   &spec.cameraRate, nullptr,       nullptr, &spec.fringesPerFrame,
                            &spec.rampSlope, &spec.objMag,     &spec.scanCal, nullptr};
    int32_t* const ints[] = {nullptr, nullptr,   &spec.cameraInterlace, &spec.grabSkip, nullptr, nullptr, nullptr,
                             nullptr, &spec.hide};
    for (int no = F_SCAN_LEN; no <= F_HIDE; ++no) {
        const char* what = field_names[no];
        if (n < no) {
            if (no == F_HIDE) break;  // the hide flag may be left out
            say(bad.message, "Missing %s value (field %d)", what, no);
            return false;
        }
        const field& f = fields[no - 1];
        float* real = reals[no - F_SCAN_LEN];
        if (real) {
            double v;
            if (!leading_real(f, &v)) {
                say(bad.message, "Invalid %s value (field %d)", what, no);
                explain_range(bad, no);
                return false;
            }
            *real = to_float(v);
            if (!real_ok(no, *real, pmi, btw)) {
                say(bad.message, "Invalid %s value %g (field %d)", what, static_cast<double>(*real), no);
                explain_range(bad, no);
                return false;
            }
        } else {
            int32_t* value = ints[no - F_SCAN_LEN];
            if (!leading_int(f, value)) {
                say(bad.message, "Invalid %s value (field %d)", what, no);
                explain_range(bad, no);
                return false;
            }
            if (!int_ok(no, *value)) {
                say(bad.message, "Invalid %s value %d (field %d)", what, *value, no);
                explain_range(bad, no);
                return false;
            }
        }
    }
    return true;
}

class spec_array {
public:
    ~spec_array() { u_free(data_); }
    bool append(const rr_ramp_spec& spec) {
        if (count_ == capacity_) {
            const int32_t grown = capacity_ + rr_cfg_grow;
            void* block = u_realloc(data_, static_cast<size_t>(grown) * sizeof(rr_ramp_spec));
            if (!block) return false;
            data_ = static_cast<rr_ramp_spec*>(block);
            capacity_ = grown;
        }
        data_[count_++] = spec;
        return true;
    }
    int32_t count() const { return count_; }
    rr_ramp_spec* release() {
        rr_ramp_spec* d = data_;
        data_ = nullptr;
        count_ = capacity_ = 0;
        return d;
    }

private:
    rr_ramp_spec* data_ = nullptr;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

int32_t read_config(line_source& src, const char* path, rr_ramp_spec** specs, int32_t* count) {
    spec_array accepted;
    cfg_line line;
    int line_no = 0, ramp_lines = 0, bad_lines = 0;
    field fields[F_HIDE];
    while (next_line(src, line)) {
        ++line_no;
        fault bad;
        rr_ramp_spec spec;
        if (line.too_long) {
            say(bad.message, "Line longer than %d characters", rr_cfg_max_line);
            bad.stop = true;
            bad.code = ERR_CORRUPT_RAMP_CFG_FILE;
            bad.keep_text = false;
        } else {
            const int n = split_fields(line, fields, F_HIDE);
            if (n == 0 || fields[0].text[0] == '#') continue;
            ++ramp_lines;
            if (parse_spec(fields, n, spec, bad)) {
                if (accepted.append(spec)) continue;
                say(bad.message, "Out of memory");
                bad.stop = true;
                bad.code = ERR_NO_MEM;
            }
        }
        if (bad_lines++ == 0) u_sink("Error reading ramp config file \"%s\"\n", path);
        if (bad.keep_text)
            u_sink("%s in line %d:\n  %s\n", bad.message, line_no, line.text);
        else
            u_sink("%s in line %d\n", bad.message, line_no);
        if (bad.explanation[0]) u_sink("%s", bad.explanation);
        if (bad.stop) return bad.code;
        if (bad_lines > rr_cfg_max_bad_lines) {
            u_sink("Too many errors reading ramp config file \"%s\"\n", path);
            return ERR_CORRUPT_RAMP_CFG_FILE;
        }
    }
    if (accepted.count() == 0) {
        u_sink("No acceptable ramp specs in ramp config file \"%s\"\n", path);
        u_sink("Format description and sample:\n%s\n%s\n", rr_cfg_description, rr_cfg_sample_line);
        return ERR_CORRUPT_RAMP_CFG_FILE;
    }
    if (accepted.count() < ramp_lines)
        u_sink("Accepted %d of %d ramp specs in ramp config file \"%s\"\n", accepted.count(), ramp_lines, path);
    *count = accepted.count();
    *specs = accepted.release();
    return 0;
}

// The type text a line is written with.
const char* type_text(const rr_ramp_spec& spec, char (&buffer)[8]) {
    if (spec.rampType == RAMP_TYPE_SWLI) return "SWLI";
    if (rr_is_pmi(spec.rampType)) return "PMI";
    if (spec.rampType == RAMP_TYPE_BTW) {
        if (spec.wavelenSelect < min_wavelength || spec.wavelenSelect > max_wavelength) return "BTW";
        std::snprintf(buffer, sizeof buffer, "BTW%d", spec.wavelenSelect);
        return buffer;
    }
    return "XXX";
}

bool write_line(platform::file_handle& out, const char* text) {
    return out.write_text(text, std::strlen(text)) && out.write_text("\n", 1);
}

int write_config(platform::file_handle& out, const rr_ramp_spec* specs, int32_t count) {
    if (!write_line(out, rr_cfg_title) || !write_line(out, rr_cfg_description)) return ERR_CANT_WRITE_FILE;
    char previous_type[8] = "", type_buffer[8];
    for (int32_t i = 0; i < count; ++i) {
        const rr_ramp_spec& s = specs[i];
        const char* type = type_text(s, type_buffer);
        // Lines of one ramp data file at one camera rate stay together.
        const bool new_group = i == 0 || std::strcmp(type, previous_type) != 0 ||
                               std::strncmp(s.fileName, specs[i - 1].fileName, sizeof s.fileName) != 0 ||
                               !(std::fabs(static_cast<double>(s.cameraRate) - specs[i - 1].cameraRate) <= 1.0);
        std::snprintf(previous_type, sizeof previous_type, "%s", type);
        if (new_group && !out.write_text("\n", 1)) return ERR_CANT_WRITE_FILE;
        char line[rr_cfg_max_name + 200];
        std::snprintf(line, sizeof line, " %-4s %-22.*s %6.2f %6.2f %2d %2d %5.3f %8.4f %6.2f %7.5f %1d\n", type,
                      rr_cfg_max_name, s.fileName, static_cast<double>(s.scanLen), static_cast<double>(s.cameraRate),
                      s.cameraInterlace, s.grabSkip, static_cast<double>(s.fringesPerFrame),
                      static_cast<double>(s.rampSlope), static_cast<double>(s.objMag), static_cast<double>(s.scanCal),
                      s.hide);
        if (!out.write_text(line, std::strlen(line))) return ERR_CANT_WRITE_FILE;
    }
    return 0;
}

int32_t mismatch(const char* what) {
    u_sink("Error: mismatched %s\n", what);
    return ERR_INVALID_PARAM;
}

}  // namespace

int32_t rr_read_ramp_config(const char* path, rr_ramp_spec** specs, int32_t* count) {
    if (!specs || !count) return ERR_INVALID_PARAM;
    *specs = nullptr;
    *count = 0;
    const char* name = path ? path : "";
    std::FILE* file = path ? u_fopen(path, "rb") : nullptr;
    if (!file) {
        u_sink("Cannot open ramp config file \"%s\"\n", name);
        return ERR_CANT_OPEN_FILE;
    }
    line_source src;
    src.file = file;
    const int32_t status = read_config(src, name, specs, count);
    std::fclose(file);
    return status;
}

int32_t rr_read_ramp_config_memory(const char* name, const char* text, size_t size, rr_ramp_spec** specs,
                                   int32_t* count) {
    if (!specs || !count || (!text && size > 0)) return ERR_INVALID_PARAM;
    *specs = nullptr;
    *count = 0;
    line_source src;
    src.at = text;
    src.end = text + size;
    return read_config(src, name ? name : "", specs, count);
}

int32_t rr_write_ramp_config(const char* path, const rr_ramp_spec* specs, int32_t count) {
    if (!specs || count <= 0) return ERR_INVALID_PARAM;
    if (!path) return ERR_CANT_OPEN_FILE;
    const platform::content_producer produce = [&](platform::file_handle& out) {
        return write_config(out, specs, count);
    };
    const auto wide = u_wide_path(path);
    const platform::replace_result result =
        wide ? platform::replace_contents(*wide, produce) : platform::replace_contents(std::string(path), produce);
    switch (result.failed) {
    case platform::replace_stage::none:
        return 0;
    case platform::replace_stage::open:
        return ERR_CANT_OPEN_FILE;
    case platform::replace_stage::produce:
    case platform::replace_stage::commit:
        break;
    }
    return ERR_CANT_WRITE_FILE;
}

int32_t rr_match_ramp_spec(const rr_ramp_spec* spec, const rr_ramp_hdr_t* hdr) {
    if (!spec || !hdr) return ERR_INVALID_PARAM;
    const bool type_ok = rr_is_pmi(spec->rampType) ? rr_is_pmi(hdr->rampType) : spec->rampType == hdr->rampType;
    if (!type_ok) return mismatch("rampType");
    if (!(std::fabs(static_cast<double>(spec->cameraRate) - static_cast<double>(hdr->cameraRate)) <= 0.1))
        return mismatch("cameraRate");
    if (spec->cameraInterlace != hdr->cameraInterlace) return mismatch("cameraInterlace");
    if (spec->grabSkip != hdr->grabSkip) return mismatch("grabSkip");
    if (spec->fringesPerFrame != hdr->fringesPerFrame) return mismatch("fringesPerFrame");
    if (rr_is_pmi(hdr->rampType)) return 0;
    if (spec->scanLen != hdr->scanLen) return mismatch("scanLen");
    if (spec->rampSlope != hdr->rampSlope) return mismatch("rampSlope");
    return 0;
}

}  // namespace mf
