#include "datafile/grid_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "common/alloc.h"
#include "common/errors.h"
#include "common/files.h"
#include "platform/file_io.h"
#include "common/msg.h"
#include "datafile/codev_block.h"
#include "datafile/codev_scan.h"
#include "datafile/grid_input.h"

namespace mf {

namespace {

using codev::word_action;

struct grid_line {
    bool grd = false, type = false, wvl = false, ssz = false, nda = false;
    int16_t width = 0, height = 0;
    int16_t surface = 0;
    float wavelength = 0, scale_size = 0;
    int32_t no_data = 0;
};

}  // namespace

int32_t read_grid_preamble(codev::text_source& in, data_header* header, data_array* phase, sw_info* sw, size_t* count,
                           grid::sample_map* map) {
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
    *count = static_cast<size_t>(g.width) * static_cast<size_t>(g.height);
    // Every value takes a character and all but the first a separator as well.
    const int64_t remaining = in.remaining();
    if (remaining >= 0 && static_cast<uint64_t>(remaining) < 2 * uint64_t{*count} - 1) return ERR_PREMATURE_EOF;
    *map = grid::sample_map{g.nda, g.no_data, shift > 0 ? shift : 0, false};
    return 0;
}

grid_input::~grid_input() {
    if (file_) std::fclose(file_);
}

int32_t grid_input::open(const char* path) {
    const auto wide = u_wide_path(path);
    if (wide ? map_.open(*wide) : map_.open(std::string(path))) {
        base_ = map_.data();
        size_ = map_.size();
        text_.emplace(base_, size_);
        return 0;
    }
    file_ = u_fopen(path, "rb");
    if (!file_) return ERR_CANT_OPEN_FILE;
    text_.emplace(file_);
    return 0;
}

int32_t grid_input::scan(size_t count, const grid::sample_map& m, const grid::sample_sink& sink) {
    if (!in_memory()) return grid::scan_samples(*text_, count, m, sink);
    const int32_t status = grid::scan_samples(text_->cursor(), base_ + size_, count, m, sink);
    // A file shortened while it was read ended early, whatever the scan made of
    // the NUL bytes in place of its lost end.
    return status == 0 && map_.cut_short() ? ERR_PREMATURE_EOF : status;
}

namespace {

// After a failure in the samples the allocated array stays with the caller's
// descriptor.
int32_t read_grid_samples(grid_input& in, data_header* header, data_array* phase, sw_info* sw) {
    size_t count = 0;
    grid::sample_map m;
    if (int32_t status = read_grid_preamble(in.text(), header, phase, sw, &count, &m)) return status;
    if (int32_t alloc_status = da_alloc(phase)) return alloc_status;
    int32_t* out = phase->data;
    return in.scan(count, m, [&out](const int32_t* samples, size_t n) {
        std::memcpy(out, samples, n * sizeof(int32_t));
        out += n;
    });
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
    grid_input in;
    if (int32_t status = in.open(path)) return status;
    return read_grid_samples(in, header, phase, sw);
}

int32_t read_grid_memory(const char* data, size_t size, data_header* header, data_array* phase, sw_info* sw) {
    if (!header || !phase || !sw || (!data && size != 0)) return ERR_INVALID_PARAM;
    grid_input in(data, size);
    return read_grid_samples(in, header, phase, sw);
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
