// A hostile board: replies of random lengths and bytes, refusals, reports without
// end, truncated packets and silence, but never a valid answer. ur_writeUZ must
// fail every time, within its time-outs, without touching memory past its
// 128-byte buffers (the sanitizer build checks the heap buffer's bounds).
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "common/error_codes.h"
#include "common/msg.h"
#include "serial/board/ur_board.h"
#include "tests/serial/board/board_fixture.h"

namespace mf {
namespace {

void quiet(const char*, ...) {}

class HostileBoard : public sim::SerialPeer {
public:
    explicit HostileBoard(uint32_t seed) : rng_(seed) {}

    void receive(const uint8_t* data, std::size_t count, std::vector<sim::PeerOutput>& out) override {
        std::lock_guard<std::mutex> hold(lock_);
        const uint8_t command = count > 1 ? data[1] : 0;
        std::vector<uint8_t> burst;
        const int packets = pick(0, 6);
        for (int k = 0; k < packets; ++k)
            packet(command, burst);
        // A packet cut short can only come last: the host then gives up on the line.
        if (pick(0, 4) == 0) {
            const int n = pick(2, 127);
            burst.push_back(static_cast<uint8_t>(n));
            for (int i = pick(0, n - 1); i > 0; --i)
                burst.push_back(static_cast<uint8_t>(pick(0, 255)));
        }
        if (!burst.empty()) out.push_back(sim::PeerOutput{pick(0, 3) * 700, std::move(burst)});
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    // One framed packet that is never an acceptable answer to the command.
    void packet(uint8_t command, std::vector<uint8_t>& out) {
        switch (pick(0, 4)) {
        case 0: {  // random length and bytes with a wrong checksum
            const int n = pick(1, 127);
            const std::size_t start = out.size();
            out.push_back(static_cast<uint8_t>(n));
            for (int i = 0; i < n; ++i)
                out.push_back(static_cast<uint8_t>(pick(0, 255)));
            if (ur_checksum(&out[start + 1], n - 1) == out.back()) out.back() = static_cast<uint8_t>(out.back() + 1);
            break;
        }
        case 1:  // refusal
            out.insert(out.end(), {2, UR_NAK, UR_NAK});
            break;
        case 2: {  // a report of any family, or any 100 + code
            static constexpr uint8_t reports[] = {155, 156, 135, 157, 129, 139};
            const uint8_t code = pick(0, 1) ? reports[pick(0, 5)] : static_cast<uint8_t>(pick(100, 199));
            if (code == command || code == UR_ACK) break;
            const uint8_t value = static_cast<uint8_t>(pick(0, 255));
            out.insert(out.end(), {3, code, value, static_cast<uint8_t>(code + value)});
            break;
        }
        case 3: {  // a well-formed data reply under another code
            uint8_t code = static_cast<uint8_t>(pick(0, 253));
            if (code == command) code = static_cast<uint8_t>(code + 1);
            const int n = pick(1, 20);
            const std::size_t start = out.size();
            out.push_back(static_cast<uint8_t>(n));
            out.push_back(code);
            for (int i = 2; i < n; ++i)
                out.push_back(static_cast<uint8_t>(pick(0, 255)));
            if (n >= 2) out.push_back(ur_checksum(&out[start + 1], n - 1));
            // A lone code byte is its own checksum only when it is 0.
            if (n == 1) out.back() = 0;
            break;
        }
        default:  // a length byte that frames nothing
            out.push_back(pick(0, 1) ? 0 : static_cast<uint8_t>(pick(128, 255)));
            break;
        }
    }

    std::mutex lock_;
    std::mt19937 rng_;
};

TEST(HostileBoard, NeverSucceedsHangsOrOverruns) {
    u_set_msg_sink(&quiet);
    test::DeviceTable devices;
    int failures_by_kind[4] = {};
    for (ur_family family : {ur_family::uz1, ur_family::uz2, ur_family::brae, ur_family::fenn}) {
        for (uint32_t seed = 1; seed <= 150; ++seed) {
            SCOPED_TRACE(testing::Message() << "family " << static_cast<int>(family) << " seed " << seed);
            HostileBoard hostile(seed);
            test::VirtualLine line(&hostile, "HOSTILE");
            sysInfo si{};
            si.slot = 1;
            si.boardType = static_cast<int32_t>(family);
            std::string name = "HOSTILE";
            si.instrComm = name.data();
            ASSERT_EQ(ur_initUZ(&si), 0);
            sio_port* port = ur_port(1);

            auto buf = std::make_unique<uint8_t[]>(ur_reply_buffer_size);
            const bool data_reply = seed % 2 == 0;
            buf[0] = 2;
            buf[1] = static_cast<uint8_t>(1 + seed % 60);
            const int64_t start = line.clock.monotonic_ms();
            const int32_t result = ur_writeUZ(port, 2, buf.get(), data_reply, false);
            const int64_t took = line.clock.monotonic_ms() - start;
            EXPECT_NE(result, 0);
            // Three attempts of three packets at most, each 10 s for its length
            // byte and 2 s for the rest, and up to 1 s per send to drain.
            EXPECT_LE(took, 3 * (3 * (10000 + 2000) + 1000));
            if (result == ERR_UZ_RECV_FAILED) ++failures_by_kind[0];
            if (result == ERR_UZ_RECV_TIMEOUT) ++failures_by_kind[1];
            if (result != ERR_UZ_RECV_FAILED && result != ERR_UZ_RECV_TIMEOUT) ++failures_by_kind[2];
            EXPECT_EQ(ur_closeUZ(port), 0);
        }
    }
    u_set_msg_sink(nullptr);
    // The hostile replies reach both ways of failing and nothing else.
    EXPECT_GT(failures_by_kind[0], 100);
    EXPECT_GT(failures_by_kind[1], 100);
    EXPECT_EQ(failures_by_kind[2], 0);
}

}  // namespace
}  // namespace mf
