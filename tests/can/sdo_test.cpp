// SDO access, the status mapping and the node guards.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>

#include "can/can_sdo.h"
#include "common/error_codes.h"
#include "platform/events.h"
#include "tests/can/can_fixture.h"

namespace mf::test {
namespace {

class CanSdo : public CanTest {
protected:
    void SetUp() override {
        CanTest::SetUp();
        connect_bridge();
        sim().add_node(CAN_NODE_ID_LED, 0x26722381, 0x00040003);
    }
};

TEST(CanStatus, MapsEveryLibraryStatus) {
    EXPECT_EQ(can_status_error(1), 0);
    EXPECT_EQ(can_status_error(-1), ERR_CAN_ERROR);
    EXPECT_EQ(can_status_error(-2), ERR_CAN_NOT_CONNECTED);
    EXPECT_EQ(can_status_error(-3), ERR_CAN_TIMEOUT);
    EXPECT_EQ(can_status_error(-4), ERR_CAN_TCP_TRANSMISSION_ERROR);
    EXPECT_EQ(can_status_error(-5), ERR_CAN_BUFFER_TOO_SMALL);
    EXPECT_EQ(can_status_error(-6), ERR_CAN_NO_PDO);
    EXPECT_EQ(can_status_error(0), ERR_UNKNOWN);
    EXPECT_EQ(can_status_error(2), ERR_UNKNOWN);
    EXPECT_EQ(can_status_error(-7), ERR_UNKNOWN);
}

TEST_F(CanSdo, ReadAndWriteCarryLittleEndianValues) {
    uint32_t product = 0;
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_LED, 0x1018, 2, &product, 4, true, ERR_CAN_ERROR, "t"), 0);
    EXPECT_EQ(product, 0x26722381u);
    const uint16_t level = 0x1234;
    EXPECT_EQ(can_sdo_write2(CAN_NODE_ID_LED, 0x2001, 0, &level, 2, true, ERR_CAN_SDO_LED_ERROR, "can_write_llc"), 0);
    EXPECT_EQ(sim().object(CAN_NODE_ID_LED, 0x2001, 0), (std::vector<uint8_t>{0x34, 0x12}));
    EXPECT_EQ(out_.text(), "");

    // A write of the wrong width reaches the node, which refuses it and keeps its value.
    const uint32_t wide = 0x5678;
    EXPECT_EQ(can_sdo_write2(CAN_NODE_ID_LED, 0x2001, 0, &wide, 4, true, ERR_CAN_SDO_LED_ERROR, "can_write_llc"),
              ERR_CAN_SDO_LED_ERROR);
    EXPECT_EQ(out_.text(), stamp_at(0) +
                               "can_sdo_write2 called by can_write_llc: err=ERR_CAN_SDO_LED_ERROR, result=0, "
                               "abortcode=06070010\n");
    EXPECT_EQ(sim().object(CAN_NODE_ID_LED, 0x2001, 0), (std::vector<uint8_t>{0x34, 0x12}));
    const auto log = sim().sdo_log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2].bytes, (std::vector<uint8_t>{0x78, 0x56, 0, 0}));
    EXPECT_TRUE(log[2].write);
}

TEST_F(CanSdo, NodeAbortReturnsTheCallersCodeWithEightHexDigits) {
    sim().set_sdo_abort(CAN_NODE_ID_LED, 0x2001, 0, 0x1A);
    uint16_t level = 0xBEEF;
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_LED, 0x2001, 0, &level, 2, true, ERR_CAN_SDO_LED_ERROR, "can_read_llc"),
              ERR_CAN_SDO_LED_ERROR);
    EXPECT_EQ(level, 0xBEEF);
    EXPECT_EQ(out_.text(),
              "can_sdo_read2 called by can_read_llc: err=ERR_CAN_SDO_LED_ERROR, result=0, "
              "abortcode=0000001A\n");
    out_.clear();
    sim().set_sdo_abort(CAN_NODE_ID_LED, 0x2001, 0, 0xF6090011);
    EXPECT_EQ(can_sdo_write2(CAN_NODE_ID_LED, 0x2001, 0, &level, 2, true, ERR_CAN_SDO_RAMP_ERROR, "can_write_llc"),
              ERR_CAN_SDO_RAMP_ERROR);
    EXPECT_EQ(out_.text(), stamp_at(0) +
                               "can_sdo_write2 called by can_write_llc: err=ERR_CAN_SDO_RAMP_ERROR, "
                               "result=0, abortcode=F6090011\n");
}

