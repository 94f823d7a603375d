#include <gtest/gtest.h>

#include <string>

#include "calfile/messages.h"
#include "calfile/record.h"
#include "calfile/sysinfo.h"
#include "calfile/writer.h"
#include "common/dirs.h"
#include "common/error_codes.h"
#include "common/files.h"
#include "platform/files.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf {
namespace {

using test::read_file;
using test::SinkCapture;
using test::TempDir;
using test::write_file;

constexpr const char* header_line = "# Varo System Calibration File\n";

// Item name padded to 22 characters.
std::string pad(const std::string& name) { return name + std::string(name.size() < 22 ? 22 - name.size() : 0, ' '); }

class CalWriter : public ::testing::Test {
protected:
    void SetUp() override {
        si = sb_slot(0);
        sb_setDefaults(si);
        sb_set_text(&si->calFilePath, nullptr);
    }
    void TearDown() override {
        for (int i = 0; i < sys_slot_count; ++i) {
            sb_setDefaults(sb_slot(i));
            sb_set_text(&sb_slot(i)->calFilePath, nullptr);
        }
    }
    void apply(const std::string& statement) {
        SinkCapture quiet;
        ASSERT_EQ(sb_readCal(0, ("+" + statement).c_str()), 0) << statement << "\n" << quiet.text();
    }
    // Writes slot 0 to a fresh file and returns its bytes.
    std::string written() {
        const std::string path = dir.file("out.cal");
        SinkCapture sink;
        code = sb_writeCal(0, path.c_str());
        log = sink.text();
        return test::read_text_file(path);
    }

    // The lines between the Version line and the Light line are board-dependent;
    // this keeps only the lines whose item starts with prefix.
    static std::string lines_of(const std::string& text, const std::string& prefix) {
        std::string out;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            end = end == std::string::npos ? text.size() : end + 1;
            const std::string line = text.substr(pos, end - pos);
            if (line.compare(0, prefix.size(), prefix) == 0) out += line;
            pos = end;
        }
        return out;
    }

    sysInfo* si = nullptr;
    TempDir dir;
    int32_t code = -1;
    std::string log;
};

TEST_F(CalWriter, DefaultsWithScarpVsGiveFiveLines) {
    si->sysType = SYS_SCARPVS;
    EXPECT_EQ(written(), std::string(header_line) + pad("ScarpVS") + "  00  00  0  \n" + pad("Version") +
                             "  None  0  None\n" + pad("Camera Type") + "  Unknown\n" + pad("Light HeNe") +
                             "  0.632800\n");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(log, "");
}

TEST_F(CalWriter, IdentityLinesAndMacAddress) {
    apply("InstrName \"Line 3\"");
    apply("Unit 3");
    apply("TarnCan 21 5 40321 R");
    apply("Version GigE 300 CAN");
    apply("MacAddress 0 1a 2B c 4D ff");
    apply("Camera Type XC77");
    apply("InstrComm COM4");  // kept on a CAN board too
    const std::string text = written();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(text.substr(0, text.find(pad("Camera Type"))),
              std::string(header_line) + pad("InstrName") + "  \"Line 3\"\n" + pad("Unit") + "  3\n" + pad("TarnCan") +
                  "  21  05  40321  R\n" + pad("Version") + "  GigE  44  CAN\n" + pad("MacAddress") +
                  "  00  1A  2B  0C  4D  FF\n" + pad("InstrComm") + "  COM4\n");
}

TEST_F(CalWriter, DrumlinIsRefusedAndTheTargetKept) {
    si->sysType = SYS_DRUMLIN;
    const std::string path = dir.file("target.cal");
    write_file(path, "old contents\n");
    SinkCapture sink;
    EXPECT_EQ(sb_writeCal(0, path.c_str()), ERR_SB_CAL_INFO_INCOMPLETE);
    EXPECT_EQ(sink.text(), "Error writing system calibration file:\nSystem type undefined.\n");
    EXPECT_EQ(read_file(path), "old contents\n");
}

