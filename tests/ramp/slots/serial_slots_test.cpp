// Ramp slots on the virtual serial boards of each family: the ramp set built from the
// example ramps, more ramps loaded than the board has slots, start, wait, gain and
// slope, with every packet on the wire compared with the family's golden transcript
// and what the board holds compared with the set after every step.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "can/nodes/can_nodes.h"
#include "common/errors.h"
#include "ramp/slots/ramp_slots.h"
#include "ramp/slots/uz_ramp_codes.h"
#include "tests/ramp/example_ramps.h"
#include "tests/serial/board/board_fixture.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/env.h"

namespace mf {
namespace {

using Fault = sim::BoardPeer::Fault;

// The example ramps, twelve ramps derived from the SWLI one, the BTW and the PMI ramp.
std::string config_text() {
    std::string text = "SWLI d10s81c25.b12345 10.2 25 0 0 0.25 81 0 1\n";
    for (int i = 0; i < 12; ++i) {
        char line[80];
        std::snprintf(line, sizeof line, "SWLI + %.1f 25 0 0 0.25 81 0 1\n", 9.8 - 0.6 * i);
        text += line;
    }
    text += "BTW2 d20s243c60m50.b12345 20 60 0 0 0.75 243 50 1\n";
    text += "PMI p5c15.q7 0 30 0 1 0.25 0 0 0\n";
    return text;
}

std::string hex_of(const uint8_t* p, std::size_t n) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, s.empty() ? "%02x" : " %02x", p[i]);
        s += b;
    }
    return s;
}

// Host packets one per line; the points of a ramp data packet are shown by count
// (they are compared with the ramp itself), its header and sum byte as sent.
std::string host_lines(const std::vector<uint8_t>& v, int32_t data_code) {
    std::string out;
    std::size_t i = 0;
    while (i < v.size()) {
        const std::size_t len = v[i];
        const std::size_t end = std::min(v.size(), i + len + 1);
        out += "> " + hex_of(&v[i], end - i);
        if (len == 4 && end - i == 5 && v[i + 1] == data_code) {
            const std::size_t points = (static_cast<std::size_t>(v[i + 2]) << 8) | v[i + 3];
            const std::size_t sum_at = std::min(v.size() - 1, end + 2 * points);
            out += " [" + std::to_string(points) + " points] " + hex_of(&v[sum_at], 1);
            i = sum_at + 1;
        } else {
            i = end;
        }
        out += "\n";
    }
    return out;
}

std::string board_lines(const std::vector<uint8_t>& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size();) {
        const std::size_t end = std::min(v.size(), i + v[i] + 1);
        out += "< " + hex_of(&v[i], end - i) + "\n";
        i = end;
    }
    return out;
}

struct Family {
    ur_family family;
    const char* name;
};

