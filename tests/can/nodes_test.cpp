// Node operations against the virtual nodes: what each node received (object, width,
// bytes), the range checks that keep the bus untouched, and the procedures' timings.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <cstring>
#include <functional>
#include <vector>

#include "can/can_events.h"
#include "can/can_sdo.h"
#include "can/nodes/can_nodes.h"
#include "can/nodes/node_table.h"
#include "can/nodes/zoom_cal.h"
#include "common/error_codes.h"
#include "common/hooks.h"
#include "platform/events.h"
#include "tests/can/can_fixture.h"

namespace mf::test {
namespace {

using bytes = std::vector<uint8_t>;

bytes f32(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return {static_cast<uint8_t>(b), static_cast<uint8_t>(b >> 8), static_cast<uint8_t>(b >> 16),
            static_cast<uint8_t>(b >> 24)};
}

class CanNodes : public CanTest {
protected:
    void SetUp() override {
        CanTest::SetUp();
        connect_bridge();
        for (uint8_t n :
             {CAN_NODE_ID_RAMP, CAN_NODE_ID_LED, CAN_NODE_ID_BRUSHMOTOR, CAN_NODE_ID_TRIPLEPZT, CAN_NODE_ID_FOCUS_NDW,
              CAN_NODE_ID_DD_RS, CAN_NODE_ID_DD_ZOOM, CAN_NODE_ID_AUX_MOTOR, CAN_NODE_ID_DMI})
            sim().add_node(n, 0x26720000u + n, 0x00040003);
        auto& p = state().present;
        p.triple_pzt = p.focus_ndw = p.dd_rs = p.dd_zoom = p.aux_motor = p.brush_motor = true;
        state().motor.turret_type = TURRET_MOTORIZED;
        state().motor.zoom_type = ZOOM_MOTORIZED;
        state().motor.zoom_positions = 6;
        can_reset_pdo_decoding();
        sim().set_time_source(+[] { return platform::monotonic_ms(); });
        cfg_.fw_major = 1;  // what the virtual bridge reports
        cfg_.fw_minor = 12;
    }
    // The one transfer an operation made.
    sim::can_sim::sdo_record only_transfer() {
        const auto log = sim().sdo_log();
        EXPECT_EQ(log.size(), 1u);
        return log.empty() ? sim::can_sim::sdo_record{} : log.back();
    }
};

struct write_case {
    const char* what;
    std::function<int32_t(const sysInfo*)> call;
    uint8_t node;
    uint16_t index;
    uint8_t subindex;
    bytes sent;
    bool kept = true;  // false: the node acts on the value (a start goes back to idle)
};

// Every write reaches its node's object with the documented width and bytes.
TEST_F(CanNodes, WritesReachTheirObjectsWithTheirWidths) {
    const can_ramp_timing ramp{100, 50.0f, 0.02f};  // 100 x 50 / 20 = 250
    const write_case cases[] = {
        {"ramp start", [](auto si) { return can_ramp_start(si); }, 127, 0x2000, 0, {1}, false},
        {"ramp select", [](auto si) { return can_write_ramp_select(si, 3); }, 127, 0x2001, 0, {3}},
        {"ramp trigger", [&](auto si) { return can_write_ramp_trigger(si, 2, ramp); }, 127, 0x2005, 2, {250, 0}},
        {"ramp rate 200", [](auto si) { return can_write_ramp_rate(si, 1, 200.0f); }, 127, 0x2004, 4, f32(200000.0f)},
        {"pifoc offset",
         [](auto si) { return can_write_pifoc_offset(si, 0xFFFF, false); },
         127,
         0x2009,
         1,
         {0xFF, 0xFF}},
        {"bridge config", [](auto si) { return can_bridge_write_config(si, 0x2001); }, 127, 0x2010, 2, {0x01, 0x20}},
        {"fg trigger", [](auto si) { return can_write_fg_trigger(si, 0x0102); }, 127, 0x2010, 5, {0x02, 0x01}},
        {"syncgen", [](auto si) { return can_write_syncgen(si, 100000.0f); }, 127, 0x2030, 0, f32(100000.0f)},
        {"digital out", [](auto si) { return can_bridge_write_digitalout(si, 0x5A); }, 127, 0x6200, 1, {0x5A}},
        {"led setup", [](auto si) { return can_write_led_setup(si, 7); }, 61, 0x2000, 0, {7}},
        {"llc inverted", [](auto si) { return can_write_llc(si, true, 0x1234); }, 61, 0x2001, 0, {0xCB, 0xED}},
        {"llc plain", [](auto si) { return can_write_llc(si, false, 0x1234); }, 61, 0x2001, 0, {0x34, 0x12}},
        {"avg current 1000", [](auto si) { return can_write_llc_avgcurlmt(si, 1000); }, 61, 0x2002, 0, {0xE8, 0x03}},
        {"fwd voltage 10000", [](auto si) { return can_write_llc_fwdvlt(si, 10000); }, 61, 0x2004, 0, {0x10, 0x27}},
        {"pwm 1000000",
         [](auto si) { return can_write_llc_pwmfreq(si, 1000000); },
         61,
         0x2006,
         0,
         {0x40, 0x42, 0x0F, 0}},
        {"pzt start", [](auto si) { return can_pztramp_start(si); }, 62, 0x2000, 0, {1}, false},
        {"pzt select", [](auto si) { return can_write_pztramp_select(si, 0); }, 62, 0x2001, 0, {0}},
        {"pzt rate unbounded", [](auto si) { return can_write_pztramp_rate(si, 0, 5000.0f); }, 62, 0x2003, 4,
         f32(5e6f)},
        {"pzt gain 3", [](auto si) { return can_write_pztramp_gain(si, 3, 3, 0x3FFF); }, 62, 0x2006, 8, {0xFF, 0x3F}},
        {"rs control", [](auto si) { return can_write_rs_dd_control(si, 9); }, 68, 0x2000, 0, {9}},
        {"rs mode 4", [](auto si) { return can_write_rs_dd_mode(si, 4); }, 68, 0x2002, 0, {4}},
        {"zoom velocity 10", [](auto si) { return can_write_zoom_dd_targetVel(si, 10.0); }, 70, 0x2004, 0, f32(10.0f)},
        {"zoom keypress", [](auto si) { return can_write_zoom_keypress_mode(si, 2); }, 70, 0x2044, 8, {2}},
        {"ndw control", [](auto si) { return can_write_ndw_control(si, 3); }, 64, 0x2020, 0, {3}},
        {"focus keypress", [](auto si) { return can_write_focus_keypress_mode(si, 1); }, 64, 0x2044, 8, {1}},
        {"dmd motor2 control", [](auto si) { return can_write_dmd_motor2_control(si, 66, 5); }, 66, 0x2020, 0, {5}},
        {"enc zoom backlash",
         [](auto si) { return tarn_enc_zoom_write_backlash(si, -2); },
         64,
         0x2019,
         0,
         {0xFE, 0xFF, 0xFF, 0xFF}},
        {"dmi preset 2", [](auto) { return can_dmi_preset_pos(2, 0x01020304); }, 48, 0x6010, 2, {4, 3, 2, 1}},
        {"dmi home required", [](auto) { return can_dmi_reset_home_required(); }, 48, 0x2100, 0, {64, 0}},
    };
    for (const write_case& c : cases) {
        SCOPED_TRACE(c.what);
        sim().reset_log();
        EXPECT_EQ(c.call(&si_), 0) << out_.text();
        const auto log = sim().sdo_log();
        ASSERT_FALSE(log.empty());
        const auto& r = log.back();
        EXPECT_TRUE(r.write);
        EXPECT_EQ(r.node, c.node);
        EXPECT_EQ(r.index, c.index);
        EXPECT_EQ(r.subindex, c.subindex);
        EXPECT_EQ(r.bytes, c.sent);
        EXPECT_EQ(r.abort_code, 0u);
        if (c.kept) {
            EXPECT_EQ(sim().object(c.node, c.index, c.subindex), c.sent);
        }
    }
}

struct refused_case {
    const char* what;
    std::function<int32_t(const sysInfo*)> call;
    int32_t code;
    const char* message;
};

// Values out of range are refused before anything reaches the bus; a far-out trigger
// must not wrap into range, and no rate that is not a positive number is divided by.
TEST_F(CanNodes, OutOfRangeValuesNeverReachTheBus) {
    const refused_case cases[] = {
        {"ramp trigger 256",
         [](auto si) {
             return can_write_ramp_trigger(si, 0, {256, 1.0f, 0.001f});
         },
         ERR_PARAM_OUT_OF_RANGE, "can_write_ramp_trigger: calculated frameNumber=256 outside of valid range\n"},
        {"ramp trigger wraps",
         [](auto si) {
             return can_write_ramp_trigger(si, 0, {65536 + 5, 1.0f, 0.001f});
         },
         ERR_PARAM_OUT_OF_RANGE, "can_write_ramp_trigger: calculated frameNumber=65541 outside of valid range\n"},
        {"pzt trigger 16384",
         [](auto si) {
             return can_write_pztramp_trigger(si, 0, {16384, 1.0f, 0.001f});
         },
         ERR_PARAM_OUT_OF_RANGE,
         "can_write_pztramp_trigger: calculated frameNumber=16384 outside of valid range [0,16383]\n"},
        {"trigger zero rate",
         [](auto si) {
             return can_write_ramp_trigger(si, 0, {1, 1.0f, 0.0f});
         },
         ERR_PARAM_OUT_OF_RANGE, ""},
        {"trigger NaN rate",
         [](auto si) {
             return can_write_pztramp_trigger(si, 0, {1, 1.0f, NAN});
         },
         ERR_PARAM_OUT_OF_RANGE, ""},
        {"ramp rate 200.01", [](auto si) { return can_write_ramp_rate(si, 0, 200.01f); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"ramp rate 0", [](auto si) { return can_write_ramp_rate(si, 0, 0.0f); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"pzt rate negative", [](auto si) { return can_write_pztramp_rate(si, 0, -1.0f); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"pzt rate NaN", [](auto si) { return can_write_pztramp_rate(si, 0, NAN); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"ramp slot 4", [](auto si) { return can_write_ramp_select(si, 4); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"ramp valid slot 4",
         [](auto si) {
             uint8_t v;
             return can_read_ramp_valid(si, 4, &v);
         },
         ERR_PARAM_OUT_OF_RANGE, ""},
        {"pzt data 0 points",
         [](auto si) {
             int16_t p = 0;
             return can_write_pztramp_data(si, 0, &p, 0);
         },
         ERR_PARAM_OUT_OF_RANGE, ""},
        {"pzt gain 0x4000", [](auto si) { return can_write_pztramp_gain(si, 0, 1, 0x4000); }, ERR_PARAM_OUT_OF_RANGE,
         ""},
        {"pzt gain 4", [](auto si) { return can_write_pztramp_gain(si, 0, 4, 1); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"pifoc 0x10000", [](auto si) { return can_write_pifoc_offset(si, 0x10000, false); }, ERR_PARAM_OUT_OF_RANGE,
         ""},
        {"avg current 1001", [](auto si) { return can_write_llc_avgcurlmt(si, 1001); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"fwd voltage 10001", [](auto si) { return can_write_llc_fwdvlt(si, 10001); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"pwm 1000001", [](auto si) { return can_write_llc_pwmfreq(si, 1000001); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"syncgen 100001", [](auto si) { return can_write_syncgen(si, 100001.0f); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"mode 5", [](auto si) { return can_write_dmd_motor1_mode(si, 70, 5); }, ERR_INVALID_PARAM,
         "can_write_dmd_motor1_mode: invalid mode=5\n"},
        {"velocity 9.99", [](auto si) { return can_write_dmd_motor1_targetVel(si, 70, 9.99); }, ERR_INVALID_PARAM, ""},
        {"velocity 10000.01", [](auto si) { return can_write_zoom_dd_targetVel(si, 10000.01); }, ERR_INVALID_PARAM, ""},
        {"velocity NaN", [](auto si) { return can_write_zoom_dd_targetVel(si, NAN); }, ERR_INVALID_PARAM, ""},
        {"avg current negative", [](auto si) { return can_write_llc_avgcurlmt(si, -1); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"fwd voltage negative", [](auto si) { return can_write_llc_fwdvlt(si, -1); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"pifoc negative", [](auto si) { return can_write_pifoc_offset(si, -1, false); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"pzt gain negative", [](auto si) { return can_write_pztramp_gain(si, 0, 2, -1); }, ERR_PARAM_OUT_OF_RANGE, ""},
        {"ramp rate infinite", [](auto si) { return can_write_ramp_rate(si, 0, INFINITY); }, ERR_PARAM_OUT_OF_RANGE,
         ""},
        {"dmi capture of 0 entries",
         [](auto) {
             int32_t e;
             return can_dmi_read_capture_buffer_array(0, &e);
         },
         ERR_PARAM_OUT_OF_RANGE, ""},
        {"pi select without scanner", [](auto si) { return can_write_pi_ramp_select(si, 1); }, ERR_INVALID_PARAM, ""},
    };
    for (const refused_case& c : cases) {
        SCOPED_TRACE(c.what);
        out_.clear();
        EXPECT_EQ(c.call(&si_), c.code);
        EXPECT_EQ(out_.text(), c.message);
    }
    EXPECT_TRUE(sim().sdo_log().empty());
}

TEST_F(CanNodes, TriggerLimitsAreInclusiveAndTypeTwentyFiveDoubles) {
    EXPECT_EQ(can_write_ramp_trigger(&si_, 0, {255, 1.0f, 0.001f}), 0);
    EXPECT_EQ(sim().object(127, 0x2003, 2), (bytes{255, 0}));
    EXPECT_EQ(can_write_pztramp_trigger(&si_, 1, {16383, 1.0f, 0.001f}), 0);
    EXPECT_EQ(sim().object(62, 0x2004, 2), (bytes{0xFF, 0x3F}));
    si_.sysType = 25;
    EXPECT_EQ(can_write_pztramp_trigger(&si_, 1, {8191, 1.0f, 0.001f}), 0);  // 2 x 8191 + 1
    EXPECT_EQ(sim().object(62, 0x2004, 2), (bytes{0xFF, 0x3F}));
    EXPECT_EQ(can_write_pztramp_trigger(&si_, 1, {8192, 1.0f, 0.001f}), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(out_.text(),
              "can_write_pztramp_trigger: calculated frameNumber=16385 outside of valid range [0,16383]\n");
}

TEST_F(CanNodes, PztDataOfSixteenThousandPointsIsOneTransferOfAllBytes) {
    std::vector<int16_t> points(16384);
    for (size_t i = 0; i < points.size(); ++i)
        points[i] = static_cast<int16_t>(i * 3);
    EXPECT_EQ(can_write_pztramp_data(&si_, 2, points.data(), 16384), 0);
    const auto r = only_transfer();
    EXPECT_EQ(r.index, 0x2005);
    EXPECT_EQ(r.subindex, 5);
    ASSERT_EQ(r.bytes.size(), 32768u);
    EXPECT_EQ(r.bytes[2], 3);
    EXPECT_EQ(r.bytes[32767], static_cast<uint8_t>((16383 * 3) >> 8));
    EXPECT_EQ(can_write_pztramp_data(&si_, 2, points.data(), 16385), ERR_PARAM_OUT_OF_RANGE);
}

// Reads fill their out-parameters only on success, with the documented decoding.
TEST_F(CanNodes, ReadsDecodeAndFillOnlyOnSuccess) {
    sim().set_object(61, 0x2001, 0, {0x34, 0x12});
    uint16_t level = 7;
    EXPECT_EQ(can_read_llc(&si_, true, &level), 0);
    EXPECT_EQ(level, 0xEDCB);
    EXPECT_EQ(can_read_llc(&si_, false, &level), 0);
    EXPECT_EQ(level, 0x1234);
    sim().set_sdo_abort(61, 0x2001, 0, 0x06090011);
    level = 7;
    EXPECT_EQ(can_read_llc(&si_, false, &level), ERR_CAN_SDO_LED_ERROR);
    EXPECT_EQ(level, 7);

    int32_t major = 0, minor = 0;
    EXPECT_EQ(can_read_version(&si_, 64, &major, &minor), 0);
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 3);

    sim().set_object(62, 0x1002, 0, {1, 2, 3, 0xA5});
    uint8_t errchk = 0;
    EXPECT_EQ(can_read_pztramp_errchk(&si_, &errchk), 0);
    EXPECT_EQ(errchk, 0xA5);

    int32_t zooms = 0, turrets = 0;
    EXPECT_EQ(can_get_brmtr_config(&si_, &zooms, &turrets), 0);
    EXPECT_EQ(zooms, 6);
    EXPECT_EQ(turrets, 5);

    sim().set_object(48, 0x2002, 4, {0x00, 0x00, 0x01, 0x02, 0xFF, 0xFF, 0xFF, 0xFE});
    int32_t entries[2] = {};
    EXPECT_EQ(can_dmi_read_capture_buffer_array(2, entries), 0);
    EXPECT_EQ(entries[0], 0x0102);
    EXPECT_EQ(entries[1], -2);
}

// The out-parameters of a read as the caller left them when the node refuses it:
// {code, untouched}.
template <class T, class F>
std::pair<int32_t, bool> kept(F read) {
    T v;
    std::memset(&v, 0xA5, sizeof v);
    T before;
    std::memcpy(&before, &v, sizeof v);
    const int32_t err = read(&v);
    return {err, std::memcmp(&v, &before, sizeof v) == 0};
}

struct refused_read {
    const char* what;
    uint8_t node;
    uint16_t index;
    uint8_t subindex;
    int32_t code;
    std::function<std::pair<int32_t, bool>(const sysInfo*)> call;
};

// Every read the node refuses reaches the node's object, returns the operation's own
// code and leaves the caller's out-parameters as they were.
TEST_F(CanNodes, RefusedReadsLeaveTheirOutParametersAlone) {
    using i32x2 = std::array<int32_t, 2>;
    sb_pifoc pi;
    pi.type = 2;
    const refused_read cases[] = {
        {"dmd motor1 control", 68, 0x2000, 0, ERR_CAN_SDO_DMD_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_dmd_motor1_control(si, 68, v); }); }},
        {"dmd llc level", 64, 0x2028, 0, ERR_CAN_SDO_DMD_ERROR,
         [](auto si) {
             return kept<uint16_t>([&](auto* v) { return can_read_dmd_motor2_llcLevel(si, 64, true, v); });
         }},
        {"dmd max current", 66, 0x2036, 0, ERR_CAN_SDO_DMD_ERROR,
         [](auto si) { return kept<int16_t>([&](auto* v) { return can_read_dmd_motor2_maxCurrent(si, 66, v); }); }},
        {"dmd keypress", 70, 0x2044, 8, ERR_CAN_SDO_DMD_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_dmd_keypress_mode(si, 70, v); }); }},
        {"rs position", 68, 0x2047, 0, ERR_CAN_SDO_ROF_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_rs_position(si, v); }); }},
        {"rs max current", 68, 0x2036, 0, ERR_CAN_SDO_ROF_ERROR,
         [](auto si) { return kept<int16_t>([&](auto* v) { return can_read_rs_maxCurrent(si, v); }); }},
        {"zoom keypress", 70, 0x2044, 8, ERR_CAN_SDO_ZOOM_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_zoom_keypress_mode(si, v); }); }},
        {"ndw level", 64, 0x2028, 0, ERR_CAN_SDO_NDW_ERROR,
         [](auto si) { return kept<uint16_t>([&](auto* v) { return can_read_ndw_llcLevel(si, true, v); }); }},
        {"ndw status", 64, 0x2021, 0, ERR_CAN_SDO_NDW_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_ndw_status(si, v); }); }},
        {"aux status", 66, 0x2021, 0, ERR_CAN_SDO_AUX_MOTOR_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_aux_status(si, v); }); }},
        {"ramp status", 127, 0x2000, 0, ERR_CAN_SDO_RAMP_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_ramp_status(si, v); }); }},
        {"ramp valid", 127, 0x2006, 1, ERR_CAN_SDO_RAMP_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_ramp_valid(si, 3, v); }); }},
        {"bridge status", 127, 0x2010, 1, ERR_CAN_SDO_BRIDGE_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_bridge_status(si, v); }); }},
        {"bridge config", 127, 0x2010, 2, ERR_CAN_SDO_RAMP_ERROR,
         [](auto si) { return kept<uint16_t>([&](auto* v) { return can_bridge_read_config(si, v); }); }},
        {"llc", 61, 0x2001, 0, ERR_CAN_SDO_LED_ERROR,
         [](auto si) { return kept<uint16_t>([&](auto* v) { return can_read_llc(si, true, v); }); }},
        {"turret status", 63, 0x2001, 0, ERR_CAN_SDO_BRMOTOR_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_turret_status(si, v); }); }},
        {"turret", 63, 0x2002, 0, ERR_CAN_SDO_BRMOTOR_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_turret(si, v); }); }},
        {"zoom", 63, 0x2012, 0, ERR_CAN_SDO_BRMOTOR_ERROR,
         [](auto si) { return kept<int32_t>([&](auto* v) { return can_read_zoom(si, v); }); }},
        {"brush motor config", 63, 0x2020, 1, ERR_CAN_SDO_BRMOTOR_ERROR,
         [](auto si) { return kept<i32x2>([&](auto* v) { return can_get_brmtr_config(si, &(*v)[0], &(*v)[1]); }); }},
        {"pzt status", 62, 0x2000, 0, ERR_CAN_SDO_PZT_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_pztramp_status(si, v); }); }},
        {"pzt valid", 62, 0x2003, 1, ERR_CAN_SDO_PZT_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_pztramp_valid(si, 0, v); }); }},
        {"pzt errchk", 62, 0x1002, 0, ERR_CAN_SDO_PZT_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_pztramp_errchk(si, v); }); }},
        {"product id", 70, 0x1018, 2, ERR_CAN_ERROR,
         [](auto si) { return kept<uint32_t>([&](auto* v) { return can_read_productID(si, 70, v); }); }},
        {"version", 64, 0x1018, 3, ERR_CAN_ERROR,
         [](auto si) { return kept<i32x2>([&](auto* v) { return can_read_version(si, 64, &(*v)[0], &(*v)[1]); }); }},
        {"dmi position 2", 48, 0x6020, 2, ERR_CAN_SDO_DMI_ERROR,
         [](auto) { return kept<int32_t>([&](auto* v) { return can_dmi_read_pos(2, v); }); }},
        {"dmi status", 48, 0x1002, 0, ERR_CAN_SDO_DMI_ERROR,
         [](auto) { return kept<uint32_t>([&](auto* v) { return can_dmi_read_all_status(v); }); }},
        {"dmi status flag", 48, 0x1002, 0, ERR_CAN_SDO_DMI_ERROR,
         [](auto) { return kept<bool>([&](auto* v) { return can_dmi_read_status_flag(v); }); }},
        {"dmi capture count", 48, 0x2002, 3, ERR_CAN_SDO_DMI_ERROR,
         [](auto) { return kept<uint32_t>([&](auto* v) { return can_dmi_read_capture_buffer_count(v); }); }},
        {"dmi capture array", 48, 0x2002, 4, ERR_CAN_SDO_DMI_ERROR,
         [](auto) { return kept<i32x2>([&](auto* v) { return can_dmi_read_capture_buffer_array(2, v->data()); }); }},
        // PI digital scanner objects (the scanner is configured for these rows).
        {"pi ramp status", 127, 0x2041, 11, ERR_CAN_SDO_RAMP_ERROR,
         [](auto si) { return kept<int32_t>([&](auto* v) { return can_read_pi_ramp_status(si, v); }); }},
        {"pi ramp status by ramp status", 127, 0x2041, 11, ERR_CAN_SDO_RAMP_ERROR,
         [](auto si) { return kept<uint8_t>([&](auto* v) { return can_read_ramp_status(si, v); }); }},
        {"pi amplitude", 127, 0x2041, 2, ERR_CAN_SDO_RAMP_ERROR,
         [](auto si) { return kept<float>([&](auto* v) { return can_read_pi_ramp_amplitude(si, v); }); }},
        {"pi velocity", 127, 0x2041, 3, ERR_CAN_SDO_RAMP_ERROR,
         [](auto si) { return kept<float>([&](auto* v) { return can_read_pi_ramp_velocity(si, v); }); }},
        {"pi tables loaded", 127, 0x2041, 20, ERR_CAN_SDO_RAMP_ERROR,
         [](auto si) { return kept<int32_t>([&](auto* v) { return can_pi_load_ddl_tables(si, v); }); }},
    };
    for (const refused_read& c : cases) {
        SCOPED_TRACE(c.what);
        si_.scanner.pifoc = std::strncmp(c.what, "pi ", 3) == 0 ? &pi : nullptr;
        sim().set_sdo_abort(c.node, c.index, c.subindex, 0x06090011);
        sim().reset_log();
        const auto [err, untouched] = c.call(&si_);
        sim().set_sdo_abort(c.node, c.index, c.subindex, 0);
        EXPECT_EQ(err, c.code);
        EXPECT_TRUE(untouched);
        const auto log = sim().sdo_log();
        ASSERT_FALSE(log.empty());
        EXPECT_FALSE(log.back().write);
        EXPECT_EQ(log.back().node, c.node);
        EXPECT_EQ(log.back().index, c.index);
        EXPECT_EQ(log.back().subindex, c.subindex);
        EXPECT_EQ(log.back().abort_code, 0x06090011u);
    }
    si_.scanner.pifoc = nullptr;
}