TEST_F(CalWriter, EveryConsistencyErrorIsReportedUnderOneHeader) {
    apply("ScarpVS 1 1 100");
    apply("Version None 0 CAN");
    si->sysType = 40;
    si->camera.type = CAM_INFRACAMA;
    si->light.type = 6;
    sb_set_text(&si->calFilePath, "/cfg/last.cal");
    std::string text;
    SinkCapture sink;
    sb_message_count() = 0;
    EXPECT_EQ(sb_format_cal(si, &text), ERR_SB_CAL_INFO_INCOMPLETE);
    EXPECT_EQ(sink.text(),
              "Error writing system calibration file \"/cfg/last.cal\":\nSystem type undefined.\n"
              "canInfo = NULL\nCamera Type undefined.\nLight Type undefined.\n");
    // Numbers beyond a name table are written as its entry 0.
    EXPECT_NE(text.find(pad("Unknown") + "  01  01  100  \n"), std::string::npos);
    EXPECT_NE(text.find(pad("Camera Type") + "  INFRACAMA\n"), std::string::npos);
    EXPECT_NE(text.find(pad("Light Unknown") + "  0.632800\n"), std::string::npos);
    EXPECT_EQ(text.find("MacAddress"), std::string::npos);

    si->camera.type = CAM_A504K;
    si->light.type = LIGHT_LED;
    si->sysType = SYS_TARNCAN;
    sink.clear();
    sb_message_count() = 0;
    EXPECT_EQ(sb_format_cal(si, &text), ERR_INVALID_PARAM);
    EXPECT_EQ(sink.text(), "Error writing system calibration file \"/cfg/last.cal\":\ncanInfo = NULL\n");
}

TEST_F(CalWriter, NamesBeyondTheirTablesUseEntryZero) {
    apply("ScarpVS 1 1 100");
    si->frameGrabber = 13;
    si->camera.align = 3;
    si->llc.instr = 4;
    sb_set_text(&si->llc.port, "COM9");
    si->motion.posInstr = 13;
    sb_set_text(&si->motion.posPort, "COM2");
    si->motion.tempSensor = 2;
    sb_set_text(&si->motion.tempPort, "COM3");
    const std::string text = written();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(lines_of(text, "Version"), pad("Version") + "  None  0  None\n");
    EXPECT_EQ(lines_of(text, "Camera Align"), pad("Camera Align") + "  Default\n");
    EXPECT_EQ(lines_of(text, "LLC Instr"), pad("LLC Instr") + "  None  COM9\n");
    EXPECT_EQ(lines_of(text, "PosInstr"), pad("PosInstr") + "  None  COM2\n");
    EXPECT_EQ(lines_of(text, "TempSensor"), pad("TempSensor") + "  None  COM3\n");
}

TEST_F(CalWriter, ThirteenBadPixelsTakeThreeLines) {
    apply("ScarpVS 1 1 100");
    apply(
        "Camera Bad [0,1] [2,3] [4,5] [6,7] [8,9] [10,11] [12,13] [14,15] [16,17] [18,19] [20,21] [22,23] "
        "[700,484]");
    apply("Camera Bpix 1 bpix_a.dat");  // both are written: neither value is dropped
    const std::string name = pad("Camera BPixels");
    EXPECT_EQ(lines_of(written(), "Camera B"),
              pad("Camera Bpix") + "  1  bpix_a.dat\n" + name + "  [0,1] [2,3] [4,5] [6,7] [8,9] [10,11]\n" + name +
                  "  [12,13] [14,15] [16,17] [18,19] [20,21] [22,23]\n" + name + "  [700,484]\n");
    EXPECT_EQ(code, 0);

    si->camera.badPixelCount = 0;
    EXPECT_EQ(lines_of(written(), "Camera B"), pad("Camera Bpix") + "  1  bpix_a.dat\n");
    si->camera.bpixFlag = 0;
    EXPECT_EQ(lines_of(written(), "Camera B"), pad("Camera Bpix") + "  0  bpix_a.dat\n");
}

TEST_F(CalWriter, SleepTimeoutIsTheLastLineWithoutLineEnd) {
    apply("ScarpVS 1 1 100");
    apply("SleepTimeout 1:1:1");
    apply("Unit 2");
    const std::string text = written();
    EXPECT_EQ(code, 0);
    const std::string last = pad("SleepTimeout") + "  1:01:01";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size() - 1), "\n" + last);
}

