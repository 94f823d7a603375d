// Light-level control against the virtual instrument: the focus and ND wheel node and
// the auxiliary motor node behind a connected bridge, CAN events registered, the
// "CAN_NDWHEEL_STOPPED" event of the power-on, and a virtual camera as frame source.
// The idle hook brings the virtual nodes up to the virtual time after each wait, so
// the wheel's status PDOs arrive while the thread waits for it.
#pragma once

#include <memory>

#include "can/can_events.h"
#include "can/llc/can_agc.h"
#include "can/nodes/can_nodes.h"
#include "common/hooks.h"
#include "platform/events.h"
#include "sim/camera/virtual_camera.h"
#include "tests/can/can_fixture.h"

namespace mf::test {

// The wheel's raw level at which the brightest disc of the default camera sits on the
// default target (150 of 255).
inline constexpr uint16_t on_target_raw = 29020;

class AgcTest : public CanTest {
protected:
    void SetUp() override {
        CanTest::SetUp();
        connect_bridge();
        sim().add_node(CAN_NODE_ID_FOCUS_NDW, 0x26720040u, 0x00040003);
        sim().add_node(CAN_NODE_ID_AUX_MOTOR, 0x26720042u, 0x00040003);
        sim().set_time_source(+[] { return platform::monotonic_ms(); });
        state().present.focus_ndw = state().present.aux_motor = true;
        state().required.focus_ndw = true;
        can_clear_event_queues();
        can_reset_pdo_decoding();
        ASSERT_EQ(can_register_events(&si_, true), 0);
        stopped_ = platform::event_create(CAN_NDWHEEL_STOPPED_NAME, true, true);
        u_set_idle_hook(&tick);
        ASSERT_EQ(can_agc_init(), 0);
        can_agc_set_settings({});
    }
    void TearDown() override {
        if (camera_) camera_->release_grabs();
        can_agc_shutdown();
        can_agc_set_frame_source(nullptr);
        camera_.reset();
        u_set_idle_hook(nullptr);
        can_register_events(&si_, false);
        can_events_free_resources();
        can_clear_event_queues();
        platform::event_close(stopped_);
        CanTest::TearDown();
    }

    static void tick() {
        sim::can_sim::instance().tick();
        sim::can_sim::instance().flush();
    }

    // A camera of these options becomes the frame source; the wheel starts at `raw`.
    sim::virtual_camera& use_camera(const sim::virtual_camera::options& o, uint16_t raw) {
        sim().set_object(CAN_NODE_ID_FOCUS_NDW, 0x2028, 0, {static_cast<uint8_t>(raw), static_cast<uint8_t>(raw >> 8)});
        camera_ = std::make_unique<sim::virtual_camera>(o);
        const agc_frame_source source = camera_->source();
        can_agc_set_frame_source(&source);
        return *camera_;
    }

    // The light-level writes the wheel received, as the node holds them.
    std::vector<uint16_t> level_writes() const {
        std::vector<uint16_t> out;
        for (const auto& r : sim().sdo_log())
            if (r.node == CAN_NODE_ID_FOCUS_NDW && r.index == 0x2028 && r.write && r.bytes.size() == 2)
                out.push_back(static_cast<uint16_t>(r.bytes[0] | r.bytes[1] << 8));
        return out;
    }
    int level_reads() const {
        int n = 0;
        for (const auto& r : sim().sdo_log())
            n += r.node == CAN_NODE_ID_FOCUS_NDW && r.index == 0x2028 && !r.write;
        return n;
    }

    std::unique_ptr<sim::virtual_camera> camera_;
    platform::event_handle stopped_ = nullptr;
};

}  // namespace mf::test
