// mapforge-info's pictures: the phase map in colour or an intensity frame in grey
// levels, one pixel per sample, row 0 of the file at the top, as a PNG file.
#pragma once

#include <cstdint>

#include "datafile/data_reader.h"
#include "tool/info_report.h"

namespace mf::info {

// False when this build has no PNG support; the writers then return
// ERR_NOT_IMPLEMENTED and touch nothing.
bool png_available();

// Paints the phase map from stats.low (first colour of the scale) to stats.high
// (last colour), invalid samples grey. The picture replaces png_path's contents
// as a whole: on failure an existing file is left as it was. 0, the reader's codes,
// ERR_CANT_CREATE_FILE, ERR_CANT_WRITE_FILE, ERR_NO_MEM.
int32_t write_phase_png(data_file_reader& reader, const phase_stats& stats, const char* png_path);

// Paints the first intensity frame in grey levels from its smallest sample (black)
// to its largest (white). Codes as above.
int32_t write_intensity_png(data_file_reader& reader, const char* png_path);

}  // namespace mf::info
