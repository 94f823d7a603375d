#include "sim/serial/temp_sensor_peer.h"

#include <algorithm>

namespace mf::sim {

namespace {

constexpr char eot = 0x04;
constexpr char stx = 0x02;
constexpr char etx = 0x03;
constexpr char enq = 0x05;
constexpr uint8_t ack = 0x06;
constexpr uint8_t nak = 0x15;
const std::string address = "0011";

uint8_t xor_of(const std::string& s, std::size_t from, std::size_t to) {
    uint8_t x = 0;
    for (std::size_t i = from; i < to; ++i)
        x ^= static_cast<uint8_t>(s[i]);
    return x;
}

}  // namespace

TempSensorPeer::TempSensorPeer() {
    values_["PV"] = "0023.5";
    values_["SP"] = "0025.0";
}

void TempSensorPeer::inject(Fault fault, int times) {
    std::lock_guard<std::mutex> hold(lock_);
    fault_ = fault;
    fault_times_ = times;
}

void TempSensorPeer::set_value(const std::string& mnemonic, const std::string& value) {
    std::lock_guard<std::mutex> hold(lock_);
    values_[mnemonic] = value;
}

std::string TempSensorPeer::value(const std::string& mnemonic) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = values_.find(mnemonic);
    return it == values_.end() ? std::string() : it->second;
}

std::string TempSensorPeer::error_status() const {
    std::lock_guard<std::mutex> hold(lock_);
    return error_;
}

std::vector<std::string> TempSensorPeer::frames() const {
    std::lock_guard<std::mutex> hold(lock_);
    return frames_;
}

std::vector<uint8_t> TempSensorPeer::data_reply(const std::string& text, bool bad_bcc) const {
    std::string body = text + etx;
    uint8_t bcc = xor_of(body, 0, body.size());
    if (bad_bcc) bcc ^= 0x5A;
    // Sized once: gcc 12 takes the growth of a one-byte vector by insert() for an
    // out-of-bounds copy (-Warray-bounds) at -O2.
    std::vector<uint8_t> r(body.size() + 2);
    r.front() = static_cast<uint8_t>(stx);
    std::copy(body.begin(), body.end(), r.begin() + 1);
    r.back() = bcc;
    return r;
}

// One complete frame, header included.
std::vector<uint8_t> TempSensorPeer::handle(const std::string& frame) {
    frames_.push_back(frame);
    Fault fault = Fault::none;
    if (fault_times_ > 0) {
        fault = fault_;
        if (--fault_times_ == 0) fault_ = Fault::none;
    }
    if (fault == Fault::silence) return {};
    if (fault == Fault::garbage) return {'?'};

    if (frame.compare(1, 4, address) != 0) return {};
    if (frame[5] == stx) {
        // Write: STX text ETX BCC.
        const std::size_t etx_at = frame.size() - 2;
        const uint8_t bcc = static_cast<uint8_t>(frame.back());
        if (frame[etx_at] != etx || xor_of(frame, 6, etx_at + 1) != bcc) {
            error_ = "03";
            return {nak};
        }
        if (fault == Fault::nak) {
            error_ = "07";
            return {nak};
        }
        const std::string text = frame.substr(6, etx_at - 6);
        if (text.size() < 2) {
            error_ = "04";
            return {nak};
        }
        values_[text.substr(0, 2)] = text.substr(2);
        error_ = "00";
        return {ack};
    }
    // Read: mnemonic ENQ.
    const std::string mnemonic = frame.substr(5, frame.size() - 6);
    if (fault == Fault::eot) return {static_cast<uint8_t>(eot)};
    if (fault == Fault::overlong) {
        std::vector<uint8_t> r(1, static_cast<uint8_t>(stx));
        r.insert(r.end(), 300, static_cast<uint8_t>('9'));
        return r;
    }
    if (mnemonic == "EE") return data_reply("EE" + error_, fault == Fault::bad_bcc);
    auto it = values_.find(mnemonic);
    if (it == values_.end()) return {static_cast<uint8_t>(eot)};
    if (fault == Fault::wrong_mnemonic) return data_reply("ZZ" + it->second, false);
    return data_reply(mnemonic + it->second, fault == Fault::bad_bcc);
}

void TempSensorPeer::receive(const uint8_t* data, std::size_t count, std::vector<PeerOutput>& out) {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.append(reinterpret_cast<const char*>(data), count);
    for (;;) {
        // A frame starts at EOT; anything before it is line noise.
        std::size_t start = pending_.find(eot);
        if (start == std::string::npos) {
            pending_.clear();
            return;
        }
        pending_.erase(0, start);
        if (pending_.size() < 6) return;
        std::size_t end = std::string::npos;
        if (pending_[5] == stx) {
            std::size_t e = pending_.find(etx, 6);
            if (e != std::string::npos && e + 1 < pending_.size()) end = e + 2;
        } else {
            std::size_t e = pending_.find(enq, 5);
            if (e != std::string::npos) end = e + 1;
        }
        if (end == std::string::npos) {
            if (pending_.size() > 1024) pending_.clear();
            return;
        }
        std::vector<uint8_t> r = handle(pending_.substr(0, end));
        pending_.erase(0, end);
        if (!r.empty()) out.push_back(PeerOutput{0, std::move(r)});
    }
}

}  // namespace mf::sim
