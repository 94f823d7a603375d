#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calfile/sysinfo.h"
#include "common/error_codes.h"
#include "tests/calfile/cal_test_util.h"
#include "tests/support/capture.h"

namespace mf {
namespace {

struct Applied {
    int32_t code;
    std::string text;
};

Applied apply(const std::string& statement) {
    test::SinkCapture sink;
    const int32_t code = sb_readCal(0, ("+" + statement).c_str());
    return {code, sink.text()};
}

// The sink text of a statement that reports one message.
std::string reported(const std::string& statement, const std::string& message) {
    return "Error(s) reading system calibration info\n\"" + statement + "\":\n" + message + "\n";
}

class CalStatement : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(sb_readCal(0, "+DEFAULTS"), 0); }
    void TearDown() override { sb_setDefaults(si); }

    void ok(const std::string& statement) {
        const Applied a = apply(statement);
        EXPECT_EQ(a.code, 0) << statement << "\n" << a.text;
        EXPECT_EQ(a.text, "") << statement;
    }
    void fails(const std::string& statement, int32_t code, const std::string& message) {
        const Applied a = apply(statement);
        EXPECT_EQ(a.code, code) << statement;
        EXPECT_EQ(a.text, message.empty() ? std::string() : reported(statement, message)) << statement;
    }

    sysInfo* si = sb_slot(0);
};

TEST_F(CalStatement, DefaultsOfTheRecord) {
    EXPECT_EQ(si->light.type, LIGHT_HENE);
    EXPECT_DOUBLE_EQ(si->light.wavelength[0], 0.6328e-6);
    EXPECT_EQ(si->light.wavelength[1], 0);
    EXPECT_EQ(si->llc.target, 150);
    EXPECT_EQ(si->llc.freq[0], 35000);
    EXPECT_EQ(si->llc.freq[1], 35000);
    EXPECT_EQ(si->llc.config[0], 1);
    EXPECT_EQ(si->llc.config[1], 0);
    EXPECT_EQ(si->llc.alignModePct[1], 100);
    EXPECT_EQ(si->camera.pll, 1);
    EXPECT_EQ(si->scanner.pztpwr, -1);
    EXPECT_EQ(si->scanner.scanCal[1], 1);
    EXPECT_EQ(si->motion.turret[1], 5);
    EXPECT_EQ(si->motion.zAxisBacklash, 5);
    EXPECT_EQ(si->motion.zAxisCal, 1);
    EXPECT_EQ(si->motion.diffdiskrate, -1);
    EXPECT_EQ(si->motion.diffdiskfraction, 0.85);
    EXPECT_EQ(si->radCrvFocCal, 1);
    EXPECT_EQ(si->sleepTimeout, 14400);
    EXPECT_TRUE(std::isinf(si->wm.tuneRange[0]));
    EXPECT_EQ(si->sdcCal[14].s[5], sb_unset);
    EXPECT_EQ(si->sdcCal[14].s[6], 0);
    EXPECT_EQ(si->present.dualBrushMotor, 1);
    EXPECT_EQ(si->present.pzt, 1);
    EXPECT_STREQ(si->rampConfig, "rampcfg.txt");
}

TEST_F(CalStatement, SystemTypeLine) {
    ok("Tarn 99 52 999999 R");
    EXPECT_EQ(si->sysType, SYS_TARN);
    EXPECT_EQ(si->dateCode, 9952);
    EXPECT_EQ(si->serialNum, 999999);
    EXPECT_EQ(si->rFlag, 1);
    ok("wold 0 1 100");
    EXPECT_EQ(si->sysType, SYS_CAIRN);
    EXPECT_EQ(si->rFlag, 0);
    ok("STOB 1 1 100");
    EXPECT_EQ(si->sysType, SYS_KAME250);
    ok("FennSi 1 1 100");
    EXPECT_EQ(si->sysType, SYS_SKERRY);
    ok("Special 1 1 100");
    EXPECT_EQ(si->sysType, SYS_SPECIAL);
    fails("Tarn 100 1 100", ERR_SB_CALFILE_VALUE_RANGE, "100 out of range [0,99]");
    fails("Tarn 1 0 100", ERR_SB_CALFILE_VALUE_RANGE, "0 out of range [1,52]");
    fails("Tarn 1 53 100", ERR_SB_CALFILE_VALUE_RANGE, "53 out of range [1,52]");
    fails("Tarn 1 1 99", ERR_SB_CALFILE_VALUE_RANGE, "99 out of range [100,999999]");
    fails("Tarn 1 1 1000000", ERR_SB_CALFILE_VALUE_RANGE, "1000000 out of range [100,999999]");
    fails("Tarn 1 1 100 r", ERR_SB_CALFILE_SYNTAX, "Unrecognized string.");
    fails("Tarn 1 1 100 5", ERR_SB_CALFILE_SYNTAX, "Expected non-numeric string.");
    EXPECT_EQ(si->sysType, SYS_SPECIAL);  // refused lines change nothing
    fails("Tarn 1 x", ERR_SB_CALFILE_SYNTAX, "");
}

