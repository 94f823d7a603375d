#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "calfile/bpix.h"
#include "calfile/record.h"
#include "calfile/sysinfo.h"
#include "common/dirs.h"
#include "common/error_codes.h"
#include "platform/files.h"
#include "tests/support/alloc_fail.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf {
namespace {

using test::SinkCapture;

struct BpixRead {
    int32_t code;
    std::string log;
};

class Bpix : public ::testing::Test {
protected:
    void TearDown() override {
        sb_bpix_clear(&set);
        for (int i = 0; i < sys_slot_count; ++i) {
            sb_bpix_release(i);
            sb_setDefaults(sb_slot(i));
        }
    }
    BpixRead read(const std::string& text) {
        sb_bpix_lines lines(text.data(), text.size());
        SinkCapture sink;
        const int32_t code = sb_read_bpix_lines(lines, "cam.dat", &set);
        return {code, sink.text()};
    }
    static std::string failure(const std::string& body) {
        return "Error reading bad pixel file \"cam.dat\"\r\n" + body;
    }

    sb_bpix_set set;
};

TEST_F(Bpix, SectionsWithTheirPixels) {
    const auto r = read(
        "# camera modes\r\n"
        "[full] 1 0 640 480 60\r\n"
        "1 2\r\n"
        "\r\n"
        "639 479\n"
        "  # a comment between pixels\n"
        "0\t0\n"
        "[half]\t10 10 320 240 0.5 trailing fields\n"
        "[empty] 0 0 0 0 500\n"
        "[last] 2 3 32767 32767 0\n"
        "32766 5 extra");
    ASSERT_EQ(r.code, 0) << r.log;
    EXPECT_EQ(r.log, "");
    ASSERT_EQ(set.count, 4);
    const sb_bpix_section& full = set.sections[0];
    EXPECT_EQ(full.grabMode, 1);
    EXPECT_EQ(full.grabUnder, 0);
    EXPECT_EQ(full.sizeX, 640);
    EXPECT_EQ(full.sizeY, 480);
    EXPECT_EQ(full.grabRate, 60.0);
    ASSERT_EQ(full.count, 3);
    EXPECT_EQ(full.pixels[0].x, 1);
    EXPECT_EQ(full.pixels[0].y, 2);
    EXPECT_EQ(full.pixels[1].x, 639);
    EXPECT_EQ(full.pixels[1].y, 479);
    EXPECT_EQ(full.pixels[2].x, 0);
    EXPECT_EQ(full.pixels[2].value, 0.0f);
    EXPECT_EQ(set.sections[1].grabMode, 10);
    EXPECT_EQ(set.sections[1].grabRate, 0.5);
    EXPECT_EQ(set.sections[1].count, 0);
    EXPECT_EQ(set.sections[2].count, 0);
    EXPECT_EQ(set.sections[2].pixels, nullptr);
    ASSERT_EQ(set.sections[3].count, 1);
    EXPECT_EQ(set.sections[3].pixels[0].x, 32766);
}

TEST_F(Bpix, EmptyOrCommentOnlyFileHasNoSections) {
    EXPECT_EQ(read("").code, 0);
    EXPECT_EQ(read("# only\n\n   \t\n#x").code, 0);
    EXPECT_EQ(set.count, 0);
}

TEST_F(Bpix, PixelBeforeAnySectionIsMissingCameraInformation) {
    const auto r = read("# header\n10 20\n");
    EXPECT_EQ(r.code, ERR_CB_FILE_INVALID);
    EXPECT_EQ(r.log, failure("Missing camera information.\r\nError in line 2:\r\n  10 20\n"));
    EXPECT_EQ(set.count, 0);
}

TEST_F(Bpix, PixelFieldMessages) {
    const std::string section = "[a] 0 0 10 20 30\n";
    auto x_message = [](const char* fault) {
        return std::string(fault) + "Expected 'coord x' an integer value in the range [0,9]\n";
    };
    auto r = read(section + "10 0\n");
    EXPECT_EQ(r.code, ERR_CB_FILE_INVALID);
    EXPECT_EQ(r.log, failure(x_message("Number out of range.\n") + "Error in line 2:\r\n  10 0\n"));
    r = read(section + "-1 0\n");
    EXPECT_EQ(r.log, failure(x_message("Number out of range.\n") + "Error in line 2:\r\n  -1 0\n"));
    r = read(section + "x1 0\n");
    EXPECT_EQ(r.log, failure(x_message("Not a number.\n") + "Error in line 2:\r\n  x1 0\n"));
    r = read(section + "1x 0\r\n");
    EXPECT_EQ(r.log, failure(x_message("Extra characters after number.\n") + "Error in line 2:\r\n  1x 0\n"));
    r = read(section + "99999999999999999999 0\n");
    EXPECT_EQ(r.log, failure(x_message("Number out of range.\n") + "Error in line 2:\r\n  99999999999999999999 0\n"));
    r = read(section + "\n5\n");
    EXPECT_EQ(r.log, failure("Missing number.\nExpected 'coord y' an integer value in the range [0,19]\n"
                             "Error in line 3:\r\n  5\n"));
    EXPECT_EQ(r.code, ERR_CB_FILE_INVALID);
    EXPECT_EQ(set.count, 0);
}

TEST_F(Bpix, SectionFieldMessages) {
    struct Case {
        const char* line;
        const char* message;
    };
    const Case cases[] = {
        {"[s]", "Missing number.\nExpected 'grab mode' an integer value in the range [0,10]\n"},
        {"[s] 11", "Number out of range.\nExpected 'grab mode' an integer value in the range [0,10]\n"},
        {"[s] 0 x", "Not a number.\nExpected 'grab under' an integer value in the range [0,10]\n"},
        {"[s] 0 0 32768", "Number out of range.\nExpected 'size x' an integer value in the range [0,32767]\n"},
        {"[s] 0 0 1 2.5",
         "Extra characters after number.\nExpected 'size y' an integer value in the range [0,32767]\n"},
        {"[s] 0 0 1 2", "Missing number.\nExpected 'grab rate' a floating point value in the range [0,500]\n"},
        {"[s] 0 0 1 2 500.1",
         "Number out of range.\nExpected 'grab rate' a floating point value in the range [0,500]\n"},
        {"[s] 0 0 1 2 -1", "Number out of range.\nExpected 'grab rate' a floating point value in the range [0,500]\n"},
        {"[s] 0 0 1 2 fast", "Not a number.\nExpected 'grab rate' a floating point value in the range [0,500]\n"},
        {"[s] 0 0 1 2 30Hz",
         "Extra characters after number.\nExpected 'grab rate' a floating point value in the range [0,500]\n"},
        {"[s] 0 0 1 2 nan", "Number out of range.\nExpected 'grab rate' a floating point value in the range [0,500]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        // A good section first: a failure in a later one keeps no sections at all.
        const auto r = read(std::string("[ok] 0 0 4 4 1\n1 1\n") + c.line + "\n");
        EXPECT_EQ(r.code, ERR_CB_FILE_INVALID);
        EXPECT_EQ(r.log, failure(std::string(c.message) + "Error in line 3:\r\n  " + c.line + "\n"));
        EXPECT_EQ(set.count, 0);
    }
}

TEST_F(Bpix, LinesOfMoreThanOneHundredCharacters) {
    const std::string hundred = "[s] 0 0 10 10 1" + std::string(85, ' ');
    ASSERT_EQ(hundred.size(), 100u);
    EXPECT_EQ(read(hundred + "\r\n1 1\n").code, 0);
    EXPECT_EQ(set.count, 1);
    const auto r = read(hundred + " \n1 1\n");
    EXPECT_EQ(r.code, ERR_CB_FILE_INVALID);
    EXPECT_EQ(r.log, failure("Line longer than 100 characters\r\nError in line 1\r\n"));
    EXPECT_EQ(set.count, 0);
    EXPECT_EQ(read("[s] 0 0 10 10 1\n# " + std::string(5000, 'c')).log,
              failure("Line longer than 100 characters\r\nError in line 2\r\n"));
}

TEST_F(Bpix, AtMostOneHundredSections) {
    std::string text;
    for (int i = 0; i < sb_max_bpix_sections; ++i)
        text += "[m] 0 0 8 8 1\n" + std::to_string(i % 8) + " 1\n";
    const auto ok = read(text + "# trailing comment\n\n");
    ASSERT_EQ(ok.code, 0) << ok.log;
    EXPECT_EQ(set.count, sb_max_bpix_sections);
    EXPECT_EQ(set.sections[99].pixels[0].x, 3);
    const auto r = read(text + "# one more\n[m] 0 0 8 8 1\n");
    EXPECT_EQ(r.code, ERR_CB_FILE_INVALID);
    EXPECT_EQ(r.log, failure("More than 100 sections.\r\nError in line 202:\r\n  [m] 0 0 8 8 1\n"));
    EXPECT_EQ(set.count, 0);
}

TEST_F(Bpix, SectionReaderStopsAtTheNextSection) {
    const std::string text = "[a] 0 0 4 4 1\n1 1\n2 2\n[b] 0 0 4 4 1\n3 3\n";
    sb_bpix_lines lines(text.data(), text.size());
    sb_bpix_section section;
    bool found = false, at_end = false;
    std::string messages;
    ASSERT_EQ(sb_read_bpix_section(lines, &section, &found, &at_end, &messages), 0);
    EXPECT_TRUE(found);
    EXPECT_FALSE(at_end);
    EXPECT_EQ(section.count, 2);
    EXPECT_EQ(lines.number(), 4);
    u_free(section.pixels);
    ASSERT_EQ(sb_read_bpix_section(lines, &section, &found, &at_end, &messages), 0);
    EXPECT_TRUE(found);
    EXPECT_TRUE(at_end);
    ASSERT_EQ(section.count, 1);
    EXPECT_EQ(section.pixels[0].x, 3);
    u_free(section.pixels);
    EXPECT_EQ(messages, "");
}

TEST_F(Bpix, AllocationFailureKeepsNothing) {
    std::string text = "[a] 0 0 100 100 1\n";
    for (int i = 0; i < 40; ++i)
        text += std::to_string(i) + " 1\n";
    for (int k = 1; k <= 3; ++k) {
        SCOPED_TRACE(k);
        test::AllocFailure fail(k);
        EXPECT_EQ(read(text).code, ERR_NO_MEM);
        EXPECT_EQ(set.count, 0);
        EXPECT_EQ(fail.outstanding(), 0);
    }
}

TEST_F(Bpix, FileNameFromTheRecord) {
    sysInfo* si = sb_slot(0);
    si->serialNum = 4321;
    const char* config = u_config_dir();
    ASSERT_NE(config, nullptr);
    const char sep = platform::path_separator();
    std::string path;
    ASSERT_EQ(gen_cam_ped_filename(si, &path), 0);
    EXPECT_EQ(path, std::string(config) + sep + "bpix_4321.dat");
    sb_set_text(&si->camera.bpixFile, "cams\\front.dat");
    ASSERT_EQ(gen_cam_ped_filename(si, &path), 0);
    EXPECT_EQ(path, std::string(config) + sep + "cams" + sep + "front.dat");
}

TEST_F(Bpix, ReadIntoTheSlot) {
    sysInfo* si = sb_slot(1);
    const char* config = u_config_dir();
    ASSERT_NE(config, nullptr);
    // A name of this test's own in the configuration directory, removed afterwards.
    const std::string name = "bpix_slot_test.dat";
    const std::string path = std::string(config) + platform::path_separator() + name;
    sb_set_text(&si->camera.bpixFile, name.c_str());

    SinkCapture sink;
    EXPECT_EQ(sb_read_bpix(si), ERR_CANT_OPEN_FILE);
    EXPECT_EQ(sink.text(), "Cannot open camera bad file \"" + path + "\"\r\n");

    test::write_file(path, "[a] 0 0 4 4 1\n1 1\n[b] 1 1 8 8 2\n");
    EXPECT_EQ(sb_read_bpix(si), 0);
    ASSERT_EQ(sb_bpix_sections(1)->count, 2);
    EXPECT_EQ(sb_bpix_sections(1)->sections[0].count, 1);
    EXPECT_EQ(sb_bpix_sections(1)->sections[1].sizeX, 8);

    // A failed read leaves the slot without sections.
    test::write_file(path, "[a] 0 0 4 4 1\n4 1\n");
    sink.clear();
    EXPECT_EQ(sb_read_bpix(si), ERR_CB_FILE_INVALID);
    EXPECT_EQ(sink.text(), "Error reading bad pixel file \"" + path +
                               "\"\r\nNumber out of range.\nExpected 'coord x' an integer value in the range [0,3]\n"
                               "Error in line 2:\r\n  4 1\n");
    EXPECT_EQ(sb_bpix_sections(1)->count, 0);
    platform::remove_file(path);
    EXPECT_EQ(sb_bpix_sections(4), nullptr);

    // A name that is a directory never reads as an empty file: where the system
    // opens it, the first read fails.
    test::write_file(path, "[a] 0 0 4 4 1\n1 1\n");
    ASSERT_EQ(sb_read_bpix(si), 0);
    const std::string dir_name = "bpix_slot_test.d";
    const std::string dir = std::string(config) + platform::path_separator() + dir_name;
    ASSERT_TRUE(platform::create_directory(dir));
    sb_set_text(&si->camera.bpixFile, dir_name.c_str());
    sink.clear();
    const int32_t code = sb_read_bpix(si);
    if (code == ERR_CANT_OPEN_FILE)
        EXPECT_EQ(sink.text(), "Cannot open camera bad file \"" + dir + "\"\r\n");
    else
        EXPECT_EQ(sink.text(), "Cannot read camera bad file \"" + dir + "\"\r\n");
    EXPECT_TRUE(code == ERR_CANT_OPEN_FILE || code == ERR_CANT_READ_FILE) << code;
    EXPECT_EQ(sb_bpix_sections(1)->count, 0);
    platform::remove_file(path);
    std::filesystem::remove(dir);
}

}  // namespace
}  // namespace mf
