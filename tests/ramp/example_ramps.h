// The example ramps committed under examples/ramps: an SWLI, a BTW and a PMI ramp
// with plausible headers and points, built the same way on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ramp/ramp_file.h"

namespace mf::test {

struct ExampleRamp {
    rr_ramp_hdr_t hdr;
    std::vector<uint16_t> points;
};

// SWLI: 10.2 um at 81 nm per frame, 25 Hz, PIFOC 12345 (d10s81c25.b12345).
ExampleRamp example_swli_ramp();
// BTW: 20 um at 243 nm per frame, 60 Hz, 50x objective, filter 2 (d20s243c60m50.b12345).
ExampleRamp example_btw_ramp();
// PMI: 5 buckets at 30 Hz sampling every other frame, large-aperture PZT 7 (p5c15.q7).
ExampleRamp example_pmi_ramp();

std::vector<ExampleRamp> example_ramps();

// Writes every example ramp into dir under its standard name; 0 or the first error.
int32_t write_example_ramps(const std::string& dir);

}  // namespace mf::test
