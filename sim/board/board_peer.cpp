#include "sim/board/board_peer.h"

#include <string_view>

#include "platform/clock.h"

namespace mf::sim {

namespace {

constexpr uint8_t ack_packet[] = {2, UR_ACK, UR_ACK};
constexpr uint8_t nak_packet[] = {2, UR_NAK, UR_NAK};
constexpr int max_points_per_packet = 512;
constexpr int64_t inter_byte_ms = 100;

// Ramp data packets: the board's verdict in the reply's one data byte.
enum : uint8_t { points_taken = 0, points_bad_sum = 1, points_no_load = 2, points_too_many = 3 };

uint8_t sum_of(const uint8_t* p, std::size_t n) {
    uint32_t s = 0;
    for (std::size_t i = 0; i < n; ++i)
        s += p[i];
    return static_cast<uint8_t>(s);
}

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

int slot_count(ur_family family) { return family == ur_family::uz1 || family == ur_family::fenn ? 12 : 4; }

}  // namespace

BoardPeer::BoardPeer(ur_family family)
    : family_(family),
      slots_(static_cast<std::size_t>(slot_count(family)), 255),
      rates_(static_cast<std::size_t>(slot_count(family)), 0),
      slot_points_(static_cast<std::size_t>(slot_count(family))) {
    load_code_ = code_named("RAMP_LOAD_CMD");
    data_code_ = code_named("RAMP_DATA_CMD");
    complete_code_ = code_named("RAMP_COMPLETE_CMD");
    abort_code_ = code_named("RAMP_ABORT_CMD");
    delete_code_ = code_named("RAMP_DELETE_CMD");
    start_code_ = code_named("RAMP_START_CMD");
    idle_code_ = code_named("RAMP_IDLE_CMD");
    request_code_ = code_named("RAMP_REQUEST_CMD");
    rate_code_ = code_named("RAMP_UPDATERATE_CMD");
}

int32_t BoardPeer::code_named(const char* suffix) const {
    for (const ur_command& c : ur_commands(static_cast<int32_t>(family_))) {
        std::string_view name = c.name;
        if (name.substr(name.find('_') + 1) == suffix) return c.code;
    }
    return -1;
}

void BoardPeer::inject(Fault fault, int times) {
    std::lock_guard<std::mutex> hold(lock_);
    fault_ = fault;
    fault_times_ = times;
}

void BoardPeer::reports_before_answer(int32_t report_code, int count, int times) {
    std::lock_guard<std::mutex> hold(lock_);
    report_code_ = report_code;
    report_count_ = count;
    report_times_ = times;
}

void BoardPeer::send_report(int32_t report_code, uint8_t value, int64_t delay_ms) {
    std::lock_guard<std::mutex> hold(lock_);
    spoken_.push_back(PeerOutput{delay_ms, report_packet(report_code, value)});
}

void BoardPeer::set_reply_delay_ms(int64_t ms) {
    std::lock_guard<std::mutex> hold(lock_);
    reply_delay_ms_ = ms;
}

void BoardPeer::set_reply_data(int32_t code, const std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> hold(lock_);
    reply_data_[code] = data;
}

void BoardPeer::set_ramp_run_ms(int64_t ms) {
    std::lock_guard<std::mutex> hold(lock_);
    ramp_run_ms_ = ms;
}

void BoardPeer::refuse_points_packet(int n, uint8_t verdict) {
    std::lock_guard<std::mutex> hold(lock_);
    refuse_packet_ = n;
    refuse_verdict_ = verdict;
}

void BoardPeer::fault_at_points_packet(int n, Fault fault, int times) {
    std::lock_guard<std::mutex> hold(lock_);
    fault_packet_ = n;
    packet_fault_ = fault;
    packet_fault_times_ = times;
}

std::vector<uint16_t> BoardPeer::slot_points(int slot) const {
    std::lock_guard<std::mutex> hold(lock_);
    return slot >= 0 && static_cast<std::size_t>(slot) < slot_points_.size()
               ? slot_points_[static_cast<std::size_t>(slot)]
               : std::vector<uint16_t>{};
}

int BoardPeer::started_slot() const {
    std::lock_guard<std::mutex> hold(lock_);
    return started_slot_;
}

std::vector<uint8_t> BoardPeer::slots() const {
    std::lock_guard<std::mutex> hold(lock_);
    return slots_;
}

bool BoardPeer::idle() const {
    std::lock_guard<std::mutex> hold(lock_);
    return !running_ || platform::monotonic_ms() >= ramp_end_;
}

std::vector<uint16_t> BoardPeer::ramp_points() const {
    std::lock_guard<std::mutex> hold(lock_);
    return points_;
}

uint8_t BoardPeer::ramp_point_sum() const {
    std::lock_guard<std::mutex> hold(lock_);
    return point_sum_;
}

uint16_t BoardPeer::update_rate(int slot) const {
    std::lock_guard<std::mutex> hold(lock_);
    return slot >= 0 && static_cast<std::size_t>(slot) < rates_.size() ? rates_[static_cast<std::size_t>(slot)] : 0;
}

std::vector<uint8_t> BoardPeer::received() const {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
}

std::vector<uint8_t> BoardPeer::transmitted() const {
    std::lock_guard<std::mutex> hold(lock_);
    return transmitted_;
}

std::vector<int32_t> BoardPeer::commands() const {
    std::lock_guard<std::mutex> hold(lock_);
    return commands_;
}

std::vector<uint8_t> BoardPeer::report_packet(int32_t report_code, uint8_t value) {
    const auto code = static_cast<uint8_t>(report_code);
    return {3, code, value, static_cast<uint8_t>(code + value)};
}

void BoardPeer::speak(std::vector<PeerOutput>& out) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& s : spoken_) {
        transmitted_.insert(transmitted_.end(), s.bytes.begin(), s.bytes.end());
        out.push_back(std::move(s));
    }
    spoken_.clear();
}

