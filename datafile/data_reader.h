// Reading a binary measurement data file a block of rows at a time, so that a map
// of any size is inspected in memory bounded by the caller's row buffer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "datafile/data_header.h"

namespace mf {

// What a data file's header says: its format, records and array shapes. The
// descriptors carry no data (capacity 0, data null).
struct data_file_layout {
    int format = 0;           // 1, 2 or 3
    int32_t header_size = 0;  // 834 or 4096
    sw_info sw{};
    data_header header{};
    intensity_array intensity{};
    int64_t intensity_bytes = 0;
    data_array phase{};
    int64_t phase_bytes = 0;
};

// Converts the record part of a file's header image (the bytes from file offset
// 76, big-endian) into the record in the machine's order.
void data_header_from_file(const unsigned char* record_bytes, data_header* header);

// Reads and checks the start of a data file into image (room for the long
// header): the magic number, the format it names and its header size, then the
// rest of the header. 0, ERR_NOT_A_DATA_FILE, ERR_CORRUPT_DATA_FILE or
// ERR_PREMATURE_EOF.
int32_t read_data_file_header(std::FILE* file, unsigned char* image, int* format, int32_t* header_size);

// A data file open for reading rows. Not for concurrent use.
class data_file_reader {
public:
    data_file_reader();
    ~data_file_reader();
    data_file_reader(const data_file_reader&) = delete;
    data_file_reader& operator=(const data_file_reader&) = delete;

    // Opens path (wide-path convention honoured) and checks the header and the
    // file's length as read_data_file does, with the same codes: ERR_CANT_OPEN_FILE,
    // ERR_NOT_A_DATA_FILE, ERR_CORRUPT_DATA_FILE, ERR_PREMATURE_EOF.
    int32_t open(const char* path);
    const data_file_layout& layout() const { return layout_; }

    // Positions the reader at the first row of intensity frame frame (0 first), or
    // of the phase map. ERR_INVALID_PARAM when the block or frame is absent,
    // ERR_PREMATURE_EOF when the file cannot be positioned there.
    int32_t seek_intensity(int frame);
    int32_t seek_phase();

    // Reads the next rows rows of the block the reader was positioned in, in the
    // machine's order, into out (rows x width samples). Reading past the block's
    // end is ERR_INVALID_PARAM; a short file is ERR_PREMATURE_EOF.
    int32_t read_intensity_rows(int16_t* out, int rows);
    int32_t read_phase_rows(int32_t* out, int rows);

private:
    enum class block { none, intensity, phase };
    int32_t seek_to(int64_t offset);
    int32_t read_rows(block kind, void* out, int rows, size_t sample_size);

    struct file_closer {
        void operator()(std::FILE* f) const;
    };
    std::unique_ptr<std::FILE, file_closer> file_;
    data_file_layout layout_;
    block current_ = block::none;
    int64_t rows_left_ = 0;  // in the current block (frame)
};

}  // namespace mf
