// Power-on and power-off against the virtual instrument: the whole sequence of each
// family as a transcript compared with a golden file, one fault per failure branch,
// and what a failure or a power-off leaves behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "calfile/sysinfo.h"
#include "can/can_bus.h"
#include "can/can_events.h"
#include "can/llc/can_agc.h"
#include "can/power/can_power.h"
#include "common/error_codes.h"
#include "common/errors.h"
#include "devctl/devctl.h"
#include "platform/clock.h"
#include "platform/module_version.h"
#include "ramp/ramp_set.h"
#include "sim/can/virtual_instrument.h"
#include "tests/can/bus_transcript.h"
#include "tests/support/env.h"

namespace mf::test {
namespace {

int64_t now_ms() { return platform::monotonic_ms(); }

class PowerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::set_clock(&clock_);
        can_state_reset_all();
        ASSERT_EQ(dev_init_cntrl(true), 0);
        // No frames in these tests: light-level control is held and released, never run.
        can_agc_settings settings = can_agc_get_settings();
        settings.enabled = false;
        can_agc_set_settings(settings);
    }
    void TearDown() override {
        if (si_ && si_->canInfo) can_inst_off(si_);
        can_agc_shutdown();
        dev_free_cntrl();
        sim().reset();
        rr_release_all_ramp_sets();
        if (si_) sb_setDefaults(si_);
        platform::set_clock(nullptr);
    }
    static sim::can_sim& sim() { return sim::can_sim::instance(); }

    // Reads an example calibration file into slot 0 and lays out the virtual
    // instrument it describes.
    void load(const std::string& calfile) {
        ASSERT_EQ(sb_readCal(0, ("calfiles/" + calfile).c_str()), 0);
        si_ = sb_slot(0);
        ASSERT_TRUE(sim::configure_virtual_instrument(sim(), *si_));
        sim().set_time_source(&now_ms);
        transcript_.clear();
    }
    bool connected() const { return sim().connected(); }
    bool registered() const {
        return sim().handlers_registered() || dev_is_registered(reinterpret_cast<dev_handle>(si_));
    }

    platform::VirtualClock clock_{1700000000000};
    BusTranscript transcript_;
    sysInfo* si_ = nullptr;
};

// ---- whole sequences ----

struct family_case {
    const char* calfile;
    const char* golden;
    const char* statement = nullptr;  // applied after the file
};

class PowerFamilies : public PowerTest, public ::testing::WithParamInterface<family_case> {};

TEST_P(PowerFamilies, OnAndOffMatchTheirTranscript) {
    load(GetParam().calfile);
    // On the instrument the file describes.
    if (GetParam().statement) {
        ASSERT_EQ(sb_readCal(0, GetParam().statement), 0);
    }
    EXPECT_EQ(can_inst_on(si_), 0);
    EXPECT_EQ(can_power_last_stage(si_), can_power_stage::on);
    EXPECT_TRUE(registered());
    EXPECT_EQ(can_inst_off(si_), 0);
    EXPECT_FALSE(registered());
    EXPECT_FALSE(connected());
    EXPECT_EQ(si_->canInfo, nullptr);
    EXPECT_TRUE(matches_golden(std::string("power/") + GetParam().golden, transcript_.text()));
}

INSTANTIATE_TEST_SUITE_P(Families, PowerFamilies,
                         ::testing::Values(family_case{"loomacan.cal", "looma.txt"},
                                           family_case{"loomapcan.cal", "loomap.txt"},
                                           family_case{"tarncan.cal", "tarncan.txt"},
                                           family_case{"eskercan.cal", "eskercan.txt"},
                                           family_case{"wstarncan.cal", "wstarncan.txt"},
                                           // Present, not required: ", Ignore", and never contacted.
                                           family_case{"loomacan.cal", "looma_ignore.txt", "+IgnoreDualBrushMotor"}),
                         [](const auto& info) {
                             const std::string golden = info.param.golden;
                             return golden.substr(0, golden.find('.'));
                         });