// Refused transfers on two threads at once (the host and a control thread): each
// line names the code its own caller chose, whole, never the other thread's.
TEST_F(CanSdo, FailuresOnTwoThreadsEachNameTheirOwnCode) {
    sim().set_sdo_abort(CAN_NODE_ID_LED, 0x2001, 0, 0x1A);
    constexpr int per_thread = 5000;
    std::atomic<int> ready{0};
    auto refuse = [&ready](int32_t code, const char* caller) {
        ++ready;
        while (ready < 2)
            std::this_thread::yield();
        for (int i = 0; i < per_thread; ++i) {
            uint16_t level = 0;
            can_sdo_read2(CAN_NODE_ID_LED, 0x2001, 0, &level, 2, false, code, caller);
        }
    };
    std::thread other(refuse, ERR_CAN_SDO_RAMP_ERROR, "ramp");
    refuse(ERR_CAN_SDO_LED_ERROR, "llc");
    other.join();
    const std::string led = "can_sdo_read2 called by llc: err=ERR_CAN_SDO_LED_ERROR, result=0, abortcode=0000001A";
    const std::string ramp = "can_sdo_read2 called by ramp: err=ERR_CAN_SDO_RAMP_ERROR, result=0, abortcode=0000001A";
    std::istringstream lines(out_.text());
    int leds = 0, ramps = 0, others = 0;
    for (std::string line; std::getline(lines, line);)
        line == led ? ++leds : line == ramp ? ++ramps : ++others;
    EXPECT_EQ(leds, per_thread);
    EXPECT_EQ(ramps, per_thread);
    EXPECT_EQ(others, 0);
}

TEST_F(CanSdo, LibraryFailuresAreMappedAndReported) {
    uint8_t byte = 0;
    sim().fail(can_op::CAN_SDORead, 0, 1);
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_LED, 0x2000, 0, &byte, 1, true, ERR_CAN_SDO_LED_ERROR, "op"), ERR_UNKNOWN);
    EXPECT_EQ(out_.text(), "can_sdo_read2 called by op: err=ERR_UNKNOWN\n");
    out_.clear();
    sim().fail(can_op::CAN_SDOWrite, -4, 1);
    EXPECT_EQ(can_sdo_write2(CAN_NODE_ID_LED, 0x2000, 0, &byte, 1, true, ERR_CAN_SDO_LED_ERROR, "op"),
              ERR_CAN_TCP_TRANSMISSION_ERROR);
    EXPECT_EQ(out_.text(), stamp_at(0) + "can_sdo_write2 called by op: err=ERR_CAN_TCP_TRANSMISSION_ERROR\n");
    out_.clear();
    // An absent node times out in the simulator; a buffer smaller than the object is refused.
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_WAND, 0x1018, 2, &byte, 1, true, ERR_CAN_ERROR, "op"), ERR_CAN_TIMEOUT);
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_LED, 0x1018, 2, &byte, 1, true, ERR_CAN_ERROR, "op"), ERR_CAN_BUFFER_TOO_SMALL);
}

TEST_F(CanSdo, ActivitySignalsTheSleepResetEventWhateverTheOutcome) {
    uint8_t byte = 0;
    // Without an event the flag has no effect.
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_LED, 0x1002, 0, &byte, 1, true, ERR_CAN_ERROR, "op"), ERR_CAN_BUFFER_TOO_SMALL);
    platform::event_handle reset = platform::event_create(nullptr, true, false);
    can_set_sleep_reset_event(reset);
    uint32_t word = 0;
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_LED, 0x1002, 0, &word, 4, false, ERR_CAN_ERROR, "op"), 0);
    EXPECT_FALSE(platform::event_is_set(reset));
    sim().fail(can_op::CAN_SDOWrite, -3, 1);
    EXPECT_EQ(can_sdo_write2(CAN_NODE_ID_LED, 0x2000, 0, &byte, 1, true, ERR_CAN_ERROR, "op"), ERR_CAN_TIMEOUT);
    EXPECT_TRUE(platform::event_is_set(reset));
    platform::event_reset(reset);
    sim().set_sdo_abort(CAN_NODE_ID_LED, 0x1002, 0, 0x08000000);
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_LED, 0x1002, 0, &word, 4, true, ERR_CAN_ERROR, "op"), ERR_CAN_ERROR);
    EXPECT_TRUE(platform::event_is_set(reset));
    can_set_sleep_reset_event(nullptr);
    platform::event_close(reset);
}

