// The encoded zoom calibration file: accepted forms, every fault with its message and
// line, and the reload rule by size and modification time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "can/nodes/zoom_cal.h"
#include "common/error_codes.h"
#include "platform/files.h"
#include "tests/support/capture.h"

namespace mf::test {
namespace {

struct parse_case {
    const char* text;
    int32_t code;
    const char* message;  // after the "Error reading" line
    size_t pairs;
};

TEST(ZoomCalParse, AcceptedFormsAndFaults) {
    const std::string head = " Error reading Tarn encoded zoom magnification calibration file \"z.txt\" \n";
    const parse_case cases[] = {
        {"title\n0 0.5\n10 6\n", 0, "", 2},
        {"title\r\n0,1\r\n10, 2 extra\r\n20  3\r\n", 0, "", 3},
        {"title\n0 1\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Too few position and magnification value pairs (minimum is 2) \n", 0},
        {"", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE, " Too few position and magnification value pairs (minimum is 2) \n",
         0},
        {"title\n0 1\n5 ,2\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Expected two numbers (position and magnification) separated by a comma and/or space. \n"
         " Error in line 3: \n  5 ,2 \n",
         0},
        {"title\n0 1\n\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Expected two numbers (position and magnification) separated by a comma and/or space. \n"
         " Error in line 3 \n",
         0},
        {"title\n0 1\n1 6.0001\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Magnification value is out of range [0.5,6] \n Error in line 3: \n  1 6.0001 \n", 0},
        {"title\n0 0.49\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Magnification value is out of range [0.5,6] \n Error in line 2: \n  0 0.49 \n", 0},
        {"title\n-1 1\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Position value is out of range [0,3.40282e+38] \n Error in line 2: \n  -1 1 \n", 0},
        {"title\n1e39 1\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Magnitude of number is unreasonable. \n Error in line 2: \n  1e39 1 \n", 0},
        {"title\nnan 1\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Magnitude of number is unreasonable. \n Error in line 2: \n  nan 1 \n", 0},
        {"title\n5 1\n5 2\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Position values are not in strictly increasing order. \n Error in line 3: \n  5 2 \n", 0},
        {"title\n1 1\n1.00000001 2\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Position values are not in strictly increasing order. \n Error in line 3: \n  1.00000001 2 \n", 0},
        {"title\n5 2\n6 2\n", ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE,
         " Magnification values are not in strictly increasing order. \n Error in line 3: \n  6 2 \n", 0},
    };
    for (const parse_case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<zoom_cal_entry> table{{9, 9}};
        std::string msg;
        EXPECT_EQ(tarn_enc_zoom_parse_text(c.text, "z.txt", &table, &msg), c.code);
        if (c.code) {
            EXPECT_EQ(msg, head + c.message);
            EXPECT_EQ(table.size(), 1u);
        } else {
            EXPECT_EQ(msg, "");
            EXPECT_EQ(table.size(), c.pairs);
        }
    }
}

TEST(ZoomCalParse, HundredPairsAndNoMore) {
    std::string text = "title\n";
    for (int i = 0; i < 100; ++i)
        text += std::to_string(i) + " " + std::to_string(0.5 + i * 0.05) + "\n";
    std::vector<zoom_cal_entry> table;
    EXPECT_EQ(tarn_enc_zoom_parse_text(text, "z", &table, nullptr), 0);
    EXPECT_EQ(table.size(), 100u);
    EXPECT_FLOAT_EQ(table[99].magnification, 5.45f);
    text += "1000 5.9\n";
    std::string msg;
    EXPECT_EQ(tarn_enc_zoom_parse_text(text, "z", &table, &msg), ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE);
    EXPECT_EQ(msg,
              " Error reading Tarn encoded zoom magnification calibration file \"z\" \n"
              " Too many position and magnification value pairs (maximum is 100). \n");
}

class ZoomCalLoad : public ::testing::Test {
protected:
    void SetUp() override {
        tarn_enc_zoom_reset_all();
        dir_ = std::filesystem::temp_directory_path() /
               ("mf_zoomcal_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "ZoomCal.txt").string();
        ez_.calFile = path_.data();
        si_.slot = 1;
        si_.encZoom = &ez_;
    }
    void TearDown() override {
        tarn_enc_zoom_reset_all();
        std::filesystem::remove_all(dir_);
    }
    void write(const char* text) { std::ofstream(path_, std::ios::binary) << text; }
    std::filesystem::path dir_;
    std::string path_;
    sb_enc_zoom ez_;
    sysInfo si_{};
    SinkCapture out_;
};

TEST_F(ZoomCalLoad, LoadsOnceAndRereadsOnlyAChangedFile) {
    write("t\n0 1\n10 2\n");
    EXPECT_EQ(tarn_enc_zoom_load(&si_, nullptr), 0);
    EXPECT_EQ(out_.text(), "Tarn encoded zoom calibration data loaded from file " + path_ + "\n");
    EXPECT_EQ(tarn_enc_zoom_state(&si_)->table.size(), 2u);
    out_.clear();
    EXPECT_EQ(tarn_enc_zoom_load(&si_, nullptr), 0);
    EXPECT_EQ(out_.text(), "");

    write("t\n0 1\n10 2\n20 3\n");  // another size
    EXPECT_EQ(tarn_enc_zoom_load(&si_, nullptr), 0);
    EXPECT_EQ(tarn_enc_zoom_state(&si_)->table.size(), 3u);

    write("t\n0 1\n");  // a failed parse forgets the old table
    std::string msg;
    EXPECT_EQ(tarn_enc_zoom_load(&si_, &msg), ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE);
    EXPECT_TRUE(tarn_enc_zoom_state(&si_)->table.empty());
    EXPECT_EQ(tarn_enc_zoom_state(&si_)->loaded_name, "");
}

// A file of the same size is read again when its modification time changed; a file
// that went away is forgotten.
TEST_F(ZoomCalLoad, RereadsASameSizeFileWithAnotherTimeAndForgetsAVanishedOne) {
    // Whole seconds, which every system's file times hold exactly.
    const auto first_time =
        std::chrono::floor<std::chrono::seconds>(std::filesystem::last_write_time(dir_)) - std::chrono::seconds(10);
    write("t\n0 1\n10 2\n");
    std::filesystem::last_write_time(path_, first_time);
    ASSERT_EQ(tarn_enc_zoom_load(&si_, nullptr), 0);
    write("t\n0 1\n10 3\n");  // same size
    std::filesystem::last_write_time(path_, first_time);
    out_.clear();
    EXPECT_EQ(tarn_enc_zoom_load(&si_, nullptr), 0);
    EXPECT_EQ(out_.text(), "");  // size and time unchanged: the old table stays
    EXPECT_FLOAT_EQ(tarn_enc_zoom_state(&si_)->table[1].magnification, 2.0f);

    std::filesystem::last_write_time(path_, first_time + std::chrono::seconds(2));
    EXPECT_EQ(tarn_enc_zoom_load(&si_, nullptr), 0);
    EXPECT_EQ(out_.text(), "Tarn encoded zoom calibration data loaded from file " + path_ + "\n");
    EXPECT_FLOAT_EQ(tarn_enc_zoom_state(&si_)->table[1].magnification, 3.0f);

    std::filesystem::remove(path_);
    std::string msg;
    EXPECT_EQ(tarn_enc_zoom_load(&si_, &msg), ERR_TARN_ENC_ZOOM_CANT_OPEN_CAL_FILE);
    EXPECT_EQ(tarn_enc_zoom_state(&si_)->loaded_name, "");
}

// Without a configured name the default "Tarn\ZoomCal.txt" is looked up like other
// configuration files, first under the current folder; the backslash is a folder
// separator on every system.
TEST_F(ZoomCalLoad, DefaultNameIsFoundInTheTarnFolder) {
    std::filesystem::create_directories(dir_ / "Tarn");
    std::ofstream(dir_ / "Tarn" / "ZoomCal.txt", std::ios::binary) << "t\n0 1\n10 2\n";
    ez_.calFile = nullptr;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    const int32_t err = tarn_enc_zoom_load(&si_, nullptr);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(err, 0);
    const std::string sep(1, platform::path_separator());
    EXPECT_EQ(out_.text(),
              "Tarn encoded zoom calibration data loaded from file ." + sep + "Tarn" + sep + "ZoomCal.txt\n");
    EXPECT_EQ(tarn_enc_zoom_state(&si_)->table.size(), 2u);
}

TEST_F(ZoomCalLoad, MissingFileCannotBeAccessed) {
    std::string msg;
    EXPECT_EQ(tarn_enc_zoom_load(&si_, &msg), ERR_TARN_ENC_ZOOM_CANT_OPEN_CAL_FILE);
    EXPECT_EQ(msg, " Cannot access Tarn encoded zoom magnification calibration file \"" + path_ + "\" \n");
    std::vector<zoom_cal_entry> table;
    msg.clear();
    EXPECT_EQ(tarn_enc_zoom_parse(path_.c_str(), &table, &msg), ERR_TARN_ENC_ZOOM_CANT_OPEN_CAL_FILE);
    EXPECT_EQ(msg, " Cannot open Tarn encoded zoom magnification calibration file \"" + path_ + "\" \n");
}

}  // namespace
}  // namespace mf::test
