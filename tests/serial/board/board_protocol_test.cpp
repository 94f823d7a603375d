#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/error_codes.h"
#include "serial/board/ur_board.h"
#include "tests/serial/board/board_fixture.h"
#include "tests/support/capture.h"

namespace mf {
namespace {

using test::hex;
using Fault = sim::BoardPeer::Fault;

std::vector<uint8_t> reply_bytes(const uint8_t* buf, std::size_t n) { return {buf, buf + n}; }

class Board : public ::testing::Test {
protected:
    Board() : b(ur_family::uz1) {}
    void SetUp() override { ASSERT_EQ(ur_initUZ(&b.si), 0); }

    // ur_writeUZ of a command given without its checksum, in a 128-byte buffer.
    int32_t write(const std::string& packet, bool data_reply) {
        std::vector<uint8_t> p = hex(packet);
        std::memset(buf, 0xEE, sizeof buf);
        std::memcpy(buf, p.data(), p.size());
        return ur_writeUZ(b.port(), p[0], buf, data_reply, false);
    }
    int32_t read(int32_t resp_type) { return ur_readUZ(b.port(), buf, resp_type, &length); }
    std::vector<uint8_t> reply(std::size_t n) const { return {buf, buf + n}; }
    int64_t now() { return b.line.clock.monotonic_ms(); }

