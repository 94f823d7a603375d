#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "common/bytes.h"
#include "common/errors.h"
#include "ramp/ramp_file.h"
#include "tests/support/alloc_fail.h"
#include "tests/support/file_faults.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace mf {

namespace {

const unsigned char* bytes_of(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// A header whose bytes are all distinct, with the fields the layout tests read set
// to known values.
rr_ramp_hdr_t sample_header() {
    unsigned char image[rr_ramp_hdr_size];
    for (size_t i = 0; i < sizeof image; ++i)
        image[i] = static_cast<unsigned char>(i * 7 + 3);
    rr_ramp_hdr_t h;
    rr_decode_ramp_hdr(image, &h);
    h.rampType = 17;
    h.pztID = 0x01020304;
    h.rampID = -2;
    h.nPoints = 3;
    h.sampleClkFreq = 2.5f;
    h.polar = 'b';
    h.reserved164 = 0x0A0B0C0D;
    h.fringesPerFrame = 0.75f;
    h.objMag = 50.0f;
    h.wavelenSelect = 0x11223344;
    h.reserved180[0] = 0x55667788;
    h.reserved180[3] = -1;
    return h;
}

const uint16_t sample_points[3] = {0x0102, 0xFFFE, 32768};

std::string written(const test::TempDir& dir, const rr_ramp_hdr_t& h, const uint16_t* points) {
    const std::string path = dir.file("ramp.bin");
    EXPECT_EQ(rr_write_ramp_file(path.c_str(), &h, points), 0);
    return test::read_file(path);
}

}  // namespace

TEST(RampFileLayout, BeginsWithRamqThenMixedByteOrder) {
    test::TempDir dir;
    const rr_ramp_hdr_t h = sample_header();
    const std::string bytes = written(dir, h, sample_points);
    ASSERT_EQ(bytes.size(), 328u + 6u);
    const unsigned char* b = bytes_of(bytes);
    EXPECT_EQ(bytes.substr(0, 4), "RAMQ");
    // Integer words of the first part: high byte first.
    EXPECT_EQ(bytes.substr(8, 4), std::string("\x01\x02\x03\x04", 4));
    EXPECT_EQ(load_be32(b + 4), 17u);
    EXPECT_EQ(static_cast<int32_t>(load_be32(b + 12)), -2);
    // sampleClkFreq at 36: the float's bits high byte first (2.5f = 0x40200000).
    EXPECT_EQ(bytes.substr(36, 4), std::string("\x40\x20\x00\x00", 4));
    // The polar letter sits in the low-order byte of its word: the word's last byte.
    EXPECT_EQ(bytes.substr(84, 4), std::string("\0\0\0b", 4));
    EXPECT_EQ(load_be32(b + 164), 0x0A0B0C0Du);
    // fringesPerFrame at 168: low byte first (0.75f = 0x3F400000).
    EXPECT_EQ(bytes.substr(168, 4), std::string("\x00\x00\x40\x3F", 4));
    EXPECT_EQ(load_le32(b + 172), std::bit_cast<uint32_t>(50.0f));
    EXPECT_EQ(bytes.substr(176, 4), std::string("\x44\x33\x22\x11", 4));
    EXPECT_EQ(load_le32(b + 180), 0x55667788u);
    EXPECT_EQ(load_le32(b + 192), 0xFFFFFFFFu);
    EXPECT_EQ(std::memcmp(b + 196, h.spare, 132), 0);
    // Points high byte first after the header.
    EXPECT_EQ(bytes.substr(328), std::string("\x01\x02\xFF\xFE\x80\x00", 6));
}

TEST(RampFileLayout, WriterSetsMagicWithoutChangingTheCallersRecord) {
    test::TempDir dir;
    rr_ramp_hdr_t h = sample_header();
    h.magicNumber = 0x12345678;
    const rr_ramp_hdr_t before = h;
    const std::string bytes = written(dir, h, sample_points);
    EXPECT_EQ(bytes.substr(0, 4), "RAMQ");
    EXPECT_EQ(std::memcmp(&h, &before, sizeof h), 0);
}

TEST(RampFileRoundTrip, HeaderAndPointsReadBackExactly) {
    test::TempDir dir;
    const std::string path = dir.file("ramp.bin");
    rr_ramp_hdr_t h = sample_header();
    h.magicNumber = rr_ramp_magic;
    ASSERT_EQ(rr_write_ramp_file(path.c_str(), &h, sample_points), 0);
    rr_ramp_hdr_t back;
    uint16_t* points = nullptr;
    ASSERT_EQ(rr_read_ramp_file(path.c_str(), &back, &points), 0);
    EXPECT_EQ(std::memcmp(&back, &h, sizeof h), 0);
    ASSERT_NE(points, nullptr);
    EXPECT_EQ(points[0], 0x0102);
    EXPECT_EQ(points[1], 0xFFFE);
    EXPECT_EQ(points[2], 32768);
    u_free(points);
}

TEST(RampFileRoundTrip, HeaderOnlyWhenPointsAreNotWanted) {
    test::TempDir dir;
    const std::string path = dir.file("ramp.bin");
    const rr_ramp_hdr_t h = sample_header();
    ASSERT_EQ(rr_write_ramp_file(path.c_str(), &h, sample_points), 0);
    rr_ramp_hdr_t back;
    test::AllocFailure counter(0);
    ASSERT_EQ(rr_read_ramp_file(path.c_str(), &back, nullptr), 0);
    EXPECT_EQ(back.nPoints, 3);
    EXPECT_EQ(back.pztID, 0x01020304);
    EXPECT_EQ(counter.count(), 0);
}

TEST(RampFileRoundTrip, ZeroPointsGiveNoBufferAndReleaseTheOldOne) {
    test::TempDir dir;
    const std::string path = dir.file("ramp.bin");
    rr_ramp_hdr_t h = sample_header();
    h.nPoints = 0;
    ASSERT_EQ(rr_write_ramp_file(path.c_str(), &h, sample_points), 0);
    EXPECT_EQ(test::read_file(path).size(), 328u);
    test::AllocFailure counter(0);
    auto* points = static_cast<uint16_t*>(u_malloc(8));
    rr_ramp_hdr_t back;
    ASSERT_EQ(rr_read_ramp_file(path.c_str(), &back, &points), 0);
    EXPECT_EQ(points, nullptr);
    EXPECT_EQ(back.nPoints, 0);
    EXPECT_EQ(counter.outstanding(), 0);
}

TEST(RampFileReader, WrongMagicIsNotARampFile) {
    test::TempDir dir;
    const std::string path = dir.file("ramp.bin");
    std::string bytes = written(dir, sample_header(), sample_points);
    bytes.replace(0, 4, "QMAR");
    test::write_file(path, bytes);
    rr_ramp_hdr_t back;
    std::memset(&back, 0x5A, sizeof back);
    uint16_t* points = nullptr;
    EXPECT_EQ(rr_read_ramp_file(path.c_str(), &back, &points), ERR_NOT_A_RAMP_FILE);
    EXPECT_EQ(points, nullptr);
    EXPECT_EQ(back.pztID, 0);
    EXPECT_EQ(back.nPoints, 0);
}

TEST(RampFileReader, ShortFilesArePrematureEof) {
    test::TempDir dir;
    const std::string path = dir.file("ramp.bin");
    const std::string full = written(dir, sample_header(), sample_points);
    for (size_t size : {size_t{0}, size_t{3}, size_t{4}, size_t{200}, size_t{327}}) {
        test::write_file(path, full.substr(0, size));
        rr_ramp_hdr_t back;
        EXPECT_EQ(rr_read_ramp_file(path.c_str(), &back, nullptr), ERR_PREMATURE_EOF) << size;
        EXPECT_EQ(back.magicNumber, 0) << size;
    }
    test::write_file(path, "QMA");
    rr_ramp_hdr_t back;
    EXPECT_EQ(rr_read_ramp_file(path.c_str(), &back, nullptr), ERR_PREMATURE_EOF);
}

TEST(RampFileReader, TooFewPointsIsCorruptAndLeavesNoBuffer) {
    test::TempDir dir;
    const std::string path = dir.file("ramp.bin");
    const std::string full = written(dir, sample_header(), sample_points);
    for (size_t cut : {size_t{1}, size_t{2}, size_t{6}}) {
        test::write_file(path, full.substr(0, full.size() - cut));
        test::AllocFailure counter(0);
        rr_ramp_hdr_t back;
        uint16_t* points = nullptr;
        EXPECT_EQ(rr_read_ramp_file(path.c_str(), &back, &points), ERR_CORRUPT_RAMP_FILE) << cut;
        EXPECT_EQ(points, nullptr);
        // Refused from the file size, before any buffer exists.
        EXPECT_EQ(counter.count(), 0);
        // The header itself was whole and stays decoded.
        EXPECT_EQ(back.nPoints, 3);
    }
}

TEST(RampFileReader, ImpossiblePointCountsAreRefusedBeforeAllocation) {
    test::TempDir dir;
    const std::string path = dir.file("ramp.bin");
    for (int32_t n : {-1, INT32_MIN, INT32_MAX, 4}) {
        std::string bytes = written(dir, sample_header(), sample_points);
        store_be32(reinterpret_cast<unsigned char*>(bytes.data()) + 16, static_cast<uint32_t>(n));
        test::write_file(path, bytes);
        test::AllocFailure counter(0);
        auto* points = static_cast<uint16_t*>(u_malloc(4));
        rr_ramp_hdr_t back;
        EXPECT_EQ(rr_read_ramp_file(path.c_str(), &back, &points), ERR_CORRUPT_RAMP_FILE) << n;
        EXPECT_EQ(points, nullptr);
        EXPECT_EQ(counter.count(), 1) << n;  // only the caller's own buffer
        EXPECT_EQ(counter.outstanding(), 0);
    }
}

TEST(RampFileReader, NegativeCountIsCorruptEvenForAHeaderOnlyRead) {
    test::TempDir dir;
    const std::string path = dir.file("ramp.bin");
    std::string bytes = written(dir, sample_header(), sample_points);
    store_be32(reinterpret_cast<unsigned char*>(bytes.data()) + 16, 0xFFFFFFF0u);
    test::write_file(path, bytes);
    rr_ramp_hdr_t back;
    EXPECT_EQ(rr_read_ramp_file(path.c_str(), &back, nullptr), ERR_CORRUPT_RAMP_FILE);
}

TEST(RampFileReader, AllocationFailureIsNoMemWithoutLeak) {
    test::TempDir dir;
    const std::string path = dir.file("ramp.bin");
    written(dir, sample_header(), sample_points);
    test::AllocFailure fail(1);
    rr_ramp_hdr_t back;
    uint16_t* points = nullptr;
    EXPECT_EQ(rr_read_ramp_file(path.c_str(), &back, &points), ERR_NO_MEM);
    EXPECT_EQ(points, nullptr);
    EXPECT_EQ(fail.outstanding(), 0);
}

TEST(RampFileReader, ParameterAndOpenFailures) {
    test::TempDir dir;
    rr_ramp_hdr_t back;
    uint16_t* points = nullptr;
    EXPECT_EQ(rr_read_ramp_file(dir.file("missing.b1").c_str(), &back, &points), ERR_CANT_OPEN_FILE);
    EXPECT_NE(rr_read_ramp_file(dir.path().c_str(), &back, &points), 0);
    EXPECT_EQ(rr_read_ramp_file(nullptr, &back, &points), ERR_CANT_OPEN_FILE);
    EXPECT_EQ(rr_read_ramp_file(dir.file("x").c_str(), nullptr, &points), ERR_INVALID_PARAM);
}

TEST(RampFileWriter, FailureCodes) {
    test::TempDir dir;
    rr_ramp_hdr_t h = sample_header();
    const std::string path = dir.file("ramp.bin");
    EXPECT_EQ(rr_write_ramp_file(path.c_str(), nullptr, sample_points), ERR_INVALID_PARAM);
    EXPECT_EQ(rr_write_ramp_file(path.c_str(), &h, nullptr), ERR_INVALID_PARAM);
    h.nPoints = -1;
    EXPECT_EQ(rr_write_ramp_file(path.c_str(), &h, sample_points), ERR_INVALID_PARAM);
    h.nPoints = 3;
    EXPECT_EQ(rr_write_ramp_file(dir.file("no/such/dir/r.b1").c_str(), &h, sample_points), ERR_CANT_CREATE_FILE);
    {
        test::AllocFailure fail(1);
        EXPECT_EQ(rr_write_ramp_file(path.c_str(), &h, sample_points), ERR_NO_MEM);
        EXPECT_EQ(fail.outstanding(), 0);
    }
    // A stream that refuses writes.
    test::write_file(path, "x");
    std::FILE* ro = std::fopen(path.c_str(), "rb");
    ASSERT_NE(ro, nullptr);
    EXPECT_EQ(rr_write_ramp_stream(ro, &h, sample_points), ERR_CANT_WRITE_FILE);
    std::fclose(ro);
}

TEST(RampFileLayout, EveryFileFaultLeavesTheFileWholeOrNew) {
    const rr_ramp_hdr_t h = sample_header();
    test::TempDir reference;
    const std::string complete = written(reference, h, sample_points);
    for (const bool existing : {true, false}) {
        test::TempDir dir;
        const std::string path = dir.file("ramp.bin");
        test::sweep_writer({path,
                            "an older ramp",
                            existing,
                            complete,
                            [&] { return rr_write_ramp_file(path.c_str(), &h, sample_points); },
                            ERR_CANT_CREATE_FILE,
                            {dir.path()}});
    }
}

}  // namespace mf
