#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/errors.h"
#include "datafile/data_file.h"
#include "datafile/data_reader.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

// Two 3 x 2 intensity frames and a 3 x 2 phase map, with a header of the format
// asked for.
struct SmallMeasurement {
    int16_t frames[12] = {1, -2, 3, 4, 5, 32767, -32768, 7, 8, 9, 10, 11};
    int32_t samples[6] = {1, -2, invalid_phase, 0x01020304, -70000, 0x7FFFFFFF};
    intensity_array intensity{12, 1, 2, 3, 2, 2, 5, frames};
    data_array phase{6, 3, 4, 3, 2, samples};
    data_header header{};
    sw_info sw{1, "Ostrabel", 5, 2, 11};

    explicit SmallMeasurement(int format) {
        header.phase_scale = 8;
        header.phase_res = format == 2 ? 2 : 1;
        if (format == 3) header.num1450 = 0xDEADBEEF;
    }
    std::string write(const test::TempDir& dir, const std::string& name) {
        const std::string path = dir.file(name);
        EXPECT_EQ(write_data_file(path.c_str(), &sw, &header, &intensity, &phase), 0);
        return path;
    }
};

void store_at(std::string& bytes, size_t offset, uint32_t value, int width) {
    ASSERT_LE(offset + width, bytes.size());
    auto* p = reinterpret_cast<unsigned char*>(bytes.data()) + offset;
    width == 2 ? store_be16(p, static_cast<uint16_t>(value)) : store_be32(p, value);
}

// One line of data/damaged_data_files.txt applied to its sound file.
struct DamagedCase {
    std::string name, base, check, code;
    std::vector<std::string> edits;
};

std::vector<DamagedCase> damaged_cases() {
    std::ifstream table(std::string(MF_DATAFILE_TEST_DATA) + "/damaged_data_files.txt");
    EXPECT_TRUE(table.good());
    std::vector<DamagedCase> cases;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        DamagedCase c;
        words >> c.name >> c.base >> c.check >> c.code;
        for (std::string word; words >> word;)
            c.edits.push_back(word);
        cases.push_back(c);
    }
    return cases;
}

std::string apply_edits(std::string bytes, const std::vector<std::string>& edits) {
    for (size_t i = 0; i < edits.size(); ++i) {
        const std::string& op = edits[i];
        if (op == "put16" || op == "put32") {
            const size_t offset = std::stoul(edits.at(i + 1), nullptr, 0);
            const uint32_t value = static_cast<uint32_t>(std::stoul(edits.at(i + 2), nullptr, 0));
            store_at(bytes, offset, value, op == "put16" ? 2 : 4);
            i += 2;
        } else if (op == "cut") {
            bytes.resize(std::stoul(edits.at(++i)));
        } else if (op == "drop") {
            bytes.resize(bytes.size() - std::stoul(edits.at(++i)));
        } else if (op == "add") {
            bytes.append(std::stoul(edits.at(++i)), '\0');
        } else {
            ADD_FAILURE() << "unknown edit " << op;
        }
    }
    return bytes;
}

}  // namespace

TEST(DataFileRowReader, RowsAndRecordsAgreeWithTheWholeFileReaderInEveryFormat) {
    test::TempDir dir;
    for (int format = 1; format <= 3; ++format) {
        SCOPED_TRACE(format);
        SmallMeasurement m(format);
        const std::string path = m.write(dir, "m.dat");
        sw_info sw{};
        data_header header{};
        intensity_array in{};
        data_array ph{};
        ASSERT_EQ(read_data_file(path.c_str(), &sw, &header, &in, &ph), 0);

        data_file_reader reader;
        ASSERT_EQ(reader.open(path.c_str()), 0);
        const data_file_layout& l = reader.layout();
        EXPECT_EQ(l.format, format);
        EXPECT_EQ(l.header_size, format == 3 ? 4096 : 834);
        EXPECT_EQ(std::memcmp(&l.sw, &sw, sizeof sw), 0);
        EXPECT_EQ(std::memcmp(&l.header, &header, sizeof header), 0);
        EXPECT_EQ(l.intensity.data, nullptr);
        EXPECT_EQ(l.phase.data, nullptr);
        EXPECT_EQ((std::vector<int>{l.intensity.origin_x, l.intensity.origin_y, l.intensity.width, l.intensity.height,
                                    l.intensity.frames, l.intensity.aux}),
                  (std::vector<int>{1, 2, 3, 2, 2, 5}));
        EXPECT_EQ((std::vector<int>{l.phase.origin_x, l.phase.origin_y, l.phase.width, l.phase.height}),
                  (std::vector<int>{3, 4, 3, 2}));
        EXPECT_EQ(l.intensity_bytes, 24);
        EXPECT_EQ(l.phase_bytes, 24);

        // Phase first, then the second intensity frame, then the first: the reader
        // positions itself anywhere, and rows come in any block size.
        std::vector<int32_t> rows(6);
        ASSERT_EQ(reader.seek_phase(), 0);
        ASSERT_EQ(reader.read_phase_rows(rows.data(), 1), 0);
        ASSERT_EQ(reader.read_phase_rows(rows.data() + 3, 1), 0);
        EXPECT_EQ(rows, std::vector<int32_t>(ph.data, ph.data + 6));
        EXPECT_EQ(reader.read_phase_rows(rows.data(), 1), ERR_INVALID_PARAM);
        std::vector<int16_t> frame(6);
        ASSERT_EQ(reader.seek_intensity(1), 0);
        EXPECT_EQ(reader.read_phase_rows(rows.data(), 1), ERR_INVALID_PARAM);
        ASSERT_EQ(reader.read_intensity_rows(frame.data(), 2), 0);
        EXPECT_EQ(frame, std::vector<int16_t>(in.data + 6, in.data + 12));
        EXPECT_EQ(reader.read_intensity_rows(frame.data(), 1), ERR_INVALID_PARAM);
        ASSERT_EQ(reader.seek_intensity(0), 0);
        ASSERT_EQ(reader.read_intensity_rows(frame.data(), 2), 0);
        EXPECT_EQ(frame, std::vector<int16_t>(in.data, in.data + 6));
        EXPECT_EQ(reader.seek_intensity(2), ERR_INVALID_PARAM);
        EXPECT_EQ(reader.seek_intensity(-1), ERR_INVALID_PARAM);
        da_release(&in);
        da_release(&ph);
    }
}

