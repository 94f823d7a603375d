#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "common/errors.h"
#include "datafile/codev_block.h"
#include "datafile/grid_file.h"
#include "datafile/zernike_file.h"
#include "tests/support/file_faults.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

struct Phase {
    std::vector<int32_t> samples;
    data_array array{};
    Phase(int16_t width, int16_t height, std::vector<int32_t> values) : samples(std::move(values)) {
        array.capacity = static_cast<int32_t>(samples.size());
        array.width = width;
        array.height = height;
        array.data = samples.data();
    }
};

std::string blanks(size_t n) { return std::string(n, ' '); }

std::string zero_block(const std::string& swi, const std::string& src, const std::string& scf) {
    return "! REQ 0 0 0 0 0\n! TMS 0\n! SWI " + swi + "\n! COM \"" + blanks(81) + "\"\n! SRC " + src +
           "\n! MAG 0 0 0 0\n! ACQ 0\n! IAC 0\n! RMP 0 0 0\n! LLV 0 0 0\n! MOD 0 0\n! CON 0 0 0 0\n! SGN 0\n"
           "! SYS 0 0 0 0\n! ONM \"" +
           blanks(11) + "\"\n! PNM \"" + blanks(39) + "\"\n! PAC 0\n! SCF " + scf + "\n! ERR 0 \"" + blanks(27) +
           "\"\n! PSN \"" + blanks(39) + "\"\n";
}

}  // namespace

TEST(GridWriter, ExactBytesWithHalvingAndNoData) {
    test::TempDir dir;
    data_header header{};
    header.phase_scale = 2.0f;
    header.wavelength = 632.8e-9f;
    sw_info sw{2, "Halcyonide", 0, 0, 0};
    Phase phase(3, 2, {1, -2, invalid_phase, 40000, -40000, 7});
    ASSERT_EQ(write_grid_file(dir.file("a.grd").c_str(), &header, &phase.array, &sw), 0);
    const std::string expected = "! VAROGRD\n" +
                                 zero_block("2 0 0 0 \"Halcyonide                   \"", "0 3 2", "0 1") +
                                 "Varo Halcyonide \n"
                                 "GRD 3 2 WFR WVL 0.6328 SSZ 1024.000000 NDA -32768\n"
                                 "      0     -1 -32768  20000 -20000      3\n";
    EXPECT_EQ(test::read_text_file(dir.file("a.grd")), expected);
}

TEST(GridWriter, BlockLinesCarryEveryField) {
    data_header h{};
    h.req1 = 1, h.req2 = -2, h.req3 = 1.5e-7f, h.req4 = 123456789.0f, h.req5 = 0.1f;
    h.time_stamp = -5;
    std::strcpy(h.comment, "c");
    h.source = 4;
    h.mag1 = 2.5f, h.mag2 = -0.125f, h.mag3 = 1e10f, h.mag4 = 9;
    h.acq = 3, h.iac = 4;
    h.rmp1 = 5, h.rmp2 = 6, h.rmp3 = 7;
    h.llv1 = 8, h.llv2 = 0.5f, h.llv3 = 100000.0f;
    h.mod1 = 2000000000, h.mod2 = -1;
    h.con1 = -70000, h.con2 = 2, h.con3 = 3.25f, h.con4 = -4;
    h.sgn = -1;
    h.sys1 = 1, h.sys2 = 2, h.sys3 = 4464, h.sys3_long = 70000, h.sys4 = 4;
    std::strcpy(h.onm, "12345678901");
    std::strcpy(h.pnm, "p");
    h.pac = 6;
    h.phase_res = 2;
    h.err_value = -9;
    std::strcpy(h.err_text, "e r r");
    std::strcpy(h.psn, "s");
    sw_info sw{3, "k3dev", 1, 2, 3};
    std::string text;
    codev::append_header_block(text, h, sw, 5, 640, 480);
    const std::string expected =
        "! REQ 1 -2 1.5e-07 1.23457e+08 0.1\n! TMS -5\n! SWI 3 1 2 3 \"k3dev" + blanks(24) + "\"\n! COM \"c" +
        blanks(80) +
        "\"\n! SRC 4 640 480\n! MAG 2.5 -0.125 1e+10 9\n! ACQ 3\n! IAC 4\n! RMP 5 6 7\n! LLV 8 0.5 100000\n" +
        "! MOD 2000000000 -1\n! CON -70000 2 3.25 -4\n! SGN -1\n! SYS 1 2 70000 4\n! ONM \"12345678901\"\n! PNM \"p" +
        blanks(38) + "\"\n! PAC 6\n! SCF 2 5\n! ERR -9 \"e r r" + blanks(22) + "\"\n! PSN \"s" + blanks(38) + "\"\n";
    EXPECT_EQ(text, expected);

    // Without the 32-bit form the 16-bit one is written.
    h.sys3_long = 0;
    h.sys3 = -3;
    text.clear();
    codev::append_header_block(text, h, sw, 0, 1, 1);
    EXPECT_NE(text.find("\n! SYS 1 2 -3 4\n"), std::string::npos);
}