TEST_F(PowerTest, ASecondPowerOnAfterPowerOffRunsTheSameSequence) {
    load("tarncan.cal");
    ASSERT_EQ(can_inst_on(si_), 0);
    ASSERT_EQ(can_inst_off(si_), 0);
    const std::string first = transcript_.text();
    // The power-off freed the configuration record: the calibration is read again;
    // the instrument was switched off and on meanwhile.
    ASSERT_EQ(sb_readCal(0, "calfiles/tarncan.cal"), 0);
    ASSERT_TRUE(sim::configure_virtual_instrument(sim(), *si_));
    sim().set_time_source(&now_ms);
    transcript_.clear();
    ASSERT_EQ(can_inst_on(si_), 0);
    ASSERT_EQ(can_inst_off(si_), 0);
    EXPECT_EQ(transcript_.text(), first);
    // A second power-off leaves the bus alone and frees nothing.
    transcript_.clear();
    EXPECT_EQ(can_inst_off(si_), 0);
    EXPECT_EQ(transcript_.text(), "[+0ms] Instrument OFF\n");
}

TEST_F(PowerTest, AWandThatDoesNotComeUpIsOnlyFlaggedAbsent) {
    load("tarncan.cal");
    sim().set_operational_from(CAN_NODE_ID_WAND, -1);
    EXPECT_EQ(can_inst_on(si_), 0);
    EXPECT_FALSE(can_state_of(si_)->present.wand);
}

TEST_F(PowerTest, APresentRingSpotNodeIsBroughtUpAndThenRequired) {
    load("eskercan.cal");
    sim().add_node(CAN_NODE_ID_DD_RS, sim::virtual_product_base + CAN_NODE_ID_DD_RS);
    ASSERT_FALSE(can_state_of(si_)->required.dd_rs);
    EXPECT_EQ(can_inst_on(si_), 0);
    EXPECT_TRUE(can_state_of(si_)->required.dd_rs);
    // Its disk turns and runs in mode 1.
    EXPECT_EQ(sim().object(CAN_NODE_ID_DD_RS, 0x2000, 0), std::vector<uint8_t>{1});
    EXPECT_EQ(sim().object(CAN_NODE_ID_DD_RS, 0x2002, 0), std::vector<uint8_t>{1});
}

// ---- one fault per failure branch ----

struct fault_case {
    const char* name;
    const char* calfile;
    std::function<void(sim::can_sim&, sysInfo&)> inject;
    int32_t code;
    const char* message;  // the failure's own message, exactly as printed
    bool connected;       // the bridge stays connected after the failure
    can_power_stage stage;
};

