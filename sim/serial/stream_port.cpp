#include "sim/serial/stream_port.h"

#include <algorithm>
#include <limits>

#include "platform/clock.h"

namespace mf::sim {

namespace {
constexpr int busy = 16;
constexpr int closed = 9;
constexpr int64_t never = std::numeric_limits<int64_t>::max();
}  // namespace

using platform::SERIAL_MAX_TIMEOUT;

class StreamPort : public platform::SerialPort {
public:
    explicit StreamPort(std::shared_ptr<StreamLine> line) : line_(std::move(line)) {}
    ~StreamPort() override {
        if (open_) close();
    }

    int set_event_mask(uint32_t mask) override {
        std::lock_guard<std::mutex> hold(line_->lock_);
        if (line_->faults.event_mask) return line_->faults.event_mask;
        line_->mask_ = mask;
        return 0;
    }

    int setup_queues(uint32_t in_size, uint32_t) override {
        std::lock_guard<std::mutex> hold(line_->lock_);
        if (line_->faults.setup_queues) return line_->faults.setup_queues;
        line_->queue_ = in_size;
        return 0;
    }

    int get_settings(platform::serial_settings* s) override {
        std::lock_guard<std::mutex> hold(line_->lock_);
        if (line_->faults.get_settings) return line_->faults.get_settings;
        *s = line_->settings_;
        return 0;
    }

    // Refuses what a Windows driver refuses.
    int set_settings(const platform::serial_settings& s) override {
        std::lock_guard<std::mutex> hold(line_->lock_);
        if (line_->faults.set_settings) return line_->faults.set_settings;
        if (s.baud == 0 || s.byte_size < 5 || s.byte_size > 8 || s.parity > platform::SERIAL_PARITY_SPACE ||
            s.stop_bits > platform::SERIAL_STOP_2)
            return 87;
        line_->settings_ = s;
        if (s.dtr_control == platform::SERIAL_DTR_ENABLE) line_->dtr_ = true;
        return 0;
    }

    int get_timeouts(platform::serial_timeouts* t) override {
        std::lock_guard<std::mutex> hold(line_->lock_);
        if (line_->faults.get_timeouts) return line_->faults.get_timeouts;
        *t = line_->timeouts_;
        return 0;
    }

    int set_timeouts(const platform::serial_timeouts& t) override {
        std::lock_guard<std::mutex> hold(line_->lock_);
        if (line_->faults.set_timeouts) return line_->faults.set_timeouts;
        line_->timeouts_ = t;
        line_->constants_.push_back(t.read_total_constant);
        return 0;
    }

    int read(void* buffer, std::size_t count, std::size_t* got) override {
        *got = 0;
        std::unique_lock<std::mutex> hold(line_->lock_);
        if (line_->faults.read) return line_->faults.read;
        auto* out = static_cast<uint8_t*>(buffer);
        const platform::serial_timeouts t = line_->timeouts_;
        const bool immediate =
            t.read_interval == SERIAL_MAX_TIMEOUT && t.read_total_multiplier == 0 && t.read_total_constant == 0;
        const bool first_only = t.read_interval == SERIAL_MAX_TIMEOUT &&
                                t.read_total_multiplier == SERIAL_MAX_TIMEOUT && t.read_total_constant > 0 &&
                                t.read_total_constant < SERIAL_MAX_TIMEOUT;
        const bool total_used = first_only || t.read_total_multiplier != 0 || t.read_total_constant != 0;
        const bool interval_used = !first_only && t.read_interval != 0 && t.read_interval != SERIAL_MAX_TIMEOUT;
        const int64_t start = platform::monotonic_ms();
        const int64_t total_deadline =
            first_only ? start + t.read_total_constant
                       : start + static_cast<int64_t>(t.read_total_multiplier) * static_cast<int64_t>(count) +
                             t.read_total_constant;
        int64_t last = start;
        for (;;) {
            const int64_t now = platform::monotonic_ms();
            line_->release_due(now);
            std::size_t take = std::min(count - *got, line_->input_.size());
            for (std::size_t i = 0; i < take; ++i) {
                out[(*got)++] = line_->input_.front();
                line_->input_.pop_front();
            }
            if (take > 0) last = now;
            if (*got == count || (first_only && *got > 0) || immediate) return 0;

            int64_t deadline = total_used ? total_deadline : never;
            if (interval_used && *got > 0) deadline = std::min(deadline, last + t.read_interval);
            const int64_t next = line_->scheduled_.empty() ? never : line_->scheduled_.begin()->first;
            // Nothing can arrive any more: a real line would wait for ever.
            if (deadline == never && next == never) return 0;
            const int64_t until = std::min(deadline, next);
            if (until > now) {
                hold.unlock();
                platform::sleep_ms(until - now);
                hold.lock();
            }
            if (next > deadline) {
                line_->release_due(deadline);
                std::size_t rest = std::min(count - *got, line_->input_.size());
                for (std::size_t i = 0; i < rest; ++i) {
                    out[(*got)++] = line_->input_.front();
                    line_->input_.pop_front();
                }
                return 0;
            }
        }
    }

