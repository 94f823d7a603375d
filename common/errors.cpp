#include "common/errors.h"

#include <cstdio>
#include <cstdlib>

#include "common/msg.h"

namespace mf {

// Names come straight from the table, so threads never share a text buffer; only
// an out-of-range number is formatted, into a buffer of the calling thread.
const char* error_name(int32_t code) {
    if (code == 0) return "NO_ERROR";
    if (code >= 1 && code <= ERR_LAST) return u_error_names[code];
    thread_local char invalid[48];
    std::snprintf(invalid, sizeof invalid, "invalid error number %d", static_cast<int>(code));
    return invalid;
}

void u_report_error(int32_t code) {
    if (code != 0) u_sink("%s\n", error_name(code));
}

void u_fatal_error(int32_t code) {
    if (code == 0) return;
    u_report_error(code);
    std::exit(1);
}

}  // namespace mf
