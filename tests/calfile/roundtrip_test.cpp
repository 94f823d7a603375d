// Reading a calibration file, writing the record and reading the result gives the
// same record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calfile/record.h"
#include "calfile/sysinfo.h"
#include "calfile/writer.h"
#include "common/error_codes.h"
#include "tests/calfile/cal_generate.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf {
namespace {

using test::read_file;
using test::SinkCapture;
using test::TempDir;
using test::write_file;

class CalRoundTrip : public ::testing::Test {
protected:
    void TearDown() override {
        for (int i = 0; i < sys_slot_count; ++i)
            sb_setDefaults(sb_slot(i));
    }

    // Reads text into slot 0; the read must succeed.
    void read_source(const std::string& text) {
        const std::string path = dir.file("source.cal");
        write_file(path, text);
        SinkCapture sink;
        ASSERT_EQ(sb_readCal(0, path.c_str()), 0) << sink.text();
    }
    void apply(const std::string& statement) {
        SinkCapture sink;
        ASSERT_EQ(sb_readCal(0, ("+" + statement).c_str()), 0) << statement << "\n" << sink.text();
    }
    // Writes slot 0, reads the file into slot 1 and compares the two records.
    void round_trip() {
        const std::string path = dir.file("written.cal");
        SinkCapture sink;
        ASSERT_EQ(sb_writeCal(0, path.c_str()), 0) << sink.text();
        written = read_file(path);
        ASSERT_EQ(sb_readCal(1, path.c_str()), 0) << sink.text() << written;
        EXPECT_EQ(test::cal_record_differences(*sb_slot(0), *sb_slot(1)), "") << written;
    }
    // Starts from a record read from a small valid file, then applies statements.
    void build(const std::string& base, const std::vector<std::string>& statements) {
        read_source(base);
        for (const std::string& s : statements)
            apply(s);
        round_trip();
    }

