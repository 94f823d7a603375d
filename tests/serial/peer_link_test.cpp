// The protocols against a peer in another process (mf_serial_peer), reached by a
// port name: a pseudo-terminal natively, a COM mapping under wine. Opt-in:
// MF_SERIAL_WM and MF_SERIAL_TEMP name the ports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "common/error_codes.h"
#include "serial/temp_sensor.h"
#include "serial/wave_monitor.h"

namespace mf {
namespace {

const char* port_from(const char* variable) {
    const char* name = std::getenv(variable);
    return name != nullptr && *name != '\0' ? name : nullptr;
}

TEST(SerialPeerLink, WaveMonitor) {
    const char* name = port_from("MF_SERIAL_WM");
    if (name == nullptr) GTEST_SKIP() << "set MF_SERIAL_WM to a port with mf_serial_peer wave-monitor behind it";
    sio_port port;
    ASSERT_EQ(wm_comm_open_fd(&port, name), 0);
    EXPECT_EQ(wm_flush_inp(&port), 0);
    wm_status st;
    ASSERT_EQ(wm_read_status(&port, &st), 0);
    EXPECT_EQ(st.flags, 1u);
    EXPECT_EQ(st.fields[0], 100);
    EXPECT_EQ(st.fields[7], 107);
    uint8_t cal[40];
    uint32_t n = 0;
    ASSERT_EQ(wm_read_cal_constants(&port, st.flags, cal, &n), 0);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(cal[0], 0xC0);
    int32_t a = 0, b = 0;
    ASSERT_EQ(wm_read_rr(&port, 40, 2, &a, &b), 0);
    EXPECT_EQ(a, 42);
    EXPECT_EQ(b, 38);
    ASSERT_EQ(wm_set_laser_with_wait(&port, true), 0);
    ASSERT_EQ(wm_set_laser_with_wait(&port, false), 0);
    wm_buffer buf;
    EXPECT_EQ(wm_comm_write_rd(&port, "XX?", &buf, 0, 0, WM_RESP_ACK, 0), ERR_WM_NAK);
    EXPECT_EQ(wm_comm_close(&port), 0);
}

TEST(SerialPeerLink, TemperatureSensor) {
    const char* name = port_from("MF_SERIAL_TEMP");
    if (name == nullptr) GTEST_SKIP() << "set MF_SERIAL_TEMP to a port with mf_serial_peer temp-sensor behind it";
    sio_port port;
    ASSERT_EQ(temp_comm_open(&port, name), 0);
    char im[] = "IM0002.";
    ASSERT_EQ(temp_comm_write(port.handle, im, 7, TEMP_KIND_WRITE, sizeof im), 0);
    char text[TEMP_TEXT_SIZE] = "IM";
    ASSERT_EQ(temp_comm_write(port.handle, text, 2, TEMP_KIND_READ, sizeof text), 0);
    EXPECT_STREQ(text, "0002.");
    std::strcpy(text, "PV");
    ASSERT_EQ(temp_comm_write(port.handle, text, 2, TEMP_KIND_READ, sizeof text), 0);
    EXPECT_STREQ(text, "0023.5");
    EXPECT_EQ(temp_comm_close(&port), 0);
}

}  // namespace
}  // namespace mf