TEST_F(CalWriter, MagnificationsPerSystemType) {
    apply("Cairn 1 1 100");
    apply("SysMag 5");
    std::string text = written();
    EXPECT_EQ(lines_of(text, "SysMag") + lines_of(text, "NomMag"),
              pad("SysMag") + "  5.0000  0.0000\n" + pad("NomMag") + "  0.0000  0.0000\n");

    // More than two values are kept on these systems too.
    apply("SysMag 1 2.5 3.25");
    EXPECT_EQ(lines_of(written(), "SysMag"), pad("SysMag") + "  1.0000  2.5000  3.2500\n");

    // Other systems: only when set, with every stored value (zeros included).
    apply("ScarpVS 1 1 100");
    EXPECT_EQ(lines_of(written(), "SysMag") + lines_of(written(), "NomMag"),
              pad("SysMag") + "  1.0000  2.5000  3.2500\n");
    apply("NomMag 1 0 3");
    EXPECT_EQ(lines_of(written(), "NomMag"), pad("NomMag") + "  1.0000  0.0000  3.0000\n");
}

TEST_F(CalWriter, CameraLinesFollowTheBoard) {
    apply("ScarpSableQv 1 1 100");
    apply("Version Matrox 1 SableQv");
    apply("Camera Type CUSTOM 1");
    apply("Camera Config 1 0 3 0 1 0 1 0");
    apply("Camera File first.cfg NULL third.cfg");
    apply("Camera Dark 7");
    apply("Camera Align TopLeft");
    apply("Camera Options 268435455");
    std::string text = written();
    EXPECT_EQ(lines_of(text, "Camera"),
              pad("Camera Type") + "  CUSTOM  1\n" + pad("Camera File") + "  first.cfg NULL  third.cfg\n" +
                  pad("Camera Config") + "  1  0  3  0  1  0  1  0\n" + pad("Camera Dark") + "  7\n" +
                  pad("Camera Align") + "  TopLeft\n" + pad("Camera Options") + "  268435455\n");

    apply("Version Matrox 1 Tarn");
    apply("Camera Type CUSTOM 1");
    apply("Camera File a.cfg b.cfg");
    text = written();
    EXPECT_EQ(lines_of(text, "Camera"), pad("Camera Type") + "  CUSTOM  1\n" + pad("Camera File") + "  a.cfg  b.cfg\n" +
                                            pad("Camera Config") + "  1  5\n" + pad("Camera Dark") + "  7\n" +
                                            pad("Camera Align") + "  TopLeft\n" + pad("Camera Options") +
                                            "  268435455\n");
}

TEST_F(CalWriter, LightEntriesStopAtTheFirstZero) {
    apply("ScarpVS 1 1 100");
    apply("Version None 0 CAN");
    apply("MacAddress 1 2 3 4 5 6");
    apply("Camera Type XC77");
    apply("Light Diode 0.5 [0.75,0.125]");
    EXPECT_EQ(lines_of(written(), "Light"), pad("Light Diode") + "  0.500000 [0.750000,0.125000]\n");
    si->light.wavelength[3] = 1e-6;  // after a zero: not written
    EXPECT_EQ(lines_of(written(), "Light"), pad("Light Diode") + "  0.500000 [0.750000,0.125000]\n");
    apply("Version None 0 None");
    apply("Light White 1 2");  // the other entries are preset to HeNe
    EXPECT_EQ(lines_of(written(), "Light"), pad("Light White") + "  1.000000 2.000000 0.632800 0.632800\n");
}

TEST_F(CalWriter, LightLevelControlLines) {
    apply("Tarn 1 1 100");
    apply("Version None 0 Tarn");
    apply("Camera Type XC77");
    apply("Light LED 0.5");
    apply("LLC Instr DD100MC COM5");
    apply("LLC Range 10 159");
    apply("LLC Config 4 6");
    apply("LLC Freq 1000");
    apply("LLC Options 9");
    apply("LLC AvgCurLimit 10 20 30 40");
    apply("LLC FwdVoltage 5 6");
    EXPECT_EQ(lines_of(written(), "LLC"), pad("LLC Instr") + "  DD100MC  COM5\n" + pad("LLC Config") + "  5  7\n" +
                                              pad("LLC Freq") + "  1000\n" + pad("LLC Target") + "  150\n" +
                                              pad("LLC Options") + "  9\n" + pad("LLC AvgCurLimit") +
                                              "  10  20  30  40\n" + pad("LLC FwdVoltage") + "  5  6\n");
    apply("LLC Range 11 159");
    apply("LLC Config 2");
    si->llc.config[1] = 0;
    EXPECT_EQ(lines_of(written(), "LLC R") + lines_of(written(), "LLC C"),
              pad("LLC Range") + "  11  159\n" + pad("LLC Config") + "  3\n");
}

