#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "calfile/sysinfo.h"
#include "common/alloc.h"
#include "common/errors.h"
#include "platform/files.h"
#include "ramp/ramp_set.h"
#include "tests/ramp/example_ramps.h"
#include "tests/support/alloc_fail.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/env.h"

namespace mf {

namespace {

constexpr const char* keep_variable = "KEEP_RAMPS_LOADED_IN_INSTR";

std::string data_file(const char* name) { return test::read_file(std::string(MF_RAMP_TEST_DATA) + "/" + name); }

// A SableQv system with PIFOC 12345 and system (PZT) serial 7, and a ramp
// directory holding the example ramps.
class RampSet : public ::testing::Test {
protected:
    void SetUp() override {
        test::set_env(keep_variable, nullptr);
        si = sb_slot(1);
        sb_setDefaults(si);
        si->sysType = SYS_SCARP;
        si->boardType = BOARD_SABLEQV;
        si->serialNum = 7;
        pifoc.serial = 12345;
        si->scanner.pifoc = &pifoc;
        ASSERT_EQ(test::write_example_ramps(dir.path()), 0);
    }
    void TearDown() override {
        test::set_env(keep_variable, nullptr);
        rr_set_instr_slot_ops({});
        rr_release_all_ramp_sets();
        si->scanner.pifoc = nullptr;
        si->rampConfig = sb_default_ramp_config;
        sb_setDefaults(si);
    }

    int32_t build(std::string* log) {
        test::SinkCapture sink;
        const int32_t status = rr_get_ramp_info_in(si, dir.path().c_str());
        *log = sink.text();
        return status;
    }
    // A transcript of the data folder with the ramp directory put in.
    std::string expected_log(const char* name) const {
        std::string text = data_file(name);
        const std::string sep(1, platform::path_separator());
        for (size_t at; (at = text.find("@DIR@/")) != std::string::npos;)
            text.replace(at, 6, dir.path() + sep);
        for (size_t at; (at = text.find("@DIR@")) != std::string::npos;)
            text.replace(at, 5, dir.path());
        return text;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        const rr_ramp_set* set = rr_ramp_set_of(si);
        for (int32_t i = 0; i < set->count; ++i)
            out.push_back(set->entries[i].name);
        return out;
    }
    std::vector<int32_t> ids() const {
        std::vector<int32_t> out;
        const rr_ramp_set* set = rr_ramp_set_of(si);
        for (int32_t i = 0; i < set->count; ++i)
            out.push_back(set->entries[i].hdr.rampID);
        return out;
    }