class SerialSlots : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        b = std::make_unique<test::BoardOnLine>(GetParam().family);
        si = &b->si;
        si->sysType = SYS_SCARP;
        si->serialNum = 7;
        pifoc.serial = 12345;
        si->scanner.pifoc = &pifoc;
        si->rampConfig = "rampcfg.txt";
        ASSERT_EQ(ur_initUZ(si), 0);
        b->sent();
        b->answered();
        ASSERT_EQ(test::write_example_ramps(dir.path()), 0);
        test::write_file(dir.file("rampcfg.txt"), config_text());
        rr_slots_install();
        steps_before = rr_set_slot_host_steps({nullptr, nullptr, nullptr, nullptr, record_pzt_gain});
        *rr_board_state_of(si) = rr_board_state{};
        gains.clear();
        data_code = uz_ramp_code_of_data(GetParam().family);
    }
    void TearDown() override {
        rr_set_slot_host_steps(steps_before);
        rr_set_instr_slot_ops({});
        can_set_ramp_hooks(nullptr);
        rr_release_all_ramp_sets();
        *rr_board_state_of(si) = rr_board_state{};
        b.reset();
    }

    static int32_t uz_ramp_code_of_data(ur_family f) {
        for (const ur_command& c : ur_commands(static_cast<int32_t>(f)))
            if (std::string(c.name).find("_RAMP_DATA_CMD") != std::string::npos) return c.code;
        return -1;
    }

    static int32_t record_pzt_gain(sysInfo*, bool large, const int32_t g[3]) {
        char line[80];
        std::snprintf(line, sizeof line, "pzt gain %s %d %d %d\n", large ? "large" : "normal", g[0], g[1], g[2]);
        gains += line;
        return 0;
    }

    // Runs one operation and adds it, its messages and the packets both ways to the
    // transcript.
    template <class F>
    int32_t op(const std::string& what, F call, bool keep_messages = true) {
        test::SinkCapture sink;
        const int32_t r = call();
        transcript += what + " = " + (r == 0 ? "0" : error_name(r)) + "\n";
        if (keep_messages) {
            std::istringstream lines(sink.text());
            for (std::string l; std::getline(lines, l);)
                transcript += "! " + l + "\n";
        }
        transcript += host_lines(b->sent(), data_code);
        transcript += board_lines(b->answered());
        transcript += gains;
        gains.clear();
        return r;
    }

    rr_ramp_set& set() { return *rr_ramp_set_of(si); }
    int32_t limit() { return rr_get_max_num_instr_ramps(si); }

    // The board holds exactly what the slot table says, each loaded entry's points in
    // its slot.
    void expect_board_matches_set() {
        const std::vector<uint8_t> held = b->board.slots();
        ASSERT_EQ(static_cast<int32_t>(held.size()), limit());
        for (int32_t s = 0; s < limit(); ++s)
            EXPECT_EQ(held[static_cast<std::size_t>(s)], set().slotTable[s]) << "slot " << s;
        for (int32_t i = 0; i < set().count; ++i) {
            const rr_ramp_entry& e = set().entries[i];
            if (e.slot == rr_no_ramp) continue;
            const std::vector<uint16_t> points(e.points, e.points + e.hdr.nPoints);
            EXPECT_EQ(b->board.slot_points(e.slot), points) << "entry " << i;
            EXPECT_EQ(set().slotTable[e.slot], e.hdr.rampID);
        }
    }

    void compare_with_golden(const std::string& name) {
        const std::string path = std::string(MF_SLOT_TRANSCRIPTS) + "/" + name + ".txt";
        std::ifstream in(path, std::ios::binary);
        std::stringstream golden;
        golden << in.rdbuf();
        if (golden.str() != transcript) {
            std::ofstream(name + ".actual.txt", std::ios::binary) << transcript;
            ADD_FAILURE() << "transcript differs from " << path << " (see " << name << ".actual.txt)";
        }
    }

    std::unique_ptr<test::BoardOnLine> b;
    sysInfo* si = nullptr;
    sb_pifoc pifoc;
    test::TempDir dir;
    test::DeviceTable table;
    rr_slot_host_steps steps_before{};
    int32_t data_code = -1;
    std::string transcript;
    static std::string gains;
};

std::string SerialSlots::gains;

