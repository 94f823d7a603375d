// Event, PDO and emergency queues: registration, the handlers on the simulator's
// thread, decoding per system type, and the queues under concurrent producers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "can/can_events.h"
#include "common/error_codes.h"
#include "platform/events.h"
#include "tests/can/can_fixture.h"
#include "tests/support/alloc_fail.h"

namespace mf::test {
namespace {

class CanEvents : public CanTest {
protected:
    void SetUp() override {
        CanTest::SetUp();
        connect_bridge();
        can_clear_event_queues();
        ASSERT_EQ(CanCreateSyncObjects(), 0);
        can_set_pdo_decoding({255, 0, -1, 0, 0, false});
        sim().set_pdo_filter(false);
        ASSERT_EQ(sim().CAN_RegisterEvents(&ReceivePdoHandler, &ReceiveEmcyHandler), CAN_OK);
    }
    void TearDown() override {
        sim().reset();
        can_clear_event_queues();
        can_events_free_resources();
        CanTest::TearDown();
    }

    // Sends PDOs through the simulator, transfers them and returns the codes queued.
    std::vector<int32_t> codes_of(std::initializer_list<can_pdo> pdos) {
        sim().send_pdos(pdos);
        sim().flush();
        can_process_events(&si_);
        std::vector<int32_t> codes;
        can_host_record r{};
        while (can_take_event(&r))
            codes.push_back(r.event.code);
        return codes;
    }
    static can_pdo pdo(uint32_t cob_id, uint8_t b0, uint8_t b1 = 0, uint8_t b2 = 0) {
        can_pdo p{};
        p.cob_id = cob_id;
        p.data[0] = b0;
        p.data[1] = b1;
        p.data[2] = b2;
        return p;
    }
};

using Codes = std::vector<int32_t>;

TEST_F(CanEvents, SyncObjectsAreTheThreeNamedLocksCreatedFree) {
    for (const char* name : {"VaroCanEventMutex", "VaroPdoQueueMutex", "VaroEmcyQueueMutex"}) {
        platform::event_handle e = platform::event_open(name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_TRUE(platform::event_is_set(e)) << name;
        platform::event_close(e);
    }
    EXPECT_EQ(CanCreateSyncObjects(), 0);
    can_events_free_resources();
    EXPECT_EQ(platform::event_open("VaroCanEventMutex"), nullptr);
    EXPECT_EQ(platform::event_open("VaroEmcyQueueMutex"), nullptr);
    EXPECT_FALSE(can_process_events(&si_));
}

TEST_F(CanEvents, RegistrationByTarnSystemType) {
    sim().reset();
    connect_bridge();
    EXPECT_EQ(can_register_events(&si_, true), 0);
    EXPECT_TRUE(sim().handlers_registered());
    EXPECT_EQ(sim().registered_pdos(), (std::vector<uint32_t>{0x1C0, 0x1C8, 0x1C9, 0x2C0, 0x2C4}));
    EXPECT_EQ(can_register_events(&si_, false), 0);
    EXPECT_FALSE(sim().handlers_registered());
    EXPECT_TRUE(sim().registered_pdos().empty());
    si_.sysType = 25;
    EXPECT_EQ(can_register_events(&si_, true), 0);
    EXPECT_EQ(sim().registered_pdos(), (std::vector<uint32_t>{0x1C8, 0x1C9, 0x2C0, 0x2C4}));
    can_register_events(&si_, false);
    si_.sysType = 26;
    EXPECT_EQ(can_register_events(&si_, true), 0);
    EXPECT_EQ(sim().registered_pdos(), (std::vector<uint32_t>{0x1C8, 0x1C9, 0x2C0}));
    EXPECT_EQ(out_.text(), "");
}

TEST_F(CanEvents, RegistrationOfBrushMotorSystemsFollowsTurretZoomAndProduct) {
    uint32_t ids[8];
    si_.sysType = 22;
    state().motor.turret_type = TURRET_ENCODED;
    state().motor.zoom_type = ZOOM_MOTORIZED;
    cfg_.brush_product_id = static_cast<int32_t>(CAN_BRMOTOR_PRODUCT_D5);
    ASSERT_EQ(can_event_cob_ids(&si_, ids), 2);
    EXPECT_EQ(ids[0], 0x1BFu);
    EXPECT_EQ(ids[1], 0x2BFu);
    cfg_.brush_product_id = static_cast<int32_t>(CAN_BRMOTOR_PRODUCT_D7);
    ASSERT_EQ(can_event_cob_ids(&si_, ids), 1);
    state().motor.zoom_type = ZOOM_ENCODED;
    state().motor.turret_type = TURRET_MOTORIZED;
    ASSERT_EQ(can_event_cob_ids(&si_, ids), 1);
    EXPECT_EQ(ids[0], 0x2BFu);
    cfg_.brush_product_id = -1;
    EXPECT_EQ(can_event_cob_ids(&si_, ids), 0);
    si_.sysType = 23;
    si_.boardType = BOARD_SABLEQV;
    EXPECT_EQ(can_event_cob_ids(&si_, ids), 0);
}

TEST_F(CanEvents, RegistrationFailuresAreMapped) {
    sim().fail(can_op::CAN_RegisterEvents, -3, 1);
    EXPECT_EQ(can_register_events(&si_, true), ERR_CAN_TIMEOUT);
    EXPECT_EQ(sim().calls(can_op::CAN_RegisterPDO), 0);
    sim().fail(can_op::CAN_UnregisterPDOs, 0, 1);
    EXPECT_EQ(can_register_events(&si_, false), ERR_UNKNOWN);
    EXPECT_EQ(out_.text(), "can_register_events canErr = -3\ncan_register_events canErr = 0\n");
    out_.clear();
    sim().fail(can_op::CAN_UnregisterPDOs, -2, 1);
    can_events_free_resources();
    EXPECT_EQ(out_.text(), "can_events_free_resources canErr = -2\n");
}

TEST_F(CanEvents, FailedFetchInMidBatchIsReportedAndTheRestFetched) {
    sim().fail(can_op::CAN_GetPDO, -6, 1, 1);
    sim().send_pdos({pdo(0x1C8, 1), pdo(0x1C8, 2), pdo(0x1C8, 3)}, true);
    sim().flush();
    EXPECT_EQ(sim().calls(can_op::CAN_GetPDO), 3);
    EXPECT_EQ(out_.text(), "ReceivePdo overrun.\nReceivePdoHandler canErr = -6\n");
    EXPECT_EQ(can_pdo_queue_length(), 2u);
    EXPECT_TRUE(can_process_events(&si_));
    can_host_record r{};
    ASSERT_TRUE(can_take_event(&r));
    EXPECT_EQ(r.event.code, CAN_EVENT_WAND_BUTTON1);
    ASSERT_TRUE(can_take_event(&r));
    EXPECT_EQ(r.event.code, CAN_EVENT_WAND_BUTTON3);
    EXPECT_FALSE(can_take_event(&r));
}

TEST_F(CanEvents, OneBrushMotorPdoEmitsItsCodesInOrder) {
    si_.sysType = 22;
    state().motor.turret_type = TURRET_ENCODED;
    EXPECT_EQ(codes_of({pdo(0x1BF, 0x85)}), (Codes{CAN_EVENT_TURRET}));
    EXPECT_EQ(codes_of({pdo(0x1BF, 0x85)}), Codes{});
    // Light level finishing (state 2), active again (bit 0x08) and a new zoom code.
    can_pdo_decoding d = can_get_pdo_decoding();
    d.llc_state = 2;
    can_set_pdo_decoding(d);
    sim().send_pdos({pdo(0x2BF, 0x08, 1)});
    sim().flush();
    EXPECT_TRUE(can_process_events(&si_));
    std::vector<can_host_record> got;
    can_host_record r{};
    while (can_take_event(&r))
        got.push_back(r);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].event.code, CAN_EVENT_LLC_DONE);
    EXPECT_EQ(got[1].event.code, CAN_EVENT_LLC_ACTIVE);
    EXPECT_EQ(got[2].event.code, CAN_EVENT_ZOOM);
    for (const auto& g : got) {
        EXPECT_EQ(g.queue, 1);
        EXPECT_EQ(g.event.pdo.cob_id, 0x2BFu);
        EXPECT_EQ(g.event.pdo.data[1], 1);
    }
    EXPECT_EQ(can_get_pdo_decoding().last_zoom_position, 6);
    EXPECT_EQ(can_get_pdo_decoding().llc_state, 1);
    // Other nodes are ignored by these systems; a motorized turret emits nothing.
    EXPECT_EQ(codes_of({pdo(0x1C8, 1), pdo(0x2C0, 0x08)}), Codes{});
    state().motor.turret_type = TURRET_MOTORIZED;
    EXPECT_EQ(codes_of({pdo(0x1BF, 0x01)}), Codes{});
}

TEST_F(CanEvents, ZoomCodesMapThroughTheTableAndRepeatOnlyOnChange) {
    si_.sysType = 31;
    EXPECT_EQ(codes_of({pdo(0x2BF, 0, 0)}), (Codes{CAN_EVENT_ZOOM}));
    EXPECT_EQ(can_get_pdo_decoding().last_zoom_position, 0);
    EXPECT_EQ(codes_of({pdo(0x2BF, 0, 0)}), Codes{});
    EXPECT_EQ(codes_of({pdo(0x2BF, 0, 1), pdo(0x2BF, 0, 1)}), (Codes{CAN_EVENT_ZOOM}));
    EXPECT_EQ(can_get_pdo_decoding().last_zoom_position, 6);
    EXPECT_EQ(codes_of({pdo(0x2BF, 0, 7)}), (Codes{CAN_EVENT_ZOOM}));
    EXPECT_EQ(can_get_pdo_decoding().last_zoom_position, 7);
    EXPECT_EQ(codes_of({pdo(0x2BF, 0, 8)}), Codes{});
    EXPECT_EQ(can_get_pdo_decoding().last_zoom_position, 7);
    can_reset_pdo_decoding();
    EXPECT_EQ(codes_of({pdo(0x2BF, 0, 7)}), (Codes{CAN_EVENT_ZOOM}));
}

TEST_F(CanEvents, LightLevelStateMachine) {
    si_.sysType = 13;
    EXPECT_EQ(codes_of({pdo(0x2BF, 0x08, 9)}), (Codes{CAN_EVENT_LLC_ACTIVE}));
    EXPECT_EQ(codes_of({pdo(0x2BF, 0x20, 9)}), Codes{});  // active -> finishing
    EXPECT_EQ(can_get_pdo_decoding().llc_state, 2);
    EXPECT_EQ(codes_of({pdo(0x2BF, 0x20, 9)}), Codes{});  // still busy
    EXPECT_EQ(codes_of({pdo(0x2BF, 0x00, 9)}), (Codes{CAN_EVENT_LLC_DONE}));
    EXPECT_EQ(can_get_pdo_decoding().llc_state, 0);
    EXPECT_EQ(codes_of({pdo(0x2BF, 0x00, 9)}), Codes{});
}

TEST_F(CanEvents, TarnFamilyWandsRingSpotAndFocusNode) {
    EXPECT_EQ(codes_of({pdo(0x1C8, 1), pdo(0x1C9, 2), pdo(0x1C8, 3), pdo(0x1C8, 4), pdo(0x2C8, 1)}),
              (Codes{CAN_EVENT_WAND_BUTTON1, CAN_EVENT_WAND_BUTTON2, CAN_EVENT_WAND_BUTTON3}));
    EXPECT_EQ(codes_of({pdo(0x2C4, 0, 0, 1), pdo(0x2C4, 0, 0, 2), pdo(0x2C4, 0x02, 0, 1), pdo(0x1C4, 0, 0, 1)}),
              (Codes{CAN_EVENT_RS_POSITION0, CAN_EVENT_RS_POSITION1}));
    EXPECT_EQ(codes_of({pdo(0x1C0, 0)}), (Codes{CAN_EVENT_FOCUS_NDW}));
    si_.sysType = 25;
    EXPECT_EQ(codes_of({pdo(0x1C0, 0), pdo(0x2C4, 0, 0, 2)}), (Codes{CAN_EVENT_RS_POSITION1}));
    si_.sysType = 26;
    EXPECT_EQ(codes_of({pdo(0x2C4, 0, 0, 2), pdo(0x1C9, 3)}), (Codes{CAN_EVENT_WAND_BUTTON3}));
    si_.sysType = 12;
    EXPECT_EQ(codes_of({pdo(0x1C9, 3)}), Codes{});
}

TEST_F(CanEvents, NdWheelStopSetsTheEventOnlyAfterMovement) {
    platform::event_handle stopped = platform::event_create("CAN_NDWHEEL_STOPPED", true, false);
    EXPECT_EQ(codes_of({pdo(0x2C0, 0x10)}), Codes{});
    EXPECT_FALSE(platform::event_is_set(stopped));
    EXPECT_EQ(can_get_pdo_decoding().ndw_home_status, 0x10);
    EXPECT_EQ(codes_of({pdo(0x2C0, 0x0A)}), Codes{});
    EXPECT_FALSE(platform::event_is_set(stopped));
    EXPECT_TRUE(can_get_pdo_decoding().ndw_moving_seen);
    EXPECT_EQ(can_get_pdo_decoding().ndw_home_status, 0x08);
    EXPECT_EQ(codes_of({pdo(0x2C0, 0x18)}), Codes{});
    EXPECT_TRUE(platform::event_is_set(stopped));
    EXPECT_FALSE(can_get_pdo_decoding().ndw_moving_seen);
    platform::event_reset(stopped);
    EXPECT_EQ(codes_of({pdo(0x2C0, 0x00)}), Codes{});
    EXPECT_FALSE(platform::event_is_set(stopped));
    platform::event_close(stopped);
}

TEST_F(CanEvents, EmptyQueuesGiveFalseAndChangeNothing) {
    const can_pdo_decoding before = can_get_pdo_decoding();
    EXPECT_FALSE(can_process_events(&si_));
    EXPECT_EQ(can_event_queue_length(), 0u);
    EXPECT_EQ(can_emcy_event_queue_length(), 0u);
    const can_pdo_decoding after = can_get_pdo_decoding();
    EXPECT_EQ(before.last_zoom_position, after.last_zoom_position);
    EXPECT_EQ(before.llc_state, after.llc_state);
    EXPECT_EQ(out_.text(), "");
}

TEST_F(CanEvents, EmergenciesAndHostRecordsInArrivalOrder) {
    const uint8_t block[12] = {0x10, 0x32, 0, 0, 0x81, 1, 2, 3, 4, 5, 0, 0};
    sim().send_pdos({pdo(0x1C8, 2)});
    sim().flush();
    EXPECT_TRUE(can_process_events(&si_));
    sim().send_emcy(0x0BC, 0x77, block, 1);
    sim().flush();
    can_put_emcy(5, 6, block, 0);
    EXPECT_EQ(can_emcy_queue_length(), 2u);
    EXPECT_TRUE(can_post_event(CAN_EVENT_SLEEPING));
    EXPECT_TRUE(can_process_events(&si_));

    can_host_record r{};
    ASSERT_TRUE(can_take_event(&r));
    EXPECT_EQ(r.queue, 1);
    EXPECT_EQ(r.event.code, CAN_EVENT_WAND_BUTTON2);
    ASSERT_TRUE(can_take_event(&r));
    EXPECT_EQ(r.queue, 1);
    EXPECT_EQ(r.event.code, CAN_EVENT_SLEEPING);
    EXPECT_EQ(r.event.pdo.cob_id, 0u);
    ASSERT_TRUE(can_take_event(&r));
    EXPECT_EQ(r.queue, 2);
    EXPECT_EQ(r.emcy.kind, 2);
    EXPECT_EQ(r.emcy.emcy.first, 0x0BCu);
    EXPECT_EQ(r.emcy.emcy.second, 0x77u);
    EXPECT_EQ(r.emcy.emcy.block[4], 0x81);
    EXPECT_EQ(r.emcy.emcy.flag, 1u);
    ASSERT_TRUE(can_take_event(&r));
    EXPECT_EQ(r.emcy.emcy.first, 5u);
    EXPECT_FALSE(can_take_event(&r));
    EXPECT_FALSE(can_process_events(&si_));
}

TEST_F(CanEvents, QueuesOutliveTheLocksAndRecordsWithoutLocksAreCounted) {
    can_put_pdo(0x1C8, 8, std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}.data());
    can_events_free_resources();
    const uint64_t dropped = can_events_dropped();
    can_put_pdo(0x1C8, 8, std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 0, 0}.data());
    EXPECT_EQ(can_events_dropped(), dropped + 1);
    EXPECT_FALSE(can_process_events(&si_));
    ASSERT_EQ(CanCreateSyncObjects(), 0);
    EXPECT_TRUE(can_process_events(&si_));
    can_host_record r{};
    ASSERT_TRUE(can_take_event(&r));
    EXPECT_EQ(r.event.code, CAN_EVENT_WAND_BUTTON1);
    EXPECT_EQ(r.event.pdo.word2, 8u);
}

