#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace mf::platform {

namespace {

class SystemClock : public Clock {
public:
    int64_t monotonic_ms() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    int64_t wall_ms() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    void sleep_ms(int64_t ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

SystemClock the_system_clock;
std::atomic<Clock*> current{&the_system_clock};

}  // namespace

Clock& system_clock() { return the_system_clock; }
Clock& clock() { return *current.load(); }
void set_clock(Clock* c) { current.store(c ? c : &the_system_clock); }

int64_t VirtualClock::monotonic_ms() {
    std::lock_guard<std::mutex> hold(lock_);
    return now_;
}

int64_t VirtualClock::wall_ms() {
    std::lock_guard<std::mutex> hold(lock_);
    return wall_start_ + now_;
}

void VirtualClock::sleep_ms(int64_t ms) {
    std::lock_guard<std::mutex> hold(lock_);
    if (ms > 0) {
        now_ += ms;
        slept_ += ms;
    }
    ++sleeps_;
}

void VirtualClock::advance(int64_t ms) {
    std::lock_guard<std::mutex> hold(lock_);
    now_ += ms;
}

int64_t VirtualClock::slept_ms() const {
    std::lock_guard<std::mutex> hold(lock_);
    return slept_;
}

int VirtualClock::sleep_count() const {
    std::lock_guard<std::mutex> hold(lock_);
    return sleeps_;
}

}  // namespace mf::platform
