#include <time.h>

#include "platform/clock.h"

namespace mf::platform {

bool local_time(std::time_t t, std::tm* out) { return localtime_r(&t, out) != nullptr; }

int64_t counter_raw() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t counter_frequency() { return 1000000000; }

}  // namespace mf::platform
