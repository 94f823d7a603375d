// A serial port that the serial layer opens by name, backed by an in-process
// stream with an optional simulated peer, under a virtual clock.
#pragma once

#include <memory>
#include <string>

#include "platform/clock.h"
#include "serial/sio.h"
#include "sim/serial/stream_port.h"

namespace mf::test {

class VirtualLine {
public:
    explicit VirtualLine(sim::SerialPeer* peer = nullptr, std::string name = "VCOM1")
        : line(std::make_shared<sim::StreamLine>(peer)), name_(std::move(name)) {
        platform::set_clock(&clock);
        sio_add_virtual_port(name_, [l = line](std::unique_ptr<platform::SerialPort>* p) { return l->open(p); });
    }
    ~VirtualLine() {
        if (port.handle != SIO_INVALID_HANDLE) {
            line->faults = sim::StreamFaults{};
            sio_close(&port);
        }
        sio_remove_virtual_port(name_);
        platform::set_clock(nullptr);
    }
    VirtualLine(const VirtualLine&) = delete;
    VirtualLine& operator=(const VirtualLine&) = delete;

    const char* name() const { return name_.c_str(); }
    // sio_open and sio_init_soft without settings text, as the protocol modules do.
    int32_t open_soft() {
        int32_t err = sio_open(name_.c_str(), &port);
        return err != 0 ? err : sio_init_soft(port.handle, nullptr);
    }
    sio_handle handle() const { return port.handle; }

    platform::VirtualClock clock;
    std::shared_ptr<sim::StreamLine> line;
    sio_port port;

private:
    std::string name_;
};

}  // namespace mf::test
