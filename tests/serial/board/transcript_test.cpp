// Wire transcripts: each file drives one board family through ur_writeUZ and
// ur_readUZ and gives the exact bytes each side sent, the messages and the
// results. Every file runs against the virtual board on an in-process line and
// on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "platform/pty.h"
#include "serial/board/ur_board.h"
#include "sim/serial/pty_peer.h"
#include "tests/serial/board/board_fixture.h"
#include "tests/support/capture.h"

namespace mf {
namespace {

using test::hex;
using Fault = sim::BoardPeer::Fault;

std::string text_of(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (uint8_t x : bytes) {
        std::snprintf(b, sizeof b, s.empty() ? "%02x" : " %02x", x);
        s += b;
    }
    return s;
}

int32_t result_named(const std::string& word) {
    for (int32_t code = 1; code <= ERR_LAST; ++code)
        if (word == u_error_names[code]) return code;
    return std::stoi(word);
}

ur_family family_named(const std::string& name) {
    if (name == "uz2") return ur_family::uz2;
    if (name == "brae") return ur_family::brae;
    if (name == "fenn") return ur_family::fenn;
    return ur_family::uz1;
}

Fault fault_named(const std::string& name) {
    const std::pair<const char*, Fault> names[] = {{"nak", Fault::nak},
                                                   {"bad-checksum", Fault::bad_checksum},
                                                   {"wrong-code", Fault::wrong_code},
                                                   {"silence", Fault::silence},
                                                   {"short", Fault::short_reply},
                                                   {"zero-length", Fault::zero_length},
                                                   {"top-bit", Fault::top_bit_length}};
    for (const auto& n : names)
        if (name == n.first) return n.second;
    ADD_FAILURE() << "unknown fault " << name;
    return Fault::none;
}

// One board behind a port that ur_initUZ opens: either transport.
struct Transport {
    virtual ~Transport() = default;
    sim::BoardPeer* board = nullptr;
    sysInfo si{};
    std::string device;
};

struct InProcess : Transport {
    explicit InProcess(ur_family family) : line(family) {
        board = &line.board;
        si = line.si;
    }
    test::BoardOnLine line;
};

struct OnPty : Transport {
    explicit OnPty(ur_family family) : peer(family), runner(peer) {
        board = &peer;
        si.slot = 0;
        si.boardType = static_cast<int32_t>(family);
    }
    int start() {
        int err = runner.start();
        device = runner.device();
        si.instrComm = device.data();
        return err;
    }
    sim::BoardPeer peer;
    sim::PtyPeerRunner runner;
};

class Transcript {
public:
    Transcript(Transport& t, sio_port* port) : t_(t), port_(port) {}

    void run(std::istream& in) {
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line[0] == '#') continue;
            where_ = "line " + std::to_string(number) + ": " + line;
            std::istringstream words(line);
            std::string op;
            words >> op;
            std::string rest;
            std::getline(words, rest);
            step(op, rest);
        }
        finish();
    }

private:
    void step(const std::string& op, const std::string& rest) {
        std::istringstream words(rest);
        if (op == ">") {
            want_sent_ = text_of(hex(rest));
        } else if (op == "<") {
            want_answered_ = text_of(hex(rest));
        } else if (op == "!") {
            want_messages_ += rest.substr(rest.find_first_not_of(' ')) + "\n";
        } else if (op == "=") {
            words >> want_result_;
            std::string bytes;
            std::getline(words, bytes);
            want_reply_ = text_of(hex(bytes));
        } else {
            finish();
            if (op == "family") {
            } else if (op == "data") {
                int32_t code = 0;
                words >> code;
                std::string bytes;
                std::getline(words, bytes);
                t_.board->set_reply_data(code, hex(bytes));
            } else if (op == "fault") {
                std::string name;
                int times = 1;
                words >> name >> times;
                t_.board->inject(fault_named(name), times);
            } else if (op == "reports") {
                int32_t code = 0;
                int count = 0;
                words >> code >> count;
                t_.board->reports_before_answer(code, count);
            } else if (op == "report") {
                int32_t code = 0;
                int value = 0;
                words >> code >> value;
                t_.board->send_report(code, static_cast<uint8_t>(value));
            } else if (op == "write" || op == "write-data" || op == "write-raw" || op == "read" || op == "flush") {
                call_ = op;
                call_where_ = where_;
                args_ = rest;
            } else {
                ADD_FAILURE() << where_ << ": unknown line";
            }
        }
    }

