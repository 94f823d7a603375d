// The serial instrument board protocol: packets of a length byte, a command
// byte, parameters and an additive checksum, answered by an acknowledge, a
// negative acknowledge or a reply packet of the same shape; reports the board
// sends on its own are recognised and skipped. Boards of the four serial
// families are opened here and registered with the device control table.
//
// One caller at a time per board; boards of different slots may be used from
// different threads. Results are 0 or an ERR_ code; ur_readUZ also returns the
// two protocol status values UR_BAD_CHECKSUM and UR_NAK_RECEIVED.
#pragma once

#include <cstdint>

#include "calfile/sysinfo.h"
#include "serial/board/ur_classify.h"
#include "serial/board/ur_commands.h"
#include "serial/sio.h"

namespace mf {

// ur_readUZ's status values, consumed by ur_writeUZ's retries.
inline constexpr int32_t UR_BAD_CHECKSUM = 254;
inline constexpr int32_t UR_NAK_RECEIVED = 255;

// ur_writeUZ collects a reply here; a reply holds at most 127 bytes after its
// length byte. Packet buffers given with the data-reply flag, and reply buffers
// given to ur_readUZ, hold at least this many bytes.
inline constexpr int ur_reply_buffer_size = 128;

// The line every board speaks.
inline constexpr uint32_t ur_baud = 38400;
// The first byte of a reply may take this long; the rest come under the port's
// own read time-out.
inline constexpr uint32_t ur_first_byte_timeout_s = 10;
inline constexpr int ur_attempts = 3;

// True for the four serial board families (board types 1, 3, 6 and 7).
bool ur_is_serial_board(int32_t board_type);

// Sum modulo 256 of count bytes (0 for a count of 0 or less).
uint8_t ur_checksum(const uint8_t* bytes, int32_t count);

// The name of a command for messages: the family's table entry, code 0's for a
// code outside the table. "INVALID_PARAM" when no board is open on the handle;
// "" (after "ur_cmd_str: unknown instrBdType") for a board of another family.
// Never null.
const char* ur_cmd_str(sio_handle handle, int32_t code);

// The serial port record of a slot's board (0..3), or null for another slot.
// Records live for the life of the process; the handle is invalid while closed.
sio_port* ur_port(int slot);

// Opens the board's port (the record's instrComm) at 38400 baud, 8 data bits, no
// parity, one stop bit, no XON/XOFF, and registers it with the device control
// table as a serial board with the record as its object; the port is then in
// ur_port(si->slot). ERR_WRONG_INSTR_BOARD for another family, ERR_INVALID_PARAM
// for no record or a slot outside 0..3; any other failure prints
// "ur_initUZ: error initializing <port>: <error>", closes what it opened and
// returns ERR_UZ_COMM (the slot's record is unchanged).
int32_t ur_initUZ(sysInfo* si);

// Swallows pending input. ERR_UZ_COMM ("sio_clear_buffer failed.").
int32_t ur_flush(sio_port* port);

// Removes the board from the device control table (its error is returned as is)
// and closes the port. ERR_INVALID_PARAM for no record or a closed one.
int32_t ur_closeUZ(sio_port* port);

// Sends a packet of length byte len and waits for its answer, up to three times
// while the board answers with a negative acknowledge or a bad checksum. Unless
// checksum_present, the checksum of bytes 1..len-1 is stored at byte len and
// len+1 bytes go out; with it, len bytes go out as given. With data_reply the
// answer must echo the command code and is copied over the packet from byte 0
// (reply code, parameters, checksum): the packet then holds at least 128 bytes.
// ERR_UZ_SEND_FAILED, ERR_UZ_RECV_FAILED, ERR_UZ_RECV_TIMEOUT,
// ERR_SYS_INFO_NOT_AVAIL, ERR_WRONG_INSTR_BOARD; ERR_INVALID_PARAM for no record
// or packet, or a length that cannot frame a command.
int32_t ur_writeUZ(sio_port* port, int32_t len, uint8_t* packet, bool data_reply, bool checksum_present);

// Reads one reply packet of the kind resp_type (UR_RESP_ACK, UR_RESP_DATA,
// UR_RESP_REPORT) into buffer (128 bytes): the bytes after the length byte,
// reply code first, checksum last; *length is their count. The first byte is
// awaited 10 s, then the port's own time-out is back. A length byte of 0 or with
// the top bit set ends the read with 0 and length 0. UR_BAD_CHECKSUM,
// UR_NAK_RECEIVED, ERR_UZ_RECV_TIMEOUT, ERR_UZ_RECV_FAILED,
// ERR_SYS_INFO_NOT_AVAIL, ERR_WRONG_INSTR_BOARD, ERR_INVALID_PARAM.
int32_t ur_readUZ(sio_port* port, uint8_t* buffer, int32_t resp_type, int32_t* length);

}  // namespace mf
