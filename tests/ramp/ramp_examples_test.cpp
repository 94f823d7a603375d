#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "calfile/sysinfo.h"
#include "common/alloc.h"
#include "common/errors.h"
#include "ramp/ramp_file.h"
#include "tests/ramp/example_ramps.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

std::string example_path(const std::string& name) { return std::string(MF_EXAMPLE_RAMPS_DIR) + "/" + name; }

std::string dump_text(const rr_ramp_hdr_t& h, const uint16_t* points, bool compact) {
    test::TempDir dir;
    const std::string path = dir.file("dump.txt");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    rr_dump_ramp_hdr(f, &h, points, compact);
    std::fclose(f);
    return test::read_file(path);
}

const char* const zero_header_dump =
    "#   1-  4  magicNumber        = 1380011345\n"
    "#   5-  8  rampType           = 17\n"
    "#   9- 12  pztID              = 12345\n"
    "#  13- 16  rampID             = 0\n"
    "#  17- 20  nPoints            = 12\n"
    "#  21- 24  rampUp             = 0\n"
    "#  25- 28  rampStart          = 0\n"
    "#  29- 32  rampLinear         = 0\n"
    "#  33- 36  rampEnd            = 0\n"
    "#  37- 40  sampleClkFreq      = 2.5\n"
    "#  41- 44  cameraRate         = 29.97\n"
    "#  45- 48  updateRate         = 63936\n"
    "#  49- 52  grabSkip           = 0\n"
    "#  53- 56  rampSlope          = 0\n"
    "#  57- 60  trigStartAddr      = 0\n"
    "#  61- 64  trigEndAddr        = 0\n"
    "#  65- 68  rampGainDflt       = 0\n"
    "#  69- 72  rampTriple[0]      = 0\n"
    "#  73- 76  rampTriple[1]      = 0\n"
    "#  77- 80  rampTriple[2]      = -0.125\n"
    "#  81- 84  scanLen            = 0\n"
    "#  85- 88  polar              = b\n"
    "#  89- 92  offset             = -1\n"
    "#  93- 96  nBuckets           = 0\n"
    "#  97-100  rampLin            = 0\n"
    "# 101-104  rampTrim           = 0\n"
    "# 105-108  cameraPClock       = 0\n"
    "# 109-112  cameraHPeriod      = 0\n"
    "# 113-116  cameraVPeriod      = 0\n"
    "# 117-120  cameraInterlace    = 0\n"
    "# 121-124  rampMux            = 0\n"
    "# 125-128  instrBdType        = 0\n"
    "# 129-132  compGain           = 0\n"
    "# 133-136  compFilter         = 0\n"
    "# 137-140  leakage            = 0\n"
    "# 141-144  adcMin             = 0\n"
    "# 145-148  adcMax             = 0\n"
    "# 149-152  adcFirst           = 0\n"
    "# 153-156  adcMid             = 0\n"
    "# 157-160  adcLast            = 65535\n"
    "# 161-164  scanCal            = 1\n"
    "# 169-172  fringesPerFrame    = 0.75\n"
    "# 173-176  objMag             = 50\n"
    "# 177-180  wavelenSelect      = 4\n"
    "# 197-328  spare             \n"
    "# sizeof rr_ramp_hdr_t = 328\n";

rr_ramp_hdr_t dump_header() {
    rr_ramp_hdr_t h{};
    h.magicNumber = rr_ramp_magic;
    h.rampType = 17;
    h.pztID = 12345;
    h.nPoints = 12;
    h.sampleClkFreq = 2.5f;
    h.cameraRate = 29.97f;
    h.updateRate = 63936;
    h.rampTriple[2] = -0.125f;
    h.polar = 'b';
    h.offset = -1;
    h.adcLast = 65535;
    h.scanCal = 1.0f;
    h.fringesPerFrame = 0.75f;
    h.objMag = 50.0f;
    h.wavelenSelect = 4;
    h.reserved164 = 99;
    h.reserved180[1] = 98;
    return h;
}

}  // namespace

TEST(RampDump, HeaderLinesInOffsetOrder) { EXPECT_EQ(dump_text(dump_header(), nullptr, false), zero_header_dump); }

TEST(RampDump, PointsOnePerLineOrCompact) {
    const uint16_t points[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 65535};
    EXPECT_EQ(dump_text(dump_header(), points, false),
              std::string(zero_header_dump) + "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n65535\n");
    // A break after the first point and after every tenth from then on.
    EXPECT_EQ(dump_text(dump_header(), points, true),
              std::string(zero_header_dump) + "0  \n1  2  3  4  5  6  7  8  9  10  \n65535  \n");
    rr_ramp_hdr_t h = dump_header();
    h.nPoints = 11;
    EXPECT_EQ(dump_text(h, points, true),
              std::string(zero_header_dump).replace(std::string(zero_header_dump).find("= 12\n"), 4, "= 11") +
                  "0  \n1  2  3  4  5  6  7  8  9  10  \n\n");
}

// The committed example files are exactly what the library writes today, they read
// back to their headers and points, carry their standard names and pass the
// instrument check of a system with their scanners.
TEST(RampExamples, CommittedFilesMatchTheLibrary) {
    test::TempDir dir;
    ASSERT_EQ(test::write_example_ramps(dir.path()), 0);
    int files = 0;
    for (const test::ExampleRamp& r : test::example_ramps()) {
        const std::string name = rr_get_std_ramp_filename(&r.hdr);
        const std::string committed = test::read_file(example_path(name));
        ASSERT_FALSE(committed.empty()) << name;
        EXPECT_EQ(committed, test::read_file(dir.file(name))) << name;
        EXPECT_EQ(committed.size(), 328u + 2u * r.points.size());

        rr_ramp_hdr_t back;
        uint16_t* points = nullptr;
        ASSERT_EQ(rr_read_ramp_file(example_path(name).c_str(), &back, &points), 0) << name;
        EXPECT_EQ(std::memcmp(&back, &r.hdr, sizeof back), 0) << name;
        ASSERT_NE(points, nullptr);
        EXPECT_EQ(std::memcmp(points, r.points.data(), r.points.size() * 2), 0) << name;
        u_free(points);
        EXPECT_STREQ(rr_get_std_ramp_filename(&back), name.c_str());

        test::SinkCapture sink;
        const int32_t pifoc = rr_is_pmi(back.rampType) ? -1 : back.pztID;
        const int32_t pzt = rr_is_pmi(back.rampType) ? back.pztID : -1;
        const float fpf = back.fringesPerFrame;
        EXPECT_EQ(rr_check_ramp_hdr(name.c_str(), &back, BOARD_SABLEQV, pifoc, pzt), 0) << name;
        EXPECT_EQ(back.fringesPerFrame, fpf);
        EXPECT_EQ(sink.text(), "");
        ++files;
    }
    EXPECT_EQ(files, 3);
    EXPECT_EQ(test::read_file(example_path("d10s81c25.b12345")).substr(0, 4), "RAMQ");
    EXPECT_FALSE(test::read_file(example_path("p5c15.q7")).empty());
    EXPECT_FALSE(test::read_file(example_path("d20s243c60m50.b12345")).empty());
}

}  // namespace mf
