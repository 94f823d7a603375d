#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "common/errors.h"
#include "datafile/grid_file.h"
#include "tests/support/alloc_fail.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

const std::string tag = "! VAROGRD\n";
const std::string req = "! REQ 1 2 0.5 0.25 4\n";

struct GridRead {
    int32_t status = -1;
    data_header header{};
    data_array phase{};
    sw_info sw{};
    std::string messages;
    ~GridRead() { da_release(&phase); }
    std::vector<int32_t> samples() const {
        if (!phase.data) return {};
        return std::vector<int32_t>(phase.data, phase.data + phase.width * phase.height);
    }
};

void read_text(GridRead& r, const std::string& text) {
    test::SinkCapture capture;
    r.status = read_grid_memory(text.data(), text.size(), &r.header, &r.phase, &r.sw);
    r.messages = capture.text();
}

void read_path(GridRead& r, const std::string& path) {
    test::SinkCapture capture;
    r.status = read_grid_file(path.c_str(), &r.header, &r.phase, &r.sw);
    r.messages = capture.text();
}

// White space, then at most seven characters of sign and digits; -32768 is no data.
std::vector<int32_t> reference_scan(const std::string& text, size_t limit) {
    std::vector<int32_t> values;
    size_t i = 0;
    while (values.size() < limit) {
        while (i < text.size() && std::strchr(" \t\r\n\v\f", text[i]) && text[i] != '\0')
            ++i;
        size_t j = i, end = std::min(text.size(), i + 7);
        int sign = 1;
        if (j < end && (text[j] == '-' || text[j] == '+')) sign = text[j++] == '-' ? -1 : 1;
        if (j == end || !std::isdigit(static_cast<unsigned char>(text[j]))) break;
        int v = 0;
        while (j < end && std::isdigit(static_cast<unsigned char>(text[j])))
            v = v * 10 + (text[j++] - '0');
        values.push_back(sign * v == -32768 ? invalid_phase : sign * v);
        i = j;
    }
    return values;
}

}  // namespace

TEST(GridReader, RefusesFilesWithoutTheTagLine) {
    GridRead plain;
    read_text(plain, "A Code V title\nGRD 2 1 SUR WVL 0.6328 SSZ 1 NDA -32768\n1 2\n");
    EXPECT_EQ(plain.status, ERR_NOT_A_DATA_FILE);
    EXPECT_EQ(plain.messages, "Expected line 1 to be \"! VAROGRD\"\n");

    GridRead zernike;
    read_text(zernike, "! VAROZFR\n" + req + "t\nZFR 3 SUR WVL 1 SSZ 1\n1 2 3\n");
    EXPECT_EQ(zernike.status, ERR_NOT_A_DATA_FILE);

    GridRead empty;
    read_text(empty, "");
    EXPECT_EQ(empty.status, ERR_PREMATURE_EOF);
    EXPECT_EQ(empty.messages, "");

    GridRead missing;
    test::TempDir dir;
    read_path(missing, dir.file("no-such.grd"));
    EXPECT_EQ(missing.status, ERR_CANT_OPEN_FILE);
}

