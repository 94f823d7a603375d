// Arbitrary bytes from a temperature controller: the first byte chooses the
// expected reply kind, the rest is what the controller sends.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "common/msg.h"
#include "platform/clock.h"
#include "serial/temp_sensor.h"
#include "sim/serial/stream_port.h"

namespace {

void quiet(const char*, ...) {}

struct Setup {
    mf::platform::VirtualClock clock;
    std::shared_ptr<mf::sim::StreamLine> line = std::make_shared<mf::sim::StreamLine>();
    Setup() {
        mf::platform::set_clock(&clock);
        mf::u_set_msg_sink(&quiet);
        mf::sio_add_virtual_port("FUZZTEMP",
                                 [l = line](std::unique_ptr<mf::platform::SerialPort>* p) { return l->open(p); });
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    if (size < 1) return 0;
    mf::sio_port port;
    if (mf::sio_open("FUZZTEMP", &port) != 0) return 0;
    mf::sio_init_soft(port.handle, nullptr);
    setup.line->feed(std::vector<uint8_t>(data + 1, data + size));
    char out[mf::TEMP_TEXT_SIZE];
    std::memset(out, 'x', sizeof out);
    if (mf::temp_comm_read(port.handle, out, data[0] % 4) == 0 && std::strlen(out) >= sizeof out) __builtin_trap();
    mf::sio_clear_buffer(port.handle);
    mf::sio_close(&port);
    return 0;
}
