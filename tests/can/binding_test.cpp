// The interface table: in-process installation and binding the library by name,
// end to end with the simulator built as the loadable library.
#include <gtest/gtest.h>

#include <cstring>

#include "can/can_api.h"
#include "can/can_bus.h"
#include "can/can_events.h"
#include "common/error_codes.h"
#include "platform/dynlib.h"
#include "tests/can/can_fixture.h"

namespace mf::test {
namespace {

using CanBinding = CanTest;

TEST_F(CanBinding, UnboundTableAnswersNotConnected) {
    can_unbind_library();
    uint32_t status = 99;
    EXPECT_EQ(can_lib().CAN_FindNode(1, &status), -2);
    EXPECT_EQ(can_lib().CAN_Disconnect(), -2);
    EXPECT_EQ(status, 99u);
    EXPECT_FALSE(can_library_loaded());
}

TEST_F(CanBinding, InstallRefusesATableWithAnEmptySlot) {
    can_api ops = sim::can_sim_api();
    ops.CAN_GetPDO = nullptr;
    EXPECT_EQ(can_install_api(ops), ERR_INVALID_PARAM);
    // The table in place is kept.
    EXPECT_EQ(can_lib().CAN_Disconnect(), CAN_OK);
}

TEST_F(CanBinding, OperationNamesFollowTheOneList) {
    EXPECT_STREQ(can_op_names[0], "CAN_EnumerateBridges");
    EXPECT_STREQ(can_op_names[11], "CAN_SDORead");
    EXPECT_STREQ(can_op_names[16], "CAN_UnregisterPDOs");
}

TEST_F(CanBinding, MissingLibraryIsReportedAndTheTableKept) {
    EXPECT_EQ(can_bind_library("MfNoSuchCanLibrary"), ERR_CAN_NOT_AVAIL);
    const std::string expected_start =
        "can_bind_library: cannot load " + platform::dynlib_file_name("MfNoSuchCanLibrary") + ": system error ";
    EXPECT_EQ(out_.text().rfind(expected_start, 0), 0u) << out_.text();
    EXPECT_FALSE(can_library_loaded());
    EXPECT_EQ(can_lib().CAN_Disconnect(), CAN_OK);
}

TEST_F(CanBinding, LibraryLackingAnEntryPointIsRefusedByName) {
    EXPECT_EQ(can_bind_library("VaroCANopenPartial"), ERR_CAN_NOT_AVAIL);
    EXPECT_EQ(out_.text(), "can_bind_library: " + platform::dynlib_file_name("VaroCANopenPartial") +
                               " lacks entry points: CAN_GetPDO\n");
    EXPECT_FALSE(can_library_loaded());
    EXPECT_EQ(can_lib().CAN_Disconnect(), CAN_OK);
}

// Entry points through which the test steers the instrument inside the library.
struct loaded_sim {
    platform::dynlib_handle lib = platform::dynlib_load("VaroCANopen");
    template <typename Fn>
    Fn get(const char* name) {
        return reinterpret_cast<Fn>(platform::dynlib_symbol(lib, name));
    }
    ~loaded_sim() {
        if (lib) get<void (*)()>("VaroSim_Reset")();
        platform::dynlib_free(lib);
    }
};

TEST_F(CanBinding, BoundLibraryCarriesDiscoverySdoAndEvents) {
    loaded_sim dll;
    ASSERT_NE(dll.lib, nullptr) << platform::dynlib_last_error_text();
    dll.get<void (*)()>("VaroSim_Reset")();
    const uint8_t ip[4] = {10, 0, 0, 7};
    const uint8_t mac[6] = {0x00, 0x50, 0xC2, 0x11, 0x22, 0x33};
    dll.get<void (*)(const uint8_t*, const uint8_t*)>("VaroSim_AddBridge")(ip, mac);
    dll.get<void (*)(uint8_t, uint32_t, uint32_t)>("VaroSim_AddNode")(CAN_NODE_ID_LED, 0x2672150D, 0x00020003);
    dll.get<void (*)(uint8_t, uint32_t, uint32_t)>("VaroSim_AddNode")(CAN_NODE_ID_WAND, 1, 1);

    ASSERT_EQ(can_bind_library("VaroCANopen"), 0) << out_.text();
    EXPECT_TRUE(can_library_loaded());
    // The in-process instrument is not the one answering any more.
    sim().fail(can_op::CAN_EnumerateBridges, -1);

    std::memcpy(cfg_.mac, mac, 6);
    ASSERT_EQ(find_bridge(&cfg_), 0) << out_.text();
    EXPECT_EQ(cfg_.ip[0], 10);
    EXPECT_EQ(cfg_.ip[3], 7);
    EXPECT_EQ(can_bridge_address(&cfg_), 0x0700000Au);
    EXPECT_EQ(can_lib().CAN_Connect(can_bridge_address(&cfg_)), CAN_OK);
    EXPECT_TRUE(find_node(CAN_NODE_ID_LED, "CAN_NODE_ID_LED"));
    EXPECT_TRUE(wait_for_node_operational(CAN_NODE_ID_LED, "CAN_NODE_ID_LED"));

    uint32_t product = 0;
    can_sdo_result r{};
    EXPECT_EQ(can_lib().CAN_SDORead(CAN_NODE_ID_LED, 0x1018, 2, &product, 4, &r), CAN_OK);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(product, 0x2672150Du);

    // A PDO from the library's own thread reaches the event queue.
    can_clear_event_queues();
    ASSERT_EQ(can_register_events(&si_, true), 0);
    const uint8_t button1[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    dll.get<void (*)(uint32_t, const uint8_t*)>("VaroSim_SendPdo")(0x1C8, button1);
    dll.get<void (*)()>("VaroSim_Flush")();
    EXPECT_TRUE(can_process_events(&si_));
    can_host_record rec{};
    ASSERT_TRUE(can_take_event(&rec));
    EXPECT_EQ(rec.event.code, CAN_EVENT_WAND_BUTTON1);
    EXPECT_EQ(rec.event.pdo.cob_id, 0x1C8u);
    EXPECT_EQ(can_register_events(&si_, false), 0);
    can_events_free_resources();
    can_unbind_library();
    EXPECT_FALSE(can_library_loaded());
}

}  // namespace
}  // namespace mf::test