TEST(GridReader, BlockWithRequestOnlyUsesTheTitleAsComment) {
    GridRead r;
    read_text(r, tag + req + "  \tMy title line \t \nGRD 3 2 WFR WVL 0.6328 SSZ 8 NDA -32768\n1 -2 3\n4 5 -32768\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(r.messages, "");
    EXPECT_STREQ(r.header.comment, "My title line");
    EXPECT_EQ(+r.header.source, 1);
    EXPECT_EQ(+r.header.phase_res, 0);
    EXPECT_EQ(+r.header.surface, 0);
    EXPECT_EQ(+r.header.req1, 1);
    EXPECT_EQ(+r.header.req2, 2);
    EXPECT_EQ(+r.header.req3, 0.5f);
    EXPECT_EQ(+r.header.req4, 0.25f);
    EXPECT_EQ(+r.header.req5, 4.0f);
    EXPECT_EQ(+r.header.phase_scale, 4096.0f / 8.0f);
    EXPECT_EQ(+r.header.wavelength, static_cast<float>(static_cast<double>(0.6328f) * 1e-6));
    EXPECT_EQ(r.phase.width, 3);
    EXPECT_EQ(r.phase.height, 2);
    EXPECT_EQ(r.phase.capacity, 6);
    EXPECT_EQ(r.samples(), (std::vector<int32_t>{1, -2, 3, 4, 5, invalid_phase}));
}

TEST(GridReader, ShiftAndResolutionFromTheScaleLine) {
    GridRead r;
    read_text(r, tag + req + "! SCF 1 2\nt\nGRD 2 1 SUR WVL 1 SSZ 8.0 NDA -32768\n5 -3\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(+r.header.phase_res, 1);
    EXPECT_EQ(+r.header.phase_scale, 1024.0f);
    EXPECT_EQ(+r.header.surface, 1);
    EXPECT_EQ(r.samples(), (std::vector<int32_t>{20, -12}));

    // A shift of 0 leaves the samples and takes S in single precision.
    GridRead none;
    read_text(none, tag + req + "! SCF 2 0\nt\nGRD 1 1 SUR WVL 1 SSZ 3 NDA 0\n7\n");
    ASSERT_EQ(none.status, 0);
    EXPECT_EQ(+none.header.phase_scale, 131072.0f / 3.0f);
    EXPECT_EQ(none.samples(), std::vector<int32_t>{7});
}

TEST(GridReader, NoDataValueAndItsAbsence) {
    GridRead r;
    read_text(r, tag + req + "t\nGRD 3 1 SUR WVL 1 SSZ 1 NDA 17\n17 -32768 18\n");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.samples(), (std::vector<int32_t>{invalid_phase, -32768, 18}));

    GridRead without;
    read_text(without, tag + req + "t\nGRD 2 1 SUR WVL 1 SSZ 1\n-32768 0\n");
    ASSERT_EQ(without.status, 0);
    EXPECT_EQ(without.samples(), (std::vector<int32_t>{-32768, 0}));
}

TEST(GridReader, HeaderLineKeywordsIgnoreCaseAndOrder) {
    GridRead r;
    read_text(r, tag + req + "t\nssz 2 nda 9 wvl 0.5 Sur grd 2 1\n9 4\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(+r.header.surface, 1);
    EXPECT_EQ(+r.header.phase_scale, 2048.0f);
    EXPECT_EQ(r.samples(), (std::vector<int32_t>{invalid_phase, 4}));
}

TEST(GridReader, HeaderLineFailures) {
    struct Case {
        const char* line;
        int32_t status;
        const char* message;
    };
    const Case cases[] = {
        // A last word without a value runs into the data: the first value is a word.
        {"GRD 2 1 WVL 1 SSZ 1 SUR\n", ERR_NOT_A_DATA_FILE, ""},
        {"GRD 2 1 SUR WVL 1 SSZ 1 ZFR 3\n", ERR_NOT_A_DATA_FILE, ""},
        {"ZRN GRD 2 1 SUR WVL 1 SSZ 1\n", ERR_NOT_A_DATA_FILE, ""},
        {"GRD 2 1 SUR WVL 1 SSZ 1 XYZ\n", ERR_NOT_A_DATA_FILE, ""},
        {"GRD x 1 SUR WVL 1 SSZ 1\n", ERR_CORRUPT_DATA_FILE, "Error reading line 4\n"},
        {"GRD 2 1 SUR WVL one SSZ 1\n", ERR_CORRUPT_DATA_FILE, "Error reading line 4\n"},
        {"GRD 2 1 SUR WVL 1 SSZ 1e NDA 0\n", ERR_CORRUPT_DATA_FILE, "Error reading line 4\n"},
        {"GRD 2 1 SUR WVL 1 SSZ 1 NDA -\n", ERR_CORRUPT_DATA_FILE, "Error reading line 4\n"},
        {"GRD 2 1 SUR WVL 1 NDA 0\n", ERR_CORRUPT_DATA_FILE, ""},
        {"GRD 2 1 WVL 1 SSZ 1 NDA 0\n", ERR_CORRUPT_DATA_FILE, ""},
        {"SUR WVL 1 SSZ 1 NDA 0\n", ERR_CORRUPT_DATA_FILE, ""},
        {"GRD 0 5 SUR WVL 1 SSZ 1\n", ERR_PARAM_OUT_OF_RANGE, ""},
        {"GRD -3 5 SUR WVL 1 SSZ 1\n", ERR_PARAM_OUT_OF_RANGE, ""},
    };
    for (const Case& c : cases) {
        GridRead r;
        read_text(r, tag + req + "title\n" + c.line + "1 2 3 4 5 6 7 8 9 10\n");
        EXPECT_EQ(r.status, c.status) << c.line;
        EXPECT_EQ(r.messages, c.message) << c.line;
        EXPECT_EQ(r.phase.data, nullptr) << c.line;
    }
    GridRead untitled;
    read_text(untitled, tag + req);
    EXPECT_EQ(untitled.status, ERR_CORRUPT_DATA_FILE);
    EXPECT_EQ(untitled.messages, "");
}

TEST(GridReader, CommentBlockFailuresNameTheLine) {
    struct Case {
        std::string block;
        int32_t status;
        const char* message;
    };
    const Case cases[] = {
        {"! REQ 1 2 3\n", ERR_CORRUPT_DATA_FILE, "Error reading line 2\n"},
        {req + "! TMS 5\n! SRC 1 2\n", ERR_CORRUPT_DATA_FILE, "Error reading line 4\n"},
        {req + "! SWI 1 2 3 4 Ostrabel\n", ERR_CORRUPT_DATA_FILE, "Error reading line 3\n"},
        {req + "! COM no quote\n", ERR_CORRUPT_DATA_FILE, "Error reading line 3\n"},
        {req + "! SCF 1\n", ERR_CORRUPT_DATA_FILE, "Error reading line 3\n"},
        {req + "! SCF 1 32\n", ERR_CORRUPT_DATA_FILE, "Error reading line 3\n"},
        {req + "! ERR 5\n", ERR_CORRUPT_DATA_FILE, "Error reading line 3\n"},
        {"! TMS 5\n", ERR_CORRUPT_DATA_FILE, "Header is missing line beginning with \"! REQ\"\n"},
        {"", ERR_CORRUPT_DATA_FILE, "Header is missing line beginning with \"! REQ\"\n"},
    };
    for (const Case& c : cases) {
        GridRead r;
        read_text(r, tag + c.block + "title\nGRD 1 1 SUR WVL 1 SSZ 1\n1\n");
        EXPECT_EQ(r.status, c.status) << c.block;
        EXPECT_EQ(r.messages, c.message) << c.block;
    }
    // A key line that ends the file before its text.
    for (const char* end : {"! REQ", "! REQ   ", "!", "! \n"}) {
        GridRead r;
        read_text(r, tag + end);
        EXPECT_EQ(r.status, ERR_PREMATURE_EOF) << end;
        EXPECT_EQ(r.messages, "Error reading line 1\n") << end;
    }
}

TEST(GridReader, CommentBlockValues) {
    const std::string block =
        "! req 7 8 1.5 2.5 3.5\n"
        "! TMS 1700000000\n"
        "! SWI 2 3 4 5 \"Halcyonide                   \"\n"
        "! COM \"  a comment with \"quotes\"                                                        \"\n"
        "! SRC 3 640 480\n"
        "! MAG 1.5 2 0.25 -4\n"
        "! ACQ 11\n! IAC 12\n! RMP 13 14 15\n! LLV 16 0.5 1e-3\n! MOD 100000 -100000\n"
        "! CON 70000 21 2.5 -22\n! SGN -1\n! SYS 1 2 70000 4\n"
        "! ONM \"operator   \"\n! PNM \"part\"\n! PAC 30\n! ERR 31 \"fault text                 \"\n"
        "! PSN \"position\"  \n! XYZ whatever this is\n! ACQ 99\n";
    GridRead r;
    read_text(r, tag + block + "ignored title\nGRD 1 1 SUR WVL 1 SSZ 1\n1\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    const data_header& h = r.header;
    EXPECT_EQ(+h.req1, 7);
    EXPECT_EQ(+h.req5, 3.5f);
    EXPECT_EQ(+h.time_stamp, 1700000000);
    EXPECT_EQ(r.sw.type, 2);
    EXPECT_EQ(r.sw.number1, 3);
    EXPECT_EQ(r.sw.number3, 5);
    EXPECT_STREQ(r.sw.name, "Halcyonide");
    EXPECT_STREQ(h.comment, "a comment with \"quotes\"");
    EXPECT_EQ(+h.source, 3);
    EXPECT_EQ(+h.mag1, 1.5f);
    EXPECT_EQ(+h.mag2, 2.0f);
    EXPECT_EQ(+h.mag3, 0.25f);
    EXPECT_EQ(+h.mag4, -4);
    EXPECT_EQ(+h.acq, 99);  // the last of repeated keys wins
    EXPECT_EQ(+h.iac, 12);
    EXPECT_EQ(+h.rmp3, 15);
    EXPECT_EQ(+h.llv1, 16);
    EXPECT_EQ(+h.llv3, 1e-3f);
    EXPECT_EQ(+h.mod1, 100000);
    EXPECT_EQ(+h.mod2, -100000);
    EXPECT_EQ(+h.con1, 70000);
    EXPECT_EQ(+h.con3, 2.5f);
    EXPECT_EQ(+h.con4, -22);
    EXPECT_EQ(+h.sgn, -1);
    EXPECT_EQ(+h.sys3, 4464);
    EXPECT_EQ(+h.sys3_long, 70000);
    EXPECT_STREQ(h.onm, "operator");
    EXPECT_STREQ(h.pnm, "part");
    EXPECT_EQ(+h.pac, 30);
    EXPECT_EQ(+h.err_value, 31);
    EXPECT_STREQ(h.err_text, "fault text");
    EXPECT_STREQ(h.psn, "position");
    EXPECT_EQ(+h.phase_res, 0);

    GridRead small_sys;
    read_text(small_sys, tag + req + "! SYS 1 2 65535 4\nt\nGRD 1 1 SUR WVL 1 SSZ 1\n1\n");
    ASSERT_EQ(small_sys.status, 0);
    EXPECT_EQ(+small_sys.header.sys3, -1);
    EXPECT_EQ(+small_sys.header.sys3_long, 0);
}

TEST(GridReader, SevenCharacterFields) {
    GridRead r;
    read_text(r, tag + req + "t\nGRD 7 1 SUR WVL 1 SSZ 1\n12345678 -1-2\n+5\t\f-123456 7\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(r.samples(), (std::vector<int32_t>{1234567, 8, -1, -2, 5, -123456, 7}));

    GridRead sign_only;
    read_text(sign_only, tag + req + "t\nGRD 3 1 SUR WVL 1 SSZ 1\n1 - 2\n");
    EXPECT_EQ(sign_only.status, ERR_PREMATURE_EOF);
    EXPECT_NE(sign_only.phase.data, nullptr);  // the caller's to release

    // Values after the last sample are never looked at.
    GridRead extra;
    read_text(extra, tag + req + "t\nGRD 2 1 SUR WVL 1 SSZ 1\n1 2 garbage\n");
    ASSERT_EQ(extra.status, 0);
    EXPECT_EQ(extra.samples(), (std::vector<int32_t>{1, 2}));
}

TEST(GridReader, TooFewSamples) {
    GridRead r;
    read_text(r, tag + req + "t\nGRD 3 2 SUR WVL 1 SSZ 1\n1 2 3 4 5\n");
    EXPECT_EQ(r.status, ERR_PREMATURE_EOF);
    EXPECT_EQ(r.messages, "");
    EXPECT_EQ(r.phase.data, nullptr);  // refused before the allocation
    EXPECT_EQ(r.phase.capacity, 0);

    // Short of samples after the allocation: the array stays with the caller.
    GridRead late;
    read_text(late, tag + req + "t\nGRD 3 2 SUR WVL 1 SSZ 1\n1 2 3 4 5    \n");
    EXPECT_EQ(late.status, ERR_PREMATURE_EOF);
    EXPECT_NE(late.phase.data, nullptr);
    EXPECT_EQ(late.phase.capacity, 6);

    // A count the rest of the file cannot hold is refused before any allocation.
    test::AllocFailure count_only(0);
    GridRead huge;
    read_text(huge, tag + req + "t\nGRD 30000 30000 SUR WVL 1 SSZ 1\n1 2 3 4\n");
    EXPECT_EQ(huge.status, ERR_PREMATURE_EOF);
    EXPECT_EQ(count_only.count(), 0);
}

TEST(GridReader, AllocationFailures) {
    const std::string text = tag + req + "t\nGRD 2 1 SUR WVL 1 SSZ 1\n1 2\n";
    {
        test::AllocFailure fail(1);
        GridRead r;
        read_text(r, text);
        EXPECT_EQ(r.status, ERR_NO_MEM);
        EXPECT_EQ(fail.outstanding(), 0);
    }
    test::TempDir dir;
    test::write_file(dir.file("a.grd"), text);
    for (int k = 1; k <= 2; ++k) {
        test::AllocFailure fail(k);
        GridRead r;
        read_path(r, dir.file("a.grd"));
        EXPECT_EQ(r.status, ERR_NO_MEM) << k;
        // An array allocated before the failure is the caller's.
        EXPECT_EQ(fail.outstanding(), r.phase.data ? 1 : 0) << k;
    }
}

TEST(GridReader, WindowsLineEndsReadLikeUnixOnes) {
    const std::string unix_text = tag + req + "! COM \"note\"\n! SWI 1 0 0 0 \"Ostrabel\"\ntitle\n" +
                                  "GRD 3 1 SUR\n WVL 1 SSZ 2 NDA 5\n1 5\n-7\n";
    std::string dos_text;
    for (char c : unix_text)
        dos_text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    test::TempDir dir;
    test::write_file(dir.file("unix.grd"), unix_text);
    test::write_file(dir.file("dos.grd"), dos_text);
    GridRead u, d;
    read_path(u, dir.file("unix.grd"));
    read_path(d, dir.file("dos.grd"));
    // "SUR" ends its line, so the scan runs on into the next one.
    ASSERT_EQ(u.status, 0) << u.messages;
    ASSERT_EQ(d.status, 0) << d.messages;
    EXPECT_EQ(d.samples(), (std::vector<int32_t>{1, invalid_phase, -7}));

    const std::string good =
        tag + req + "! COM \"note\"\n! SWI 1 0 0 0 \"Ostrabel\"\ntitle\n" + "GRD 3 1 SUR WVL 1 SSZ 2 NDA 5 \n1 5\n-7\n";
    std::string good_dos;
    for (char c : good)
        good_dos += c == '\n' ? std::string("\r\n") : std::string(1, c);
    test::write_file(dir.file("unix2.grd"), good);
    test::write_file(dir.file("dos2.grd"), good_dos);
    GridRead u2, d2;
    read_path(u2, dir.file("unix2.grd"));
    read_path(d2, dir.file("dos2.grd"));
    ASSERT_EQ(u2.status, 0) << u2.messages;
    ASSERT_EQ(d2.status, 0) << d2.messages;
    EXPECT_EQ(std::memcmp(&u2.header, &d2.header, sizeof u2.header), 0);
    EXPECT_EQ(std::memcmp(&u2.sw, &d2.sw, sizeof u2.sw), 0);
    EXPECT_STREQ(d2.header.comment, "note");
    EXPECT_STREQ(d2.sw.name, "Ostrabel");
    EXPECT_EQ(d2.samples(), (std::vector<int32_t>{1, invalid_phase, -7}));
}

TEST(GridReader, OverlongTitleIsConsumedWhole) {
    const std::string title(150, 'x');
    GridRead r;
    read_text(r, tag + req + title + "\nGRD 1 1 SUR WVL 1 SSZ 1\n3\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(std::string(r.header.comment), std::string(81, 'x'));
    EXPECT_EQ(r.samples(), std::vector<int32_t>{3});
}

// Large inputs go through the chunked, two-thread scanner; an independent
// sscanf loop gives the expected samples.
TEST(GridReader, LargeIrregularFileMatchesAPlainScan) {
    const int width = 1100, height = 1000;
    std::string data;
    uint32_t seed = 7;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < width * height * 13 / 10; ++i) {
        const uint32_t r = next();
        const int value = static_cast<int>(r % 200001) - 100000;
        switch ((r >> 20) % 5) {
        case 0:
            data += std::to_string(value) + " ";
            break;
        case 1:
            data += "\r\n" + std::to_string(value);
            break;
        case 2:
            data += "\t" + std::to_string(value % 1000);
            break;
        case 3:
            data += " +" + std::to_string(r % 999999);
            break;
        default:
            data += "      " + std::to_string(value);
            break;
        }
    }
    data += "\n";
    const std::vector<int32_t> expected = reference_scan(data, static_cast<size_t>(width) * height);
    ASSERT_EQ(expected.size(), static_cast<size_t>(width) * height);
    // The reference agrees with the C library's "%7d" on a stretch of the data.
    const std::string head = data.substr(0, 20000);
    const char* p = head.c_str();
    int v = 0, used = 0;
    for (size_t k = 0; k < 1000; ++k) {
        ASSERT_EQ(std::sscanf(p, "%7d%n", &v, &used), 1);
        ASSERT_EQ(v == -32768 ? invalid_phase : v, expected[k]) << k;
        p += used;
    }

    test::TempDir dir;
    const std::string text = tag + req + "t\nGRD " + std::to_string(width) + " " + std::to_string(height) +
                             " SUR WVL 1 SSZ 1 NDA -32768\n" + data;
    test::write_file(dir.file("large.grd"), text);
    GridRead r;
    read_path(r, dir.file("large.grd"));
    ASSERT_EQ(r.status, 0) << r.messages;
    EXPECT_TRUE(r.samples() == expected);

    // Cut short anywhere, it reports the missing data.
    test::write_file(dir.file("short.grd"), text.substr(0, text.size() - data.size() / 2));
    GridRead cut;
    read_path(cut, dir.file("short.grd"));
    EXPECT_EQ(cut.status, ERR_PREMATURE_EOF);
}

}  // namespace mf

namespace mf {

// A run of digits longer than the read buffer has no white space to stop at:
// the buffer grows until the run ends, and the seven-character rule still holds.
// Lines in the writer's layout take a faster path; mixed with lines that only
// look like it (a split field, nine fields, CR LF, seven-digit and signed values)
// they must read exactly as the general scan reads them.
TEST(GridReader, WriterLayoutLinesMatchThePlainScan) {
    std::string data;
    char field[16];
    uint32_t seed = 11;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    size_t lines = 0;
    while (data.size() < 3000000) {
        const uint32_t kind = next() % 16;
        std::string line;
        for (int f = 0; f < 10; ++f) {
            const int value = static_cast<int>(next() % 65536) - 32768;
            std::snprintf(field, sizeof field, "%7d", value);
            line += field;
        }
        if (kind == 1) line.replace(7, 7, "1234567");
        if (kind == 2) line.replace(14, 7, "    +12");
        if (kind == 3) line.replace(21, 7, "  12 34");
        if (kind == 4) line.resize(63);
        if (kind == 5) line.replace(28, 7, "-123456");
        data += line + (kind == 6 ? "\r\n" : "\n");
        ++lines;
    }
    const size_t count = lines * 9;
    const std::vector<int32_t> expected = reference_scan(data, count);
    ASSERT_EQ(expected.size(), count);

    test::TempDir dir;
    const std::string text =
        tag + req + "t\nGRD " + std::to_string(count / 1000) + " 1000 SUR WVL 1 SSZ 1 NDA -32768\n" + data;
    test::write_file(dir.file("layout.grd"), text);
    GridRead r;
    read_path(r, dir.file("layout.grd"));
    ASSERT_EQ(r.status, 0) << r.messages;
    const std::vector<int32_t> got = r.samples();
    ASSERT_EQ(got.size(), count / 1000 * 1000);
    const auto mismatch = std::mismatch(got.begin(), got.end(), expected.begin());
    EXPECT_EQ(mismatch.first, got.end()) << "first difference at sample " << (mismatch.first - got.begin()) << ": "
                                         << (mismatch.first != got.end() ? *mismatch.first : 0) << " vs "
                                         << *mismatch.second;
}

TEST(GridReader, DigitRunLongerThanTheBuffer) {
    const size_t values = 800000;
    std::string digits;
    digits.reserve(values * 7);
    for (size_t i = 0; i < values; ++i)
        digits += "1234567";
    test::TempDir dir;
    test::write_file(dir.file("run.grd"), tag + req + "t\nGRD 1000 800 SUR WVL 1 SSZ 1\n" + digits + "\n");
    GridRead r;
    read_path(r, dir.file("run.grd"));
    ASSERT_EQ(r.status, 0) << r.messages;
    const std::vector<int32_t> samples = r.samples();
    ASSERT_EQ(samples.size(), values);
    EXPECT_EQ(std::count(samples.begin(), samples.end(), 1234567), static_cast<std::ptrdiff_t>(values));
}

}  // namespace mf
