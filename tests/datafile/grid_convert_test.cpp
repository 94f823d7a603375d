// The fixed-field scans against the exact general scan, and the streaming
// conversion against reading the whole map and then writing it.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "common/errors.h"
#include "datafile/data_file.h"
#include "datafile/grid_convert.h"
#include "datafile/grid_file.h"
#include "datafile/grid_input.h"
#include "datafile/grid_scan.h"
#include "platform/mapped_file.h"
#include "platform/file_io.h"
#include "tests/support/capture.h"
#include "tests/support/file_faults.h"
#include "tests/support/read_then_write.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

using grid::fixed_scan;

const fixed_scan all_scans[] = {fixed_scan::none, fixed_scan::eight_byte, fixed_scan::avx2};

// Puts the process's scan back whatever a test chose.
struct ScanChoice {
    fixed_scan saved = grid::active_fixed_scan();
    ~ScanChoice() { grid::set_fixed_scan(saved); }
};

std::string field7(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%7d", value);
    return text;
}

// A line in the writer's layout with values of every width and sign: every
// field after the first begins with a blank, the first may take all seven.
std::string writer_line(std::mt19937& rng) {
    std::string line;
    for (int f = 0; f < 10; ++f) {
        const int width = f == 0 ? 7 : 6;
        int limit = 1;
        for (int d = static_cast<int>(rng() % static_cast<unsigned>(width)); d >= 0; --d)
            limit *= 10;
        int value = static_cast<int>(rng() % static_cast<unsigned>(limit));
        if (rng() % 2 && value < limit / 10) value = -value;
        line += field7(value);
    }
    return line + "\n";
}

// The general scan's values for a text: the exact rules, one field at a time.
std::vector<int32_t> general_scan(const std::string& text, size_t need, const grid::sample_map& m) {
    ScanChoice keep;
    grid::set_fixed_scan(fixed_scan::none);
    std::vector<int32_t> out(need);
    const grid::span_result r = grid::parse_span(text.data(), text.data() + text.size(), out.data(), need, m);
    out.resize(r.values);
    return out;
}

std::string grid_file_text(const std::string& samples, int width, int height) {
    return "! VAROGRD\n! REQ 1 2 0.5 0.25 4\n! SCF 1 1\nt\nGRD " + std::to_string(width) + " " +
           std::to_string(height) + " SUR WVL 0.6328 SSZ 2 NDA -32768\n" + samples;
}

}  // namespace

// Each scan takes every line of the writer's layout, and a damaged line either
// goes to the general scan or reads exactly as the general scan reads it.
TEST(GridScan, FixedFieldScansAgreeWithTheGeneralScanLineByLine) {
    const grid::sample_map maps[] = {{false, 0, 0, false}, {true, -32768, 3, false}, {true, 17, 0, true}};
    const char noise[] = " -+09\t\r\nx5";
    for (fixed_scan scan : all_scans) {
        if (!grid::fixed_scan_available(scan) || scan == fixed_scan::none) continue;
        std::mt19937 rng(20261208);
        size_t taken_damaged = 0;
        for (int i = 0; i < 40000; ++i) {
            const grid::sample_map& m = maps[i % 3];
            std::string text = "\n" + writer_line(rng);
            const bool damaged = i % 2 == 1;
            if (damaged)
                for (int k = static_cast<int>(rng() % 3); k >= 0; --k) {
                    // Anywhere, or a digit where a field must begin with a blank
                    // (the value before it would run on into it).
                    const size_t at = rng() % 2 ? 1 + rng() % 70 : 1 + 7 * (1 + rng() % 9);
                    text[at] = noise[rng() % (sizeof noise - 1)];
                }
            text += std::string(8, ' ');
            int32_t got[10] = {};
            const size_t length = grid::scan_fixed_line(scan, text.data() + 1, got, m);
            const std::vector<int32_t> expected = general_scan(text.substr(0, 72), 10, m);
            if (!damaged) {
                ASSERT_EQ(length, 71u) << grid::fixed_scan_name(scan) << ": " << text;
            }
            if (length == 0) continue;
            taken_damaged += damaged;
            ASSERT_EQ(expected.size(), 10u) << text;
            ASSERT_EQ(std::vector<int32_t>(got, got + 10), expected) << grid::fixed_scan_name(scan) << ": " << text;
        }
        EXPECT_GT(taken_damaged, 1000u) << "damage that keeps the layout is taken too";
    }
}