const fault_case fault_cases[] = {
    {"BridgeNotFound", "tarncan.cal",
     [](sim::can_sim& s, sysInfo&) {
         const uint8_t other[6] = {0, 0x1A, 0x2B, 0, 0, 1};
         s.reset();
         s.add_bridge(sim::virtual_bridge_ip, other);
     },
     ERR_CAN_MACADDRESS_ERROR, "[+4000ms] CAN bridge with MAC address 00 1A 2B 3C 4D 5E not found on network\n", false,
     can_power_stage::bridge},
    {"MacNotConfigured", "tarncan.cal", [](sim::can_sim&, sysInfo& si) { si.canInfo->mac[0] = 255; },
     ERR_CAN_MACADDRESS_ERROR, "", false, can_power_stage::bridge},
    {"ConnectFails", "tarncan.cal", [](sim::can_sim& s, sysInfo&) { s.fail(can_op::CAN_Connect, -3); },
     ERR_CAN_FINDING_BRIDGE, "[+0ms] can_inst_on: CAN_Connect canErr = -3\n", false, can_power_stage::bridge},
    {"FirmwareVersionFails", "tarncan.cal",
     [](sim::can_sim& s, sysInfo&) { s.fail(can_op::CAN_GetFirmwareVersion, -4); }, ERR_CAN_BRIDGE_ERROR,
     "[+0ms] can_inst_on: CAN_GetFirmwareVersion canErr = -4\n", true, can_power_stage::bridge},
    {"ConfigurationRewriteFails", "tarncan.cal",
     [](sim::can_sim& s, sysInfo&) {
         s.set_bridge_configuration(5, 500);
         s.fail(can_op::CAN_SetBridgeConfiguration, -1);
     },
     ERR_CAN_BRIDGE_ERROR, "[+0ms] can_inst_on: CAN_SetBridgeConfiguration canErr = -1\n", true,
     can_power_stage::bridge},
    {"ReconnectAfterRewriteFails", "tarncan.cal",
     [](sim::can_sim& s, sysInfo&) {
         s.set_bridge_configuration(127, 500);
         s.fail(can_op::CAN_Connect, -3, 1, 1);
     },
     ERR_CAN_FINDING_BRIDGE, "[+2000ms] can_inst_on: CAN_Connect canErr = -3\n", false, can_power_stage::bridge},
    {"BridgeErrorTenTimes", "tarncan.cal",
     [](sim::can_sim& s, sysInfo&) {
         s.set_bridge_errors({7, 7, 7, 7, 7, 7, 7, 7, 7, 9});
     },
     ERR_CAN_BRIDGE_ERROR,
     "[+20000ms] can_inst_on: Unable to reset bridge with no errors after 10 tries: CAN_GetLastBridgeError = 9\n", true,
     can_power_stage::bridge},
    {"BridgeResetRefused", "tarncan.cal",
     [](sim::can_sim& s, sysInfo&) {
         s.set_bridge_errors({7});
         s.fail(can_op::CAN_ResetBridge, -1);
     },
     ERR_HW_FAIL, "CAN_ResetBridge canErr -1\n", true, can_power_stage::bridge},
    {"WrongSystemType", "tarncan.cal", [](sim::can_sim&, sysInfo& si) { si.sysType = SYS_TARN; }, ERR_WRONG_SYSTEM_TYPE,
     "", true, can_power_stage::nodes},
    {"ProfilerBrushMotorMissing", "loomacan.cal", [](sim::can_sim& s, sysInfo&) { s.remove_node(0x3F); },
     ERR_CAN_NODE_MISSING, "[+0ms] Missing the CAN Dual Brush Motor node\n", true, can_power_stage::nodes},
    {"TarnRequiredNodeMissing", "tarncan.cal", [](sim::can_sim& s, sysInfo&) { s.remove_node(0x34); },
     ERR_CAN_NODE_MISSING, "[+0ms] Missing the CAN Large Aperture node\n", true, can_power_stage::nodes},
    {"EskerAuxMotorMissing", "eskercan.cal", [](sim::can_sim& s, sysInfo&) { s.remove_node(0x42); },
     ERR_CAN_NODE_MISSING, "[+0ms] Missing the CAN Auxiliary Motor node\n", true, can_power_stage::nodes},
    {"RampNodeNeverOperational", "loomacan.cal", [](sim::can_sim& s, sysInfo&) { s.set_operational_from(0x7F, -1); },
     ERR_CAN_RAMP_ERROR,
     "[+1800ms] wait_for_node_operational: Timeout waiting for node CAN_NODE_ID_RAMP operational: "
     "CAN_GetNodeState status = 127\n",
     true, can_power_stage::nodes},
    {"LedWrongProductId", "loomacan.cal", [](sim::can_sim& s, sysInfo&) { s.add_node(0x3D, 0x12345678); },
     ERR_CAN_INVALID_PRODUCTID, "[+0ms] can_looma_loomb_on: Invalid productID = 305419896 for CAN_NODE_ID_LED\n", true,
     can_power_stage::nodes},
    {"BrushMotorWrongProductId", "loomapcan.cal", [](sim::can_sim& s, sysInfo&) { s.add_node(0x3F, 0x267215D6); },
     ERR_CAN_INVALID_PRODUCTID,
     "[+0ms] can_loomaP_or_loombp_on: Invalid productID = 645010902 for CAN_NODE_ID_BRUSHMOTOR\n", true,
     can_power_stage::nodes},
    {"ProductIdUnreadable", "tarncan.cal",
     [](sim::can_sim& s, sysInfo&) { s.set_sdo_abort(0x3E, 0x1018, 2, 0x06020000); }, ERR_CAN_TRIPLEPZT_ERROR,
     "[+0ms] get_operational_node: Error getting node CAN_NODE_ID_TRIPLEPZT product ID: ERR_CAN_ERROR\n", true,
     can_power_stage::nodes},
    {"ScannerWithoutAmplitude", "loomacan.cal",
     [](sim::can_sim& s, sysInfo& si) {
         si.scanner.pifoc->type = 1;
         s.set_object(0x7F, 0x2041, 2, {0, 0, 0, 0});
     },
     ERR_CAN_DIGITAL_SCANNER_MISSING, "Scanner verification failed. Verify connections and configuration.\n", true,
     can_power_stage::nodes},
    {"HomingFails", "tarncan.cal", [](sim::can_sim& s, sysInfo&) { s.set_homing(300, 500, true); },
     ERR_CAN_NDW_HOME_ERROR, "can_home_ndw: llcHomeStatus=16\n[+300ms] can_tarn_on: Error homing the ND wheel\n", true,
     can_power_stage::nodes},
    {"BridgePowerFault", "loomapcan.cal", [](sim::can_sim& s, sysInfo&) { s.set_object(0x7F, 0x2010, 1, {0x0C}); },
     ERR_INST_POWER, "[+0ms] Bridge Status: -12V power trip\n", true, can_power_stage::setup},
    {"PztErrorCheckBit", "tarncan.cal",
     [](sim::can_sim& s, sysInfo&) {
         s.set_object(0x34, 0x1002, 0, {0, 0, 0, 0x20});
     },
     ERR_INST_POWER, "[+1000ms] Triple PZT node: High voltage supply over-voltage fault\n", true,
     can_power_stage::setup},
    {"EventRegistrationFails", "loomacan.cal",
     [](sim::can_sim& s, sysInfo&) { s.fail(can_op::CAN_RegisterEvents, -1, 1); }, ERR_CAN_ERROR,
     "can_register_events canErr = -1\n", true, can_power_stage::events},
};

