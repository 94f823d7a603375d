#include "ramp/ramp_file.h"

#include <cstring>
#include <functional>
#include <memory>

#include "common/alloc.h"
#include "common/bytes.h"
#include "common/errors.h"
#include "common/files.h"
#include "platform/file_io.h"

namespace mf {

const char* const rr_ramp_type_names[rr_ramp_type_count] = {
    "SWLI", "PMI", "PMI", "PMI", "PMI", "PMI", "?", "?",   "?", "?",
    "?",    "PMI", "PMI", "PMI", "PMI", "PMI", "?", "BTW", "?", "FR",
};

const char* rr_ramp_type_name(int32_t type) {
    return type >= 0 && type < rr_ramp_type_count ? rr_ramp_type_names[type] : "?";
}

namespace {

constexpr std::size_t le_part = rr_ramp_hdr_be_words * 4;

// Every field of the header is a 4-byte int32 or float, so the record's object
// bytes are a sequence of host-order words.
uint32_t word_at(const rr_ramp_hdr_t& hdr, std::size_t offset) {
    uint32_t w;
    std::memcpy(&w, reinterpret_cast<const unsigned char*>(&hdr) + offset, 4);
    return w;
}

void set_word_at(rr_ramp_hdr_t* hdr, std::size_t offset, uint32_t w) {
    std::memcpy(reinterpret_cast<unsigned char*>(hdr) + offset, &w, 4);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct PointsFree {
    void operator()(uint16_t* p) const { u_free(p); }
};

bool read_exact(std::FILE* f, void* data, std::size_t size) { return std::fread(data, 1, size, f) == size; }

// Bytes between the current position and the end, or -1 when the stream cannot tell.
int64_t remaining_bytes(std::FILE* f) {
    const long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(f);
    if (std::fseek(f, here, SEEK_SET) != 0) return -1;
    return end < here ? -1 : int64_t{end} - here;
}

}  // namespace

void rr_encode_ramp_hdr(const rr_ramp_hdr_t& hdr, unsigned char image[rr_ramp_hdr_size]) {
    for (std::size_t off = 0; off < le_part; off += 4)
        store_be32(image + off, word_at(hdr, off));
    store_le32(image + 168, word_at(hdr, offsetof(rr_ramp_hdr_t, fringesPerFrame)));
    store_le32(image + 172, word_at(hdr, offsetof(rr_ramp_hdr_t, objMag)));
    store_le32(image + 176, word_at(hdr, offsetof(rr_ramp_hdr_t, wavelenSelect)));
    for (std::size_t off = 180; off < 196; off += 4)
        store_le32(image + off, word_at(hdr, off));
    std::memcpy(image + 196, hdr.spare, sizeof hdr.spare);
}

void rr_decode_ramp_hdr(const unsigned char image[rr_ramp_hdr_size], rr_ramp_hdr_t* hdr) {
    for (std::size_t off = 0; off < le_part; off += 4)
        set_word_at(hdr, off, load_be32(image + off));
    for (std::size_t off = le_part; off < 196; off += 4)
        set_word_at(hdr, off, load_le32(image + off));
    std::memcpy(hdr->spare, image + 196, sizeof hdr->spare);
}

int32_t rr_read_ramp_stream(std::FILE* stream, rr_ramp_hdr_t* hdr, uint16_t** points) {
    if (!hdr) return ERR_INVALID_PARAM;
    std::memset(hdr, 0, sizeof *hdr);
    if (points && *points) {
        u_free(*points);
        *points = nullptr;
    }
    if (!stream) return ERR_CANT_OPEN_FILE;

    unsigned char image[rr_ramp_hdr_size];
    const long start = std::ftell(stream);
    if (!read_exact(stream, image, 4)) return ERR_PREMATURE_EOF;
    if (static_cast<int32_t>(load_be32(image)) != rr_ramp_magic) return ERR_NOT_A_RAMP_FILE;
    if (start < 0 || std::fseek(stream, start, SEEK_SET) != 0) return ERR_PREMATURE_EOF;
    if (!read_exact(stream, image, rr_ramp_hdr_size)) return ERR_PREMATURE_EOF;
    rr_decode_ramp_hdr(image, hdr);

    if (hdr->nPoints < 0) return ERR_CORRUPT_RAMP_FILE;
    if (hdr->nPoints == 0 || !points) return 0;

    const int64_t available = remaining_bytes(stream);
    const std::size_t count = static_cast<std::size_t>(hdr->nPoints);
    if (available < 0 || static_cast<uint64_t>(available) / 2 < count) return ERR_CORRUPT_RAMP_FILE;
    std::unique_ptr<uint16_t, PointsFree> buffer(static_cast<uint16_t*>(u_malloc(count * 2)));
    if (!buffer) return ERR_NO_MEM;
    if (!read_exact(stream, buffer.get(), count * 2)) return ERR_CORRUPT_RAMP_FILE;
    uint16_t* p = buffer.get();
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char b[2];
        std::memcpy(b, p + i, 2);
        p[i] = load_be16(b);
    }
    *points = buffer.release();
    return 0;
}

int32_t rr_read_ramp_file(const char* path, rr_ramp_hdr_t* hdr, uint16_t** points) {
    if (!hdr) return ERR_INVALID_PARAM;
    std::memset(hdr, 0, sizeof *hdr);
    if (points && *points) {
        u_free(*points);
        *points = nullptr;
    }
    std::unique_ptr<std::FILE, FileCloser> file(path ? u_fopen(path, "rb") : nullptr);
    if (!file) return ERR_CANT_OPEN_FILE;
    return rr_read_ramp_stream(file.get(), hdr, points);
}

namespace {

// The header image, then the points big-endian, to wherever write sends them.
int32_t write_ramp_image(const std::function<bool(const void*, size_t)>& write, const rr_ramp_hdr_t* hdr,
                         const uint16_t* points) {
    rr_ramp_hdr_t copy = *hdr;
    copy.magicNumber = rr_ramp_magic;
    unsigned char image[rr_ramp_hdr_size];
    rr_encode_ramp_hdr(copy, image);
    if (!write(image, sizeof image)) return ERR_CANT_WRITE_FILE;

    const std::size_t count = static_cast<std::size_t>(hdr->nPoints);
    if (count == 0) return 0;
    u_buffer<unsigned char> bytes(count * 2);
    if (!bytes) return ERR_NO_MEM;
    for (std::size_t i = 0; i < count; ++i)
        store_be16(bytes.get() + 2 * i, points[i]);
    return write(bytes.get(), count * 2) ? 0 : ERR_CANT_WRITE_FILE;
}

}  // namespace

int32_t rr_write_ramp_stream(std::FILE* stream, const rr_ramp_hdr_t* hdr, const uint16_t* points) {
    if (!hdr || !points || hdr->nPoints < 0) return ERR_INVALID_PARAM;
    if (!stream) return ERR_CANT_WRITE_FILE;
    return write_ramp_image(
        [stream](const void* data, size_t size) { return std::fwrite(data, 1, size, stream) == size; }, hdr, points);
}

// The file's contents are replaced as a whole: a failure leaves an existing
// ramp file as it was.
int32_t rr_write_ramp_file(const char* path, const rr_ramp_hdr_t* hdr, const uint16_t* points) {
    if (!hdr || !points || hdr->nPoints < 0) return ERR_INVALID_PARAM;
    return u_replace_file(path, [&](platform::file_handle& out) {
        return write_ramp_image([&out](const void* data, size_t size) { return out.write(data, size); }, hdr, points);
    });
}

}  // namespace mf