TEST_F(CanNodes, NodeOperationsReplaceTheGenericCodeWithTheirOwn) {
    struct {
        std::function<int32_t(const sysInfo*)> call;
        uint8_t node;
        uint16_t index;
        uint8_t sub;
        int32_t code;
    } cases[] = {
        {[](auto si) {
             uint8_t v;
             return can_read_rs_status(si, &v);
         },
         68, 0x2021, 0, ERR_CAN_SDO_ROF_ERROR},
        {[](auto si) {
             uint8_t v;
             return can_read_zoom_dd_control(si, &v);
         },
         70, 0x2000, 0, ERR_CAN_SDO_ZOOM_ERROR},
        {[](auto si) {
             uint16_t v;
             return can_read_ndw_llcLevel(si, false, &v);
         },
         64, 0x2028, 0, ERR_CAN_SDO_NDW_ERROR},
        {[](auto si) {
             uint8_t v;
             return can_read_focus_keypress_mode(si, &v);
         },
         64, 0x2044, 8, ERR_CAN_SDO_FZM_ERROR},
        {[](auto si) {
             uint8_t v;
             return can_read_aux_position(si, &v);
         },
         66, 0x2047, 0, ERR_CAN_SDO_AUX_MOTOR_ERROR},
        {[](auto si) { return can_write_aux_current(si, 100); }, 66, 0x2036, 0, ERR_CAN_AUX_MOTOR_ERROR},
        {[](auto si) {
             uint8_t v;
             return can_read_dmd_motor2_status(si, 68, &v);
         },
         68, 0x2021, 0, ERR_CAN_SDO_DMD_ERROR},
    };
    for (auto& c : cases) {
        sim().set_sdo_abort(c.node, c.index, c.sub, 0x08000000);
        EXPECT_EQ(c.call(&si_), c.code);
        sim().set_sdo_abort(c.node, c.index, c.sub, 0);
    }
    si_.boardType = 0;
    uint8_t v;
    EXPECT_EQ(can_read_dmd_motor2_status(&si_, 68, &v), ERR_INVALID_PARAM);
    EXPECT_EQ(can_ramp_start(&si_), ERR_WRONG_INSTR_BOARD);
    si_.boardType = BOARD_CAN;
    state().present.dd_rs = false;
    out_.clear();
    EXPECT_EQ(can_read_rs_status(&si_, &v), ERR_CAN_NODE_NOT_AVAIL);
    EXPECT_EQ(out_.text(),
              stamp_at(0) + "can_read_rs_status: CAN Ring-of-Fire and Diffuser Disk node is not available\n");
}

