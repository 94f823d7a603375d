// Ramp slot rules that need no instrument: identifiers, slot limits, the consistency
// check and find, the slope refusals, the serial-board gain limits and the host steps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "common/errors.h"
#include "ramp/slots/ramp_slots.h"
#include "tests/support/capture.h"

namespace mf {
namespace {

// A hand-made set of n entries in the record's slot, none loaded.
class SlotRules : public ::testing::Test {
protected:
    void SetUp() override {
        si.slot = 2;
        si.boardType = BOARD_SABLEQV;
        si.sysType = SYS_SCARP;
        *rr_board_state_of(&si) = rr_board_state{};
        steps_before = rr_set_slot_host_steps(
            {record_cairn_load, record_cairn_start, record_cairn_status, record_wm_gain, record_pzt_gain});
        calls.clear();
    }
    void TearDown() override {
        rr_set_slot_host_steps(steps_before);
        rr_release_all_ramp_sets();
        *rr_board_state_of(&si) = rr_board_state{};
    }
    rr_ramp_set& make_set(int32_t n) {
        rr_ramp_set& set = *rr_ramp_set_of(&si);
        rr_release_ramp_set(&set);
        set.entries = static_cast<rr_ramp_entry*>(u_calloc(static_cast<size_t>(n), sizeof(rr_ramp_entry)));
        set.count = n;
        for (int32_t i = 0; i < n; ++i) {
            rr_ramp_entry& e = set.entries[i];
            e.slot = rr_no_ramp;
            e.hdr.rampID = i + 1;
            e.hdr.rampType = RAMP_TYPE_SWLI;
            e.hdr.sampleClkFreq = 1;
            e.hdr.updateRate = 61536;
            e.hdr.rampSlope = 81;
            e.hdr.cameraRate = 25;
            e.hdr.trigStartAddr = 400;
            e.hdr.trigEndAddr = 5440;
        }
        return set;
    }

    static int32_t record_cairn_load(sysInfo*, int32_t slot, int32_t gain, int32_t rate, int32_t n,
                                     const uint16_t* points) {
        calls += "cairn load " + std::to_string(slot) + " " + std::to_string(gain) + " " + std::to_string(rate) + " " +
                 std::to_string(n) + " " + std::to_string(points ? points[0] : -1) + "\n";
        return 0;
    }
    static int32_t record_cairn_start(sysInfo*, int32_t slot) {
        calls += "cairn start " + std::to_string(slot) + "\n";
        return 0;
    }
    static int32_t record_cairn_status(sysInfo*, bool* done) {
        calls += "cairn status\n";
        *done = true;
        return 0;
    }
    static int32_t record_wm_gain(sysInfo*, int32_t gain) {
        calls += "wm gain " + std::to_string(gain) + "\n";
        return 0;
    }
    static int32_t record_pzt_gain(sysInfo*, bool large, const int32_t g[3]) {
        calls += std::string("pzt gain ") + (large ? "large " : "normal ") + std::to_string(g[0]) + " " +
                 std::to_string(g[1]) + " " + std::to_string(g[2]) + "\n";
        return 0;
    }

