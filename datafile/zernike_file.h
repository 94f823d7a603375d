// Code V Zernike text files ("ZFR") with the "! VAROZFR" comment block: a
// Zernike polynomial fit exchanged with the optical design program.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datafile/data_header.h"

namespace mf {

// The coefficient counts a Zernike file may carry.
inline bool zernike_count_allowed(int count) {
    return count == 3 || count == 4 || count == 9 || count == 16 || count == 25 || count == 36 || count == 37;
}

struct zernike_set {
    int16_t count;            // 3, 4, 9, 16, 25, 36 or 37
    double coefficients[38];  // in file order; those beyond count are 0 after reading
};

// Reads a Zernike file into cleared records. SRC values 2 and 3 go to phase's
// width and height (phase may be null). S = 4096 / SSZ whatever the SCF line says,
// and the phase resolution code is 0 afterwards.
// ERR_CANT_OPEN_FILE, ERR_PREMATURE_EOF, ERR_NOT_A_DATA_FILE, ERR_CORRUPT_DATA_FILE, ERR_NO_MEM.
int32_t read_zernike_file(const char* path, data_header* header, zernike_set* zernike, sw_info* sw, data_array* phase);

// The same reader over a complete file image in memory.
int32_t read_zernike_memory(const char* data, size_t size, data_header* header, zernike_set* zernike, sw_info* sw,
                            data_array* phase);

// Writes the set with the comment block, six "%12.4f " coefficients a line.
// ERR_CANT_CREATE_FILE, ERR_INVALID_PARAM (a count not allowed; the file is left
// empty), ERR_CANT_WRITE_FILE.
int32_t write_zernike_file(const char* path, const data_header* header, const zernike_set* zernike, const sw_info* sw,
                           const data_array* phase);

}  // namespace mf