TEST_P(SerialSlots, LoadsMoreRampsThanSlotsStartsWaitsAndAdjusts) {
    ASSERT_EQ(op(
                  "rr_get_ramp_info", [&] { return rr_get_ramp_info_in(si, dir.path().c_str()); }, false),
              0);
    ASSERT_EQ(set().count, 15);
    for (int32_t i = 0; i < set().count; ++i) {
        ASSERT_EQ(op("rr_load_ramp " + std::to_string(i), [&] { return rr_load_ramp(si, i); }), 0);
        expect_board_matches_set();
    }
    // The earliest loads were evicted, the latest are in.
    for (int32_t i = 0; i < set().count; ++i)
        EXPECT_EQ(set().entries[i].slot != rr_no_ramp, i >= set().count - limit()) << "entry " << i;

    const int32_t last = set().count - 1;
    const int32_t slot = set().entries[last].slot;
    const int64_t before = platform::monotonic_ms();
    EXPECT_EQ(op("rr_ramp_start_index last", [&] { return rr_ramp_start_index(si, last); }), 0);
    EXPECT_EQ(b->board.started_slot(), slot);
    EXPECT_EQ(op("wait 10", [&] { return rr_wait_for_ramp_end(si, 10); }), 0);
    const rr_ramp_entry& pmi = set().entries[last];
    const int64_t run_ms = static_cast<int64_t>(pmi.hdr.nPoints) * (65536 - pmi.hdr.updateRate) / 4000;
    EXPECT_GE(platform::monotonic_ms() - before, run_ms);
    EXPECT_EQ(op("rr_ramp_start_slot", [&] { return rr_ramp_start_slot(si, slot); }), 0);
    EXPECT_EQ(op("wait 0.1", [&] { return rr_wait_for_ramp_end(si, 0.1); }), ERR_RAMP_WAIT_TIMEOUT);

    set().current = last;
    EXPECT_EQ(op("rr_setRampGain 1000", [&] { return rr_setRampGain(si, 1000); }), 0);
    EXPECT_EQ(set().entries[last].gain, 1000);
    rr_board_state_of(si)->large_aperture = true;
    rr_board_state_of(si)->large_aperture_selected = true;
    EXPECT_EQ(op("rr_setRampGain 900 large", [&] { return rr_setRampGain(si, 900); }), 0);

    // An SWLI ramp still loaded: its rate changed in place on new firmware, else
    // deleted.
    const int32_t swli = set().count - limit();
    const int32_t swli_slot = set().entries[swli].slot;
    ASSERT_NE(swli_slot, rr_no_ramp);
    rr_board_state_of(si)->firmware = 12;
    EXPECT_EQ(op("rr_adjust_ramp_slope 1.25 fw 12", [&] { return rr_adjust_ramp_slope(si, swli, 1.25); }), 0);
    const bool in_place = GetParam().family == ur_family::uz1 || GetParam().family == ur_family::fenn;
    EXPECT_EQ(set().entries[swli].slot, in_place ? swli_slot : rr_no_ramp);
    if (in_place) {
        EXPECT_EQ(b->board.update_rate(swli_slot), set().entries[swli].hdr.updateRate);
    }
    rr_board_state_of(si)->firmware = 11;
    EXPECT_EQ(op("rr_adjust_ramp_slope 0.8 fw 11", [&] { return rr_adjust_ramp_slope(si, swli, 0.8); }), 0);
    EXPECT_EQ(set().entries[swli].slot, rr_no_ramp);
    expect_board_matches_set();
    EXPECT_EQ(op("rr_load_ramp again", [&] { return rr_load_ramp(si, swli); }), 0);
    expect_board_matches_set();
    compare_with_golden(GetParam().name);
}

// A load that fails in the middle leaves its slot deleted on the board and empty in
// the table; the next load of the same ramp succeeds.
TEST_P(SerialSlots, LoadFailingMidwayDeletesTheSlotAndTheNextLoadSucceeds) {
    ASSERT_EQ(op(
                  "rr_get_ramp_info", [&] { return rr_get_ramp_info_in(si, dir.path().c_str()); }, false),
              0);
    struct Case {
        const char* what;
        std::function<void(sim::BoardPeer&)> arm;
        int32_t result;
    };
    const Case cases[] = {
        {"refused packet", [](sim::BoardPeer& p) { p.refuse_points_packet(2, 1); }, ERR_RAMP_LOAD},
        {"corrupt checksum", [](sim::BoardPeer& p) { p.fault_at_points_packet(1, Fault::bad_checksum); },
         ERR_RAMP_LOAD},
        {"link dropped", [](sim::BoardPeer& p) { p.fault_at_points_packet(2, Fault::silence, 4); },
         ERR_UZ_RECV_TIMEOUT},
    };
    for (const Case& c : cases) {
        c.arm(b->board);
        EXPECT_EQ(op(std::string("rr_load_ramp 0 ") + c.what, [&] { return rr_load_ramp(si, 0); }), c.result);
        EXPECT_EQ(set().entries[0].slot, rr_no_ramp) << c.what;
        expect_board_matches_set();
        EXPECT_EQ(op("rr_load_ramp 0", [&] { return rr_load_ramp(si, 0); }), 0);
        EXPECT_EQ(set().entries[0].slot, 0) << c.what;
        expect_board_matches_set();
        EXPECT_EQ(op("rr_ramp_delete 0", [&] { return rr_ramp_delete(si, 0); }), 0);
        set().entries[0].slot = rr_no_ramp;
        set().slotTable[0] = rr_no_ramp;
    }
    compare_with_golden(std::string(GetParam().name) + "_failures");
}

