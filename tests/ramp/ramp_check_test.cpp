#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "calfile/sysinfo.h"
#include "common/errors.h"
#include "ramp/ramp_file.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

rr_ramp_hdr_t swli(float fpf = 0.25f, float slope = 81.0f) {
    rr_ramp_hdr_t h{};
    h.rampType = RAMP_TYPE_SWLI;
    h.pztID = 100;
    h.rampSlope = slope;
    h.fringesPerFrame = fpf;
    return h;
}

rr_ramp_hdr_t pmi(int32_t buckets, float fpf, int32_t type = 1) {
    rr_ramp_hdr_t h{};
    h.rampType = type;
    h.pztID = 7;
    h.nBuckets = buckets;
    h.fringesPerFrame = fpf;
    return h;
}

struct CheckResult {
    int32_t status;
    std::string log;
    rr_ramp_hdr_t hdr;
};

CheckResult check(rr_ramp_hdr_t h, int32_t board = BOARD_SABLEQV, int32_t pifoc = 100, int32_t pzt = 7) {
    test::SinkCapture sink;
    const int32_t status = rr_check_ramp_hdr("r.b100", &h, board, pifoc, pzt);
    return {status, sink.text(), h};
}

}  // namespace

TEST(RampCheck, BoardCompatibility) {
    for (int32_t ramp_board : {0, 1, 8}) {
        rr_ramp_hdr_t h = swli();
        h.instrBdType = ramp_board;
        EXPECT_EQ(check(h, BOARD_CAN).status, 0) << ramp_board;
    }
    rr_ramp_hdr_t h = swli();
    h.instrBdType = BOARD_TARN;
    const CheckResult r = check(h, BOARD_CAN);
    EXPECT_EQ(r.status, ERR_WRONG_INSTR_BOARD);
    EXPECT_EQ(r.log, "Error: ramp data file r.b100 is not compatible with this instrument\n");
    EXPECT_EQ(check(h, BOARD_TARN).status, 0);
    EXPECT_EQ(check(h, BOARD_FENN).status, ERR_WRONG_INSTR_BOARD);
    h.instrBdType = BOARD_SABLEQV;
    EXPECT_EQ(check(h, BOARD_TARN).status, ERR_WRONG_INSTR_BOARD);
    // The board is judged before anything else, even an unknown ramp type.
    h.rampType = 16;
    EXPECT_EQ(check(h, BOARD_TARN).status, ERR_WRONG_INSTR_BOARD);
}

TEST(RampCheck, PmiNeedsAPztAndAdoptsItsSerial) {
    CheckResult r = check(pmi(5, 0.25f), BOARD_SABLEQV, 100, -1);
    EXPECT_EQ(r.status, ERR_INVALID_PARAM);
    EXPECT_EQ(r.log, "Error: ramp data file \"r.b100\" can only be used with a PZT\n");

    r = check(pmi(5, 0.25f, 15), BOARD_SABLEQV, -1, 9);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.log,
              "Warning: ramp data file \"r.b100\" was generated for a different PZT\n"
              "Changing ramp S/N from 7 to 9\n");
    EXPECT_EQ(r.hdr.pztID, 9);

    r = check(pmi(5, 0.25f), BOARD_SABLEQV, -1, 7);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.log, "");
}

TEST(RampCheck, UnknownTypesAreCorrupt) {
    for (int32_t type : {16, 18, 19, -1, 1000}) {
        rr_ramp_hdr_t h = swli();
        h.rampType = type;
        const CheckResult r = check(h);
        EXPECT_EQ(r.status, ERR_CORRUPT_RAMP_FILE);
        EXPECT_EQ(r.log, "Error: ramp data file \"r.b100\" is of unknown type " + std::to_string(type) + "\n");
    }
}

TEST(RampCheck, SwliAndBtwNeedAPifocAndAdoptItsSerial) {
    rr_ramp_hdr_t h = swli();
    h.rampType = RAMP_TYPE_BTW;
    CheckResult r = check(h, BOARD_SABLEQV, -1, 7);
    EXPECT_EQ(r.status, ERR_INVALID_PARAM);
    EXPECT_EQ(r.log, "Error: ramp data file \"r.b100\" can only be used with a PIFOC\n");

    r = check(swli(), BOARD_SABLEQV, 200, -1);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.log,
              "Warning: ramp data file \"r.b100\" was generated for a different PIFOC\n"
              "Changing ramp S/N from 100 to 200\n");
    EXPECT_EQ(r.hdr.pztID, 200);
}

