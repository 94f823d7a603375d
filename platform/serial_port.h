// Serial port service: one open port behind a small interface, with the line
// settings and time-outs of the Windows communications model on every system, so
// the serial layer above behaves the same whether the port is a COM device, a
// POSIX terminal or an in-process stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mf::platform {

enum : uint8_t {
    SERIAL_PARITY_NONE = 0,
    SERIAL_PARITY_ODD = 1,
    SERIAL_PARITY_EVEN = 2,
    SERIAL_PARITY_MARK = 3,
    SERIAL_PARITY_SPACE = 4,
};

enum : uint8_t { SERIAL_STOP_1 = 0, SERIAL_STOP_1_5 = 1, SERIAL_STOP_2 = 2 };

enum : uint8_t { SERIAL_DTR_DISABLE = 0, SERIAL_DTR_ENABLE = 1, SERIAL_DTR_HANDSHAKE = 2 };

enum : uint8_t {
    SERIAL_RTS_DISABLE = 0,
    SERIAL_RTS_ENABLE = 1,
    SERIAL_RTS_HANDSHAKE = 2,
    SERIAL_RTS_TOGGLE = 3,
};

// Purge flags: abort pending transfers and clear the queues.
enum : uint32_t {
    SERIAL_PURGE_TXABORT = 0x1,
    SERIAL_PURGE_RXABORT = 0x2,
    SERIAL_PURGE_TXCLEAR = 0x4,
    SERIAL_PURGE_RXCLEAR = 0x8,
    SERIAL_PURGE_ALL = 0xF,
};

// Event mask bit: a character was received.
constexpr uint32_t SERIAL_EV_RXCHAR = 0x1;

// Line error flags reported (and cleared) by status().
enum : uint32_t {
    SERIAL_CE_RXOVER = 0x1,
    SERIAL_CE_OVERRUN = 0x2,
    SERIAL_CE_RXPARITY = 0x4,
    SERIAL_CE_FRAME = 0x8,
    SERIAL_CE_BREAK = 0x10,
};

// The value the length field carries in every record handed to get_settings.
constexpr uint32_t SERIAL_SETTINGS_LENGTH = 28;

// Line settings of a port, field for field the Windows device control block.
struct serial_settings {
    uint32_t length = SERIAL_SETTINGS_LENGTH;
    uint32_t baud = 9600;
    bool binary = true;
    bool parity_check = false;
    bool cts_out_flow = false;
    bool dsr_out_flow = false;
    uint8_t dtr_control = SERIAL_DTR_ENABLE;
    bool dsr_sensitivity = false;
    bool tx_continue_on_xoff = false;
    bool out_xon_xoff = false;
    bool in_xon_xoff = false;
    bool error_replace = false;
    bool null_strip = false;
    uint8_t rts_control = SERIAL_RTS_ENABLE;
    bool abort_on_error = false;
    uint16_t xon_limit = 0;
    uint16_t xoff_limit = 0;
    uint8_t byte_size = 8;
    uint8_t parity = SERIAL_PARITY_NONE;
    uint8_t stop_bits = SERIAL_STOP_1;
    char xon_char = 17;
    char xoff_char = 19;
    char error_char = 0;
    char eof_char = 0;
    char event_char = 0;
};

// Time-outs in milliseconds, with the Windows meaning: a read ends when the count
// is reached, when read_interval passes between two bytes (after the first), or
// when read_total_multiplier * count + read_total_constant has passed; zero turns
// a limit off. read_interval at its maximum with both totals zero returns at once
// with what is there. Writes end after write_total_multiplier * count +
// write_total_constant (zero: no limit).
struct serial_timeouts {
    uint32_t read_interval = 0;
    uint32_t read_total_multiplier = 0;
    uint32_t read_total_constant = 0;
    uint32_t write_total_multiplier = 0;
    uint32_t write_total_constant = 0;
};

constexpr uint32_t SERIAL_MAX_TIMEOUT = 0xFFFFFFFFu;

struct serial_status {
    uint32_t errors = 0;     // SERIAL_CE_ flags since the previous query
    uint32_t in_queue = 0;   // bytes received and not yet read
    uint32_t out_queue = 0;  // bytes written and not yet sent
};

// One open port. Every operation returns 0 or the system's error number taken at
// the point of failure. One thread uses a port at a time, except that status()
// may be called from a second thread while another waits in read().
class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual int set_event_mask(uint32_t mask) = 0;
    virtual int setup_queues(uint32_t in_size, uint32_t out_size) = 0;
    virtual int get_settings(serial_settings* settings) = 0;
    // Applies the record whole; a value the device cannot take fails the call.
    virtual int set_settings(const serial_settings& settings) = 0;
    virtual int get_timeouts(serial_timeouts* timeouts) = 0;
    virtual int set_timeouts(const serial_timeouts& timeouts) = 0;
    // Reads up to count bytes under the time-outs; a time-out is not an error:
    // *got tells how many bytes arrived.
    virtual int read(void* buffer, std::size_t count, std::size_t* got) = 0;
    // Writes under the write time-out; *written may be short after a time-out.
    virtual int write(const void* data, std::size_t count, std::size_t* written) = 0;
    // Queue counts and line errors; clears the error flags. The one call another
    // thread may make while the owner uses the port, close included.
    virtual int status(serial_status* status) = 0;
    virtual int purge(uint32_t flags) = 0;
    virtual int set_dtr(bool on) = 0;
    // Releases the device. After a failure the port stays open.
    virtual int close() = 0;
};

// Opens a system port by name for reading and writing, exclusively, an existing
// device only. 0 and the port, or the system error number.
int serial_open(const std::string& name, std::unique_ptr<SerialPort>* port);

}  // namespace mf::platform
