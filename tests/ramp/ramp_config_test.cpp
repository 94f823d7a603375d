#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "common/errors.h"
#include "platform/files.h"
#include "ramp/ramp_config.h"
#include "tests/support/alloc_fail.h"
#include "tests/support/capture.h"
#include "tests/support/file_faults.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

const std::string good_line = " SWLI d10s81c25.b12345 10.2 25 0 0 0.25 81 0 1";

struct ReadResult {
    int32_t status;
    std::vector<rr_ramp_spec> specs;
    std::string log;
};

ReadResult read_text(const std::string& text, const char* name = "cfg.txt") {
    test::SinkCapture sink;
    rr_ramp_spec* specs = reinterpret_cast<rr_ramp_spec*>(1);
    int32_t count = -1;
    ReadResult r;
    r.status = rr_read_ramp_config_memory(name, text.data(), text.size(), &specs, &count);
    if (specs)
        r.specs.assign(specs, specs + count);
    else
        EXPECT_EQ(count, 0);
    u_free(specs);
    r.log = sink.text();
    return r;
}

std::string data_file(const char* name) { return test::read_file(std::string(MF_RAMP_TEST_DATA) + "/" + name); }

// The cases of a data file: "@@ " and the input line, then the expected text.
std::vector<std::pair<std::string, std::string>> cases_of(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> cases;
    size_t at = text.find("@@ ");
    while (at != std::string::npos) {
        const size_t eol = text.find('\n', at);
        const size_t next = text.find("@@ ", eol);
        cases.emplace_back(text.substr(at + 3, eol - at - 3),
                           text.substr(eol + 1, (next == std::string::npos ? text.size() : next) - eol - 1));
        at = next;
    }
    return cases;
}

bool same_spec(const rr_ramp_spec& a, const rr_ramp_spec& b) {
    return a.rampType == b.rampType && a.wavelenSelect == b.wavelenSelect && std::strcmp(a.fileName, b.fileName) == 0 &&
           a.scanLen == b.scanLen && a.cameraRate == b.cameraRate && a.cameraInterlace == b.cameraInterlace &&
           a.grabSkip == b.grabSkip && a.fringesPerFrame == b.fringesPerFrame && a.rampSlope == b.rampSlope &&
           a.objMag == b.objMag && a.scanCal == b.scanCal && a.hide == b.hide;
}

rr_ramp_spec spec(int32_t type, int32_t wl, const char* name, float scan, float rate, int32_t interlace, int32_t skip,
                  float fpf, float slope, float mag, float cal, int32_t hide) {
    rr_ramp_spec s{};
    s.rampType = type;
    s.wavelenSelect = wl;
    std::strncpy(s.fileName, name, rr_cfg_max_name);
    s.scanLen = scan;
    s.cameraRate = rate;
    s.cameraInterlace = interlace;
    s.grabSkip = skip;
    s.fringesPerFrame = fpf;
    s.rampSlope = slope;
    s.objMag = mag;
    s.scanCal = cal;
    s.hide = hide;
    return s;
}

// Text as written on this system, with its line ends made "\n".
std::string unix_lines(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

}  // namespace

TEST(RampConfigReader, EachBadFieldIsReportedWithItsLineAndExplanation) {
    const auto cases = cases_of(data_file("config_faults.txt"));
    ASSERT_EQ(cases.size(), 24u);
    for (const auto& [line, expected] : cases) {
        const ReadResult r = read_text(good_line + "\n" + line + "\n");
        EXPECT_EQ(r.status, 0) << line;
        ASSERT_EQ(r.specs.size(), 1u) << line;
        EXPECT_EQ(r.log, "Error reading ramp config file \"cfg.txt\"\n" + expected +
                             "Accepted 1 of 2 ramp specs in ramp config file \"cfg.txt\"\n")
            << line;
    }
}