    test::DeviceTable devices;
    test::BoardOnLine b;
    uint8_t buf[ur_reply_buffer_size] = {};
    int32_t length = -1;
};

TEST_F(Board, OpensTheLineAndRegistersThePort) {
    const platform::serial_settings s = b.line.line->settings();
    EXPECT_EQ(s.baud, 38400u);
    EXPECT_EQ(s.byte_size, 8);
    EXPECT_EQ(s.parity, platform::SERIAL_PARITY_NONE);
    EXPECT_EQ(s.stop_bits, platform::SERIAL_STOP_1);
    EXPECT_FALSE(s.out_xon_xoff);
    EXPECT_FALSE(s.in_xon_xoff);
    EXPECT_FALSE(s.cts_out_flow);
    EXPECT_EQ(s.rts_control, platform::SERIAL_RTS_HANDSHAKE);
    EXPECT_TRUE(b.line.line->dtr());
    EXPECT_TRUE(dev_is_registered(static_cast<dev_handle>(b.port()->handle)));

    // The worker finds the board when it speaks on its own.
    b.board.send_report(155, 3);
    dev_record found{};
    EXPECT_EQ(dev_data_read(DEV_SERIAL_BOARD, &found, false), DEV_SERIAL_BOARD);
    EXPECT_EQ(found.handle, static_cast<dev_handle>(b.port()->handle));
    EXPECT_EQ(found.object, &b.si);

    const sio_handle h = b.port()->handle;
    EXPECT_EQ(ur_closeUZ(b.port()), 0);
    EXPECT_EQ(b.port()->handle, SIO_INVALID_HANDLE);
    EXPECT_FALSE(dev_is_registered(static_cast<dev_handle>(h)));
    EXPECT_FALSE(b.line.line->is_open());
    EXPECT_EQ(ur_closeUZ(b.port()), ERR_INVALID_PARAM);
    EXPECT_EQ(ur_closeUZ(nullptr), ERR_INVALID_PARAM);
}

TEST_F(Board, SilenceWaitsTenSecondsForTheFirstByteThenRestoresTheTimeout) {
    test::SinkCapture cap;
    b.board.inject(Fault::silence);
    const int64_t start = now();
    EXPECT_EQ(write("02 29", true), ERR_UZ_RECV_TIMEOUT);
    EXPECT_EQ(now() - start, 10000);
    EXPECT_EQ(b.sent(), hex("02 29 29"));
    EXPECT_EQ(cap.text(), "ur_readUZ: timed out on first byte, respType=2\nur_writeUZ failed: cmd=UZ1_POWER_CHK_CMD\n");
    const std::vector<uint32_t> constants = b.line.line->read_constant_history();
    ASSERT_GE(constants.size(), 2u);
    EXPECT_EQ(constants[constants.size() - 2], 10000u);
    EXPECT_EQ(constants.back(), 2000u);
    uint32_t seconds = 0;
    EXPECT_EQ(sio_get_timeout(b.port()->handle, &seconds), 0);
    EXPECT_EQ(seconds, 2u);
}

TEST_F(Board, ReadingReports) {
    b.board.send_report(156, 9, 4000);
    const int64_t start = now();
    ASSERT_EQ(read(UR_RESP_REPORT), 0);
    EXPECT_EQ(now() - start, 4000);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(reply(3), hex("9c 09 a5"));

    // Anything else is read past, three packets at most, then a quiet failure.
    test::SinkCapture cap;
    b.line.line->feed(hex("02 ff ff 03 29 00 29 02 fe fe 03 9b 01 9c"));
    EXPECT_EQ(read(UR_RESP_REPORT), ERR_UZ_RECV_FAILED);
    EXPECT_EQ(cap.text(), "");
    EXPECT_EQ(read(UR_RESP_REPORT), 0);
    EXPECT_EQ(reply(3), hex("9b 01 9c"));

    // A checksum error reaches the direct caller.
    b.line.line->feed(hex("03 9b 01 00"));
    EXPECT_EQ(read(UR_RESP_REPORT), UR_BAD_CHECKSUM);
    // A reply kind outside 1..3 takes a packet and nothing of it.
    b.line.line->feed(hex("02 ff ff"));
    EXPECT_EQ(read(4), 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(b.line.line->pending(), 0u);
}

TEST_F(Board, SendFailureStopsAtOnce) {
    test::SinkCapture cap;
    b.line.line->faults.write = 5;
    EXPECT_EQ(write("02 29", true), ERR_UZ_SEND_FAILED);
    EXPECT_EQ(cap.text(), "ur_writeUZ: sio_send_data failed  i=0  len=3\nur_writeUZ failed: cmd=UZ1_POWER_CHK_CMD\n");
    b.line.line->faults.write = 0;
}

TEST_F(Board, FirstByteWaitNeedsTheTimeoutService) {
    test::SinkCapture cap;
    b.line.line->feed(hex("02 ff ff"));
    b.line.line->faults.set_timeouts = 5;
    EXPECT_EQ(read(UR_RESP_ACK), ERR_UZ_RECV_TIMEOUT);
    b.line.line->faults.set_timeouts = 0;
    b.line.line->faults.get_timeouts = 5;
    EXPECT_EQ(read(UR_RESP_ACK), ERR_UZ_RECV_TIMEOUT);
    b.line.line->faults.get_timeouts = 0;
    EXPECT_EQ(cap.text(),
              "ur_readUZ: timed out on first byte, respType=1\n"
              "ur_readUZ: timed out on first byte, respType=1\n");
    // Nothing was read under a time-out that could not be set.
    EXPECT_EQ(read(UR_RESP_ACK), 0);
    EXPECT_EQ(length, 2);
}

TEST_F(Board, CommandNames) {
    test::SinkCapture cap;
    const sio_handle h = b.port()->handle;
    EXPECT_STREQ(ur_cmd_str(h, 41), "UZ1_POWER_CHK_CMD");
    EXPECT_STREQ(ur_cmd_str(h, 58), "UZ1_TURRETPOS_REPORT_CMD");
    EXPECT_STREQ(ur_cmd_str(h, 59), "UZ1_INVALID_CMD");
    EXPECT_STREQ(ur_cmd_str(h, -1), "UZ1_INVALID_CMD");
    EXPECT_STREQ(ur_cmd_str(h + 1000, 41), "INVALID_PARAM");
    EXPECT_STREQ(ur_cmd_str(SIO_INVALID_HANDLE, 41), "INVALID_PARAM");
    EXPECT_EQ(cap.text(), "");

    // The record's family changed under an open board: no name, and no null.
    b.si.boardType = BOARD_CAN;
    EXPECT_STREQ(ur_cmd_str(h, 41), "");
    EXPECT_EQ(cap.text(), "ur_cmd_str: unknown instrBdType\n");
    EXPECT_EQ(read(UR_RESP_ACK), ERR_WRONG_INSTR_BOARD);
    EXPECT_EQ(length, 0);
    b.si.boardType = BOARD_SABLEQV;
}

TEST_F(Board, RefusedArguments) {
    EXPECT_EQ(ur_writeUZ(nullptr, 2, buf, false, false), ERR_INVALID_PARAM);
    EXPECT_EQ(ur_writeUZ(b.port(), 2, nullptr, false, false), ERR_INVALID_PARAM);
    EXPECT_EQ(ur_writeUZ(b.port(), 1, buf, false, false), ERR_INVALID_PARAM);
    EXPECT_EQ(ur_writeUZ(b.port(), 256, buf, false, false), ERR_INVALID_PARAM);
    EXPECT_EQ(ur_writeUZ(b.port(), 2, buf, false, true), ERR_INVALID_PARAM);
    EXPECT_EQ(ur_readUZ(b.port(), nullptr, 1, &length), ERR_INVALID_PARAM);
    EXPECT_EQ(b.sent(), hex(""));
    sio_port stranger;
    EXPECT_EQ(ur_readUZ(&stranger, buf, 1, &length), ERR_SYS_INFO_NOT_AVAIL);
    stranger.handle = b.port()->handle + 1000;
    EXPECT_EQ(ur_readUZ(&stranger, buf, 1, &length), ERR_SYS_INFO_NOT_AVAIL);
    EXPECT_EQ(ur_flush(nullptr), ERR_INVALID_PARAM);
}

TEST_F(Board, FlushFailure) {
    test::SinkCapture cap;
    b.line.line->faults.purge = 5;
    EXPECT_EQ(ur_flush(b.port()), ERR_UZ_COMM);
    EXPECT_EQ(cap.text(), "sio_clear_buffer failed.");
    b.line.line->faults.purge = 0;
}

TEST_F(Board, LengthByteZeroOrTopBitReadsNothing) {
    for (uint8_t first : {0x00, 0x80, 0x83, 0xFF}) {
        SCOPED_TRACE(first);
        b.line.line->feed(std::vector<uint8_t>{first, 0x02, 0xFF, 0xFF});
        length = -1;
        EXPECT_EQ(read(UR_RESP_ACK), 0);
        EXPECT_EQ(length, 0);
        // Only the length byte was taken.
        EXPECT_EQ(b.line.line->pending(), 3u);
        ASSERT_EQ(ur_flush(b.port()), 0);
    }
}

TEST_F(Board, RampStartIdleAndRate) {
    // Slot 2 holds rampID 7 after a load of three points.
    ASSERT_EQ(write("0f 20 02 07 50 00 03 00 00 00 01 00 02 f0 60", false), 0);
    uint8_t data[ur_reply_buffer_size] = {0x04, 0x22, 0x00, 0x03, 0x25, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x06};
    ASSERT_EQ(ur_writeUZ(b.port(), 12, data, true, true), 0);
    ASSERT_EQ(write("02 23", false), 0);
    EXPECT_EQ(b.board.ramp_points(), (std::vector<uint16_t>{0x100, 0x200, 0x300}));
    EXPECT_EQ(b.board.ramp_point_sum(), 6);
    EXPECT_EQ(b.board.slots()[2], 7);
    EXPECT_EQ(b.board.update_rate(2), 0xF060);
    b.answered();

    // A start of an empty slot is refused; of the loaded one it runs 100 ms.
    b.board.set_ramp_run_ms(100);
    test::SinkCapture cap;
    EXPECT_EQ(write("03 27 01", false), ERR_UZ_RECV_FAILED);
    EXPECT_EQ(b.answered(), hex("02 fe fe 02 fe fe 02 fe fe"));
    ASSERT_EQ(write("03 27 02", false), 0);
    ASSERT_EQ(write("02 26", true), 0);
    EXPECT_EQ(reply(3), hex("26 00 26"));
    b.line.clock.advance(100);
    ASSERT_EQ(write("02 26", true), 0);
    EXPECT_EQ(reply(3), hex("26 01 27"));

    // A rate for an empty slot comes back under the invalid-slot reply code.
    cap.clear();
    EXPECT_EQ(write("05 35 03 f0 00", true), ERR_UZ_RECV_FAILED);
    EXPECT_EQ(cap.text(),
              "ur_writeUZ: recvd invalid resp  wanted 53  got 23\n"
              "ur_writeUZ failed: cmd=UZ1_RAMP_UPDATERATE_CMD\n");
    ASSERT_EQ(write("05 35 02 f0 00", true), 0);
    EXPECT_EQ(b.board.update_rate(2), 0xF000);

    ASSERT_EQ(write("03 25 02", false), 0);
    EXPECT_EQ(b.board.slots()[2], 255);
}

TEST_F(Board, BoardRefusesMalformedPackets) {
    // A length byte that is not the table's, a code outside the table, a report
    // code and a bad checksum are all refused by the board.
    for (const char* packet : {"03 03 01 04", "02 3b 3b", "02 37 37", "02 29 28", "02 00 00"}) {
        SCOPED_TRACE(packet);
        b.line.line->clear_sent();
        const std::vector<uint8_t> p = hex(packet);
        uint32_t written = 0;
        ASSERT_EQ(sio_send_data(b.port()->handle, p.data(), static_cast<uint32_t>(p.size()), &written), 0);
        EXPECT_EQ(ur_readUZ(b.port(), buf, UR_RESP_ACK, &length), UR_NAK_RECEIVED);
    }
    EXPECT_TRUE(b.board.commands().empty());

    // A packet left unfinished is dropped after 100 ms of quiet; the next one counts.
    uint32_t written = 0;
    ASSERT_EQ(sio_send_data(b.port()->handle, "\x02\x29", 2, &written), 0);
    b.line.clock.advance(101);
    ASSERT_EQ(write("02 29", true), 0);
    EXPECT_EQ(b.board.commands(), std::vector<int32_t>{UZ1_POWER_CHK_CMD});
}

TEST(BoardNames, EveryFamilyGivesCodeZeroForCodesOutsideItsTable) {
    test::DeviceTable devices;
    const struct {
        ur_family family;
        int32_t code;
        const char* name;
    } cases[] = {
        {ur_family::uz2, 200, "UZ2_INVALID_CMD"},  {ur_family::uz2, 62, "UZ2_RS_MOVING_CMD"},
        {ur_family::uz2, 63, "UZ2_INVALID_CMD"},   {ur_family::fenn, 41, "FENN_CUSTOM_CAMERA_CMD"},
        {ur_family::fenn, 42, "FENN_INVALID_CMD"}, {ur_family::brae, 42, "BRAE_SHUTTER_OUTPUT_CMD"},
        {ur_family::uz1, 255, "UZ1_INVALID_CMD"},  {ur_family::fenn, -200, "FENN_INVALID_CMD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::BoardOnLine b(c.family);
        ASSERT_EQ(ur_initUZ(&b.si), 0);
        EXPECT_STREQ(ur_cmd_str(b.port()->handle, c.code), c.name);
    }
}

// Every command of every family's table, sent with the table's length byte to a
// fresh board, is answered with the table's reply length: an acknowledge, or a
// data reply echoing the code. A fresh board has no ramp to start (refused) and
// answers a rate for an empty slot with its invalid-slot reply code.
TEST(BoardTables, EveryCommandIsAnsweredWithItsTableLengths) {
    test::DeviceTable devices;
    test::SinkCapture quiet;
    int swept = 0;
    for (ur_family family : {ur_family::uz1, ur_family::uz2, ur_family::brae, ur_family::fenn}) {
        for (const ur_command& c : ur_commands(static_cast<int32_t>(family))) {
            if (c.send_len == 0) continue;  // the invalid code and the reports are never sent
            SCOPED_TRACE(c.name);
            const std::string_view name = c.name;
            test::BoardOnLine b(family);
            ASSERT_EQ(ur_initUZ(&b.si), 0);
            uint8_t buf[ur_reply_buffer_size] = {c.send_len, static_cast<uint8_t>(c.code)};
            const bool data_reply = c.reply_len != 0;
            int32_t result = 0;
            std::vector<uint8_t> sent(buf, buf + c.send_len);
            if (name.ends_with("_RAMP_DATA_CMD")) {
                // No points: the header (count 0) and its checksum, then the points' sum.
                sent.push_back(ur_checksum(buf + 1, c.send_len - 1));
                sent.push_back(0);
                std::memcpy(buf, sent.data(), sent.size());
                result = ur_writeUZ(b.port(), static_cast<int32_t>(sent.size()), buf, true, true);
            } else {
                sent.push_back(ur_checksum(buf + 1, c.send_len - 1));
                result = ur_writeUZ(b.port(), c.send_len, buf, data_reply, false);
            }
            const std::vector<uint8_t> answer = b.answered();
            if (name.ends_with("_RAMP_START_CMD")) {
                EXPECT_EQ(result, ERR_UZ_RECV_FAILED);
                EXPECT_EQ(answer, hex("02 fe fe 02 fe fe 02 fe fe"));
                continue;
            }
            EXPECT_EQ(b.sent(), sent);
            ++swept;
            if (!data_reply) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(answer, hex("02 ff ff"));
                continue;
            }
            ASSERT_EQ(answer.size(), c.reply_len + 1u);
            EXPECT_EQ(answer[0], c.reply_len);
            EXPECT_EQ(answer.back(), ur_checksum(answer.data() + 1, c.reply_len - 1));
            if (name.ends_with("_RAMP_UPDATERATE_CMD")) {
                EXPECT_EQ(result, ERR_UZ_RECV_FAILED);
                EXPECT_EQ(answer[1], family == ur_family::uz1 ? 23 : 19);
                continue;
            }
            EXPECT_EQ(result, 0);
            EXPECT_EQ(reply_bytes(buf, c.reply_len), std::vector<uint8_t>(answer.begin() + 1, answer.end()));
        }
    }
    // 207 codes less the four invalid codes, the seven reports and the four ramp starts.
    EXPECT_EQ(swept, 192);
}

// Boards of two slots used from two threads: each exchange finds its own board.
TEST(BoardThreads, TwoSlotsAtOnce) {
    test::DeviceTable devices;
    test::BoardOnLine uz1(ur_family::uz1, "VBOARD0", 0);
    test::BoardOnLine fenn(ur_family::fenn, "VBOARD1", 1);
    ASSERT_EQ(ur_initUZ(&uz1.si), 0);
    ASSERT_EQ(ur_initUZ(&fenn.si), 0);
    uz1.board.set_reply_data(UZ1_POWER_CHK_CMD, {0x11});
    fenn.board.set_reply_data(FENN_POWER_CHK_CMD, {0x22});
    auto run = [](sio_port* port, uint8_t code, uint8_t status, int* good) {
        for (int i = 0; i < 200; ++i) {
            uint8_t buf[ur_reply_buffer_size] = {2, code};
            if (ur_writeUZ(port, 2, buf, true, false) == 0 && buf[0] == code && buf[1] == status) ++*good;
        }
    };
    int good_uz1 = 0;
    int good_fenn = 0;
    std::thread other(run, fenn.port(), FENN_POWER_CHK_CMD, 0x22, &good_fenn);
    run(uz1.port(), UZ1_POWER_CHK_CMD, 0x11, &good_uz1);
    other.join();
    EXPECT_EQ(good_uz1, 200);
    EXPECT_EQ(good_fenn, 200);
}

TEST(BoardOpen, Failures) {
    test::DeviceTable devices;
    test::SinkCapture cap;
    {
        test::BoardOnLine b(ur_family::uz2);
        b.si.boardType = BOARD_CAIRN;
        EXPECT_EQ(ur_initUZ(&b.si), ERR_WRONG_INSTR_BOARD);
        EXPECT_FALSE(b.line.line->is_open());
        b.si.slot = 4;
        b.si.boardType = BOARD_TARN;
        EXPECT_EQ(ur_initUZ(&b.si), ERR_INVALID_PARAM);
        EXPECT_EQ(ur_initUZ(nullptr), ERR_INVALID_PARAM);
        EXPECT_EQ(cap.text(), "");

        b.si.slot = 1;
        b.line.line->faults.open = 2;
        EXPECT_EQ(ur_initUZ(&b.si), ERR_UZ_COMM);
        EXPECT_EQ(cap.text(), "ur_initUZ: error initializing VBOARD0: ERR_CANT_OPEN_SERIAL\n");
        b.line.line->faults.open = 0;

        // A failure after the open closes the port again; the slot stays closed.
        cap.clear();
        b.line.line->faults.set_settings = 87;
        EXPECT_EQ(ur_initUZ(&b.si), ERR_UZ_COMM);
        EXPECT_EQ(cap.text(),
                  "Com Settings Parameter: (null) is Invalid.\n"
                  "ur_initUZ: error initializing VBOARD0: ERR_CANT_SET_SERIAL\n");
        EXPECT_FALSE(b.line.line->is_open());
        EXPECT_EQ(b.port()->handle, SIO_INVALID_HANDLE);
        b.line.line->faults.set_settings = 0;
    }
    // Without the device control table the port is not kept open.
    dev_free_cntrl();
    cap.clear();
    test::BoardOnLine b(ur_family::fenn);
    EXPECT_EQ(ur_initUZ(&b.si), ERR_UZ_COMM);
    EXPECT_EQ(cap.text(),
              "dev_add_device failed: err=ERR_DEV_CNTRL\n"
              "ur_initUZ: error initializing VBOARD0: ERR_DEV_CNTRL\n");
    EXPECT_FALSE(b.line.line->is_open());
    b.si.instrComm = nullptr;
    cap.clear();
    EXPECT_EQ(ur_initUZ(&b.si), ERR_UZ_COMM);
    EXPECT_EQ(cap.text(), "ur_initUZ: error initializing : ERR_CANT_OPEN_SERIAL\n");
    ASSERT_EQ(dev_init_cntrl(true), 0);
}

}  // namespace
}  // namespace mf
