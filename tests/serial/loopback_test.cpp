// A real port whose output comes back to its input: a loopback plug on an
// instrument PC, or an echo peer behind a pseudo-terminal (or a wine COM mapping).
// Opt-in: MF_SERIAL_LOOPBACK names the port.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "serial/sio.h"

namespace mf {
namespace {

TEST(SerialLoopback, BytesComeBackUnderTheFixedDiscipline) {
    const char* name = std::getenv("MF_SERIAL_LOOPBACK");
    if (name == nullptr || *name == '\0')
        GTEST_SKIP() << "set MF_SERIAL_LOOPBACK to a port whose output comes back (loopback plug or echo peer)";
    sio_port port;
    ASSERT_EQ(sio_open(name, &port), 0) << "system error " << sio_last_os_error();
    ASSERT_EQ(sio_init_soft(port.handle, nullptr), 0) << "system error " << sio_last_os_error();
    ASSERT_EQ(sio_set_baud(port.handle, 115200), 0);
    ASSERT_EQ(sio_xon_xoff_off(port.handle), 0);

    sio_settings s;
    ASSERT_EQ(sio_get_state(port.handle, &s), 0);
    EXPECT_EQ(s.baud, 115200u);
    EXPECT_EQ(s.byte_size, 8);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.stop_bits, platform::SERIAL_STOP_1);
    EXPECT_FALSE(s.out_xon_xoff);
    uint32_t secs = 0;
    ASSERT_EQ(sio_get_timeout(port.handle, &secs), 0);
    EXPECT_EQ(secs, 2u);
    EXPECT_EQ(sio_clear_buffer(port.handle), 0);

    const std::string text = "loopback 0123456789\r";
    uint32_t n = 0;
    ASSERT_EQ(sio_send_data(port.handle, text.data(), static_cast<uint32_t>(text.size()), &n), 0);
    std::string back(text.size(), '\0');
    EXPECT_EQ(sio_read_data(port.handle, back.data(), static_cast<uint32_t>(back.size()), &n), 0);
    EXPECT_EQ(back.substr(0, n), text);

    ASSERT_EQ(sio_set_timeout(port.handle, 1), 0);
    char c = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sio_read_data(port.handle, &c, 1, &n), 1);
    auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(n, 0u);
    EXPECT_GE(waited, 800);
    EXPECT_LE(waited, 1200);
    std::printf("silent read, 1000 ms time-out: %lld ms\n", static_cast<long long>(waited));
    EXPECT_EQ(sio_close(&port), 0);
}

}  // namespace
}  // namespace mf