// The locks are closed and made again (re-registration, the motion binding handing
// reception back) while both producers append: no lock is freed under a producer,
// two producers never append to one queue at once, and every record is either
// queued or counted as dropped.
TEST_F(CanEvents, RecreatingTheLocksWhileRecordsArriveLosesNothingUncounted) {
    constexpr uint32_t per_producer = 20000;
    const uint64_t dropped_before = can_events_dropped();
    std::atomic<bool> go{false};
    auto produce = [&](uint32_t cob) {
        while (!go)
            std::this_thread::yield();
        const uint8_t data[8] = {1};
        for (uint32_t i = 0; i < per_producer; ++i) {
            can_put_pdo(cob, 8, data);
            if (i % 100 == 0) can_put_emcy(cob, i, nullptr, 0);
        }
    };
    std::thread a(produce, 0x1C8), b(produce, 0x1C9);
    go = true;
    for (int cycle = 0; cycle < 2000; ++cycle) {
        if (cycle % 2)
            ASSERT_EQ(CanCreateSyncObjects(), 0);
        else
            ASSERT_EQ(can_register_events(&si_, true), 0);
        if (cycle % 50 == 0) can_events_free_resources();
    }
    a.join();
    b.join();
    ASSERT_EQ(CanCreateSyncObjects(), 0);
    const uint64_t dropped = can_events_dropped() - dropped_before;
    EXPECT_EQ(can_pdo_queue_length() + can_emcy_queue_length() + dropped, 2 * (per_producer + per_producer / 100));
    EXPECT_EQ(out_.text(), "");
}

