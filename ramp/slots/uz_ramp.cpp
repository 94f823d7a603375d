// The ramp commands of the serial instrument boards, through the board protocol.
#include <cstring>
#include <vector>

#include "common/errors.h"
#include "common/msg.h"
#include "ramp/slots/ramp_slots.h"
#include "ramp/slots/uz_ramp_codes.h"
#include "serial/board/ur_board.h"

namespace mf {

namespace {

constexpr int max_points_per_packet = 512;
constexpr int32_t io_first = 4096;
constexpr int32_t io_last = 6143;

void put16(uint8_t* p, int32_t value) {
    p[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
    p[1] = static_cast<uint8_t>(value & 0xFF);
}

// The ramp codes of a serial board's family; null for any other board.
const uz_ramp_codes* codes_of(const sysInfo* si) {
    return si && ur_is_serial_board(si->boardType) ? uz_ramp_codes_of(si->boardType) : nullptr;
}

// Sends a command whose parameters are given and waits for its acknowledge.
int32_t send_ack(sysInfo* si, int32_t code, const uint8_t* params, int32_t count) {
    sio_port* port = ur_port(si->slot);
    if (!port) return ERR_SYS_INFO_NOT_AVAIL;
    uint8_t packet[ur_reply_buffer_size] = {};
    packet[0] = ur_command_of(si->boardType, code).send_len;
    packet[1] = static_cast<uint8_t>(code);
    if (count > 0) std::memcpy(packet + 2, params, static_cast<std::size_t>(count));
    return ur_writeUZ(port, packet[0], packet, false, false);
}

// Sends a command without parameters that is answered with data; the reply (code
// first) lands in reply.
int32_t send_query(sysInfo* si, int32_t code, uint8_t* reply) {
    sio_port* port = ur_port(si->slot);
    if (!port) return ERR_SYS_INFO_NOT_AVAIL;
    reply[0] = ur_command_of(si->boardType, code).send_len;
    reply[1] = static_cast<uint8_t>(code);
    return ur_writeUZ(port, reply[0], reply, true, false);
}

// One packet of points: the header (count and its checksum), the points high byte
// first, their sum. The board's verdict comes in the reply's data byte; a refusal is
// not sent again, any other failure once more.
int32_t send_points(sysInfo* si, sio_port* port, int32_t code, const uint16_t* points, int32_t count) {
    const std::size_t size = 5 + 2 * static_cast<std::size_t>(count) + 1;
    std::vector<uint8_t> packet(size < ur_reply_buffer_size ? ur_reply_buffer_size : size);
    int32_t err = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        packet[0] = ur_command_of(si->boardType, code).send_len;
        packet[1] = static_cast<uint8_t>(code);
        put16(&packet[2], count);
        packet[4] = ur_checksum(&packet[1], 3);
        for (int32_t i = 0; i < count; ++i)
            put16(&packet[5 + 2 * static_cast<std::size_t>(i)], points[i]);
        packet[size - 1] = ur_checksum(&packet[5], static_cast<int32_t>(size - 6));
        err = ur_writeUZ(port, static_cast<int32_t>(size), packet.data(), true, true);
        if (err == 0) {
            if (packet[1] == 0) return 0;
            u_sink("uz_ramp_load: board refused ramp data, status %d\n", packet[1]);
            return ERR_RAMP_LOAD;
        }
    }
    return err;
}

int32_t send_load(sysInfo* si, const uz_ramp_codes& codes, int32_t slot, const rr_ramp_hdr_t& hdr) {
    uint8_t p[13];
    p[0] = static_cast<uint8_t>(slot);
    p[1] = static_cast<uint8_t>(hdr.rampID & 0xFF);
    p[2] = static_cast<uint8_t>(hdr.polar & 0xFF);
    put16(p + 3, hdr.nPoints);
    put16(p + 5, hdr.offset);
    put16(p + 7, hdr.trigStartAddr);
    put16(p + 9, hdr.trigEndAddr);
    put16(p + 11, hdr.updateRate);
    return send_ack(si, codes.load, p, sizeof p);
}

}  // namespace

int32_t uz_ramp_load(sysInfo* si, int32_t slot, const rr_ramp_hdr_t& hdr, const uint16_t* points) {
    const uz_ramp_codes* codes = codes_of(si);
    if (!codes) return ERR_WRONG_INSTR_BOARD;
    sio_port* port = ur_port(si->slot);
    if (!port) return ERR_SYS_INFO_NOT_AVAIL;
    if (slot < 0 || slot > 0xFF || hdr.nPoints < 0 || hdr.nPoints > 0xFFFF || (hdr.nPoints > 0 && !points))
        return ERR_INVALID_PARAM;
    int32_t first = send_load(si, *codes, slot, hdr);
    for (int32_t sent = 0; first == 0 && sent < hdr.nPoints; sent += max_points_per_packet) {
        const int32_t n = hdr.nPoints - sent < max_points_per_packet ? hdr.nPoints - sent : max_points_per_packet;
        first = send_points(si, port, codes->data, points + sent, n);
    }
    const int32_t complete = send_ack(si, codes->complete, nullptr, 0);
    if (first == 0) first = complete;
    if (first != 0) uz_ramp_delete(si, slot);
    return first;
}

int32_t uz_ramp_start(sysInfo* si, int32_t slot) {
    const uz_ramp_codes* codes = codes_of(si);
    if (!codes) return ERR_WRONG_INSTR_BOARD;
    const uint8_t p = static_cast<uint8_t>(slot);
    return send_ack(si, codes->start, &p, 1);
}

int32_t uz_ramp_delete(sysInfo* si, int32_t slot) {
    const uz_ramp_codes* codes = codes_of(si);
    if (!codes) return ERR_WRONG_INSTR_BOARD;
    const uint8_t p = static_cast<uint8_t>(slot);
    return send_ack(si, codes->remove, &p, 1);
}

int32_t uz_ramp_idle(sysInfo* si, bool* idle) {
    const uz_ramp_codes* codes = codes_of(si);
    if (!codes) return ERR_WRONG_INSTR_BOARD;
    uint8_t reply[ur_reply_buffer_size] = {};
    if (int32_t err = send_query(si, codes->idle, reply)) return err;
    *idle = reply[1] != 0;
    return 0;
}

int32_t uz_ramp_request(sysInfo* si, uint8_t ids[rr_instr_query_slots]) {
    const uz_ramp_codes* codes = codes_of(si);
    if (!codes) return ERR_WRONG_INSTR_BOARD;
    uint8_t reply[ur_reply_buffer_size] = {};
    if (int32_t err = send_query(si, codes->request, reply)) return err;
    const int32_t held = ur_command_of(si->boardType, codes->request).reply_len - 2;
    std::memset(ids, rr_no_ramp, rr_instr_query_slots);
    for (int32_t i = 0; i < held && i < rr_instr_query_slots; ++i)
        ids[i] = reply[1 + i];
    return 0;
}

int32_t uz_ramp_update_rate(sysInfo* si, int32_t slot, int32_t updateRate) {
    const uz_ramp_codes* codes = codes_of(si);
    if (!codes) return ERR_WRONG_INSTR_BOARD;
    sio_port* port = ur_port(si->slot);
    if (codes->update_rate < 0) return ERR_WRONG_INSTR_BOARD;
    if (!port) return ERR_SYS_INFO_NOT_AVAIL;
    // The board answers an unknown slot with a reply code of its own, which the
    // protocol's send would take for a wrong reply: the exchange is made here.
    uint8_t packet[ur_reply_buffer_size] = {};
    packet[0] = ur_command_of(si->boardType, codes->update_rate).send_len;
    packet[1] = static_cast<uint8_t>(codes->update_rate);
    packet[2] = static_cast<uint8_t>(slot);
    put16(packet + 3, updateRate);
    packet[5] = ur_checksum(packet + 1, 4);
    uint32_t written = 0;
    if (sio_send_data(port->handle, packet, 6, &written) != 0) return ERR_UZ_SEND_FAILED;
    int32_t length = 0;
    int32_t err = ur_readUZ(port, packet, UR_RESP_DATA, &length);
    if (err == UR_NAK_RECEIVED || err == UR_BAD_CHECKSUM) return ERR_UZ_RECV_FAILED;
    if (err) return err;
    if (length > 0 && packet[0] == codes->bad_slot_reply) return ERR_INVALID_RAMP_INDEX;
    return length > 0 && packet[0] == codes->update_rate ? 0 : ERR_UZ_RECV_FAILED;
}

int32_t uz_write_io(sysInfo* si, int32_t address, int32_t value) {
    const uz_ramp_codes* codes = codes_of(si);
    if (!codes) return ERR_WRONG_INSTR_BOARD;
    if (address < io_first || address > io_last) return ERR_PARAM_OUT_OF_RANGE;
    uint8_t p[3];
    put16(p, address);
    p[2] = static_cast<uint8_t>(value);
    return send_ack(si, codes->write_io, p, sizeof p);
}

}  // namespace mf
