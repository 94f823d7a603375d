// Time texts, elapsed-time timers and the performance counter.
#pragma once

#include <cstdint>
#include <ctime>

namespace mf {

// Writes the time (default: now, from the clock service) as local
// "%Y-%m-%d %H:%M:%S" into text, which holds at least 41 characters.
void u_time_text(char* text, const std::time_t* when = nullptr);

// x raised to n by repeated squaring; a negative n gives 1 / x^-n.
double u_ipow(double x, int n);

// Wall-clock seconds since 1970 with the millisecond part.
double u_seconds_now();
void u_stopwatch_start();
double u_stopwatch_elapsed();

// Microseconds since the previous lap (or since calibration), less the counter's
// own cost. The first lap or counter-now call calibrates.
int64_t u_counter_lap();
// The counter's time in microseconds, less its cost.
int64_t u_counter_now();
int64_t u_counter_raw();
// Microseconds from raw count a to raw count b, rounded half away from zero.
int64_t u_counter_diff(int64_t a, int64_t b);

}  // namespace mf
