// Ramp slots on a CAN instrument: the ramp set built from the example ramps, loaded
// into the virtual digital ramp node or PZT ramp nodes (more ramps than slots),
// started through can_start_ramp, waited for, gain and slope; after each step the
// nodes' objects are compared with the set's entries.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "can/can_bus.h"
#include "can/nodes/can_nodes.h"
#include "common/errors.h"
#include "ramp/slots/ramp_slots.h"
#include "tests/can/can_fixture.h"
#include "tests/ramp/example_ramps.h"
#include "tests/support/temp_dir.h"

namespace mf {
namespace {

std::vector<uint8_t> le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> f32(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return le32(b);
}

struct CanKind {
    const char* name;
    int32_t sysType;
    bool pzt;  // PZT ramp nodes, else the digital ramp node
};

class CanSlots : public test::CanTest, public ::testing::WithParamInterface<CanKind> {
protected:
    void SetUp() override {
        CanTest::SetUp();
        connect_bridge();
        for (uint8_t n : {CAN_NODE_ID_RAMP, CAN_NODE_ID_TRIPLEPZT, CAN_NODE_ID_LARGEAP})
            sim().add_node(n, 0x26720000u + n, 0x00040003);
        sim().set_time_source(+[] { return platform::monotonic_ms(); });
        cfg_.fw_major = 1;
        cfg_.fw_minor = 12;
        state().present.triple_pzt = state().present.large_ap = GetParam().pzt;
        state().required.triple_pzt = GetParam().pzt;
        si_.sysType = GetParam().sysType;
        si_.serialNum = 7;
        pifoc_.serial = 12345;
        si_.scanner.pifoc = &pifoc_;
        si_.rampConfig = "rampcfg.txt";
        ASSERT_EQ(test::write_example_ramps(dir_.path()), 0);
        std::string text = "SWLI d10s81c25.b12345 10.2 25 0 0 0.25 81 0 1\n";
        for (const char* len : {"9", "8", "7", "6"})
            text += std::string("SWLI + ") + len + " 25 0 0 0.25 81 0 1\n";
        text += "PMI p5c15.q7 0 30 0 1 0.25 0 0 0\n";
        test::write_file(dir_.file("rampcfg.txt"), text);
        rr_slots_install();
        test::SinkCapture quiet;
        ASSERT_EQ(rr_get_ramp_info_in(&si_, dir_.path().c_str()), 0);
    }
    void TearDown() override {
        rr_set_instr_slot_ops({});
        can_set_ramp_hooks(nullptr);
        rr_release_all_ramp_sets();
        CanTest::TearDown();
    }
    rr_ramp_set& set() { return *rr_ramp_set_of(&si_); }
    uint8_t node_of(const rr_ramp_entry& e) const {
        if (!GetParam().pzt) return CAN_NODE_ID_RAMP;
        return e.hdr.rampMux == 1 ? CAN_NODE_ID_LARGEAP : CAN_NODE_ID_TRIPLEPZT;
    }

    // Each loaded entry's points, trigger frame and rate are in its slot's objects.
    void expect_nodes_hold_the_set() {
        for (int32_t i = 0; i < set().count; ++i) {
            const rr_ramp_entry& e = set().entries[i];
            if (e.slot == rr_no_ramp) continue;
            const auto index = static_cast<uint16_t>(0x2003 + e.slot);
            const uint8_t node = node_of(e);
            std::vector<uint8_t> data;
            for (int32_t k = 0; k < e.hdr.nPoints; ++k) {
                data.push_back(static_cast<uint8_t>(e.points[k]));
                data.push_back(static_cast<uint8_t>(e.points[k] >> 8));
            }
            if (!GetParam().pzt) data.resize(32768, 0);
            EXPECT_EQ(sim().object(node, index, 5), data) << "entry " << i;
            EXPECT_EQ(sim().object(node, index, 1), std::vector<uint8_t>{1});
            const double frame = static_cast<double>(e.hdr.trigStartAddr) * e.hdr.cameraRate /
                                     (static_cast<double>(e.hdr.sampleClkFreq) * 1000) +
                                 0.5;
            const auto trig = static_cast<uint16_t>(frame);
            EXPECT_EQ(sim().object(node, index, 2),
                      (std::vector<uint8_t>{static_cast<uint8_t>(trig), static_cast<uint8_t>(trig >> 8)}));
            EXPECT_EQ(sim().object(node, index, 4), f32(e.hdr.sampleClkFreq * 1000)) << "entry " << i;
        }
    }

