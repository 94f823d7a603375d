// Bridge and node discovery against the virtual instrument, in virtual time.
#include <gtest/gtest.h>

#include <cstring>

#include "can/can_bus.h"
#include "common/error_codes.h"
#include "common/hooks.h"
#include "tests/can/can_fixture.h"

namespace mf::test {
namespace {

int idle_calls = 0;
void count_idle() { ++idle_calls; }

class CanDiscovery : public CanTest {
protected:
    void SetUp() override {
        CanTest::SetUp();
        idle_calls = 0;
        u_set_idle_hook(&count_idle);
        std::memcpy(cfg_.mac, mac_, 6);
    }
    void TearDown() override {
        u_set_idle_hook(nullptr);
        CanTest::TearDown();
    }
    const uint8_t mac_[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    const uint8_t other_mac_[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
};

TEST_F(CanDiscovery, FirstBridgeWhoseMacMatchesWins) {
    const uint8_t a[4] = {192, 168, 1, 10}, b[4] = {192, 168, 1, 20}, c[4] = {192, 168, 1, 30};
    sim().add_bridge(a, other_mac_);
    sim().add_bridge(b, mac_);
    sim().add_bridge(c, mac_);
    EXPECT_EQ(find_bridge(&cfg_), 0);
    EXPECT_EQ(std::memcmp(cfg_.ip, b, 4), 0);
    EXPECT_EQ(can_bridge_address(&cfg_), 0x1401A8C0u);
    EXPECT_EQ(sim().CAN_Connect(can_bridge_address(&cfg_)), CAN_OK);
    EXPECT_EQ(out_.text(),
              "Found CAN bridge\n"
              "MAC address: 00 1A 2B 3C 4D 5E\n"
              "IP  address: 192.168.1.20\n");
    EXPECT_EQ(sim().calls(can_op::CAN_EnumerateBridges), 1);
    EXPECT_EQ(clock_.sleep_count(), 0);
}

TEST_F(CanDiscovery, UnknownMacFailsAfterThreeEnumerationsAndTwoWaits) {
    const uint8_t a[4] = {192, 168, 1, 10};
    sim().add_bridge(a, other_mac_);
    cfg_.ip[1] = 7;
    EXPECT_EQ(find_bridge(&cfg_), ERR_CAN_MACADDRESS_ERROR);
    EXPECT_EQ(sim().calls(can_op::CAN_EnumerateBridges), 3);
    EXPECT_EQ(clock_.sleep_count(), 2);
    EXPECT_EQ(clock_.slept_ms(), 4000);
    EXPECT_EQ(idle_calls, 2);
    for (uint8_t byte : cfg_.ip)
        EXPECT_EQ(byte, 255);
    EXPECT_EQ(out_.text(), stamp_at(4000) + "CAN bridge with MAC address 00 1A 2B 3C 4D 5E not found on network\n");
}

TEST_F(CanDiscovery, BridgeAppearingOnTheThirdEnumerationIsFound) {
    const uint8_t a[4] = {10, 1, 2, 3}, other[4] = {10, 1, 2, 4};
    sim().add_bridge(other, other_mac_);
    sim().add_bridge(a, mac_, 3);
    EXPECT_EQ(find_bridge(&cfg_), 0);
    EXPECT_EQ(clock_.slept_ms(), 4000);
    EXPECT_EQ(idle_calls, 2);
    EXPECT_EQ(cfg_.ip[0], 10);
    EXPECT_EQ(cfg_.ip[3], 3);
}

TEST_F(CanDiscovery, FailedOrEmptyEnumerationEndsTheSearchAtOnce) {
    sim().fail(can_op::CAN_EnumerateBridges, -1);
    EXPECT_EQ(find_bridge(&cfg_), ERR_CAN_FINDING_BRIDGE);
    EXPECT_EQ(out_.text(), stamp_at(0) + "find_bridge: CAN_EnumerateBridges failed\n");

    out_.clear();
    sim().fail(can_op::CAN_EnumerateBridges, 0);
    EXPECT_EQ(find_bridge(&cfg_), ERR_CAN_FINDING_BRIDGE);
    EXPECT_EQ(out_.text(), stamp_at(0) + "find_bridge: CAN_EnumerateBridges found no CAN bridges\n");

    out_.clear();
    sim().fail(can_op::CAN_EnumerateBridges, -4);
    EXPECT_EQ(find_bridge(&cfg_), ERR_CAN_FINDING_BRIDGE);
    EXPECT_EQ(out_.text(), stamp_at(0) + "find_bridge: CAN_EnumerateBridges failed\n");
    EXPECT_EQ(sim().calls(can_op::CAN_EnumerateBridges), 3);
    EXPECT_EQ(clock_.sleep_count(), 0);
    EXPECT_EQ(cfg_.ip[0], 255);
}

TEST_F(CanDiscovery, FindNodeReportsStatusAndFailedCalls) {
    connect_bridge();
    sim().add_node(CAN_NODE_ID_LED, 0x2672137D);
    EXPECT_TRUE(find_node(CAN_NODE_ID_LED, "CAN_NODE_ID_LED"));
    EXPECT_EQ(out_.text(), "");

    EXPECT_FALSE(find_node(CAN_NODE_ID_WAND, "CAN_NODE_ID_WAND"));
    EXPECT_EQ(out_.text(), stamp_at(0) +
                               "find_node: Error finding node CAN_NODE_ID_WAND: CAN_FindNode "
                               "status = 0\n");
    out_.clear();
    sim().fail(can_op::CAN_FindNode, -4, 1);
    EXPECT_FALSE(find_node(CAN_NODE_ID_LED, "CAN_NODE_ID_LED"));
    EXPECT_EQ(out_.text(), stamp_at(0) +
                               "find_node: Error finding node CAN_NODE_ID_LED: CAN_FindNode "
                               "canErr = -4\n");
}

TEST_F(CanDiscovery, NodeOperationalOnTheTenthPollIsAccepted) {
    connect_bridge();
    sim().add_node(CAN_NODE_ID_DD_ZOOM, 1);
    sim().set_operational_from(CAN_NODE_ID_DD_ZOOM, 10);
    EXPECT_TRUE(wait_for_node_operational(CAN_NODE_ID_DD_ZOOM, "CAN_NODE_ID_DD_ZOOM"));
    EXPECT_EQ(sim().calls(can_op::CAN_GetNodeState), 10);
    EXPECT_EQ(clock_.sleep_count(), 9);
    EXPECT_EQ(clock_.slept_ms(), 1800);
    EXPECT_EQ(idle_calls, 9);
    EXPECT_EQ(out_.text(), "");
}

TEST_F(CanDiscovery, NodeNeverOperationalTimesOutAfterTenPolls) {
    connect_bridge();
    sim().add_node(CAN_NODE_ID_DD_ZOOM, 1);
    sim().set_operational_from(CAN_NODE_ID_DD_ZOOM, 11);
    EXPECT_FALSE(wait_for_node_operational(CAN_NODE_ID_DD_ZOOM, "CAN_NODE_ID_DD_ZOOM"));
    EXPECT_EQ(sim().calls(can_op::CAN_GetNodeState), 10);
    EXPECT_EQ(clock_.slept_ms(), 1800);
    EXPECT_EQ(out_.text(), stamp_at(1800) +
                               "wait_for_node_operational: Timeout waiting for node "
                               "CAN_NODE_ID_DD_ZOOM operational: CAN_GetNodeState status = 127\n");
}

TEST_F(CanDiscovery, FailedStatePollEndsTheWait) {
    connect_bridge();
    sim().add_node(CAN_NODE_ID_WAND2, 1);
    sim().set_operational_from(CAN_NODE_ID_WAND2, -1);
    sim().fail(can_op::CAN_GetNodeState, -3, 1, 2);
    EXPECT_FALSE(wait_for_node_operational(CAN_NODE_ID_WAND2, "CAN_NODE_ID_WAND2"));
    EXPECT_EQ(sim().calls(can_op::CAN_GetNodeState), 3);
    EXPECT_EQ(clock_.slept_ms(), 400);
    EXPECT_EQ(out_.text(), stamp_at(400) +
                               "wait_for_node_operational: Error waiting for node CAN_NODE_ID_WAND2 "
                               "operational: CAN_GetNodeState canErr = -3\n");
}

TEST_F(CanDiscovery, BridgeResetFailurePrintsWithoutTimeStamp) {
    connect_bridge();
    EXPECT_EQ(can_reset_bridge(&si_), 0);
    // A reset bridge drops the connection: the caller must connect again.
    EXPECT_FALSE(sim().connected());
    sim().fail(can_op::CAN_ResetBridge, 0, 1);
    EXPECT_EQ(can_reset_bridge(&si_), ERR_HW_FAIL);
    EXPECT_EQ(out_.text(), "CAN_ResetBridge canErr 0\n");
    // The reset goes to the library whatever the instrument's board.
    ASSERT_EQ(can_lib().CAN_Connect(0x6301A8C0), CAN_OK);
    si_.boardType = BOARD_TARN;
    EXPECT_EQ(can_reset_bridge(&si_), 0);
    EXPECT_EQ(sim().calls(can_op::CAN_ResetBridge), 3);
}

TEST_F(CanDiscovery, NodeEnumerationFillsTheStateArrayOfTheSlot) {
    connect_bridge();
    sim().add_node(CAN_NODE_ID_RAMP, 1);
    sim().add_node(CAN_NODE_ID_TRIPLEPZT, 2);
    EXPECT_EQ(can_enumerate_nodes(&si_, "can_tarn_on"), 0);
    EXPECT_TRUE(can_node_listed(&si_, CAN_NODE_ID_RAMP));
    EXPECT_TRUE(can_node_listed(&si_, CAN_NODE_ID_TRIPLEPZT));
    EXPECT_FALSE(can_node_listed(&si_, CAN_NODE_ID_LARGEAP));
    EXPECT_EQ(state().node_state[CAN_NODE_ID_TRIPLEPZT], 2);
    sysInfo other = si_;
    other.slot = 1;
    EXPECT_FALSE(can_node_listed(&other, CAN_NODE_ID_RAMP));
    EXPECT_EQ(out_.text(), "");

    sim().fail(can_op::CAN_EnumerateNodes, -2, 1);
    EXPECT_EQ(can_enumerate_nodes(&si_, "can_tarn_on"), ERR_CAN_NOT_CONNECTED);
    EXPECT_FALSE(can_node_listed(&si_, CAN_NODE_ID_RAMP));
    EXPECT_EQ(out_.text(), stamp_at(0) + "can_tarn_on: CAN_EnumerateNodes canErr = -2\n");
}

TEST(CanNodes, NamesAndStateSlots) {
    EXPECT_STREQ(can_node_name(0x34), "CAN_NODE_ID_LARGEAP");
    EXPECT_STREQ(can_node_name(0x40), "CAN_NODE_ID_FOCUS_NDW");
    EXPECT_STREQ(can_node_name(0x49), "CAN_NODE_ID_WAND2");
    EXPECT_STREQ(can_node_name(0x7F), "CAN_NODE_ID_RAMP");
    EXPECT_STREQ(can_node_name(0x30), "");
    sysInfo si{};
    si.slot = 3;
    ASSERT_NE(can_state_of(&si), nullptr);
    si.slot = 4;
    EXPECT_EQ(can_state_of(&si), nullptr);
    si.slot = -1;
    EXPECT_EQ(can_state_of(&si), nullptr);
    EXPECT_EQ(can_state_of(nullptr), nullptr);
}

}  // namespace
}  // namespace mf::test
