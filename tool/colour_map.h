// The colours mapforge-info paints a phase map with.
#pragma once

#include <array>
#include <cstdint>

namespace mf::info {

struct rgb {
    uint8_t r, g, b;
};

// A perceptually uniform scale from dark violet (lowest) through blue and green to
// yellow (highest), 256 steps.
extern const std::array<rgb, 256> phase_colours;

// Invalid samples: a neutral grey the scale never reaches.
inline constexpr rgb invalid_colour{128, 128, 128};

// The step of the scale for sample v of a map whose valid samples run from low to
// high (rounded to the nearest step; a flat map uses the first step).
inline int colour_step(int32_t v, int32_t low, int32_t high) {
    const int64_t range = int64_t{high} - low;
    if (range <= 0) return 0;
    return static_cast<int>(((int64_t{v} - low) * 255 + range / 2) / range);
}

}  // namespace mf::info
