// The virtual CAN instrument is as strict as a real bridge and its nodes: a fault it
// forgave here would be a fault no test of the layers above could find.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "can/can_api.h"
#include "can/can_bus.h"
#include "tests/can/can_fixture.h"

namespace mf::test {
namespace {

constexpr int32_t not_connected = -2;
constexpr uint32_t abort_no_object = 0x06020000;
constexpr uint32_t abort_read_only = 0x06010002;
constexpr uint32_t abort_length = 0x06070010;

// Every operation that reaches the bridge or the bus, called once.
struct bus_call {
    const char* name;
    std::function<int32_t()> call;
};
std::vector<bus_call> bus_calls() {
    static uint8_t byte = 0;
    static uint32_t word = 0;
    static uint8_t states[can_node_count];
    static can_pdo pdo{};
    static can_sdo_result result{};
    return {
        {"CAN_GetFirmwareVersion", [] { return sim::CAN_GetFirmwareVersion(&byte, &byte); }},
        {"CAN_GetBridgeConfiguration", [] { return sim::CAN_GetBridgeConfiguration(&byte, &word); }},
        {"CAN_GetLastBridgeError", [] { return sim::CAN_GetLastBridgeError(&word); }},
        {"CAN_EnumerateNodes", [] { return sim::CAN_EnumerateNodes(states); }},
        {"CAN_FindNode", [] { return sim::CAN_FindNode(CAN_NODE_ID_LED, &word); }},
        {"CAN_GetNodeState", [] { return sim::CAN_GetNodeState(CAN_NODE_ID_LED, &word); }},
        {"CAN_SDORead", [] { return sim::CAN_SDORead(CAN_NODE_ID_LED, 0x2000, 0, &byte, 1, &result); }},
        {"CAN_SDOWrite", [] { return sim::CAN_SDOWrite(CAN_NODE_ID_LED, 0x2000, 0, &byte, 1, &result); }},
        {"CAN_RegisterPDO",
         [] {
             pdo.cob_id = 0x1C8;
             return sim::CAN_RegisterPDO(&pdo);
         }},
        {"CAN_UnregisterPDOs", [] { return sim::CAN_UnregisterPDOs(); }},
        // Both drop the connection.
        {"CAN_SetBridgeConfiguration", [] { return sim::CAN_SetBridgeConfiguration(127, 1000); }},
        {"CAN_ResetBridge", [] { return sim::CAN_ResetBridge(); }},
    };
}

class VirtualBridge : public CanTest {
protected:
    void SetUp() override {
        CanTest::SetUp();
        sim().add_bridge(ip_, mac_);
        sim().add_node(CAN_NODE_ID_LED, 0x26722381);
    }
    uint32_t address() const { return ip_[0] | (ip_[1] << 8) | (ip_[2] << 16) | (static_cast<uint32_t>(ip_[3]) << 24); }
    const uint8_t ip_[4] = {192, 168, 1, 20};
    const uint8_t mac_[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
};

TEST_F(VirtualBridge, BusCallsAnswerNotConnectedBeforeConnectAndAfterDisconnect) {
    for (const bus_call& c : bus_calls())
        EXPECT_EQ(c.call(), not_connected) << c.name << " before CAN_Connect";
    uint8_t states[can_node_count];
    can_bridge_entry table[can_max_bridges];
    EXPECT_EQ(sim::CAN_EnumerateBridges(table), 1);  // the network, not the bridge
    EXPECT_EQ(sim::CAN_Connect(address() + 1), -3);
    EXPECT_EQ(sim::CAN_EnumerateNodes(states), not_connected);

    for (const bus_call& c : bus_calls()) {
        ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
        EXPECT_EQ(c.call(), CAN_OK) << c.name << " while connected";
    }
    EXPECT_FALSE(sim().connected());

    ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
    EXPECT_EQ(sim::CAN_Disconnect(), CAN_OK);
    for (const bus_call& c : bus_calls())
        EXPECT_EQ(c.call(), not_connected) << c.name << " after CAN_Disconnect";
}

TEST_F(VirtualBridge, ResetAndNewConfigurationDropTheConnection) {
    uint8_t states[can_node_count];
    ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
    EXPECT_EQ(sim::CAN_ResetBridge(), CAN_OK);
    EXPECT_FALSE(sim().connected());
    EXPECT_EQ(sim::CAN_EnumerateNodes(states), not_connected);
    ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
    EXPECT_EQ(sim::CAN_SetBridgeConfiguration(127, 500), CAN_OK);
    EXPECT_FALSE(sim().connected());
    EXPECT_EQ(sim().bridge_kbit_rate(), 500u);
    EXPECT_EQ(sim::CAN_EnumerateNodes(states), not_connected);
    ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
    EXPECT_EQ(sim::CAN_EnumerateNodes(states), CAN_OK);
    EXPECT_EQ(states[CAN_NODE_ID_LED], 2);
}

// A bridge error is read as often as asked; only a reset moves on to the next one.
TEST_F(VirtualBridge, BridgeErrorStaysUntilTheBridgeIsReset) {
    sim().set_bridge_errors({7, 9});
    uint32_t error = 0;
    ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sim::CAN_GetLastBridgeError(&error), CAN_OK);
        EXPECT_EQ(error, 7u);
    }
    ASSERT_EQ(sim::CAN_ResetBridge(), CAN_OK);
    ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
    ASSERT_EQ(sim::CAN_GetLastBridgeError(&error), CAN_OK);
    EXPECT_EQ(error, 9u);
    ASSERT_EQ(sim::CAN_GetLastBridgeError(&error), CAN_OK);
    EXPECT_EQ(error, 9u);
    ASSERT_EQ(sim::CAN_ResetBridge(), CAN_OK);
    ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
    ASSERT_EQ(sim::CAN_GetLastBridgeError(&error), CAN_OK);
    EXPECT_EQ(error, 0u);
    // A failed reset leaves the error where it was.
    sim().set_bridge_errors({5});
    sim().fail(can_op::CAN_ResetBridge, -4, 1);
    EXPECT_EQ(sim::CAN_ResetBridge(), -4);
    ASSERT_EQ(sim::CAN_GetLastBridgeError(&error), CAN_OK);
    EXPECT_EQ(error, 5u);
}

// The node refuses what a real node refuses, with the CANopen abort code, and keeps
// its dictionary: no write creates an object or changes its width or value.
TEST_F(VirtualBridge, NodeAbortsTransfersToMissingReadOnlyOrWrongWidthObjects) {
    sim().add_node(CAN_NODE_ID_BRUSHMOTOR, CAN_BRMOTOR_PRODUCT_D7);
    ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
    struct transfer {
        const char* what;
        bool write;
        uint8_t node;
        uint16_t index;
        uint8_t subindex;
        uint32_t size;
        uint32_t abort_code;  // 0: accepted
    };
    const transfer cases[] = {
        {"read of a missing object", false, CAN_NODE_ID_LED, 0x2999, 0, 4, abort_no_object},
        {"write to a missing object", true, CAN_NODE_ID_LED, 0x2999, 0, 2, abort_no_object},
        {"write to a missing subindex", true, CAN_NODE_ID_LED, 0x2001, 1, 2, abort_no_object},
        {"write one byte to a two-byte object", true, CAN_NODE_ID_LED, 0x2001, 0, 1, abort_length},
        {"write four bytes to a two-byte object", true, CAN_NODE_ID_LED, 0x2001, 0, 4, abort_length},
        {"write to the product id", true, CAN_NODE_ID_LED, 0x1018, 2, 4, abort_read_only},
        {"write to the turret status", true, CAN_NODE_ID_BRUSHMOTOR, 0x2001, 0, 1, abort_read_only},
        {"write of the right width", true, CAN_NODE_ID_LED, 0x2001, 0, 2, 0},
        {"read of the right width", false, CAN_NODE_ID_LED, 0x2001, 0, 2, 0},
        {"read into a larger buffer", false, CAN_NODE_ID_LED, 0x2001, 0, 4, 0},
    };
    const std::vector<uint8_t> product_before = sim().object(CAN_NODE_ID_LED, 0x1018, 2);
    ASSERT_EQ(sim().object(CAN_NODE_ID_LED, 0x2001, 0).size(), 2u);
    for (const transfer& t : cases) {
        const std::vector<uint8_t> before = sim().object(t.node, t.index, t.subindex);
        uint8_t data[8] = {};
        if (t.write) data[0] = 0xA1, data[1] = 0xA2, data[2] = 0xA3, data[3] = 0xA4;
        can_sdo_result result{};
        const int32_t status = t.write ? sim::CAN_SDOWrite(t.node, t.index, t.subindex, data, t.size, &result)
                                       : sim::CAN_SDORead(t.node, t.index, t.subindex, data, t.size, &result);
        EXPECT_EQ(status, CAN_OK) << t.what;
        EXPECT_EQ(result.result, t.abort_code ? 0 : 1) << t.what;
        EXPECT_EQ(result.abort_code, t.abort_code) << t.what;
        if (t.write && t.abort_code) {
            EXPECT_EQ(sim().object(t.node, t.index, t.subindex), before) << t.what;
        }
        // Reads come after the accepted write: the node answers what it was given.
        if (!t.write && !t.abort_code) {
            EXPECT_EQ(data[0], 0xA1) << t.what;
            EXPECT_EQ(data[1], 0xA2) << t.what;
            EXPECT_EQ(data[2], 0) << t.what;
        }
    }
    EXPECT_EQ(sim().object(CAN_NODE_ID_LED, 0x2001, 0), (std::vector<uint8_t>{0xA1, 0xA2}));
    EXPECT_EQ(sim().object(CAN_NODE_ID_LED, 0x1018, 2), product_before);
    EXPECT_EQ(sim().object(CAN_NODE_ID_BRUSHMOTOR, 0x2001, 0), (std::vector<uint8_t>{0x81}));
    EXPECT_TRUE(sim().object(CAN_NODE_ID_LED, 0x2999, 0).empty());
    EXPECT_TRUE(sim().object(CAN_NODE_ID_LED, 0x2001, 1).empty());

    // The node's log holds exactly the transfers it received, refused ones included.
    const std::vector<sim::can_sim::sdo_record> log = sim().sdo_log();
    ASSERT_EQ(log.size(), std::size(cases));
    EXPECT_EQ(log[7].node, CAN_NODE_ID_LED);
    EXPECT_EQ(log[7].index, 0x2001);
    EXPECT_TRUE(log[7].write);
    EXPECT_EQ(log[7].bytes, (std::vector<uint8_t>{0xA1, 0xA2}));
    EXPECT_EQ(log[7].abort_code, 0u);
    EXPECT_EQ(log[3].bytes, (std::vector<uint8_t>{0xA1}));
    EXPECT_FALSE(log[0].write);
    EXPECT_EQ(log[0].abort_code, abort_no_object);
    EXPECT_EQ(log[3].abort_code, abort_length);
}

// Objects whose size is the transfer's (ramp tables and PZT ramp data) take any
// size up to their capacity and hold what was written.
TEST_F(VirtualBridge, RampDataObjectsTakeAnySizeUpToTheirCapacity) {
    sim().add_node(CAN_NODE_ID_TRIPLEPZT, 1);
    ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
    std::vector<uint8_t> points(32770, 0x5A);
    can_sdo_result result{};
    ASSERT_EQ(sim::CAN_SDOWrite(CAN_NODE_ID_TRIPLEPZT, 0x2004, 5, points.data(), 200, &result), CAN_OK);
    EXPECT_EQ(result.abort_code, 0u);
    EXPECT_EQ(sim().object(CAN_NODE_ID_TRIPLEPZT, 0x2004, 5).size(), 200u);
    ASSERT_EQ(sim::CAN_SDOWrite(CAN_NODE_ID_TRIPLEPZT, 0x2004, 5, points.data(), 32770, &result), CAN_OK);
    EXPECT_EQ(result.abort_code, abort_length);
    EXPECT_EQ(sim().object(CAN_NODE_ID_TRIPLEPZT, 0x2004, 5).size(), 200u);
}

// No bus, no traffic: PDOs and emergencies sent while no host is connected are lost.
TEST_F(VirtualBridge, NothingIsDeliveredWhileNotConnected) {
    int delivered = 0;
    static int* counter = nullptr;
    counter = &delivered;
    sim().set_pdo_filter(false);
    ASSERT_EQ(sim::CAN_RegisterEvents([](uint32_t n, uint8_t) { *counter += static_cast<int>(n); },
                                      [](uint32_t, uint32_t, const uint8_t*, uint8_t) { ++*counter; }),
              CAN_OK);
    const uint8_t block[12] = {};
    sim().send_pdo(0x1C8, {1});
    sim().send_emcy(1, 2, block, 0);
    sim().flush();
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(sim().pdos_dropped(), 2u);
    ASSERT_EQ(sim::CAN_Connect(address()), CAN_OK);
    sim().send_pdo(0x1C8, {1});
    sim().send_emcy(1, 2, block, 0);
    sim().flush();
    EXPECT_EQ(delivered, 2);
    sim().reset();
}

}  // namespace
}  // namespace mf::test