    // Makes the pending call and compares everything the file expects of it.
    void finish() {
        if (call_.empty()) return;
        SCOPED_TRACE(call_where_);
        uint8_t buf[ur_reply_buffer_size];
        std::memset(buf, 0xEE, sizeof buf);
        int32_t length = 0;
        int32_t result = 0;
        test::SinkCapture cap;
        if (call_ == "read") {
            result = ur_readUZ(port_, buf, std::stoi(args_), &length);
        } else if (call_ == "flush") {
            result = ur_flush(port_);
        } else {
            const std::vector<uint8_t> p = hex(args_);
            std::memcpy(buf, p.data(), p.size());
            length = static_cast<int32_t>(hex(want_reply_).size());
            if (call_ == "write-raw")
                result = ur_writeUZ(port_, static_cast<int32_t>(p.size()), buf, true, true);
            else
                result = ur_writeUZ(port_, p[0], buf, call_ == "write-data", false);
        }
        const std::vector<uint8_t> received = t_.board->received();
        const std::vector<uint8_t> transmitted = t_.board->transmitted();
        EXPECT_EQ(text_of({received.begin() + static_cast<long>(seen_in_), received.end()}), want_sent_);
        EXPECT_EQ(text_of({transmitted.begin() + static_cast<long>(seen_out_), transmitted.end()}), want_answered_);
        seen_in_ = received.size();
        seen_out_ = transmitted.size();
        EXPECT_EQ(cap.text(), want_messages_);
        EXPECT_EQ(result, result_named(want_result_));
        EXPECT_EQ(text_of({buf, buf + length}), want_reply_);
        call_.clear();
        want_sent_.clear();
        want_answered_.clear();
        want_messages_.clear();
        want_reply_.clear();
        want_result_ = "0";
    }

    Transport& t_;
    sio_port* port_;
    std::string where_;
    std::string call_;
    std::string call_where_;
    std::string args_;
    std::string want_sent_;
    std::string want_answered_;
    std::string want_messages_;
    std::string want_result_ = "0";
    std::string want_reply_;
    std::size_t seen_in_ = 0;
    std::size_t seen_out_ = 0;
};

std::string transcript_path(const std::string& name) { return std::string(MF_BOARD_TRANSCRIPTS) + "/" + name + ".txt"; }

class BoardTranscript : public ::testing::TestWithParam<const char*> {
protected:
    void play(Transport& t) {
        ASSERT_EQ(ur_initUZ(&t.si), 0);
        std::ifstream in(transcript_path(GetParam()), std::ios::binary);
        ASSERT_TRUE(in) << transcript_path(GetParam());
        Transcript(t, ur_port(t.si.slot)).run(in);
        EXPECT_EQ(ur_closeUZ(ur_port(t.si.slot)), 0);
    }
    test::DeviceTable devices;
};

TEST_P(BoardTranscript, InProcess) {
    InProcess t(family_named(GetParam()));
    play(t);
}

TEST_P(BoardTranscript, OnPseudoTerminal) {
    if (!platform::Pty::available()) GTEST_SKIP() << "this system has no pseudo-terminals";
    OnPty t(family_named(GetParam()));
    ASSERT_EQ(t.start(), 0);
    play(t);
}

INSTANTIATE_TEST_SUITE_P(Families, BoardTranscript, ::testing::Values("uz1", "uz2", "brae", "fenn"));

// The length byte may come later than the port's own 2 s time-out: it is awaited
// 10 s, and the port has its 2 s again afterwards. Real time on a real terminal.
TEST(BoardOnPseudoTerminal, FirstByteWaitOutlastsThePortTimeout) {
    if (!platform::Pty::available()) GTEST_SKIP() << "this system has no pseudo-terminals";
    test::DeviceTable devices;
    OnPty t(ur_family::uz1);
    ASSERT_EQ(t.start(), 0);
    ASSERT_EQ(ur_initUZ(&t.si), 0);
    sio_port* port = ur_port(t.si.slot);
    t.peer.set_reply_data(UZ1_POWER_CHK_CMD, {0x01});
    t.peer.set_reply_delay_ms(2600);
    uint8_t buf[ur_reply_buffer_size] = {2, UZ1_POWER_CHK_CMD};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ur_writeUZ(port, 2, buf, true, false), 0);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(took.count(), 2500);
    EXPECT_EQ(buf[1], 0x01);
    uint32_t seconds = 0;
    EXPECT_EQ(sio_get_timeout(port->handle, &seconds), 0);
    EXPECT_EQ(seconds, 2u);
    EXPECT_EQ(ur_closeUZ(port), 0);
}

}  // namespace
}  // namespace mf
