#include "common/errors.h"

#include <cstdio>
#include <cstdlib>

#include "common/msg.h"

namespace mf {

namespace {
char name_buffer[64];
}

const char* error_name(int32_t code) {
    if (code == 0)
        std::snprintf(name_buffer, sizeof name_buffer, "NO_ERROR");
    else if (code >= 1 && code <= ERR_LAST)
        std::snprintf(name_buffer, sizeof name_buffer, "%s", u_error_names[code]);
    else
        std::snprintf(name_buffer, sizeof name_buffer, "invalid error number %d", static_cast<int>(code));
    return name_buffer;
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
