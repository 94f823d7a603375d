#include <spng.h>

#include <functional>
#include <memory>
#include <vector>

#include "common/errors.h"
#include "common/files.h"
#include "platform/file_io.h"
#include "tool/colour_map.h"
#include "tool/info_image.h"

namespace mf::info {

bool png_available() { return true; }

namespace {

struct ctx_free {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

int write_to_handle(spng_ctx*, void* user, void* data, size_t size) {
    return static_cast<platform::file_handle*>(user)->write(data, size) ? 0 : SPNG_IO_ERROR;
}

// Fills the next row of pixels; returns 0 or the reader's code.
using row_source = std::function<int32_t(uint8_t* row)>;

// Encodes row by row straight into the file being replaced, so neither the map
// nor the picture is ever whole in memory.
int32_t write_png(const char* path, int width, int height, bool colour, const row_source& next_row) {
    const size_t row_bytes = static_cast<size_t>(width) * (colour ? 3 : 1);
    std::vector<uint8_t> row(row_bytes);
    return u_replace_file(path, [&](platform::file_handle& out) -> int32_t {
        std::unique_ptr<spng_ctx, ctx_free> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
        if (!ctx) return ERR_NO_MEM;
        spng_ihdr ihdr{};
        ihdr.width = static_cast<uint32_t>(width);
        ihdr.height = static_cast<uint32_t>(height);
        ihdr.bit_depth = 8;
        ihdr.color_type = colour ? SPNG_COLOR_TYPE_TRUECOLOR : SPNG_COLOR_TYPE_GRAYSCALE;
        // Level 1 and the one "up" filter keep an 8192 x 8192 map to about 3 s: a
        // smooth map differs little from the row above, so it still shrinks well.
        if (spng_set_png_stream(ctx.get(), write_to_handle, &out) || spng_set_ihdr(ctx.get(), &ihdr) ||
            spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1) ||
            spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_UP) ||
            spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE))
            return ERR_CANT_WRITE_FILE;
        for (int y = 0; y < height; ++y) {
            if (int32_t status = next_row(row.data())) return status;
            const int result = spng_encode_row(ctx.get(), row.data(), row_bytes);
            if (result != 0 && !(result == SPNG_EOI && y == height - 1)) return ERR_CANT_WRITE_FILE;
        }
        return 0;
    });
}

// Hands out the rows of one block (a phase map or an intensity frame) one at a
// time, reading a block of rows ahead.
template <typename Sample>
class row_reader {
public:
    row_reader(data_file_reader& reader, int width, int height) : reader_(reader), width_(width), height_(height) {
        block_ = rows_per_block(width, sizeof(Sample));
        samples_.resize(static_cast<size_t>(block_) * width);
    }
    // The next row's samples, or nullptr with *status set.
    const Sample* next(int32_t* status) {
        if (index_ == filled_) {
            const int n = height_ - done_ < block_ ? height_ - done_ : block_;
            if constexpr (sizeof(Sample) == 4)
                *status = reader_.read_phase_rows(samples_.data(), n);
            else
                *status = reader_.read_intensity_rows(samples_.data(), n);
            if (*status) return nullptr;
            done_ += n;
            filled_ = n;
            index_ = 0;
        }
        return samples_.data() + static_cast<size_t>(index_++) * width_;
    }

private:
    data_file_reader& reader_;
    int width_, height_, block_;
    int done_ = 0, filled_ = 0, index_ = 0;
    std::vector<Sample> samples_;
};

}  // namespace

int32_t write_phase_png(data_file_reader& reader, const phase_stats& stats, const char* png_path) {
    const data_array& shape = reader.layout().phase;
    if (reader.layout().phase_bytes == 0) return ERR_INVALID_PARAM;
    if (int32_t status = reader.seek_phase()) return status;
    row_reader<int32_t> rows(reader, shape.width, shape.height);
    return write_png(png_path, shape.width, shape.height, true, [&](uint8_t* out) {
        int32_t status = 0;
        const int32_t* samples = rows.next(&status);
        if (!samples) return status;
        for (int x = 0; x < shape.width; ++x, out += 3) {
            const int32_t v = samples[x];
            const rgb c = v >= invalid_phase ? invalid_colour : phase_colours[colour_step(v, stats.low, stats.high)];
            out[0] = c.r;
            out[1] = c.g;
            out[2] = c.b;
        }
        return 0;
    });
}

int32_t write_intensity_png(data_file_reader& reader, const char* png_path) {
    const intensity_array& shape = reader.layout().intensity;
    if (int32_t status = reader.seek_intensity(0)) return status;
    int32_t low = 0, high = 0;
    {
        row_reader<int16_t> rows(reader, shape.width, shape.height);
        for (int y = 0; y < shape.height; ++y) {
            int32_t status = 0;
            const int16_t* samples = rows.next(&status);
            if (!samples) return status;
            for (int x = 0; x < shape.width; ++x) {
                if ((y == 0 && x == 0) || samples[x] < low) low = samples[x];
                if ((y == 0 && x == 0) || samples[x] > high) high = samples[x];
            }
        }
    }
    if (int32_t status = reader.seek_intensity(0)) return status;
    row_reader<int16_t> rows(reader, shape.width, shape.height);
    return write_png(png_path, shape.width, shape.height, false, [&](uint8_t* out) {
        int32_t status = 0;
        const int16_t* samples = rows.next(&status);
        if (!samples) return status;
        for (int x = 0; x < shape.width; ++x)
            out[x] = static_cast<uint8_t>(colour_step(samples[x], low, high));
        return 0;
    });
}

}  // namespace mf::info