// The ND wheel level write clears "stopped" for the move it starts, sets it again when
// the write fails, and counts as use of the instrument only while no light-level
// control thread exists.
TEST_F(CanNodes, NdwLevelWriteHandlesStoppedEventAndActivity) {
    platform::event_handle stopped = platform::event_create(CAN_NDWHEEL_STOPPED_NAME, true, true);
    platform::event_handle activity = platform::event_create(nullptr, true, false);
    can_set_sleep_reset_event(activity);

    EXPECT_EQ(can_write_ndw_llcLevel(&si_, true, 0x00FF), 0);
    EXPECT_EQ(sim().object(64, 0x2028, 0), (bytes{0x00, 0xFF}));
    EXPECT_FALSE(platform::event_is_set(stopped));
    EXPECT_TRUE(platform::event_is_set(activity));

    platform::event_reset(activity);
    can_agc_thread_exists = true;
    EXPECT_EQ(can_write_ndw_llcLevel(&si_, false, 5), 0);
    EXPECT_FALSE(platform::event_is_set(activity));
    can_agc_thread_exists = false;

    sim().set_sdo_abort(64, 0x2028, 0, 0x08000000);
    EXPECT_EQ(can_write_ndw_llcLevel(&si_, false, 5), ERR_CAN_SDO_NDW_ERROR);
    EXPECT_TRUE(platform::event_is_set(stopped));

    can_set_sleep_reset_event(nullptr);
    platform::event_close(activity);
    platform::event_close(stopped);
}

