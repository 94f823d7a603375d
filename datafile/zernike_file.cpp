#include "datafile/zernike_file.h"

#include <cstring>
#include <memory>
#include <string>

#include "common/errors.h"
#include "common/files.h"
#include "platform/file_io.h"
#include "common/msg.h"
#include "datafile/codev_block.h"
#include "datafile/codev_scan.h"

namespace mf {

namespace {

using codev::word_action;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, FileCloser>;

int32_t read_zernike_source(codev::text_source& in, data_header* header, zernike_set* zernike, sw_info* sw,
                            data_array* phase) {
    if (!in.ok()) return ERR_NO_MEM;
    char text[512];
    if (!in.read_line(text, sizeof text, true)) return ERR_PREMATURE_EOF;
    int line = 1;
    if (std::strncmp(text, "! VAROZFR", 9) != 0) {
        u_sink("Expected line %d to be \"%s\"\n", 1, "! VAROZFR");
        return ERR_NOT_A_DATA_FILE;
    }
    *header = data_header{};
    *zernike = zernike_set{};
    *sw = sw_info{};
    int shift = -1;
    if (int32_t status = read_header_block(in, header, sw, phase, &shift, &line)) return status;
    if (!codev::read_title_line(in, *header)) return ERR_CORRUPT_DATA_FILE;
    line += 2;

    bool zfr = false, type = false, wvl = false, ssz = false;
    int16_t count = 0;
    float wavelength = 0, scale_size = 0;
    const int32_t status = codev::scan_header_line(in, line, [&](const std::string& word) {
        if (word == "ZFR") {
            zfr = true;
            if (!codev::scan_i16(in, count)) return word_action::bad_number;
            return zernike_count_allowed(count) ? word_action::accepted : word_action::bad_value;
        }
        if (word == "SUR" || word == "WFR") {
            type = true;
            header->surface = word == "SUR" ? 1 : 0;
            return word_action::accepted;
        }
        if (word == "WVL") {
            wvl = true;
            return codev::scan_float(in, wavelength) ? word_action::accepted : word_action::bad_number;
        }
        if (word == "SSZ") {
            ssz = true;
            return codev::scan_float(in, scale_size) ? word_action::accepted : word_action::bad_number;
        }
        // NDA means nothing to a fit; its value then stands as a word of its own.
        if (word == "NDA") return word_action::accepted;
        return word_action::not_allowed;
    });
    header->phase_res = 0;
    if (status != 0) return status;
    if (!(zfr && type && wvl && ssz)) return ERR_CORRUPT_DATA_FILE;
    header->wavelength = static_cast<float>(static_cast<double>(wavelength) * 1e-6);
    header->phase_scale = 4096.0f / scale_size;
    zernike->count = count;
    for (int i = 0; i < count; ++i)
        if (!codev::scan_float(in, zernike->coefficients[i])) return ERR_PREMATURE_EOF;
    return 0;
}

}  // namespace

int32_t read_zernike_file(const char* path, data_header* header, zernike_set* zernike, sw_info* sw, data_array* phase) {
    if (!header || !zernike || !sw) return ERR_INVALID_PARAM;
    file_ptr file(u_fopen(path, "rb"));
    if (!file) return ERR_CANT_OPEN_FILE;
    codev::text_source in(file.get(), size_t{1} << 16);
    return read_zernike_source(in, header, zernike, sw, phase);
}

int32_t read_zernike_memory(const char* data, size_t size, data_header* header, zernike_set* zernike, sw_info* sw,
                            data_array* phase) {
    if (!header || !zernike || !sw || (!data && size != 0)) return ERR_INVALID_PARAM;
    codev::text_source in(data, size);
    return read_zernike_source(in, header, zernike, sw, phase);
}

namespace {

// The Zernike text, written as text (CR LF line ends on Windows).
int32_t write_zernike_text(platform::file_handle& out, const data_header* header, const zernike_set* zernike,
                           const sw_info* sw, const data_array* phase) {
    if (!zernike_count_allowed(zernike->count)) return ERR_INVALID_PARAM;
    const data_header zero_header{};
    const sw_info zero_sw{};
    const data_header& h = header ? *header : zero_header;
    const sw_info& s = sw ? *sw : zero_sw;

    std::string text = "! VAROZFR\n";
    codev::append_header_block(text, h, s, 0, phase ? phase->width : int16_t{0}, phase ? phase->height : int16_t{0});
    codev::append_title_line(text, h, s);
    text += "ZFR ";
    codev::append_int(text, zernike->count);
    text += h.surface != 0 ? " SUR WVL " : " WFR WVL ";
    codev::append_g(text, h.wavelength * 1e6f);
    text += " SSZ ";
    codev::append_fixed(text, static_cast<float>(phase_resolution(h.phase_res)) / h.phase_scale, 6);
    text += '\n';
    for (int i = 0; i < zernike->count; ++i) {
        codev::append_fixed(text, zernike->coefficients[i], 4, 12);
        text += ' ';
        if (i % 6 == 5) text += '\n';
    }
    text += '\n';
    return out.write_text(text.data(), text.size()) ? 0 : ERR_CANT_WRITE_FILE;
}

}  // namespace

int32_t write_zernike_file(const char* path, const data_header* header, const zernike_set* zernike, const sw_info* sw,
                           const data_array* phase) {
    if (!zernike) return ERR_INVALID_PARAM;
    return u_replace_file(
        path, [&](platform::file_handle& out) { return write_zernike_text(out, header, zernike, sw, phase); });
}

}  // namespace mf