    sysInfo* si = nullptr;
    sb_pifoc pifoc;
    test::TempDir dir;
};

}  // namespace

TEST_F(RampSet, BuiltFromTheConfigurationFile) {
    test::write_file(dir.file("rampcfg.txt"), data_file("set_rampcfg.txt"));
    std::string log;
    ASSERT_EQ(build(&log), 0) << log;
    EXPECT_EQ(log, expected_log("set_config.log"));
    const rr_ramp_set* set = rr_ramp_set_of(si);
    EXPECT_TRUE(set->fromConfig);
    EXPECT_EQ(set->pmiCount, 1);
    EXPECT_EQ(names(), (std::vector<std::string>{"d10s81c25.b12345", "+d10s81c25.b12345", "+d10s81c25.b12345",
                                                 "d20s243c60m50.b12345", "p5c15.q7"}));
    EXPECT_EQ(ids(), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    const rr_ramp_entry* e = set->entries;
    const int32_t hides[] = {0, 0, 1, 0, 0};
    // 5840 points at 1 kHz; the speed-derived ramp clocks them three times as fast.
    const int32_t durations[] = {5840, static_cast<int32_t>(std::lround(5840 / e[1].hdr.sampleClkFreq)), 1947, 1972,
                                 484};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(e[i].hide, hides[i]) << i;
        EXPECT_EQ(e[i].slot, rr_no_ramp) << i;
        EXPECT_EQ(e[i].duration, durations[i]) << i;
    }
    EXPECT_EQ(e[1].hdr.scanLen, 5.1f);
    EXPECT_EQ(e[2].hdr.rampSlope, 243.0f);
    EXPECT_EQ(e[4].gain, 2048);
    EXPECT_DOUBLE_EQ(e[4].sortKey, 0.05);
    EXPECT_NEAR(e[0].sortKey, 10.2 - 64 * 81 / 1000.0, 1e-6);
    // The scan crosses the DAC centre half-way through its 10.2 um, 0.4 s after the
    // first of its frames; a scan towards the offset is direction 2 on this system.
    EXPECT_EQ(e[0].scanDir, 2);
    EXPECT_NEAR(e[0].crossingTime, 2.52, 0.001);
    EXPECT_NEAR(e[0].offsetPos, -5.1, 0.01);
    for (const uint8_t slot : set->slotTable)
        EXPECT_EQ(slot, rr_no_ramp);
}

TEST_F(RampSet, BuiltFromTheRampDirectoryAndSortedByKey) {
    si->rampConfig = "absent.txt";
    const std::string swli = test::read_file(dir.file("d10s81c25.b12345"));
    test::write_file(dir.file("d10s81c25.b12345.bak"), swli);
    test::write_file(dir.file(".d10s81c25.b12345"), swli);
    test::write_file(dir.file("d10s81c25.b999"), swli);
    test::write_file(dir.file("junk.b12345"), "not a ramp data file");
    test::write_file(dir.file("short.b7"), swli.substr(0, 100));
    test::ExampleRamp eleven = test::example_pmi_ramp();
    eleven.hdr.pztID = 8;
    eleven.hdr.nBuckets = 11;
    eleven.hdr.fringesPerFrame = 0.125f;
    ASSERT_EQ(rr_write_ramp_file(dir.file("x.b0007").c_str(), &eleven.hdr, eleven.points.data()), 0);
    std::string log;
    ASSERT_EQ(build(&log), 0) << log;
    EXPECT_EQ(log, expected_log("set_scan.log"));
    EXPECT_FALSE(rr_ramp_set_of(si)->fromConfig);
    EXPECT_EQ(names(), (std::vector<std::string>{"p5c15.q7", "x.b0007", "d10s81c25.b12345", "d20s243c60m50.b12345"}));
    EXPECT_EQ(ids(), (std::vector<int32_t>{3, 4, 1, 2}));
    EXPECT_EQ(rr_ramp_set_of(si)->entries[1].hdr.pztID, 7);
}

TEST_F(RampSet, ConfigurationLineLimitAndDerivingFromOneFile) {
    std::string text = "SWLI d10s81c25.b12345 10.2 25 0 0 0.25 81 0 1\n";
    for (int i = 0; i < 255; ++i)
        text += "SWLI + 10.2 25 0 0 0.25 81 0 1\n";
    test::write_file(dir.file("rampcfg.txt"), text);
    std::string log;
    ASSERT_EQ(build(&log), 0);
    EXPECT_NE(log.find("Loaded ramp file \"d10s81c25.b12345\"\n"
                       "Ramp config warning: too many ramp config entries, ignoring entries 254 to 256\n"
                       "Ramp data sets:\n  254 Total\n    0 Loaded\n  253 Derived\n  254 SWLI\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(ids().back(), 254);
}

// The directory scan takes at most 254 candidates, in the listing's byte order;
// a folder named like a ramp data file is a candidate that cannot be read.
TEST_F(RampSet, DirectoryScanTakesAtMost254Candidates) {
    si->rampConfig = "absent.txt";
    ASSERT_TRUE(platform::create_directory(dir.file("a.b12345")));
    // With the three example ramps and the folder, 251 more names fill the limit; one is left over.
    const std::string swli = test::read_file(dir.file("d10s81c25.b12345"));
    for (int i = 0; i < 251; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "r%03d.b12345", i);
        test::write_file(dir.file(name), swli);
    }
    std::string log;
    ASSERT_EQ(build(&log), 0);
    // The folder's read error is the system's (it may open as an empty file or not at all).
    const std::string folder = "Error reading ramp data file \"a.b12345\": ERR_";
    std::string expected = expected_log("set_scan_limit.log") + folder;
    const size_t at = log.find(folder);
    ASSERT_NE(at, std::string::npos) << log;
    log.erase(at + folder.size(), log.find('\n', at) - at - folder.size());
    for (const char* name : {"d10s81c25.b12345", "d20s243c60m50.b12345", "p5c15.q7"})
        expected += std::string("\nLoaded ramp file \"") + name + "\"";
    for (int i = 0; i < 250; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "\nLoaded ramp file \"r%03d.b12345\"", i);
        expected += line;
    }
    expected += "\nRamp data sets:\n  253 Total\n    0 Loaded\n    0 Derived\n  251 SWLI\n    1 BTW\n    1 PMI\n";
    EXPECT_EQ(log, expected);
    const std::vector<std::string> taken = names();
    ASSERT_EQ(taken.size(), 253u);
    EXPECT_NE(std::find(taken.begin(), taken.end(), "r249.b12345"), taken.end());
    EXPECT_EQ(std::find(taken.begin(), taken.end(), "r250.b12345"), taken.end());
    // rampIDs count the files loaded, in listing order, before the sort.
    const std::vector<int32_t> id = ids();
    auto id_of = [&](const char* name) {
        return id[static_cast<size_t>(std::find(taken.begin(), taken.end(), name) - taken.begin())];
    };
    EXPECT_EQ(id_of("d10s81c25.b12345"), 1);
    EXPECT_EQ(id_of("p5c15.q7"), 3);
    EXPECT_EQ(id_of("r000.b12345"), 4);
    EXPECT_EQ(id_of("r249.b12345"), 253);
}

// A ramp whose point clock is 0 or not a number has no duration to compute: the
// minimum of 1 ms, never the longest one.
TEST_F(RampSet, UnusableClocksGiveTheMinimumDuration) {
    si->rampConfig = "absent.txt";
    test::ExampleRamp pmi = test::example_pmi_ramp();
    for (const char* name : {"p5c15.q7", "z.q7"}) {
        pmi.hdr.sampleClkFreq = name[0] == 'p' ? 0.0f : std::numeric_limits<float>::quiet_NaN();
        ASSERT_EQ(rr_write_ramp_file(dir.file(name).c_str(), &pmi.hdr, pmi.points.data()), 0);
    }
    std::string log;
    ASSERT_EQ(build(&log), 0) << log;
    const rr_ramp_set* set = rr_ramp_set_of(si);
    int pmis = 0;
    for (int32_t i = 0; i < set->count; ++i) {
        if (!rr_is_pmi(set->entries[i].hdr.rampType)) continue;
        ++pmis;
        EXPECT_EQ(set->entries[i].duration, 1) << set->entries[i].name;
    }
    EXPECT_EQ(pmis, 2);
}

TEST_F(RampSet, FailuresEndTheBuildWithTheirCode) {
    std::string log;
    {
        test::SinkCapture sink;
        EXPECT_EQ(rr_get_ramp_info_in(nullptr, dir.path().c_str()), ERR_SYS_INFO_NOT_AVAIL);
        EXPECT_EQ(sink.text(), "rr_get_ramp_info: ERR_SYS_INFO_NOT_AVAIL\n");
    }
    si->sysType = SYS_LOOMA;
    si->scanner.pifoc = nullptr;
    EXPECT_EQ(build(&log), ERR_WRONG_SYSTEM_TYPE);
    EXPECT_EQ(log, "rr_get_ramp_info: ERR_WRONG_SYSTEM_TYPE\n");
    si->scanner.pifoc = &pifoc;
    {
        test::SinkCapture sink;
        EXPECT_EQ(rr_get_ramp_info_in(si, nullptr), ERR_NO_RAMP_INFO);
        EXPECT_EQ(sink.text(), "rr_get_ramp_info: ERR_NO_RAMP_INFO\n");
    }
    test::write_file(dir.file("rampcfg.txt"), "# nothing\n");
    EXPECT_EQ(build(&log), ERR_CORRUPT_RAMP_CFG_FILE);
    EXPECT_NE(log.find("No acceptable ramp specs"), std::string::npos);
    EXPECT_EQ(rr_ramp_set_of(si)->count, 0);

    test::write_file(dir.file("rampcfg.txt"), "SWLI none.b12345 10 25 0 0 0.25 81 0 1\n");
    EXPECT_EQ(build(&log), ERR_NO_RAMP_INFO);
    EXPECT_EQ(log.substr(log.find("Ramp config error reading")),
              "Ramp config error reading ramp data file \"none.b12345\": ERR_CANT_OPEN_FILE\n"
              "No usable ramp data\nrr_get_ramp_info: ERR_NO_RAMP_INFO\n");

    // A ramp whose points never reach the offset ends the build.
    test::ExampleRamp flat = test::example_swli_ramp();
    for (uint16_t& p : flat.points)
        p = 100;
    ASSERT_EQ(rr_write_ramp_file(dir.file("d10s81c25.b12345").c_str(), &flat.hdr, flat.points.data()), 0);
    test::write_file(dir.file("rampcfg.txt"), "SWLI d10s81c25.b12345 10.2 25 0 0 0.25 81 0 1\n");
    EXPECT_EQ(build(&log), ERR_CORRUPT_RAMP_FILE);
    EXPECT_EQ(log.substr(log.find("rr_calc")),
              "rr_calc_time_til_offset_crossing failed: ERR_CORRUPT_RAMP_FILE\n"
              "rr_get_ramp_info: ERR_CORRUPT_RAMP_FILE\n");
    EXPECT_EQ(rr_ramp_set_of(si)->count, 0);
}

TEST_F(RampSet, EveryAllocationFailureGivesNoMem) {
    test::write_file(dir.file("rampcfg.txt"), data_file("set_rampcfg.txt"));
    for (const char* config : {"rampcfg.txt", "absent.txt"}) {
        si->rampConfig = config;
        int total;
        {
            test::AllocFailure count_only(0);
            std::string log;
            ASSERT_EQ(build(&log), 0);
            rr_release_all_ramp_sets();
            EXPECT_EQ(count_only.outstanding(), 0);
            total = count_only.count();
        }
        ASSERT_GE(total, 4) << config;
        for (int k = 1; k <= total; ++k) {
            test::AllocFailure fail(k);
            std::string log;
            EXPECT_EQ(build(&log), ERR_NO_MEM) << config << " " << k;
            EXPECT_EQ(rr_ramp_set_of(si)->count, 0);
            EXPECT_EQ(fail.outstanding(), 0) << config << " " << k;
        }
    }
}

// The instrument slot operations as the board module will offer them, recorded.
struct FakeInstrument {
    static inline uint8_t held[rr_instr_query_slots];
    static inline std::vector<int32_t> deleted;
    static inline int requests = 0;
    static inline int32_t request_status = 0, delete_status = 0;
    static int32_t request(sysInfo*, uint8_t ids[rr_instr_query_slots]) {
        ++requests;
        for (int i = 0; i < rr_instr_query_slots; ++i)
            ids[i] = held[i];
        return request_status;
    }
    static int32_t remove(sysInfo*, int32_t slot) {
        deleted.push_back(slot);
        return delete_status;
    }
    static void reset() {
        for (uint8_t& h : held)
            h = rr_no_ramp;
        deleted.clear();
        requests = 0;
        request_status = delete_status = 0;
        rr_set_instr_slot_ops({request, remove});
    }
};

TEST_F(RampSet, InstrumentSlotsAreKeptOrCleared) {
    si->rampConfig = "absent.txt";
    FakeInstrument::reset();
    std::string log;
    ASSERT_EQ(build(&log), 0);
    EXPECT_EQ(FakeInstrument::requests, 0);
    EXPECT_EQ(FakeInstrument::deleted, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));