// Out of memory a producer drops the record and counts it; nothing is thrown into
// the producer's thread.
TEST_F(CanEvents, RecordsThatCannotBeQueuedAreCountedAsDropped) {
    const uint64_t dropped = can_events_dropped();
    constexpr int sent = 2000;
    const uint8_t data[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    {
        NewFailure fail(-1);
        for (int i = 0; i < sent; ++i) {
            can_put_pdo(0x1C8, 8, data);
            can_put_emcy(5, 6, nullptr, 0);
        }
    }
    EXPECT_GT(can_events_dropped(), dropped);
    EXPECT_EQ(can_pdo_queue_length() + can_emcy_queue_length() + (can_events_dropped() - dropped), 2u * sent);
}

// Two producers (the library's handlers on the simulator's thread and the motion
// library's callbacks on another) and one consumer: nothing lost, each producer's
// order kept, no lock taken out of order.
TEST_F(CanEvents, ConcurrentProducersLoseNothingAndKeepOrder) {
    constexpr uint32_t per_producer = 500000;
    constexpr uint32_t batch = 50;
    const uint64_t violations = can_lock_order_violations();
    auto seq_pdo = [](uint32_t cob, uint32_t seq) {
        can_pdo p{};
        p.cob_id = cob;
        p.data[0] = 1;
        p.data[2] = static_cast<uint8_t>(seq);
        p.data[3] = static_cast<uint8_t>(seq >> 8);
        p.data[4] = static_cast<uint8_t>(seq >> 16);
        return p;
    };
    std::thread library([&] {
        std::vector<can_pdo> b;
        for (uint32_t i = 0; i < per_producer; ++i) {
            b.push_back(seq_pdo(0x1C8, i));
            if (b.size() == batch) {
                sim().send_pdos(b);
                b.clear();
            }
            if (i % 1000 == 0) {
                uint8_t block[12] = {};
                block[0] = static_cast<uint8_t>(i / 1000);
                sim().send_emcy(1, i, block, 0);
            }
        }
        sim().send_pdos(b);
    });
    std::thread motion([&] {
        for (uint32_t i = 0; i < per_producer; ++i) {
            const can_pdo p = seq_pdo(0x1C9, i);
            can_put_pdo(p.cob_id, 8, p.data);
            if (i % 1000 == 0) can_put_emcy(2, i, nullptr, 0);
        }
    });
    uint32_t next[2] = {0, 0};
    uint32_t next_emcy[2] = {0, 0};
    bool in_order = true;
    auto drain = [&] {
        can_process_events(&si_);
        can_host_record r{};
        while (can_take_event(&r)) {
            if (r.queue == 2) {
                const uint32_t who = r.emcy.emcy.first - 1;
                in_order &= r.emcy.emcy.second == next_emcy[who] * 1000;
                ++next_emcy[who];
                continue;
            }
            const can_pdo& p = r.event.pdo;
            const uint32_t who = p.cob_id == 0x1C8 ? 0 : 1;
            const uint32_t seq = p.data[2] | (p.data[3] << 8) | (p.data[4] << 16);
            in_order &= r.event.code == CAN_EVENT_WAND_BUTTON1 && seq == next[who];
            ++next[who];
        }
    };
    while (next[0] + next[1] < 2 * per_producer && in_order) {
        drain();
        if (next[0] == per_producer && next[1] < per_producer) std::this_thread::yield();
        if (next[0] < per_producer) std::this_thread::yield();
        if (sim().pdos_dropped() > 0) break;
    }
    library.join();
    motion.join();
    sim().flush();
    drain();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(sim().pdos_dropped(), 0u);
    EXPECT_EQ(next[0], per_producer);
    EXPECT_EQ(next[1], per_producer);
    EXPECT_EQ(next_emcy[0], per_producer / 1000);
    EXPECT_EQ(next_emcy[1], per_producer / 1000);
    EXPECT_EQ(can_lock_order_violations(), violations);
}

}  // namespace
}  // namespace mf::test