TEST(RampCheck, SerialIsAdoptedBeforeTheFringeRuleRejects) {
    const CheckResult r = check(swli(0.5f), BOARD_SABLEQV, 200, -1);
    EXPECT_EQ(r.status, ERR_INVALID_PARAM);
    EXPECT_EQ(r.hdr.pztID, 200);
    EXPECT_EQ(r.log,
              "Warning: ramp data file \"r.b100\" was generated for a different PIFOC\n"
              "Changing ramp S/N from 100 to 200\n"
              "Error: invalid fringesPerFrame 0.5 in ramp data file \"r.b100\"\n");
}

TEST(RampCheck, PmiFringesPerFrame) {
    struct Case {
        int32_t buckets;
        float fpf;
        bool ok;
        float stored;
    } cases[] = {
        {7, 0.0f, true, 0.25f},     {5, 0.0f, true, 0.25f},    {11, 0.0f, true, 0.125f}, {13, 0.0f, true, 0.125f},
        {9, 0.0f, false, 0.0f},     {4, 0.0f, false, 0.0f},    {5, 0.25f, true, 0.25f},  {7, 0.125f, false, 0.125f},
        {11, 0.125f, true, 0.125f}, {13, 0.25f, false, 0.25f}, {5, 0.3f, false, 0.3f},   {14, 0.3f, true, 0.3f},
        {14, 0.0f, true, 0.0f},     {99, -2.0f, true, -2.0f},
    };
    for (const Case& c : cases) {
        const CheckResult r = check(pmi(c.buckets, c.fpf, 3));
        EXPECT_EQ(r.status, c.ok ? 0 : ERR_INVALID_PARAM) << c.buckets << " " << c.fpf;
        EXPECT_EQ(r.hdr.fringesPerFrame, c.stored) << c.buckets << " " << c.fpf;
    }
    const CheckResult r = check(pmi(9, 0.0f));
    EXPECT_EQ(r.log, "Error: invalid fringesPerFrame 0 in ramp data file \"r.b100\"\n");
}