    // Kept: the set's ramps 2 (d20...) and 1 (d10...) stay in slots 0 and 3.
    test::set_env(keep_variable, "1");
    FakeInstrument::reset();
    FakeInstrument::held[0] = 2;
    FakeInstrument::held[1] = 200;
    FakeInstrument::held[3] = 1;
    ASSERT_EQ(build(&log), 0) << log;
    EXPECT_EQ(log.find("Found env var KEEP_RAMPS_LOADED_IN_INSTR\nRamp directory: "), 0u);
    EXPECT_EQ(log.substr(log.find("    1 PMI\n")),
              "    1 PMI\nRamp ID 2 already loaded in instr\n"
              "Ramp ID 1 already loaded in instr\n");
    EXPECT_EQ(FakeInstrument::deleted, (std::vector<int32_t>{1, 2, 4, 5, 6, 7, 8, 9, 10, 11}));
    const rr_ramp_set* set = rr_ramp_set_of(si);
    EXPECT_EQ(set->slotTable[0], 2);
    EXPECT_EQ(set->slotTable[3], 1);
    EXPECT_EQ(set->slotTable[1], rr_no_ramp);
    for (int32_t i = 0; i < set->count; ++i) {
        const int32_t id = set->entries[i].hdr.rampID;
        EXPECT_EQ(set->entries[i].slot, id == 2 ? 0 : id == 1 ? 3 : rr_no_ramp) << id;
    }