class PowerFaults : public PowerTest, public ::testing::WithParamInterface<fault_case> {};

TEST_P(PowerFaults, FailWithTheirMessageAndLeaveEventsUnregistered) {
    const fault_case& c = GetParam();
    load(c.calfile);
    c.inject(sim(), *si_);
    EXPECT_EQ(can_inst_on(si_), c.code);
    const std::string log = transcript_.messages();
    EXPECT_NE(log.find(c.message), std::string::npos) << log;
    const std::string tail = std::string("can_inst_on: ") + error_name(c.code) + "\n";
    EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail) << log;
    EXPECT_EQ(log.find("Instrument ON"), std::string::npos);
    EXPECT_EQ(connected(), c.connected);
    EXPECT_EQ(can_power_last_stage(si_), c.stage);
    EXPECT_FALSE(registered());
    EXPECT_EQ(can_agc_active_value(), 0);
}

INSTANTIATE_TEST_SUITE_P(Branches, PowerFaults, ::testing::ValuesIn(fault_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PowerTest, TheTenthReadingWithoutErrorLetsThePowerOnGoOn) {
    load("tarncan.cal");
    sim().set_bridge_errors({7, 7, 7, 7, 7, 7, 7, 7, 7});
    EXPECT_EQ(can_inst_on(si_), 0);
    EXPECT_EQ(sim().calls(can_op::CAN_GetLastBridgeError), 10);
    EXPECT_EQ(sim().calls(can_op::CAN_ResetBridge), 9);
}

TEST_F(PowerTest, ABridgeOfAnotherConfigurationIsRewrittenAndReconnected) {
    load("tarncan.cal");
    sim().set_bridge_configuration(127, 500);
    EXPECT_EQ(can_inst_on(si_), 0);
    EXPECT_EQ(sim().bridge_kbit_rate(), 1000u);
    EXPECT_EQ(sim().calls(can_op::CAN_Connect), 2);
    EXPECT_EQ(clock_.slept_ms() >= 2000, true);
}

TEST_F(PowerTest, AFailedPowerOnReleasesLightLevelControlForTheNext) {
    load("tarncan.cal");
    can_agc_settings settings = can_agc_get_settings();
    settings.enabled = true;
    can_agc_set_settings(settings);
    sim().set_sdo_abort(0x7F, 0x2030, 0, 0x08000000);  // the sync generator refuses
    ASSERT_EQ(can_inst_on(si_), ERR_CAN_SDO_RAMP_ERROR);
    // Held for the whole sequence, then stopped: no thread ran.
    can_agc_shutdown();
    EXPECT_EQ(transcript_.messages().find("No frame source"), std::string::npos);
    sim().set_sdo_abort(0x7F, 0x2030, 0, 0);
    ASSERT_EQ(can_inst_on(si_), 0);
    // Released at the end: the thread started (and, without frames, ended at once).
    can_agc_shutdown();
    EXPECT_NE(transcript_.messages().find("No frame source"), std::string::npos) << transcript_.messages();
}

TEST_F(PowerTest, WithoutABoardOrRecordNothingIsTouched) {
    load("tarncan.cal");
    si_->boardType = BOARD_TARN;
    EXPECT_EQ(can_inst_on(si_), ERR_WRONG_INSTR_BOARD);
    EXPECT_EQ(can_inst_off(si_), ERR_WRONG_INSTR_BOARD);
    si_->boardType = BOARD_CAN;
    can_config* kept = si_->canInfo;
    si_->canInfo = nullptr;
    EXPECT_EQ(can_inst_on(si_), ERR_HW_FAIL);
    si_->canInfo = kept;
    EXPECT_EQ(transcript_.text(), "[+0ms] can_inst_on: ERR_WRONG_INSTR_BOARD\n[+0ms] can_inst_on: ERR_HW_FAIL\n");
}

// ---- the bus library's version ----

TEST(BusLibraryVersion, IsTheLoadedLibrarysProductVersion) {
    ASSERT_EQ(can_bind_library("VaroCANopen"), 0);
    can_lib_version v{};
    EXPECT_TRUE(can_library_version(&v));
    EXPECT_EQ(v.major, sim::can_sim_version().major);
    EXPECT_EQ(v.minor, sim::can_sim_version().minor);
    can_unbind_library();
    platform::module_version none{};
    EXPECT_FALSE(platform::loaded_module_version("NoSuchLibrary", &none));
}

// ---- the bus library loaded by name, laid out from MF_VIRTUAL_CALFILE ----

// Sets the variable the loaded library reads on first use; the library reads it again
// after it was unloaded and loaded anew.
void set_virtual_calfile(const char* value) { test::set_env("MF_VIRTUAL_CALFILE", value); }

struct layout_case {
    const char* calfile;  // the variable's value, null: unset
    int32_t bridges;
};

TEST_F(PowerTest, TheLibraryLoadedByNameLaysItselfOutFromTheFileItsVariableNames) {
    const layout_case cases[] = {
        {nullptr, 0},
        {"calfiles/no-such-file.cal", 0},
        {"calfiles/sableqv.cal", 0},  // not a CAN instrument
        {"calfiles/loomacan.cal", 1},
        {"calfiles/tarncan.cal", 1},
    };
    for (const layout_case& c : cases) {
        SCOPED_TRACE(c.calfile ? c.calfile : "(unset)");
        set_virtual_calfile(c.calfile);
        ASSERT_EQ(can_bind_library("VaroCANopen"), 0);
        can_bridge_entry bridges[can_max_bridges]{};
        EXPECT_EQ(can_lib().CAN_EnumerateBridges(bridges), c.bridges);
        if (c.bridges == 1) {
            // The bridge carries the MAC address of the file the variable names.
            ASSERT_EQ(sb_readCal(1, c.calfile), 0);
            EXPECT_EQ(std::memcmp(bridges[0].mac, sb_slot(1)->canInfo->mac, 6), 0);
            sb_setDefaults(sb_slot(1));
        }
        can_unbind_library();
    }
    // The host powers on the instrument of its own calibration file through it.
    set_virtual_calfile("calfiles/loomacan.cal");
    ASSERT_EQ(can_bind_library("VaroCANopen"), 0);
    ASSERT_EQ(sb_readCal(0, "calfiles/loomacan.cal"), 0);
    si_ = sb_slot(0);
    EXPECT_EQ(can_inst_on(si_), 0) << transcript_.messages();
    EXPECT_EQ(can_power_last_stage(si_), can_power_stage::on);
    EXPECT_EQ(can_inst_off(si_), 0);
    EXPECT_EQ(si_->canInfo, nullptr);
    can_unbind_library();
    set_virtual_calfile(nullptr);
}

}  // namespace
}  // namespace mf::test
