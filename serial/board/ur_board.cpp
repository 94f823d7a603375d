#include "serial/board/ur_board.h"

#include <cstring>
#include <mutex>

#include "common/errors.h"
#include "common/msg.h"
#include "devctl/devctl.h"

namespace mf {

namespace {

// The boards of the four slots: the instrument record and the port opened for it.
// Another slot's thread scans the handles, so they change under the lock only.
struct Instrument {
    const sysInfo* info = nullptr;
    sio_port port;
};

struct Instruments {
    std::mutex lock;
    Instrument slots[sys_slot_count];
};

Instruments& instruments() {
    static Instruments t;
    return t;
}

constexpr int32_t no_instrument = -1;

// The board family of the instrument whose port holds the handle, scanning the
// slots in order; no_instrument when none does.
int32_t family_of(sio_handle handle) {
    if (handle == SIO_INVALID_HANDLE) return no_instrument;
    Instruments& t = instruments();
    std::lock_guard<std::mutex> hold(t.lock);
    for (const Instrument& i : t.slots)
        if (i.info != nullptr && i.port.handle == handle) return i.info->boardType;
    return no_instrument;
}

// The name of an error from the name table itself: boards of different slots may
// fail on different threads at once, so not through error_name's shared buffer.
const char* name_of(int32_t err) { return err >= 1 && err <= ERR_LAST ? u_error_names[err] : "?"; }

void set_handle(sio_port* port, sio_handle handle) {
    std::lock_guard<std::mutex> hold(instruments().lock);
    port->handle = handle;
}

// One pass of the first-byte wait: 10 s for the length byte, then the port's own
// time-out again. A time-out that could not be read is not written back (0 would
// mean "wait for ever"), and no byte is awaited under a time-out that could not
// be set.
bool read_length_byte(sio_handle handle, uint8_t* byte) {
    uint32_t saved = 0;
    if (sio_get_timeout(handle, &saved) != 0) return false;
    bool ok = sio_set_timeout(handle, ur_first_byte_timeout_s) == 0;
    uint32_t got = 0;
    if (ok) ok = sio_read_data(handle, byte, 1, &got) == 0;
    sio_set_timeout(handle, saved);
    return ok;
}

}  // namespace

bool ur_is_serial_board(int32_t board_type) { return ur_is_serial_family(board_type); }

uint8_t ur_checksum(const uint8_t* bytes, int32_t count) {
    uint32_t sum = 0;
    for (int32_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

const char* ur_cmd_str(sio_handle handle, int32_t code) {
    const int32_t family = family_of(handle);
    if (family == no_instrument) return "INVALID_PARAM";
    if (!ur_is_serial_family(family)) {
        u_sink("ur_cmd_str: unknown instrBdType\n");
        return "";
    }
    return ur_command_of(family, code).name;
}

sio_port* ur_port(int slot) {
    if (slot < 0 || slot >= sys_slot_count) return nullptr;
    return &instruments().slots[slot].port;
}

int32_t ur_initUZ(sysInfo* si) {
    if (si == nullptr || si->slot < 0 || si->slot >= sys_slot_count) return ERR_INVALID_PARAM;
    if (!ur_is_serial_board(si->boardType)) return ERR_WRONG_INSTR_BOARD;

    // Opened into a record of its own, so a failure leaves the slot's record as it was.
    sio_port port;
    int32_t err = sio_open(si->instrComm, &port);
    if (err == 0) err = sio_init_soft(port.handle, nullptr);
    if (err == 0) err = sio_set_baud(port.handle, ur_baud);
    if (err == 0) err = sio_xon_xoff_off(port.handle);
    if (err == 0) err = dev_add_device(DEV_SERIAL_BOARD, static_cast<dev_handle>(port.handle), si);
    if (err != 0) {
        u_sink("ur_initUZ: error initializing %s: %s\n", si->instrComm ? si->instrComm : "", name_of(err));
        if (err != ERR_CANT_OPEN_SERIAL && port.handle != SIO_INVALID_HANDLE) sio_close(&port);
        return ERR_UZ_COMM;
    }

    Instruments& t = instruments();
    std::lock_guard<std::mutex> hold(t.lock);
    t.slots[si->slot].info = si;
    t.slots[si->slot].port = port;
    return 0;
}

int32_t ur_flush(sio_port* port) {
    if (port == nullptr) return ERR_INVALID_PARAM;
    if (sio_clear_buffer(port->handle) != 0) {
        u_sink("sio_clear_buffer failed.");
        return ERR_UZ_COMM;
    }
    return 0;
}

int32_t ur_closeUZ(sio_port* port) {
    if (port == nullptr || port->handle == SIO_INVALID_HANDLE) return ERR_INVALID_PARAM;
    int32_t err = dev_remove_device(static_cast<dev_handle>(port->handle));
    if (err != 0) return err;
    sio_port closing = *port;
    err = sio_close(&closing);
    set_handle(port, closing.handle);
    return err;
}

int32_t ur_readUZ(sio_port* port, uint8_t* buffer, int32_t resp_type, int32_t* length) {
    if (length != nullptr) *length = 0;
    if (port == nullptr || buffer == nullptr || length == nullptr) return ERR_INVALID_PARAM;
    const sio_handle handle = port->handle;
    const int32_t family = family_of(handle);
    if (family == no_instrument) return ERR_SYS_INFO_NOT_AVAIL;
    if (!ur_is_serial_family(family)) return ERR_WRONG_INSTR_BOARD;

    for (int pass = 1;; ++pass) {
        uint8_t length_byte = 0;
        if (!read_length_byte(handle, &length_byte)) {
            u_sink("ur_readUZ: timed out on first byte, respType=%d\n", resp_type);
            return ERR_UZ_RECV_TIMEOUT;
        }
        // Taken as a signed byte, so no length promises more than the 127 bytes the
        // buffer holds after its length byte.
        const int8_t count = static_cast<int8_t>(length_byte);
        if (count <= 0) return 0;

        uint32_t got = 0;
        if (sio_read_data(handle, buffer, static_cast<uint32_t>(count), &got) != 0) {
            u_sink("ur_readUZ: sio_read_data failed\n");
            return ERR_UZ_RECV_TIMEOUT;
        }
        const uint8_t received = buffer[count - 1];
        const uint8_t computed = ur_checksum(buffer, count - 1);
        if (received != computed) {
            u_sink("ur_readUZ: checksum err recv %d calc %d\n", received, computed);
            return UR_BAD_CHECKSUM;
        }

        switch (ur_classify(family, resp_type, buffer[0])) {
        case ur_outcome::accept:
            *length = count;
            return 0;
        case ur_outcome::nak:
            return UR_NAK_RECEIVED;
        case ur_outcome::reject:
            return ERR_UZ_RECV_FAILED;
        case ur_outcome::report_skip:
            if (pass < ur_attempts) continue;
            u_sink("ur_readUZ: received unsolicited info\n");
            return ERR_UZ_RECV_FAILED;
        case ur_outcome::read_again:
            if (pass < ur_attempts) continue;
            return ERR_UZ_RECV_FAILED;
        case ur_outcome::none:
            return 0;
        }
        return ERR_UZ_RECV_FAILED;
    }
}

int32_t ur_writeUZ(sio_port* port, int32_t len, uint8_t* packet, bool data_reply, bool checksum_present) {
    if (port == nullptr || packet == nullptr) return ERR_INVALID_PARAM;
    // A length byte frames at least a command code and its checksum; with the
    // checksum present, len counts every byte sent, the length byte included.
    if (checksum_present ? len < 3 : (len < 2 || len > 0xFF)) return ERR_INVALID_PARAM;
    const sio_handle handle = port->handle;
    uint32_t count = static_cast<uint32_t>(len);
    if (!checksum_present) {
        packet[len] = ur_checksum(packet + 1, len - 1);
        count = static_cast<uint32_t>(len) + 1;
    }
    const uint8_t code = packet[1];

    uint8_t reply[ur_reply_buffer_size];
    int32_t result = ERR_UZ_RECV_FAILED;
    for (int attempt = 0; attempt < ur_attempts; ++attempt) {
        uint32_t written = 0;
        if (sio_send_data(handle, packet, count, &written) != 0) {
            u_sink("ur_writeUZ: sio_send_data failed  i=%d  len=%d\n", attempt, static_cast<int>(count));
            result = ERR_UZ_SEND_FAILED;
            break;
        }
        int32_t got = 0;
        result = ur_readUZ(port, reply, data_reply ? UR_RESP_DATA : UR_RESP_ACK, &got);
        if (result == UR_NAK_RECEIVED || result == UR_BAD_CHECKSUM) {
            result = ERR_UZ_RECV_FAILED;
            continue;
        }
        if (result != 0) break;
        // A length byte of 0 or with the top bit set brings no reply code: neither
        // an acknowledge nor the reply awaited.
        if (got == 0) {
            u_sink("ur_writeUZ: recvd empty resp  wanted %d\n", code);
            result = ERR_UZ_RECV_FAILED;
            break;
        }
        if (data_reply) {
            if (reply[0] != code) {
                u_sink("ur_writeUZ: recvd invalid resp  wanted %d  got %d\n", code, reply[0]);
                result = ERR_UZ_RECV_FAILED;
                break;
            }
            std::memcpy(packet, reply, static_cast<std::size_t>(got));
        }
        break;
    }
    if (result != 0) u_sink("ur_writeUZ failed: cmd=%s\n", ur_cmd_str(handle, code));
    return result;
}

}  // namespace mf
