#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "common/bytes.h"
#include "common/errors.h"
#include "datafile/data_file.h"
#include "platform/files.h"
#include "tests/support/alloc_fail.h"
#include "tests/support/file_faults.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

// A 3 x 2 phase map owning its samples 1..6.
struct SmallPhase {
    int32_t samples[6] = {1, 2, 3, -4, invalid_phase, 0x01020304};
    data_array array{6, 0, 0, 3, 2, samples};
};

uint32_t be32_at(const std::string& bytes, size_t offset) {
    return load_be32(reinterpret_cast<const unsigned char*>(bytes.data()) + offset);
}
uint16_t be16_at(const std::string& bytes, size_t offset) {
    return load_be16(reinterpret_cast<const unsigned char*>(bytes.data()) + offset);
}

std::string write_and_read(const test::TempDir& dir, const sw_info* sw, const data_header* header,
                           const intensity_array* intensity, const data_array* phase) {
    const std::string path = dir.file("out.dat");
    EXPECT_EQ(write_data_file(path.c_str(), sw, header, intensity, phase), 0);
    return test::read_file(path);
}

}  // namespace

TEST(DataFileWriter, Format1WithCodeVFieldsAndPhaseBlockAt834) {
    test::TempDir dir;
    SmallPhase phase;
    data_header header{};
    header.time_stamp = 0x11223344;
    std::strcpy(header.comment, "a comment");
    header.source = 1;
    header.phase_scale = 0.5f;
    header.wavelength = 632.8e-9f;
    header.phase_res = 1;
    header.surface = 1;
    std::strcpy(header.onm, "operator");
    header.sys3_long = 0x00012345;
    sw_info sw{2, "Halcyonide", 7, 8, 9};

    const std::string bytes = write_and_read(dir, &sw, &header, nullptr, &phase.array);
    ASSERT_EQ(bytes.size(), 834u + 24u);
    EXPECT_EQ(be32_at(bytes, 0), 0x881B036Fu);
    EXPECT_EQ(be16_at(bytes, 4), 1);
    EXPECT_EQ(be32_at(bytes, 6), 834u);
    EXPECT_EQ(be16_at(bytes, 10), 2);
    EXPECT_EQ(bytes.substr(12, 11), std::string("Halcyonide\0", 11));
    EXPECT_EQ(be16_at(bytes, 42), 7);
    EXPECT_EQ(be16_at(bytes, 46), 9);
    // Intensity absent: its fields and byte count are zero.
    EXPECT_EQ(bytes.substr(48, 16), std::string(16, '\0'));
    EXPECT_EQ(be16_at(bytes, 68), 3);
    EXPECT_EQ(be16_at(bytes, 70), 2);
    EXPECT_EQ(be32_at(bytes, 72), 24u);
    EXPECT_EQ(be32_at(bytes, 76), 0x11223344u);
    EXPECT_EQ(bytes.substr(80, 10), std::string("a comment\0", 10));
    EXPECT_EQ(be16_at(bytes, 162), 1);
    EXPECT_EQ(be32_at(bytes, 164), 0x3F000000u);
    float wavelength = 632.8e-9f;
    uint32_t wavelength_bits;
    std::memcpy(&wavelength_bits, &wavelength, 4);
    EXPECT_EQ(be32_at(bytes, 168), wavelength_bits);
    EXPECT_EQ(be16_at(bytes, 218), 1);
    EXPECT_EQ(be16_at(bytes, 298), 1);
    EXPECT_EQ(bytes.substr(246, 9), std::string("operator\0", 9));
    // The 32-bit form of the SYS value is the file's one little-endian field.
    EXPECT_EQ(bytes.substr(798, 4), std::string("\x45\x23\x01\x00", 4));
    // The phase block follows the header directly, each sample big-endian.
    EXPECT_EQ(bytes.substr(834, 4), std::string("\0\0\0\x01", 4));
    EXPECT_EQ(be32_at(bytes, 834 + 12), static_cast<uint32_t>(-4));
    EXPECT_EQ(be32_at(bytes, 834 + 16), 0x7FFFFFF8u);
    EXPECT_EQ(bytes.substr(834 + 20, 4), std::string("\x01\x02\x03\x04", 4));
}

