// The per-frame control law of light-level control, free of threads and waits: the
// thread hands each frame (or each failure) to these functions and carries out what
// they decide.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mf {

inline constexpr int32_t agc_bright_pixels = 100;   // the brightness is that of the 100th-brightest pixel
inline constexpr double agc_dead_band = 1.0 / 32;   // of full scale
inline constexpr double agc_gain = 3000;            // for both the P and the D term
inline constexpr int32_t agc_reduce_every = 10;     // adjustments in a row
inline constexpr double agc_reduction = 1000;       // taken off a term above it
inline constexpr int32_t agc_max_failures = 10;     // in a row end the thread
inline constexpr int32_t agc_skip_after_write = 2;  // frames
inline constexpr int64_t agc_pause_ms = 100;        // in the dead band or with nothing to write
inline constexpr double agc_max_level = 65535;

// The loop's state between frames.
struct agc_loop {
    // Fixed when the thread starts.
    int32_t counters = 256;  // histogram counters: 2^bits
    int32_t target = 150;    // 0..255
    bool live = false;
    double frame_rate = 0;
    // Carried from frame to frame.
    double level = 0;         // L, the level the law works on
    uint16_t written = 0;     // the level last written (the starting level at first)
    double last_error = 0;    // d
    int32_t adjustments = 0;  // k, adjustments in a row
    int32_t failures = 0;     // n, failures in a row
    int32_t skips = 0;        // s, frames still to skip
};

enum class agc_action {
    next,   // go on with the next frame after wait_ms (0: at once)
    write,  // write `level` and wait for the wheel to settle
    end,    // end the thread with `error`
};

struct agc_decision {
    agc_action action = agc_action::next;
    int64_t wait_ms = 0;
    uint16_t level = 0;
    int32_t error = 0;
};

// Starts a loop at the wheel's level.
agc_loop agc_loop_start(int32_t bits, int32_t target, bool live, double frame_rate, uint16_t level);

// Index of the counter at which the 100 brightest pixels are reached, counting from
// the top; 0 when the image has fewer. `histogram` has loop.counters counters and is
// overwritten; pixels above the last counter count in the last one.
int32_t agc_brightness(const void* pixels, size_t count, int32_t bytes_per_pixel, uint32_t* histogram,
                       int32_t counters);

// A frame arrived: skipped, in the dead band, or an adjustment to write.
agc_decision agc_on_frame(agc_loop& loop, const void* pixels, size_t count, int32_t bytes_per_pixel,
                          uint32_t* histogram);
// A failure (grab, copy, write or settling): the tenth in a row ends the loop; a
// lost frame also skips the next frame.
agc_decision agc_on_failure(agc_loop& loop, int32_t error);
// The level was written: it is the one not to write again.
void agc_on_written(agc_loop& loop, uint16_t level);
// The wheel settled after a write: the next frames still show the old light.
void agc_on_settled(agc_loop& loop);

}  // namespace mf