TEST_F(CalWriter, LlcRangeAgainstTheDerivedValues) {
    apply("ScarpSableQv 1 1 100");
    apply("Version None 0 SableQv");
    apply("Camera Type XC77");
    si->llc.range[1] = 4095;
    si->llc.range[3] = 100;
    EXPECT_EQ(lines_of(written(), "LLC Range"), "");
    si->llc.range[3] = 99;
    EXPECT_EQ(lines_of(written(), "LLC Range"), pad("LLC Range") + "  0  4095  0  99\n");

    // CAN LoomB: the derived second pair is beyond the statement's range and stays out.
    apply("LoomB 1 1 100");
    apply("Version None 0 CAN");
    apply("MacAddress 1 2 3 4 5 6");
    si->llc.range[0] = 0;
    si->llc.range[1] = 65535;
    si->llc.range[2] = 0;
    si->llc.range[3] = 65535;
    EXPECT_EQ(lines_of(written(), "LLC Range"), pad("LLC Range") + "  0  65535\n");

    // Kame250 on a Cairn board: written when not 0, 4095 even though the reader derives it.
    apply("Kame250 1 1 100");
    apply("Version None 0 Cairn");
    si->llc.range[1] = 532;
    si->llc.range[0] = 2;
    EXPECT_EQ(lines_of(written(), "LLC Range"), pad("LLC Range") + "  2  532\n");
}

TEST_F(CalWriter, ScannerLines) {
    apply("ScarpSable 1 1 100");
    apply("Pifoc 1234 0.9 0.02");
    apply("PifocType 2");
    apply("PifocPolarity -1");
    apply("PztPwr 0");
    apply("ADC Clock 511");
    EXPECT_EQ(lines_of(written(), "P") + lines_of(written(), "ADC"),
              pad("PztPwr") + "  0\n" + pad("Pifoc") + "  1234  0.900000  0.020000\n" + pad("PifocPolarity") +
                  "  -1\n" + pad("PifocType") + "  2\n" + pad("ADC Clock") + "  511\n");
    apply("ScarpVS 1 1 100");
    apply("PztId 77");
    EXPECT_EQ(lines_of(written(), "Pifoc "), pad("Pifoc") + "  77\n");
}

TEST_F(CalWriter, SplitWritesTheTranslationsOfEveryMagnification) {
    apply("ScarpVS 1 1 100");
    apply("NomMag 1 2 3");
    apply("Camera Trans 2 -5 6");
    apply("Camera SplitY 100 3");
    EXPECT_EQ(lines_of(written(), "Camera S") + lines_of(written(), "Camera Tr"),
              pad("Camera SplitY") + "  100  3\n" + pad("Camera Trans") + "  0  0  0\n" + pad("Camera Trans") +
                  "  1  0  0\n" + pad("Camera Trans") + "  2  -5  6\n");
}

TEST_F(CalWriter, MotionFlagsAndFactors) {
    apply("Tarn 1 1 100");
    apply("Version None 0 Tarn");
    apply("Camera Type XC77");
    apply("ScanCal 1 1.1");
    apply("Turret 3 7");
    apply("Zoom 1");
    for (const char* flag : {"IgnorePZT", "IgnoreZoom", "IgnoreFocusNDW", "IgnoreWand", "IgnoreLAPS",
                             "IgnoreDualBrushMotor", "RingSpot", "TouchScreen", "NoIntensAvg"})
        apply(flag);
    apply("DiffDiskRate 12.5");
    apply("DiffDiskFraction 2");
    apply("XAxisBacklash 0.1");
    apply("ZAxisCal 0.9");
    apply("ZAxisBacklash 0");
    apply("ZEncoder 1");
    apply("ZCanClosedLoop 1");
    apply("SdcCal 3 1 -2 3e+30 0 0 0 0.5 1");
    apply("SdcCal 4 1 2 3 4 5 6");  // s7 and s8 zero: written up to s6
    const std::string text = written();
    const std::string from = text.substr(text.find(pad("ScanCal")));
    EXPECT_EQ(from, pad("ScanCal") + "  1  1.1\n" + pad("Turret") + "  3  7\n" + pad("Zoom") + "  1\n" +
                        "IgnoreDualBrushMotor\nIgnoreLAPS\nIgnoreWand\nIgnoreFocusNDW\nIgnoreZoom\nIgnorePZT\n"
                        "RingSpot\n" +
                        pad("DiffDiskRate") + "  12.5\n" + pad("DiffDiskFraction") + "  2\n" + pad("XAxisBacklash") +
                        "  0.1\n" + pad("ZAxisCal") + "  0.9\n" + pad("ZAxisBacklash") + "  0\n" + pad("ZEncoder") +
                        "  1\n" + pad("ZCanClosedLoop") + "  1\n" + pad("SdcCal") +
                        "  3  1  -2  3e+30  0  0  0  0.5  1\n" + pad("SdcCal") + "  4  1  2  3  4  5  6\n" +
                        "NoIntensAvg\nTouchScreen\n");
}

