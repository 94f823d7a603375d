#include "common/timeutil.h"

#include <cmath>
#include <cstdio>

#include "platform/clock.h"

namespace mf {

namespace {
double stopwatch_start = 0;
int64_t frequency = 0;
int64_t reference = 0;
int64_t overhead = -1;

void read_frequency() {
    if (frequency == 0) frequency = platform::counter_frequency();
}

void calibrate() {
    read_frequency();
    int64_t first = platform::counter_raw();
    int64_t second = platform::counter_raw();
    overhead = second - first;
    reference = second;
}

int64_t to_microseconds(int64_t counts) {
    return static_cast<int64_t>(static_cast<long double>(counts) * 1000000.0L / static_cast<long double>(frequency));
}
}  // namespace

void u_time_text(char* text, const std::time_t* when) {
    std::time_t t = when ? *when : static_cast<std::time_t>(platform::wall_ms() / 1000);
    std::tm local{};
    if (!platform::local_time(t, &local)) {
        text[0] = '\0';
        return;
    }
    std::strftime(text, 41, "%Y-%m-%d %H:%M:%S", &local);
}

double u_ipow(double x, int n) {
    // Work on the magnitude as unsigned so that INT_MIN has one too.
    unsigned m = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
    double result = 1.0;
    for (; m; m >>= 1) {
        if (m & 1) result *= x;
        x *= x;
    }
    return n < 0 ? 1.0 / result : result;
}

double u_seconds_now() { return static_cast<double>(platform::wall_ms()) * 1000.0 / 1e6; }

void u_stopwatch_start() { stopwatch_start = u_seconds_now(); }

double u_stopwatch_elapsed() { return u_seconds_now() - stopwatch_start; }

int64_t u_counter_lap() {
    if (overhead < 0) calibrate();
    int64_t now = platform::counter_raw();
    int64_t counts = now - reference - overhead;
    reference = now;
    return counts < 0 ? 0 : to_microseconds(counts);
}

int64_t u_counter_now() {
    if (overhead < 0) calibrate();
    return to_microseconds(platform::counter_raw() - overhead);
}

int64_t u_counter_raw() { return platform::counter_raw(); }

int64_t u_counter_diff(int64_t a, int64_t b) {
    read_frequency();
    return std::llround(static_cast<long double>(b - a) * 1000000.0L / static_cast<long double>(frequency));
}

}  // namespace mf
