#include "datafile/data_file.h"
#include "datafile/data_reader.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>

#include "common/alloc.h"
#include "common/bytes.h"
#include "common/errors.h"
#include "common/files.h"
#include "platform/file_io.h"
#include "platform/files.h"

namespace mf {

namespace {

enum class FieldKind { NUM, LE32, TEXT, BYTES };

struct FieldLayout {
    FieldKind kind;
    size_t offset;  // in the record
    size_t width;   // of one element
    size_t count;
};

#define MF_FIELD_SCALAR(kind, type, name) {FieldKind::kind, offsetof(data_header, name), sizeof(type), 1},
#define MF_FIELD_ARRAY(kind, type, name, count) {FieldKind::kind, offsetof(data_header, name), sizeof(type), count},
constexpr FieldLayout header_fields[] = {MF_DATA_HEADER_FIELDS(MF_FIELD_SCALAR, MF_FIELD_ARRAY)};
#undef MF_FIELD_SCALAR
#undef MF_FIELD_ARRAY

using HeaderImage = std::array<unsigned char, long_header_size>;

// Converts the record part of an image between the machine's order and the file's.
// The conversion is its own inverse field by field, so one routine serves both ways.
void convert_record_fields(unsigned char* record, bool to_file) {
    for (const FieldLayout& f : header_fields) {
        unsigned char* p = record + f.offset;
        for (size_t i = 0; i < f.count; ++i, p += f.width) {
            if (f.kind == FieldKind::NUM && f.width == 2) {
                uint16_t v;
                if (to_file) {
                    std::memcpy(&v, p, 2);
                    store_be16(p, v);
                } else {
                    v = load_be16(p);
                    std::memcpy(p, &v, 2);
                }
            } else if ((f.kind == FieldKind::NUM || f.kind == FieldKind::LE32) && f.width == 4) {
                const bool big = f.kind == FieldKind::NUM;
                uint32_t v;
                if (to_file) {
                    std::memcpy(&v, p, 4);
                    big ? store_be32(p, v) : store_le32(p, v);
                } else {
                    v = big ? load_be32(p) : load_le32(p);
                    std::memcpy(p, &v, 4);
                }
            }
        }
    }
}

bool has_data(const intensity_array* a) { return a && a->data; }
bool has_data(const data_array* a) { return a && a->data; }

int64_t sample_count(const intensity_array& a) { return int64_t{a.width} * a.height * a.frames; }
int64_t sample_count(const data_array& a) { return int64_t{a.width} * a.height; }

// A descriptor whose shape is negative or exceeds its storage cannot be written.
template <typename Array>
bool shape_fits(const Array& a) {
    return a.width >= 0 && a.height >= 0 && sample_count(a) >= 0 && sample_count(a) <= a.capacity;
}

// A shape whose byte count the header's 32-bit field holds.
bool shape_fits_header(const data_array& a) {
    return a.width >= 0 && a.height >= 0 && sample_count(a) * 4 <= int64_t{UINT32_MAX};
}

void build_image(HeaderImage& image, int format, const sw_info* sw, const data_header* header,
                 const intensity_array* intensity, const data_array* phase) {
    static constexpr uint32_t magic[] = {0, data_file_magic1, data_file_magic2, data_file_magic3};
    unsigned char* p = image.data();
    store_be32(p + 0, magic[format]);
    store_be16(p + 4, static_cast<uint16_t>(format));
    store_be32(p + 6, format == 3 ? long_header_size : short_header_size);
    if (sw) {
        store_be16(p + 10, static_cast<uint16_t>(sw->type));
        std::memcpy(p + 12, sw->name, sizeof sw->name);
        store_be16(p + 42, static_cast<uint16_t>(sw->number1));
        store_be16(p + 44, static_cast<uint16_t>(sw->number2));
        store_be16(p + 46, static_cast<uint16_t>(sw->number3));
    }
    if (intensity) {
        store_be16(p + 48, static_cast<uint16_t>(intensity->origin_x));
        store_be16(p + 50, static_cast<uint16_t>(intensity->origin_y));
        store_be16(p + 52, static_cast<uint16_t>(intensity->width));
        store_be16(p + 54, static_cast<uint16_t>(intensity->height));
        store_be16(p + 56, static_cast<uint16_t>(intensity->frames));
        store_be16(p + 58, static_cast<uint16_t>(intensity->aux));
        store_be32(p + 60, static_cast<uint32_t>(sample_count(*intensity) * 2));
    }
    if (phase) {
        store_be16(p + 64, static_cast<uint16_t>(phase->origin_x));
        store_be16(p + 66, static_cast<uint16_t>(phase->origin_y));
        store_be16(p + 68, static_cast<uint16_t>(phase->width));
        store_be16(p + 70, static_cast<uint16_t>(phase->height));
        store_be32(p + 72, static_cast<uint32_t>(sample_count(*phase) * 4));
    }
    if (header) {
        std::memcpy(p + data_header_file_offset, header, sizeof *header);
        convert_record_fields(p + data_header_file_offset, true);
    }
}

// Where the writer's bytes go: a stdio stream, or a file being replaced.
using byte_sink = std::function<bool(const void* data, size_t size)>;

// Streams samples big-endian through one buffer of chunk samples. The intensity
// block goes 32768 samples (64 KiB) at a time; the phase block 65536 samples
// (256 KiB) at a time, so converting a large map needs no second copy of it and
// the buffer stays in the cache while the system copies it out.
template <typename Sample>
int32_t write_samples_be(const byte_sink& write_all, const Sample* data, size_t total, size_t chunk) {
    if (total == 0) return 0;
    u_buffer<unsigned char> buffer(std::min(chunk, total) * sizeof(Sample));
    if (!buffer) return ERR_NO_MEM;
    for (size_t done = 0; done < total;) {
        const size_t n = std::min(chunk, total - done);
        unsigned char* out = buffer.get();
        for (size_t i = 0; i < n; ++i, out += sizeof(Sample)) {
            if constexpr (sizeof(Sample) == 2)
                store_be16(out, static_cast<uint16_t>(data[done + i]));
            else
                store_be32(out, static_cast<uint32_t>(data[done + i]));
        }
        if (!write_all(buffer.get(), n * sizeof(Sample))) return ERR_CANT_WRITE_FILE;
        done += n;
    }
    return 0;
}

constexpr size_t intensity_chunk = 32768;
constexpr size_t phase_chunk = 65536;

}  // namespace

int data_file_format(const data_header* header) {
    if (!header) return 1;
    const auto* bytes = reinterpret_cast<const unsigned char*>(header);
    for (size_t i = format3_first_offset - data_header_file_offset; i < sizeof *header; ++i)
        if (bytes[i] != 0) return 3;
    return header->phase_res >= 2 ? 2 : 1;
}

namespace {

// The header alone, for arrays whose samples follow.
int32_t write_header_image(const byte_sink& write_all, const sw_info* sw, const data_header* header,
                           const intensity_array* intensity, const data_array* phase) {
    const int format = data_file_format(header);
    auto image = std::make_unique<HeaderImage>();
    image->fill(0);
    build_image(*image, format, sw, header, intensity, phase);
    const size_t header_size = format == 3 ? long_header_size : short_header_size;
    return write_all(image->data(), header_size) ? 0 : ERR_CANT_WRITE_FILE;
}

// Header and sample blocks, big-endian, to wherever sink sends them.
int32_t write_data_image(const byte_sink& write_all, const sw_info* sw, const data_header* header,
                         const intensity_array* intensity, const data_array* phase) {
    if (int32_t status = write_header_image(write_all, sw, header, intensity, phase)) return status;
    if (intensity)
        if (int32_t status = write_samples_be(write_all, intensity->data, static_cast<size_t>(sample_count(*intensity)),
                                              intensity_chunk))
            return status;
    if (phase)
        if (int32_t status =
                write_samples_be(write_all, phase->data, static_cast<size_t>(sample_count(*phase)), phase_chunk))
            return status;
    return 0;
}

// Keeps only arrays with data; ERR_INVALID_PARAM when none is left or a shape
// does not fit the header's fields.
int32_t check_arrays(const intensity_array*& intensity, const data_array*& phase) {
    if (!has_data(intensity)) intensity = nullptr;
    if (!has_data(phase)) phase = nullptr;
    if (!intensity && !phase) return ERR_INVALID_PARAM;
    if ((intensity && !shape_fits(*intensity)) || (phase && !shape_fits(*phase))) return ERR_INVALID_PARAM;
    return 0;
}

}  // namespace

int32_t write_data_stream(std::FILE* stream, const sw_info* sw, const data_header* header,
                          const intensity_array* intensity, const data_array* phase) {
    if (int32_t status = check_arrays(intensity, phase)) return status;
    if (!stream) return ERR_CANT_WRITE_FILE;
    if (std::fseek(stream, 0, SEEK_END) != 0) return ERR_CANT_WRITE_FILE;
    return write_data_image(
        [stream](const void* data, size_t size) { return std::fwrite(data, 1, size, stream) == size; }, sw, header,
        intensity, phase);
}

// The file's contents are replaced as a whole (see platform/file_io.h), so a
// failure part way leaves an existing file as it was rather than cut short.
int32_t write_data_file(const char* path, const sw_info* sw, const data_header* header,
                        const intensity_array* intensity, const data_array* phase) {
    // The arrays are checked once the output is open, as the codes of a
    // failure have always been ordered; a refused write leaves no file behind.
    return u_replace_file(path, [&](platform::file_handle& out) {
        if (int32_t status = check_arrays(intensity, phase)) return status;
        return write_data_image([&out](const void* data, size_t size) { return out.write(data, size); }, sw, header,
                                intensity, phase);
    });
}

int32_t write_phase_file_header(platform::file_handle& out, const sw_info* sw, const data_header* header,
                                const data_array& shape) {
    if (!shape_fits_header(shape)) return ERR_INVALID_PARAM;
    return write_header_image([&out](const void* data, size_t size) { return out.write(data, size); }, sw, header,
                              nullptr, &shape);
}

void data_header_from_file(const unsigned char* record_bytes, data_header* header) {
    std::memcpy(header, record_bytes, sizeof *header);
    convert_record_fields(reinterpret_cast<unsigned char*>(header), false);
}

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

int32_t read_exact(std::FILE* f, void* data, size_t size) {
    return std::fread(data, 1, size, f) == size ? 0 : ERR_PREMATURE_EOF;
}

// A block's byte count agrees with its shape: no negative extent, and exactly
// the samples the shape holds (none for an empty shape, so that a descriptor is
// never handed out with a shape and no samples).
bool block_fits(int64_t count, bool extents_ok, uint64_t bytes, int sample_size) {
    return extents_ok && count >= 0 && bytes == static_cast<uint64_t>(count) * static_cast<uint64_t>(sample_size);
}

// Fixed-width texts of a damaged file may fill their field: the last byte is
// always the terminating zero.
void terminate_texts(data_header* h) {
#define MF_TERMINATE_SCALAR(kind, type, name)
#define MF_TERMINATE_ARRAY(kind, type, name, count) \
    if constexpr (std::string_view(#kind) == "TEXT") h->name[(count)-1] = '\0';
    MF_DATA_HEADER_FIELDS(MF_TERMINATE_SCALAR, MF_TERMINATE_ARRAY)
#undef MF_TERMINATE_SCALAR
#undef MF_TERMINATE_ARRAY
}

}  // namespace

int32_t read_data_file_header(std::FILE* file, unsigned char* image, int* format, int32_t* header_size) {
    if (std::fread(image, 1, 10, file) != 10) return ERR_NOT_A_DATA_FILE;
    const uint32_t magic = load_be32(image);
    *format = static_cast<int16_t>(load_be16(image + 4));
    *header_size = static_cast<int32_t>(load_be32(image + 6));
    if (magic != data_file_magic1 && magic != data_file_magic2 && magic != data_file_magic3) return ERR_NOT_A_DATA_FILE;
    const int expected_format = magic == data_file_magic1 ? 1 : magic == data_file_magic2 ? 2 : 3;
    if (*format != expected_format ||
        *header_size != static_cast<int32_t>(*format == 3 ? long_header_size : short_header_size))
        return ERR_CORRUPT_DATA_FILE;
    return read_exact(file, image + 10, static_cast<size_t>(*header_size - 10));
}

int32_t read_data_file(const char* path, sw_info* sw, data_header* header, intensity_array* intensity,
                       data_array* phase) {
    std::unique_ptr<std::FILE, FileCloser> file(u_fopen(path, "rb"));
    if (!file) return ERR_CANT_OPEN_FILE;
    auto image = std::make_unique<HeaderImage>();
    image->fill(0);
    unsigned char* p = image->data();
    int format = 0;
    int32_t header_size = 0;
    if (int32_t status = read_data_file_header(file.get(), p, &format, &header_size)) return status;

    intensity_array in{};
    in.origin_x = static_cast<int16_t>(load_be16(p + 48));
    in.origin_y = static_cast<int16_t>(load_be16(p + 50));
    in.width = static_cast<int16_t>(load_be16(p + 52));
    in.height = static_cast<int16_t>(load_be16(p + 54));
    in.frames = static_cast<int16_t>(load_be16(p + 56));
    in.aux = static_cast<int16_t>(load_be16(p + 58));
    const uint64_t intensity_bytes = load_be32(p + 60);
    data_array ph{};
    ph.origin_x = static_cast<int16_t>(load_be16(p + 64));
    ph.origin_y = static_cast<int16_t>(load_be16(p + 66));
    ph.width = static_cast<int16_t>(load_be16(p + 68));
    ph.height = static_cast<int16_t>(load_be16(p + 70));
    const uint64_t phase_bytes = load_be32(p + 72);

    const bool intensity_ok =
        block_fits(sample_count(in), in.width >= 0 && in.height >= 0 && in.frames >= 0, intensity_bytes, 2);
    const bool phase_ok = block_fits(sample_count(ph), ph.width >= 0 && ph.height >= 0, phase_bytes, 4);
    if (!intensity_ok || !phase_ok) return ERR_CORRUPT_DATA_FILE;
    const int64_t size = platform::stream_size(file.get());
    if (size < header_size || static_cast<uint64_t>(size - header_size) < intensity_bytes + phase_bytes)
        return ERR_PREMATURE_EOF;

    if (intensity_bytes > 0) {
        if (int32_t status = da_alloc(&in)) return status;
        std::unique_ptr<int16_t, void (*)(int16_t*)> guard(in.data, [](int16_t* d) { u_free(d); });
        const size_t n = static_cast<size_t>(sample_count(in));
        if (int32_t status = read_exact(file.get(), in.data, n * 2)) return status;
        for (size_t i = 0; i < n; ++i)
            in.data[i] = static_cast<int16_t>(load_be16(reinterpret_cast<unsigned char*>(in.data + i)));
        guard.release();
    }
    if (phase_bytes > 0) {
        if (int32_t status = da_alloc(&ph)) {
            da_release(&in);
            return status;
        }
        const size_t n = static_cast<size_t>(sample_count(ph));
        if (int32_t status = read_exact(file.get(), ph.data, n * 4)) {
            da_release(&in);
            da_release(&ph);
            return status;
        }
        for (size_t i = 0; i < n; ++i)
            ph.data[i] = static_cast<int32_t>(load_be32(reinterpret_cast<unsigned char*>(ph.data + i)));
    }

    if (sw) {
        sw->type = static_cast<int16_t>(load_be16(p + 10));
        std::memcpy(sw->name, p + 12, sizeof sw->name);
        sw->name[sizeof sw->name - 1] = '\0';
        sw->number1 = static_cast<int16_t>(load_be16(p + 42));
        sw->number2 = static_cast<int16_t>(load_be16(p + 44));
        sw->number3 = static_cast<int16_t>(load_be16(p + 46));
    }
    if (header) {
        convert_record_fields(p + data_header_file_offset, false);
        std::memcpy(header, p + data_header_file_offset, sizeof *header);
        terminate_texts(header);
    }
    if (intensity)
        *intensity = in;
    else
        da_release(&in);
    if (phase)
        *phase = ph;
    else
        da_release(&ph);
    return 0;
}

}  // namespace mf