// Starting an entry that is not loaded never sends a start (for slot 255 or any).
TEST_P(SerialSlots, NotLoadedEntryIsNotStarted) {
    ASSERT_EQ(op(
                  "rr_get_ramp_info", [&] { return rr_get_ramp_info_in(si, dir.path().c_str()); }, false),
              0);
    b->sent();
    EXPECT_EQ(rr_ramp_start_index(si, 0), ERR_INVALID_RAMP_INDEX);
    EXPECT_EQ(rr_ramp_start_slot(si, rr_no_ramp), ERR_INVALID_RAMP_INDEX);
    EXPECT_EQ(rr_ramp_start_slot(si, limit()), ERR_INVALID_RAMP_INDEX);
    EXPECT_TRUE(b->sent().empty());
}

// Rebuilt with KEEP_RAMPS_LOADED_IN_INSTR, the set keeps the ramps the board holds
// and deletes the slot holding an identifier of no entry; slots the board does not
// have are never named.
TEST_P(SerialSlots, RebuildKeepsLoadedRampsAndDeletesStrangers) {
    ASSERT_EQ(rr_get_ramp_info_in(si, dir.path().c_str()), 0);
    ASSERT_EQ(rr_load_ramp(si, 0), 0);
    ASSERT_EQ(rr_load_ramp(si, 1), 0);
    rr_ramp_hdr_t stranger = set().entries[2].hdr;
    stranger.rampID = 200;
    ASSERT_EQ(uz_ramp_load(si, 2, stranger, set().entries[2].points), 0);
    ASSERT_EQ(b->board.slots()[2], 200);
    const std::size_t before = b->board.commands().size();
    test::set_env("KEEP_RAMPS_LOADED_IN_INSTR", "1");
    test::SinkCapture sink;
    const int32_t status = rr_get_ramp_info_in(si, dir.path().c_str());
    test::set_env("KEEP_RAMPS_LOADED_IN_INSTR", nullptr);
    ASSERT_EQ(status, 0);
    EXPECT_NE(sink.text().find("Ramp ID 1 already loaded in instr\nRamp ID 2 already loaded in instr\n"),
              std::string::npos);
    const std::vector<int32_t> all = b->board.commands();
    const std::vector<int32_t> sent(all.begin() + static_cast<long>(before), all.end());
    const uz_ramp_codes& codes = *uz_ramp_codes_of(static_cast<int32_t>(GetParam().family));
    std::vector<int32_t> expected{codes.request};
    expected.insert(expected.end(), static_cast<std::size_t>(limit() - 2), codes.remove);
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(set().entries[0].slot, 0);
    EXPECT_EQ(set().entries[1].slot, 1);
    EXPECT_EQ(b->board.slots()[2], rr_no_ramp);
    expect_board_matches_set();
}

INSTANTIATE_TEST_SUITE_P(Families, SerialSlots,
                         ::testing::Values(Family{ur_family::uz1, "uz1"}, Family{ur_family::uz2, "uz2"},
                                           Family{ur_family::brae, "brae"}, Family{ur_family::fenn, "fenn"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mf
