// Pseudo-terminal pairs: the device end behaves as a serial port that the serial
// layer opens by name; the controlling end is where a simulated peer sits.
// POSIX only; on other systems open() reports that the service is missing.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/serial_port.h"

namespace mf::platform {

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Whether this system has pseudo-terminals.
    static bool available();

    // Creates the pair with the device end in raw mode. 0 or the system error number.
    int open();
    // The name under which the device end opens, e.g. "/dev/pts/3".
    const std::string& device() const { return device_; }
    // Waits up to timeout_ms for bytes from the device end, then takes what is
    // there (at most count). A time-out is not an error.
    int read(void* buffer, std::size_t count, int timeout_ms, std::size_t* got);
    int write(const void* data, std::size_t count);
    // The line settings of the pair as the terminal driver holds them: baud, data
    // bits, parity and parity checking, stop bits (1 or 2), XON/XOFF, CTS flow.
    int line(serial_settings* settings);
    // Whether the terminal is in exclusive mode (further opens refused to users
    // without the privilege that ignores it).
    int exclusive(bool* on);
    // Closes the controlling end only: the device end sees a hang-up.
    void hang_up();
    void close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string device_;
};

}  // namespace mf::platform