void BoardPeer::receive(const uint8_t* data, std::size_t count, std::vector<PeerOutput>& out) {
    std::lock_guard<std::mutex> hold(lock_);
    // A packet the host stopped sending in the middle is dropped once the line has
    // been quiet for longer than the board waits between characters.
    const int64_t now = platform::monotonic_ms();
    if (now - last_byte_ms_ > inter_byte_ms) {
        partial_.clear();
        raw_expected_ = 0;
    }
    last_byte_ms_ = now;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t b = data[i];
        received_.push_back(b);
        if (raw_expected_ > 0) {
            partial_.push_back(b);
            if (--raw_expected_ == 0) take_ramp_points(out);
            continue;
        }
        // A length byte of 0 or above 127 frames nothing: the board waits for the next.
        if (partial_.empty() && (b == 0 || b > 127)) continue;
        partial_.push_back(b);
        if (partial_.size() == static_cast<std::size_t>(partial_[0]) + 1) take_packet(out);
    }
}

void BoardPeer::take_packet(std::vector<PeerOutput>& out) {
    std::vector<uint8_t> p;
    p.swap(partial_);
    const std::size_t len = p[0];
    const std::span<const ur_command> table = ur_commands(static_cast<int32_t>(family_));
    const int32_t code = p[1];
    const bool framed = len >= 2 && sum_of(&p[1], len - 1) == p[len];
    const bool known =
        static_cast<std::size_t>(code) < table.size() && table[static_cast<std::size_t>(code)].send_len != 0;
    if (!framed || !known || table[static_cast<std::size_t>(code)].send_len != len) {
        emit({std::begin(nak_packet), std::end(nak_packet)}, out);
        return;
    }
    commands_.push_back(code);
    if (code == data_code_) {
        // The points follow the header unframed: two bytes each and their sum.
        raw_count_ = be16(&p[2]);
        raw_expected_ = 2u * raw_count_ + 1;
        return;
    }
    std::vector<uint8_t> a = answer(table[static_cast<std::size_t>(code)], &p[2]);
    if (a.empty()) a.assign(std::begin(nak_packet), std::end(nak_packet));
    emit(std::move(a), out);
}

void BoardPeer::take_ramp_points(std::vector<PeerOutput>& out) {
    std::vector<uint8_t> p;
    p.swap(partial_);
    const std::size_t n = 2u * raw_count_;
    uint8_t verdict = points_taken;
    if (++points_packets_ == refuse_packet_) {
        verdict = refuse_verdict_;
        refuse_packet_ = 0;
    } else if (sum_of(p.data(), n) != p[n])
        verdict = points_bad_sum;
    else if (!load_.active)
        verdict = points_no_load;
    else if (raw_count_ > max_points_per_packet || points_.size() + raw_count_ > load_.points)
        verdict = points_too_many;
    if (verdict == points_taken) {
        for (std::size_t i = 0; i < n; i += 2)
            points_.push_back(be16(&p[i]));
        point_sum_ = static_cast<uint8_t>(point_sum_ + p[n]);
    }
    if (points_packets_ == fault_packet_) {
        fault_ = packet_fault_;
        fault_times_ = packet_fault_times_;
        fault_packet_ = 0;
    }
    const ur_command& cmd = ur_command_of(static_cast<int32_t>(family_), data_code_);
    emit(data_reply(cmd, data_code_, {verdict}), out);
}