    FakeInstrument::reset();
    FakeInstrument::request_status = ERR_UZ_RECV_TIMEOUT;
    EXPECT_EQ(build(&log), ERR_UZ_RECV_TIMEOUT);
    EXPECT_EQ(log.substr(log.find("uz_")),
              "uz_ramp_request failed: ERR_UZ_RECV_TIMEOUT\nrr_get_ramp_info: ERR_UZ_RECV_TIMEOUT\n");
    EXPECT_EQ(rr_ramp_set_of(si)->count, 0);

    test::set_env(keep_variable, nullptr);
    FakeInstrument::reset();
    FakeInstrument::delete_status = ERR_UZ_RECV_TIMEOUT;
    EXPECT_EQ(build(&log), ERR_UZ_RECV_TIMEOUT);
    EXPECT_EQ(log.substr(log.find("rr_ramp_delete")),
              "rr_ramp_delete failed: ERR_UZ_RECV_TIMEOUT\nrr_get_ramp_info: ERR_UZ_RECV_TIMEOUT\n");

    // A CAN instrument and a Cairn board are not asked.
    for (const int32_t board : {BOARD_CAN, BOARD_CAIRN}) {
        si->boardType = board;
        FakeInstrument::reset();
        ASSERT_EQ(build(&log), 0) << log;
        EXPECT_TRUE(FakeInstrument::deleted.empty());
    }
}

