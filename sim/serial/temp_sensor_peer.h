// A simulated temperature controller at address "0011": takes parameter writes
// (STX text ETX BCC) and reads (mnemonic ENQ), keeps the parameter values and an
// error status ("EE"), and misbehaves on request.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/serial/peer.h"

namespace mf::sim {

class TempSensorPeer : public SerialPeer {
public:
    enum class Fault {
        none,
        nak,             // refuse the next write
        bad_bcc,         // data reply with a wrong block check
        silence,         // no answer
        eot,             // answer a read with EOT (no value)
        garbage,         // a junk first character
        overlong,        // 300 characters after STX and no ETX
        wrong_mnemonic,  // a data reply for another parameter
    };

    TempSensorPeer();

    void inject(Fault fault, int times = 1);
    void set_value(const std::string& mnemonic, const std::string& value);
    std::string value(const std::string& mnemonic) const;
    // The error status reported for "EE", set when a frame is refused.
    std::string error_status() const;
    // Frames received, as raw bytes.
    std::vector<std::string> frames() const;

    void receive(const uint8_t* data, std::size_t count, std::vector<PeerOutput>& out) override;

private:
    std::vector<uint8_t> handle(const std::string& frame);
    std::vector<uint8_t> data_reply(const std::string& text, bool bad_bcc) const;

    mutable std::mutex lock_;
    std::string pending_;
    std::vector<std::string> frames_;
    std::map<std::string, std::string> values_;
    std::string error_ = "00";
    Fault fault_ = Fault::none;
    int fault_times_ = 0;
};

}  // namespace mf::sim
