// The build without PNG support: pictures are refused and nothing is touched.
#include "common/errors.h"
#include "tool/info_image.h"

namespace mf::info {

bool png_available() { return false; }

int32_t write_phase_png(data_file_reader&, const phase_stats&, const char*) { return ERR_NOT_IMPLEMENTED; }
int32_t write_intensity_png(data_file_reader&, const char*) { return ERR_NOT_IMPLEMENTED; }

}  // namespace mf::info