    sb_pifoc pifoc_;
    test::TempDir dir_;
};

TEST_P(CanSlots, LoadsMoreRampsThanSlotsStartsWaitsAndAdjusts) {
    ASSERT_EQ(set().count, 6);
    ASSERT_EQ(rr_get_max_num_instr_ramps(&si_), 4);
    for (int32_t i = 0; i < set().count; ++i) {
        if (GetParam().pzt && set().entries[i].hdr.rampMux == 1) state().required.large_ap = true;
        ASSERT_EQ(rr_load_ramp(&si_, i), 0) << i;
        expect_nodes_hold_the_set();
    }
    for (int32_t i = 0; i < set().count; ++i)
        EXPECT_EQ(set().entries[i].slot != rr_no_ramp, i >= 2) << i;

    // Start the last SWLI entry by index and wait for it in virtual time.
    const int32_t swli = 4;
    const rr_ramp_entry& e = set().entries[swli];
    const uint8_t node = node_of(e);
    state().rampMux = e.hdr.rampMux;
    // The PZT node runs the slot's own points at its rate; the ramp generator's table
    // is always whole, so it runs for the entry's duration.
    sim().set_ramp_duration(node, GetParam().pzt ? -1 : e.duration);
    sim().reset_log();
    const int64_t before = platform::monotonic_ms();
    EXPECT_EQ(rr_ramp_start_index(&si_, swli), 0);
    EXPECT_EQ(sim().object(node, 0x2001, 0), std::vector<uint8_t>{static_cast<uint8_t>(e.slot)});
    EXPECT_NE(set().entries[swli].startTime, 0);
    EXPECT_EQ(rr_wait_for_ramp_end(&si_, 10), 0);
    EXPECT_GE(platform::monotonic_ms() - before, e.duration);
    EXPECT_LT(platform::monotonic_ms() - before, e.duration + 100);
    EXPECT_EQ(rr_ramp_start_slot(&si_, e.slot), 0);
    EXPECT_EQ(rr_wait_for_ramp_end(&si_, 0.05), ERR_RAMP_WAIT_TIMEOUT);
    EXPECT_EQ(rr_ramp_start_index(&si_, 0), ERR_INVALID_RAMP_INDEX);  // evicted: nothing sent
    EXPECT_EQ(rr_ramp_start_slot(&si_, 17), ERR_INVALID_RAMP_INDEX);

    // Slope: a loaded ramp is let go on CAN.
    const int32_t slot = e.slot;
    EXPECT_EQ(rr_adjust_ramp_slope(&si_, swli, 1.5), 0);
    EXPECT_EQ(set().entries[swli].slot, rr_no_ramp);
    EXPECT_EQ(set().slotTable[slot], rr_no_ramp);
    ASSERT_EQ(rr_load_ramp(&si_, swli), 0);
    expect_nodes_hold_the_set();
}

// The triple-PZT gains of a PMI ramp go to the PZT node's slot as gains 1 to 3.
TEST_P(CanSlots, PmiGainOnThePztNode) {
    const int32_t pmi = set().count - 1;
    rr_ramp_entry& e = set().entries[pmi];
    ASSERT_TRUE(rr_is_pmi(e.hdr.rampType));
    set().current = pmi;
    e.hdr.rampTriple[0] = 2.5f;
    e.hdr.rampTriple[1] = 1.0f;
    e.hdr.rampTriple[2] = 0.25f;
    test::SinkCapture sink;
    if (!GetParam().pzt) {
        EXPECT_EQ(rr_setRampGain(&si_, 1000), ERR_INVALID_PARAM);  // not loaded: nothing written
        EXPECT_EQ(sink.text(), "rr_setRampGain: ramp not loaded\n");
        return;
    }
    state().required.large_ap = true;
    ASSERT_EQ(rr_load_ramp(&si_, pmi), 0);
    sim().reset_log();
    EXPECT_EQ(rr_setRampGain(&si_, 2000), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(sink.text(), "rr_setRampGain: g[0]=20000 is out of range [0,16383]  gain=2000  t[0]=2.500\n");
    EXPECT_TRUE(sim().sdo_log().empty());
    EXPECT_EQ(rr_setRampGain(&si_, 1000), 0);
    const auto index = static_cast<uint16_t>(0x2003 + e.slot);
    EXPECT_EQ(sim().object(CAN_NODE_ID_LARGEAP, index, 6), (std::vector<uint8_t>{0x10, 0x27}));  // 10000
    EXPECT_EQ(sim().object(CAN_NODE_ID_LARGEAP, index, 7), (std::vector<uint8_t>{0xA0, 0x0F}));  // 4000
    EXPECT_EQ(sim().object(CAN_NODE_ID_LARGEAP, index, 8), (std::vector<uint8_t>{0xE8, 0x03}));  // 1000
    EXPECT_EQ(e.gain, 1000);
}

INSTANTIATE_TEST_SUITE_P(Nodes, CanSlots,
                         ::testing::Values(CanKind{"digital", SYS_LOOMA, false}, CanKind{"pzt", SYS_TARNCAN, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mf

namespace mf {
namespace {

// A scanner controller that stores its own profiles: the entries are loaded in the
// slot of their index; a profile is checked against the controller when it is first
// loaded and when a ramp never started is handed to it.
class PiScanner : public test::CanTest {
protected:
    void SetUp() override {
        CanTest::SetUp();
        connect_bridge();
        sim().add_node(CAN_NODE_ID_RAMP, 0x2672007F, 0x00040003);
        cfg_.fw_major = 7;
        cfg_.fw_minor = 3;
        si_.sysType = SYS_LOOMA;
        pifoc_.serial = 12345;
        pifoc_.type = 1;
        si_.scanner.pifoc = &pifoc_;
        si_.rampConfig = "rampcfg.txt";
        test::write_file(dir_.file("rampcfg.txt"),
                         "SWLI extprofile3.bn 10 25 0 0 0.25 81 0 1\n"
                         "SWLI extprofile5.bp 10 25 0 1 0.25 81 0 1\n");
        rr_slots_install();
        test::SinkCapture quiet;
        ASSERT_EQ(rr_get_ramp_info_in(&si_, dir_.path().c_str()), 0);
        controller(10, 2025);
    }
    void TearDown() override {
        can_set_ramp_hooks(nullptr);
        rr_set_instr_slot_ops({});
        rr_release_all_ramp_sets();
        CanTest::TearDown();
    }
    void controller(float amplitude, float velocity) {
        sim().set_object(CAN_NODE_ID_RAMP, 0x2041, 2, f32(amplitude));
        sim().set_object(CAN_NODE_ID_RAMP, 0x2041, 3, f32(velocity));
    }
    rr_ramp_set& set() { return *rr_ramp_set_of(&si_); }
    sb_pifoc pifoc_;
    test::TempDir dir_;
};

TEST_F(PiScanner, ProfilesAreCheckedAtLoadAndAtTheFirstStart) {
    ASSERT_EQ(set().count, 2);
    EXPECT_EQ(set().entries[0].slot, 3);
    controller(10, 1000);
    test::SinkCapture sink;
    EXPECT_EQ(rr_load_ramp(&si_, 0), 0);  // a report only
    EXPECT_EQ(sink.text(), "PI ramp extprofile3.bn velocity = 1000, expected 2025 nm/s\n");
    EXPECT_EQ(rr_ramp_start_index(&si_, 0), ERR_MISMATCHED_PI_DIG_RAMP_PARAMS);
    EXPECT_EQ(sim().object(CAN_NODE_ID_RAMP, 0x2010, 2)[1] & 0x20, 0x20);  // bit 0x2000
    EXPECT_EQ(set().entries[0].startTime, 0);
    controller(10, 2025);
    EXPECT_EQ(rr_ramp_start_index(&si_, 0), 0);
    EXPECT_EQ(sim().object(CAN_NODE_ID_RAMP, 0x2041, 1), std::vector<uint8_t>{3});
    EXPECT_NE(set().entries[0].startTime, 0);
    // Started before: no second check.
    controller(1, 1);
    EXPECT_EQ(rr_ramp_start_index(&si_, 0), 0);
    // Half the speed when every other frame is grabbed.
    controller(10, 1012.5f);
    EXPECT_EQ(rr_ramp_start_slot(&si_, 5), 0);
}

}  // namespace
}  // namespace mf