TEST_F(CanNodes, CurrentWriteReadsTheMaximumFirstAndStopsWhenItFails) {
    EXPECT_EQ(can_write_rs_current(&si_, -300), 0);
    auto log = sim().sdo_log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_FALSE(log[0].write);
    EXPECT_EQ(log[0].index, 0x2036);
    EXPECT_EQ(log[1].index, 0x2034);
    EXPECT_EQ(log[1].bytes, (bytes{0xD4, 0xFE}));
    sim().reset_log();
    sim().set_sdo_abort(68, 0x2036, 0, 0x08000000);
    EXPECT_EQ(can_write_rs_current(&si_, 1), ERR_CAN_SDO_ROF_ERROR);
    EXPECT_EQ(sim().sdo_log().size(), 1u);
}

TEST_F(CanNodes, ZoomCodesDecodeByProduct) {
    cfg_.brush_product_id = static_cast<int32_t>(CAN_BRMOTOR_PRODUCT_D7);
    state().motor.zoom_type = ZOOM_ENCODED;
    sim().set_object(63, 0x2012, 0, {1});
    int32_t pos = -1;
    EXPECT_EQ(can_read_zoom(&si_, &pos), 0);
    EXPECT_EQ(pos, 6);
    EXPECT_EQ(can_get_pdo_decoding().last_zoom_position, 6);
    sim().set_object(63, 0x2012, 0, {8});
    EXPECT_EQ(can_read_zoom(&si_, &pos), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(pos, 0);
    EXPECT_EQ(can_read_all_zoom(&si_), ERR_INVALID_PARAM);

    cfg_.brush_product_id = static_cast<int32_t>(CAN_BRMOTOR_PRODUCT_D5);
    sim().set_object(63, 0x2012, 0, {15});
    EXPECT_EQ(can_read_zoom(&si_, &pos), 0);
    EXPECT_EQ(pos, -2);
    state().motor.zoom_positions = 3;
    sim().set_object(63, 0x2015, 0, {1, 15, 3, 4, 5, 6});
    EXPECT_EQ(can_read_all_zoom(&si_), 0);
    EXPECT_EQ(std::vector<int32_t>(cfg_.zoom_codes, cfg_.zoom_codes + 6), (std::vector<int32_t>{1, -2, 3, -2, -2, -2}));
    state().motor.zoom_type = ZOOM_NONE;
    EXPECT_EQ(can_read_zoom(&si_, &pos), ERR_ZOOM_NOT_AVAILABLE);
}

TEST_F(CanNodes, LlcRangeWritesTheChosenPairOrTheDefaults) {
    si_.llc.avgCurLimit[0] = 100;
    si_.llc.avgCurLimit[3] = 400;
    si_.llc.fwdVoltage[3] = 4000;
    EXPECT_EQ(can_set_llc_range(&si_, 1, 1), 0);
    auto log = sim().sdo_log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].index, 0x2002);
    EXPECT_EQ(log[0].bytes, (bytes{0x90, 0x01}));
    EXPECT_EQ(log[1].index, 0x2004);
    EXPECT_EQ(log[1].bytes, (bytes{0xA0, 0x0F}));
    sim().reset_log();
    EXPECT_EQ(can_set_llc_range(&si_, 0, 0), 0);  // a zero voltage is not written
    EXPECT_EQ(sim().sdo_log().size(), 1u);
    sim().reset_log();
    EXPECT_EQ(can_set_llc_range(&si_, 7, 0), 0);
    log = sim().sdo_log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].bytes, (bytes{0xE8, 0x03}));
    EXPECT_EQ(log[1].bytes, (bytes{0x94, 0x11}));
    sim().set_sdo_abort(CAN_NODE_ID_LED, 0x2002, 0, 0x08000000);
    out_.clear();
    EXPECT_EQ(can_set_llc_range(&si_, 7, 0), ERR_CAN_SDO_LED_ERROR);
    EXPECT_NE(out_.text().find("can_set_llc_range failed: ERR_CAN_SDO_LED_ERROR\n"), std::string::npos);
}

