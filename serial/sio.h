// Serial port layer: opens a port by name, sets the fixed line discipline and the
// line parameters from a short settings string, moves raw bytes with exact
// counts, manages the read time-out in whole seconds, purges stray input and
// closes the port. Knows nothing of the protocols above it.
//
// Management operations return 0 or an ERR_ code; the data operations
// sio_send_data, sio_read_data, sio_bytes_waiting and sio_clear_buffer return 0
// for success and 1 for failure. A port is used by one thread at a time; another
// thread may ask sio_bytes_waiting while the owner waits.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/serial_port.h"

namespace mf {

// Opaque port handle; all bits set means "not open".
using sio_handle = uintptr_t;
constexpr sio_handle SIO_INVALID_HANDLE = ~static_cast<sio_handle>(0);

// The serial port record that instrument records embed.
struct sio_port {
    sio_handle handle = SIO_INVALID_HANDLE;
};

using sio_settings = platform::serial_settings;
using sio_timeouts = platform::serial_timeouts;

// Queue sizes every port is opened with.
constexpr uint32_t SIO_QUEUE_SIZE = 4096;

// Opens the port exclusively, sets the character-received event mask and
// 4096-byte queues. ERR_CANT_OPEN_SERIAL (record holds the invalid handle; also
// without a record, when nothing is opened) or ERR_CANT_SET_SERIAL (the port is
// open in the record; the caller closes it).
int32_t sio_open(const char* name, sio_port* port);

// Applies the settings string (or the defaults) and the fixed line discipline,
// writes the time-outs and the line settings, raises DTR. ERR_SERIAL_NOT_OPEN,
// ERR_CANT_GET_SERIAL, ERR_CANT_SET_SERIAL, ERR_INVALID_PARAM or
// ERR_PARAM_OUT_OF_RANGE; failures print "Com Settings Parameter: %s is Invalid.".
int32_t sio_init(sio_handle handle, const char* settings, bool soft_handshake);
// sio_init with software handshake: the form the protocol modules use.
int32_t sio_init_soft(sio_handle handle, const char* settings);

// Each reads the line settings, changes fields and writes them back whole.
int32_t sio_set_baud(sio_handle handle, uint32_t baud);
int32_t sio_set_parity(sio_handle handle, uint32_t parity);
int32_t sio_set_data_bits(sio_handle handle, uint32_t bits);
int32_t sio_xon_xoff_on(sio_handle handle);
int32_t sio_xon_xoff_off(sio_handle handle);

// The read-total time-out in whole seconds (truncating); out = 0 on failure.
int32_t sio_get_timeout(sio_handle handle, uint32_t* seconds);
// Sets the read-total time-out to seconds * 1000 ms (capped at the largest
// whole-seconds value the millisecond field holds).
int32_t sio_set_timeout(sio_handle handle, uint32_t seconds);

int32_t sio_get_state(sio_handle handle, sio_settings* settings);
int32_t sio_set_state(sio_handle handle, const sio_settings* settings);

// 0 when the write succeeded and all bytes were accepted; then waits for the
// output queue to empty, at most the write time-out.
int sio_send_data(sio_handle handle, const void* data, uint32_t count, uint32_t* written);
// 0 only when exactly count bytes arrived under the current time-outs; on a short
// read the bytes that came are in the buffer and *got says how many. A line whose
// other end has hung up fails at once.
int sio_read_data(sio_handle handle, void* buffer, uint32_t count, uint32_t* got);
int sio_bytes_waiting(sio_handle handle, uint32_t* count);
// The port status query: bytes in the input queue and the line error flags
// (SERIAL_CE_ bits) since the previous query, which the query clears. 0 or 1.
int sio_port_status(sio_handle handle, uint32_t* in_queue, uint32_t* errors);
// Purges both queues and swallows input until the line is quiet for 100 ms; 1
// when input keeps arriving for 2 s. ERR_SERIAL_NOT_OPEN for the invalid handle.
int sio_clear_buffer(sio_handle handle);

// Clears the event mask, drops DTR, purges, closes and stores the invalid handle.
// ERR_SERIAL_NOT_OPEN, or ERR_CANT_CLOSE_SERIAL (record unchanged).
int32_t sio_close(sio_port* port);

// The system error number of the last failing port call on this thread, for
// diagnostics; 0 when none failed yet.
int sio_last_os_error();

// Ports that are not system devices (simulated peers, in-process streams). A name
// registered here opens through its factory instead of the system; the factory
// returns 0 and a port, or a system-style error number.
using sio_port_factory = std::function<int(std::unique_ptr<platform::SerialPort>*)>;
void sio_add_virtual_port(const std::string& name, sio_port_factory factory);
void sio_remove_virtual_port(const std::string& name);

// ---- Settings strings and the fixed discipline, without a port ----

// Line parameters chosen by a settings string.
struct sio_line {
    uint32_t baud = 9600;
    uint8_t data_bits = 8;
    uint8_t parity = 0;
    bool parity_check = false;
    uint8_t stop_bits = platform::SERIAL_STOP_1;
};

enum class sio_text_kind { none, mode_word, settings };

// No text and the stream-mode words ("r", "r+", "w", "w+", "a", "a+") select the
// defaults; anything else is a settings string.
sio_text_kind sio_classify_settings(const char* text);

// Parses "baud,bits,parity,stop". 0, ERR_INVALID_PARAM or ERR_PARAM_OUT_OF_RANGE;
// *quiet is set when the failure is the one reported without a message (a parity
// field that does not start with a digit).
int32_t sio_parse_settings(const char* text, sio_line* line, bool* quiet);

// Writes the line parameters and the fixed discipline into a settings record.
void sio_apply_discipline(sio_settings* settings, const sio_line& line, bool soft_handshake);

// The time-outs sio_init writes: 100 ms between characters, 2 s read total, 1 s write.
sio_timeouts sio_fixed_timeouts();

}  // namespace mf