TEST(RampCheck, SwliAndBtwFringesPerFrame) {
    struct Case {
        float fpf;
        float slope;
        bool ok;
        float stored;
    } cases[] = {
        {0.25f, 0, true, 0.25f},  {0.75f, 0, true, 0.75f},    {1.25f, 0, true, 1.25f},    {5.25f, 0, true, 5.25f},
        {0.5f, 0, false, 0.5f},   {1.0f, 0, false, 1.0f},     {-0.25f, 0, false, -0.25f}, {0.26f, 0, false, 0.26f},
        {0.0f, 81, true, 0.25f},  {0.0f, 243, true, 0.75f},   {0.0f, 405, true, 1.25f},   {0.0f, 567, true, 1.75f},
        {0.0f, 100, false, 0.0f}, {0.0f, 81.5f, false, 0.0f}, {0.0f, 0, false, 0.0f},
    };
    for (int32_t type : {RAMP_TYPE_SWLI, RAMP_TYPE_BTW}) {
        for (const Case& c : cases) {
            rr_ramp_hdr_t h = swli(c.fpf, c.slope);
            h.rampType = type;
            const CheckResult r = check(h);
            EXPECT_EQ(r.status, c.ok ? 0 : ERR_INVALID_PARAM) << type << " " << c.fpf << " " << c.slope;
            EXPECT_EQ(r.hdr.fringesPerFrame, c.stored) << type << " " << c.fpf << " " << c.slope;
        }
    }
    rr_ramp_hdr_t h = swli(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(check(h).status, ERR_INVALID_PARAM);
    h = swli(std::numeric_limits<float>::infinity());
    EXPECT_EQ(check(h).status, ERR_INVALID_PARAM);
}

TEST(RampCheck, AgainstASystemRecord) {
    sb_pifoc pifoc;
    pifoc.serial = 200;
    sysInfo si{};
    si.boardType = BOARD_SABLEQV;
    si.sysType = SYS_SCARPSABLEQV;
    si.serialNum = 7;
    si.scanner.pifoc = &pifoc;

    int32_t pifoc_serial = 0, pzt_serial = 0;
    ASSERT_EQ(rr_scanner_serials(&si, &pifoc_serial, &pzt_serial), 0);
    EXPECT_EQ(pifoc_serial, 200);
    EXPECT_EQ(pzt_serial, 7);

    test::SinkCapture sink;
    rr_ramp_hdr_t h = swli();
    EXPECT_EQ(rr_check_ramp_for_system("s", &h, &si), 0);
    EXPECT_EQ(h.pztID, 200);
    h = pmi(5, 0.25f);
    EXPECT_EQ(rr_check_ramp_for_system("p", &h, &si), 0);

    // ScarpSable and ScarpSableICO have no PZT.
    for (int32_t type : {SYS_SCARPSABLE, SYS_SCARPSABLEICO}) {
        si.sysType = type;
        ASSERT_EQ(rr_scanner_serials(&si, &pifoc_serial, &pzt_serial), 0);
        EXPECT_EQ(pzt_serial, -1);
        h = pmi(5, 0.25f);
        EXPECT_EQ(rr_check_ramp_for_system("p", &h, &si), ERR_INVALID_PARAM);
    }
    si.scanner.pifoc = nullptr;
    ASSERT_EQ(rr_scanner_serials(&si, &pifoc_serial, &pzt_serial), 0);
    EXPECT_EQ(pifoc_serial, -1);
    h = swli();
    EXPECT_EQ(rr_check_ramp_for_system("s", &h, &si), ERR_INVALID_PARAM);
    EXPECT_EQ(rr_check_ramp_for_system("s", &h, nullptr), ERR_SYS_INFO_NOT_AVAIL);
}

TEST(RampFileName, StandardNames) {
    rr_ramp_hdr_t h{};
    h.rampType = RAMP_TYPE_SWLI;
    h.scanLen = 10.2f;
    h.rampSlope = 81.0f;
    h.cameraRate = 25.0f;
    h.polar = 'b';
    h.pztID = 12345;
    EXPECT_STREQ(rr_get_std_ramp_filename(&h), "d10s81c25.b12345");

    h.rampType = RAMP_TYPE_BTW;
    h.objMag = 50.9f;
    EXPECT_STREQ(rr_get_std_ramp_filename(&h), "d10s81c25m50.b12345");

    h = rr_ramp_hdr_t{};
    h.rampType = 1;
    h.rampMux = 1;
    h.nBuckets = 5;
    h.cameraRate = 30.0f;
    h.grabSkip = 1;
    h.polar = 'x';
    h.pztID = 7;
    EXPECT_STREQ(rr_get_std_ramp_filename(&h), "p5c15.q7");
    h.rampMux = 0;
    h.rampType = 13;
    EXPECT_STREQ(rr_get_std_ramp_filename(&h), "p5c15.p7");
}

TEST(RampFileName, RateRoundsHalfUp) {
    rr_ramp_hdr_t h{};
    h.rampType = RAMP_TYPE_SWLI;
    h.scanLen = 99.99f;
    h.rampSlope = 567.9f;
    h.polar = 'a';
    h.pztID = 1;
    h.cameraRate = 25.0f;
    h.grabSkip = 1;  // 12.5
    EXPECT_STREQ(rr_get_std_ramp_filename(&h), "d99s567c13.a1");
    h.cameraRate = 29.97f;
    h.grabSkip = 0;
    EXPECT_STREQ(rr_get_std_ramp_filename(&h), "d99s567c30.a1");
    h.cameraRate = 74.9f;
    h.grabSkip = 2;  // 24.97
    EXPECT_STREQ(rr_get_std_ramp_filename(&h), "d99s567c25.a1");
}

TEST(RampFileName, UnsupportedTypesAndUnusableValuesGiveNoName) {
    test::SinkCapture sink;
    rr_ramp_hdr_t h{};
    h.rampType = 19;
    EXPECT_EQ(rr_get_std_ramp_filename(&h), nullptr);
    EXPECT_EQ(sink.text(), "rr_get_std_ramp_filename: unsupported ramp type 19\n");
    EXPECT_EQ(rr_get_std_ramp_filename(nullptr), nullptr);

    sink.clear();
    h.rampType = RAMP_TYPE_SWLI;
    h.cameraRate = 25.0f;
    h.grabSkip = -1;  // a division by zero
    EXPECT_EQ(rr_get_std_ramp_filename(&h), nullptr);
    EXPECT_EQ(sink.text(), "rr_get_std_ramp_filename: invalid ramp header values\n");
    h.grabSkip = 0;
    h.scanLen = 1e20f;
    EXPECT_EQ(rr_get_std_ramp_filename(&h), nullptr);
    h.scanLen = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(rr_get_std_ramp_filename(&h), nullptr);
}

// A field the type's name does not show may hold anything (NaN, huge) and still
// the ramp is named; a field it shows must be usable.
TEST(RampFileName, OnlyTheFieldsTheNameUsesAreChecked) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        int32_t type;
        float rr_ramp_hdr_t::*field;
        const char* name;  // nullptr: no name
    };
    const Case cases[] = {
        {RAMP_TYPE_SWLI, &rr_ramp_hdr_t::objMag, "d10s81c25.b12345"},
        {1, &rr_ramp_hdr_t::scanLen, "p5c25.p12345"},
        {1, &rr_ramp_hdr_t::rampSlope, "p5c25.p12345"},
        {1, &rr_ramp_hdr_t::objMag, "p5c25.p12345"},
        {RAMP_TYPE_BTW, &rr_ramp_hdr_t::objMag, nullptr},
        {RAMP_TYPE_SWLI, &rr_ramp_hdr_t::scanLen, nullptr},
        {RAMP_TYPE_SWLI, &rr_ramp_hdr_t::rampSlope, nullptr},
    };
    test::SinkCapture sink;
    for (const Case& c : cases) {
        for (float bad : {nan, 1e20f}) {
            SCOPED_TRACE(testing::Message() << "type " << c.type << " value " << bad);
            rr_ramp_hdr_t h{};
            h.rampType = c.type;
            h.scanLen = 10.2f;
            h.rampSlope = 81.0f;
            h.objMag = 50.0f;
            h.cameraRate = 25.0f;
            h.nBuckets = 5;
            h.polar = 'b';
            h.pztID = 12345;
            h.*c.field = bad;
            const char* got = rr_get_std_ramp_filename(&h);
            if (c.name)
                EXPECT_STREQ(got, c.name);
            else
                EXPECT_EQ(got, nullptr);
        }
    }
}