std::vector<uint8_t> BoardPeer::data_reply(const ur_command& cmd, int32_t reply_code, std::vector<uint8_t> data) const {
    const std::size_t len = cmd.reply_len;
    data.resize(len - 2);
    std::vector<uint8_t> r{static_cast<uint8_t>(len), static_cast<uint8_t>(reply_code)};
    r.insert(r.end(), data.begin(), data.end());
    r.push_back(sum_of(&r[1], len - 1));
    return r;
}

std::vector<uint8_t> BoardPeer::answer(const ur_command& cmd, const uint8_t* p) {
    const std::vector<uint8_t> ack(std::begin(ack_packet), std::end(ack_packet));
    const int32_t code = cmd.code;
    const std::size_t slots = slots_.size();
    const int64_t now = platform::monotonic_ms();
    if (code == load_code_) {
        if (p[0] >= slots) return {};
        load_ = Load{true, p[0], p[1], be16(&p[3]), be16(&p[11])};
        points_.clear();
        point_sum_ = 0;
        points_packets_ = 0;
        return ack;
    }
    if (code == complete_code_) {
        // A load that did not get all its points leaves its slot empty.
        if (load_.active) {
            const auto slot = static_cast<std::size_t>(load_.slot);
            const bool whole = points_.size() == load_.points;
            slots_[slot] = whole ? load_.ramp_id : 255;
            rates_[slot] = load_.rate;
            slot_points_[slot] = whole ? points_ : std::vector<uint16_t>{};
            load_.active = false;
        }
        return ack;
    }
    if (code == abort_code_) {
        load_.active = false;
        running_ = false;
        return ack;
    }
    if (code == delete_code_) {
        if (p[0] >= slots) return {};
        slots_[p[0]] = 255;
        slot_points_[p[0]].clear();
        return ack;
    }
    if (code == start_code_) {
        if (p[0] >= slots || slots_[p[0]] == 255) return {};
        running_ = true;
        started_slot_ = p[0];
        const std::size_t held = slot_points_[p[0]].size();
        ramp_end_ =
            now + (ramp_run_ms_ >= 0 ? ramp_run_ms_ : static_cast<int64_t>(held) * (65536 - rates_[p[0]]) / 4000);
        return ack;
    }
    if (code == idle_code_) return data_reply(cmd, code, {static_cast<uint8_t>(!running_ || now >= ramp_end_)});
    if (code == request_code_) return data_reply(cmd, code, slots_);
    if (code == rate_code_) {
        // An empty slot is answered with the family's invalid-slot reply code.
        if (p[0] >= slots || slots_[p[0]] == 255) return data_reply(cmd, family_ == ur_family::uz1 ? 23 : 19, {1});
        rates_[p[0]] = be16(&p[1]);
        return data_reply(cmd, code, {0});
    }
    if (cmd.reply_len == 0) return ack;
    auto it = reply_data_.find(code);
    return data_reply(cmd, code, it == reply_data_.end() ? std::vector<uint8_t>{} : it->second);
}

void BoardPeer::emit(std::vector<uint8_t> a, std::vector<PeerOutput>& out) {
    std::vector<uint8_t> bytes;
    if (report_times_ > 0) {
        --report_times_;
        for (int k = 0; k < report_count_; ++k) {
            auto r = report_packet(report_code_, static_cast<uint8_t>(k));
            bytes.insert(bytes.end(), r.begin(), r.end());
        }
    }
    Fault fault = Fault::none;
    if (fault_times_ > 0) {
        fault = fault_;
        if (--fault_times_ == 0) fault_ = Fault::none;
    }
    switch (fault) {
    case Fault::nak:
        a.assign(std::begin(nak_packet), std::end(nak_packet));
        break;
    case Fault::bad_checksum:
        a.back() = static_cast<uint8_t>(a.back() ^ 0x5A);
        break;
    case Fault::wrong_code:
        // An acknowledge turns into a code that is neither acknowledge nor refusal.
        a[1] = a[1] == UR_ACK ? 0xFD : static_cast<uint8_t>(a[1] + 1);
        a.back() = sum_of(&a[1], a.size() - 2);
        break;
    case Fault::silence:
        a.clear();
        break;
    case Fault::short_reply:
        a.resize(1 + a[0] / 2);
        break;
    case Fault::zero_length:
        a.assign({0});
        break;
    case Fault::top_bit_length:
        a[0] = static_cast<uint8_t>(a[0] | 0x80);
        break;
    case Fault::none:
        break;
    }
    bytes.insert(bytes.end(), a.begin(), a.end());
    if (bytes.empty()) return;
    transmitted_.insert(transmitted_.end(), bytes.begin(), bytes.end());
    out.push_back(PeerOutput{reply_delay_ms_, std::move(bytes)});
}

}  // namespace mf::sim
