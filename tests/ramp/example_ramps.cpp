#include "tests/ramp/example_ramps.h"

#include <cmath>
#include <filesystem>

namespace mf::test {

namespace {

// The scanner DAC spans 100 um of PIFOC travel.
constexpr double counts_per_um = 65536.0 / 100.0;
constexpr int32_t dac_centre = 32768;

uint16_t dac(double v) {
    const double r = std::floor(v + 0.5);
    return static_cast<uint16_t>(r < 0 ? 0 : r > 65535 ? 65535 : r);
}

rr_ramp_hdr_t base_header() {
    rr_ramp_hdr_t h{};
    h.magicNumber = rr_ramp_magic;
    h.sampleClkFreq = 1.0f;
    h.updateRate = 61536;  // 65536 - 4000 / 1 kHz
    h.cameraPClock = 14.31818f;
    h.cameraHPeriod = 910;
    h.cameraVPeriod = 525;
    h.offset = dac_centre;
    h.scanCal = 1.0f;
    return h;
}

// A scan through the centre of the DAC range at constant speed over the trigger
// window, with a run-up that accelerates evenly from rest to the scan speed and a
// run-down that brings the scanner back to rest.
void build_scan(ExampleRamp& r, int32_t run_up, int32_t window, int32_t run_down, double nm_per_point) {
    const double v = nm_per_point / 1000.0 * counts_per_um;
    const double start = dac_centre - v * window / 2.0 - v * run_up / 2.0;
    r.points.clear();
    for (int32_t i = 0; i < run_up; ++i)
        r.points.push_back(dac(start + v * i * i / (2.0 * run_up)));
    const double linear_start = start + v * run_up / 2.0;
    for (int32_t i = 0; i < window; ++i)
        r.points.push_back(dac(linear_start + v * i));
    const double linear_end = linear_start + v * window;
    for (int32_t i = 0; i < run_down; ++i)
        r.points.push_back(dac(linear_end + v * i - v * i * i / (2.0 * run_down)));
    r.hdr.nPoints = static_cast<int32_t>(r.points.size());
    r.hdr.rampUp = run_up;
    r.hdr.rampStart = run_up;
    r.hdr.rampLinear = window;
    r.hdr.rampEnd = run_up + window;
    r.hdr.trigStartAddr = run_up;
    r.hdr.trigEndAddr = run_up + window;
    r.hdr.adcMin = r.points.front();
    r.hdr.adcMax = r.points.back();
    r.hdr.adcFirst = r.points[static_cast<size_t>(run_up)];
    r.hdr.adcMid = r.points[static_cast<size_t>(run_up + window / 2)];
    r.hdr.adcLast = r.points[static_cast<size_t>(run_up + window - 1)];
}

}  // namespace

ExampleRamp example_swli_ramp() {
    ExampleRamp r{base_header(), {}};
    r.hdr.rampType = RAMP_TYPE_SWLI;
    r.hdr.pztID = 12345;
    r.hdr.cameraRate = 25.0f;
    r.hdr.rampSlope = 81.0f;
    r.hdr.scanLen = 10.2f;
    r.hdr.polar = 'b';
    r.hdr.nBuckets = 126;
    r.hdr.fringesPerFrame = 0.25f;
    r.hdr.compGain = 1;
    // 126 frames at 25 Hz are 5040 points of the 1 kHz clock, 2.025 nm each.
    build_scan(r, 400, 5040, 400, 81.0 * 25.0 / 1000.0);
    return r;
}

ExampleRamp example_btw_ramp() {
    ExampleRamp r{base_header(), {}};
    r.hdr.rampType = RAMP_TYPE_BTW;
    r.hdr.pztID = 12345;
    r.hdr.cameraRate = 60.0f;
    r.hdr.rampSlope = 243.0f;
    r.hdr.scanLen = 20.0f;
    r.hdr.polar = 'b';
    r.hdr.nBuckets = 82;
    r.hdr.fringesPerFrame = 0.75f;
    r.hdr.objMag = 50.0f;
    r.hdr.wavelenSelect = 2;
    r.hdr.compGain = 1;
    build_scan(r, 300, 1372, 300, 243.0 * 60.0 / 1000.0);
    return r;
}

ExampleRamp example_pmi_ramp() {
    ExampleRamp r{base_header(), {}};
    r.hdr.rampType = 1;
    r.hdr.pztID = 7;
    r.hdr.cameraRate = 30.0f;
    r.hdr.grabSkip = 1;
    r.hdr.polar = 'q';
    r.hdr.rampMux = 1;
    r.hdr.nBuckets = 5;
    r.hdr.fringesPerFrame = 0.25f;
    r.hdr.rampGainDflt = 2048;
    r.hdr.rampTriple[0] = 1.0f;
    r.hdr.rampTriple[1] = 0.98f;
    r.hdr.rampTriple[2] = 1.02f;
    r.hdr.offset = 0;
    r.hdr.scanCal = 0.0f;
    // Five grabbed frames at 15 Hz: a 334-point phase-shift ramp, a quarter fringe
    // per grabbed frame, between a short settle and the return to rest.
    const int32_t settle = 50, window = 334, back = 100;
    const double low = 2048.0, high = 10048.0;
    for (int32_t i = 0; i < settle; ++i)
        r.points.push_back(dac(low * i / settle));
    for (int32_t i = 0; i < window; ++i)
        r.points.push_back(dac(low + (high - low) * i / window));
    for (int32_t i = 0; i < back; ++i)
        r.points.push_back(dac(high - high * i / back));
    r.hdr.nPoints = static_cast<int32_t>(r.points.size());
    r.hdr.rampUp = settle;
    r.hdr.rampStart = settle;
    r.hdr.rampLinear = window;
    r.hdr.rampEnd = settle + window;
    r.hdr.trigStartAddr = settle;
    r.hdr.trigEndAddr = settle + window;
    return r;
}

std::vector<ExampleRamp> example_ramps() { return {example_swli_ramp(), example_btw_ramp(), example_pmi_ramp()}; }

int32_t write_example_ramps(const std::string& dir) {
    for (const ExampleRamp& r : example_ramps()) {
        const std::string path = (std::filesystem::path(dir) / rr_get_std_ramp_filename(&r.hdr)).string();
        if (int32_t status = rr_write_ramp_file(path.c_str(), &r.hdr, r.points.data())) return status;
    }
    return 0;
}

}  // namespace mf::test