    TempDir dir;
    std::string written;
};

TEST_F(CalRoundTrip, ExampleFiles) {
    for (const char* name : {"sableqv.cal", "tarncan.cal", "fenn.cal"}) {
        SCOPED_TRACE(name);
        const std::string text = read_file(std::string("calfiles/") + name);
        ASSERT_FALSE(text.empty());
        read_source(text);
        round_trip();
        // Writing the record read back gives the same bytes again.
        const std::string first = written;
        sb_setDefaults(sb_slot(0));
        read_source(first);
        round_trip();
        EXPECT_EQ(written, first);
    }
}

// Bases give Light explicitly: on most boards a Light statement presets all four
// wavelengths, so the default record's single wavelength has no statement of its own.
const char* scarpvs = "ScarpVS 20 1 1234\nVersion None 0 None\nLight HeNe 0.6328\n";

TEST_F(CalRoundTrip, Identity) {
    build(scarpvs, {"InstrName \"Line 3 QV\"", "Unit 7", "ScarpVS 99 52 999999 R", "Version PC2Vision 99999 None",
                    "InstrComm COM3", "InvertData 255", "Camera Type XC77", "Ramp Config \"my ramps.txt\""});
}

TEST_F(CalRoundTrip, CanBoardWithMacAddress) {
    build("LoomA 1 2 345\nVersion GigE 1 CAN\nMacAddress 00 1A 2B 3C 4D 5E\nCamera Type PIA640\nPztId 4\n",
          {"Light LED 0.53 [0.635,0.02] 0.7 [0.8,1]", "LLC Range 100 200", "LLC Target 64", "Camera Type CUSTOM 1",
           "Turret 2 9", "Zoom 2"});
}

TEST_F(CalRoundTrip, CameraOnSableQv) {
    build(
        "ScarpSableQv 19 7 1234 R\nVersion Matrox 11 SableQv\nInstrComm COM3\nCamera Type XC77\nLight HeNe 0.6328\n"
        "Pifoc 1\n",
        {"Camera Type CUSTOM 1", "Camera Config 1 1 3 1 0 0 0 1", "Camera File \"first file.cfg\" NULL c.cfg d.cfg",
         "Camera Dark 32767", "Camera Align TopLeft", "Camera Options 5",
         "Camera Bad [0,0] [1,1] [2,2] [3,3] [4,4] [5,5] [6,6] [7,7]", "Camera Bad [700,484]"});
}

TEST_F(CalRoundTrip, CameraOnTarnWithBadPixelFile) {
    build("Tarn 1 1 100\nVersion Bandit 2 Tarn\nInstrComm COM1\nCamera Type TM6710\nLLC Target 200\nLight HeNe 0.6\n",
          {"Camera Type CUSTOM 1", "Camera Config 0 15", "Camera Bpix 1 bpix_special.dat", "Camera SplitX 2047 10",
           "SysMag 1 2", "Camera Trans 1 -2047 2047"});
}

TEST_F(CalRoundTrip, LightAndLightLevelControl) {
    build(
        "ScarpSableQv 19 7 1234\nVersion Matrox 11 SableQv\nInstrComm COM3\nCamera Type XC77\nLight HeNe 0.6328\n"
        "Pifoc 1\n",
        {"Light Diode [0.8,0.05] 1.5", "LLC Instr DD100MC_B \"COM 5\"", "LLC Range 1 2 3 4", "LLC Config 0 254",
         "LLC Options 268435455", "LLC AvgCurLimit 1 2 3 4", "LLC FwdVoltage 10000 1", "LLC Target 255"});
    build(
        "Cairn 1 1 100\nVersion None 0 Cairn\nCamera Type XC77\nInvertData 0\nLight White 12\n"
        "SysMag 1 2\nNomMag 1 2\n",
        {"LLC Instr CAIRN", "LLC Range 7 8", "Light LED 10 [11,0.5]", "LLC Freq 1000000"});
}

TEST_F(CalRoundTrip, ScannerAndMagnifications) {
    build("ScarpSable 1 1 100\nVersion None 0 None\nPifoc 5\nLight HeNe 0.6328\n",
          {"Pifoc 999999 2 0.1", "PifocType 1", "PifocPolarity 1", "PztPwr 1000", "ADC Clock 1", "ScanCal 0.85 1.15",
           "NomMag 1 2 3 4 5 6 7 8 9 10 11 12 13 14 100", "SysMag 0.5 1 1.5 2 2.5 3 3.5 4 4.5 5 5.5 6 6.5 7 7.5"});
    build(scarpvs, {"PztId 99999", "Pifoc 12 0.5 0.005", "ScanCal 1.1"});
    build("Rillet 1 1 100\nVersion None 0 None\nInvertData 0\nLight HeNe 0.6328\n",
          {"SysMag 1.25 2.5 5", "NomMag 1 2 4", "RadCrvFocCal -100", "RadCrvPwrCal 1"});
}

TEST_F(CalRoundTrip, MotionAndAccessories) {
    build(
        "Tarn 1 1 100\nVersion None 0 Tarn\nInstrComm COM1\nLLC Target 100\nCamera Type SU320\n"
        "Light Special 1 2 3 4\n",
        {"Turret 1",
         "Zoom 1",
         "IgnoreDualBrushMotor",
         "IgnoreFocusNDW",
         "IgnoreLAPS",
         "IgnorePZT",
         "IgnoreWand",
         "IgnoreZoom",
         "RingSpot",
         "NoIntensAvg",
         "TouchScreen",
         "DiffDiskRate 80",
         "DiffDiskFraction 0.001",
         "XAxisBacklash 1000",
         "YAxisBacklash 0.3",
         "ZAxisBacklash 0",
         "ZAxisCal 1.15",
         "ZEncoder 1",
         "ZCanClosedLoop 1",
         "SdcCal 14 -1e+30 1 2 3 4 5 6 7",
         "SdcCal 0 0 0 0 0 0 0 1e+38 1e-05",
         "MotionCtrl ctrl \"a b c\"",
         "PosInstr Renishaw_StepNet COM2 extra",
         "TempSensor Euro2216e COM9",
         "PendentMenu menu.txt",
         "AxisComp_A a.cmp",
         "AxisComp_Z \"z axis.cmp\""});
}

TEST_F(CalRoundTrip, PidSets) {
    build(scarpvs, {"PidVals_A 1 2 3 4 1 5 -2 2 0.5 0.125", "PidVals_B Fast -8388608 8388607 0 8388607 0 0 1 1 1 1",
                    "PidVals_T Slow 700 0 15050 0 0 0 0 0 0 0.5", "PidVals_Y Fast 5 5 5 5 1 5 0 0 0 0",
                    "PidVals_Y Slow 6 6 6 6 1 6 0 0 0 0", "PidVals_Z 700 0 15050 0 0 0 0 0 0 0"});
}

TEST_F(CalRoundTrip, WaveMonitorAndGenerators) {
    build("Skerry 1 1 100\nVersion None 0 None\nwmComm COM4\nwmMonOPD 0\nLight HeNe 0.6328\n",
          {"wmSysGain 2.5", "wmTuneRange 0 2", "wmTuneRate 1.125 2.25", "FennsiInvertData 1", "AbsWaveMeter 0 COM6",
           "DynWaveGen 1 0 0", "SleepTimeout 5:47:44"});
    build(scarpvs, {"wmMonOPD 12.5", "DynWaveGen -3 30 126", "SleepTimeout 0"});
}

TEST_F(CalRoundTrip, EncodedZoomAndRadiusScales) {
    build(scarpvs, {"TarnEncZoomConfig 255", "TarnEncZoomBacklash 1000", "TarnEncZoomWandLim 60000 0",
                    "TarnEncZoomStdMags 0.5 1 2 4 8", "TarnEncZoomCalFile \"zoom cal.txt\"",
                    "EncodedRadiusScale 0 0 0 0", "IntfRadiusScale 1 1 0.125 20 0.5"});
}

TEST_F(CalRoundTrip, FennSystem) {
    build(
        "Fenn 1 1 100\nVersion None 0 Fenn\nInstrComm COM1\nInvertData 0\nCamera Type XC77\nPztId 1\n"
        "MotionCtrl m p\n",
        {"NomMag 1 2 3", "SysMag 1.5 2.5 3.5", "FennMaterials \"glass list.txt\"", "FennSys 1 0 -1 10",
         "FennDmiScale 2.5", "FennImageRot 1", "FennZeroPtPos -10 10", "FennDisper 2 -6.25 6.25 1 2 3 4 5 6 0.5 0.25",
         "FennAvg_K0 0 100 0", "FennDmiCenter 2 -100 100", "FennTiltCenter 0 0.125 -0.5", "FennZeroGagePer 100",
         "FennTemperature 1:2:3:4 5", "FennLog log.txt 1 2"});
}

}  // namespace
}  // namespace mf