TEST(DataFileWriter, ResolutionCodeTwoSelectsFormat2) {
    test::TempDir dir;
    SmallPhase phase;
    data_header header{};
    header.phase_res = 2;
    const std::string bytes = write_and_read(dir, nullptr, &header, nullptr, &phase.array);
    EXPECT_EQ(be32_at(bytes, 0), 0x881B0370u);
    EXPECT_EQ(be16_at(bytes, 4), 2);
    EXPECT_EQ(be32_at(bytes, 6), 834u);
    EXPECT_EQ(bytes.size(), 834u + 24u);
    header.phase_res = -2;  // compared as a signed value
    EXPECT_EQ(data_file_format(&header), 1);
}

TEST(DataFileWriter, AnyByteFromOffset838SelectsFormat3) {
    data_header header{};
    auto* raw = reinterpret_cast<unsigned char*>(&header);
    raw[834 - data_header_file_offset] = 1;  // the 4 bytes at 834 do not count
    EXPECT_EQ(data_file_format(&header), 1);
    raw[834 - data_header_file_offset] = 0;
    raw[4095 - data_header_file_offset] = 1;
    EXPECT_EQ(data_file_format(&header), 3);

    test::TempDir dir;
    SmallPhase phase;
    data_header h3{};
    h3.num838 = 0x0102;
    h3.phase_res = 2;
    const std::string bytes = write_and_read(dir, nullptr, &h3, nullptr, &phase.array);
    EXPECT_EQ(be32_at(bytes, 0), 0x881B0371u);
    EXPECT_EQ(be16_at(bytes, 4), 3);
    EXPECT_EQ(be32_at(bytes, 6), 4096u);
    ASSERT_EQ(bytes.size(), 4096u + 24u);
    EXPECT_EQ(be16_at(bytes, 838), 0x0102);
    EXPECT_EQ(bytes.substr(4096, 4), std::string("\0\0\0\x01", 4));
}

TEST(DataFileWriter, NoHeaderRecordWritesZeroFields) {
    test::TempDir dir;
    SmallPhase phase;
    const std::string bytes = write_and_read(dir, nullptr, nullptr, nullptr, &phase.array);
    EXPECT_EQ(be32_at(bytes, 0), 0x881B036Fu);
    EXPECT_EQ(bytes.substr(10, 38), std::string(38, '\0'));
    EXPECT_EQ(bytes.substr(76, 834 - 76), std::string(834 - 76, '\0'));
}