TEST_F(CanSdo, VirtualNodesAnswerTheirCoreObjectsAndAbortOnOthers) {
    sim().add_node(CAN_NODE_ID_RAMP, 0x100, 0x000A0009);
    sim().add_node(CAN_NODE_ID_BRUSHMOTOR, CAN_BRMOTOR_PRODUCT_D7);
    uint8_t status = 0;
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_RAMP, 0x2010, 1, &status, 1, true, ERR_CAN_SDO_BRIDGE_ERROR,
                            "can_read_bridge_status"),
              0);
    EXPECT_EQ(status, 0x08);
    uint32_t version = 0;
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_RAMP, 0x1018, 3, &version, 4, true, ERR_CAN_ERROR, "v"), 0);
    EXPECT_EQ(version >> 16, 10u);
    EXPECT_EQ(version & 0xFFFF, 9u);
    uint8_t config[2] = {};
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_BRUSHMOTOR, 0x2020, 1, config, 2, true, ERR_CAN_SDO_BRMOTOR_ERROR,
                            "can_get_brmtr_config"),
              0);
    EXPECT_EQ(config[0] & 7, 6);
    EXPECT_EQ(config[1] & 7, 5);
    EXPECT_EQ(out_.text(), "");
    uint16_t word = 0;
    EXPECT_EQ(can_sdo_read2(CAN_NODE_ID_BRUSHMOTOR, 0x2999, 0, &word, 2, true, ERR_CAN_SDO_BRMOTOR_ERROR, "op"),
              ERR_CAN_SDO_BRMOTOR_ERROR);
    EXPECT_EQ(out_.text(),
              "can_sdo_read2 called by op: err=ERR_CAN_SDO_BRMOTOR_ERROR, result=0, "
              "abortcode=06020000\n");
}

TEST_F(CanSdo, BoardGuard) {
    EXPECT_EQ(can_guard_board(&si_, ERR_WRONG_INSTR_BOARD), 0);
    si_.boardType = BOARD_NOTNEEDED;
    EXPECT_EQ(can_guard_board(&si_, ERR_WRONG_INSTR_BOARD), ERR_WRONG_INSTR_BOARD);
    EXPECT_EQ(can_guard_board(&si_, ERR_INVALID_PARAM), ERR_INVALID_PARAM);
    EXPECT_EQ(can_guard_board(nullptr, ERR_INVALID_PARAM), ERR_INVALID_PARAM);
}

TEST_F(CanSdo, NodeGuardsPrintTheNodesMessage) {
    EXPECT_EQ(can_guard_node(&si_, CAN_NODE_ID_DD_RS, "can_read_rs_status"), ERR_CAN_NODE_NOT_AVAIL);
    EXPECT_EQ(can_guard_node(&si_, CAN_NODE_ID_DD_ZOOM, "can_write_zoom_dd_mode"), ERR_CAN_NODE_NOT_AVAIL);
    EXPECT_EQ(can_guard_node(&si_, CAN_NODE_ID_FOCUS_NDW, "can_home_ndw"), ERR_CAN_NODE_NOT_AVAIL);
    const std::string t = stamp_at(0);
    EXPECT_EQ(out_.text(), t + "can_read_rs_status: CAN Ring-of-Fire and Diffuser Disk node is not available\n" + t +
                               "can_write_zoom_dd_mode: CAN Zoom and Diffuser Disk node is not available\n" + t +
                               "can_home_ndw: CAN Focus and ND Wheel node is not available\n");
    out_.clear();
    state().present.dd_rs = state().present.dd_zoom = state().present.focus_ndw = true;
    EXPECT_EQ(can_guard_node(&si_, CAN_NODE_ID_DD_RS, "x"), 0);
    EXPECT_EQ(can_guard_node(&si_, CAN_NODE_ID_DD_ZOOM, "x"), 0);
    EXPECT_EQ(can_guard_node(&si_, CAN_NODE_ID_FOCUS_NDW, "x"), 0);
    EXPECT_EQ(out_.text(), "");
}

TEST_F(CanSdo, PztGuardFollowsRampMux) {
    uint8_t node = 0;
    int32_t abort_err = 0;
    EXPECT_EQ(can_guard_pzt(&si_, &node, &abort_err), ERR_CAN_NODE_NOT_AVAIL);
    state().rampMux = 1;
    EXPECT_EQ(can_guard_pzt(&si_, &node, &abort_err), ERR_CAN_NODE_NOT_AVAIL);
    state().rampMux = 2;
    EXPECT_EQ(can_guard_pzt(&si_, &node, &abort_err), ERR_INVALID_PARAM);
    EXPECT_EQ(out_.text(),
              "The triple PZT node is not available\n"
              "The large aperture PZT power node is not available\n"
              "Invalid parameter si->rampMux=2\n");
    EXPECT_EQ(node, 0);
    state().present.triple_pzt = state().present.large_ap = true;
    state().rampMux = 0;
    EXPECT_EQ(can_guard_pzt(&si_, &node, &abort_err), 0);
    EXPECT_EQ(node, CAN_NODE_ID_TRIPLEPZT);
    EXPECT_EQ(abort_err, ERR_CAN_SDO_PZT_ERROR);
    state().rampMux = 1;
    EXPECT_EQ(can_guard_pzt(&si_, &node, &abort_err), 0);
    EXPECT_EQ(node, CAN_NODE_ID_LARGEAP);
    EXPECT_EQ(abort_err, ERR_CAN_SDO_LAP_ERROR);
}

}  // namespace
}  // namespace mf::test