TEST_F(CanNodes, FrameGrabberTriggerIsOneByteUpToFirmwareOneEleven) {
    cfg_.fw_major = 1;
    cfg_.fw_minor = 11;
    sim().set_firmware(1, 11);
    EXPECT_EQ(can_write_fg_trigger(&si_, 0x0102), 0);
    EXPECT_EQ(only_transfer().bytes, (bytes{0x02}));
}

TEST_F(CanNodes, AlignmentDiodeByFirmware) {
    cfg_.fw_major = 10;
    cfg_.fw_minor = 8;
    sim().set_object(127, 0x6200, 1, {0xF1});
    EXPECT_EQ(can_set_align_illumination_diode(&si_, true), 0);
    EXPECT_EQ(sim().object(127, 0x6200, 1), (bytes{0xF0}));
    EXPECT_EQ(can_set_align_illumination_diode(&si_, false), 0);
    EXPECT_EQ(sim().object(127, 0x6200, 1), (bytes{0xF1}));
    sim().reset_log();
    cfg_.fw_minor = 9;
    EXPECT_EQ(can_set_align_illumination_diode(&si_, true), 0);
    auto log = sim().sdo_log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].index, 0x6240);
    EXPECT_EQ(log[0].bytes, (bytes{1}));
    EXPECT_EQ(log[1].index, 0x6220);
    EXPECT_EQ(log[1].bytes, (bytes{1}));
    sim().reset_log();
    cfg_.fw_major = 0;
    EXPECT_EQ(can_set_align_illumination_diode(&si_, true), 0);
    EXPECT_TRUE(sim().sdo_log().empty());
}

TEST_F(CanNodes, VirtualRampRunsForItsDurationOnlyWhenValid) {
    sim().set_ramp_duration(CAN_NODE_ID_RAMP, 300);
    EXPECT_EQ(can_write_ramp_select(&si_, 1), 0);
    EXPECT_EQ(can_ramp_start(&si_), 0);
    uint8_t status = 9;
    EXPECT_EQ(can_read_ramp_status(&si_, &status), 0);
    EXPECT_EQ(status, 0);  // slot 1 holds no table: nothing runs
    std::vector<uint8_t> table(32768, 0x11);
    EXPECT_EQ(can_write_ramp_data(&si_, 1, table.data()), 0);
    uint8_t valid = 0;
    EXPECT_EQ(can_read_ramp_valid(&si_, 1, &valid), 0);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(can_ramp_start(&si_), 0);
    clock_.sleep_ms(299);
    EXPECT_EQ(can_read_ramp_status(&si_, &status), 0);
    EXPECT_EQ(status, 1);
    clock_.sleep_ms(1);
    EXPECT_EQ(can_read_ramp_status(&si_, &status), 0);
    EXPECT_EQ(status, 0);
}

TEST_F(CanNodes, SilentObjectTimesOut) {
    sim().set_sdo_silent(CAN_NODE_ID_LED, 0x2001, 0, true);
    EXPECT_EQ(can_write_llc(&si_, false, 1), ERR_CAN_TIMEOUT);
    EXPECT_TRUE(sim().object(CAN_NODE_ID_LED, 0x2001, 0) == (bytes{0, 0}));
}

