#include "serial/temp_sensor.h"

#include <cstring>

#include "common/errors.h"
#include "common/msg.h"

namespace mf {

namespace {

const char address_header[] = {static_cast<char>(TEMP_EOT), '0', '0', '1', '1'};

constexpr uint32_t first_byte_s = 10;

bool read_char(sio_handle h, uint8_t* c) {
    uint32_t n = 0;
    return sio_read_data(h, c, 1, &n) == 0 && n == 1;
}

// The error status the instrument keeps after refusing a frame: printed for the
// operator, then discarded.
void report_error_status(sio_handle h) {
    const std::string frame = temp_frame("EE", 2, TEMP_KIND_READ);
    uint32_t written = 0;
    if (sio_send_data(h, frame.data(), static_cast<uint32_t>(frame.size()), &written) != 0) {
        u_sink("temp_comm_read: EE err2 error\n");
        return;
    }
    // Bounded: a peer that never sends ETX must not hold the caller.
    for (int i = 0; i <= TEMP_STR_MAX_LEN + 1; ++i) {
        uint8_t c = 0;
        if (!read_char(h, &c)) {
            u_sink("temp_comm_read: EE err3 error\n");
            return;
        }
        u_sink("char: 0x%x\n", static_cast<unsigned>(c));
        if (c == TEMP_EOT) return;
        if (c == TEMP_ETX) {
            // The block check follows ETX; leaving it would become the first
            // byte of the next reply.
            read_char(h, &c);
            return;
        }
    }
}

int32_t read_data_reply(sio_handle h, char* out) {
    char stored[TEMP_STR_MAX_LEN + 1];
    int i = 0;
    for (;;) {
        uint8_t c = 0;
        if (!read_char(h, &c)) {
            u_sink("temp_comm_read: sio_read_data failed: %s\n", error_name(ERR_TEMP_SENSOR_READ));
            return ERR_TEMP_SENSOR_READ;
        }
        if (i == TEMP_STR_MAX_LEN) {
            u_sink("temp_comm_read: i=TEMP_STR_MAX_LEN\n");
            return ERR_TEMP_SENSOR_READ;
        }
        stored[i++] = static_cast<char>(c);
        if (c == TEMP_ETX) break;
    }
    uint8_t received = 0;
    if (!read_char(h, &received)) {
        u_sink("temp_comm_read: sio_read_data failed: %s\n", error_name(ERR_TEMP_SENSOR_READ));
        return ERR_TEMP_SENSOR_READ;
    }
    const uint8_t computed = temp_bcc(reinterpret_cast<const uint8_t*>(stored), static_cast<std::size_t>(i));
    if (received != computed) {
        u_sink("temp_comm_read: checksums mismatched: sent=%d calc=%d\n", received, computed);
        return ERR_TEMP_SENSOR_CHECKSUM;
    }
    std::memcpy(out, stored, static_cast<std::size_t>(i - 1));
    out[i - 1] = '\0';
    return 0;
}

}  // namespace

uint8_t temp_bcc(const uint8_t* data, std::size_t count) {
    uint8_t x = 0;
    for (std::size_t i = 0; i < count; ++i)
        x ^= data[i];
    return x;
}

std::string temp_frame(const char* text, int length, int32_t kind) {
    std::string frame;
    if (kind != TEMP_KIND_WRITE && kind != TEMP_KIND_READ) return frame;
    frame.assign(address_header, sizeof address_header);
    if (kind == TEMP_KIND_WRITE) {
        frame += static_cast<char>(TEMP_STX);
        const std::size_t body = frame.size();
        frame.append(text, static_cast<std::size_t>(length));
        frame += static_cast<char>(TEMP_ETX);
        frame +=
            static_cast<char>(temp_bcc(reinterpret_cast<const uint8_t*>(frame.data()) + body, frame.size() - body));
    } else {
        frame.append(text, static_cast<std::size_t>(length));
        frame += static_cast<char>(TEMP_ENQ);
    }
    return frame;
}

int32_t temp_comm_open(sio_port* port, const char* device) {
    int32_t err = sio_open(device, port);
    if (err == 0) err = sio_init_soft(port->handle, nullptr);
    if (err == 0) err = sio_set_baud(port->handle, 9600);
    if (err == 0) err = sio_set_parity(port->handle, 2);
    if (err == 0) err = sio_set_data_bits(port->handle, 7);
    if (err == 0) err = sio_xon_xoff_off(port->handle);
    if (err == 0) return 0;
    u_sink("temp_comm_open: error initializing device %s: %s\n", device ? device : "(null)", error_name(err));
    if (err != ERR_CANT_OPEN_SERIAL) sio_close(port);
    return ERR_TEMP_SENSOR_COMM;
}

int32_t temp_comm_close(sio_port* port) {
    if (port == nullptr) return 0;
    int32_t err = sio_close(port);
    if (err != 0) {
        u_sink("temp_comm_close: sio_close failed: %s\n", error_name(err));
        return ERR_TEMP_SENSOR_COMM;
    }
    return 0;
}

int32_t temp_comm_write(sio_handle handle, char* text, int length, int32_t kind, std::size_t text_size) {
    if (kind != TEMP_KIND_WRITE && kind != TEMP_KIND_READ) return ERR_TEMP_SENSOR_COMM;
    // A read without its two-letter mnemonic is refused before anything is sent.
    // The reply limit does not bound what is sent.
    if (text == nullptr || length < 0 || (kind == TEMP_KIND_READ && length < 2)) return ERR_TEMP_SENSOR_COMM;

    const std::string frame = temp_frame(text, length, kind);
    uint32_t written = 0;
    if (sio_send_data(handle, frame.data(), static_cast<uint32_t>(frame.size()), &written) != 0) {
        u_sink("temp_comm_write: sio_send_data failed: nbytes=%d\n", static_cast<int>(frame.size()));
        return ERR_TEMP_SENSOR_COMM;
    }

    char reply[TEMP_TEXT_SIZE];
    int32_t err = temp_comm_read(handle, reply, kind);
    if (err != 0 || kind != TEMP_KIND_READ) return err;
    if (std::strlen(reply) < 2 || reply[0] != text[0] || reply[1] != text[1]) return ERR_TEMP_SENSOR_READ;
    const std::size_t value_length = std::strlen(reply + 2);
    if (value_length + 1 > text_size) return ERR_TEMP_SENSOR_READ;
    std::memcpy(text, reply + 2, value_length + 1);
    return 0;
}

int32_t temp_comm_read(sio_handle handle, char* out, int32_t kind) {
    if (out == nullptr) return ERR_TEMP_SENSOR_COMM;
    out[0] = '\0';
    uint32_t remembered = 0;
    const bool have_timeout = sio_get_timeout(handle, &remembered) == 0;
    bool ok = have_timeout && sio_set_timeout(handle, first_byte_s) == 0;
    uint8_t first = 0;
    ok = ok && read_char(handle, &first);
    if (have_timeout) sio_set_timeout(handle, remembered);
    if (!ok) {
        u_sink("temp_comm_read: timeout on first byte, respType=%d\n", kind);
        return ERR_TEMP_SENSOR_TIMEOUT;
    }

    if (kind == TEMP_KIND_WRITE) {
        if (first == TEMP_NAK) {
            u_sink("temp_comm_read: received NAK\n");
            report_error_status(handle);
            return ERR_TEMP_SENSOR_COMM;
        }
        return 0;
    }
    if (kind == TEMP_KIND_READ) {
        if (first == TEMP_EOT) {
            u_sink("temp_comm_read: received EOT, respType=%d\n", kind);
            return ERR_TEMP_SENSOR_COMM;
        }
        if (first == TEMP_STX) return read_data_reply(handle, out);
        u_sink("temp_comm_read: received unknown response character 0x%x\n", static_cast<unsigned>(first));
        return ERR_TEMP_SENSOR_COMM;
    }
    u_sink("temp_comm_read: unknown response type %d\n", kind);
    return ERR_TEMP_SENSOR_COMM;
}

}  // namespace mf
