#include "sim/serial/wave_monitor_peer.h"

#include <cstdlib>
#include <cstring>

#include "platform/clock.h"

namespace mf::sim {

namespace {

constexpr uint8_t ack = 0x06;
constexpr uint8_t nak = 0x15;

void put_le32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

}  // namespace

WaveMonitorPeer::WaveMonitorPeer() {
    for (int i = 0; i < 40; ++i)
        cal_.push_back(static_cast<uint8_t>(0xC0 + i));
    for (int i = 0; i < 8; ++i)
        fields_[i] = 100 + i;
}

void WaveMonitorPeer::inject(Fault fault, int times) {
    std::lock_guard<std::mutex> hold(lock_);
    fault_ = fault;
    fault_times_ = times;
}

void WaveMonitorPeer::set_laser_delay_ms(int64_t ms) {
    std::lock_guard<std::mutex> hold(lock_);
    laser_delay_ms_ = ms;
}

void WaveMonitorPeer::set_reply_delay_ms(int64_t ms) {
    std::lock_guard<std::mutex> hold(lock_);
    reply_delay_ms_ = ms;
}

void WaveMonitorPeer::set_status(uint32_t flags, const int32_t fields[8]) {
    std::lock_guard<std::mutex> hold(lock_);
    flags_ = flags;
    std::memcpy(fields_, fields, sizeof fields_);
}

void WaveMonitorPeer::set_cal_constants(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    cal_ = bytes;
    cal_.resize(40);
}

void WaveMonitorPeer::set_samples(const std::vector<int32_t>& samples) {
    std::lock_guard<std::mutex> hold(lock_);
    samples_ = samples;
}

bool WaveMonitorPeer::laser_on() const {
    std::lock_guard<std::mutex> hold(lock_);
    return platform::monotonic_ms() >= laser_switch_at_ ? laser_target_ : laser_from_;
}

std::string WaveMonitorPeer::last_cl() const {
    std::lock_guard<std::mutex> hold(lock_);
    return cl_;
}

std::string WaveMonitorPeer::last_ss() const {
    std::lock_guard<std::mutex> hold(lock_);
    return ss_;
}

std::vector<std::string> WaveMonitorPeer::commands() const {
    std::lock_guard<std::mutex> hold(lock_);
    return commands_;
}

// The answer to one command line, ACK included; empty for no answer.
std::vector<uint8_t> WaveMonitorPeer::answer(const std::string& command, bool* counted) {
    std::vector<uint8_t> r;
    *counted = false;
    const int64_t now = platform::monotonic_ms();
    const bool laser = now >= laser_switch_at_ ? laser_target_ : laser_from_;
    if (command == "LO?") {
        put_le32(r, (laser ? 0x8000u : 0u) | 0x1u);
    } else if (command == "LO=1" || command == "LO=0") {
        laser_from_ = laser;
        laser_target_ = command[3] == '1';
        laser_switch_at_ = now + laser_delay_ms_;
    } else if (command == "MS?") {
        put_le32(r, flags_);
        for (int32_t f : fields_)
            put_le32(r, static_cast<uint32_t>(f));
    } else if (command == "CC?") {
        const std::size_t n = (flags_ & (1u << 30)) ? 40 : 4;
        r.insert(r.end(), cal_.begin(), cal_.begin() + static_cast<long>(n));
    } else if (command.rfind("CL=", 0) == 0 && command.size() > 3) {
        cl_ = command.substr(3);
    } else if (command.rfind("SS=", 0) == 0 && command.size() > 3) {
        ss_ = command.substr(3);
    } else if (command.rfind("RR=", 0) == 0) {
        char* end = nullptr;
        long a = std::strtol(command.c_str() + 3, &end, 10);
        if (*end != ',') return {nak};
        long b = std::strtol(end + 1, &end, 10);
        put_le32(r, static_cast<uint32_t>(a + b));
        put_le32(r, static_cast<uint32_t>(a - b));
    } else if (command == "DA?") {
        *counted = true;
        put_le32(r, static_cast<uint32_t>(samples_.size()));
        for (int32_t s : samples_)
            put_le32(r, static_cast<uint32_t>(s));
    } else {
        return {nak};
    }
    r.push_back(ack);
    return r;
}

void WaveMonitorPeer::receive(const uint8_t* data, std::size_t count, std::vector<PeerOutput>& out) {
    std::lock_guard<std::mutex> hold(lock_);
    for (std::size_t i = 0; i < count; ++i) {
        if (data[i] != 0x0D) {
            if (line_.size() < 256) line_ += static_cast<char>(data[i]);
            continue;
        }
        const std::string command = line_;
        line_.clear();
        commands_.push_back(command);
        bool counted = false;
        std::vector<uint8_t> r = answer(command, &counted);

        Fault fault = Fault::none;
        if (fault_times_ > 0) {
            fault = fault_;
            if (--fault_times_ == 0) fault_ = Fault::none;
        }
        switch (fault) {
        case Fault::nak:
            r.back() = nak;
            break;
        case Fault::bad_ack:
            r.back() = '?';
            break;
        case Fault::silence:
            r.clear();
            break;
        case Fault::truncate:
            r.resize(r.size() / 2);
            break;
        case Fault::garbage:
            for (std::size_t k = 0; k < r.size(); ++k)
                r[k] = static_cast<uint8_t>(0xA5 ^ (k * 37));
            if (!r.empty() && (r.back() == ack || r.back() == nak)) r.back() = 0x5A;
            break;
        case Fault::unsolicited:
            r.insert(r.begin(), {0x55, 0xAA});
            break;
        case Fault::huge_count:
            if (counted) {
                r.assign({0xFF, 0xFF, 0xFF, 0xFF});
                r.push_back(ack);
            }
            break;
        case Fault::overlong:
            for (int k = 0; k < 16; ++k)
                r.push_back(static_cast<uint8_t>('x'));
            break;
        case Fault::none:
            break;
        }
        if (!r.empty()) out.push_back(PeerOutput{reply_delay_ms_, std::move(r)});
    }
}

}  // namespace mf::sim
