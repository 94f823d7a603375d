// A simulated wave monitor: answers the command lines of the wave monitor
// protocol, switches its laser after a delay, keeps a status record, calibration
// constants and the values set, and misbehaves on request.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/serial/peer.h"

namespace mf::sim {

class WaveMonitorPeer : public SerialPeer {
public:
    enum class Fault {
        none,
        nak,          // the closing ACK becomes NAK (a lone NAK for plain commands)
        bad_ack,      // the closing ACK becomes '?'
        silence,      // no answer at all
        truncate,     // only the first half of the answer
        garbage,      // the answer's length in junk bytes, no ACK
        unsolicited,  // two stray bytes before the answer
        huge_count,   // a counted answer announces 0xFFFFFFFF elements
        overlong,     // sixteen extra bytes after the answer
    };

    WaveMonitorPeer();

    // The next `times` commands are answered with the fault.
    void inject(Fault fault, int times = 1);
    // Time the laser takes to follow LO=n, measured on the clock service.
    void set_laser_delay_ms(int64_t ms);
    // Delay before every answer.
    void set_reply_delay_ms(int64_t ms);
    void set_status(uint32_t flags, const int32_t fields[8]);
    void set_cal_constants(const std::vector<uint8_t>& bytes);
    // The 32-bit samples "DA?" returns as a counted answer.
    void set_samples(const std::vector<int32_t>& samples);

    bool laser_on() const;
    std::string last_cl() const;
    std::string last_ss() const;
    std::vector<std::string> commands() const;

    void receive(const uint8_t* data, std::size_t count, std::vector<PeerOutput>& out) override;

private:
    std::vector<uint8_t> answer(const std::string& command, bool* counted);

    mutable std::mutex lock_;
    std::string line_;
    std::vector<std::string> commands_;
    Fault fault_ = Fault::none;
    int fault_times_ = 0;
    int64_t laser_delay_ms_ = 0;
    int64_t reply_delay_ms_ = 0;
    bool laser_target_ = false;
    bool laser_from_ = false;
    int64_t laser_switch_at_ = 0;
    uint32_t flags_ = 1;
    int32_t fields_[8] = {};
    std::vector<uint8_t> cal_;
    std::vector<int32_t> samples_;
    std::string cl_;
    std::string ss_;
};

}  // namespace mf::sim
