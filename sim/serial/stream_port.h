// An in-process serial line: the host end is a platform::SerialPort that the
// serial layer opens by a registered name, the far end is a SerialPeer (or the
// test itself). Reads follow the Windows time-out rules in the time of the clock
// service, so with a VirtualClock a 10 s silence costs nothing and the waits can
// be asserted.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "sim/serial/peer.h"

namespace mf::sim {

// Errors the host end returns on request; 0 means the call works. Each value is
// the system-style error number returned.
struct StreamFaults {
    int open = 0;
    int event_mask = 0;
    int setup_queues = 0;
    int get_settings = 0;
    int set_settings = 0;
    int get_timeouts = 0;
    int set_timeouts = 0;
    int read = 0;
    int write = 0;
    int status = 0;
    int purge = 0;
    int set_dtr = 0;
    int close = 0;
    // Bytes the line reports as unsent for ever (a device that never drains).
    uint32_t stuck_out_queue = 0;
    // The write call accepts at most this many bytes.
    std::size_t write_limit = static_cast<std::size_t>(-1);
};

class StreamLine : public std::enable_shared_from_this<StreamLine> {
public:
    explicit StreamLine(SerialPeer* peer = nullptr) : peer_(peer) {}

    // Opens the host end: 0 and a port, or EBUSY while it is open.
    int open(std::unique_ptr<platform::SerialPort>* port);

    // Bytes the host will read, now or after delay_ms.
    void feed(const std::vector<uint8_t>& bytes, int64_t delay_ms = 0);
    void feed(const std::string& bytes, int64_t delay_ms = 0);
    // Everything the host wrote.
    std::vector<uint8_t> sent() const;
    void clear_sent();
    // Bytes waiting for the host.
    std::size_t pending() const;

    platform::serial_settings settings() const;
    platform::serial_timeouts timeouts() const;
    // Sets the time-outs as a driver default would be, without the host.
    void preset_timeouts(const platform::serial_timeouts& t);
    // Every read-total constant the host set, in order.
    std::vector<uint32_t> read_constant_history() const;
    bool dtr() const;
    bool is_open() const;
    uint32_t event_mask() const;
    uint32_t queue_size() const;
    int purges() const;

    StreamFaults faults;

private:
    friend class StreamPort;
    void release_due(int64_t now);

    mutable std::mutex lock_;
    SerialPeer* peer_;
    std::deque<uint8_t> input_;
    std::multimap<int64_t, std::vector<uint8_t>> scheduled_;  // by due time
    std::vector<uint8_t> sent_;
    platform::serial_settings settings_{};
    platform::serial_timeouts timeouts_{};
    std::vector<uint32_t> constants_;
    bool dtr_ = false;
    bool open_ = false;
    uint32_t mask_ = 0;
    uint32_t queue_ = 0;
    int purges_ = 0;
};

}  // namespace mf::sim
