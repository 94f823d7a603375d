#include "datafile/data_reader.h"

#include <array>
#include <cstring>

#include "common/bytes.h"
#include "common/errors.h"
#include "common/files.h"
#include "datafile/data_file.h"

namespace mf {

void data_file_reader::file_closer::operator()(std::FILE* f) const { std::fclose(f); }

data_file_reader::data_file_reader() = default;
data_file_reader::~data_file_reader() = default;

namespace {

// stdio offsets are a long, which is 32 bits on Windows: larger moves go in steps.
constexpr int64_t seek_step = int64_t{1} << 30;

bool seek_forward(std::FILE* f, int64_t bytes) {
    while (bytes > 0) {
        const int64_t step = bytes < seek_step ? bytes : seek_step;
        if (std::fseek(f, static_cast<long>(step), SEEK_CUR) != 0) return false;
        bytes -= step;
    }
    return true;
}

int64_t sample_count(const intensity_array& a) { return int64_t{a.width} * a.height * a.frames; }
int64_t sample_count(const data_array& a) { return int64_t{a.width} * a.height; }

}  // namespace

int32_t data_file_reader::open(const char* path) {
    file_.reset();
    layout_ = {};
    current_ = block::none;
    rows_left_ = 0;
    std::unique_ptr<std::FILE, file_closer> file(u_fopen(path, "rb"));
    if (!file) return ERR_CANT_OPEN_FILE;

    std::array<unsigned char, long_header_size> image{};
    unsigned char* p = image.data();
    int format = 0;
    int32_t header_size = 0;
    if (int32_t status = read_data_file_header(file.get(), p, &format, &header_size)) return status;

    data_file_layout l;
    l.format = format;
    l.header_size = header_size;
    l.sw.type = static_cast<int16_t>(load_be16(p + 10));
    std::memcpy(l.sw.name, p + 12, sizeof l.sw.name);
    l.sw.number1 = static_cast<int16_t>(load_be16(p + 42));
    l.sw.number2 = static_cast<int16_t>(load_be16(p + 44));
    l.sw.number3 = static_cast<int16_t>(load_be16(p + 46));
    intensity_array& in = l.intensity;
    in.origin_x = static_cast<int16_t>(load_be16(p + 48));
    in.origin_y = static_cast<int16_t>(load_be16(p + 50));
    in.width = static_cast<int16_t>(load_be16(p + 52));
    in.height = static_cast<int16_t>(load_be16(p + 54));
    in.frames = static_cast<int16_t>(load_be16(p + 56));
    in.aux = static_cast<int16_t>(load_be16(p + 58));
    // Byte counts are unsigned: a block of 2 GiB or more is a sound block.
    l.intensity_bytes = load_be32(p + 60);
    data_array& ph = l.phase;
    ph.origin_x = static_cast<int16_t>(load_be16(p + 64));
    ph.origin_y = static_cast<int16_t>(load_be16(p + 66));
    ph.width = static_cast<int16_t>(load_be16(p + 68));
    ph.height = static_cast<int16_t>(load_be16(p + 70));
    l.phase_bytes = load_be32(p + 72);
    data_header_from_file(p + data_header_file_offset, &l.header);

    // A block without bytes must not claim a shape either: rows would be read
    // from the wrong place.
    const bool intensity_ok = l.intensity_bytes == 0 ? in.width == 0 && in.height == 0
                                                     : in.width > 0 && in.height > 0 && in.frames > 0 &&
                                                           l.intensity_bytes == sample_count(in) * 2;
    const bool phase_ok = l.phase_bytes == 0 ? ph.width == 0 && ph.height == 0
                                             : ph.width > 0 && ph.height > 0 && l.phase_bytes == sample_count(ph) * 4;
    if (!intensity_ok || !phase_ok) return ERR_CORRUPT_DATA_FILE;

    // The file must hold both blocks: its last byte is read to be sure.
    const int64_t data_bytes = l.intensity_bytes + l.phase_bytes;
    if (data_bytes > 0) {
        unsigned char last;
        if (!seek_forward(file.get(), data_bytes - 1) || std::fread(&last, 1, 1, file.get()) != 1)
            return ERR_PREMATURE_EOF;
    }
    file_ = std::move(file);
    layout_ = l;
    return 0;
}

int32_t data_file_reader::seek_to(int64_t offset) {
    if (!file_) return ERR_INVALID_PARAM;
    current_ = block::none;
    if (std::fseek(file_.get(), 0, SEEK_SET) != 0 || !seek_forward(file_.get(), offset)) return ERR_PREMATURE_EOF;
    return 0;
}

int32_t data_file_reader::seek_intensity(int frame) {
    const intensity_array& in = layout_.intensity;
    if (layout_.intensity_bytes == 0 || frame < 0 || frame >= in.frames) return ERR_INVALID_PARAM;
    const int64_t frame_bytes = int64_t{in.width} * in.height * 2;
    if (int32_t status = seek_to(layout_.header_size + frame * frame_bytes)) return status;
    current_ = block::intensity;
    rows_left_ = in.height;
    return 0;
}

int32_t data_file_reader::seek_phase() {
    if (layout_.phase_bytes == 0) return ERR_INVALID_PARAM;
    if (int32_t status = seek_to(layout_.header_size + layout_.intensity_bytes)) return status;
    current_ = block::phase;
    rows_left_ = layout_.phase.height;
    return 0;
}

int32_t data_file_reader::read_rows(block kind, void* out, int rows, size_t sample_size) {
    if (current_ != kind || rows < 0 || rows > rows_left_) return ERR_INVALID_PARAM;
    const int width = kind == block::phase ? layout_.phase.width : layout_.intensity.width;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(rows) * sample_size;
    if (std::fread(out, 1, bytes, file_.get()) != bytes) return ERR_PREMATURE_EOF;
    rows_left_ -= rows;
    return 0;
}

int32_t data_file_reader::read_intensity_rows(int16_t* out, int rows) {
    if (int32_t status = read_rows(block::intensity, out, rows, 2)) return status;
    const size_t n = static_cast<size_t>(layout_.intensity.width) * static_cast<size_t>(rows);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<int16_t>(load_be16(reinterpret_cast<const unsigned char*>(out + i)));
    return 0;
}

int32_t data_file_reader::read_phase_rows(int32_t* out, int rows) {
    if (int32_t status = read_rows(block::phase, out, rows, 4)) return status;
    const size_t n = static_cast<size_t>(layout_.phase.width) * static_cast<size_t>(rows);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<int32_t>(load_be32(reinterpret_cast<const unsigned char*>(out + i)));
    return 0;
}

}  // namespace mf