TEST(DataFileRowReader, AbsentBlocksCannotBeEntered) {
    test::TempDir dir;
    SmallMeasurement m(1);
    const std::string path = dir.file("phase_only.dat");
    ASSERT_EQ(write_data_file(path.c_str(), nullptr, nullptr, nullptr, &m.phase), 0);
    data_file_reader reader;
    EXPECT_EQ(reader.seek_phase(), ERR_INVALID_PARAM);  // nothing open yet
    ASSERT_EQ(reader.open(path.c_str()), 0);
    EXPECT_EQ(reader.layout().intensity_bytes, 0);
    EXPECT_EQ(reader.seek_intensity(0), ERR_INVALID_PARAM);
    int16_t frame[6];
    EXPECT_EQ(reader.read_intensity_rows(frame, 1), ERR_INVALID_PARAM);
    EXPECT_EQ(reader.seek_phase(), 0);
    EXPECT_EQ(reader.open(dir.file("missing.dat").c_str()), ERR_CANT_OPEN_FILE);
    EXPECT_EQ(reader.seek_phase(), ERR_INVALID_PARAM);  // a failed open leaves nothing open
}

TEST(DataFileRowReader, BlocksOfTwoGibibytesAndMore) {
    // Byte counts are unsigned 32-bit values: 30000 x 30000 x 2 intensity frames
    // (3.6 GB) and a 25000 x 25000 phase map (2.5 GB), in a sparse file holding
    // one marked sample at the start of the second frame and of the phase map.
    test::TempDir dir;
    SmallMeasurement m(1);
    std::string bytes = test::read_file(m.write(dir, "large.dat")).substr(0, short_header_size);
    const int64_t frame_bytes = int64_t{30000} * 30000 * 2, phase_bytes = int64_t{25000} * 25000 * 4;
    bytes = apply_edits(bytes, {"put16", "52", "30000", "put16", "54", "30000", "put32", "60", "3600000000", "put16",
                                "68", "25000", "put16", "70", "25000", "put32", "72", "2500000000"});
    const std::string path = dir.file("large.dat");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        const unsigned char intensity_mark[2] = {0x12, 0x34}, phase_mark[4] = {0x01, 0x02, 0x03, 0x04};
        out.seekp(short_header_size + frame_bytes);
        out.write(reinterpret_cast<const char*>(intensity_mark), 2);
        out.seekp(short_header_size + 2 * frame_bytes);
        out.write(reinterpret_cast<const char*>(phase_mark), 4);
        ASSERT_TRUE(out.good());
    }
    std::filesystem::resize_file(path, static_cast<uintmax_t>(short_header_size + 2 * frame_bytes + phase_bytes));

    data_file_reader reader;
    ASSERT_EQ(reader.open(path.c_str()), 0);
    EXPECT_EQ(reader.layout().intensity_bytes, 2 * frame_bytes);
    EXPECT_EQ(reader.layout().phase_bytes, phase_bytes);
    std::vector<int16_t> frame_row(30000);
    ASSERT_EQ(reader.seek_intensity(1), 0);
    ASSERT_EQ(reader.read_intensity_rows(frame_row.data(), 1), 0);
    EXPECT_EQ(frame_row[0], 0x1234);
    EXPECT_EQ(frame_row[1], 0);
    std::vector<int32_t> phase_row(25000);
    ASSERT_EQ(reader.seek_phase(), 0);
    ASSERT_EQ(reader.read_phase_rows(phase_row.data(), 1), 0);
    EXPECT_EQ(phase_row[0], 0x01020304);
    EXPECT_EQ(phase_row[1], 0);
}

TEST(DataFileRowReader, DamagedFilesAreRefusedWithTheReadersCodes) {
    test::TempDir dir;
    SmallMeasurement f1(1), f3(3);
    const std::string sound1 = test::read_file(f1.write(dir, "f1.dat"));
    const std::string sound3 = test::read_file(f3.write(dir, "f3.dat"));
    const auto cases = damaged_cases();
    ASSERT_GE(cases.size(), 20u);
    for (const DamagedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name + ".dat");
        test::write_file(path, apply_edits(c.base == "f3" ? sound3 : sound1, c.edits));
        data_file_reader reader;
        const int32_t code = reader.open(path.c_str());
        EXPECT_STREQ(code == 0 ? "0" : error_name(code), c.code.c_str());
        if (c.check == "same") {
            data_array ph{};
            intensity_array in{};
            EXPECT_EQ(read_data_file(path.c_str(), nullptr, nullptr, &in, &ph), code);
            da_release(&ph);
            da_release(&in);
        }
    }
}

}  // namespace mf