    int write(const void* data, std::size_t count, std::size_t* written) override {
        *written = 0;
        std::vector<PeerOutput> replies;
        {
            std::lock_guard<std::mutex> hold(line_->lock_);
            if (line_->faults.write) return line_->faults.write;
            std::size_t n = std::min(count, line_->faults.write_limit);
            const auto* p = static_cast<const uint8_t*>(data);
            line_->sent_.insert(line_->sent_.end(), p, p + n);
            *written = n;
            if (line_->peer_ != nullptr && n > 0) line_->peer_->receive(p, n, replies);
        }
        for (const auto& r : replies)
            line_->feed(r.bytes, r.delay_ms);
        return 0;
    }

    int status(platform::serial_status* st) override {
        std::lock_guard<std::mutex> hold(line_->lock_);
        *st = platform::serial_status{};
        if (line_->faults.status) return line_->faults.status;
        line_->release_due(platform::monotonic_ms());
        st->in_queue = static_cast<uint32_t>(line_->input_.size());
        st->out_queue = line_->faults.stuck_out_queue;
        return 0;
    }

    int purge(uint32_t flags) override {
        std::lock_guard<std::mutex> hold(line_->lock_);
        if (line_->faults.purge) return line_->faults.purge;
        ++line_->purges_;
        if (flags & (platform::SERIAL_PURGE_RXABORT | platform::SERIAL_PURGE_RXCLEAR)) {
            line_->release_due(platform::monotonic_ms());
            line_->input_.clear();
        }
        return 0;
    }

    int set_dtr(bool on) override {
        std::lock_guard<std::mutex> hold(line_->lock_);
        if (line_->faults.set_dtr) return line_->faults.set_dtr;
        line_->dtr_ = on;
        return 0;
    }

    int close() override {
        std::lock_guard<std::mutex> hold(line_->lock_);
        if (!open_) return closed;
        if (line_->faults.close) return line_->faults.close;
        open_ = false;
        line_->open_ = false;
        return 0;
    }

private:
    std::shared_ptr<StreamLine> line_;
    bool open_ = true;
};

int StreamLine::open(std::unique_ptr<platform::SerialPort>* port) {
    std::lock_guard<std::mutex> hold(lock_);
    if (faults.open) return faults.open;
    if (open_) return busy;
    open_ = true;
    *port = std::make_unique<StreamPort>(shared_from_this());
    return 0;
}

void StreamLine::release_due(int64_t now) {
    if (peer_ != nullptr) {
        std::vector<PeerOutput> spoken;
        peer_->speak(spoken);
        for (auto& o : spoken)
            scheduled_.emplace(now + std::max<int64_t>(o.delay_ms, 0), std::move(o.bytes));
    }
    while (!scheduled_.empty() && scheduled_.begin()->first <= now) {
        auto it = scheduled_.begin();
        input_.insert(input_.end(), it->second.begin(), it->second.end());
        scheduled_.erase(it);
    }
}

void StreamLine::feed(const std::vector<uint8_t>& bytes, int64_t delay_ms) {
    std::lock_guard<std::mutex> hold(lock_);
    if (delay_ms <= 0) {
        release_due(platform::monotonic_ms());
        input_.insert(input_.end(), bytes.begin(), bytes.end());
    } else {
        scheduled_.emplace(platform::monotonic_ms() + delay_ms, bytes);
    }
}

void StreamLine::feed(const std::string& bytes, int64_t delay_ms) {
    feed(std::vector<uint8_t>(bytes.begin(), bytes.end()), delay_ms);
}

std::vector<uint8_t> StreamLine::sent() const {
    std::lock_guard<std::mutex> hold(lock_);
    return sent_;
}

void StreamLine::clear_sent() {
    std::lock_guard<std::mutex> hold(lock_);
    sent_.clear();
}

std::size_t StreamLine::pending() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::size_t n = input_.size();
    for (const auto& s : scheduled_)
        n += s.second.size();
    return n;
}

platform::serial_settings StreamLine::settings() const {
    std::lock_guard<std::mutex> hold(lock_);
    return settings_;
}

platform::serial_timeouts StreamLine::timeouts() const {
    std::lock_guard<std::mutex> hold(lock_);
    return timeouts_;
}

void StreamLine::preset_timeouts(const platform::serial_timeouts& t) {
    std::lock_guard<std::mutex> hold(lock_);
    timeouts_ = t;
}

std::vector<uint32_t> StreamLine::read_constant_history() const {
    std::lock_guard<std::mutex> hold(lock_);
    return constants_;
}

bool StreamLine::dtr() const {
    std::lock_guard<std::mutex> hold(lock_);
    return dtr_;
}

bool StreamLine::is_open() const {
    std::lock_guard<std::mutex> hold(lock_);
    return open_;
}

uint32_t StreamLine::event_mask() const {
    std::lock_guard<std::mutex> hold(lock_);
    return mask_;
}

uint32_t StreamLine::queue_size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return queue_;
}

int StreamLine::purges() const {
    std::lock_guard<std::mutex> hold(lock_);
    return purges_;
}

}  // namespace mf::sim