TEST(GridWriter, ShiftsWideSamplesIntoSixteenBits) {
    test::TempDir dir;
    data_header header{};
    header.phase_scale = 1.0f;
    Phase phase(2, 2, {-70000, 70000, 3, invalid_phase + 5});
    ASSERT_EQ(write_grid_file(dir.file("w.grd").c_str(), &header, &phase.array, nullptr), 0);
    const std::string text = test::read_text_file(dir.file("w.grd"));
    EXPECT_NE(text.find("\n! SCF 0 2\n"), std::string::npos);
    EXPECT_NE(text.find("\nGRD 2 2 WFR WVL 0 SSZ 1024.000000 NDA -32768\n -17500  17500      0 -32768\n"),
              std::string::npos);

    // The smallest valid sample alone decides as well: -32768 needs one bit.
    Phase low(1, 2, {-32768, 5});
    ASSERT_EQ(write_grid_file(dir.file("l.grd").c_str(), &header, &low.array, nullptr), 0);
    const std::string low_text = test::read_text_file(dir.file("l.grd"));
    EXPECT_NE(low_text.find("\n! SCF 0 1\n"), std::string::npos);
    EXPECT_NE(low_text.find("SSZ 2048.000000 NDA -32768\n -16384      2\n"), std::string::npos);
}

TEST(GridWriter, DataLinesHoldTenValues) {
    test::TempDir dir;
    data_header header{};
    header.phase_scale = 1.0f;
    std::vector<int32_t> values(20);
    for (int i = 0; i < 20; ++i)
        values[i] = i * 1000 - 9999;
    Phase phase(5, 4, values);
    ASSERT_EQ(write_grid_file(dir.file("t.grd").c_str(), &header, &phase.array, nullptr), 0);
    const std::string text = test::read_text_file(dir.file("t.grd"));
    const std::string data = text.substr(text.find("NDA -32768\n") + 11);
    EXPECT_EQ(data,
              "  -9999  -8999  -7999  -6999  -5999  -4999  -3999  -2999  -1999   -999\n"
              "      1   1001   2001   3001   4001   5001   6001   7001   8001   9001\n"
              "\n");

    Phase eleven(11, 1, std::vector<int32_t>(11, 32767));
    ASSERT_EQ(write_grid_file(dir.file("e.grd").c_str(), &header, &eleven.array, nullptr), 0);
    const std::string e = test::read_text_file(dir.file("e.grd"));
    EXPECT_EQ(e.substr(e.find("NDA -32768\n") + 11),
              "  32767  32767  32767  32767  32767  32767  32767  32767  32767  32767\n  32767\n");
}

TEST(GridWriter, TitleLine) {
    data_header h{};
    sw_info sw{};
    std::string title;
    codev::append_title_line(title, h, sw);
    EXPECT_EQ(title, "Varo Unknown Software \n");

    sw.type = 7;
    title.clear();
    codev::append_title_line(title, h, sw);
    EXPECT_EQ(title, "Varo \n");

    sw.type = 1;
    h.time_stamp = 1700000000;
    title.clear();
    codev::append_title_line(title, h, sw);
    EXPECT_TRUE(std::regex_match(title, std::regex("Varo Ostrabel (Mon|Tue|Wed|Thu|Fri|Sat|Sun) Nov 1[45] "
                                                   "[0-2][0-9]:[0-5][0-9]:20 2023\n")))
        << title;

    std::memset(h.comment, 'c', 81);
    title.clear();
    codev::append_title_line(title, h, sw);
    EXPECT_EQ(title, std::string(80, 'c') + "\n");
}

TEST(GridWriter, Failures) {
    test::TempDir dir;
    data_header header{};
    Phase bad(2, 1, {invalid_phase, 0x7FFFFFFF});
    EXPECT_EQ(write_grid_file(dir.file("bad.grd").c_str(), &header, &bad.array, nullptr), ERR_ALL_BAD_DATA);
    EXPECT_EQ(test::read_file(dir.file("bad.grd")), "");

    Phase fine(1, 1, {1});
    EXPECT_EQ(write_grid_file(dir.file("missing/x.grd").c_str(), &header, &fine.array, nullptr), ERR_CANT_CREATE_FILE);
    EXPECT_EQ(write_grid_file(dir.path().c_str(), &header, &fine.array, nullptr), ERR_CANT_CREATE_FILE);

    Phase too_big(2, 2, {1});
    EXPECT_EQ(write_grid_file(dir.file("big.grd").c_str(), &header, &too_big.array, nullptr), ERR_INVALID_PARAM);
    EXPECT_EQ(write_grid_file(dir.file("none.grd").c_str(), &header, nullptr, nullptr), ERR_INVALID_PARAM);
}

