// Code V grid text files ("GRD") with the "! VAROGRD" comment block: the phase
// map exchanged with the optical design program.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datafile/data_header.h"

namespace mf {

// Reads a grid file into a cleared header, phase array and software record. On
// success phase holds width x height samples from the library allocator, owned by
// the caller; on failure it holds none. Samples equal to the file's NDA value
// become invalid_phase; with an SCF data shift k > 0 the others are shifted left
// by k. Prints the documented messages through the sink.
// ERR_CANT_OPEN_FILE, ERR_PREMATURE_EOF, ERR_NOT_A_DATA_FILE,
// ERR_CORRUPT_DATA_FILE, ERR_PARAM_OUT_OF_RANGE, ERR_NO_MEM.
int32_t read_grid_file(const char* path, data_header* header, data_array* phase, sw_info* sw);

// The same reader over a complete file image in memory.
int32_t read_grid_memory(const char* data, size_t size, data_header* header, data_array* phase, sw_info* sw);

// Writes the phase map with the comment block. Samples that do not fit 16 bits
// are shifted right by the fewest bits that make them fit (SCF records it, SSZ
// is halved per bit); invalid samples are written as the NDA value -32768.
// ERR_INVALID_PARAM (no samples or a shape beyond the storage), ERR_CANT_CREATE_FILE,
// ERR_ALL_BAD_DATA (no valid sample; the file is left empty), ERR_CANT_WRITE_FILE.
int32_t write_grid_file(const char* path, const data_header* header, const data_array* phase, const sw_info* sw);

}  // namespace mf
