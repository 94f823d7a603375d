#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/error_codes.h"
#include "serial/temp_sensor.h"
#include "sim/serial/temp_sensor_peer.h"
#include "tests/serial/virtual_line.h"
#include "tests/support/capture.h"

namespace mf {
namespace {

using Fault = sim::TempSensorPeer::Fault;

std::string sent_text(const test::VirtualLine& v) {
    std::vector<uint8_t> s = v.line->sent();
    return std::string(s.begin(), s.end());
}

std::string reply(const std::string& text, int bcc_flip = 0) {
    std::string body = text + '\x03';
    uint8_t bcc = temp_bcc(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    return '\x02' + body + static_cast<char>(bcc ^ bcc_flip);
}

TEST(TempFrame, WriteAndReadFramesByteForByte) {
    EXPECT_EQ(temp_frame("IM0002.", 7, TEMP_KIND_WRITE), std::string("\x04"
                                                                     "0011\x02IM0002.\x03\x2B"));
    EXPECT_EQ(temp_frame("PV", 2, TEMP_KIND_READ), std::string("\x04"
                                                               "0011PV\x05"));
    EXPECT_EQ(temp_frame("PV", 2, 3), "");
    const uint8_t data[] = {0x49, 0x4D, 0x03};
    EXPECT_EQ(temp_bcc(data, 3), 0x49 ^ 0x4D ^ 0x03);
    EXPECT_EQ(temp_bcc(data, 0), 0);
}

class TempPeer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(temp_comm_open(&v.port, v.name()), 0); }
    sim::TempSensorPeer peer;
    test::VirtualLine v{&peer};
};

TEST_F(TempPeer, OpenSetsTheSensorLine) {
    sio_settings s = v.line->settings();
    EXPECT_EQ(s.baud, 9600u);
    EXPECT_EQ(s.byte_size, 7);
    EXPECT_EQ(s.parity, 2);
    EXPECT_TRUE(s.parity_check);
    EXPECT_EQ(s.stop_bits, platform::SERIAL_STOP_1);
    EXPECT_FALSE(s.out_xon_xoff);
    EXPECT_EQ(temp_comm_close(&v.port), 0);
    EXPECT_EQ(temp_comm_close(nullptr), 0);
}

TEST_F(TempPeer, PowerOnWritesAndReadsBack) {
    v.line->clear_sent();
    char im[] = "IM0002.";
    ASSERT_EQ(temp_comm_write(v.handle(), im, 7, TEMP_KIND_WRITE, sizeof im), 0);
    EXPECT_EQ(sent_text(v), std::string("\x04"
                                        "0011\x02IM0002.\x03\x2B"));
    EXPECT_STREQ(im, "IM0002.");
    char qd[] = "QD0002.";
    ASSERT_EQ(temp_comm_write(v.handle(), qd, 7, TEMP_KIND_WRITE, sizeof qd), 0);
    EXPECT_EQ(peer.value("IM"), "0002.");
    EXPECT_EQ(peer.value("QD"), "0002.");

    char text[TEMP_TEXT_SIZE] = "IM";
    ASSERT_EQ(temp_comm_write(v.handle(), text, 2, TEMP_KIND_READ, sizeof text), 0);
    EXPECT_STREQ(text, "0002.");
    std::strcpy(text, "PV");
    ASSERT_EQ(temp_comm_write(v.handle(), text, 2, TEMP_KIND_READ, sizeof text), 0);
    EXPECT_STREQ(text, "0023.5");
    EXPECT_EQ(v.line->pending(), 0u);
}

TEST_F(TempPeer, NakAsksForTheErrorStatus) {
    peer.inject(Fault::nak);
    test::SinkCapture cap;
    char im[] = "IM0002.";
    EXPECT_EQ(temp_comm_write(v.handle(), im, 7, TEMP_KIND_WRITE, sizeof im), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(cap.text(),
              "temp_comm_read: received NAK\n"
              "char: 0x2\nchar: 0x45\nchar: 0x45\nchar: 0x30\nchar: 0x37\nchar: 0x3\n");
    EXPECT_EQ(v.line->pending(), 0u);  // the block check after ETX is not left behind
    std::string sent = sent_text(v);
    EXPECT_EQ(sent.substr(sent.size() - 8), std::string("\x04"
                                                        "0011EE\x05"));
}

TEST_F(TempPeer, ReplyFailures) {
    test::SinkCapture cap;
    char text[TEMP_TEXT_SIZE] = "PV";

    peer.inject(Fault::bad_bcc);
    EXPECT_EQ(temp_comm_write(v.handle(), text, 2, TEMP_KIND_READ, sizeof text), ERR_TEMP_SENSOR_CHECKSUM);
    std::string body = "PV0023.5\x03";
    int calc = temp_bcc(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    EXPECT_EQ(cap.text(), "temp_comm_read: checksums mismatched: sent=" + std::to_string(calc ^ 0x5A) +
                              " calc=" + std::to_string(calc) + "\n");
    EXPECT_STREQ(text, "PV");

    cap.clear();
    peer.inject(Fault::eot);
    EXPECT_EQ(temp_comm_write(v.handle(), text, 2, TEMP_KIND_READ, sizeof text), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(cap.text(), "temp_comm_read: received EOT, respType=2\n");

    cap.clear();
    std::strcpy(text, "XY");  // not a parameter of the instrument
    EXPECT_EQ(temp_comm_write(v.handle(), text, 2, TEMP_KIND_READ, sizeof text), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(cap.text(), "temp_comm_read: received EOT, respType=2\n");

    cap.clear();
    std::strcpy(text, "PV");
    peer.inject(Fault::overlong);
    EXPECT_EQ(temp_comm_write(v.handle(), text, 2, TEMP_KIND_READ, sizeof text), ERR_TEMP_SENSOR_READ);
    EXPECT_EQ(cap.text(), "temp_comm_read: i=TEMP_STR_MAX_LEN\n");
    ASSERT_EQ(sio_clear_buffer(v.handle()), 0);

    cap.clear();
    peer.inject(Fault::garbage);
    EXPECT_EQ(temp_comm_write(v.handle(), text, 2, TEMP_KIND_READ, sizeof text), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(cap.text(), "temp_comm_read: received unknown response character 0x3f\n");

    peer.inject(Fault::wrong_mnemonic);
    EXPECT_EQ(temp_comm_write(v.handle(), text, 2, TEMP_KIND_READ, sizeof text), ERR_TEMP_SENSOR_READ);
    EXPECT_STREQ(text, "PV");

    // A value that does not fit the caller's buffer is refused, not copied.
    char small[4] = "PV";
    EXPECT_EQ(temp_comm_write(v.handle(), small, 2, TEMP_KIND_READ, sizeof small), ERR_TEMP_SENSOR_READ);
    EXPECT_STREQ(small, "PV");

    // Any character but NAK acknowledges a write.
    peer.inject(Fault::garbage);
    char im[] = "IM0003.";
    EXPECT_EQ(temp_comm_write(v.handle(), im, 7, TEMP_KIND_WRITE, sizeof im), 0);
}

TEST_F(TempPeer, SilentSensorTimesOutAndRestoresTheTimeOut) {
    peer.inject(Fault::silence);
    test::SinkCapture cap;
    char text[TEMP_TEXT_SIZE] = "PV";
    EXPECT_EQ(temp_comm_write(v.handle(), text, 2, TEMP_KIND_READ, sizeof text), ERR_TEMP_SENSOR_TIMEOUT);
    EXPECT_EQ(cap.text(), "temp_comm_read: timeout on first byte, respType=2\n");
    EXPECT_EQ(v.clock.slept_ms(), 10000);
    uint32_t s = 0;
    ASSERT_EQ(sio_get_timeout(v.handle(), &s), 0);
    EXPECT_EQ(s, 2u);
}

TEST_F(TempPeer, RequestsRefusedBeforeSending) {
    test::SinkCapture cap;
    v.line->clear_sent();
    char text[TEMP_TEXT_SIZE] = "PV";
    EXPECT_EQ(temp_comm_write(v.handle(), text, 2, 3, sizeof text), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(temp_comm_write(v.handle(), text, 1, TEMP_KIND_READ, sizeof text), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(temp_comm_write(v.handle(), text, -1, TEMP_KIND_WRITE, sizeof text), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(sent_text(v), "");
    // The 255-character limit is on replies: a longer parameter text is sent.
    std::string longest(300, '7');
    ASSERT_EQ(temp_comm_write(v.handle(), longest.data(), 300, TEMP_KIND_WRITE, longest.size() + 1), 0);
    EXPECT_EQ(sent_text(v).size(), 5u + 1 + 300 + 2);
    v.line->clear_sent();
    v.line->faults.write = 5;
    char im[] = "IM0002.";
    EXPECT_EQ(temp_comm_write(v.handle(), im, 7, TEMP_KIND_WRITE, sizeof im), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(cap.text(), "temp_comm_write: sio_send_data failed: nbytes=15\n");
}

// ---- temp_comm_read on raw bytes ----

class TempRead : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(v.open_soft(), 0); }
    test::VirtualLine v;
    char out[TEMP_TEXT_SIZE] = "stale";
};

TEST_F(TempRead, LongestReplyFitsOneMoreDoesNot) {
    const std::string longest(254, '7');
    v.line->feed(reply(longest));
    ASSERT_EQ(temp_comm_read(v.handle(), out, TEMP_KIND_READ), 0);
    EXPECT_EQ(std::string(out), longest);

    test::SinkCapture cap;
    v.line->feed(reply(longest + "8"));
    EXPECT_EQ(temp_comm_read(v.handle(), out, TEMP_KIND_READ), ERR_TEMP_SENSOR_READ);
    EXPECT_EQ(cap.text(), "temp_comm_read: i=TEMP_STR_MAX_LEN\n");
    EXPECT_STREQ(out, "");
}

TEST_F(TempRead, ChecksumMismatchLeavesTheTextEmpty) {
    test::SinkCapture cap;
    v.line->feed(reply("PV0023.5", 1));
    EXPECT_EQ(temp_comm_read(v.handle(), out, TEMP_KIND_READ), ERR_TEMP_SENSOR_CHECKSUM);
    EXPECT_STREQ(out, "");
}

TEST_F(TempRead, TruncatedReplyIsAReadFailure) {
    test::SinkCapture cap;
    v.line->feed(std::string("\x02PV00"));
    EXPECT_EQ(temp_comm_read(v.handle(), out, TEMP_KIND_READ), ERR_TEMP_SENSOR_READ);
    EXPECT_EQ(cap.text(), "temp_comm_read: sio_read_data failed: ERR_TEMP_SENSOR_READ\n");
    cap.clear();
    v.line->feed(std::string("\x02PV00\x03"));  // no block check
    EXPECT_EQ(temp_comm_read(v.handle(), out, TEMP_KIND_READ), ERR_TEMP_SENSOR_READ);
    EXPECT_EQ(cap.text(), "temp_comm_read: sio_read_data failed: ERR_TEMP_SENSOR_READ\n");
}

TEST_F(TempRead, NakErrorQueryFailures) {
    test::SinkCapture cap;
    v.line->feed(std::string("\x15"));
    EXPECT_EQ(temp_comm_read(v.handle(), out, TEMP_KIND_WRITE), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(cap.text(), "temp_comm_read: received NAK\ntemp_comm_read: EE err3 error\n");

    cap.clear();
    v.line->feed(std::string("\x15"));
    v.line->faults.write = 5;
    EXPECT_EQ(temp_comm_read(v.handle(), out, TEMP_KIND_WRITE), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(cap.text(), "temp_comm_read: received NAK\ntemp_comm_read: EE err2 error\n");
}

TEST_F(TempRead, UnknownKindReadsOneCharacter) {
    test::SinkCapture cap;
    v.line->feed(std::string("\x06\x06"));
    EXPECT_EQ(temp_comm_read(v.handle(), out, 7), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(cap.text(), "temp_comm_read: unknown response type 7\n");
    EXPECT_EQ(v.line->pending(), 1u);
}

TEST(TempOpen, FailuresReportAndClose) {
    test::VirtualLine v;
    test::SinkCapture cap;
    v.line->faults.open = 2;
    EXPECT_EQ(temp_comm_open(&v.port, v.name()), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(cap.text(), "temp_comm_open: error initializing device VCOM1: ERR_CANT_OPEN_SERIAL\n");
    v.line->faults.open = 0;
    v.line->faults.get_settings = 1;
    cap.clear();
    EXPECT_EQ(temp_comm_open(&v.port, v.name()), ERR_TEMP_SENSOR_COMM);
    EXPECT_FALSE(v.line->is_open());
    v.line->faults.get_settings = 0;

    ASSERT_EQ(temp_comm_open(&v.port, v.name()), 0);
    cap.clear();
    v.line->faults.close = 5;
    EXPECT_EQ(temp_comm_close(&v.port), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(cap.text(), "temp_comm_close: sio_close failed: ERR_CANT_CLOSE_SERIAL\n");
}

}  // namespace
}  // namespace mf