TEST_F(RampSet, ExternalProfileRampsOnAProfileController) {
    si->boardType = BOARD_CAN;
    pifoc.type = 1;
    test::write_file(dir.file("rampcfg.txt"),
                     "SWLI extprofile3.bn 10 25 0 0 0.25 81 0 1\n"
                     "SWLI extprofile16.bp 10 25 0 0 0.25 81 0 1\n"
                     "SWLI extprofile.bp 10 25 0 0 0.25 81 0 1\n"
                     "SWLI extprofile4.b 10 25 0 0 0.25 81 0 1\n"
                     "SWLI d10s81c25.b12345 10.2 25 0 0 0.25 81 0 1\n"
                     "BTW extprofile15.bp 20 60 0 0 0.75 243 50 1 1\n");
    std::string log;
    ASSERT_EQ(build(&log), 0) << log;
    EXPECT_EQ(log.substr(log.find("Ramp config")),
              "Ramp config error: ramp 2: External profile ramp index 16 is greater than maximum 15\n"
              "Ramp config error: ramp 3: Invalid external profile ramp name extprofile.bp\n"
              "Ramp config error: ramp 4: Invalid external profile ramp name extprofile4.b\n"
              "Loaded ramp file \"d10s81c25.b12345\"\n"
              "Ramp data sets:\n    3 Total\n    2 Loaded\n    0 Derived\n    2 SWLI\n    1 BTW\n    0 PMI\n");
    const rr_ramp_set* set = rr_ramp_set_of(si);
    ASSERT_EQ(set->count, 3);
    const rr_ramp_entry& e = set->entries[0];
    EXPECT_EQ(e.hdr.rampID, 3);
    EXPECT_EQ(e.slot, 3);
    EXPECT_EQ(set->slotTable[3], 3);
    EXPECT_EQ(e.hdr.nBuckets, 124);  // 10 um at 81 nm per frame, rounded up
    EXPECT_EQ(e.hdr.nPoints, 24800);
    EXPECT_EQ(e.hdr.sampleClkFreq, 5.0f);
    EXPECT_EQ(e.hdr.offset, 32768);
    EXPECT_EQ(e.hdr.instrBdType, BOARD_CAN);
    EXPECT_EQ(e.hdr.polar, 'b');
    EXPECT_NEAR(e.crossingTime, 5.0 / 0.081 / 25.0, 1e-9);
    // 'n' scans the other way: direction 1 on this system, where a rising scan is 2.
    EXPECT_EQ(e.scanDir, 1);
    EXPECT_NEAR(e.offsetPos, 5.0, 1e-6);
    EXPECT_EQ(set->entries[1].hdr.rampID, 2);
    EXPECT_EQ(set->entries[1].slot, rr_no_ramp);
    EXPECT_EQ(set->entries[2].hdr.rampID, 15);
    EXPECT_EQ(set->entries[2].slot, 15);
    EXPECT_EQ(set->entries[2].hide, 1);
    EXPECT_EQ(set->entries[2].scanDir, 2);
}

