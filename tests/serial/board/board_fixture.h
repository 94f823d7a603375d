// A virtual board of one family opened through ur_initUZ: on an in-process line
// under a virtual clock, with the device control table running.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "calfile/sysinfo.h"
#include "devctl/devctl.h"
#include "serial/board/ur_board.h"
#include "sim/board/board_peer.h"
#include "tests/serial/virtual_line.h"

namespace mf::test {

// "02 29 29" -> bytes.
inline std::vector<uint8_t> hex(const std::string& text) {
    std::vector<uint8_t> v;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == ' ') {
            ++pos;
            continue;
        }
        std::size_t used = 0;
        v.push_back(static_cast<uint8_t>(std::stoul(text.substr(pos, 2), &used, 16)));
        pos += used;
    }
    return v;
}

class BoardOnLine {
public:
    explicit BoardOnLine(ur_family family, std::string name = "VBOARD0", int slot = 0)
        : board(family), line(&board, name), name_(std::move(name)) {
        si.slot = slot;
        si.boardType = static_cast<int32_t>(family);
        si.instrComm = name_.data();
    }
    ~BoardOnLine() {
        sio_port* p = port();
        if (p->handle != SIO_INVALID_HANDLE) {
            line.line->faults = sim::StreamFaults{};
            ur_closeUZ(p);
        }
    }
    BoardOnLine(const BoardOnLine&) = delete;
    BoardOnLine& operator=(const BoardOnLine&) = delete;

    sio_port* port() { return ur_port(si.slot); }
    // Bytes the board received and sent since the last call.
    std::vector<uint8_t> sent() { return take(board.received(), seen_in_); }
    std::vector<uint8_t> answered() { return take(board.transmitted(), seen_out_); }

    sim::BoardPeer board;
    VirtualLine line;
    sysInfo si{};

private:
    static std::vector<uint8_t> take(const std::vector<uint8_t>& all, std::size_t& seen) {
        std::vector<uint8_t> v(all.begin() + static_cast<long>(seen), all.end());
        seen = all.size();
        return v;
    }
    std::string name_;
    std::size_t seen_in_ = 0;
    std::size_t seen_out_ = 0;
};

// The device control table for the life of a test.
class DeviceTable {
public:
    DeviceTable() { EXPECT_EQ(dev_init_cntrl(true), 0); }
    ~DeviceTable() { dev_free_cntrl(); }
};

}  // namespace mf::test
