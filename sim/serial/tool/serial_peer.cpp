// mf_serial_peer: runs a simulated wave monitor or temperature controller on a
// pseudo-terminal and prints the device name to open, so that a host program
// (native, or under wine through a COM mapping) can talk to it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "sim/serial/pty_peer.h"
#include "sim/serial/temp_sensor_peer.h"
#include "sim/serial/wave_monitor_peer.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: mf_serial_peer wave-monitor|temp-sensor [--seconds N] [--link PATH] [--laser-delay MS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::unique_ptr<mf::sim::SerialPeer> peer;
    mf::sim::WaveMonitorPeer* monitor = nullptr;
    if (std::strcmp(argv[1], "wave-monitor") == 0) {
        auto p = std::make_unique<mf::sim::WaveMonitorPeer>();
        monitor = p.get();
        peer = std::move(p);
    } else if (std::strcmp(argv[1], "temp-sensor") == 0) {
        peer = std::make_unique<mf::sim::TempSensorPeer>();
    } else {
        return usage();
    }
    long seconds = -1;
    std::string link;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::strtol(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--link") == 0)
            link = argv[i + 1];
        else if (std::strcmp(argv[i], "--laser-delay") == 0 && monitor != nullptr)
            monitor->set_laser_delay_ms(std::strtol(argv[i + 1], nullptr, 10));
        else
            return usage();
    }

    mf::sim::PtyPeerRunner runner(*peer);
    if (int err = runner.start(); err != 0) {
        std::fprintf(stderr, "mf_serial_peer: cannot open a pseudo-terminal (system error %d)\n", err);
        return 1;
    }
    if (!link.empty()) {
        std::error_code ec;
        std::filesystem::remove(link, ec);
        std::filesystem::create_symlink(runner.device(), link, ec);
        if (ec) {
            std::fprintf(stderr, "mf_serial_peer: cannot link %s: %s\n", link.c_str(), ec.message().c_str());
            return 1;
        }
    }
    std::printf("%s\n", runner.device().c_str());
    std::fflush(stdout);
    for (long waited = 0; seconds < 0 || waited < seconds * 10; ++waited)
        mf::platform::sleep_ms(100);
    runner.stop();
    if (!link.empty()) {
        std::error_code ec;
        std::filesystem::remove(link, ec);
    }
    return 0;
}
