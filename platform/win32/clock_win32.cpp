#include <windows.h>

#include <ctime>

#include "platform/clock.h"

namespace mf::platform {

bool local_time(std::time_t t, std::tm* out) { return localtime_s(out, &t) == 0; }

int64_t counter_raw() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

int64_t counter_frequency() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
}

}  // namespace mf::platform
