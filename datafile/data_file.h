// The binary measurement data file: a big-endian header of format 1, 2 or 3,
// then the intensity block, then the phase block.
#pragma once

#include <cstdint>
#include <cstdio>

#include "datafile/data_header.h"

namespace mf {

namespace platform {
class file_handle;
}

inline constexpr uint32_t data_file_magic1 = 0x881B036F;
inline constexpr uint32_t data_file_magic2 = 0x881B0370;
inline constexpr uint32_t data_file_magic3 = 0x881B0371;

// Creates or truncates path (wide-path convention honoured) and writes the file.
// Records and arrays may be null; at least one array must have data. The caller's
// records are not changed. ERR_CANT_CREATE_FILE, ERR_INVALID_PARAM,
// ERR_CANT_WRITE_FILE, ERR_NO_MEM. Prints nothing.
int32_t write_data_file(const char* path, const sw_info* sw, const data_header* header,
                        const intensity_array* intensity, const data_array* phase);

// Writes the file at the end of an open binary stream.
int32_t write_data_stream(std::FILE* stream, const sw_info* sw, const data_header* header,
                          const intensity_array* intensity, const data_array* phase);

// The header write_data_file writes for a phase array of this shape and no
// intensity array (shape.data is not used), for a writer that streams the phase
// block after it itself: width x height samples, each big-endian. 0,
// ERR_INVALID_PARAM (a negative shape), ERR_CANT_WRITE_FILE.
int32_t write_phase_file_header(platform::file_handle& out, const sw_info* sw, const data_header* header,
                                const data_array& shape);

// The header format the writer chooses for a record (null: format 1).
int data_file_format(const data_header* header);

// Reads a data file back: the software record, the header record and the arrays
// (allocated through the library allocator; an absent block leaves its descriptor
// empty). Any output may be null. ERR_CANT_OPEN_FILE, ERR_NOT_A_DATA_FILE (magic),
// ERR_CORRUPT_DATA_FILE (inconsistent sizes), ERR_PREMATURE_EOF, ERR_NO_MEM.
int32_t read_data_file(const char* path, sw_info* sw, data_header* header, intensity_array* intensity,
                       data_array* phase);

}  // namespace mf
