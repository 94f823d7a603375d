#include "can/llc/agc_law.h"

#include <algorithm>
#include <cmath>

#include "common/errors.h"

namespace mf {

agc_loop agc_loop_start(int32_t bits, int32_t target, bool live, double frame_rate, uint16_t level) {
    agc_loop loop;
    loop.counters = int32_t{1} << bits;
    loop.target = target;
    loop.live = live;
    loop.frame_rate = frame_rate;
    loop.level = level;
    loop.written = level;
    return loop;
}

namespace {

template <typename Pixel>
void count_pixels(const Pixel* pixels, size_t count, uint32_t* histogram, int32_t counters) {
    const uint32_t last = static_cast<uint32_t>(counters - 1);
    for (size_t i = 0; i < count; ++i)
        ++histogram[std::min<uint32_t>(pixels[i], last)];
}

// Nothing to write: the run of adjustments and of failures is over.
agc_decision pause_after_frame(agc_loop& loop) {
    loop.adjustments = 0;
    loop.failures = 0;
    return {agc_action::next, agc_pause_ms, 0, 0};
}

}  // namespace

int32_t agc_brightness(const void* pixels, size_t count, int32_t bytes_per_pixel, uint32_t* histogram,
                       int32_t counters) {
    std::fill(histogram, histogram + counters, 0u);
    if (bytes_per_pixel == 2)
        count_pixels(static_cast<const uint16_t*>(pixels), count, histogram, counters);
    else
        count_pixels(static_cast<const uint8_t*>(pixels), count, histogram, counters);
    uint64_t sum = 0;
    int32_t b = counters - 1;
    for (; b > 0; --b) {
        sum += histogram[b];
        if (sum >= agc_bright_pixels) return b;
    }
    return 0;
}

agc_decision agc_on_frame(agc_loop& loop, const void* pixels, size_t count, int32_t bytes_per_pixel,
                          uint32_t* histogram) {
    if (loop.skips > 0) {
        --loop.skips;
        loop.failures = 0;
        const bool timed = loop.live && loop.frame_rate > 0;
        return {agc_action::next, timed ? static_cast<int64_t>(1000 / loop.frame_rate) : 0, 0, 0};
    }
    const int32_t b = agc_brightness(pixels, count, bytes_per_pixel, histogram, loop.counters);
    const double e = (b + 1.0) / loop.counters - (loop.target + 1.0) / 256;
    if (std::fabs(e) <= agc_dead_band) return pause_after_frame(loop);
    ++loop.adjustments;
    double p = agc_gain * e;
    double d = agc_gain * (e - loop.last_error);
    loop.last_error = e;
    if (loop.adjustments % agc_reduce_every == 0) {
        if (p > agc_reduction) p -= agc_reduction;
        if (d > agc_reduction) d -= agc_reduction;
    }
    loop.level = std::clamp(loop.level + p + d, 0.0, agc_max_level);
    const auto level = static_cast<uint16_t>(loop.level);
    if (level == loop.written) return pause_after_frame(loop);
    return {agc_action::write, 0, level, 0};
}

agc_decision agc_on_failure(agc_loop& loop, int32_t error) {
    if (error == ERR_LOST_FRAME && loop.skips == 0) loop.skips = 1;
    if (++loop.failures >= agc_max_failures) return {agc_action::end, 0, 0, error};
    return {};
}

void agc_on_written(agc_loop& loop, uint16_t level) { loop.written = level; }

void agc_on_settled(agc_loop& loop) {
    loop.skips = agc_skip_after_write;
    loop.failures = 0;
}

}  // namespace mf
