#include "serial/wave_monitor.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/alloc.h"
#include "common/bytes.h"
#include "common/errors.h"
#include "common/msg.h"
#include "common/timeutil.h"
#include "platform/clock.h"

namespace mf {

namespace {

uint32_t response_limit = 16u * 1024 * 1024;
wm_abort_fn abort_hook = nullptr;

constexpr int32_t default_first_byte_s = 10;

const char* kind_name(int32_t kind) {
    switch (kind) {
    case WM_RESP_ACK:
        return "WM_RESP_ACK";
    case WM_RESP_READ:
        return "WM_RESP_READ";
    case WM_RESP_READ_ACK:
        return "WM_RESP_READ_ACK";
    case WM_RESP_SIZE_READ_ACK:
        return "WM_RESP_SIZE_READ_ACK";
    default:
        return "WM_RESP_UNKNOWN";
    }
}

// The outcome of the closing control byte of a response.
int32_t check_ack(uint8_t byte, int32_t kind, char* detail, std::size_t detail_size) {
    if (byte == WM_ACK) return 0;
    if (byte == WM_NAK) {
        std::snprintf(detail, detail_size, "%s: received NAK", kind_name(kind));
        return ERR_WM_NAK;
    }
    std::snprintf(detail, detail_size, "%s: invalid response 0x%02x, expected ACK or NAK", kind_name(kind), byte);
    return ERR_WM_READ;
}

bool read_byte(sio_handle h, uint8_t* byte) {
    uint32_t n = 0;
    return sio_read_data(h, byte, 1, &n) == 0 && n == 1;
}

// Reads one response into the buffer; fills detail when a failure has one.
int32_t read_response(sio_port* port, wm_buffer* buf, int32_t respLen, int32_t elemSize, int32_t respType,
                      int32_t timeout_s, char* detail, std::size_t detail_size) {
    const sio_handle h = port->handle;

    uint32_t remembered = 0;
    int32_t err = sio_get_timeout(h, &remembered);
    if (err != 0) return err;
    const uint32_t wanted = timeout_s < 1 ? default_first_byte_s : static_cast<uint32_t>(timeout_s);
    if (wanted != remembered) {
        err = sio_set_timeout(h, wanted);
        if (err != 0) {
            sio_set_timeout(h, remembered);
            return err;
        }
    }
    uint8_t first = 0;
    const bool got_first = read_byte(h, &first);
    err = sio_set_timeout(h, remembered);
    if (err != 0) return err;
    if (!got_first) return ERR_WM_TIMEOUT;

    err = wm_buffer_resize(buf, 1, true);
    if (err != 0) return err;

    switch (respType) {
    case WM_RESP_ACK:
        buf->data[0] = first;
        return check_ack(first, respType, detail, detail_size);

    case WM_RESP_READ: {
        if (respLen < 1) {
            std::snprintf(detail, detail_size, "WM_RESP_READ: invalid respLen = %d", respLen);
            return ERR_WM_READ;
        }
        err = wm_buffer_resize(buf, static_cast<uint32_t>(respLen) + 1, true);
        if (err != 0) return err;
        buf->data[0] = first;
        // The spare last byte is never read: it must not show an earlier reply.
        buf->data[respLen] = 0;
        for (int32_t i = 1; i < respLen; ++i) {
            if (!read_byte(h, &buf->data[i])) {
                std::snprintf(detail, detail_size, "WM_RESP_READ: sio_read_data failed reading response byte %d of %d",
                              i + 1, respLen);
                return ERR_WM_READ;
            }
        }
        return 0;
    }

    case WM_RESP_READ_ACK: {
        if (respLen < 1) {
            std::snprintf(detail, detail_size, "WM_RESP_READ_ACK: invalid respLen = %d", respLen);
            return ERR_WM_READ;
        }
        const uint32_t total = static_cast<uint32_t>(respLen) + 1;
        err = wm_buffer_resize(buf, total, true);
        if (err != 0) return err;
        buf->data[0] = first;
        for (uint32_t i = 1; i < total; ++i) {
            if (!read_byte(h, &buf->data[i])) {
                std::snprintf(detail, detail_size,
                              "WM_RESP_READ_ACK: sio_read_data failed reading response char %u of %u", i + 1, total);
                return ERR_WM_READ;
            }
        }
        return check_ack(buf->data[total - 1], respType, detail, detail_size);
    }

    case WM_RESP_SIZE_READ_ACK: {
        uint8_t count_bytes[4] = {first, 0, 0, 0};
        for (int i = 1; i < 4; ++i) {
            if (!read_byte(h, &count_bytes[i])) {
                std::snprintf(detail, detail_size, "WM_RESP_SIZE_READ_ACK: sio_read_data failed reading byte %d of %d",
                              i + 1, 4);
                return ERR_WM_READ;
            }
        }
        const uint32_t count = load_le32(count_bytes);
        // The peer announces the size: it is checked before anything is allocated.
        const int64_t total = static_cast<int64_t>(respLen) + static_cast<int64_t>(elemSize) * count + 5;
        if (elemSize < 0 || respLen < 0 || total > static_cast<int64_t>(response_limit) || total > 0xFFFFFFFFll) {
            std::snprintf(detail, detail_size, "WM_RESP_SIZE_READ_ACK: invalid size, count = %u, total = %lld", count,
                          static_cast<long long>(total));
            return ERR_WM_READ;
        }
        const uint32_t t = static_cast<uint32_t>(total);
        err = wm_buffer_resize(buf, t, true);
        if (err != 0) return err;
        std::memcpy(buf->data, &count, 4);
        for (uint32_t i = 4; i < t; ++i) {
            if (!read_byte(h, &buf->data[i])) {
                std::snprintf(detail, detail_size, "WM_RESP_SIZE_READ_ACK: sio_read_data failed reading byte %u of %u",
                              i + 1, t);
                return ERR_WM_READ;
            }
        }
        return check_ack(buf->data[t - 1], respType, detail, detail_size);
    }

    default:
        buf->data[0] = first;
        return 0;
    }
}

int32_t query(sio_port* port, const char* command, wm_buffer* buf, int32_t respLen, int32_t respType) {
    return wm_comm_write_rd(port, command, buf, respLen, 0, respType, 0);
}

int32_t command_ack(sio_port* port, const char* command) {
    wm_buffer buf;
    int32_t err = query(port, command, &buf, 0, WM_RESP_ACK);
    wm_buffer_release(&buf);
    return err;
}

}  // namespace

int32_t wm_buffer_resize(wm_buffer* b, uint32_t n, bool keep_larger) {
    if (n == 0) {
        wm_buffer_release(b);
        return 0;
    }
    if (b->capacity < n || (b->capacity > n && !keep_larger)) {
        u_free(b->data);
        b->data = nullptr;
        b->capacity = 0;
        b->length = 0;
        b->data = static_cast<uint8_t*>(u_malloc(n));
        if (b->data == nullptr) return ERR_NO_MEM;
        b->capacity = n;
    }
    b->length = n;
    return 0;
}

void wm_buffer_release(wm_buffer* b) {
    u_free(b->data);
    b->data = nullptr;
    b->capacity = 0;
    b->length = 0;
}

uint32_t wm_set_response_limit(uint32_t bytes) {
    uint32_t previous = response_limit;
    response_limit = bytes;
    return previous;
}

int32_t wm_comm_open_fd(sio_port* port, const char* device) {
    int32_t err = sio_open(device, port);
    if (err == 0) err = sio_init_soft(port->handle, nullptr);
    if (err == 0) err = sio_set_baud(port->handle, 115200);
    if (err == 0) err = sio_set_parity(port->handle, 0);
    if (err == 0) err = sio_xon_xoff_off(port->handle);
    if (err == 0) return 0;
    u_sink("%s: error initializing device %s: %s\n", "wm_comm_open_fd", device ? device : "(null)", error_name(err));
    if (err != ERR_CANT_OPEN_SERIAL) sio_close(port);
    return ERR_WM_COMM;
}

int32_t wm_comm_close(sio_port* port) { return port ? sio_close(port) : 0; }

int32_t wm_flush_inp(sio_port* port) {
    if (sio_clear_buffer(port ? port->handle : SIO_INVALID_HANDLE) != 0) {
        u_sink("%s: sio_clear_buffer failed\n", "wm_flush_inp");
        return ERR_WM_COMM;
    }
    return 0;
}

int32_t wm_comm_write(sio_port* port, const char* command) {
    if (port == nullptr || command == nullptr) return 0;
    const uint32_t n = static_cast<uint32_t>(std::strlen(command));
    uint32_t written = 0;
    if (sio_send_data(port->handle, command, n, &written) != 0) {
        u_sink("%s: sio_send_data failed, sendPacket = \"%s\", nbytes = %d\n", "wm_comm_write", command,
               static_cast<int>(n));
        return ERR_WM_COMM;
    }
    const uint8_t cr = WM_CR;
    if (sio_send_data(port->handle, &cr, 1, &written) != 0) {
        u_sink("%s: sio_send_data failed, nbytes = 1\n", "wm_comm_write");
        return ERR_WM_COMM;
    }
    return 0;
}

int32_t wm_comm_read(sio_port* port, wm_buffer* buffer, int32_t respLen, int32_t elemSize, int32_t respType,
                     int32_t timeout_s) {
    char detail[160] = "";
    int32_t err = ERR_INVALID_PARAM;
    if (port != nullptr && buffer != nullptr)
        err = read_response(port, buffer, respLen, elemSize, respType, timeout_s, detail, sizeof detail);
    if (err == 0) return 0;
    char stamp[41];
    u_time_text(stamp);
    u_sink("%s %s: %s", stamp, "wm_comm_read", error_name(err));
    if (detail[0] != '\0')
        u_sink(": %s\n", detail);
    else
        u_sink("\n");
    if (buffer != nullptr) wm_buffer_release(buffer);
    return err;
}

int32_t wm_comm_write_rd(sio_port* port, const char* command, wm_buffer* buffer, int32_t respLen, int32_t elemSize,
                         int32_t respType, int32_t timeout_s) {
    int32_t err = wm_comm_write(port, command);
    if (err != 0) return err;
    err = wm_comm_read(port, buffer, respLen, elemSize, respType, timeout_s);
    if (err != 0) {
        char stamp[41];
        u_time_text(stamp);
        u_sink("%s %s: error reading response to command \"%s\": %s\n", stamp, "wm_comm_write_rd",
               command ? command : "", error_name(err));
    }
    return err;
}

void wm_set_abort_hook(wm_abort_fn hook) { abort_hook = hook; }

int32_t wm_query_laser(sio_port* port, uint32_t* status) {
    *status = 0;
    wm_buffer buf;
    int32_t err = query(port, "LO?", &buf, 4, WM_RESP_READ_ACK);
    if (err == 0) *status = load_le32(buf.data);
    wm_buffer_release(&buf);
    return err;
}

int32_t wm_set_laser(sio_port* port, bool on) { return command_ack(port, on ? "LO=1" : "LO=0"); }

int32_t wm_set_laser_with_wait(sio_port* port, bool on) {
    int32_t err = wm_set_laser(port, on);
    if (err != 0) return err;
    for (int round = 0; round < 10; ++round) {
        if (abort_hook != nullptr && abort_hook()) return ERR_DURIVIDI_ABORTED;
        platform::sleep_ms(1000);
        uint32_t status = 0;
        err = wm_query_laser(port, &status);
        if (err != 0) return err;
        if (((status & WM_LASER_ON_BIT) != 0) == on) return 0;
    }
    u_sink("%s: timeout waiting for laser to switch %s\n", "wm_set_laser_with_wait", on ? "ON" : "OFF");
    return ERR_WM_LASER_CONTROL_TIMEOUT;
}

int32_t wm_read_status(sio_port* port, wm_status* status) {
    *status = wm_status{};
    wm_buffer buf;
    int32_t err = query(port, "MS?", &buf, 36, WM_RESP_READ_ACK);
    if (err == 0) {
        status->flags = load_le32(buf.data);
        for (int i = 0; i < 8; ++i)
            status->fields[i] = static_cast<int32_t>(load_le32(buf.data + 4 + 4 * i));
    }
    wm_buffer_release(&buf);
    return err;
}

int32_t wm_read_cal_constants(sio_port* port, uint32_t status_flags, uint8_t* out, uint32_t* length) {
    *length = 0;
    const int32_t n = (status_flags & WM_STATUS_VARIANT_30) ? 40 : 4;
    wm_buffer buf;
    int32_t err = query(port, "CC?", &buf, n, WM_RESP_READ_ACK);
    if (err == 0) {
        std::memcpy(out, buf.data, static_cast<std::size_t>(n));
        *length = static_cast<uint32_t>(n);
    }
    wm_buffer_release(&buf);
    return err;
}

int32_t wm_set_cl(sio_port* port, double value) {
    const double scaled = std::trunc(value * 10000000.0);
    if (!(scaled >= -2147483648.0 && scaled <= 2147483647.0)) return ERR_PARAM_OUT_OF_RANGE;
    char command[32];
    std::snprintf(command, sizeof command, "CL=%d", static_cast<int>(scaled));
    return command_ack(port, command);
}

int32_t wm_set_ss(sio_port* port, double value) {
    char command[64];
    if (std::snprintf(command, sizeof command, "SS=%f", value) >= static_cast<int>(sizeof command))
        return ERR_PARAM_OUT_OF_RANGE;
    return command_ack(port, command);
}

int32_t wm_read_rr(sio_port* port, int32_t a, int32_t b, int32_t* first, int32_t* second) {
    *first = 0;
    *second = 0;
    char command[32];
    std::snprintf(command, sizeof command, "RR=%d,%d", a, b);
    wm_buffer buf;
    int32_t err = query(port, command, &buf, 8, WM_RESP_READ_ACK);
    if (err == 0) {
        *first = static_cast<int32_t>(load_le32(buf.data));
        *second = static_cast<int32_t>(load_le32(buf.data + 4));
    }
    wm_buffer_release(&buf);
    return err;
}

}  // namespace mf