// Procedures, in virtual time.
TEST_F(CanNodes, DmiResetPollsTenTimesFiftyMillisecondsApart) {
    sim().set_dmi_ready_after(11);
    EXPECT_EQ(can_dmi_reset(), ERR_HW_FAIL);
    EXPECT_EQ(clock_.monotonic_ms(), 500);
    const auto log = sim().sdo_log();
    ASSERT_EQ(log.size(), 11u);
    EXPECT_EQ(log[0].bytes, (bytes{0x00, 0x80}));
    char now[41];
    u_time_text(now);
    EXPECT_EQ(out_.text(), std::string(now) + " can_dmi_reset: not ready after 11 iterations\n");
}

TEST_F(CanNodes, NdwHomeFailedStopsAtOnceWithStatusSixteen) {
    sim().set_homing(0, 0, true);
    EXPECT_EQ(can_home_ndw(&si_, true, 10000), ERR_CAN_NDW_HOME_ERROR);
    EXPECT_EQ(out_.text(), "can_home_ndw: llcHomeStatus=16\n");
    EXPECT_EQ(clock_.monotonic_ms(), 100);
    const auto log = sim().sdo_log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].index, 0x2020);
    EXPECT_EQ(log[0].bytes, (bytes{3}));
}

TEST_F(CanNodes, NdwHomeSearchTimesOut) {
    sim().set_homing(100000, 0, false);
    EXPECT_EQ(can_home_ndw(&si_, true, 1000), ERR_CAN_NDW_HOME_ERROR);
    EXPECT_EQ(out_.text(), "can_home_ndw: timeout waiting for home search, time=1000 ms\n");
    EXPECT_EQ(sim().sdo_log().size(), 11u);
}

TEST_F(CanNodes, DmiBecomesReadyAtTheChosenPoll) {
    sim().set_dmi_ready_after(10);
    EXPECT_EQ(can_dmi_reset(), 0);
    EXPECT_EQ(clock_.monotonic_ms(), 500);
    EXPECT_EQ(sim().sdo_log().size(), 11u);
}

TEST_F(CanNodes, NdwHomesInTimeAndTimesOutOnALongMove) {
    sim().set_homing(1000, 700, false);
    EXPECT_EQ(can_home_ndw(&si_, true, 10000), 0);
    EXPECT_EQ(clock_.monotonic_ms(), 1700);
    // 1 control write, then one status read every 100 ms until stopped.
    EXPECT_EQ(sim().sdo_log().size(), 1u + 17u);
    EXPECT_EQ(out_.text(), "");

    // Found in time but the move outlasts the limit.
    sim().reset_log();
    sim().set_homing(200, 5000, false);
    EXPECT_EQ(can_home_ndw(&si_, true, 1000), ERR_CAN_NDW_HOME_ERROR);
    EXPECT_EQ(out_.text(), "can_home_ndw: timeout waiting for move to initial position, time=1000 ms\n");
}

// The PDO form reads no status: what the ND wheel PDOs decode is what it sees. The
// idle hook after each wait stands in for the PDOs' arrival.
struct ndw_pdos {
    static inline int idles = 0;
    static void idle() {
        ++idles;
        can_pdo_decoding d = can_get_pdo_decoding();
        if (idles == 3) {
            d.ndw_home_status = 0x00;
            d.ndw_moving = 0x02;
        } else if (idles == 6) {
            d.ndw_moving = 0x00;
        }
        can_set_pdo_decoding(d);
    }
};

TEST_F(CanNodes, NdwHomesByPdosWithoutStatusReads) {
    ndw_pdos::idles = 0;
    u_set_idle_hook(&ndw_pdos::idle);
    EXPECT_EQ(can_home_ndw(&si_, false, 10000), 0);
    u_set_idle_hook(nullptr);
    EXPECT_EQ(ndw_pdos::idles, 6);
    EXPECT_EQ(clock_.monotonic_ms(), 600);
    ASSERT_EQ(sim().sdo_log().size(), 1u);
    EXPECT_EQ(sim().sdo_log()[0].bytes, (bytes{3}));
}

// The virtual node's own status PDOs drive the PDO form of homing: the node sends a
// PDO at each change, delivered on the simulator's thread, decoded by
// can_process_events.
struct ndw_tick {
    static void idle() {
        sim::can_sim::instance().tick();
        sim::can_sim::instance().flush();
    }
};

TEST_F(CanNodes, NdwHomesOnTheVirtualNodesPdos) {
    can_clear_event_queues();
    ASSERT_EQ(CanCreateSyncObjects(), 0);
    sim().set_pdo_filter(false);
    ASSERT_EQ(sim().CAN_RegisterEvents(&ReceivePdoHandler, &ReceiveEmcyHandler), CAN_OK);
    sim().set_homing(300, 400, false);
    u_set_idle_hook(&ndw_tick::idle);
    EXPECT_EQ(can_home_ndw(&si_, false, 10000), 0);
    u_set_idle_hook(nullptr);
    EXPECT_EQ(clock_.monotonic_ms(), 700);
    EXPECT_EQ(sim().sdo_log().size(), 1u);

    // A failed home shows in the PDO as well.
    sim().set_homing(200, 0, true);
    u_set_idle_hook(&ndw_tick::idle);
    out_.clear();
    EXPECT_EQ(can_home_ndw(&si_, false, 10000), ERR_CAN_NDW_HOME_ERROR);
    u_set_idle_hook(nullptr);
    EXPECT_EQ(out_.text(), "can_home_ndw: llcHomeStatus=16\n");
    sim().reset();
    can_clear_event_queues();
    can_events_free_resources();
}

TEST_F(CanNodes, RingSpotMovesToTheTargetAndSkipsWhenThere) {
    si_.ringSpot = 1;
    sim().set_move_time(68, 1000);
    sim().set_object(68, 0x2044, 8, {0x01});  // bit 0x02 clear: nothing to restore
    EXPECT_EQ(can_rs_move(&si_, 1, true), 0);
    EXPECT_EQ(clock_.monotonic_ms(), 1000);
    EXPECT_EQ(sim().object(68, 0x2047, 0), (bytes{2}));
    sim().reset_log();
    EXPECT_EQ(can_rs_move(&si_, 1, true), 0);
    EXPECT_EQ(sim().sdo_log().size(), 1u);  // the position read alone
}

// The whole exchange as text, one transfer a line: "R|W node index/sub bytes [abort]".
std::string transcript(const std::vector<sim::can_sim::sdo_record>& log) {
    std::string text;
    char line[64];
    for (const auto& r : log) {
        std::snprintf(line, sizeof line, "%c %d 0x%04X/%d", r.write ? 'W' : 'R', r.node, r.index, r.subindex);
        text += line;
        for (uint8_t b : r.bytes) {
            std::snprintf(line, sizeof line, " %02X", b);
            text += line;
        }
        if (r.abort_code) {
            std::snprintf(line, sizeof line, " abort %08X", static_cast<unsigned>(r.abort_code));
            text += line;
        }
        text += '\n';
    }
    return text;
}