TEST_F(CalStatement, VersionAndBoardNames) {
    ok("Version X64LVDS 99999 NOTNEEDED");
    EXPECT_EQ(si->frameGrabber, FG_X64LVDS);
    EXPECT_EQ(si->versionNum, 99999 & 0xFF);
    EXPECT_EQ(si->boardType, BOARD_NOTNEEDED);
    ok("version pc2vision 0 WOLD");
    EXPECT_EQ(si->boardType, BOARD_CAIRN);
    fails("Version None 100000 None", ERR_SB_CALFILE_VALUE_RANGE, "100000 out of range [0,99999]");
    fails("Version GigE 1 Knap", ERR_SB_CALFILE_SYNTAX, "Unrecognized token \"Knap\"");
    fails("Version GigE 1 Unit", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    fails("Version Tarn 1 Tarn", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    fails("Version GigE 1", ERR_SB_CALFILE_SYNTAX, "Unexpected end-of-file.");
    fails("Version GigE 1 # board", ERR_SB_CALFILE_SYNTAX, "Unexpected end-of-line.");
}

TEST_F(CalStatement, IdentityTexts) {
    ok("InstrName \"Line 4, bay 2\"");
    EXPECT_STREQ(si->instrName, "Line 4, bay 2");
    ok("InstrComm COM4");
    EXPECT_STREQ(si->instrComm, "COM4");
    // A comment mark ends a quoted text like the line end does.
    EXPECT_EQ(apply("InstrName \"Line #2\"").code, ERR_EOL);
    EXPECT_STREQ(si->instrName, "Line 4, bay 2");
}

TEST_F(CalStatement, MacAddressCreatesTheCanRecord) {
    ok("MacAddress 00 1A 2b 0x3C FF 1ff");
    ASSERT_NE(si->canInfo, nullptr);
    const uint8_t expected[6] = {0x00, 0x1A, 0x2B, 0x3C, 0xFF, 0xFF};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(si->canInfo->mac[i], expected[i]) << i;
    EXPECT_EQ(si->canInfo->ip[0], 255);
    EXPECT_EQ(si->canInfo->zoom_codes[6], -2);
    EXPECT_EQ(apply("MacAddress 00 11 22").code, ERR_EOF);
    EXPECT_EQ(apply("MacAddress 00 11 22 # short").code, ERR_EOL);
    fails("MacAddress 01 zz 03 04 05 06", ERR_SB_CALFILE_SYNTAX, "Syntax error.");
    EXPECT_EQ(si->canInfo->mac[0], 0x00);
}

TEST_F(CalStatement, SingleValueRangesAtBothEnds) {
    struct Case {
        const char* name;
        const char* low;
        const char* high;
        const char* below;
        const char* above;
        const char* range;
    };
    const Case cases[] = {
        {"Unit", "0", "7", "-1", "8", "[0,7]"},
        {"InvertData", "0", "255", "-1", "256", "[0,255]"},
        {"PifocPolarity", "-1", "1", "-2", "2", "[-1,1]"},
        {"PztPwr", "-1", "1000", "-2", "1001", "[-1,1000]"},
        {"Zoom", "0", "255", "-1", "256", "[0,255]"},
        {"ZEncoder", "0", "1", "-1", "2", "[0,1]"},
        {"ZCanClosedLoop", "0", "1", "-1", "2", "[0,1]"},
        {"FennsiInvertData", "0", "255", "-1", "256", "[0,255]"},
        {"Camera Dark", "0", "32767", "-1", "32768", "[0,32767]"},
        {"Camera Options", "0", "268435455", "-1", "268435456", "[0,268435455]"},
        {"Camera PLL", "0", "1", "-1", "2", "[0,1]"},
        {"LLC Freq", "0", "1000000", "-1", "1000001", "[0,1000000]"},
        {"LLC Options", "0", "268435455", "-1", "268435456", "[0,268435455]"},
        {"LLC Target", "64", "255", "63", "256", "[64,255]"},
        {"ADC Clock", "0", "511", "-1", "512", "[0,511]"},
        {"PztId", "0", "99999", "-1", "100000", "[0,99999]"},
        {"PifocType", "0", "2", "-1", "3", "[0,2]"},
        {"TarnEncZoomConfig", "0", "255", "-1", "256", "[0,255]"},
        {"TarnEncZoomBacklash", "-1000", "1000", "-1001", "1001", "[-1000,1000]"},
        {"LLC AlignModePct", "0", "100", "-0.5", "100.5", "[0,100]"},
        {"ScanCal", "0.85", "1.15", "0.84", "1.16", "[0.85,1.15]"},
        {"XAxisBacklash", "0", "1000", "-1", "1001", "[0,1000]"},
        {"ZAxisBacklash", "0", "100", "-1", "101", "[0,100]"},
        {"ZAxisCal", "0.85", "1.15", "0.8", "1.2", "[0.85,1.15]"},
        {"DiffDiskRate", "10", "80", "9.5", "80.5", "[10,80]"},
        {"RadCrvFocCal", "-100", "100", "-101", "101", "[-100,100]"},
        {"RadCrvPwrCal", "-100", "100", "-101", "101", "[-100,100]"},
        {"wmSysGain", "0", "2147483647", "-1", "3e9", "[0,2.14748e+09]"},
        {"wmMonOPD", "0", "2147483647", "-1", "3e9", "[0,2.14748e+09]"},
        {"FennDmiScale", "1.5", "2.5", "1.4", "2.6", "[1.5,2.5]"},
        {"FennImageRot", "0", "1", "-0.1", "1.1", "[0,1]"},
    };
    for (const Case& c : cases) {
        const std::string name = c.name;
        ok(name + " " + c.low);
        ok(name + " " + c.high);
        for (const char* bad : {c.below, c.above}) {
            std::string shown = bad;
            if (shown == "3e9") shown = "3e+09";
            fails(name + " " + bad, ERR_SB_CALFILE_VALUE_RANGE, shown + " out of range " + c.range);
        }
    }
    ok("DiffDiskFraction 2");
    ok("DiffDiskFraction 0.001");
    fails("DiffDiskFraction 0", ERR_SB_CALFILE_VALUE_RANGE, "0 out of range (0,2]");
    fails("DiffDiskFraction 2.5", ERR_SB_CALFILE_VALUE_RANGE, "2.5 out of range (0,2]");
    EXPECT_EQ(si->motion.diffdiskfraction, 0.001);
    fails("Unit 99999999999", ERR_SB_CALFILE_VALUE_RANGE, "99999999999 out of range [0,7]");
}

TEST_F(CalStatement, ValuesLandInTheirFields) {
    ok("LLC Freq 1234");
    EXPECT_EQ(si->llc.freq[1], 1234);
    ok("LLC AlignModePct 12.5");
    EXPECT_EQ(si->llc.alignModePct[0], 12.5);
    EXPECT_EQ(si->llc.alignModePct[1], 12.5);
    ok("XAxisBacklash 0.1");
    EXPECT_EQ(si->motion.xAxisBacklash, 0.1f);
    ok("ScanCal 0.9");
    EXPECT_EQ(si->scanner.scanCal[0], 0.9);
    EXPECT_EQ(si->scanner.scanCal[1], 1);
    ok("ScanCal 0.9 1.1");
    EXPECT_EQ(si->scanner.scanCal[1], 1.1);
    ok("Turret 3");
    EXPECT_EQ(si->motion.turret[0], 3);
    EXPECT_EQ(si->motion.turret[1], 5);
    ok("Turret 1 8");
    EXPECT_EQ(si->motion.turret[1], 8);
    ok("Remote \"lab host\"");
    EXPECT_STREQ(sb_remote_name(), "lab host");
    ok("Ramp Configuration ramps_b.txt");
    EXPECT_STREQ(si->rampConfig, "ramps_b.txt");
    ok("Ramp Config ramps_c.txt");
    EXPECT_STREQ(si->rampConfig, "ramps_c.txt");
    fails("Ramp Clock x", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    fails("ADC Config 1", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    ok("wmTuneRange 1 2.5");
    EXPECT_EQ(si->wm.tuneRange[0], 1e9);
    EXPECT_EQ(si->wm.tuneRange[1], 2.5e9);
    fails("wmTuneRate 1", ERR_SB_CALFILE_SYNTAX, "Expected number.");
    ok("wmMaxBuckets 10 2047");
    EXPECT_EQ(si->wm.maxBuckets, 10);
    EXPECT_EQ(si->wm.memLimit, 2047LL * 1048576);
    fails("wmMaxBuckets 10 # limit", ERR_SB_CALFILE_SYNTAX, "Expected number.");
    ok("AbsWaveMeter 1 COM7");
    EXPECT_EQ(si->wm.absWaveMeter, 1);
    EXPECT_STREQ(si->wm.absWaveMeterPort, "COM7");
    // Keywords that are not statements.
    fails("XC77 1", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    fails(", 1", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
}

TEST_F(CalStatement, CameraTypeAndCustomCameraByBoard) {
    ok("Camera Type XC77");
    EXPECT_EQ(si->camera.type, CAM_XC77CE);
    fails("Camera Type CUSTOM", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    fails("Camera Type HeNe", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    fails("Camera Type INFRACAMA", ERR_SB_CALFILE_SYNTAX, "Unrecognized token \"INFRACAMA\"");

    ok("Version None 0 SableQv");
    Applied a = apply("Camera Type CUSTOM");
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.text, "Setting interlaceFlag to 0\n");
    EXPECT_EQ(si->camera.type, CAM_CUSTOM);
    const int32_t preset[9] = {0, 0, 1, 0, 1, 1, 1, 0, 1};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(si->camera.c[i], preset[i]) << i;
    EXPECT_EQ(apply("Camera Type custom 1").text, "Setting interlaceFlag to 1\n");
    EXPECT_EQ(si->camera.interlaceFlag, 1);
    a = apply("Camera Type CUSTOM x");
    EXPECT_EQ(a.code, ERR_SB_CALFILE_SYNTAX);
    EXPECT_EQ(a.text, "");
    fails("Camera Type CUSTOM 2", ERR_SB_CALFILE_VALUE_RANGE, "2 out of range [0,1]");

    ok("Version None 0 Brae");
    a = apply("Camera Type CUSTOM 1");
    EXPECT_EQ(a.text, "Setting fieldCtrl to 1\n");
    EXPECT_EQ(si->camera.interlaceFlag, 1);
    EXPECT_EQ(si->camera.c[0], 5);
    EXPECT_EQ(si->camera.c[8], 1);

    ok("Version None 0 CAN");
    ok("Camera Type CUSTOM 0");
    EXPECT_EQ(si->camera.interlaceFlag, 0);
    EXPECT_EQ(si->camera.c[8], 0);
}

TEST_F(CalStatement, CameraConfigNeedsABoardFromAnEarlierVersion) {
    fails("Camera Config 1 5", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    ok("Version None 0 Tarn");
    ok("Camera Config 0 15");
    EXPECT_EQ(si->camera.interlaceFlag, 0);
    EXPECT_EQ(si->camera.c[0], 15);
    fails("Camera Config 1 16", ERR_SB_CALFILE_VALUE_RANGE, "16 out of range [0,15]");
    ok("Version None 0 Fenn");
    ok("Camera Config 1 0 3 0 1 0 1 0");
    EXPECT_EQ(si->camera.c[3], 3);
    EXPECT_EQ(si->camera.c[8], 0);
    fails("Camera Config 1 0 4 0 1 0 1 0", ERR_SB_CALFILE_VALUE_RANGE, "4 out of range [0,3]");
    fails("Camera Config 1 0 3 0 1 0 1 2", ERR_SB_CALFILE_VALUE_RANGE, "2 out of range [0,1]");
}

TEST_F(CalStatement, CameraBadPixels) {
    ok("Camera Bad [0,0] [700,484]");
    ok("Camera BPixels [ 5 , 6 ]");
    ASSERT_EQ(si->camera.badPixelCount, 3);
    EXPECT_EQ(si->camera.badPixels[1].x, 700);
    EXPECT_EQ(si->camera.badPixels[1].y, 484);
    EXPECT_EQ(si->camera.badPixels[2].y, 6);
    fails("Camera Bad [701,0]", ERR_SB_CALFILE_VALUE_RANGE, "701 out of range [0,700]");
    fails("Camera Bad [1,485]", ERR_SB_CALFILE_VALUE_RANGE, "485 out of range [0,484]");
    fails("Camera Bad [1 2]", ERR_SB_CALFILE_SYNTAX, "Syntax error.");
    fails("Camera Bad [1,2", ERR_SB_CALFILE_SYNTAX, "Syntax error.");
    fails("Camera Bad 5", ERR_SB_CALFILE_SYNTAX, "Syntax error.");
    EXPECT_EQ(si->camera.badPixelCount, 3);
    std::string many = "Camera Bad";
    for (int i = 0; i < 37; ++i)
        many += " [1,1]";
    ok(many);
    EXPECT_EQ(si->camera.badPixelCount, 40);
    fails("Camera Bad [2,2]", ERR_SB_CALFILE_VALUE_RANGE, "Too many camera bad pixels.");
    EXPECT_EQ(si->camera.badPixelCount, 40);
}

TEST_F(CalStatement, CameraFilesBpixSplitAndTrans) {
    ok("Camera File a.dcf NULL c.dcf");
    EXPECT_STREQ(si->camera.files[0], "a.dcf");
    EXPECT_EQ(si->camera.files[1], nullptr);
    EXPECT_STREQ(si->camera.files[2], "c.dcf");
    ok("Camera File \"d d.dcf\"");
    EXPECT_STREQ(si->camera.files[0], "d d.dcf");
    EXPECT_EQ(si->camera.files[2], nullptr);
    ok("Camera File a b c d e f");
    EXPECT_STREQ(si->camera.files[5], "f");
    fails("Camera File a b c d e f g", ERR_SB_CALFILE_SYNTAX, "Too many camera file names.");
    fails("Camera File a 5", ERR_SB_CALFILE_SYNTAX, "Expected non-numeric string.");
    EXPECT_EQ(apply("Camera File").code, ERR_EOF);

    ok("Camera Bpix 1 bp.dat");
    EXPECT_EQ(si->camera.bpixFlag, 1);
    EXPECT_STREQ(si->camera.bpixFile, "bp.dat");
    ok("Camera Bpix 0");
    EXPECT_EQ(si->camera.bpixFlag, 0);
    fails("Camera Bpix 1 9x", ERR_SB_CALFILE_SYNTAX, "Expected non-numeric string.");
    fails("Camera Bpix 2", ERR_SB_CALFILE_VALUE_RANGE, "2 out of range [0,1]");

    ok("Camera SplitY 2047 10");
    EXPECT_EQ(si->camera.splitDir, 2);
    EXPECT_EQ(si->camera.splitLoc, 2047);
    EXPECT_EQ(si->camera.splitValue, 10);
    fails("Camera SplitX 0 1", ERR_SB_CALFILE_VALUE_RANGE, "0 out of range [1,2047]");
    ok("Camera Period 5 anything");

    // Refused with its message alone: string mode reports the statement as invalid.
    fails("Camera Trans 0 1 1", ERR_SB_CALFILE_INVALID,
          "A NomMag or SysMag specification must appear\nbefore a Camera Trans specification.");
    EXPECT_EQ(si->camera.trans[0][0], 0);
    ok("NomMag 1 2");
    ok("Camera Trans 14 -2047 2047");
    EXPECT_EQ(si->camera.trans[14][0], -2047);
    EXPECT_EQ(si->camera.trans[14][1], 2047);
    fails("Camera Trans 15 0 0", ERR_SB_CALFILE_VALUE_RANGE, "15 out of range [0,14]");
    fails("Camera Foo", ERR_SB_CALFILE_SYNTAX, "Unrecognized token \"Foo\"");
    fails("Camera Unit", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    fails("Camera", ERR_SB_CALFILE_SYNTAX, "Unexpected end-of-file.");
}

TEST_F(CalStatement, LightPresetsAndItems) {
    ok("Light HeNe");
    for (double w : si->light.wavelength)
        EXPECT_DOUBLE_EQ(w, 0.6328e-6);
    ok("Light Diode 0.1 [15,1] 0.5 0.6 0.7");  // a fifth item is ignored
    EXPECT_EQ(si->light.type, LIGHT_DIODE);
    EXPECT_DOUBLE_EQ(si->light.wavelength[1], 15e-6);
    EXPECT_DOUBLE_EQ(si->light.bandwidth[1], 1e-6);
    EXPECT_DOUBLE_EQ(si->light.wavelength[3], 0.6e-6);
    fails("Light LED", ERR_SB_CALFILE_SYNTAX, "At least one wavelength value required.");
    fails("Light Diode 0.05", ERR_SB_CALFILE_VALUE_RANGE, "0.05 out of range [0.1,15]");
    fails("Light White [0.5,1.5]", ERR_SB_CALFILE_VALUE_RANGE, "1.5 out of range [0,1]");
    fails("Light White [0.5 0.1]", ERR_SB_CALFILE_SYNTAX, "Syntax error.");
    fails("Light White 0.5 abc", ERR_SB_CALFILE_SYNTAX, "Syntax error.");
    fails("Light Camera 0.5", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    EXPECT_EQ(si->light.type, LIGHT_DIODE);

    ok("Kame250 1 1 100");
    ok("Light White 1");
    EXPECT_DOUBLE_EQ(si->light.wavelength[0], 1e-6);
    ok("Light HeNe");
    EXPECT_DOUBLE_EQ(si->light.wavelength[0], 0.655e-6);
    EXPECT_EQ(si->light.wavelength[1], 0);
    ok("Tarn 1 1 100");
    ok("Version None 0 Cairn");
    ok("Light HeNe");
    EXPECT_DOUBLE_EQ(si->light.wavelength[0], 12.75e-6);
    ok("Version None 0 Fenn");
    ok("Light HeNe");
    EXPECT_DOUBLE_EQ(si->light.wavelength[0], 9e-6);
    ok("Light White 1 2 3");
    ok("Version None 0 CAN");
    ok("Light Special 5");
    EXPECT_DOUBLE_EQ(si->light.wavelength[0], 5e-6);
    EXPECT_DOUBLE_EQ(si->light.wavelength[1], 2e-6);  // nothing preset on a CAN board
    EXPECT_DOUBLE_EQ(si->light.wavelength[2], 3e-6);
}

TEST_F(CalStatement, LightLevelControl) {
    ok("LLC AvgCurLimit 0 1000");
    EXPECT_EQ(si->llc.avgCurLimit[1], 1000);
    EXPECT_EQ(si->llc.avgCurLimit[2], 0);
    ok("LLC AvgCurLimit 1 2 3 4");
    EXPECT_EQ(si->llc.avgCurLimit[3], 4);
    fails("LLC AvgCurLimit 1 1001", ERR_SB_CALFILE_VALUE_RANGE, "1001 out of range [0,1000]");
    ok("LLC FwdVoltage 10000 0 5 6");
    EXPECT_EQ(si->llc.fwdVoltage[0], 10000);
    fails("LLC FwdVoltage 1 2 3 10001", ERR_SB_CALFILE_VALUE_RANGE, "10001 out of range [0,10000]");
    ok("LLC Config 4");
    EXPECT_EQ(si->llc.config[0], 5);
    EXPECT_EQ(si->llc.config[1], 0);
    ok("LLC Configuration 2 254");
    EXPECT_EQ(si->llc.config[0], 3);
    EXPECT_EQ(si->llc.config[1], 255);
    ok("LLC Instr DD100MC_B COM5");
    EXPECT_EQ(si->llc.instr, LLC_DD100MC_B);
    EXPECT_STREQ(si->llc.port, "COM5");
    ok("LLC Instr cairn");
    EXPECT_EQ(si->llc.instr, LLC_CAIRN);
    EXPECT_EQ(si->llc.port, nullptr);
    fails("LLC Instr None", ERR_SB_CALFILE_SYNTAX, "");
    EXPECT_EQ(apply("LLC Instr DD100MC").code, ERR_EOF);
    ok("LLC Range 0 65535 0 4096");
    EXPECT_EQ(si->llc.range[1], 65535);
    EXPECT_EQ(si->llc.range[3], 4096);
    fails("LLC Range 0 65536", ERR_SB_CALFILE_VALUE_RANGE, "65536 out of range [0,65535]");
    fails("LLC Range 0 1 0 4097", ERR_SB_CALFILE_VALUE_RANGE, "4097 out of range [0,4096]");
    fails("LLC Bogus 1", ERR_SB_CALFILE_SYNTAX, "Unrecognized token \"Bogus\"");
    fails("LLC Dark 1", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
}

TEST_F(CalStatement, ScannerRecords) {
    ok("Pifoc 1234 0.9 0");
    ASSERT_NE(si->scanner.pifoc, nullptr);
    EXPECT_EQ(si->scanner.pifoc->serial, 1234);
    EXPECT_EQ(si->scanner.pifoc->k, 0.9);
    EXPECT_EQ(si->scanner.pifoc->beta, 0);
    fails("Pifoc 1234 0.9 0.001", ERR_SB_CALFILE_VALUE_RANGE,
          "Beta = 0.001 is non-zero and is not in range [0.005,0.1]");
    fails("Pifoc 1234 0.9 0.2", ERR_SB_CALFILE_VALUE_RANGE, "0.2 out of range [0,0.1]");
    fails("Pifoc 1234 2.5 0.01", ERR_SB_CALFILE_VALUE_RANGE, "2.5 out of range [0.5,2]");
    fails("Pifoc 1000000", ERR_SB_CALFILE_VALUE_RANGE, "1000000 out of range [0,999999]");
    ok("Pifoc 999999 0.5 0.005");
    ok("Pifoc 77");
    EXPECT_EQ(si->scanner.pifoc->serial, 77);
    EXPECT_EQ(si->scanner.pifoc->k, 0.928655);
    EXPECT_EQ(si->scanner.pifoc->beta, 0.0144);
    ok("PifocType 2");
    ok("PztId 99999");
    EXPECT_EQ(si->scanner.pifoc->serial, 99999);
    EXPECT_EQ(si->scanner.pifoc->type, 2);
    ASSERT_EQ(sb_readCal(0, "+DEFAULTS"), 0);
    ok("PifocType 1");
    ASSERT_NE(si->scanner.pifoc, nullptr);
    EXPECT_EQ(si->scanner.pifoc->serial, 0);
}

TEST_F(CalStatement, Magnifications) {
    fails("NomMag x", ERR_SB_CALFILE_SYNTAX, "Expected number.");
    ok("NomMag 1 2 3");
    EXPECT_EQ(si->mag.count, 3);
    EXPECT_EQ(si->mag.nom[2], 3);
    fails("SysMag 1 2", ERR_SB_CALFILE_INCONSISTENT,
          "The number of NomMag values and\nthe number of SysMag values are mismatched.");
    ok("NomMag 5 6");
    EXPECT_EQ(si->mag.nom[2], 0);
    ok("SysMag 0 100");
    fails("SysMag 101", ERR_SB_CALFILE_VALUE_RANGE, "101 out of range [0,100]");
    std::string sixteen = "NomMag";
    for (int i = 0; i < 16; ++i)
        sixteen += " 1";
    fails(sixteen, ERR_SB_CALFILE_SYNTAX, "Too many NomMag or SysMag values.");
}

TEST_F(CalStatement, MotionAndPositionInstruments) {
    ok("MotionCtrl pmac \"port=3 axes=2\"");
    EXPECT_STREQ(si->motion.motionCtrl[0], "pmac");
    EXPECT_STREQ(si->motion.motionCtrl[1], "port=3 axes=2");
    EXPECT_EQ(apply("MotionCtrl only").code, ERR_EOF);
    EXPECT_STREQ(si->motion.motionCtrl[0], "pmac");
    ok("PosInstr VMI COM2 extra");
    EXPECT_EQ(si->motion.posInstr, POS_VMI);
    EXPECT_STREQ(si->motion.posText, "extra");
    ok("PosInstr Renishaw_StepNet COM3");
    EXPECT_EQ(si->motion.posInstr, POS_RENISHAW_STEPNET);
    EXPECT_STREQ(si->motion.posPort, "COM3");
    EXPECT_EQ(si->motion.posText, nullptr);
    fails("PosInstr Light COM3", ERR_SB_CALFILE_SYNTAX, "Unexpected token.");
    ok("TempSensor Euro2216e COM6");
    EXPECT_EQ(si->motion.tempSensor, TEMP_EURO2216E);
    EXPECT_STREQ(si->motion.tempPort, "COM6");
    fails("TempSensor None COM6", ERR_SB_CALFILE_SYNTAX, "");
    ok("PendentMenu menu.txt");
    ok("AxisComp_T comp_t.txt");
    EXPECT_STREQ(si->motion.axisComp[4], "comp_t.txt");
    ok("IgnoreLAPS");
    ok("IgnoreZoom");
    EXPECT_EQ(si->present.laps, 0);
    EXPECT_EQ(si->present.zoom, 0);
    EXPECT_EQ(si->present.wand, 1);
    ok("NoIntensAvg");
    EXPECT_EQ(si->noIntensAvg, 1);
}

TEST_F(CalStatement, PidValues) {
    ok("PidVals_X Fast 8388607 -8388608 0 8388607 1 5 2 -2 0.5 0");
    ASSERT_NE(si->motion.pid[5], nullptr);
    EXPECT_EQ(si->motion.pid[5]->fast.i[0], 8388607);
    EXPECT_EQ(si->motion.pid[5]->fast.r[1], -2);
    EXPECT_EQ(si->motion.pid[5]->slow.i[0], 700);
    EXPECT_EQ(si->motion.pid[5]->slow.i[2], 15050);
    ok("pidvals_a 1 2 3 4 0 6 0.1 0.2 0.3 0.4");
    EXPECT_EQ(si->motion.pid[0]->fast.i[5], 6);
    EXPECT_EQ(si->motion.pid[0]->slow.r[3], 0.4);
    fails("PidVals_Y Medium 1 2 3 4 0 6 0 0 0 0", ERR_SB_CALFILE_SYNTAX, "Unrecognized string.");
    fails("PidVals_Y Slow -8388609 2 3 4 0 6 0 0 0 0", ERR_SB_CALFILE_VALUE_RANGE,
          "-8388609 out of range [-8388608,8388607]");
    fails("PidVals_Y 1 2 3 4 2 6 0 0 0 0", ERR_SB_CALFILE_VALUE_RANGE, "2 out of range [0,1]");
    fails("PidVals_Y 1 2 3 4 1 6 0 0 0 2.5", ERR_SB_CALFILE_VALUE_RANGE, "2.5 out of range [-2,2]");
    EXPECT_EQ(si->motion.pid[6], nullptr);  // refused statements create no record
}

TEST_F(CalStatement, RingSpotOnlyOnItsBoards) {
    ok("RingSpot");
    EXPECT_EQ(si->ringSpot, 0);
    ok("Version None 0 CAN");
    ok("Brae_CAN 1 1 100");
    ok("RingSpot");
    EXPECT_EQ(si->ringSpot, 1);
    ASSERT_EQ(sb_readCal(0, "+DEFAULTS"), 0);
    ok("Version None 0 Tarn");
    ok("RingSpot");
    EXPECT_EQ(si->ringSpot, 1);
}

TEST_F(CalStatement, SdcCalAndRadiusScales) {
    ok("SdcCal 3 1 -2");
    EXPECT_EQ(si->sdcCal[3].s[0], 1);
    EXPECT_EQ(si->sdcCal[3].s[1], -2);
    EXPECT_EQ(si->sdcCal[3].s[2], sb_unset);
    EXPECT_EQ(si->sdcCal[3].s[7], 0);
    fails("SdcCal 3 1 x", ERR_SB_CALFILE_SYNTAX, "");
    fails("SdcCal 3 1 2 3 4 5 6 -1", ERR_SB_CALFILE_VALUE_RANGE, "-1 out of range [0,3.40282e+38]");
    fails("SdcCal 3 1e39", ERR_SB_CALFILE_VALUE_RANGE, "1e+39 out of range [-3.40282e+38,3.40282e+38]");
    ok("EncodedRadiusScale 1 0.5 1 20");
    EXPECT_EQ(si->encodedRadiusScale.given, 1);
    EXPECT_EQ(si->encodedRadiusScale.n, 20);
    EXPECT_EQ(si->encodedRadiusScale.c, 0);
    ok("IntfRadiusScale 0 0 0 0 0.25");
    EXPECT_EQ(si->intfRadiusScale.c, 0.25);
    fails("IntfRadiusScale 0 0 0 21", ERR_SB_CALFILE_VALUE_RANGE, "21 out of range [0,20]");
}

TEST_F(CalStatement, TimeValues) {
    ok("SleepTimeout 5:47:44");
    EXPECT_EQ(si->sleepTimeout, 20864);
    ok("SleepTimeout 1");
    EXPECT_EQ(si->sleepTimeout, 3600);
    ok("SleepTimeout 0:30");
    EXPECT_EQ(si->sleepTimeout, 1800);
    fails("SleepTimeout 5:48", ERR_SB_CALFILE_VALUE_RANGE, "Value out-of-range.");
    fails("SleepTimeout 6", ERR_SB_CALFILE_VALUE_RANGE, "Value out-of-range.");
    fails("SleepTimeout 1 30", ERR_SB_CALFILE_SYNTAX, "Syntax error.");
    fails("SleepTimeout 0:101", ERR_SB_CALFILE_VALUE_RANGE, "101 out of range [0,100]");
    EXPECT_EQ(si->sleepTimeout, 1800);
    ok("FennZeroGagePer 100");
    EXPECT_EQ(si->fenn->zeroGagePer, 8640000);
    ok("FennSysInitPer 1:2:3:4");
    EXPECT_EQ(si->fenn->zeroGagePer, 86400 + 7200 + 180 + 4);
    fails("FennZeroGagePer 100:0:0:1", ERR_SB_CALFILE_VALUE_RANGE, "Value out-of-range.");
    ok("FennTemperature 0:1:0:0 0.5");
    EXPECT_EQ(si->fenn->temperaturePer, 3600);
    EXPECT_EQ(si->fenn->temperatureTol, 0.5);
    fails("FennTemperature 0:1 0.5", ERR_SB_CALFILE_SYNTAX, "Syntax error.");
    fails("FennTemperature 0:0:0:1 6", ERR_SB_CALFILE_VALUE_RANGE, "6 out of range [0,5]");
}

TEST_F(CalStatement, FennTablesNeedMagnifications) {
    fails("FennDisper 0 1 2", ERR_SB_CALFILE_INVALID,
          "A NomMag or SysMag specification must appear\nbefore an FennDisper or FennAvg_K0 specification.");
    fails("FennAvgK0 0 1 2", ERR_SB_CALFILE_INVALID,
          "A NomMag or SysMag specification must appear\nbefore an FennDisper or FennAvg_K0 specification.");
    fails("FennDmiCenter 0 1 2", ERR_SB_CALFILE_INVALID,
          "A NomMag or SysMag specification must appear\nbefore an FennDmiCenter specification.");
    fails("FennTiltCenter 0 1 2", ERR_SB_CALFILE_INVALID,
          "A NomMag or SysMag specification must appear\nbefore an FennTiltCenter specification.");
    ok("SysMag 1");
    ok("FennDisper 14 6.283185307179586 -6.283185307179586");
    EXPECT_EQ(si->fenn->disper[14][1], -6.283185307179586);
    EXPECT_EQ(si->fenn->disper[14][2], sb_unset);
    ok("FennAvg_K0 2 0 1 2 3 4 5 6 7 8 100");
    EXPECT_EQ(si->fenn->avgK0[2][9], 100);
    fails("FennAvg_K0 2 0 1 2 3 4 5 6 7 8 9 10", ERR_SB_CALFILE_SYNTAX, "Too many FennDisper or FennAvg_K0 values.");
    fails("FennDisper 1 0.5", ERR_SB_CALFILE_SYNTAX, "Not enough FennDisper or FennAvg_K0 values.");
    fails("FennDisper 1", ERR_SB_CALFILE_SYNTAX, "Expected number.");
    fails("FennDisper 1 0 7", ERR_SB_CALFILE_VALUE_RANGE, "7 out of range [-6.28319,6.28319]");
    ok("FennTiltCenter 3 -100 100");
    EXPECT_EQ(si->fenn->tiltCenter[3][0], -100);
    ok("FennSys 1 0 -1 10");
    EXPECT_EQ(si->fenn->sys[3], 10);
    ok("FennZeroPtPos 1.5");
    EXPECT_EQ(si->fenn->zeroPtPos[0], 1.5);
    EXPECT_TRUE(std::isinf(si->fenn->zeroPtPos[1]));
    ok("FennLog fenn.log 2.9");
    EXPECT_EQ(si->fenn->logSettings[0], 2);
    EXPECT_EQ(si->fenn->logSettings[1], 500000);
}

TEST_F(CalStatement, DynWaveGenAndEncodedZoom) {
    ok("DynWaveGen 7 30 96");
    ASSERT_NE(si->dynWaveGen, nullptr);
    EXPECT_EQ(si->dynWaveGen->value[0], 7);
    EXPECT_EQ(si->dynWaveGen->value[2], 96);
    ok("DynWaveGen -3 0 0");
    EXPECT_EQ(si->dynWaveGen->value[0], -3);
    fails("DynWaveGen 7 30 95", ERR_SB_CALFILE_VALUE_RANGE, "95 out of range [96,126] and 0");
    EXPECT_EQ(si->dynWaveGen, nullptr);  // discarded on any error
    fails("DynWaveGen 7 31 96", ERR_SB_CALFILE_VALUE_RANGE, "31 out of range [0,30]");
    EXPECT_EQ(si->dynWaveGen, nullptr);
    // The two words are read as the C library reads a decimal integer: a word
    // without leading digits is 0, digits before other characters count.
    ok("DynWaveGen seven 1 x96");
    ASSERT_NE(si->dynWaveGen, nullptr);
    EXPECT_EQ(si->dynWaveGen->value[0], 0);
    EXPECT_EQ(si->dynWaveGen->value[1], 1);
    EXPECT_EQ(si->dynWaveGen->value[2], 0);
    ok("DynWaveGen 12ab 2 -");
    EXPECT_EQ(si->dynWaveGen->value[0], 12);
    EXPECT_EQ(si->dynWaveGen->value[2], 0);

    ok("TarnEncZoomProgLim 0 60000");
    ASSERT_NE(si->encZoom, nullptr);
    EXPECT_EQ(si->encZoom->progLim[1], 60000);
    fails("TarnEncZoomWandLim 0 60001", ERR_SB_CALFILE_VALUE_RANGE, "60001 out of range [0,60000]");
    ok("TarnEncZoomStdMags 1 2.5 100");
    EXPECT_EQ(si->encZoom->stdMagCount, 3);
    EXPECT_EQ(si->encZoom->stdMags[1], 2.5);
    std::string sixteen = "TarnEncZoomStdMags";
    for (int i = 0; i < 16; ++i)
        sixteen += " 1";
    fails(sixteen, ERR_SB_CALFILE_SYNTAX, "Too many TarnEncZoomStdMag values.");
    ok("TarnEncZoomCalFile Tarn\\ZoomCal.txt");
    EXPECT_STREQ(si->encZoom->calFile, "Tarn\\ZoomCal.txt");
}

}  // namespace
}  // namespace mf