TEST(RampFringeCode, CodesAreFourTimesTheValue) {
    const float values[] = {0.25f, 0.75f, 1.25f, 1.75f, 2.25f, 2.75f, 5.25f};
    const int32_t codes[] = {1, 3, 5, 7, 9, 11, 21};
    for (int i = 0; i < 7; ++i) {
        int32_t code = -1;
        EXPECT_EQ(rr_fringe_code(values[i], &code), 0);
        EXPECT_EQ(code, codes[i]);
        code = -1;
        EXPECT_EQ(rr_fringe_code(values[i] + 0.0009f, &code), 0);
        EXPECT_EQ(code, codes[i]);
        EXPECT_EQ(rr_fringe_code(values[i] - 0.0009f, &code), 0);
        EXPECT_EQ(code, codes[i]);
    }
    test::SinkCapture sink;
    int32_t code = 77;
    for (float bad : {0.252f, 0.125f, 3.25f, 0.0f})
        EXPECT_EQ(rr_fringe_code(bad, &code), ERR_INTERNAL_HX);
    EXPECT_EQ(code, 77);
    EXPECT_EQ(sink.text(),
              "Invalid fringesPerFrame 0.252\nInvalid fringesPerFrame 0.125\n"
              "Invalid fringesPerFrame 3.25\nInvalid fringesPerFrame 0\n");
}

TEST(RampScanType, TableAndInvalidTypes) {
    const int32_t types[] = {1, 5, 9, 17, 33, 65};
    const float fpf[] = {0.25f, 0.75f, 1.25f, 1.75f, 2.25f, 2.75f};
    for (int i = 0; i < 6; ++i) {
        float v = 0;
        EXPECT_EQ(rr_scan_type_to_fpf(types[i], &v), 0);
        EXPECT_EQ(v, fpf[i]);
    }
    test::SinkCapture sink;
    float v = 9;
    EXPECT_EQ(rr_scan_type_to_fpf(2, &v), ERR_INTERNAL_HX);
    EXPECT_EQ(rr_scan_type_to_fpf(0, &v), ERR_INTERNAL_HX);
    EXPECT_EQ(v, 9);
    EXPECT_EQ(sink.text(), "Internal error: invalid scanType 2\nInternal error: invalid scanType 0\n");
}

TEST(RampTypeNames, Table) {
    const char* expected[20] = {"SWLI", "PMI", "PMI", "PMI", "PMI", "PMI", "?", "?",   "?", "?",
                                "?",    "PMI", "PMI", "PMI", "PMI", "PMI", "?", "BTW", "?", "FR"};
    for (int i = 0; i < 20; ++i)
        EXPECT_STREQ(rr_ramp_type_names[i], expected[i]) << i;
    EXPECT_STREQ(rr_ramp_type_name(20), "?");
    EXPECT_STREQ(rr_ramp_type_name(-1), "?");
    EXPECT_STREQ(rr_ramp_type_name(17), "BTW");
}

}  // namespace mf
