// Arbitrary bytes from a wave monitor: the first three bytes choose the response
// kind, respLen and element size, the rest is what the monitor sends.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/msg.h"
#include "platform/clock.h"
#include "serial/wave_monitor.h"
#include "sim/serial/stream_port.h"

namespace {

void quiet(const char*, ...) {}

struct Setup {
    mf::platform::VirtualClock clock;
    std::shared_ptr<mf::sim::StreamLine> line = std::make_shared<mf::sim::StreamLine>();
    Setup() {
        mf::platform::set_clock(&clock);
        mf::u_set_msg_sink(&quiet);
        mf::wm_set_response_limit(1u << 20);
        mf::sio_add_virtual_port("FUZZWM",
                                 [l = line](std::unique_ptr<mf::platform::SerialPort>* p) { return l->open(p); });
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    if (size < 3) return 0;
    mf::sio_port port;
    if (mf::sio_open("FUZZWM", &port) != 0) return 0;
    mf::sio_init_soft(port.handle, nullptr);
    setup.line->feed(std::vector<uint8_t>(data + 3, data + size));
    const int32_t kind = data[0] % 6;
    const int32_t resp_len = static_cast<int8_t>(data[1]);
    const int32_t elem = data[2] % 17;
    mf::wm_buffer buf;
    if (mf::wm_comm_read(&port, &buf, resp_len, elem, kind, 0) == 0 && buf.length > buf.capacity) __builtin_trap();
    mf::wm_buffer_release(&buf);
    mf::sio_clear_buffer(port.handle);
    mf::sio_close(&port);
    return 0;
}
