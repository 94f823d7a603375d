// mf_board_peer: runs a virtual instrument board on a pseudo-terminal and prints
// the device name to open, so that a host program can talk to a board of any of
// the four families without the hardware.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "sim/board/board_peer.h"
#include "sim/serial/pty_peer.h"

namespace {

using mf::sim::BoardPeer;

int usage() {
    std::fprintf(stderr,
                 "usage: mf_board_peer uz1|uz2|brae|fenn [--seconds N] [--link PATH] [--report CODE]\n"
                 "                     [--report-every MS] [--fault nak|bad-checksum|wrong-code|silence|short|\n"
                 "                      zero-length|top-bit] [--fault-times N] [--reply-delay MS]\n");
    return 2;
}

bool family_named(const char* name, mf::ur_family* family) {
    static constexpr struct {
        const char* name;
        mf::ur_family family;
    } names[] = {{"uz1", mf::ur_family::uz1},
                 {"uz2", mf::ur_family::uz2},
                 {"brae", mf::ur_family::brae},
                 {"fenn", mf::ur_family::fenn}};
    for (const auto& n : names)
        if (std::strcmp(name, n.name) == 0) {
            *family = n.family;
            return true;
        }
    return false;
}

bool fault_named(const char* name, BoardPeer::Fault* fault) {
    static constexpr struct {
        const char* name;
        BoardPeer::Fault fault;
    } names[] = {{"nak", BoardPeer::Fault::nak},
                 {"bad-checksum", BoardPeer::Fault::bad_checksum},
                 {"wrong-code", BoardPeer::Fault::wrong_code},
                 {"silence", BoardPeer::Fault::silence},
                 {"short", BoardPeer::Fault::short_reply},
                 {"zero-length", BoardPeer::Fault::zero_length},
                 {"top-bit", BoardPeer::Fault::top_bit_length}};
    for (const auto& n : names)
        if (std::strcmp(name, n.name) == 0) {
            *fault = n.fault;
            return true;
        }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    mf::ur_family family{};
    if (argc < 2 || !family_named(argv[1], &family)) return usage();
    BoardPeer board(family);
    long seconds = -1;
    long report = 0;
    long report_every = 0;
    long fault_times = 1;
    BoardPeer::Fault fault = BoardPeer::Fault::none;
    std::string link;
    for (int i = 2; i + 1 < argc; i += 2) {
        const char* value = argv[i + 1];
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::strtol(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--link") == 0)
            link = value;
        else if (std::strcmp(argv[i], "--report") == 0)
            report = std::strtol(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--report-every") == 0)
            report_every = std::strtol(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--fault-times") == 0)
            fault_times = std::strtol(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--reply-delay") == 0)
            board.set_reply_delay_ms(std::strtol(value, nullptr, 10));
        else if (std::strcmp(argv[i], "--fault") != 0 || !fault_named(value, &fault))
            return usage();
    }
    if (argc % 2 != 0) return usage();
    if (fault != BoardPeer::Fault::none) board.inject(fault, static_cast<int>(fault_times));

    mf::sim::PtyPeerRunner runner(board);
    if (int err = runner.start(); err != 0) {
        std::fprintf(stderr, "mf_board_peer: cannot open a pseudo-terminal (system error %d)\n", err);
        return 1;
    }
    if (!link.empty()) {
        std::error_code ec;
        std::filesystem::remove(link, ec);
        std::filesystem::create_symlink(runner.device(), link, ec);
        if (ec) {
            std::fprintf(stderr, "mf_board_peer: cannot link %s: %s\n", link.c_str(), ec.message().c_str());
            return 1;
        }
    }
    std::printf("%s\n", runner.device().c_str());
    std::fflush(stdout);
    long since_report = 0;
    uint8_t value = 0;
    for (long waited = 0; seconds < 0 || waited < seconds * 10; ++waited) {
        mf::platform::sleep_ms(100);
        since_report += 100;
        if (report != 0 && report_every > 0 && since_report >= report_every) {
            board.send_report(static_cast<int32_t>(report), value++);
            since_report = 0;
        }
    }
    runner.stop();
    if (!link.empty()) {
        std::error_code ec;
        std::filesystem::remove(link, ec);
    }
    return 0;
}