TEST(RampSlots, InstrumentRampCountByBoard) {
    sysInfo si{};
    sb_pifoc pifoc;
    struct Case {
        int32_t board, pifoc_type;
        bool has_pifoc;
        int32_t slots;
    } cases[] = {{BOARD_SABLEQV, 0, false, 12}, {BOARD_FENN, 0, false, 12}, {BOARD_TARN, 0, false, 4},
                 {BOARD_CAIRN, 0, false, 4},    {BOARD_BRAE, 0, false, 4},  {BOARD_CAN, 1, true, 15},
                 {BOARD_CAN, 2, true, 100},     {BOARD_CAN, 0, true, 4},    {BOARD_CAN, 0, false, 4}};
    for (const Case& c : cases) {
        si.boardType = c.board;
        pifoc.type = c.pifoc_type;
        si.scanner.pifoc = c.has_pifoc ? &pifoc : nullptr;
        test::SinkCapture sink;
        EXPECT_EQ(rr_get_max_num_instr_ramps(&si), c.slots) << c.board << " " << c.pifoc_type;
        EXPECT_EQ(sink.text(), "");
    }
    si.boardType = BOARD_KNAP;
    test::SinkCapture sink;
    EXPECT_EQ(rr_get_max_num_instr_ramps(&si), 0);
    EXPECT_EQ(sink.text(), "rr_get_max_num_instr_ramps: unknown instrBdType 2\n");
    si.scanner.pifoc = nullptr;
}

TEST(RampSlots, OffsetCrossingInBothForms) {
    sysInfo si{};
    test::ExampleRamp r = test::example_swli_ramp();
    rr_ramp_entry e{};
    e.hdr = r.hdr;
    e.points = r.points.data();
    e.rising = 1;
    si.boardType = BOARD_SABLEQV;
    double t = 0;
    ASSERT_EQ(rr_calc_time_til_offset_crossing(&si, &e, &t), 0);
    // Find the crossing by hand: the first point at or above the centre, from the trigger start on.
    size_t i = 400;
    while (r.points[i] < 32768)
        ++i;
    const double position = i - 1 + (r.points[i - 1] - 32768.0) / (static_cast<double>(r.points[i - 1]) - r.points[i]);
    EXPECT_DOUBLE_EQ(t, position / 1000.0 - 10.0 / 25.0);
    // On a CAN board the clock is the header's own.
    si.boardType = BOARD_CAN;
    e.hdr.sampleClkFreq = 2.0f;
    ASSERT_EQ(rr_calc_time_til_offset_crossing(&si, &e, &t), 0);
    EXPECT_DOUBLE_EQ(t, position / 2000.0 - 5.0 / 25.0);
    // A falling scan crosses at the first point at or below the offset.
    std::reverse(r.points.begin(), r.points.end());
    e.rising = 0;
    ASSERT_EQ(rr_calc_time_til_offset_crossing(&si, &e, &t), 0);
    size_t j = 400;
    while (r.points[j] > 32768)
        ++j;
    EXPECT_DOUBLE_EQ(
        t, (j - 1 + (r.points[j - 1] - 32768.0) / (static_cast<double>(r.points[j - 1]) - r.points[j])) / 2000.0 -
               5.0 / 25.0);

    sb_pifoc controller;
    controller.type = 2;
    si.scanner.pifoc = &controller;
    e.points = nullptr;
    ASSERT_EQ(rr_calc_time_til_offset_crossing(&si, &e, &t), 0);
    EXPECT_DOUBLE_EQ(t, 10.2f / 2.0 / 0.081 / 25.0);
    si.scanner.pifoc = nullptr;
    EXPECT_EQ(rr_calc_time_til_offset_crossing(&si, &e, &t), ERR_NO_RAMP_INFO);
    e.points = r.points.data();
    e.hdr.trigStartAddr = 5840;
    EXPECT_EQ(rr_calc_time_til_offset_crossing(&si, &e, &t), ERR_CORRUPT_RAMP_FILE);
    e.hdr.rampType = 1;
    EXPECT_EQ(rr_calc_time_til_offset_crossing(&si, &e, &t), ERR_INVALID_PARAM);
}

}  // namespace mf
