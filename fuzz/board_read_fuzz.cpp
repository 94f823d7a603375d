// Arbitrary bytes from an instrument board: the first byte chooses the family and
// the reply kind, the second whether ur_readUZ reads one reply or ur_writeUZ
// sends a power check and takes its answer; the rest is what the board sends.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "calfile/sysinfo.h"
#include "common/msg.h"
#include "devctl/devctl.h"
#include "platform/clock.h"
#include "serial/board/ur_board.h"
#include "sim/serial/stream_port.h"

namespace {

void quiet(const char*, ...) {}

struct Setup {
    mf::platform::VirtualClock clock;
    std::shared_ptr<mf::sim::StreamLine> line = std::make_shared<mf::sim::StreamLine>();
    std::string name = "FUZZBOARD";
    Setup() {
        mf::platform::set_clock(&clock);
        mf::u_set_msg_sink(&quiet);
        mf::dev_init_cntrl(false);
        mf::sio_add_virtual_port(name, [l = line](std::unique_ptr<mf::platform::SerialPort>* p) { return l->open(p); });
    }
};

constexpr int32_t families[] = {1, 3, 6, 7};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    if (size < 2) return 0;
    mf::sysInfo si{};
    si.slot = 2;
    si.boardType = families[data[0] % 4];
    si.instrComm = setup.name.data();
    if (mf::ur_initUZ(&si) != 0) return 0;
    mf::sio_port* port = mf::ur_port(2);
    setup.line->feed(std::vector<uint8_t>(data + 2, data + size));

    // Exactly the documented 128 bytes, so a sanitizer sees any access past them.
    auto buf = std::make_unique<uint8_t[]>(mf::ur_reply_buffer_size);
    std::memset(buf.get(), 0, mf::ur_reply_buffer_size);
    if (data[1] & 1) {
        buf[0] = 2;
        buf[1] = static_cast<uint8_t>(data[1] >> 2);
        const bool data_reply = (data[1] & 2) != 0;
        const int32_t result = mf::ur_writeUZ(port, 2, buf.get(), data_reply, false);
        // Success needs the board's own answer: an acknowledge, or the echoed code.
        if (result == 0 && data_reply && buf[0] != static_cast<uint8_t>(data[1] >> 2)) __builtin_trap();
    } else {
        int32_t length = -1;
        const int32_t result = mf::ur_readUZ(port, buf.get(), (data[0] / 4) % 5, &length);
        if (length < 0 || length > 127 || (result != 0 && length != 0)) __builtin_trap();
    }
    mf::ur_closeUZ(port);
    return 0;
}
