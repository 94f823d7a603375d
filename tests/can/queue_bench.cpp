// Records per second through the CAN event queues: the simulator's delivery thread
// (library handlers) and a motion-library producer against one consumer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "can/can_api.h"
#include "can/can_bus.h"
#include "can/can_events.h"
#include "sim/can/can_sim.h"

int main(int argc, char** argv) {
    using namespace mf;
    const uint32_t per_producer = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 500000;
    sim::can_sim& s = sim::can_sim::instance();
    s.reset();
    can_install_api(sim::can_sim_api());
    // Like a real bridge, the simulator carries PDOs only while the host is connected.
    const uint8_t ip[4] = {192, 168, 1, 10};
    const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    s.add_bridge(ip, mac);
    if (can_lib().CAN_Connect(0x0A01A8C0) != CAN_OK) {
        std::fprintf(stderr, "can_queue_bench: cannot connect to the virtual bridge\n");
        return 1;
    }
    sysInfo si{};
    si.sysType = 23;
    si.boardType = BOARD_CAN;
    can_register_events(&si, true);

    auto pdo = [](uint32_t cob) {
        can_pdo p{};
        p.cob_id = cob;
        p.data[0] = 1;
        return p;
    };
    const auto start = std::chrono::steady_clock::now();
    std::thread library([&] {
        std::vector<can_pdo> batch(64, pdo(0x1C8));
        for (uint32_t sent = 0; sent < per_producer; sent += 64)
            s.send_pdos(batch);
    });
    std::thread motion([&] {
        const can_pdo p = pdo(0x1C9);
        for (uint32_t i = 0; i < per_producer; ++i)
            can_put_pdo(p.cob_id, 8, p.data);
    });
    const uint64_t expected = ((per_producer + 63) / 64) * 64 + per_producer;
    uint64_t taken = 0;
    can_host_record r{};
    while (taken < expected) {
        can_process_events(&si);
        while (can_take_event(&r))
            ++taken;
    }
    library.join();
    motion.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%llu records in %.3f s: %.0f records/s\n", static_cast<unsigned long long>(taken), seconds,
                static_cast<double>(taken) / seconds);
    can_register_events(&si, false);
    can_events_free_resources();
    can_lib().CAN_Disconnect();
    s.reset();
    return 0;
}
