#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/error_codes.h"
#include "devctl/rtio.h"
#include "tests/support/capture.h"

namespace mf {
namespace {

// A register driver that records each request block as it arrives and answers reads.
struct FakeDriver {
    static inline int opens = 0, closes = 0, requests = 0;
    static inline int fail_open = 0, fail_close = 0, fail_request = 0;  // system error to report, 0: succeed
    static inline rtio_handle last_handle = RTIO_INVALID_HANDLE;
    static inline int last_number = -1;
    static inline std::vector<uint8_t> seen;  // the 12 bytes the driver received
    static inline uint32_t answer = 0;

    static bool open(int n, rtio_handle* h, int* err) {
        ++opens;
        last_number = n;
        if (fail_open) return *err = fail_open, false;
        *h = 0x40 + n;
        return true;
    }
    static bool close(rtio_handle h, int* err) {
        ++closes;
        last_handle = h;
        if (fail_close) return *err = fail_close, false;
        return true;
    }
    static bool request(rtio_handle h, platform::rtio_block* block, int* err) {
        ++requests;
        last_handle = h;
        seen.assign(12, 0);
        std::memcpy(seen.data(), block, 12);
        if (fail_request) return *err = fail_request, false;
        block->value = answer;
        return true;
    }
    static void reset() {
        opens = closes = requests = 0;
        fail_open = fail_close = fail_request = 0;
        last_handle = RTIO_INVALID_HANDLE;
        last_number = -1;
        seen.clear();
        answer = 0;
    }
};

const rtio_driver fake = {FakeDriver::open, FakeDriver::close, FakeDriver::request};

class Rtio : public ::testing::Test {
protected:
    void SetUp() override {
        FakeDriver::reset();
        rtio_set_driver(&fake);
    }
    void TearDown() override { rtio_set_driver(nullptr); }
    test::SinkCapture sink;
};

std::vector<uint8_t> block_bytes(uint32_t op, uint32_t offset, uint32_t value) {
    // Three 32-bit fields in the driver's (little-endian) byte order.
    std::vector<uint8_t> b;
    for (uint32_t v : {op, offset, value})
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
}

TEST_F(Rtio, OpenHandsBackTheDriverHandle) {
    rtio_handle h = RTIO_INVALID_HANDLE;
    EXPECT_EQ(rtio_open(3, &h), 0);
    EXPECT_EQ(FakeDriver::last_number, 3);
    EXPECT_EQ(h, 0x43);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(Rtio, OpenFailureLeavesHandleInvalidAndReportsSystemError) {
    FakeDriver::fail_open = 2;
    rtio_handle h = 0x1234;
    EXPECT_EQ(rtio_open(0, &h), ERR_CANT_OPEN_FILE);
    EXPECT_EQ(h, RTIO_INVALID_HANDLE);
    EXPECT_EQ(sink.text(), "rtio_open failed: win_err = 2\n");
}

TEST_F(Rtio, CloseRules) {
    rtio_handle h = RTIO_INVALID_HANDLE;
    EXPECT_EQ(rtio_close(&h), ERR_INVALID_PARAM);
    EXPECT_EQ(FakeDriver::closes, 0);

    h = 0x41;
    FakeDriver::fail_close = 6;
    EXPECT_EQ(rtio_close(&h), ERR_CANT_CLOSE_DEVICE);
    EXPECT_EQ(h, 0x41);
    EXPECT_EQ(sink.text(), "rtio_close failed: win_err = 6\n");

    FakeDriver::fail_close = 0;
    EXPECT_EQ(rtio_close(&h), 0);
    EXPECT_EQ(FakeDriver::last_handle, 0x41);
    EXPECT_EQ(h, RTIO_INVALID_HANDLE);
}

TEST_F(Rtio, WriteHelpersSendOperationOffsetAndTruncatedValue) {
    const rtio_handle h = 0x41;
    EXPECT_EQ(rtio_write8(h, 0x10, 0xA5), 0);
    EXPECT_EQ(FakeDriver::seen, block_bytes(4, 0x10, 0xA5));
    EXPECT_EQ(rtio_write16(h, 0x1234, 0xBEEF), 0);
    EXPECT_EQ(FakeDriver::seen, block_bytes(5, 0x1234, 0xBEEF));
    EXPECT_EQ(rtio_write32(h, 0xFFFFFFFC, 0x89ABCDEF), 0);
    EXPECT_EQ(FakeDriver::seen, block_bytes(6, 0xFFFFFFFC, 0x89ABCDEF));
    EXPECT_EQ(FakeDriver::last_handle, h);

    uint32_t wide = 0x12345678;
    EXPECT_EQ(rtio_in_out(1, h, 4, &wide, 1), 0);
    EXPECT_EQ(FakeDriver::seen, block_bytes(4, 4, 0x78));
    EXPECT_EQ(rtio_in_out(1, h, 4, &wide, 2), 0);
    EXPECT_EQ(FakeDriver::seen, block_bytes(5, 4, 0x5678));
    EXPECT_EQ(wide, 0x12345678u);
}

TEST_F(Rtio, ReadHelpersReturnTheDriversValue) {
    const rtio_handle h = 0x41;
    FakeDriver::answer = 0xCAFEF00D;
    uint8_t v8 = 0;
    uint16_t v16 = 0;
    uint32_t v32 = 0;
    EXPECT_EQ(rtio_read8(h, 0x20, &v8), 0);
    EXPECT_EQ(FakeDriver::seen, block_bytes(1, 0x20, 0));
    EXPECT_EQ(v8, 0x0D);
    EXPECT_EQ(rtio_read16(h, 0x22, &v16), 0);
    EXPECT_EQ(FakeDriver::seen, block_bytes(2, 0x22, 0));
    EXPECT_EQ(v16, 0xF00D);
    EXPECT_EQ(rtio_read32(h, 0x24, &v32), 0);
    EXPECT_EQ(FakeDriver::seen, block_bytes(3, 0x24, 0));
    EXPECT_EQ(v32, 0xCAFEF00Du);
}

TEST_F(Rtio, InvalidRequestsNeverReachTheDriver) {
    uint32_t v = 7;
    EXPECT_EQ(rtio_in_out(0, RTIO_INVALID_HANDLE, 0, &v, 4), ERR_INVALID_PARAM);
    EXPECT_EQ(rtio_in_out(0, 0x41, 0, &v, 3), ERR_INVALID_PARAM);
    EXPECT_EQ(rtio_in_out(1, 0x41, 0, &v, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(rtio_in_out(1, 0x41, 0, &v, 8), ERR_INVALID_PARAM);
    EXPECT_EQ(rtio_in_out(2, 0x41, 0, &v, 4), ERR_INVALID_PARAM);
    EXPECT_EQ(rtio_write8(RTIO_INVALID_HANDLE, 0, 1), ERR_INVALID_PARAM);
    EXPECT_EQ(FakeDriver::requests, 0);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(Rtio, DriverFailureIsErrRtioAndLeavesReadValueAlone) {
    FakeDriver::fail_request = 31;
    FakeDriver::answer = 99;
    uint32_t v = 5;
    EXPECT_EQ(rtio_read32(0x41, 8, &v), ERR_RTIO);
    EXPECT_EQ(v, 5u);
    EXPECT_EQ(rtio_write16(0x41, 8, 1), ERR_RTIO);
    EXPECT_EQ(sink.text(), "rtio_in_out failed: win_err = 31\nrtio_in_out failed: win_err = 31\n");
}

TEST(RtioDevice, MissingDeviceFailsThroughThePlatform) {
    test::SinkCapture sink;
    rtio_handle h = 0x99;
    EXPECT_EQ(rtio_open(97, &h), ERR_CANT_OPEN_FILE);
    EXPECT_EQ(h, RTIO_INVALID_HANDLE);
    const std::string text = sink.text();
    const std::string prefix = "rtio_open failed: win_err = ";
    ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
    EXPECT_NE(text, prefix + "0\n");
}

}  // namespace
}  // namespace mf
