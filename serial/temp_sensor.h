// Temperature sensor and controller protocol: ASCII frames delimited by control
// characters, parameter writes framed by STX/ETX with an XOR block check,
// parameter reads ended by ENQ, single-character acknowledgements. One caller
// per sensor; no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/sio.h"

namespace mf {

constexpr uint8_t TEMP_EOT = 0x04;
constexpr uint8_t TEMP_STX = 0x02;
constexpr uint8_t TEMP_ETX = 0x03;
constexpr uint8_t TEMP_ENQ = 0x05;
constexpr uint8_t TEMP_ACK = 0x06;
constexpr uint8_t TEMP_NAK = 0x15;

// Characters of a reply from STX (exclusive) to ETX (inclusive), at most.
constexpr int TEMP_STR_MAX_LEN = 255;
// Size of a text buffer that holds any reply value and its terminating zero.
constexpr std::size_t TEMP_TEXT_SIZE = TEMP_STR_MAX_LEN + 1;

enum : int32_t { TEMP_KIND_WRITE = 1, TEMP_KIND_READ = 2 };

// Opens the sensor's port: 9600 baud, 7 data bits, even parity, one stop bit, no
// XON/XOFF. ERR_TEMP_SENSOR_COMM on failure (port closed again).
int32_t temp_comm_open(sio_port* port, const char* device);
// ERR_TEMP_SENSOR_COMM when the close fails; 0 without a record.
int32_t temp_comm_close(sio_port* port);

// The frame temp_comm_write sends: address header, then for a write STX, text,
// ETX and the block check; for a read the mnemonic and ENQ. Empty for another kind.
std::string temp_frame(const char* text, int length, int32_t kind);
// Exclusive-or of the characters (the block check over text and ETX).
uint8_t temp_bcc(const uint8_t* data, std::size_t count);

// Sends one frame and reads the reply. For a read the value (the reply after the
// two-letter mnemonic) replaces the text; text_size is the size of the text
// buffer, and a value that does not fit is ERR_TEMP_SENSOR_READ.
// ERR_TEMP_SENSOR_COMM, ERR_TEMP_SENSOR_TIMEOUT, ERR_TEMP_SENSOR_READ,
// ERR_TEMP_SENSOR_CHECKSUM.
int32_t temp_comm_write(sio_handle handle, char* text, int length, int32_t kind, std::size_t text_size);
// Reads one reply of the expected kind into out (TEMP_TEXT_SIZE bytes).
int32_t temp_comm_read(sio_handle handle, char* out, int32_t kind);

}  // namespace mf
