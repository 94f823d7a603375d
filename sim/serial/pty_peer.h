// Runs a SerialPeer on the controlling end of a pseudo-terminal, on its own
// thread, so that the serial layer talks to it through the real port backend.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "platform/pty.h"
#include "sim/serial/peer.h"

namespace mf::sim {

class PtyPeerRunner {
public:
    explicit PtyPeerRunner(SerialPeer& peer) : peer_(peer) {}
    ~PtyPeerRunner() { stop(); }
    PtyPeerRunner(const PtyPeerRunner&) = delete;
    PtyPeerRunner& operator=(const PtyPeerRunner&) = delete;

    // Opens the pair and starts answering. 0 or the system error number.
    int start();
    void stop();
    // The device name the serial layer opens.
    const std::string& device() const { return pty_.device(); }
    platform::Pty& pty() { return pty_; }

private:
    void run();

    SerialPeer& peer_;
    platform::Pty pty_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};

}  // namespace mf::sim