TEST(RampConfigReader, AcceptedLinesGiveTheirValues) {
    const ReadResult r = read_text(
        "# Ramps\n"
        "\n"
        "   \t \n"
        "  #SWLI commented out\n"
        " SWLI d10s81c25.b*  10.2um 25Hz 0 0 0.250 081.0000 000.00 1.00000\n"
        "PMI\tp5c15.q7\t0 30 0 1 0.25 0 0 0 1 extra fields\n"
        "BTW12 d20s243c60m50.b12345 20 60 1 99 0.75 243 50 0.51 0\n"
        "BTW d.b1 999.99 50000 0 0 9.99 3999.9 999.9 1.49 1\n"
        "SWLIX d.b1 1e1 25 0 0 2.5e-1 81 0 1\n");
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(r.log, "");
    const std::vector<rr_ramp_spec> expected = {
        spec(RAMP_TYPE_SWLI, 0, "d10s81c25.b*", 10.2f, 25, 0, 0, 0.25f, 81, 0, 1, 0),
        spec(1, 0, "p5c15.q7", 0, 30, 0, 1, 0.25f, 0, 0, 0, 1),
        spec(RAMP_TYPE_BTW, 1, "d20s243c60m50.b12345", 20, 60, 1, 99, 0.75f, 243, 50, 0.51f, 0),
        spec(RAMP_TYPE_BTW, 0, "d.b1", 999.99f, 50000, 0, 0, 9.99f, 3999.9f, 999.9f, 1.49f, 1),
        spec(RAMP_TYPE_SWLI, 0, "d.b1", 10, 25, 0, 0, 0.25f, 81, 0, 1, 0),
    };
    ASSERT_EQ(r.specs.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(same_spec(r.specs[i], expected[i])) << i;
}

TEST(RampConfigReader, CrLfLinesReadAsLfLines) {
    const std::string lf = "# c\n" + good_line + "\nPMI p5c15.q7 0 30 0 1 0.25 0 0 0\nSWLI + 5 25 0 0 0.25 81 0 1\n";
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const ReadResult a = read_text(lf), b = read_text(crlf);
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(b.status, 0) << b.log;
    ASSERT_EQ(a.specs.size(), 3u);
    ASSERT_EQ(b.specs.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(same_spec(a.specs[i], b.specs[i])) << i;
    EXPECT_EQ(b.log, "");
    // A bad line is quoted without its CR.
    const ReadResult bad = read_text(good_line + "\r\nSWLI d.b1 10 25 2 0 0.25 81 0 1\r\n");
    EXPECT_NE(bad.log.find("in line 2:\n  SWLI d.b1 10 25 2 0 0.25 81 0 1\nThe "), std::string::npos) << bad.log;
}

TEST(RampConfigReader, LinesOfMoreThan200CharactersEndTheReading) {
    // 200 characters counting the line end are a line; 201 are too long.
    const std::string padded = good_line + std::string(199 - good_line.size(), ' ');
    ASSERT_EQ(padded.size(), 199u);
    ReadResult r = read_text(padded + "\n" + padded + "\r\n" + good_line + std::string(200 - good_line.size(), ' '));
    EXPECT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(r.specs.size(), 3u);
    r = read_text(good_line + "\n" + padded + " \n" + good_line + "\n");
    EXPECT_EQ(r.status, ERR_CORRUPT_RAMP_CFG_FILE);
    EXPECT_TRUE(r.specs.empty());
    EXPECT_EQ(r.log, "Error reading ramp config file \"cfg.txt\"\nLine longer than 200 characters in line 2\n");
}

TEST(RampConfigReader, TwentyOneBadLinesEndTheReading) {
    std::string text = good_line + "\n";
    for (int i = 0; i < 20; ++i)
        text += "SWLI d.b1 10 25 0 0 0.25 81 0 1 7\n";
    ReadResult r = read_text(text);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.specs.size(), 1u);
    EXPECT_NE(r.log.find("Accepted 1 of 21 ramp specs"), std::string::npos);

    r = read_text(text + "XXX\n" + good_line + "\n");
    EXPECT_EQ(r.status, ERR_CORRUPT_RAMP_CFG_FILE);
    EXPECT_TRUE(r.specs.empty());
    const std::string tail =
        "Invalid RampType value (field 1) in line 22:\n  XXX\n"
        "Allowed RampType values are SWLI, PMI, BTW, and BTWX\n"
        "where X is a wavelength index in the range [1,4]\n"
        "Too many errors reading ramp config file \"cfg.txt\"\n";
    ASSERT_GE(r.log.size(), tail.size());
    EXPECT_EQ(r.log.substr(r.log.size() - tail.size()), tail);
    EXPECT_EQ(r.log.find("Error reading ramp config file"), 0u);
    EXPECT_EQ(r.log.find("Error reading ramp config file", 1), std::string::npos);
}

TEST(RampConfigReader, NoAcceptableLineGivesTheFormatHelp) {
    for (const std::string text : {"# only\n#comments\n\n", "", "SWLI\n"}) {
        const ReadResult r = read_text(text);
        EXPECT_EQ(r.status, ERR_CORRUPT_RAMP_CFG_FILE);
        const std::string help = data_file("format_help.txt");
        ASSERT_GE(r.log.size(), help.size());
        EXPECT_EQ(r.log.substr(r.log.size() - help.size()), help) << text;
    }
}

TEST(RampConfigReader, MissingFileAndOutOfMemory) {
    test::TempDir dir;
    {
        test::SinkCapture sink;
        rr_ramp_spec* specs = nullptr;
        int32_t count = 0;
        const std::string path = dir.file("none.txt");
        EXPECT_EQ(rr_read_ramp_config(path.c_str(), &specs, &count), ERR_CANT_OPEN_FILE);
        EXPECT_EQ(sink.text(), "Cannot open ramp config file \"" + path + "\"\n");
    }
    // Twelve lines grow the array three times; each growth may fail.
    std::string text;
    for (int i = 0; i < 12; ++i)
        text += good_line + "\n";
    const std::string path = dir.file("rampcfg.txt");
    test::write_file(path, text);
    int total;
    {
        test::AllocFailure count_only(0);
        rr_ramp_spec* specs = nullptr;
        int32_t count = 0;
        ASSERT_EQ(rr_read_ramp_config(path.c_str(), &specs, &count), 0);
        EXPECT_EQ(count, 12);
        u_free(specs);
        total = count_only.count();
    }
    EXPECT_EQ(total, 3);
    for (int k = 1; k <= total; ++k) {
        test::AllocFailure fail(k);
        test::SinkCapture sink;
        rr_ramp_spec* specs = nullptr;
        int32_t count = 0;
        EXPECT_EQ(rr_read_ramp_config(path.c_str(), &specs, &count), ERR_NO_MEM) << k;
        EXPECT_EQ(specs, nullptr);
        EXPECT_EQ(fail.outstanding(), 0) << k;
        EXPECT_EQ(sink.text(), "Error reading ramp config file \"" + path + "\"\nOut of memory in line " +
                                   std::to_string(5 * (k - 1) + 1) + ":\n  " + good_line + "\n")
            << k;
    }
}

TEST(RampConfigWriter, WritesTheHeaderGroupsAndEveryTypeText) {
    const std::vector<rr_ramp_spec> specs = {
        spec(RAMP_TYPE_SWLI, 0, "d10s81c25.b12345", 10.2f, 25, 0, 0, 0.25f, 81, 0, 1, 0),
        spec(RAMP_TYPE_SWLI, 0, "d10s81c25.b12345", 10.2f, 25.9f, 0, 0, 0.75f, 243, 0, 1, 1),
        spec(RAMP_TYPE_SWLI, 0, "d10s81c25.b12345", 10.2f, 27, 0, 0, 0.25f, 81, 0, 1, 0),
        spec(RAMP_TYPE_SWLI, 0, "+", 5.1f, 27, 0, 0, 0.25f, 81, 0, 1, 0),
        spec(1, 0, "p5c15.q7", 0, 30, 0, 1, 0.25f, 0, 0, 0, 0),
        spec(3, 0, "p5c15.q7", 0, 30, 0, 1, 0.25f, 0, 0, 0, 0),
        spec(RAMP_TYPE_BTW, 0, "d20s243c60m50.b12345", 20, 60, 1, 99, 0.75f, 243, 50, 1.2345678f, 0),
        spec(RAMP_TYPE_BTW, 2, "d20s243c60m50.b12345", 20, 60, 1, 99, 0.75f, 243, 50, 1.2345678f, 0),
        spec(RAMP_TYPE_BTW, 4, "d20s243c60m50.b12345", 20, 60, 1, 99, 0.75f, 243, 50, 1.2345678f, 0),
        spec(20, 0, "other", 1, 2, 0, 0, 0.5f, 1, 1, 1, 0),
    };
    test::TempDir dir;
    const std::string path = dir.file("rampcfg.txt");
    ASSERT_EQ(rr_write_ramp_config(path.c_str(), specs.data(), static_cast<int32_t>(specs.size())), 0);
    const std::string written = test::read_file(path);
    EXPECT_EQ(written.find("\r\n") != std::string::npos, std::string(platform::text_line_end()) == "\r\n");
    EXPECT_EQ(unix_lines(written), data_file("written_config.txt"));
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(RampConfigWriter, WhatItWritesReadsBackTheSame) {
    std::vector<rr_ramp_spec> specs = {
        spec(RAMP_TYPE_SWLI, 0, "d10s81c25.b*", 10.2f, 25, 0, 0, 0.25f, 81, 0, 1, 0),
        spec(RAMP_TYPE_SWLI, 0, "+", 5.1f, 25, 0, 0, 0.75f, 243, 0, 1.05f, 1),
        spec(1, 0, "p5c15.q7", 0, 30, 0, 1, 0.25f, 0, 0, 0, 0),
        spec(RAMP_TYPE_BTW, 3, "d20s243c60m50.b12345", 20, 60, 1, 99, 0.75f, 243, 50, 1.25f, 1),
    };
    test::TempDir dir;
    const std::string path = dir.file("rampcfg.txt");
    ASSERT_EQ(rr_write_ramp_config(path.c_str(), specs.data(), 4), 0);
    test::SinkCapture sink;
    rr_ramp_spec* back = nullptr;
    int32_t count = 0;
    ASSERT_EQ(rr_read_ramp_config(path.c_str(), &back, &count), 0);
    EXPECT_EQ(sink.text(), "");
    ASSERT_EQ(count, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(same_spec(back[i], specs[static_cast<size_t>(i)])) << i;
    u_free(back);
}

TEST(RampConfigWriter, RefusesNothingToWriteAndAFolder) {
    test::TempDir dir;
    const rr_ramp_spec one = spec(RAMP_TYPE_SWLI, 0, "a.b1", 1, 25, 0, 0, 0.25f, 81, 0, 1, 0);
    EXPECT_EQ(rr_write_ramp_config(dir.file("x").c_str(), &one, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(rr_write_ramp_config(dir.file("x").c_str(), nullptr, 1), ERR_INVALID_PARAM);
    EXPECT_TRUE(dir.entries().empty());
    EXPECT_EQ(rr_write_ramp_config(dir.path().c_str(), &one, 1), ERR_CANT_OPEN_FILE);
}

TEST(RampConfigWriter, EveryFileFaultLeavesTheFileWholeOrNew) {
    const std::vector<rr_ramp_spec> specs = {
        spec(RAMP_TYPE_SWLI, 0, "d10s81c25.b12345", 10.2f, 25, 0, 0, 0.25f, 81, 0, 1, 0),
        spec(1, 0, "p5c15.q7", 0, 30, 0, 1, 0.25f, 0, 0, 0, 0),
    };
    test::TempDir reference;
    ASSERT_EQ(rr_write_ramp_config(reference.file("c").c_str(), specs.data(), 2), 0);
    const std::string complete = test::read_file(reference.file("c"));
    for (const bool existing : {true, false}) {
        test::TempDir dir;
        const std::string out = dir.file("rampcfg.txt");
        const std::string old = existing ? std::string("# old contents\n") : std::string();
        int32_t status = -1;
        const int operations = test::sweep_file_faults(
            [&] {
                if (existing) test::write_file(out, old);
                status = rr_write_ramp_config(out.c_str(), specs.data(), 2);
            },
            [&](int n, platform::file_op op, bool fired) {
                const std::string at = "fault at operation " + std::to_string(n) + " (" + test::op_name(op) + ")";
                if (status == 0) {
                    EXPECT_EQ(test::read_file(out), complete) << at;
                } else {
                    EXPECT_TRUE(fired) << at;
                    EXPECT_EQ(status, op == platform::file_op::open ? ERR_CANT_OPEN_FILE : ERR_CANT_WRITE_FILE) << at;
                    EXPECT_EQ(test::read_file(out), old) << at;
                }
                EXPECT_EQ(dir.entries().size(), existing || status == 0 ? 1u : 0u) << at;
                if (!existing) std::filesystem::remove(out);
            });
        EXPECT_GE(operations, 6) << "open, title, description and lines, sync, close, rename";
    }
}

TEST(RampConfigMatch, EachValueIsComparedAtTheHeadersPrecision) {
    rr_ramp_hdr_t swli{};
    swli.rampType = RAMP_TYPE_SWLI;
    swli.cameraRate = 25.0f;
    swli.fringesPerFrame = 0.25f;
    swli.scanLen = 10.2f;
    swli.rampSlope = 81.0f;
    const ReadResult line = read_text("SWLI d.b1 10.2 25.05 0 0 0.25 81 0 1\n");
    ASSERT_EQ(line.specs.size(), 1u);
    const rr_ramp_spec base = line.specs[0];
    {
        test::SinkCapture sink;
        EXPECT_EQ(rr_match_ramp_spec(&base, &swli), 0);
        EXPECT_EQ(sink.text(), "");
    }
    struct Case {
        void (*change)(rr_ramp_spec&, rr_ramp_hdr_t&);
        const char* message;
    };
    const Case cases[] = {
        {[](rr_ramp_spec&, rr_ramp_hdr_t& h) { h.rampType = RAMP_TYPE_BTW; }, "rampType"},
        {[](rr_ramp_spec& s, rr_ramp_hdr_t& h) { s.rampType = 1, h.rampType = RAMP_TYPE_SWLI; }, "rampType"},
        {[](rr_ramp_spec&, rr_ramp_hdr_t& h) { h.cameraRate = 24.9f; }, "cameraRate"},
        {[](rr_ramp_spec&, rr_ramp_hdr_t& h) { h.cameraInterlace = 1; }, "cameraInterlace"},
        {[](rr_ramp_spec&, rr_ramp_hdr_t& h) { h.grabSkip = 1; }, "grabSkip"},
        {[](rr_ramp_spec&, rr_ramp_hdr_t& h) { h.fringesPerFrame = 0.75f; }, "fringesPerFrame"},
        {[](rr_ramp_spec&, rr_ramp_hdr_t& h) { h.scanLen = 10.200001f; }, "scanLen"},
        {[](rr_ramp_spec&, rr_ramp_hdr_t& h) { h.rampSlope = 81.01f; }, "rampSlope"},
    };
    for (const Case& c : cases) {
        rr_ramp_spec s = base;
        rr_ramp_hdr_t h = swli;
        c.change(s, h);
        test::SinkCapture sink;
        EXPECT_EQ(rr_match_ramp_spec(&s, &h), ERR_INVALID_PARAM) << c.message;
        EXPECT_EQ(sink.text(), std::string("Error: mismatched ") + c.message + "\n");
    }
    // A PMI line takes any PMI type and ends before the scan values.
    rr_ramp_spec pmi = base;
    pmi.rampType = 1;
    rr_ramp_hdr_t h = swli;
    h.rampType = 11;
    h.scanLen = 0;
    h.rampSlope = 0;
    EXPECT_EQ(rr_match_ramp_spec(&pmi, &h), 0);
}

}  // namespace mf