TEST_F(CalWriter, PidSetsOneLineWhenEqual) {
    apply("ScarpVS 1 1 100");
    apply("PidVals_X 900 -10 15050 0 1 0 0.5 0 0 -0.25");
    apply("PidVals_A Fast 1 2 3 4 0 5 0 0 0 0");
    apply("PidVals_Z Slow 1 2 3 4 0 5 0 0 0 0");
    apply("PidVals_B Fast 700 0 15050 0 0 0 0 0 0 0");  // the default set: nothing
    EXPECT_EQ(lines_of(written(), "PidVals"), pad("PidVals_A Fast") + "  1  2  3  4  0  5  0  0  0  0\n" +
                                                  "PidVals_X  900  -10  15050  0  1  0  0.5  0  0  -0.25\n" +
                                                  pad("PidVals_Z Slow") + "  1  2  3  4  0  5  0  0  0  0\n");
}

TEST_F(CalWriter, TextsWithBlanksAreQuoted) {
    apply("ScarpVS 1 1 100");
    apply("MotionCtrl pmac \"ioaddr=0x210 axes=3\"");
    apply("PosInstr VMI COM2 \"two words\"");
    apply("PendentMenu menu.txt");
    apply("AxisComp_T \"t comp.txt\"");
    const std::string text = written();
    EXPECT_EQ(lines_of(text, "MotionCtrl") + lines_of(text, "PosInstr") + lines_of(text, "PendentMenu") +
                  lines_of(text, "AxisComp"),
              pad("MotionCtrl") + "  pmac  \"ioaddr=0x210 axes=3\"\n" + pad("PosInstr") +
                  "  VMI  COM2  \"two words\"\n" + pad("PendentMenu") + "  menu.txt\n" + pad("AxisComp_T") +
                  "  \"t comp.txt\"\n");
}

TEST_F(CalWriter, WaveMonitorZoomAndRadiusLines) {
    apply("Skerry 1 1 100");
    apply("wmComm COM7");
    apply("wmSysGain 1.5");
    apply("wmTuneRange 0.25 1.5");
    apply("FennsiInvertData 3");
    apply("AbsWaveMeter 1 COM8");
    apply("DynWaveGen 5 30 96");
    apply("TarnEncZoomConfig 0");
    apply("TarnEncZoomProgLim 0 100");
    apply("TarnEncZoomStdMags 1 2.5");
    apply("TarnEncZoomCalFile zoom.txt");
    apply("IntfRadiusScale 1 0.5 0.25 20");
    const std::string text = written();
    const std::string from = text.substr(text.find(pad("wmComm")));
    EXPECT_EQ(from, pad("wmComm") + "  COM7\n" + pad("wmSysGain") + "  1.500000\n" + pad("wmMonOPD") + "  0.000000\n" +
                        pad("wmTuneRange") + "  0.250  1.500\n" + pad("FennsiInvertData") + "  3\n" +
                        pad("AbsWaveMeter") + "  1  COM8\n" + pad("DynWaveGen") + "  5  30  96\n" +
                        pad("TarnEncZoomConfig") + "  0\n" + pad("TarnEncZoomProgLim") + "  0  100\n" +
                        pad("TarnEncZoomStdMags") + "  1  2.5\n" + pad("TarnEncZoomCalFile") + "  zoom.txt\n" +
                        pad("IntfRadiusScale") + "  1  0.5  0.25  20  0\n");
}

