#include "datafile/grid_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "common/alloc.h"
#include "common/errors.h"
#include "common/files.h"
#include "platform/file_io.h"
#include "common/msg.h"
#include "datafile/codev_block.h"
#include "datafile/codev_scan.h"

namespace mf {

namespace {

using codev::is_space;
using codev::word_action;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, FileCloser>;

// How grid values become phase samples.
struct sample_map {
    bool has_nda = false;
    int32_t nda = 0;
    int shift = 0;  // left shift for k > 0, else 0
};

inline int32_t map_sample(int32_t v, const sample_map& m) {
    if (m.has_nda && v == m.nda) return invalid_phase;
    return static_cast<int32_t>(static_cast<uint32_t>(v) << m.shift);
}

struct span_result {
    const char* stop;
    size_t values;
    bool bad;  // stopped at a field that is not a number
};

// Scans "%7d" fields from [p, e) until need values are read, the span is used up
// (it never cuts a field: it ends at white space or at the end of the input), or
// a field is not a number. Each field is white space, then at most seven
// characters of sign and digits.
// The writer's layout: ten right-aligned seven-character fields, then a line end
// (LF or CR LF). Each field is blanks, an optional sign and at least one digit,
// and every field but the first begins with a blank (otherwise the seven
// characters of the value before it would reach into it), so each field is
// exactly what the general scan would read. Any other line returns 0 and is left
// to the general scan. Returns the line's length.
size_t parse_fixed_line(const char* line, int32_t* out, const sample_map& m) {
    size_t length;
    if (line[70] == '\n')
        length = 71;
    else if (line[70] == '\r' && line[71] == '\n')
        length = 72;
    else
        return 0;
    int32_t values[10];
    for (int f = 0; f < 10; ++f) {
        const char* field = line + 7 * f;
        if (f > 0 && field[0] != ' ') return 0;
        int j = 0;
        while (j < 7 && field[j] == ' ')
            ++j;
        const bool negative = j < 7 && field[j] == '-';
        if (j < 7 && (negative || field[j] == '+')) ++j;
        if (j == 7) return 0;
        int32_t v = 0;
        for (; j < 7; ++j) {
            const unsigned digit = static_cast<unsigned>(field[j] - '0');
            if (digit > 9) return 0;
            v = v * 10 + static_cast<int32_t>(digit);
        }
        values[f] = negative ? -v : v;
    }
    for (int f = 0; f < 10; ++f)
        out[f] = map_sample(values[f], m);
    return length;
}

span_result parse_span(const char* p, const char* e, int32_t* out, size_t need, const sample_map& m) {
    size_t n = 0;
    while (n < need) {
        // At a line end with a whole line of the writer's layout after it.
        if (p < e && *p == '\n' && need - n >= 10 && e - p > 72) {
            if (const size_t length = parse_fixed_line(p + 1, out + n, m)) {
                p += length;
                n += 10;
                continue;
            }
        }
        while (p < e && is_space(static_cast<unsigned char>(*p)))
            ++p;
        if (p == e) break;
        const char* limit = e - p > 7 ? p + 7 : e;
        const char* q = p;
        const bool negative = *q == '-';
        if (negative || *q == '+') ++q;
        const char* digits = q;
        int32_t v = 0;
        while (q < limit && static_cast<unsigned>(*q - '0') < 10u)
            v = v * 10 + (*q++ - '0');
        if (q == digits) return {p, n, true};
        p = q;
        out[n++] = map_sample(negative ? -v : v, m);
    }
    return {p, n, false};
}

// Below this a span is not worth a second thread.
constexpr size_t parallel_span = size_t{1} << 20;

// The second thread's samples, kept from one span to the next.
struct side_buffer {
    int32_t* data = nullptr;
    size_t capacity = 0;
    ~side_buffer() { u_free(data); }
    bool reserve(size_t count) {
        if (count <= capacity) return true;
        u_free(data);
        data = static_cast<int32_t*>(u_malloc(count * sizeof(int32_t)));
        capacity = data ? count : 0;
        return data != nullptr;
    }
};

// Parses a span with both cores: the second half (from a white space near the
// middle) into the side buffer on a worker thread while this thread does the first.
span_result parse_region(const char* p, const char* e, int32_t* out, size_t need, const sample_map& m,
                         side_buffer& side) {
    const size_t length = static_cast<size_t>(e - p);
    if (length < parallel_span || need < parallel_span / 8) return parse_span(p, e, out, need, m);
    const char* mid = p + length / 2;
    while (mid < e && !is_space(static_cast<unsigned char>(*mid)))
        ++mid;
    if (mid == e) return parse_span(p, e, out, need, m);
    // Every field after white space takes at least two characters.
    const size_t room = std::min(need, static_cast<size_t>(e - mid) / 2 + 1);
    if (!side.reserve(room)) return parse_span(p, e, out, need, m);
    span_result second{};
    std::thread worker;
    try {
        worker = std::thread([&] { second = parse_span(mid, e, side.data, room, m); });
    } catch (...) {
        return parse_span(p, e, out, need, m);
    }
    const span_result first = parse_span(p, mid, out, need, m);
    worker.join();
    if (first.values == need || first.bad || first.stop != mid) return first;
    const size_t take = std::min(second.values, need - first.values);
    std::memcpy(out + first.values, side.data, take * sizeof(int32_t));
    return {second.stop, first.values + take, take == second.values && second.bad};
}

int32_t read_samples(codev::text_source& in, int32_t* out, size_t count, const sample_map& m) {
    side_buffer side;
    size_t done = 0;
    size_t want = 0;
    while (done < count) {
        const int64_t available = want ? in.fill(want) : in.fill_buffer();
        if (available < 0) return ERR_NO_MEM;
        want = 0;
        const char* p = in.cursor();
        const char* e = in.limit();
        if (p == e) return ERR_PREMATURE_EOF;
        const char* end = e;
        if (!in.at_input_end()) {
            // Parse up to the last white space; the field after it may continue
            // in the next read.
            while (end > p && !is_space(static_cast<unsigned char>(end[-1])))
                --end;
            if (end == p) {
                want = static_cast<size_t>(available) * 2;
                continue;
            }
        }
        const span_result r = parse_region(p, end, out + done, count - done, m, side);
        done += r.values;
        in.advance_to(r.stop);
        if (done < count && (r.bad || (in.at_input_end() && r.stop == e))) return ERR_PREMATURE_EOF;
    }
    return 0;
}

struct grid_line {
    bool grd = false, type = false, wvl = false, ssz = false, nda = false;
    int16_t width = 0, height = 0;
    int16_t surface = 0;
    float wavelength = 0, scale_size = 0;
    int32_t no_data = 0;
};

int32_t read_grid_source(codev::text_source& in, data_header* header, data_array* phase, sw_info* sw) {
    if (!in.ok()) return ERR_NO_MEM;
    char text[512];
    if (!in.read_line(text, sizeof text, true)) return ERR_PREMATURE_EOF;
    int line = 1;
    if (std::strncmp(text, "! VAROGRD", 9) != 0) {
        u_sink("Expected line %d to be \"%s\"\n", 1, "! VAROGRD");
        return ERR_NOT_A_DATA_FILE;
    }
    *header = data_header{};
    *phase = data_array{};
    *sw = sw_info{};
    int shift = -1;
    if (int32_t status = read_header_block(in, header, sw, phase, &shift, &line)) return status;
    const int32_t resolution = phase_resolution(header->phase_res);

    if (!codev::read_title_line(in, *header)) return ERR_CORRUPT_DATA_FILE;
    ++line;
    ++line;
    grid_line g;
    const int32_t status = codev::scan_header_line(in, line, [&](const std::string& word) {
        if (word == "GRD") {
            g.grd = true;
            return codev::scan_i16(in, g.width) && codev::scan_i16(in, g.height) ? word_action::accepted
                                                                                 : word_action::bad_number;
        }
        if (word == "SUR" || word == "WFR") {
            g.type = true;
            g.surface = word == "SUR" ? 1 : 0;
            return word_action::accepted;
        }
        if (word == "WVL") {
            g.wvl = true;
            return codev::scan_float(in, g.wavelength) ? word_action::accepted : word_action::bad_number;
        }
        if (word == "SSZ") {
            g.ssz = true;
            return codev::scan_float(in, g.scale_size) ? word_action::accepted : word_action::bad_number;
        }
        if (word == "NDA") {
            g.nda = true;
            return codev::scan_i32(in, g.no_data) ? word_action::accepted : word_action::bad_number;
        }
        return word_action::not_allowed;
    });
    if (status != 0) return status;
    if (!(g.grd && g.type && g.wvl && g.ssz)) return ERR_CORRUPT_DATA_FILE;

    header->surface = g.surface;
    header->wavelength = static_cast<float>(static_cast<double>(g.wavelength) * 1e-6);
    if (shift > 0)
        header->phase_scale = static_cast<float>(
            resolution / (static_cast<double>(g.scale_size) * static_cast<double>(uint64_t{1} << shift)));
    else
        header->phase_scale = static_cast<float>(resolution) / g.scale_size;
    phase->width = g.width;
    phase->height = g.height;

    if (g.width <= 0 || g.height <= 0) return ERR_PARAM_OUT_OF_RANGE;
    const size_t count = static_cast<size_t>(g.width) * static_cast<size_t>(g.height);
    // Every value takes a character and all but the first a separator as well.
    const int64_t remaining = in.remaining();
    if (remaining >= 0 && static_cast<uint64_t>(remaining) < 2 * uint64_t{count} - 1) return ERR_PREMATURE_EOF;
    if (int32_t alloc_status = da_alloc(phase)) return alloc_status;

    sample_map m;
    m.has_nda = g.nda;
    m.nda = g.no_data;
    m.shift = shift > 0 ? shift : 0;
    // After a failure here the allocated array stays with the caller's descriptor.
    return read_samples(in, phase->data, count, m);
}

// "%7d" for the writer: values are within 16 bits, so every field is seven wide.
char* put_field(char* p, int32_t v) {
    char digits[12];
    int n = 0;
    uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0) digits[n++] = '-';
    for (int pad = 7 - n; pad > 0; --pad)
        *p++ = ' ';
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

bool is_valid(int32_t v) { return v < invalid_phase; }

}  // namespace

int32_t read_grid_file(const char* path, data_header* header, data_array* phase, sw_info* sw) {
    if (!header || !phase || !sw) return ERR_INVALID_PARAM;
    file_ptr file(u_fopen(path, "rb"));
    if (!file) return ERR_CANT_OPEN_FILE;
    codev::text_source in(file.get());
    return read_grid_source(in, header, phase, sw);
}

int32_t read_grid_memory(const char* data, size_t size, data_header* header, data_array* phase, sw_info* sw) {
    if (!header || !phase || !sw || (!data && size != 0)) return ERR_INVALID_PARAM;
    codev::text_source in(data, size);
    return read_grid_source(in, header, phase, sw);
}

namespace {

// The grid text, written as text (CR LF line ends on Windows).
int32_t write_grid_text(platform::file_handle& out, const data_header* header, const data_array* phase,
                        const sw_info* sw) {
    const data_header zero_header{};
    const sw_info zero_sw{};
    const data_header& h = header ? *header : zero_header;
    const sw_info& s = sw ? *sw : zero_sw;

    const size_t count = static_cast<size_t>(phase->width) * static_cast<size_t>(phase->height);
    const int32_t* samples = phase->data;
    bool any = false;
    int32_t low = 0, high = 0;
    for (size_t i = 0; i < count; ++i) {
        const int32_t v = samples[i];
        if (!is_valid(v)) continue;
        if (!any) low = high = v, any = true;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    if (!any) return ERR_ALL_BAD_DATA;

    float scale_size = static_cast<float>(phase_resolution(h.phase_res)) / h.phase_scale;
    int shift = 0;
    while (low < -32767 || high > 32767) {
        low >>= 1;
        high >>= 1;
        scale_size /= 2;
        ++shift;
    }

    std::string text = "! VAROGRD\n";
    codev::append_header_block(text, h, s, shift, phase->width, phase->height);
    codev::append_title_line(text, h, s);
    text += "GRD ";
    codev::append_int(text, phase->width);
    text += ' ';
    codev::append_int(text, phase->height);
    text += h.surface != 0 ? " SUR WVL " : " WFR WVL ";
    codev::append_g(text, h.wavelength * 1e6f);
    text += " SSZ ";
    codev::append_fixed(text, scale_size, 6);
    text += " NDA -32768\n";
    if (!out.write_text(text.data(), text.size())) return ERR_CANT_WRITE_FILE;

    // Ten fields of seven and a newline per line, converted in blocks of lines.
    constexpr size_t lines_per_block = 8192;
    u_buffer<char> block(lines_per_block * 71 + 1);
    if (!block) return ERR_NO_MEM;
    for (size_t i = 0; i < count;) {
        char* p = block.get();
        const size_t block_end = std::min(count, i + lines_per_block * 10);
        for (; i < block_end; ++i) {
            const int32_t v = samples[i];
            p = put_field(p, is_valid(v) ? v >> shift : -32768);
            if (i % 10 == 9) *p++ = '\n';
        }
        if (i == count) *p++ = '\n';
        const auto size = static_cast<size_t>(p - block.get());
        if (!out.write_text(block.get(), size)) return ERR_CANT_WRITE_FILE;
    }
    return 0;
}

}  // namespace

int32_t write_grid_file(const char* path, const data_header* header, const data_array* phase, const sw_info* sw) {
    if (!phase || !phase->data || phase->width < 0 || phase->height < 0 ||
        int64_t{phase->width} * phase->height > phase->capacity)
        return ERR_INVALID_PARAM;
    return u_replace_file(path, [&](platform::file_handle& out) { return write_grid_text(out, header, phase, sw); });
}

}  // namespace mf