// Whole files through read_grid_file with each scan: a map written by the grid
// writer, and the same with lines damaged at random, against the general scan.
TEST(GridScan, WholeFilesReadAlikeWithEveryScan) {
    ScanChoice keep;
    const int width = 1000, height = 900;
    std::mt19937 rng(7);
    std::string clean;
    for (int i = 0; i < width * height / 10; ++i)
        clean += writer_line(rng);
    std::string damaged = clean;
    for (int i = 0; i < 3000; ++i)
        damaged[rng() % damaged.size()] = " \t\r\n+-7"[rng() % 7];
    test::TempDir dir;
    for (const std::string* samples : {&clean, &damaged}) {
        const grid::sample_map m{true, -32768, 1, false};
        const std::vector<int32_t> expected = general_scan(*samples, static_cast<size_t>(width) * height, m);
        const std::string path = dir.file("g.grd");
        test::write_file(path, grid_file_text(*samples, width, height));
        for (fixed_scan scan : all_scans) {
            if (!grid::set_fixed_scan(scan)) continue;
            data_header header{};
            data_array phase{};
            sw_info sw{};
            const int32_t status = read_grid_file(path.c_str(), &header, &phase, &sw);
            if (expected.size() == static_cast<size_t>(width) * height) {
                ASSERT_EQ(status, 0) << grid::fixed_scan_name(scan);
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), phase.data)) << grid::fixed_scan_name(scan);
            } else {
                EXPECT_EQ(status, ERR_PREMATURE_EOF) << grid::fixed_scan_name(scan);
            }
            da_release(&phase);
        }
    }
}

namespace {

std::string large_samples(int count) {
    std::mt19937 rng(3);
    std::string text;
    for (int i = 0; i < count; ++i)
        text += field7(static_cast<int>(rng() % 65536) - 32768) + (i % 10 == 9 ? "\n" : "");
    return text + "\n";
}

}  // namespace

// The conversion gives the bytes of read-then-write, and when the read fails
// (also late in a large file, after blocks went out) the output is as it was.
TEST(GridConvert, SameBytesAsReadThenWriteAndNoPartialOutput) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const int width = 1200, height = 1000;  // several chunks, two threads
    const std::string samples = large_samples(width * height);
    std::string late_bad = samples;
    late_bad[late_bad.size() - 200] = 'x';
    const std::string good = dir.file("good.grd"), bad = dir.file("bad.grd");
    test::write_file(good, grid_file_text(samples, width, height));
    test::write_file(bad, grid_file_text(late_bad, width, height));
    const std::string expected = test::read_then_write(dir, good);
    ASSERT_GT(expected.size(), 4000000u);

    struct Case {
        const char* name;
        const std::string& input;
        std::string output;
        bool existing;  // an old file there, which a failure keeps
        grid_conversion result;
    };
    const std::string old = "old contents";
    const Case cases[] = {
        {"new name", good, dir.file("new.dat"), false, {0, 0}},
        {"replaced", good, dir.file("old.dat"), true, {0, 0}},
        {"bad, replaced", bad, dir.file("old.dat"), true, {ERR_PREMATURE_EOF, 0}},
        {"bad, new name", bad, dir.file("none.dat"), false, {ERR_PREMATURE_EOF, 0}},
        {"bad, no folder", bad, dir.file("no-dir") + "/x.dat", false, {ERR_PREMATURE_EOF, 0}},
        {"good, no folder", good, dir.file("no-dir") + "/x.dat", false, {0, ERR_CANT_CREATE_FILE}},
        {"bad, linked in place", bad, dir.file("linked.dat"), true, {ERR_PREMATURE_EOF, 0}},
        {"good, linked in place", good, dir.file("linked.dat"), true, {0, 0}},
    };
    for (const Case& c : cases) {
        if (c.existing) test::write_file(c.output, old);
        std::error_code no_link;
        if (c.output == dir.file("linked.dat")) fs::create_hard_link(c.output, dir.file("other.dat"), no_link);
        test::SinkCapture quiet;
        const grid_conversion r = convert_grid_file(c.input.c_str(), c.output.c_str());
        EXPECT_EQ(r.read_status, c.result.read_status) << c.name;
        EXPECT_EQ(r.write_status, c.result.write_status) << c.name;
        const bool converted = r.read_status == 0 && r.write_status == 0;
        if (converted)
            EXPECT_TRUE(test::read_file(c.output) == expected) << c.name;
        else if (c.existing)
            EXPECT_EQ(test::read_file(c.output), old) << c.name;
        else
            EXPECT_FALSE(fs::exists(c.output)) << c.name;
        if (!no_link && c.output == dir.file("linked.dat")) {
            EXPECT_EQ(test::read_file(dir.file("other.dat")), test::read_file(c.output)) << c.name;
            fs::remove(dir.file("other.dat"));
        }
        std::error_code ignored;
        fs::remove(c.output, ignored);
        EXPECT_EQ(dir.entries().size(), 2u) << c.name << ": nothing left beside the output";
    }
}