std::string data_file(const char* name) {
    std::ifstream in(std::string(MF_CAN_TEST_DATA) + "/" + name, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST_F(CanNodes, RingSpotMoveTranscript) {
    si_.ringSpot = 1;
    sim().set_move_time(68, 600);
    sim().set_object(68, 0x2044, 8, {0x03});
    EXPECT_EQ(can_rs_move(&si_, 1, true), 0);
    EXPECT_EQ(clock_.monotonic_ms(), 750);
    EXPECT_EQ(transcript(sim().sdo_log()), data_file("rs_move.txt"));
}

TEST_F(CanNodes, RingSpotMoveRestoresKeypressOnEveryPath) {
    si_.ringSpot = 1;
    sim().set_object(68, 0x2044, 8, {0x03});
    sim().set_move_time(68, 1000000);  // stops long after the last poll
    EXPECT_EQ(can_rs_move(&si_, 1, true), ERR_RS_TIMEOUT);
    EXPECT_EQ(clock_.monotonic_ms(), 500 * 250);
    EXPECT_EQ(sim().object(68, 0x2044, 8), (bytes{0x03}));
    EXPECT_EQ(sim().object(68, 0x2034, 0), (bytes{0x0C, 0xFE}));  // -500, the maximum negated

    // A failed current write keeps its error, and the restore still runs.
    sim().reset_log();
    sim().set_sdo_abort(68, 0x2034, 0, 0x08000000);
    EXPECT_EQ(can_rs_move(&si_, 1, true), ERR_CAN_SDO_ROF_ERROR);
    const auto log = sim().sdo_log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().index, 0x2044);
    EXPECT_EQ(log.back().bytes, (bytes{0x03}));

    EXPECT_EQ(can_rs_move(&si_, 2, true), ERR_INVALID_PARAM);
}

TEST_F(CanNodes, AuxMotorStartGivesUpAfterTwentyOneReads) {
    sim().set_move_time(66, 21 * 250 + 1);
    EXPECT_EQ(can_aux_motor_start(&si_, 0), ERR_AV_TIMEOUT);
    EXPECT_EQ(clock_.monotonic_ms(), 21 * 250);
    EXPECT_EQ(sim().object(66, 0x2034, 0), (bytes{0x0C, 0xFE}));
}

TEST_F(CanNodes, PifocOffsetWaitsForTheRampToGoIdle) {
    sim().set_object(127, 0x2000, 0, {1});
    clock_.sleep_ms(7);
    EXPECT_EQ(can_write_pifoc_offset(&si_, 10, true), ERR_RAMP_WAIT_TIMEOUT);
    EXPECT_EQ(clock_.monotonic_ms(), 7 + 19 * 100);  // 20 reads, 100 ms apart
    EXPECT_EQ(can_pifoc_offset_time(), 7);
    EXPECT_EQ(sim().sdo_log().size(), 21u);

    // A ramp that runs 250 ms more is idle at the fourth read.
    sim().set_object(127, 0x2000, 0, {0});
    std::vector<uint8_t> table(32768, 0x11);
    ASSERT_EQ(can_write_ramp_data(&si_, 0, table.data()), 0);
    ASSERT_EQ(can_write_ramp_select(&si_, 0), 0);
    sim().set_ramp_duration(CAN_NODE_ID_RAMP, 250);
    ASSERT_EQ(can_ramp_start(&si_), 0);
    sim().reset_log();
    const int64_t start = clock_.monotonic_ms();
    EXPECT_EQ(can_write_pifoc_offset(&si_, 0x1234, true), 0);
    EXPECT_EQ(clock_.monotonic_ms() - start, 300);
    EXPECT_EQ(transcript(sim().sdo_log()),
              "W 127 0x2009/1 34 12\n"
              "R 127 0x2000/0 01\n"
              "R 127 0x2000/0 01\n"
              "R 127 0x2000/0 01\n"
              "R 127 0x2000/0 00\n");
}

TEST_F(CanNodes, EncodedZoomNeedsFirmwareFourThree) {
    sb_enc_zoom ez;
    ez.config = 1;
    ez.backlash = 12;
    si_.encZoom = &ez;
    sim().add_node(64, 0x26720040, 0x00040002);
    EXPECT_EQ(tarn_enc_zoom_set_backlash(&si_), ERR_TARN_ENC_ZOOM_FIRMWARE_VERSION_OLD);
    EXPECT_EQ(out_.text(), "Tarn encoded zoom firmware version 4.2 is old; version 4.3 or later is required\n");
    si_.encZoom = nullptr;
}

// Firmware 4.3: motion mode 3, the soft limits, the backlash, then the calibration
// file, whose absence is no error.
TEST_F(CanNodes, EncodedZoomSetsModeLimitsAndBacklashWithoutACalibrationFile) {
    tarn_enc_zoom_reset_all();
    std::string missing = (std::filesystem::temp_directory_path() / "mf-no-such-folder" / "ZoomCal.txt").string();
    sb_enc_zoom ez;
    ez.config = 1;
    ez.backlash = 12;
    ez.progLim[0] = -100;
    ez.progLim[1] = 70000;
    ez.calFile = missing.data();
    si_.encZoom = &ez;
    EXPECT_EQ(tarn_enc_zoom_set_backlash(&si_), 0);
    EXPECT_EQ(transcript(sim().sdo_log()),
              "R 64 0x1018/3 03 00 04 00\n"
              "W 64 0x2002/0 03\n"
              "W 64 0x607D/1 9C FF FF FF\n"
              "W 64 0x607D/2 70 11 01 00\n"
              "W 64 0x2019/0 0C 00 00 00\n");
    EXPECT_EQ(out_.text(), "");
    ez.config = 0;  // no encoded zoom: nothing happens
    sim().reset_log();
    EXPECT_EQ(tarn_enc_zoom_set_backlash(&si_), 0);
    EXPECT_TRUE(sim().sdo_log().empty());
    si_.encZoom = nullptr;
}

struct idle_count {
    static inline int calls = 0;
    static void idle() { ++calls; }
};

// With a PI digital scanner the ramp operations go to the scanner's objects: start,
// select within the scanner kind's range, status by bridge firmware (3 while busy),
// valid without asking, no pifoc offset; the table load waits 2000 ms.
TEST_F(CanNodes, PiDigitalScannerTakesTheRampOperations) {
    sb_pifoc pi;
    pi.type = 1;
    si_.scanner.pifoc = &pi;
    EXPECT_EQ(can_ramp_start(&si_), 0);
    EXPECT_EQ(can_write_ramp_select(&si_, 15), 0);
    EXPECT_EQ(can_write_ramp_select(&si_, 16), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(can_write_pi_ramp_select(&si_, 0), ERR_PARAM_OUT_OF_RANGE);
    pi.type = 2;
    EXPECT_EQ(can_write_pi_ramp_select(&si_, 100), 0);
    EXPECT_EQ(can_write_pi_ramp_select(&si_, 101), ERR_PARAM_OUT_OF_RANGE);
    uint8_t valid = 0;
    EXPECT_EQ(can_read_ramp_valid(&si_, 2, &valid), 0);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(can_write_pifoc_offset(&si_, 5, true), 0);
    sim().set_object(127, 0x2041, 11, {0x10, 0});
    uint8_t status = 0;
    EXPECT_EQ(can_read_ramp_status(&si_, &status), 0);  // firmware 1.12: the older object
    EXPECT_EQ(status, 3);
    cfg_.fw_major = 6;
    cfg_.fw_minor = 6;
    int32_t pi_status = 9;
    EXPECT_EQ(can_read_pi_ramp_status(&si_, &pi_status), 0);
    EXPECT_EQ(pi_status, 0);
    sim().set_object(127, 0x2041, 20, {7, 0});
    idle_count::calls = 0;
    u_set_idle_hook(&idle_count::idle);
    const int64_t start = clock_.monotonic_ms();
    int32_t loaded = 0;
    EXPECT_EQ(can_pi_load_ddl_tables(&si_, &loaded), 0);
    u_set_idle_hook(nullptr);
    EXPECT_EQ(clock_.monotonic_ms() - start, 2000);
    EXPECT_EQ(idle_count::calls, 1);
    EXPECT_EQ(loaded, 7);
    EXPECT_EQ(transcript(sim().sdo_log()),
              "W 127 0x2041/6 01\n"
              "W 127 0x2041/1 0F\n"
              "W 127 0x2041/1 64\n"
              "R 127 0x2041/11 10 00\n"
              "R 127 0x2040/0 00 00\n"
              "W 127 0x2041/19 00\n"
              "R 127 0x2041/20 07 00\n");
    si_.scanner.pifoc = nullptr;
}

// The ramp-slot code's side of can_start_ramp, as a test stands it in.
struct fake_ramps {
    static inline int32_t slot = 2;
    static inline int64_t started_at = -1;
    static int32_t lookup(const sysInfo*, int32_t index, int32_t* s, bool* before) {
        if (index != 5) return ERR_INVALID_RAMP_INDEX;
        *s = slot;
        *before = false;
        return 0;
    }
    static void mark(const sysInfo*, int32_t, int64_t when) { started_at = when; }
};

TEST_F(CanNodes, StartRampSelectsChecksAndStartsOnTheRampGenerator) {
    EXPECT_EQ(can_start_ramp(&si_, 5), ERR_NO_RAMP_INFO);
    const can_ramp_hooks hooks{&fake_ramps::lookup, nullptr, &fake_ramps::mark};
    can_set_ramp_hooks(&hooks);
    fake_ramps::started_at = -1;
    clock_.sleep_ms(30);

    EXPECT_EQ(can_start_ramp(&si_, 5), ERR_INVALID_RAMP_INDEX);  // slot 2 holds no valid ramp
    sim().set_object(127, 0x2005, 1, {1});
    sim().set_object(127, 0x2000, 0, {1});
    out_.clear();
    EXPECT_EQ(can_start_ramp(&si_, 5), ERR_RAMP_BUSY);
    EXPECT_EQ(out_.text(), "can_start_ramp/pztramp: cannot start ramp, status = 1\n");
    sim().set_object(127, 0x2000, 0, {0});
    sim().reset_log();
    EXPECT_EQ(can_start_ramp(&si_, 5), 0);
    const auto log = sim().sdo_log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].index, 0x2001);
    EXPECT_EQ(log[0].bytes, (bytes{2}));
    EXPECT_EQ(log[1].index, 0x2005);
    EXPECT_EQ(log[1].subindex, 1);
    EXPECT_EQ(log[2].index, 0x2000);
    EXPECT_FALSE(log[2].write);
    EXPECT_TRUE(log[3].write);
    EXPECT_EQ(log[3].bytes, (bytes{1}));
    EXPECT_EQ(fake_ramps::started_at, 30);

    state().required.triple_pzt = true;  // the PZT node takes over
    sim().set_object(62, 0x2005, 1, {1});
    sim().reset_log();
    EXPECT_EQ(can_start_ramp(&si_, 5), 0);
    for (const auto& r : sim().sdo_log())
        EXPECT_EQ(r.node, CAN_NODE_ID_TRIPLEPZT);
    can_set_ramp_hooks(nullptr);
}

