// The calibration file writer: one slot's record as a system calibration file that
// sb_readCal reads back into the same record.
#pragma once

#include <cstdint>
#include <string>

#include "calfile/sysinfo.h"

namespace mf {

// Writes the record of a slot (0..3) to path; "" or null writes the slot's default
// file in the configuration directory. Only values that differ from their defaults
// are written, in a fixed order. The file is built in a temporary file and copied
// over the target only when the whole record was written without a consistency
// error, so a failure leaves an existing target unchanged. 0 or an error code;
// diagnostics go to the message sink. Not safe for concurrent calls.
int32_t sb_writeCal(int slot, const char* path);

// The slot's default calibration file: the configuration directory (or "./" when
// there is none) joined with the machine name and the slot's file digit.
std::string sb_default_cal_path(const sysInfo* si);

// The text sb_writeCal writes for a record. Consistency errors are reported through
// the writer's message routine; the result is 0 or the code of the last one.
int32_t sb_format_cal(const sysInfo* si, std::string* text);

}  // namespace mf