TEST(DataFileWriter, IntensityBlockPrecedesPhaseAndStreamsInChunks) {
    test::TempDir dir;
    // 200 x 200 x 2 frames: 80000 samples, more than two 32768-sample chunks.
    std::vector<int16_t> samples(80000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(i * 7 - 30000);
    intensity_array intensity{80000, 1, 2, 200, 200, 2, -9, samples.data()};
    SmallPhase phase;
    const std::string bytes = write_and_read(dir, nullptr, nullptr, &intensity, &phase.array);
    ASSERT_EQ(bytes.size(), 834u + 160000u + 24u);
    EXPECT_EQ(be16_at(bytes, 48), 1);
    EXPECT_EQ(be16_at(bytes, 50), 2);
    EXPECT_EQ(static_cast<int16_t>(be16_at(bytes, 58)), -9);
    EXPECT_EQ(be32_at(bytes, 60), 160000u);
    for (size_t i : {size_t{0}, size_t{32767}, size_t{32768}, size_t{79999}})
        EXPECT_EQ(static_cast<int16_t>(be16_at(bytes, 834 + 2 * i)), samples[i]) << i;
    EXPECT_EQ(be32_at(bytes, 834 + 160000), 1u);
}

TEST(DataFileWriter, EmptyOrAbsentArraysWriteNothing) {
    test::TempDir dir;
    const std::string path = dir.file("none.dat");
    intensity_array sized_but_empty{0, 0, 0, 10, 10, 1, 0, nullptr};
    data_array no_data{};
    EXPECT_EQ(write_data_file(path.c_str(), nullptr, nullptr, &sized_but_empty, &no_data), ERR_INVALID_PARAM);
    EXPECT_EQ(test::read_file(path), "");

    // An intensity descriptor without data is absent even with non-zero sizes.
    SmallPhase phase;
    const std::string bytes = write_and_read(dir, nullptr, nullptr, &sized_but_empty, &phase.array);
    EXPECT_EQ(be16_at(bytes, 52), 0);
    EXPECT_EQ(be32_at(bytes, 60), 0u);
    EXPECT_EQ(bytes.size(), 834u + 24u);
}

TEST(DataFileWriter, ShapeBeyondStorageIsRefused) {
    test::TempDir dir;
    SmallPhase phase;
    phase.array.height = 3;  // 9 samples, only 6 stored
    EXPECT_EQ(write_data_file(dir.file("x").c_str(), nullptr, nullptr, nullptr, &phase.array), ERR_INVALID_PARAM);
}

TEST(DataFileWriter, UncreatableAndUnwritablePaths) {
    test::TempDir dir;
    SmallPhase phase;
    EXPECT_EQ(write_data_file(dir.path().c_str(), nullptr, nullptr, nullptr, &phase.array), ERR_CANT_CREATE_FILE);
    EXPECT_EQ(write_data_file(dir.file("no/such/dir/x.dat").c_str(), nullptr, nullptr, nullptr, &phase.array),
              ERR_CANT_CREATE_FILE);
    // A full disk shows as a failed write; the device is reached through a link
    // in the test folder and written in place, never replaced.
    std::error_code ec;
    std::filesystem::create_symlink("/dev/full", dir.file("full"), ec);
    if (!ec && std::filesystem::is_character_file("/dev/full")) {
        EXPECT_EQ(write_data_file(dir.file("full").c_str(), nullptr, nullptr, nullptr, &phase.array),
                  ERR_CANT_WRITE_FILE);
        EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    }
}

// Every file operation of the writer may fail: each failure gives the writer's
// code and leaves an existing output as it was (a new one absent), never cut
// short, and no temporary file behind.
TEST(DataFileWriter, EveryFileFaultLeavesTheOutputWholeOrNew) {
    SmallPhase phase;
    test::TempDir reference;
    const std::string complete = write_and_read(reference, nullptr, nullptr, nullptr, &phase.array);
    for (const bool existing : {true, false}) {
        test::TempDir dir;
        const std::string out = dir.file("out.dat");
        const int operations =
            test::sweep_writer({out,
                                std::string(5000, 'o'),
                                existing,
                                complete,
                                [&] { return write_data_file(out.c_str(), nullptr, nullptr, nullptr, &phase.array); },
                                ERR_CANT_CREATE_FILE,
                                {dir.path()}});
        EXPECT_GE(operations, existing ? 6 : 5);
    }
    // The order that makes a replacement durable: the data reaches the disk
    // before the rename, and the folder's entry after it. A new name has no old
    // contents to keep and is renamed into place unsynced.
    test::TempDir dir;
    {
        test::FileFault count_only(0);
        ASSERT_EQ(write_data_file(dir.file("x.dat").c_str(), nullptr, nullptr, nullptr, &phase.array), 0);
        EXPECT_EQ(test::op_names(count_only.operations()), "open write write close rename");
    }
    test::FileFault count_only(0);
    ASSERT_EQ(write_data_file(dir.file("x.dat").c_str(), nullptr, nullptr, nullptr, &phase.array), 0);
    EXPECT_EQ(test::op_names(count_only.operations()), platform::path_separator() == '/'
                                                           ? "open write write sync close rename open sync close"
                                                           : "open write write sync close rename");
}

TEST(DataFileWriter, EveryAllocationFailureGivesNoMem) {
    test::TempDir dir;
    std::vector<int16_t> samples(100, 5);
    intensity_array intensity{100, 0, 0, 10, 10, 1, 0, samples.data()};
    SmallPhase phase;
    int total;
    {
        test::AllocFailure count_only(0);
        ASSERT_EQ(write_data_file(dir.file("a").c_str(), nullptr, nullptr, &intensity, &phase.array), 0);
        total = count_only.count();
    }
    ASSERT_GE(total, 2);
    for (int k = 1; k <= total; ++k) {
        test::AllocFailure fail(k);
        EXPECT_EQ(write_data_file(dir.file("b").c_str(), nullptr, nullptr, &intensity, &phase.array), ERR_NO_MEM) << k;
        EXPECT_EQ(fail.outstanding(), 0) << k;
    }
}

TEST(DataFileWriter, AppendsAtTheEndOfAnOpenStream) {
    test::TempDir dir;
    const std::string path = dir.file("s.dat");
    test::write_file(path, "PREFIX");
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    SmallPhase phase;
    EXPECT_EQ(write_data_stream(f, nullptr, nullptr, nullptr, &phase.array), 0);
    std::fclose(f);
    const std::string bytes = test::read_file(path);
    EXPECT_EQ(bytes.substr(0, 6), "PREFIX");
    EXPECT_EQ(be32_at(bytes, 6), 0x881B036Fu);
}

TEST(DataFileReader, RoundTripOfEveryFormat) {
    test::TempDir dir;
    const std::string path = dir.file("rt.dat");
    std::vector<int16_t> samples(24);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(1000 - i * 100);
    intensity_array intensity{24, 0, 0, 4, 3, 2, 77, samples.data()};
    SmallPhase phase;
    phase.array.origin_x = 5;
    phase.array.origin_y = -6;
    for (int16_t res : {0, 2, 3}) {
        data_header header{};
        header.phase_res = res;
        header.wavelength = 1.5e-6f;
        header.mag3 = -2.25f;
        header.sys3_long = 123456;
        std::strcpy(header.psn, "part");
        if (res == 3) header.num1450 = 0xDEADBEEF;
        sw_info sw{1, "Ostrabel", 1, 2, 3};
        ASSERT_EQ(write_data_file(path.c_str(), &sw, &header, &intensity, &phase.array), 0);

        sw_info sw_back{};
        data_header back{};
        intensity_array in_back{};
        data_array ph_back{};
        ASSERT_EQ(read_data_file(path.c_str(), &sw_back, &back, &in_back, &ph_back), 0);
        EXPECT_EQ(std::memcmp(&back, &header, sizeof header), 0) << res;
        EXPECT_EQ(std::memcmp(&sw_back, &sw, sizeof sw), 0);
        EXPECT_EQ(in_back.frames, 2);
        EXPECT_EQ(in_back.aux, 77);
        EXPECT_EQ(std::memcmp(in_back.data, samples.data(), 48), 0);
        EXPECT_EQ(ph_back.origin_x, 5);
        EXPECT_EQ(ph_back.origin_y, -6);
        EXPECT_EQ(std::memcmp(ph_back.data, phase.samples, 24), 0);
        da_release(&in_back);
        da_release(&ph_back);
    }
}

TEST(DataFileReader, RefusesForeignShortAndInconsistentFiles) {
    test::TempDir dir;
    const std::string path = dir.file("bad.dat");
    SmallPhase phase;
    ASSERT_EQ(write_data_file(path.c_str(), nullptr, nullptr, nullptr, &phase.array), 0);
    const std::string good = test::read_file(path);
    data_array back{};

    EXPECT_EQ(read_data_file(dir.file("missing").c_str(), nullptr, nullptr, nullptr, &back), ERR_CANT_OPEN_FILE);
    test::write_file(path, "not a data file at all");
    EXPECT_EQ(read_data_file(path.c_str(), nullptr, nullptr, nullptr, &back), ERR_NOT_A_DATA_FILE);
    test::write_file(path, good.substr(0, good.size() - 1));
    EXPECT_EQ(read_data_file(path.c_str(), nullptr, nullptr, nullptr, &back), ERR_PREMATURE_EOF);
    std::string wrong_count = good;
    wrong_count[75] = 25;  // phase byte count no longer width x height x 4
    test::write_file(path, wrong_count);
    EXPECT_EQ(read_data_file(path.c_str(), nullptr, nullptr, nullptr, &back), ERR_CORRUPT_DATA_FILE);
    std::string wrong_format = good;
    wrong_format[5] = 3;
    test::write_file(path, wrong_format);
    EXPECT_EQ(read_data_file(path.c_str(), nullptr, nullptr, nullptr, &back), ERR_CORRUPT_DATA_FILE);
    EXPECT_EQ(back.data, nullptr);
}

// Byte counts and shapes of a damaged file: a shape is never handed out without
// its samples, and counts are unsigned (2 GiB and more is a short file).
TEST(DataFileReader, ByteCountsMustMatchTheirShapes) {
    test::TempDir dir;
    const std::string path = dir.file("shape.dat");
    std::vector<int16_t> samples(12, 7);
    intensity_array intensity{12, 0, 0, 3, 2, 2, 0, samples.data()};
    SmallPhase phase;
    ASSERT_EQ(write_data_file(path.c_str(), nullptr, nullptr, &intensity, &phase.array), 0);
    const std::string good = test::read_file(path);
    auto be16 = [](std::string& b, size_t at, uint16_t v) { store_be16(reinterpret_cast<unsigned char*>(&b[at]), v); };
    auto be32 = [](std::string& b, size_t at, uint32_t v) { store_be32(reinterpret_cast<unsigned char*>(&b[at]), v); };
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        int32_t code;
    };
    const Case cases[] = {
        {"phase count 0, shape 3 x 2", [&](std::string& b) { be32(b, 72, 0); }, ERR_CORRUPT_DATA_FILE},
        {"intensity count 0, shape 3 x 2 x 2", [&](std::string& b) { be32(b, 60, 0); }, ERR_CORRUPT_DATA_FILE},
        {"phase count 0, width -3 height -2",
         [&](std::string& b) {
             be32(b, 72, 0);
             be16(b, 68, 0xFFFD);
             be16(b, 70, 0xFFFE);
         },
         ERR_CORRUPT_DATA_FILE},
        {"intensity count 0, negative frames",
         [&](std::string& b) {
             be32(b, 60, 0);
             be16(b, 56, 0xFFFF);
         },
         ERR_CORRUPT_DATA_FILE},
        {"2 GiB phase map in a short file",
         [&](std::string& b) {
             be16(b, 68, 32767);
             be16(b, 70, 16385);
             be32(b, 72, 32767u * 16385u * 4u);
         },
         ERR_PREMATURE_EOF},
        {"no phase: shape and count 0",
         [&](std::string& b) {
             be16(b, 68, 0);
             be16(b, 70, 0);
             be32(b, 72, 0);
         },
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = good;
        c.damage(bytes);
        test::write_file(path, bytes);
        intensity_array in_back{};
        data_array ph_back{};
        EXPECT_EQ(read_data_file(path.c_str(), nullptr, nullptr, &in_back, &ph_back), c.code);
        if (c.code == 0) {
            EXPECT_EQ(ph_back.data, nullptr);
            EXPECT_EQ(int64_t{ph_back.width} * ph_back.height, 0);
            ASSERT_NE(in_back.data, nullptr);
        }
        da_release(&in_back);
        da_release(&ph_back);
    }
}

TEST(DataFileReader, TextsOfAFullFieldEndWithAZero) {
    test::TempDir dir;
    const std::string path = dir.file("texts.dat");
    SmallPhase phase;
    data_header header{};
    std::memset(header.comment, 'c', sizeof header.comment);
    std::memset(header.onm, 'o', sizeof header.onm);
    std::memset(header.pnm, 'p', sizeof header.pnm);
    sw_info sw{};
    std::memset(sw.name, 'n', sizeof sw.name);
    ASSERT_EQ(write_data_file(path.c_str(), &sw, &header, nullptr, &phase.array), 0);
    data_header back{};
    sw_info sw_back{};
    data_array ph_back{};
    ASSERT_EQ(read_data_file(path.c_str(), &sw_back, &back, nullptr, &ph_back), 0);
    EXPECT_EQ(std::string(back.comment), std::string(sizeof back.comment - 1, 'c'));
    EXPECT_EQ(std::string(back.onm), std::string(sizeof back.onm - 1, 'o'));
    EXPECT_EQ(std::string(back.pnm), std::string(sizeof back.pnm - 1, 'p'));
    EXPECT_EQ(std::string(sw_back.name), std::string(sizeof sw_back.name - 1, 'n'));
    da_release(&ph_back);
}

TEST(DataArrays, AllocateReshapeAndRelease) {
    data_array a{};
    EXPECT_EQ(da_alloc(&a), ERR_PARAM_OUT_OF_RANGE);
    a.width = -3;
    a.height = 2;
    EXPECT_EQ(da_alloc(&a), ERR_PARAM_OUT_OF_RANGE);
    a.width = 3;
    ASSERT_EQ(da_alloc(&a), 0);
    EXPECT_EQ(a.capacity, 6);
    int32_t* storage = a.data;
    // Shrinking with keep-storage keeps the larger block.
    ASSERT_EQ(da_reshape(&a, 1, 1, 2, 2, true), 0);
    EXPECT_EQ(a.data, storage);
    EXPECT_EQ(a.capacity, 6);
    EXPECT_EQ(a.width, 2);
    // Growing reallocates.
    ASSERT_EQ(da_reshape(&a, 0, 0, 4, 4, true), 0);
    EXPECT_EQ(a.capacity, 16);
    // A zero count releases the data and keeps the shape.
    ASSERT_EQ(da_reshape(&a, 0, 0, 0, 9, false), 0);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.capacity, 0);
    EXPECT_EQ(a.width, 4);
    {
        test::AllocFailure fail(1);
        EXPECT_EQ(da_reshape(&a, 0, 0, 5, 5, false), ERR_NO_MEM);
        EXPECT_EQ(a.width, 4);
        EXPECT_EQ(a.capacity, 0);
    }
    a.origin_x = 7;
    ASSERT_EQ(da_reshape(&a, 7, 0, 2, 2, false), 0);
    da_release(&a);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.width, 0);
    EXPECT_EQ(a.origin_x, 7);

    intensity_array in{};
    in.width = 4;
    in.height = 4;
    in.frames = 3;
    ASSERT_EQ(da_alloc(&in), 0);
    EXPECT_EQ(in.capacity, 48);
    da_release(&in);
}

}  // namespace mf
