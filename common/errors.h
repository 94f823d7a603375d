// Error codes, their names and the two reporting operations.
#pragma once

#include <cstdint>

#include "common/error_codes.h"

namespace mf {

// Name table indexed by code: entry 0 is "", entries 1..ERR_LAST the ERR_ names.
extern const char* const u_error_names[ERR_LAST + 1];

// "NO_ERROR" for 0, the table name for 1..462, otherwise "invalid error number %d".
// Any thread. Names are the table's constant texts; the out-of-range text lives in
// a buffer of the calling thread until its next out-of-range call.
const char* error_name(int32_t code);

// Non-zero code: its name and a newline go to the message sink. 0 does nothing.
void u_report_error(int32_t code);

// Non-zero code: reported as by u_report_error, then the process exits with 1.
void u_fatal_error(int32_t code);

}  // namespace mf
