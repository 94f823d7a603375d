#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "common/errors.h"
#include "ramp/ramp_set.h"
#include "tests/ramp/example_ramps.h"
#include "tests/support/alloc_fail.h"
#include "tests/support/capture.h"

namespace mf {

namespace {

// The source entry: the example SWLI ramp (10.2 um, 81 nm per frame, 25 Hz).
struct Source {
    test::ExampleRamp ramp = test::example_swli_ramp();
    rr_ramp_entry entry{};
    Source() {
        std::strcpy(entry.name, "d10s81c25.b12345");
        entry.hdr = ramp.hdr;
        entry.points = ramp.points.data();
        entry.slot = rr_no_ramp;
    }
};

rr_ramp_spec swli_spec(float scan, float slope = 81.0f, float fpf = 0.25f) {
    rr_ramp_spec s{};
    s.rampType = RAMP_TYPE_SWLI;
    std::strcpy(s.fileName, "+");
    s.scanLen = scan;
    s.cameraRate = 25.0f;
    s.fringesPerFrame = fpf;
    s.rampSlope = slope;
    s.scanCal = 1.0f;
    return s;
}

struct Derived {
    int32_t status;
    rr_ramp_entry entry{};
    std::vector<uint16_t> points;
    std::string log;
};

Derived derive(const rr_ramp_entry& source, const rr_ramp_spec& spec) {
    Derived d;
    test::SinkCapture sink;
    d.status = rr_derive_ramp(&source, &d.entry, &spec);
    d.log = sink.text();
    if (d.entry.points) d.points.assign(d.entry.points, d.entry.points + d.entry.hdr.nPoints);
    u_free(d.entry.points);
    return d;
}

// The documented resampling, step by step, written out on its own: the run-up
// scaled point by point, then e output points per source step with the fraction
// collected until it passes one, then a trailing point; the output is cut at the
// source's point count.
std::vector<uint16_t> reference_points(const std::vector<uint16_t>& P, int s, int t, int o, double c, double* e_out) {
    const int n = static_cast<int>(P.size());
    const int w = t - s;
    const int i0 = s + static_cast<int>((1 - c) * w / 2);
    const int i1 = s + static_cast<int>((1 + c) * w / 2) + (n - t);
    std::vector<uint16_t> Q = P;
    const double ratio = (static_cast<double>(P[s]) - o) / (static_cast<double>(P[i0]) - o);
    for (int j = 0; j < s; ++j)
        Q[j] = static_cast<uint16_t>(static_cast<int>((P[j] - o) / ratio) + o);
    const double e = static_cast<double>(n - s) / (i1 - i0);
    const int k = static_cast<int>(e);
    const double r = e - k;
    std::vector<int> out;
    double f = P[i0];
    double a = 0;
    for (int i = i0; i <= i1 - 1; ++i) {
        const double step = (static_cast<double>(P[i + 1]) - P[i]) / e;
        for (int m = 0; m < k; ++m) {
            out.push_back(static_cast<int>(f));
            f += step;
        }
        a += r;
        if (a > 1) {
            out.push_back((out.back() + static_cast<int>(f)) >> 1);
            f += step;
            a -= 1;
        }
    }
    if (a > 0.5) out.push_back(static_cast<int>(f));
    for (size_t m = 0; m < out.size() && s + m < P.size(); ++m)
        Q[s + m] = static_cast<uint16_t>(out[m]);
    *e_out = e;
    return Q;
}

}  // namespace

TEST(RampDerive, ShorterScansAreResampledPointForPoint) {
    Source src;
    for (const float scan : {5.1f, 7.65f}) {
        const Derived d = derive(src.entry, swli_spec(scan));
        ASSERT_EQ(d.status, 0) << scan << d.log;
        EXPECT_EQ(d.log, "");
        double e = 0;
        const std::vector<uint16_t> expected =
            reference_points(src.ramp.points, 400, 5440, 32768, static_cast<double>(scan) / 10.2f, &e);
        ASSERT_EQ(d.points.size(), expected.size());
        int differing = 0;
        for (size_t i = 0; i < expected.size(); ++i)
            differing += d.points[i] != expected[i];
        EXPECT_EQ(differing, 0) << scan;
        // The new window scans the middle of the old one: it starts above the old start.
        EXPECT_GT(d.points[400], src.ramp.points[400]);
        const rr_ramp_hdr_t& h = d.entry.hdr;
        EXPECT_EQ(h.nPoints, 5840);
        EXPECT_EQ(h.trigStartAddr, 400);
        EXPECT_EQ(h.trigEndAddr, 5440);
        EXPECT_EQ(h.scanLen, scan);
        const float clock = static_cast<float>(1.0 * e);
        EXPECT_EQ(h.sampleClkFreq, clock);
        EXPECT_EQ(h.updateRate, std::lround(65536.0 - 4000.0 / clock));
        EXPECT_EQ(h.nBuckets, static_cast<int>(25.0 * 5040 / (1000.0 * clock)));
        EXPECT_STREQ(d.entry.name, "+d10s81c25.b12345");
    }
}

TEST(RampDerive, AnotherSpeedKeepsThePointsAndChangesTheClock) {
    Source src;
    // The scan length as a configuration line gives it: the same float as the file's.
    const Derived d = derive(src.entry, swli_spec(10.2f, 243.0f, 0.75f));
    ASSERT_EQ(d.status, 0) << d.log;
    EXPECT_EQ(d.points, src.ramp.points);
    const rr_ramp_hdr_t& h = d.entry.hdr;
    EXPECT_EQ(h.sampleClkFreq, 3.0f);
    EXPECT_EQ(h.updateRate, 64203);  // 65536 - 4000 / 3, to the nearest
    EXPECT_EQ(h.nBuckets, 42);       // 25 Hz x 5040 points / 3000 points per second
    EXPECT_EQ(h.rampSlope, 243.0f);
    EXPECT_EQ(h.fringesPerFrame, 0.75f);
    EXPECT_EQ(h.compGain, 1);  // no compensation in use
    EXPECT_EQ(h.adcMax, src.ramp.hdr.adcMax);
}

TEST(RampDerive, CompensationFollowsTheSpeed) {
    Source src;
    src.entry.hdr.compFilter = 1;
    struct Case {
        float slope;
        int32_t gain;
        double h;
    } cases[] = {{27.0f, 2, 1.0 / 3.0}, {243.0f, 0, 3.0}, {81.0f, 1, 1.0}};
    for (const Case& c : cases) {
        const Derived d = derive(src.entry, swli_spec(10.2f, c.slope, c.slope == 27.0f ? 1.25f : 0.25f));
        ASSERT_EQ(d.status, 0) << d.log;
        EXPECT_EQ(d.entry.hdr.compGain, c.gain) << c.slope;
        EXPECT_EQ(d.entry.hdr.adcMin, static_cast<int32_t>(src.ramp.hdr.adcMin * (c.slope / 81.0))) << c.slope;
        EXPECT_EQ(d.entry.hdr.adcLast, static_cast<int32_t>(src.ramp.hdr.adcLast * (c.slope / 81.0))) << c.slope;
    }
}

TEST(RampDerive, RefusalsGiveTheirMessageAndCode) {
    struct Case {
        const char* what;
        void (*change)(rr_ramp_entry&, rr_ramp_spec&);
        int32_t status;
        const char* log;
    };
    const Case cases[] = {
        {"PMI", [](rr_ramp_entry&, rr_ramp_spec& s) { s.rampType = 1; }, ERR_INVALID_PARAM,
         "Error: derived ramp must be type SWLI or BTW\n"},
        {"longer", [](rr_ramp_entry&, rr_ramp_spec& s) { s.scanLen = 10.200001f; }, ERR_PARAM_OUT_OF_RANGE,
         "Error: derived ramp must have smaller scan length\n"},
        {"fpf", [](rr_ramp_entry&, rr_ramp_spec& s) { s.fringesPerFrame = 0.3f; }, ERR_INVALID_PARAM,
         "Error: fringesPerFrame = 0.3 is invalid for derived ramp\n"},
        {"mag", [](rr_ramp_entry&, rr_ramp_spec& s) { s.rampType = RAMP_TYPE_BTW; }, ERR_INVALID_PARAM,
         "Error: BTW ramp must specify an objective mag\n"},
        {"no points", [](rr_ramp_entry& e, rr_ramp_spec&) { e.points = nullptr; }, ERR_INVALID_PARAM,
         "Error: cannot derive a ramp from source ramp values: no points\n"},
        {"slope", [](rr_ramp_entry& e, rr_ramp_spec&) { e.hdr.rampSlope = 0; }, ERR_INVALID_PARAM,
         "Error: cannot derive a ramp from source ramp values: rampSlope\n"},
        {"rate", [](rr_ramp_entry& e, rr_ramp_spec&) { e.hdr.cameraRate = std::numeric_limits<float>::quiet_NaN(); },
         ERR_INVALID_PARAM, "Error: cannot derive a ramp from source ramp values: cameraRate\n"},
        {"scan", [](rr_ramp_entry& e, rr_ramp_spec&) { e.hdr.scanLen = std::numeric_limits<float>::infinity(); },
         ERR_INVALID_PARAM, "Error: cannot derive a ramp from source ramp values: scanLen\n"},
        {"clock", [](rr_ramp_entry& e, rr_ramp_spec&) { e.hdr.sampleClkFreq = -1; }, ERR_INVALID_PARAM,
         "Error: cannot derive a ramp from source ramp values: sampleClkFreq\n"},
        {"window", [](rr_ramp_entry& e, rr_ramp_spec&) { e.hdr.trigEndAddr = 6000; }, ERR_INVALID_PARAM,
         "Error: cannot derive a ramp from source ramp values: trigger addresses and points allow no shorter scan\n"},
        {"start at offset", [](rr_ramp_entry& e, rr_ramp_spec&) { e.hdr.offset = e.points[400]; }, ERR_INVALID_PARAM,
         "Error: cannot derive a ramp from source ramp values: trigger addresses and points allow no shorter scan\n"},
        {"too slow",
         [](rr_ramp_entry& e, rr_ramp_spec& s) {
             e.hdr.sampleClkFreq = 0.0001f;
             s.scanLen = e.hdr.scanLen;
         },
         ERR_INVALID_PARAM, "Error: sampleClkFreq = 0.0001 KHz is too low\n"},
    };
    for (const Case& c : cases) {
        Source src;
        rr_ramp_spec spec = swli_spec(5.1f);
        c.change(src.entry, spec);
        test::AllocFailure count(0);
        const Derived d = derive(src.entry, spec);
        EXPECT_EQ(d.status, c.status) << c.what;
        EXPECT_EQ(d.log, c.log) << c.what;
        EXPECT_EQ(d.entry.points, nullptr) << c.what;
        EXPECT_EQ(count.outstanding(), 0) << c.what;
    }
    Source src;
    for (const float fpf : {0.125f, 0.0625f, 0.75f, 2.0f}) {
        const Derived d = derive(src.entry, swli_spec(5.1f, 81.0f, fpf));
        EXPECT_EQ(d.status, 0) << fpf << d.log;
    }
}

TEST(RampDerive, AllocationFailureGivesNoMem) {
    Source src;
    test::AllocFailure fail(1);
    const Derived d = derive(src.entry, swli_spec(5.1f));
    EXPECT_EQ(d.status, ERR_NO_MEM);
    EXPECT_EQ(fail.outstanding(), 0);
}

}  // namespace mf