    sysInfo si{};
    rr_slot_host_steps steps_before{};
    static std::string calls;
};

std::string SlotRules::calls;

TEST_F(SlotRules, SlotLimitsByBoard) {
    sb_pifoc pifoc;
    struct Case {
        int32_t board;
        int32_t pifoc_type;  // -1: no PIFOC record
        int32_t slots;
    } const cases[] = {
        {BOARD_SABLEQV, -1, 12}, {BOARD_FENN, -1, 12}, {BOARD_TARN, -1, 4}, {BOARD_CAIRN, -1, 4}, {BOARD_BRAE, -1, 4},
        {BOARD_CAN, 1, 15},      {BOARD_CAN, 2, 100},  {BOARD_CAN, 0, 4},   {BOARD_CAN, -1, 4},   {BOARD_KNAP, -1, 0},
    };
    for (const Case& c : cases) {
        si.boardType = c.board;
        pifoc.type = c.pifoc_type;
        si.scanner.pifoc = c.pifoc_type < 0 ? nullptr : &pifoc;
        test::SinkCapture sink;
        EXPECT_EQ(rr_get_max_num_instr_ramps(&si), c.slots) << c.board << " " << c.pifoc_type;
    }
    si.scanner.pifoc = nullptr;
}

TEST_F(SlotRules, IdentifierIsTheSmallestUnused) {
    rr_ramp_set& set = make_set(4);
    set.entries[0].hdr.rampID = 0;
    set.entries[1].hdr.rampID = 1;
    set.entries[2].hdr.rampID = 3;
    set.entries[3].hdr.rampID = 0;  // its own identifier does not count
    EXPECT_EQ(rr_assign_ramp_id(&si, 3), 0);
    EXPECT_EQ(set.entries[3].hdr.rampID, 2);
    EXPECT_EQ(rr_assign_ramp_id(&si, 4), ERR_INVALID_RAMP_INDEX);
    EXPECT_EQ(rr_assign_ramp_id(&si, -1), ERR_INVALID_RAMP_INDEX);
    rr_release_ramp_set(&set);
    EXPECT_EQ(rr_assign_ramp_id(&si, 0), ERR_NO_RAMP_INFO);
}

// With every slot taken, the entry loaded earliest gives up its slot, whatever its
// place in the set; a failed load leaves that slot empty.
TEST_F(SlotRules, FullBoardEvictsTheEarliestLoaded) {
    si.boardType = BOARD_CAIRN;  // 4 slots, loads through the host step
    rr_ramp_set& set = make_set(6);
    for (int32_t i : {2, 0, 3, 1})
        ASSERT_EQ(rr_load_ramp(&si, i), 0);
    EXPECT_EQ(set.entries[2].slot, 0);
    EXPECT_EQ(rr_load_ramp(&si, 4), 0);
    EXPECT_EQ(set.entries[2].slot, rr_no_ramp);
    EXPECT_EQ(set.entries[4].slot, 0);
    EXPECT_EQ(set.slotTable[0], 5);
    EXPECT_EQ(rr_load_ramp(&si, 4), 0);  // already loaded: not again
    rr_set_slot_host_steps({});
    test::SinkCapture sink;
    EXPECT_EQ(rr_load_ramp(&si, 5), ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(sink.text(), "rr_load_ramp failed: ERR_NOT_IMPLEMENTED\n");
    EXPECT_EQ(set.entries[0].slot, rr_no_ramp);  // the next earliest went
    EXPECT_EQ(set.slotTable[1], rr_no_ramp);
    EXPECT_EQ(set.entries[5].slot, rr_no_ramp);
    EXPECT_EQ(calls,
              "cairn load 0 0 61536 0 -1\ncairn load 1 0 61536 0 -1\ncairn load 2 0 61536 0 -1\n"
              "cairn load 3 0 61536 0 -1\ncairn load 0 0 61536 0 -1\n");
}

TEST_F(SlotRules, CairnLoadStartWaitAndGainGoThroughTheHostSteps) {
    si.boardType = BOARD_CAIRN;
    rr_ramp_set& set = make_set(2);
    uint16_t points[3] = {7, 8, 9};
    set.entries[1].points = static_cast<uint16_t*>(u_calloc(3, sizeof(uint16_t)));
    std::memcpy(set.entries[1].points, points, sizeof points);
    set.entries[1].hdr.nPoints = 3;
    set.entries[1].gain = 2048;
    EXPECT_EQ(rr_load_ramp(&si, 1), 0);
    EXPECT_EQ(rr_ramp_start_index(&si, 1), 0);
    EXPECT_EQ(rr_wait_for_ramp_end(&si, 1), 0);
    set.current = 1;
    EXPECT_EQ(rr_setRampGain(&si, 2048), 0);  // unchanged: nothing
    EXPECT_EQ(rr_setRampGain(&si, 1500), 0);
    EXPECT_EQ(set.entries[1].gain, 1500);
    EXPECT_EQ(calls,
              "cairn load 0 2048 61536 3 7\n"
              "cairn start 0\n"
              "cairn status\n"
              "cairn status\n"
              "cairn load 0 1500 61536 3 7\n");
    // The defaults refuse.
    rr_set_slot_host_steps({});
    set.entries[1].slot = rr_no_ramp;
    set.slotTable[0] = rr_no_ramp;
    test::SinkCapture sink;
    EXPECT_EQ(rr_load_ramp(&si, 1), ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(rr_wait_for_ramp_end(&si, 1), ERR_NOT_IMPLEMENTED);
}

TEST_F(SlotRules, SerialGainLimitsAndAperture) {
    rr_ramp_set& set = make_set(2);
    set.current = 1;
    rr_ramp_hdr_t& h = set.entries[1].hdr;
    h.rampType = 1;
    h.rampTriple[0] = 2.5f;
    h.rampTriple[1] = 1.0f;
    h.rampTriple[2] = 0.5f;
    test::SinkCapture sink;
    EXPECT_EQ(rr_setRampGain(&si, 2000), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(sink.text(), "rr_setRampGain: g[0]=5000 is out of range [0,4095]  gain=2000  t[0]=2.500\n");
    EXPECT_EQ(rr_setRampGain(&si, 1000), 0);
    rr_board_state_of(&si)->large_aperture = true;
    EXPECT_EQ(rr_setRampGain(&si, 999), 0);
    rr_board_state_of(&si)->large_aperture_selected = true;
    EXPECT_EQ(rr_setRampGain(&si, 998), 0);
    h.rampType = RAMP_TYPE_BTW;
    EXPECT_EQ(rr_setRampGain(&si, 300), 0);
    rr_board_state_of(&si)->large_aperture = false;
    EXPECT_EQ(rr_setRampGain(&si, 301), ERR_INVALID_PARAM);
    si.sysType = SYS_SKERRY;
    EXPECT_EQ(rr_setRampGain(&si, 302), 0);
    si.boardType = BOARD_KNAP;
    EXPECT_EQ(rr_setRampGain(&si, 303), ERR_WRONG_INSTR_BOARD);
    EXPECT_EQ(set.entries[1].gain, 302);
    EXPECT_EQ(calls,
              "pzt gain normal 2500 1000 500\n"
              "pzt gain normal 2498 999 500\n"
              "pzt gain large 0 0 0\n"
              "pzt gain large 2495 998 499\n"
              "pzt gain normal 0 0 0\n"
              "pzt gain large 300 0 0\n"
              "pzt gain normal 0 0 0\n"
              "wm gain 302\n");
    EXPECT_NE(sink.text().find("rr_setRampGain: large aperture not available\n"), std::string::npos);
    EXPECT_NE(sink.text().find("rr_setRampGain: invalid instrBdType 2\n"), std::string::npos);
    // The wave-monitor CAN systems take the gain through the host too.
    si.boardType = BOARD_CAN;
    si.sysType = SYS_BRAE_CAN;
    calls.clear();
    EXPECT_EQ(rr_setRampGain(&si, 304), 0);
    EXPECT_EQ(calls, "wm gain 304\n");
    set.current = 2;
    EXPECT_EQ(rr_setRampGain(&si, 1), ERR_NO_RAMP_INFO);
}

// A factor that would divide by zero or give no usable clock is refused and leaves
// the entry as it was.
TEST_F(SlotRules, SlopeFactorsWithoutAUsableClockLeaveTheEntryAlone) {
    rr_ramp_set& set = make_set(2);
    set.entries[1].slot = 3;
    set.slotTable[3] = 2;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double f : {0.0, -1.0, nan, inf, -inf, 1e-9, 1e9}) {
        const rr_ramp_entry before = set.entries[1];
        test::SinkCapture sink;
        EXPECT_EQ(rr_adjust_ramp_slope(&si, 1, f), ERR_INVALID_PARAM) << f;
        EXPECT_EQ(std::memcmp(&before, &set.entries[1], sizeof before), 0) << f;
        EXPECT_EQ(set.slotTable[3], 2);
    }
    EXPECT_EQ(rr_adjust_ramp_slope(&si, 2, 1.0), ERR_INVALID_RAMP_INDEX);
    EXPECT_EQ(rr_adjust_ramp_slope(&si, -1, 1.0), ERR_INVALID_RAMP_INDEX);
    set.entries[0].hdr.rampType = 1;
    test::SinkCapture sink;
    EXPECT_EQ(rr_adjust_ramp_slope(&si, 0, 1.0), ERR_INVALID_PARAM);
    EXPECT_EQ(sink.text(), "rr_adjust_ramp_slope: ramp must be type SWLI or BTW\n");
    // A good factor on a board that is not there: values change, the delete fails.
    set.entries[0].hdr.rampType = RAMP_TYPE_SWLI;
    EXPECT_EQ(rr_adjust_ramp_slope(&si, 0, 2.0), 0);
    EXPECT_FLOAT_EQ(set.entries[0].hdr.rampSlope, 162);
    EXPECT_FLOAT_EQ(set.entries[0].hdr.sampleClkFreq, 2);
    EXPECT_EQ(set.entries[0].hdr.updateRate, 63536);
    EXPECT_EQ(set.entries[0].hdr.nBuckets, 63);  // 25 x 5040 / 2000
}

TEST_F(SlotRules, ConsistencyCheckMessagesInOrder) {
    rr_ramp_set& set = make_set(2);
    rr_ramp_hdr_t& h = set.entries[1].hdr;
    h.rampType = 3;
    h.nBuckets = 5;
    h.scanLen = 0;
    h.rampMux = 1;
    h.cameraRate = 30;
    h.grabSkip = 1;
    h.instrBdType = 0;
    const rr_ramp_expect fits{1, 5, 0, 1, 30.05, 1};
    struct Case {
        int32_t index;
        rr_ramp_expect expect;
        int32_t board;
        const char* message;  // null: fits
    } const cases[] = {
        {1, fits, BOARD_SABLEQV, nullptr},
        {2, fits, BOARD_SABLEQV, "invalid rampIndex"},
        {1, {21, 5, 0, 1, 30, 1}, BOARD_SABLEQV, "expected rampType = 21 is invalid"},
        {1, {3, 5, 0, 1, 30, 1}, BOARD_SABLEQV, "ramp rampType = 3 (PMI)  expected 3 (PMI)"},
        {0, {20, 0, 0, -1, 0, -1}, BOARD_SABLEQV, "ramp rampType = 0 (SWLI)  expected 20 (?)"},
        {1, {1, 4, 0, 1, 30, 1}, BOARD_SABLEQV, "ramp nBuckets = 5  expected nBuckets = 4"},
        {1, {1, 5, 1.5, 1, 30, 1}, BOARD_SABLEQV, "ramp scanLen = 0  expected scanLen = 1.5"},
        {1, {1, 5, 0, 0, 30, 1}, BOARD_SABLEQV, "ramp rampMux = 1  expected rampMux = 0"},
        {1, {1, 5, 0, 1, 30.2, 1}, BOARD_SABLEQV, "ramp cameraRate = 30  expected cameraRate = 30.2"},
        {1, {1, 5, 0, 1, 30, 0}, BOARD_SABLEQV, "ramp grabSkip = 1  expected grabSkip = 0"},
        {1, {1, 0, 0, -1, 0, -1}, BOARD_CAN, nullptr},
    };
    for (const Case& c : cases) {
        si.boardType = c.board;
        char msg[120] = "unchanged";
        EXPECT_EQ(rr_ramp_consistency_check(&si, c.index, c.expect, msg, sizeof msg), c.message == nullptr);
        EXPECT_STREQ(msg, c.message ? c.message : "unchanged");
    }
    si.boardType = BOARD_TARN;
    h.instrBdType = BOARD_FENN;
    char msg[120];
    EXPECT_FALSE(rr_ramp_consistency_check(&si, 1, fits, msg, sizeof msg));
    EXPECT_STREQ(msg, "ramp instrBdType = 7  expected instrBdType = 3");
    si.boardType = BOARD_CAN;
    h.instrBdType = BOARD_SABLEQV;
    EXPECT_TRUE(rr_ramp_consistency_check(&si, 1, fits, nullptr, 0));
    h.instrBdType = BOARD_TARN;
    EXPECT_FALSE(rr_ramp_consistency_check(&si, 1, fits, nullptr, 0));
    h.instrBdType = 0;
    // Finding: PMI with 5 buckets is the type-3 entry.
    EXPECT_EQ(rr_find_ramp(&si, rr_ramp_expect{1, 5, 0, -1, 0, -1}), 1);
    EXPECT_EQ(rr_find_ramp(&si, rr_ramp_expect{1, 6, 0, -1, 0, -1}), -1);
    EXPECT_EQ(rr_find_ramp(&si, rr_ramp_expect{0, 0, 0, -1, 0, -1}), 0);
    rr_release_ramp_set(&set);
    EXPECT_FALSE(rr_ramp_consistency_check(&si, 0, fits, msg, sizeof msg));
    EXPECT_STREQ(msg, "invalid sysInfo");
    EXPECT_EQ(rr_find_ramp(nullptr, fits), -1);
}

}  // namespace
}  // namespace mf