TEST_F(CalWriter, FennBlock) {
    apply("Fenn 1 1 100");
    apply("SysMag 1 2");
    apply("FennSys 0.5 0.25 -0.123456789 3.5");
    apply("FennZeroPtPos 1.5");
    apply("FennDisper 1 0.1 0.2 0.3");
    apply("FennAvg_K0 0 50 51");
    apply("FennTiltCenter 1 0.5 -0.5");
    apply("FennZeroGagePer 1:2:3:4");
    apply("FennTemperature 0:2 ");
    apply("FennLog fenn.log");
    const std::string text = written();
    const std::string block =
        text.substr(text.find(pad("FennSys")), text.find(pad("InvertData")) - text.find(pad("FennSys")));
    // %.8g, with the digits it cannot hold added.
    EXPECT_EQ(block, pad("FennSys") + "  0.5  0.25  -0.123456789  3.5\n" + pad("FennImageRot") + "  0\n" +
                         pad("FennZeroPtPos") + "  1.5\n" + pad("FennDisper") + "  1  0.1  0.2  0.3\n" +
                         pad("FennAvg_K0") + "  0  50  51\n" + pad("FennDmiCenter") + "  0  0  0\n" +
                         pad("FennDmiCenter") + "  1  0  0\n" + pad("FennTiltCenter") + "  0  0  0\n" +
                         pad("FennTiltCenter") + "  1  0.5  -0.5\n" + pad("FennZeroGagePer") + "  1:02:03:04\n" +
                         pad("FennTemperature") + "  0:02:00:00   0.00\n" + pad("FennLog") + "  fenn.log\n");
    EXPECT_NE(text.find(pad("InvertData") + "  0\n"), std::string::npos);
}

TEST_F(CalWriter, SlotOutsideTheFourIsRefused) {
    EXPECT_EQ(sb_writeCal(4, dir.file("x.cal").c_str()), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(sb_writeCal(-1, nullptr), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_TRUE(dir.entries().empty());
}

TEST_F(CalWriter, DefaultPathIsTheMachineFileInTheConfigurationDirectory) {
    si = sb_slot(2);
    const std::string path = sb_default_cal_path(si);
    const char* config = u_config_dir();
    std::string name = u_machine_name(2);
    name.back() = '2';
    EXPECT_EQ(path, std::string(config ? config : "./") + platform::path_separator() + name);
    si->calFileNum = 7;
    name.back() = '7';
    EXPECT_EQ(sb_default_cal_path(si), std::string(config ? config : "./") + platform::path_separator() + name);
    si->calFileNum = -1;
}

// The temporary file named in the copy failure message.
std::string temp_named_in(const std::string& log) {
    const std::string lead = "Cannot copy temp file \"";
    const std::size_t at = log.find(lead);
    if (at == std::string::npos) return "";
    const std::size_t start = at + lead.size();
    return log.substr(start, log.find('"', start) - start);
}

TEST_F(CalWriter, CopyFailureKeepsTheTargetAndRemovesTheTempFile) {
    apply("ScarpVS 1 1 100");
    // A target whose parent is a regular file cannot be created, even by root.
    const std::string parent = dir.file("plain");
    write_file(parent, "x");
    const std::string target = parent + platform::path_separator() + "sys.cal";
    SinkCapture sink;
    EXPECT_EQ(sb_writeCal(0, target.c_str()), ERR_CANT_WRITE_FILE);
    const std::string temp = temp_named_in(sink.text());
    ASSERT_FALSE(temp.empty()) << sink.text();
    EXPECT_NE(temp.find("_calfile"), std::string::npos);
    EXPECT_FALSE(u_file_exists(temp.c_str()));
    EXPECT_EQ(sink.text().find("u_copy_file failed: win_err = "), 0u);
    EXPECT_NE(sink.text().find("Error writing system calibration file:\nCannot copy temp file \"" + temp + "\" to \"" +
                               target + "\"\n"),
              std::string::npos);
    EXPECT_EQ(read_file(parent), "x");

    // A directory as the target stays a directory.
    const std::string directory = dir.file("sub");
    ASSERT_TRUE(platform::create_directory(directory));
    sink.clear();
    EXPECT_EQ(sb_writeCal(0, directory.c_str()), ERR_CANT_WRITE_FILE);
    EXPECT_TRUE(platform::is_directory(directory));
    EXPECT_FALSE(u_file_exists(temp_named_in(sink.text()).c_str()));
}

TEST_F(CalWriter, SuccessReplacesTheTargetAndReadsBack) {
    apply("ScarpVS 1 1 100");
    const std::string path = dir.file("sys.cal");
    write_file(path, std::string(5000, 'x'));
    SinkCapture sink;
    ASSERT_EQ(sb_writeCal(0, path.c_str()), 0);
    std::string expected;
    sb_format_cal(si, &expected);
    EXPECT_EQ(test::read_text_file(path), expected);
    EXPECT_EQ(sink.text(), "");
    EXPECT_EQ(sb_readCal(1, path.c_str()), 0);
    EXPECT_EQ(sb_slot(1)->serialNum, 100);
}

}  // namespace
}  // namespace mf
