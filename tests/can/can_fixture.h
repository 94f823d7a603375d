// Shared set-up of the CAN tests: the virtual instrument installed in-process, a
// virtual clock, a CAN instrument record in slot 0, captured messages.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "calfile/sysinfo.h"
#include "can/can_api.h"
#include "can/can_bus.h"
#include "common/timeutil.h"
#include "platform/clock.h"
#include "sim/can/can_sim.h"
#include "tests/support/capture.h"

namespace mf::test {

inline constexpr int64_t clock_start_ms = 1700000000000;

class CanTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim().reset();
        ASSERT_EQ(can_install_api(sim::can_sim_api()), 0);
        platform::set_clock(&clock_);
        can_state_reset_all();
        can_config_init(&cfg_);
        si_ = sysInfo{};
        si_.slot = 0;
        si_.sysType = 23;
        si_.boardType = BOARD_CAN;
        si_.canInfo = &cfg_;
    }
    void TearDown() override {
        sim().reset();
        platform::set_clock(nullptr);
        can_unbind_library();
    }

    static sim::can_sim& sim() { return sim::can_sim::instance(); }

    // A bridge on the network, and the host connected to it: the virtual instrument,
    // like a real bridge, answers bus calls only then.
    void connect_bridge() {
        const uint8_t ip[4] = {192, 168, 1, 99};
        const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x00, 0x00, 0x99};
        sim().add_bridge(ip, mac);
        ASSERT_EQ(can_lib().CAN_Connect(0x6301A8C0), CAN_OK);
    }
    can_state& state() { return *can_state_of(&si_); }

    // The time stamp u_msg_time prints after `ms` of virtual time.
    static std::string stamp_at(int64_t ms) {
        std::time_t t = static_cast<std::time_t>((clock_start_ms + ms) / 1000);
        char text[41];
        u_time_text(text, &t);
        return std::string(text) + " ";
    }

    platform::VirtualClock clock_{clock_start_ms};
    can_config cfg_{};
    sysInfo si_{};
    SinkCapture out_;
};

}  // namespace mf::test
