// A simulated serial device: bytes from the host in, the device's answer out.
// Peers do no I/O of their own; a StreamLine (in-process) or a PtyPeerRunner (a
// pseudo-terminal) carries their bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mf::sim {

// Bytes the peer sends, delay_ms after the bytes that caused them arrived.
struct PeerOutput {
    int64_t delay_ms = 0;
    std::vector<uint8_t> bytes;
};

class SerialPeer {
public:
    virtual ~SerialPeer() = default;
    // Called with each chunk the host writes; may be called from a runner thread.
    virtual void receive(const uint8_t* data, std::size_t count, std::vector<PeerOutput>& out) = 0;
    // Asked whenever the line looks for bytes: what the peer sends on its own
    // (a board's reports), delay_ms from now. Each output is handed out once.
    virtual void speak(std::vector<PeerOutput>& /*out*/) {}
};

}  // namespace mf::sim
