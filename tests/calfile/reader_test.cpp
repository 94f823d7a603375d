#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "calfile/messages.h"
#include "calfile/record.h"
#include "calfile/sysinfo.h"
#include "common/dirs.h"
#include "common/error_codes.h"
#include "tests/calfile/cal_test_util.h"
#include "tests/support/alloc_fail.h"

namespace mf {
namespace {

using test::file_header;
using test::minimal_cal;
using test::read_cal_text;

class CalReader : public ::testing::Test {
protected:
    void TearDown() override {
        for (int i = 0; i < sys_slot_count; ++i)
            sb_setDefaults(sb_slot(i));
    }
};

std::string example(const char* name) {
    std::ifstream in(std::string("calfiles/") + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(CalReader, SlotOutsideTheFourIsRefused) {
    EXPECT_EQ(sb_readCal(4, "+DEFAULTS"), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(sb_readCal(-1, nullptr), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(sb_slot(4), nullptr);
    ASSERT_NE(sb_slot(3), nullptr);
    EXPECT_EQ(sb_slot(3)->slot, 3);
}

TEST_F(CalReader, ValidFileLogsItsPathAndStoresIt) {
    const auto r = read_cal_text(minimal_cal);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.log, "Reading system calibration file: \"" + r.path + "\"\n");
    const sysInfo* si = sb_slot(0);
    EXPECT_EQ(si->sysType, SYS_SCARPVS);
    EXPECT_EQ(si->dateCode, 2001);
    EXPECT_EQ(si->serialNum, 1234);
    ASSERT_NE(si->calFilePath, nullptr);
    EXPECT_EQ(std::string(si->calFilePath), r.path);
}

TEST_F(CalReader, CommentsOnlyFileIsIncomplete) {
    const auto r = read_cal_text("# nothing here\n\n   \t\n# more\n");
    EXPECT_EQ(r.code, ERR_SB_CALFILE_INCOMPLETE);
    EXPECT_EQ(r.messages, file_header(r.path) + "Missing system type info.\n");
}

TEST_F(CalReader, KeywordsMatchInAnyCase) {
    for (const char* unit : {"UNIT 3\n", "unit 3\n", "uNiT 3\n"}) {
        const auto r = read_cal_text(std::string(minimal_cal) + unit);
        EXPECT_EQ(r.code, 0) << unit;
        EXPECT_EQ(sb_slot(0)->unit, 3) << unit;
    }
}

TEST_F(CalReader, UnknownFirstWordStopsTheReadAtOnce) {
    const auto r = read_cal_text(std::string(minimal_cal) + "Bogus 1\nUnit 9\n");
    EXPECT_EQ(r.code, ERR_SB_CALFILE_SYNTAX);
    EXPECT_EQ(r.messages, file_header(r.path) + "Unrecognized token \"Bogus\"\n");
}

TEST_F(CalReader, RangeErrorReportsTheLineAndReadingGoesOn) {
    const auto r =
        read_cal_text("ScarpVS 20 1 1234\n# 2\n\n# 4\nVersion None 0 None\n  # 6\nUnit 9\nInstrName later\n");
    EXPECT_EQ(r.code, ERR_SB_CALFILE_INVALID);
    EXPECT_EQ(r.messages, file_header(r.path) + "9 out of range [0,7]\nError in line 7.\n");
    EXPECT_STREQ(sb_slot(0)->instrName, "later");
    EXPECT_EQ(sb_slot(0)->unit, 0);
}

TEST_F(CalReader, RequiredNumberMayComeFromTheNextLineAndShiftsTheLineCount) {
    const auto r = read_cal_text(std::string("Unit\n5\n") + minimal_cal + "Unit 8\n");
    EXPECT_EQ(r.code, ERR_SB_CALFILE_INVALID);
    EXPECT_EQ(sb_slot(0)->unit, 5);
    // The bad statement is on physical line 5; the count says 4 because line 2 was
    // consumed by the Unit statement of line 1.
    EXPECT_EQ(r.messages, file_header(r.path) + "8 out of range [0,7]\nError in line 4.\n");
}

TEST_F(CalReader, TenMessagesEndTheRead) {
    std::string body;
    for (int i = 0; i < 7; ++i)
        body += "Unit " + std::to_string(10 + i) + "\n";
    const auto r = read_cal_text(body);
    std::string expected = file_header(r.path);
    for (int i = 0; i < 5; ++i)
        expected += std::to_string(10 + i) + " out of range [0,7]\nError in line " + std::to_string(i + 1) + ".\n";
    EXPECT_EQ(r.messages, expected);
    EXPECT_EQ(sb_message_count(), 10);
    // Reading stopped right after the failing statement, whose code is the result.
    EXPECT_EQ(r.code, ERR_SB_CALFILE_VALUE_RANGE);
}

TEST_F(CalReader, LastLineWithoutLineEnd) {
    auto r = read_cal_text(std::string(minimal_cal) + "Unit 4");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(sb_slot(0)->unit, 4);
    // A failing last line without a line end leaves its own code as the result.
    r = read_cal_text(std::string(minimal_cal) + "Unit 9");
    EXPECT_EQ(r.code, ERR_SB_CALFILE_VALUE_RANGE);
    r = read_cal_text(std::string(minimal_cal) + "Unit 9\n");
    EXPECT_EQ(r.code, ERR_SB_CALFILE_INVALID);
}

TEST_F(CalReader, EndOfFileWhereANumberIsRequired) {
    const auto r = read_cal_text(std::string(minimal_cal) + "Unit\n  \n");
    EXPECT_EQ(r.code, ERR_EOF);
    EXPECT_EQ(r.messages, "");
    EXPECT_EQ(read_cal_text(std::string(minimal_cal) + "InstrName").code, ERR_EOF);
}

TEST_F(CalReader, MissingTextAtLineEndIsALineError) {
    const auto r = read_cal_text(std::string(minimal_cal) + "InstrComm   # none\nInstrName \"unclosed\nUnit 1\n");
    EXPECT_EQ(r.code, ERR_SB_CALFILE_INVALID);
    EXPECT_EQ(r.messages, file_header(r.path) + "Error in line 3.\nError in line 4.\n");
    EXPECT_EQ(sb_slot(0)->unit, 1);
}

TEST_F(CalReader, CrlfFilesReadLikeLfFiles) {
    std::string lf = example("sableqv.cal");
    ASSERT_FALSE(lf.empty());
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    auto r = read_cal_text(crlf);
    EXPECT_EQ(r.code, 0) << r.messages;
    EXPECT_EQ(r.messages, "Setting interlaceFlag to 1\n");
    const sysInfo* si = sb_slot(0);
    EXPECT_STREQ(si->instrComm, "COM3");
    EXPECT_STREQ(si->rampConfig, "rampcfg_qv.txt");
    EXPECT_EQ(si->camera.badPixelCount, 3);
    EXPECT_EQ(si->rFlag, 1);
}

TEST_F(CalReader, FileThatCannotBeFound) {
    test::TempDir dir;
    const std::string path = dir.file("absent.cal");
    test::SinkCapture sink;
    EXPECT_EQ(sb_readCal(0, path.c_str()), ERR_CANT_READ_FILE);
    EXPECT_EQ(sink.text(), file_header(path) + "Cannot access file.\n");
}

TEST_F(CalReader, DefaultFileIsTheMachineNameWithTheSlotDigit) {
    std::string name = u_machine_name(0);
    name.back() = '2';
    test::write_file(name, std::string(minimal_cal) + "Unit 6\n");
    test::SinkCapture sink;
    const int32_t code = sb_readCal(2, "");
    std::remove(name.c_str());
    EXPECT_EQ(code, 0) << sink.text();
    EXPECT_EQ(sb_slot(2)->unit, 6);
    EXPECT_NE(sink.text().find(name + "\"\n"), std::string::npos);
}

TEST_F(CalReader, MessageHeaderForms) {
    test::SinkCapture sink;
    sb_message_count() = 0;
    sb_set_message_source(sb_source_kind::none, nullptr);
    sb_read_message("first %d", 1);
    sb_read_message("second");
    EXPECT_EQ(sink.text(), "Error(s) reading system calibration info:\nfirst 1\nsecond\n");
    EXPECT_EQ(sb_message_count(), 2);
    sink.clear();
    EXPECT_EQ(sb_readCal(0, "+Unit 9"), ERR_SB_CALFILE_VALUE_RANGE);
    EXPECT_EQ(sink.text(), "Error(s) reading system calibration info\n\"Unit 9\":\n9 out of range [0,7]\n");
}

struct CheckCase {
    const char* body;
    int32_t code;
    const char* messages;  // without the header; a leading '!' means logged without one
};

TEST_F(CalReader, CompletionChecksEachFireAloneInOrder) {
    const CheckCase cases[] = {
        {"Version None 0 None\n", ERR_SB_CALFILE_INCOMPLETE, "Missing system type info.\n"},
        {"ScarpVS 20 1 1234\n", ERR_SB_CALFILE_INCOMPLETE,
         "Missing frame grabber and instrument board Version info.\n"},
        {"Cairn 20 1 1234\nVersion GigE 0 Tarn\n", ERR_SB_CALFILE_INCOMPLETE, "Missing InstrComm info.\n"},
        {"Cairn 20 1 1234\nVersion GigE 0 Tarn\nInstrComm COM1\n", ERR_SB_CALFILE_INCOMPLETE,
         "Missing InvertData info.\n"},
        {"ScarpVS 20 1 1234\nVersion None 0 CAN\n", ERR_SB_CALFILE_INCOMPLETE, "Missing MAC Address for CAN bus.\n"},
        {"Skerry 20 1 1234\nVersion None 0 None\n", ERR_SB_CALFILE_INCOMPLETE,
         "!Calibration file missing wave monitor comm info\n"},
        {"Skerry_CAN 20 1 1234\nVersion None 0 None\nwmComm COM2\n", ERR_SB_CALFILE_INCOMPLETE,
         "!Calibration file missing wave monitor OPD info\n"},
        {"ScarpVS 20 1 1234\nVersion None 0 None\nCamera Bpix 1 bp.dat\nCamera Bad [1,2]\n", ERR_SB_CALFILE_INVALID,
         "Bad Camera pixels specified twice using: camera bad or bpixels and camera bpix\n"},
        {"TarnCan 20 1 1234\nVersion None 0 None\n", ERR_SB_CALFILE_INCOMPLETE, "Missing LLCTarget info.\n"},
        {"ScarpVS 20 1 1234\nVersion None 0 Tarn\nInstrComm COM1\n", ERR_SB_CALFILE_INCOMPLETE,
         "Missing LLCTarget info.\n"},
        {"ScarpVS 20 1 1234\nVersion GigE 0 None\n", ERR_SB_CALFILE_INCOMPLETE, "Missing Camera Type info.\n"},
        {"ScarpVS 20 1 1234\nVersion None 0 SableQv\nInstrComm COM1\nLight HeNe\n", ERR_SB_CALFILE_INCOMPLETE,
         "Missing Light info.\n"},
        {"LoomA 20 1 1234\nVersion None 0 None\n", ERR_SB_CALFILE_INCOMPLETE, "Missing PIFOC info.\n"},
        // Logged-only rows: the read succeeds.
        {"Fenn 20 1 1234\nVersion None 0 None\nInvertData 0\nPifoc 5\n", 0, "!Missing MotionCtrl info.\n"},
        {"WsTarn 20 1 1234\nVersion None 0 None\n", 0, "!Calibration file missing system gain.\n"},
    };
    for (const CheckCase& c : cases) {
        const auto r = read_cal_text(c.body);
        EXPECT_EQ(r.code, c.code) << c.body;
        const std::string expected =
            c.messages[0] == '!' ? std::string(c.messages + 1) : file_header(r.path) + c.messages;
        EXPECT_EQ(r.messages, expected) << c.body;
    }
}

TEST_F(CalReader, LoggedRowsDoNotHideLaterChecks) {
    const auto r = read_cal_text("Fenn 20 1 1234\nVersion None 0 None\nInvertData 0\n");
    EXPECT_EQ(r.code, ERR_SB_CALFILE_INCOMPLETE);
    EXPECT_EQ(r.messages, "Missing MotionCtrl info.\n" + file_header(r.path) + "Missing PIFOC info.\n");
}

struct RangeCase {
    const char* body;
    int32_t range[4];
};

TEST_F(CalReader, LlcRangeIsDerivedFromBoardAndSystemType) {
    const RangeCase cases[] = {
        {"ScarpVS 20 1 1234\nVersion None 0 Tarn\nInstrComm C\nLLC Target 100\n", {10, 159, 0, 0}},
        {"ScarpVS 20 1 1234\nVersion None 0 Tarn\nInstrComm C\nLLC Target 100\nLLC Range 20 30\n", {20, 30, 0, 0}},
        {"ScarpVS 20 1 1234\nVersion None 0 Brae\nInstrComm C\n", {10, 159, 0, 0}},
        {"Kame250 20 1 1234\nVersion None 0 Cairn\nLight HeNe 0.6\nLLC Range 5 6\n", {2, 532, 0, 0}},
        {"Kame250 20 1 1234\nVersion GigE 0 Cairn\nCamera Type DGFLY1024\nLight HeNe 0.6\n", {2, 800, 0, 0}},
        {"ScarpVS 20 1 1234\nVersion None 0 Cairn\nLight HeNe 0.6\n", {0, 4095, 0, 0}},
        {"ScarpVS 20 1 1234\nVersion None 0 Cairn\nLight HeNe 0.6\nLLC Range 7 8 9 10\n", {7, 8, 9, 10}},
        {"Stob 20 1 1234\nVersion None 0 NOTNEEDED\n", {2, 532, 0, 0}},
        {"ScarpVS 20 1 1234\nVersion None 0 NOTNEEDED\nLLC Range 1 2\n", {10, 159, 0, 0}},
        {"ScarpVS 20 1 1234\nVersion None 0 Fenn\nInstrComm C\n", {0, 3685, 0, 0}},
        {"ScarpVS 20 1 1234\nVersion None 0 SableQv\nInstrComm C\nLight HeNe 0.6\n", {0, 4095, 0, 100}},
        {"ScarpVS 20 1 1234\nVersion None 0 SableQv\nInstrComm C\nLight HeNe 0.6\nLLC Range 1 2\n", {1, 2, 0, 100}},
        {"ScarpVS 20 1 1234\nVersion None 0 SableQv\nInstrComm C\nLight HeNe 0.6\nLLC Range 1 2 3 4\n", {1, 2, 3, 4}},
        {"ScarpVS 20 1 1234\nVersion None 0 CAN\nMacAddress 1 2 3 4 5 6\n", {0, 65535, 0, 65535}},
        {"ScarpVS 20 1 1234\nVersion None 0 CAN\nMacAddress 1 2 3 4 5 6\nLLC Range 1 2\n", {1, 2, 0, 65535}},
        {"ScarpVS 20 1 1234\nVersion None 0 None\n", {0, 0, 0, 0}},
    };
    for (const RangeCase& c : cases) {
        const auto r = read_cal_text(c.body);
        EXPECT_EQ(r.code, 0) << c.body << r.messages;
        const int32_t* got = sb_slot(0)->llc.range;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(got[i], c.range[i]) << c.body << " index " << i;
    }
}

TEST_F(CalReader, MotorizedZoomAndTurretCorrections) {
    auto r = read_cal_text(std::string(minimal_cal) + "Zoom 2\n");
    EXPECT_EQ(r.code, ERR_SB_CALFILE_INVALID);
    EXPECT_EQ(r.messages, file_header(r.path) + "This instrument cannot have a motorized zoom.\n");
    EXPECT_EQ(sb_slot(0)->motion.zoom, 0);

    const std::string loom =
        "LoomA 20 1 1234\nVersion None 0 CAN\nMacAddress 1 2 3 4 5 6\nPifoc 9\nTurret 3 4\nZoom 1\n";
    r = read_cal_text(loom);
    EXPECT_EQ(r.code, 0) << r.messages;
    EXPECT_TRUE(sb_has_dual_brush_motor(sb_slot(0)));
    r = read_cal_text(loom + "IgnoreDualBrushMotor\n");
    EXPECT_EQ(r.code, ERR_SB_CALFILE_INVALID);
    EXPECT_EQ(r.messages, file_header(r.path) +
                              "This instrument cannot have a motorized turret, no dual brush motor board.\n"
                              "This instrument cannot have a motorized zoom, no dual brush motor board.\n");
    const sysInfo* si = sb_slot(0);
    EXPECT_EQ(si->motion.turret[0], 0);
    EXPECT_EQ(si->motion.turret[1], 1);
    EXPECT_EQ(si->motion.zoom, 0);
    EXPECT_FALSE(sb_has_dual_brush_motor(si));
}

TEST_F(CalReader, StringModeAppliesOneStatementWithoutReset) {
    ASSERT_EQ(read_cal_text(std::string(minimal_cal) + "Unit 3\nInstrName keep\n").code, 0);
    test::SinkCapture sink;
    EXPECT_EQ(sb_readCal(0, "+Unit 5"), 0);
    EXPECT_EQ(sb_slot(0)->unit, 5);
    EXPECT_STREQ(sb_slot(0)->instrName, "keep");
    EXPECT_EQ(sb_readCal(0, "+Unit 9"), ERR_SB_CALFILE_VALUE_RANGE);
    EXPECT_EQ(sb_slot(0)->unit, 5);
    // Camera Bad appends to the list already in the record; no completion check runs.
    EXPECT_EQ(sb_readCal(0, "+Camera Bad [1,2] [3,4]"), 0);
    EXPECT_EQ(sb_readCal(0, "+camera bpixels [5,6]"), 0);
    EXPECT_EQ(sb_slot(0)->camera.badPixelCount, 3);
    EXPECT_EQ(sb_slot(0)->camera.badPixels[2].x, 5);
    EXPECT_EQ(sb_readCal(0, "+"), 0);
    EXPECT_EQ(sb_readCal(0, "+Unit 1\nUnit 2"), 0);
    EXPECT_EQ(sb_slot(0)->unit, 1);
    sink.clear();
    EXPECT_EQ(sb_readCal(0, "+Bogus"), ERR_SB_CALFILE_SYNTAX);
    EXPECT_EQ(sink.text(), "Error(s) reading system calibration info\n\"Bogus\":\nUnrecognized token \"Bogus\"\n");
    EXPECT_EQ(sb_readCal(0, "+Unit"), ERR_EOF);
}

TEST_F(CalReader, DefaultsResetTheSlotWithoutTouchingAFile) {
    ASSERT_EQ(read_cal_text(example("fenn.cal")).code, 0);
    const std::string path = sb_slot(0)->calFilePath;
    test::SinkCapture sink;
    EXPECT_EQ(sb_readCal(0, "+DEFAULTS"), 0);
    EXPECT_EQ(sink.text(), "");
    const sysInfo* si = sb_slot(0);
    EXPECT_EQ(si->sysType, 0);
    EXPECT_EQ(si->fenn, nullptr);
    EXPECT_EQ(si->scanner.pifoc, nullptr);
    EXPECT_EQ(si->motion.motionCtrl[0], nullptr);
    EXPECT_EQ(si->rampConfig, sb_default_ramp_config);
    EXPECT_STREQ(si->calFilePath, path.c_str());
    EXPECT_EQ(si->slot, 0);
}

TEST_F(CalReader, ExamplesReadWithoutMessages) {
    for (const char* name : {"tarncan.cal", "sableqv.cal", "fenn.cal"}) {
        test::SinkCapture sink;
        const std::string path = std::string("calfiles/") + name;
        EXPECT_EQ(sb_readCal(1, path.c_str()), 0) << name << sink.text();
        EXPECT_EQ(sink.text().find("Error"), std::string::npos) << sink.text();
    }
}

TEST_F(CalReader, ExampleValuesLandInTheRecord) {
    sysInfo* si = sb_slot(1);
    ASSERT_EQ(sb_readCal(1, "calfiles/tarncan.cal"), 0);
    EXPECT_EQ(si->sysType, SYS_TARNCAN);
    EXPECT_EQ(si->boardType, BOARD_CAN);
    EXPECT_EQ(si->frameGrabber, FG_GIGE);
    ASSERT_NE(si->canInfo, nullptr);
    const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(0, std::memcmp(si->canInfo->mac, mac, 6));
    EXPECT_EQ(si->canInfo->ip[0], 255);
    EXPECT_EQ(si->light.type, LIGHT_LED);
    EXPECT_DOUBLE_EQ(si->light.wavelength[1], 0.635e-6);
    EXPECT_DOUBLE_EQ(si->light.bandwidth[1], 0.02e-6);
    EXPECT_EQ(si->ringSpot, 1);
    EXPECT_EQ(si->motion.zoom, 2);
    EXPECT_EQ(si->sleepTimeout, 9000);
    EXPECT_EQ(si->camera.trans[2][1], 7);
    EXPECT_EQ(si->llc.range[1], 65535);
    ASSERT_EQ(sb_readCal(1, "calfiles/fenn.cal"), 0);
    ASSERT_NE(si->fenn, nullptr);
    EXPECT_EQ(si->fenn->zeroGagePer, 86400);
    EXPECT_EQ(si->fenn->temperaturePer, 7200);
    EXPECT_DOUBLE_EQ(si->fenn->temperatureTol, 0.5);
    EXPECT_DOUBLE_EQ(si->fenn->disper[0][2], 0.3);
    EXPECT_EQ(si->fenn->disper[0][3], sb_unset);
    EXPECT_STREQ(si->motion.motionCtrl[1], "ioaddr=0x210 axes=3");
    EXPECT_DOUBLE_EQ(si->light.wavelength[0], 9.5e-6);
    EXPECT_EQ(si->llc.range[1], 3685);
}

TEST_F(CalReader, AllocationFailureEndsTheReadWithoutLeaks) {
    for (const char* name : {"tarncan.cal", "fenn.cal", "sableqv.cal"}) {
        const std::string path = std::string("calfiles/") + name;
        ASSERT_EQ(sb_readCal(3, path.c_str()), 0);
        sysInfo* si = sb_slot(3);
        int failures = 0;
        for (int k = 1;; ++k) {
            test::SinkCapture sink;
            int32_t code = 0;
            int attempts = 0;
            int outstanding = 0;
            sb_setDefaults(si);
            sb_set_text(&si->calFilePath, nullptr);
            {
                test::AllocFailure fail(k);
                code = sb_readCal(3, path.c_str());
                attempts = fail.count();
                sb_setDefaults(si);
                sb_set_text(&si->calFilePath, nullptr);
                outstanding = fail.outstanding();
            }
            EXPECT_EQ(outstanding, 0) << name << " k=" << k;
            if (attempts < k) {
                EXPECT_EQ(code, 0) << name;
                break;
            }
            ++failures;
            EXPECT_EQ(code, ERR_NO_MEM) << name << " k=" << k << "\n" << sink.text();
            EXPECT_EQ(sink.text().find("Error in line"), std::string::npos) << name << " k=" << k;
        }
        EXPECT_GT(failures, 3) << name;
    }
    test::AllocFailure fail(1);
    EXPECT_EQ(sb_readCal(3, "+Unit 1"), ERR_NO_MEM);
    EXPECT_EQ(fail.outstanding(), 0);
}

}  // namespace
}  // namespace mf
