// Wave monitor protocol: ASCII command lines ended by a carriage return, binary
// answers of four kinds (a lone acknowledge byte, a fixed-length reply, a
// fixed-length reply with an acknowledge byte, and a counted reply with an
// acknowledge byte). One caller per monitor; no locks.
#pragma once

#include <cstdint>

#include "serial/sio.h"

namespace mf {

constexpr uint8_t WM_ACK = 0x06;
constexpr uint8_t WM_NAK = 0x15;
constexpr uint8_t WM_CR = 0x0D;

enum : int32_t {
    WM_RESP_ACK = 1,
    WM_RESP_READ = 2,
    WM_RESP_READ_ACK = 3,
    WM_RESP_SIZE_READ_ACK = 4,
};

// Growable response buffer owned by the caller.
struct wm_buffer {
    uint32_t capacity = 0;
    uint32_t length = 0;
    uint8_t* data = nullptr;
};

// Resizes to n bytes: 0 frees; a smaller block (or a larger one unless
// keep_larger) is replaced by a fresh block of exactly n bytes (ERR_NO_MEM).
// The contents are not kept when the block is replaced.
int32_t wm_buffer_resize(wm_buffer* buffer, uint32_t n, bool keep_larger);
void wm_buffer_release(wm_buffer* buffer);

// The largest reply wm_comm_read accepts from a counted response (bytes in all);
// a peer announcing more gets ERR_WM_READ before anything is allocated.
// Default 16 MiB. Returns the previous limit.
uint32_t wm_set_response_limit(uint32_t bytes);

// Opens and sets up the monitor's port: 115200 baud, 8 data bits, no parity, one
// stop bit, no XON/XOFF. ERR_WM_COMM on failure (port closed again).
int32_t wm_comm_open_fd(sio_port* port, const char* device);
// sio_close of the record; 0 without a record.
int32_t wm_comm_close(sio_port* port);
// Purges pending input. ERR_WM_COMM on failure.
int32_t wm_flush_inp(sio_port* port);
// Sends the command text and a carriage return; nothing without a record.
int32_t wm_comm_write(sio_port* port, const char* command);
// Reads one response of the given kind; on success the buffer holds it, on failure
// the buffer is released and the port's read time-out is as before the call.
// timeout_s below 1 means 10 s for the first byte. ERR_INVALID_PARAM,
// ERR_WM_TIMEOUT, ERR_WM_READ, ERR_WM_NAK, ERR_NO_MEM or a time-out error.
int32_t wm_comm_read(sio_port* port, wm_buffer* buffer, int32_t respLen, int32_t elemSize, int32_t respType,
                     int32_t timeout_s);
int32_t wm_comm_write_rd(sio_port* port, const char* command, wm_buffer* buffer, int32_t respLen, int32_t elemSize,
                         int32_t respType, int32_t timeout_s);

// Host hook asked once per round of wm_set_laser_with_wait; true aborts the wait.
using wm_abort_fn = bool (*)();
void wm_set_abort_hook(wm_abort_fn hook);

// Switches the laser and polls LO? once a second, up to 10 times, until bit 15
// matches. ERR_DURIVIDI_ABORTED, ERR_WM_LASER_CONTROL_TIMEOUT or a read error.
int32_t wm_set_laser_with_wait(sio_port* port, bool on);

// ---- The commands the library sends ----

// Status record of MS?: flags and eight further fields.
struct wm_status {
    uint32_t flags = 0;
    int32_t fields[8] = {};
};
constexpr uint32_t WM_STATUS_CAL_READABLE = 1u << 0;
constexpr uint32_t WM_STATUS_VARIANT_30 = 1u << 30;
constexpr uint32_t WM_STATUS_VARIANT_31 = 1u << 31;
constexpr uint32_t WM_LASER_ON_BIT = 1u << 15;

// LO?: the 32-bit laser status (bit 15: laser on).
int32_t wm_query_laser(sio_port* port, uint32_t* status);
// LO=1 / LO=0.
int32_t wm_set_laser(sio_port* port, bool on);
// MS?: the 36-byte status record.
int32_t wm_read_status(sio_port* port, wm_status* status);
// CC?: 40 bytes of calibration constants when bit 30 of the status flags is set,
// else 4. The bytes land in out (at least 40 bytes); *length tells how many.
int32_t wm_read_cal_constants(sio_port* port, uint32_t status_flags, uint8_t* out, uint32_t* length);
// CL=n with n = value * 10000000 rounded toward zero.
int32_t wm_set_cl(sio_port* port, double value);
// SS=x with x in "%f" form.
int32_t wm_set_ss(sio_port* port, double value);
// RR=a,b: two 32-bit integers come back.
int32_t wm_read_rr(sio_port* port, int32_t a, int32_t b, int32_t* first, int32_t* second);

}  // namespace mf