TEST(GridRoundTrip, HeaderFieldsAndShiftedSamplesComeBack) {
    test::TempDir dir;
    data_header h{};
    h.req1 = 3, h.req2 = 1, h.req3 = 0.5f, h.req4 = 1.25f, h.req5 = 0.01f;
    h.time_stamp = 1733650000;
    std::strcpy(h.comment, "Round trip");
    h.source = 2;
    h.mag1 = 2.5f, h.mag2 = 0.125f, h.mag3 = 1.0f, h.mag4 = 2;
    h.acq = 1, h.iac = 4, h.rmp1 = 5, h.rmp2 = 6, h.rmp3 = 7;
    h.llv1 = 120, h.llv2 = 0.75f, h.llv3 = 3.5f;
    h.mod1 = 100000, h.mod2 = -3;
    h.phase_res = 1;
    h.con1 = 70000, h.con2 = 3, h.con3 = 0.25f, h.con4 = -1;
    h.sgn = 1, h.sys1 = 12, h.sys2 = 8, h.sys3 = 4464, h.sys3_long = 70000, h.sys4 = 1;
    std::strcpy(h.onm, "operator");
    std::strcpy(h.pnm, "part name");
    h.surface = 1;
    h.pac = 2;
    h.err_value = 5;
    std::strcpy(h.err_text, "err");
    std::strcpy(h.psn, "SN-1");
    h.phase_scale = 8.0f;
    h.wavelength = 632.8e-9f;
    sw_info sw{1, "Ostrabel", 5, 2, 11};
    Phase phase(4, 2, {100001, -100001, 5, invalid_phase, 0, -1, 32767, -32768});
    ASSERT_EQ(write_grid_file(dir.file("r.grd").c_str(), &h, &phase.array, &sw), 0);

    data_header back{};
    sw_info sw_back{};
    data_array phase_back{};
    ASSERT_EQ(read_grid_file(dir.file("r.grd").c_str(), &back, &phase_back, &sw_back), 0);
    EXPECT_EQ(std::memcmp(&sw, &sw_back, sizeof sw), 0);
    // The scale and the wavelength pass through six-digit text; the rest is exact.
    EXPECT_NEAR(back.phase_scale, h.phase_scale, 1e-5);
    EXPECT_NEAR(back.wavelength, h.wavelength, 1e-13);
    back.phase_scale = h.phase_scale;
    back.wavelength = h.wavelength;
    EXPECT_EQ(std::memcmp(&h, &back, sizeof h), 0);
    ASSERT_EQ(phase_back.width, 4);
    ASSERT_EQ(phase_back.height, 2);
    // 100001 needs two bits dropped: the samples come back with those bits clear.
    const std::vector<int32_t> expected{100000, -100004, 4, invalid_phase, 0, -4, 32764, -32768};
    EXPECT_EQ(std::vector<int32_t>(phase_back.data, phase_back.data + 8), expected);
    da_release(&phase_back);
}

// The grid and Zernike writers replace a file's contents as a whole: every file
// fault leaves the old file or the complete new one.
TEST(GridWriter, EveryFileFaultLeavesTheFileWholeOrNew) {
    data_header header{};
    header.phase_scale = 2.0f;
    Phase phase(3, 2, {1, -2, invalid_phase, 40000, -40000, 7});
    zernike_set zernike{};
    zernike.count = 4;
    test::TempDir reference;
    ASSERT_EQ(write_grid_file(reference.file("a.grd").c_str(), &header, &phase.array, nullptr), 0);
    ASSERT_EQ(write_zernike_file(reference.file("a.zfr").c_str(), &header, &zernike, nullptr, nullptr), 0);
    for (const bool existing : {true, false}) {
        test::TempDir dir;
        const std::string grid = dir.file("a.grd"), zfr = dir.file("a.zfr");
        test::sweep_writer({grid,
                            "old grid",
                            existing,
                            test::read_file(reference.file("a.grd")),
                            [&] { return write_grid_file(grid.c_str(), &header, &phase.array, nullptr); },
                            ERR_CANT_CREATE_FILE,
                            {dir.path()}});
        test::sweep_writer({zfr,
                            "old zernike",
                            existing,
                            test::read_file(reference.file("a.zfr")),
                            [&] { return write_zernike_file(zfr.c_str(), &header, &zernike, nullptr, nullptr); },
                            ERR_CANT_CREATE_FILE,
                            {dir.path()}});
    }
}

}  // namespace mf