// A write failing part way: the output is not left cut short, and a read error
// later in the input still wins.
TEST(GridConvert, WriteFailurePartWayAndTheReadErrorWins) {
    test::TempDir dir;
    const int width = 1200, height = 1000;
    const std::string samples = large_samples(width * height);
    std::string late_bad = samples;
    late_bad[late_bad.size() - 200] = 'x';
    test::write_file(dir.file("good.grd"), grid_file_text(samples, width, height));
    test::write_file(dir.file("bad.grd"), grid_file_text(late_bad, width, height));
    for (const char* input : {"good.grd", "bad.grd"}) {
        const std::string out = dir.file("out.dat");
        test::write_file(out, "old");
        grid_conversion r;
        {
            test::FileFault fail(3);  // open, the header, then the first block of samples
            r = convert_grid_file(dir.file(input).c_str(), out.c_str());
            EXPECT_TRUE(fail.fired());
            EXPECT_EQ(fail.failed_op(), platform::file_op::write);
        }
        const bool bad = std::string(input) == "bad.grd";
        EXPECT_EQ(r.read_status, bad ? ERR_PREMATURE_EOF : 0) << input;
        EXPECT_EQ(r.write_status, bad ? 0 : ERR_CANT_WRITE_FILE) << input;
        EXPECT_EQ(test::read_file(out), "old") << input;
        EXPECT_EQ(dir.entries().size(), 3u) << input;
    }
}

// The conversion mapforge makes, swept over every file operation it makes: each
// failure gives the writer's code and leaves an existing output as it was (a new
// name absent), never cut short, and no temporary file beside it.
TEST(GridConvert, EveryFileFaultLeavesTheOutputWholeOrNew) {
    test::TempDir input;
    const int width = 500, height = 400;  // several blocks of samples, the helper thread
    const std::string grid = input.file("in.grd");
    test::write_file(grid, grid_file_text(large_samples(width * height), width, height));
    const std::string complete = test::read_then_write(input, grid);
    for (const bool existing : {true, false}) {
        test::TempDir dir;
        const std::string out = dir.file("out.dat");
        const int count = test::sweep_writer({out,
                                              std::string(5000, 'o'),
                                              existing,
                                              complete,
                                              [&] {
                                                  const grid_conversion r =
                                                      convert_grid_file(grid.c_str(), out.c_str());
                                                  EXPECT_EQ(r.read_status, 0);
                                                  return r.write_status;
                                              },
                                              ERR_CANT_CREATE_FILE,
                                              {dir.path()}});
        // Make the file, write the header and each block of samples (six here), then
        // sync (a replacement only), close and rename; the folder is synced after a
        // replacement on POSIX: 14 operations (11 on Windows), 10 for a new name.
        EXPECT_GE(count, existing ? 11 : 8) << (existing ? "existing" : "new");
    }
}

}  // namespace mf

#ifndef _WIN32
namespace mf {

// A mapped file shortened by another program: the lost part reads as NUL bytes
// and the mapping says so, instead of the reader dying of a bus error; a bus
// error anywhere else still ends the process.
TEST(MappedFile, ShortenedWhileMappedReadsZerosAndSaysSo) {
    test::TempDir dir;
    const std::string path = dir.file("m.txt");
    test::write_file(path, std::string(3 * 65536, 'a'));
    platform::mapped_file file;
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(file.data()[70000], 'a');
    EXPECT_FALSE(file.cut_short());
    std::filesystem::resize_file(path, 10);
    EXPECT_EQ(file.data()[3], 'a');
    EXPECT_EQ(file.data()[70000], '\0');
    EXPECT_EQ(file.data()[3 * 65536 - 1], '\0');
    EXPECT_TRUE(file.cut_short());
    EXPECT_DEATH(std::raise(SIGBUS), "");  // by the signal, or by a sanitizer's report of it
}

// A grid file cut short after its header was read: the samples end early.
TEST(GridConvert, InputShortenedDuringTheReadEndsEarly) {
    ScanChoice keep;
    std::mt19937 rng(3);
    std::string samples;
    for (int i = 0; i < 1000 * 300 / 10; ++i)
        samples += writer_line(rng);
    test::TempDir dir;
    const std::string path = dir.file("g.grd");
    const std::string text = grid_file_text(samples, 1000, 300);
    for (fixed_scan scan : all_scans) {
        if (!grid::set_fixed_scan(scan)) continue;
        test::write_file(path, text);
        grid_input in;
        ASSERT_EQ(in.open(path.c_str()), 0);
        data_header header{};
        data_array shape{};
        sw_info sw{};
        size_t count = 0;
        grid::sample_map m;
        ASSERT_EQ(read_grid_preamble(in.text(), &header, &shape, &sw, &count, &m), 0);
        std::filesystem::resize_file(path, text.size() / 2);
        size_t delivered = 0;
        EXPECT_EQ(in.scan(count, m, [&](const int32_t*, size_t n) { delivered += n; }), ERR_PREMATURE_EOF)
            << grid::fixed_scan_name(scan);
        EXPECT_LT(delivered, count);
    }
}

}  // namespace mf
#endif