// The operations built on the generic motor rows with a fixed node are checked
// against the second, independent transcription of the node objects: each row of
// it for these operations names a transfer the operation makes (node, object,
// direction and width).
TEST_F(CanNodes, FixedNodeOperationsMakeTheTransfersTheIndependentListNames) {
    const std::map<std::string, std::function<int32_t(const sysInfo*)>> ops = {
        {"can_read_ndw_status",
         [](auto si) {
             uint8_t v;
             return can_read_ndw_status(si, &v);
         }},
        {"can_read_ndw_llcLevel",
         [](auto si) {
             uint16_t v;
             return can_read_ndw_llcLevel(si, false, &v);
         }},
        {"can_write_ndw_llcLevel", [](auto si) { return can_write_ndw_llcLevel(si, false, 100); }},
        {"can_write_ndw_control", [](auto si) { return can_write_ndw_control(si, 0); }},
        {"can_read_focus_keypress_mode",
         [](auto si) {
             uint8_t v;
             return can_read_focus_keypress_mode(si, &v);
         }},
        {"can_write_focus_keypress_mode", [](auto si) { return can_write_focus_keypress_mode(si, 1); }},
        {"can_read_rs_dd_control",
         [](auto si) {
             uint8_t v;
             return can_read_rs_dd_control(si, &v);
         }},
        {"can_write_rs_dd_control", [](auto si) { return can_write_rs_dd_control(si, 0); }},
        {"can_write_rs_dd_mode", [](auto si) { return can_write_rs_dd_mode(si, 1); }},
        {"can_read_rs_status",
         [](auto si) {
             uint8_t v;
             return can_read_rs_status(si, &v);
         }},
        {"can_write_rs_current", [](auto si) { return can_write_rs_current(si, 10); }},
        {"can_read_rs_maxCurrent",
         [](auto si) {
             int16_t v;
             return can_read_rs_maxCurrent(si, &v);
         }},
        {"can_read_rs_position",
         [](auto si) {
             uint8_t v;
             return can_read_rs_position(si, &v);
         }},
        {"can_read_rs_keypress_mode",
         [](auto si) {
             uint8_t v;
             return can_read_rs_keypress_mode(si, &v);
         }},
        {"can_write_rs_keypress_mode", [](auto si) { return can_write_rs_keypress_mode(si, 1); }},
        {"can_read_zoom_dd_control",
         [](auto si) {
             uint8_t v;
             return can_read_zoom_dd_control(si, &v);
         }},
        {"can_write_zoom_dd_control", [](auto si) { return can_write_zoom_dd_control(si, 0); }},
        {"can_write_zoom_dd_mode", [](auto si) { return can_write_zoom_dd_mode(si, 1); }},
        {"can_write_zoom_dd_targetVel", [](auto si) { return can_write_zoom_dd_targetVel(si, 100.0); }},
        {"can_read_zoom_keypress_mode",
         [](auto si) {
             uint8_t v;
             return can_read_zoom_keypress_mode(si, &v);
         }},
        {"can_write_zoom_keypress_mode", [](auto si) { return can_write_zoom_keypress_mode(si, 1); }},
    };
    std::ifstream list(std::string(MF_CAN_TEST_DATA) + "/node_objects_independent.csv");
    ASSERT_TRUE(list) << "node_objects_independent.csv";
    std::map<std::string, std::vector<sim::can_sim::sdo_record>> made;
    size_t checked = 0;
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        for (size_t start = 0;;) {
            const size_t comma = line.find(',', start);
            f.push_back(line.substr(start, comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        ASSERT_EQ(f.size(), 7u) << line;
        const auto op = ops.find(f[0]);
        if (op == ops.end()) continue;
        if (!made.count(f[0])) {
            sim().reset_log();
            EXPECT_EQ(op->second(&si_), 0) << f[0] << "\n" << out_.text();
            made[f[0]] = sim().sdo_log();
        }
        const auto& log = made[f[0]];
        const bool found = std::any_of(log.begin(), log.end(), [&](const sim::can_sim::sdo_record& r) {
            return std::to_string(r.node) == f[1] && r.index == std::stoul(f[2], nullptr, 16) &&
                   std::to_string(r.subindex) == f[3] && r.write == (f[5] == "write") &&
                   std::to_string(r.bytes.size()) == f[4] && r.abort_code == 0;
        });
        EXPECT_TRUE(found) << line;
        ++checked;
    }
    EXPECT_EQ(made.size(), ops.size()) << "every operation has rows in the list";
    EXPECT_GE(checked, ops.size());
}

}  // namespace
}  // namespace mf::test
