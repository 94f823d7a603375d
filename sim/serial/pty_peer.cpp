#include "sim/serial/pty_peer.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace mf::sim {

namespace {
// The runner measures reply delays in real time: the other end of a pty is a
// real device wait, not something a virtual clock can shorten.
int64_t real_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

int PtyPeerRunner::start() {
    int err = pty_.open();
    if (err != 0) return err;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return 0;
}

void PtyPeerRunner::stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    pty_.close();
}

void PtyPeerRunner::run() {
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> due;
    uint8_t buffer[512];
    while (running_) {
        int64_t now = real_ms();
        std::vector<PeerOutput> spoken;
        peer_.speak(spoken);
        for (auto& o : spoken)
            due.emplace_back(now + o.delay_ms, std::move(o.bytes));
        for (auto it = due.begin(); it != due.end();) {
            if (it->first <= now) {
                pty_.write(it->second.data(), it->second.size());
                it = due.erase(it);
            } else {
                ++it;
            }
        }
        int wait = 20;
        for (const auto& d : due)
            wait = static_cast<int>(std::min<int64_t>(wait, std::max<int64_t>(1, d.first - now)));
        std::size_t got = 0;
        if (pty_.read(buffer, sizeof buffer, wait, &got) != 0 || got == 0) continue;
        std::vector<PeerOutput> out;
        peer_.receive(buffer, got, out);
        now = real_ms();
        for (auto& o : out) {
            if (o.delay_ms <= 0 && due.empty())
                pty_.write(o.bytes.data(), o.bytes.size());
            else
                due.emplace_back(now + o.delay_ms, std::move(o.bytes));
        }
    }
}

}  // namespace mf::sim
