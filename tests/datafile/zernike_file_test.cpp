#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/errors.h"
#include "datafile/zernike_file.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

const std::string tag = "! VAROZFR\n";
const std::string req = "! REQ 1 2 3 4 5\n";

struct ZernikeRead {
    int32_t status = -1;
    data_header header{};
    zernike_set set{};
    sw_info sw{};
    data_array phase{};
    std::string messages;
};

void read_text(ZernikeRead& r, const std::string& text) {
    test::SinkCapture capture;
    r.status = read_zernike_memory(text.data(), text.size(), &r.header, &r.set, &r.sw, &r.phase);
    r.messages = capture.text();
}

zernike_set counting_set(int16_t count) {
    zernike_set set{};
    set.count = count;
    for (int i = 0; i < count; ++i)
        set.coefficients[i] = (i + 1) * 1.5 - 20.0;
    return set;
}

}  // namespace

TEST(ZernikeReader, ReadsCountTypeScaleAndCoefficients) {
    ZernikeRead r;
    read_text(r, tag + req + "! SCF 2 3\n! SRC 1 64 48\n  A fit \nZFR 4 SUR WVL 0.5 SSZ 2\n1.5 -2.25e1\n3\n.5\n99\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(r.set.count, 4);
    EXPECT_EQ(r.set.coefficients[0], 1.5);
    EXPECT_EQ(r.set.coefficients[1], -22.5);
    EXPECT_EQ(r.set.coefficients[2], 3.0);
    EXPECT_EQ(r.set.coefficients[3], 0.5);
    EXPECT_EQ(r.set.coefficients[4], 0.0);
    // S ignores the SCF line, and the resolution code is 0 afterwards.
    EXPECT_EQ(+r.header.phase_scale, 2048.0f);
    EXPECT_EQ(+r.header.phase_res, 0);
    EXPECT_EQ(+r.header.surface, 1);
    EXPECT_EQ(+r.header.wavelength, static_cast<float>(0.5 * 1e-6));
    EXPECT_STREQ(r.header.comment, "A fit");
    EXPECT_EQ(r.phase.width, 64);
    EXPECT_EQ(r.phase.height, 48);
}

TEST(ZernikeReader, Failures) {
    struct Case {
        std::string text;
        int32_t status;
        const char* message;
    };
    const std::string head = tag + req + "title\n";
    const Case cases[] = {
        {"! VAROGRD\n" + req + "t\nGRD 1 1 SUR WVL 1 SSZ 1\n1\n", ERR_NOT_A_DATA_FILE,
         "Expected line 1 to be \"! VAROZFR\"\n"},
        {"", ERR_PREMATURE_EOF, ""},
        {tag + "! TMS 1\nt\n", ERR_CORRUPT_DATA_FILE, "Header is missing line beginning with \"! REQ\"\n"},
        {tag + req, ERR_CORRUPT_DATA_FILE, ""},
        {head + "ZFR 10 SUR WVL 1 SSZ 1\n1\n", ERR_CORRUPT_DATA_FILE, ""},
        {head + "ZFR x SUR WVL 1 SSZ 1\n1\n", ERR_CORRUPT_DATA_FILE, "Error reading line 4\n"},
        {head + "ZFR 3 SUR WVL 1 SSZ ?\n1\n", ERR_CORRUPT_DATA_FILE, "Error reading line 4\n"},
        {head + "ZFR 3 SUR WVL 1\n1 2 3\n", ERR_CORRUPT_DATA_FILE, ""},
        {head + "ZFR 3 SUR WVL 1 SSZ 1 GRD 1 1\n1 2 3\n", ERR_NOT_A_DATA_FILE, ""},
        {head + "ZRN 3 SUR WVL 1 SSZ 1\n1 2 3\n", ERR_NOT_A_DATA_FILE, ""},
        // NDA is passed over as a word, so its value is read as the next word.
        {head + "ZFR 3 SUR WVL 1 SSZ 1 NDA -32768\n1 2 3\n", ERR_NOT_A_DATA_FILE, ""},
        {head + "ZFR 3 SUR WVL 1 SSZ 1\n1 2\n", ERR_PREMATURE_EOF, ""},
        {head + "ZFR 3 SUR WVL 1 SSZ 1\n1 2 x\n", ERR_PREMATURE_EOF, ""},
    };
    for (const Case& c : cases) {
        ZernikeRead r;
        read_text(r, c.text);
        EXPECT_EQ(r.status, c.status) << c.text;
        EXPECT_EQ(r.messages, c.message) << c.text;
    }
    ZernikeRead ok_nda;
    read_text(ok_nda, head + "NDA ZFR 3 WFR WVL 1 SSZ 1\n1 2 3\n");
    EXPECT_EQ(ok_nda.status, 0);

    test::TempDir dir;
    data_header h{};
    zernike_set z{};
    sw_info sw{};
    EXPECT_EQ(read_zernike_file(dir.file("none.zfr").c_str(), &h, &z, &sw, nullptr), ERR_CANT_OPEN_FILE);
}

TEST(ZernikeWriter, SixCoefficientsPerLine) {
    test::TempDir dir;
    data_header h{};
    h.phase_scale = 4096.0f;
    h.wavelength = 0.5e-6f;
    h.surface = 1;
    std::strcpy(h.comment, "fit");
    const zernike_set set37 = counting_set(37);
    ASSERT_EQ(write_zernike_file(dir.file("a.zfr").c_str(), &h, &set37, nullptr, nullptr), 0);
    const std::string text = test::read_text_file(dir.file("a.zfr"));
    ASSERT_EQ(text.rfind("! VAROZFR\n! REQ 0 0 0 0 0\n", 0), 0u);
    EXPECT_NE(text.find("\n! SCF 0 0\n"), std::string::npos);
    const std::string tail = text.substr(text.find("\nfit\n") + 5);
    EXPECT_EQ(tail,
              "ZFR 37 SUR WVL 0.5 SSZ 1.000000\n"
              "    -18.5000     -17.0000     -15.5000     -14.0000     -12.5000     -11.0000 \n"
              "     -9.5000      -8.0000      -6.5000      -5.0000      -3.5000      -2.0000 \n"
              "     -0.5000       1.0000       2.5000       4.0000       5.5000       7.0000 \n"
              "      8.5000      10.0000      11.5000      13.0000      14.5000      16.0000 \n"
              "     17.5000      19.0000      20.5000      22.0000      23.5000      25.0000 \n"
              "     26.5000      28.0000      29.5000      31.0000      32.5000      34.0000 \n"
              "     35.5000 \n");

    const zernike_set set36 = counting_set(36);
    ASSERT_EQ(write_zernike_file(dir.file("b.zfr").c_str(), &h, &set36, nullptr, nullptr), 0);
    const std::string b = test::read_text_file(dir.file("b.zfr"));
    EXPECT_EQ(b.substr(b.size() - 80),
              "     26.5000      28.0000      29.5000      31.0000      32.5000      34.0000 \n\n");

    zernike_set odd = counting_set(3);
    odd.coefficients[0] = 1234567.123456;
    odd.coefficients[1] = -0.00005;
    odd.coefficients[2] = 0.00005;
    ASSERT_EQ(write_zernike_file(dir.file("c.zfr").c_str(), &h, &odd, nullptr, nullptr), 0);
    const std::string c = test::read_text_file(dir.file("c.zfr"));
    EXPECT_EQ(c.substr(c.find("ZFR 3")), "ZFR 3 SUR WVL 0.5 SSZ 1.000000\n1234567.1235      -0.0001       0.0001 \n");
}

TEST(ZernikeWriter, RefusesCountsOutsideTheSet) {
    test::TempDir dir;
    for (int16_t count : {0, 5, 10, 38, -3}) {
        const zernike_set set = counting_set(count > 0 && count <= 38 ? count : 0);
        zernike_set bad = set;
        bad.count = count;
        EXPECT_EQ(write_zernike_file(dir.file("x.zfr").c_str(), nullptr, &bad, nullptr, nullptr), ERR_INVALID_PARAM);
        EXPECT_EQ(test::read_file(dir.file("x.zfr")), "");
    }
    const zernike_set good = counting_set(9);
    EXPECT_EQ(write_zernike_file(dir.file("no/dir.zfr").c_str(), nullptr, &good, nullptr, nullptr),
              ERR_CANT_CREATE_FILE);
}

TEST(ZernikeRoundTrip, RecordsComeBack) {
    test::TempDir dir;
    data_header h{};
    h.req1 = 4, h.req3 = 2.5f;
    h.time_stamp = 1600000000;
    h.phase_res = 1;
    h.phase_scale = 8.0f;
    h.wavelength = 0.6328e-6f;
    h.sys3 = 4464, h.sys3_long = 70000;
    std::strcpy(h.psn, "position");
    sw_info sw{3, "k3dev", 1, 0, 2};
    data_array shape{};
    shape.width = 320;
    shape.height = 240;
    const zernike_set set = counting_set(16);
    ASSERT_EQ(write_zernike_file(dir.file("r.zfr").c_str(), &h, &set, &sw, &shape), 0);

    data_header back{};
    zernike_set set_back{};
    sw_info sw_back{};
    data_array shape_back{};
    ASSERT_EQ(read_zernike_file(dir.file("r.zfr").c_str(), &back, &set_back, &sw_back, &shape_back), 0);
    EXPECT_EQ(std::memcmp(&set, &set_back, sizeof set), 0);
    EXPECT_EQ(std::memcmp(&sw, &sw_back, sizeof sw), 0);
    EXPECT_EQ(shape_back.width, 320);
    EXPECT_EQ(shape_back.height, 240);
    EXPECT_EQ(+back.phase_res, 0);
    // The file carries SSZ = R / S = 4096; read back S = 4096 / SSZ.
    EXPECT_EQ(+back.phase_scale, 1.0f);
    EXPECT_NEAR(back.wavelength, h.wavelength, 1e-13);
    EXPECT_EQ(+back.sys3_long, 70000);
    EXPECT_EQ(+back.time_stamp, 1600000000);
    EXPECT_STREQ(back.psn, "position");
    // No comment: the title line, "Varo k3dev " and the 24-character time, stands in.
    const std::string comment = back.comment;
    EXPECT_EQ(comment.rfind("Varo k3dev ", 0), 0u) << comment;
    EXPECT_EQ(comment.size(), 11u + 24u) << comment;
}

}  // namespace mf
