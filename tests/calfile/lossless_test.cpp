// Files the writer produces read back as the record they came from, and the reader
// faults that lost or cut values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calfile/sysinfo.h"
#include "calfile/writer.h"
#include "common/error_codes.h"
#include "platform/host_handle.h"
#include "tests/calfile/cal_generate.h"
#include "tests/calfile/cal_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf {
namespace {

using test::read_cal_text;

class CalLossless : public ::testing::Test {
protected:
    void TearDown() override {
        for (int i = 0; i < sys_slot_count; ++i)
            sb_setDefaults(sb_slot(i));
    }
};

// Item name padded to 22 characters.
std::string pad(const std::string& name) { return name + std::string(name.size() < 22 ? 22 - name.size() : 0, ' '); }

struct kept_case {
    const char* what;
    std::string source;
    std::vector<std::string> lines;  // lines the written file holds
};

// Each source reads without a message; its written file must hold the lines and read
// back as the same record, and writing that record again gives the same bytes.
TEST_F(CalLossless, WrittenFilesKeepEveryValue) {
    const std::string cairn = "Cairn 1 1 100\nVersion None 0 Cairn\nInvertData 0\nCamera Type XC77\nLight HeNe 1\n";
    const std::string scarpvs = test::minimal_cal + std::string("Light HeNe 0.6328\n");
    const std::string fenn =
        "Fenn 1 1 100\nVersion None 0 Fenn\nInstrComm COM1\nInvertData 0\nCamera Type XC77\nPztId 1\n"
        "MotionCtrl m p\n";
    const std::vector<kept_case> cases = {
        {"one list on a system that writes both",
         cairn + "SysMag 1 2 3\n",
         {pad("SysMag") + "  1.0000  2.0000  3.0000", pad("NomMag") + "  0.0000  0.0000  0.0000"}},
        {"the longer list sets both lengths",
         fenn + "NomMag 4 5 6 7\n",
         {pad("SysMag") + "  0.0000  0.0000  0.0000  0.0000", pad("NomMag") + "  4.0000  5.0000  6.0000  7.0000"}},
        {"a zero magnification inside a list",
         scarpvs + "SysMag 5 6 7\nNomMag 5 0 10\n",
         {pad("SysMag") + "  5.0000  6.0000  7.0000", pad("NomMag") + "  5.0000  0.0000  10.0000"}},
        {"all-zero magnifications with translations",
         scarpvs + "SysMag 0 0\nNomMag 0 0\nCamera SplitX 5 1\nCamera Trans 1 3 4\n",
         {pad("SysMag") + "  0.0000  0.0000", pad("Camera Trans") + "  0  0  0", pad("Camera Trans") + "  1  3  4"}},
        {"a translation beyond the magnification count",
         scarpvs + "SysMag 1\nCamera Trans 9 -2047 5\n",
         {pad("Camera Trans") + "  9  -2047  5"}},
        {"MacAddress on a Tarn board",
         "Tarn 1 1 100\nVersion None 0 Tarn\nMacAddress 1 2 3 a b FF\nLLC Target 100\n"
         "Camera Type XC77\nLight HeNe 0.6\n",
         {pad("MacAddress") + "  01  02  03  0A  0B  FF"}},
        {"Camera Bpix with a bad-pixel list",
         scarpvs + "Camera Bpix 1\nCamera Bad [1,2]\n",
         {pad("Camera Bpix") + "  1", pad("Camera BPixels") + "  [1,2]"}},
        {"AlignModePct, PLL 0 and wmMaxBuckets",
         scarpvs + "LLC AlignModePct 50\nCamera PLL 0\nwmMaxBuckets 7 3\n",
         {pad("LLC AlignModePct") + "  50", pad("Camera PLL") + "  0", pad("wmMaxBuckets") + "  7  3"}},
        {"a negative encoded-zoom backlash",
         scarpvs + "TarnEncZoomBacklash -1000\n",
         {pad("TarnEncZoomBacklash") + "  -1000"}},
        {"digits beyond the documented formats",
         fenn + "NomMag 1.23456 2\nFennDmiCenter 1 12.345 0\nFennTemperature 1:0:0:0 0.125\nScanCal 1.0000001\n",
         {pad("NomMag") + "  1.23456  2.0000", pad("FennDmiCenter") + "  1  12.345  0",
          pad("FennTemperature") + "  1:00:00:00   0.125", pad("ScanCal") + "  1.0000001"}},
        {"a value too small for its fixed format",
         scarpvs + "wmMonOPD 1e-20\n",
         {pad("wmMonOPD") + "  9.9999999999999995e-21"}},
        {"values the documented formats hold are written as before",
         fenn + "NomMag 1.5 2\nFennDmiCenter 1 12.3 0\n",
         {pad("NomMag") + "  1.5000  2.0000", pad("FennDmiCenter") + "  1  12.3  0"}},
        {"empty texts",
         scarpvs + "MotionCtrl ctrl \"\"\nPosInstr VMI \"\" two\nAbsWaveMeter 1 \"\"\n",
         {pad("MotionCtrl") + "  ctrl  \"\"", pad("PosInstr") + "  VMI  \"\"  two", pad("AbsWaveMeter") + "  1  \"\""}},
        {"settings of an earlier CUSTOM camera",
         test::minimal_cal + std::string("Version None 0 SableQv\n") +
             "InstrComm C\nLight HeNe 1\nCamera Type CUSTOM 1\n"
             "Camera Type XC77\n",
         {pad("Camera Type") + "  CUSTOM  1", pad("Camera Type") + "  XC77CE  1"}},
        {"a text longer than 260 characters",
         scarpvs + "InstrName \"" + std::string(600, 'n') + " x\"\n",
         {pad("InstrName") + "  \"" + std::string(600, 'n') + " x\""}},
    };
    for (const kept_case& c : cases) {
        SCOPED_TRACE(c.what);
        const test::CalRead r = read_cal_text(c.source);
        ASSERT_EQ(r.code, 0) << r.log;
        std::string text;
        ASSERT_EQ(sb_format_cal(sb_slot(0), &text), 0);
        for (const std::string& line : c.lines)
            EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << "\nin:\n" << text;
        EXPECT_EQ(test::cal_round_trip(c.source), "");
    }
}

TEST_F(CalLossless, AnUnclosedQuoteAtALineStartIsReported) {
    const std::string base = test::minimal_cal;
    struct {
        std::string text;
        int32_t code;
        std::string messages;
    } cases[] = {
        {base + "\"Unit 5\nUnit 3\n", ERR_SB_CALFILE_INVALID, "Error in line 3.\n"},
        {base + "\"Unit 5 # rest\n", ERR_SB_CALFILE_INVALID, "Error in line 3.\n"},
        {base + "\"Unit 5", ERR_EOL, "Error in line 3.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const test::CalRead r = read_cal_text(c.text);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.messages, test::file_header(r.path) + c.messages);
    }
    EXPECT_EQ(sb_slot(0)->unit, 0);
    test::SinkCapture sink;
    EXPECT_EQ(sb_readCal(0, "+\"Unit 5"), ERR_EOL);
    EXPECT_EQ(sb_slot(0)->unit, 0);
}

TEST_F(CalLossless, ATrailingCtrlZEndsTheFile) {
    for (const std::string& text :
         {test::minimal_cal + std::string("\x1a"), std::string(test::minimal_cal) + "Unit 2\x1a",
          std::string("ScarpVS 20 1 1234\r\nVersion None 0 None\r\n\x1a")}) {
        const test::CalRead r = read_cal_text(text);
        EXPECT_EQ(r.code, 0) << r.messages;
    }
    EXPECT_EQ(sb_readCal(0, "+Unit 4\x1a"), 0);
    EXPECT_EQ(sb_slot(0)->unit, 4);
    // Anywhere else it is a character like any other.
    const test::CalRead r = read_cal_text(test::minimal_cal + std::string("\x1a\n"));
    EXPECT_EQ(r.code, ERR_SB_CALFILE_SYNTAX);
}

TEST_F(CalLossless, ARefusedStatementCreatesNoSubRecord) {
    struct {
        const char* statement;
        int32_t code;
    } cases[] = {
        {"FennDisper 1 0.1 0.2", ERR_SB_CALFILE_INVALID},
        {"FennAvg_K0 1 1 2", ERR_SB_CALFILE_INVALID},
        {"FennDmiCenter 1 0 0", ERR_SB_CALFILE_INVALID},
        {"FennTiltCenter 1 0 0", ERR_SB_CALFILE_INVALID},
        {"FennSys 2 0 0 0", ERR_SB_CALFILE_VALUE_RANGE},
        {"FennLog", ERR_EOF},
        {"TarnEncZoomBacklash 1001", ERR_SB_CALFILE_VALUE_RANGE},
        {"TarnEncZoomCalFile", ERR_EOF},
        {"Pifoc 5 0.9 0.001", ERR_SB_CALFILE_VALUE_RANGE},
        {"PztId 100000", ERR_SB_CALFILE_VALUE_RANGE},
        {"PifocType 3", ERR_SB_CALFILE_VALUE_RANGE},
        {"MacAddress 1 2 3", ERR_EOF},
        {"PidVals_Z 1 2 3", ERR_EOF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statement);
        test::SinkCapture sink;
        EXPECT_EQ(sb_readCal(0, (std::string("+") + c.statement).c_str()), c.code);
        const sysInfo* si = sb_slot(0);
        EXPECT_EQ(si->fenn, nullptr);
        EXPECT_EQ(si->encZoom, nullptr);
        EXPECT_EQ(si->scanner.pifoc, nullptr);
        EXPECT_EQ(si->canInfo, nullptr);
        EXPECT_EQ(si->motion.pid[7], nullptr);
    }
}

TEST_F(CalLossless, WritingClosesTheHostsHandleOnTheFile) {
    test::TempDir dir;
    const std::string path = dir.file("held.cal");
    test::write_file(path, "old");
    const test::CalRead r = read_cal_text(test::minimal_cal);
    ASSERT_EQ(r.code, 0);
    const intptr_t handle = platform::open_host_handle(path);
    ASSERT_GT(handle, 0);
    sysInfo* si = sb_slot(0);
    si->calFileHandle = handle;
    test::SinkCapture sink;
    EXPECT_EQ(sb_writeCal(0, path.c_str()), 0) << sink.text();
    EXPECT_EQ(si->calFileHandle, 0);
    EXPECT_FALSE(platform::close_host_handle(handle));  // already closed
    EXPECT_EQ(test::read_file(path).substr(0, 30), "# Varo System Calibration File");
}

}  // namespace
}  // namespace mf
