// Clock and sleep. The process has one current clock: the system clock, or a
// clock a test installs (VirtualClock) so that waits cost no real time.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>

namespace mf::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds from an arbitrary fixed point; never goes back.
    virtual int64_t monotonic_ms() = 0;
    // Milliseconds since 1970-01-01 00:00 UTC.
    virtual int64_t wall_ms() = 0;
    virtual void sleep_ms(int64_t ms) = 0;
};

// The system clock.
Clock& system_clock();
// The current clock; any thread may call it.
Clock& clock();
// Installs a clock; null restores the system clock. The caller keeps ownership.
void set_clock(Clock* clock);

inline int64_t monotonic_ms() { return clock().monotonic_ms(); }
inline int64_t wall_ms() { return clock().wall_ms(); }
inline void sleep_ms(int64_t ms) { clock().sleep_ms(ms); }

// A clock whose sleep advances time at once; records every sleep.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(int64_t start_wall_ms = 1700000000000) : wall_start_(start_wall_ms) {}
    int64_t monotonic_ms() override;
    int64_t wall_ms() override;
    void sleep_ms(int64_t ms) override;
    void advance(int64_t ms);
    int64_t slept_ms() const;
    int sleep_count() const;

private:
    mutable std::mutex lock_;
    int64_t now_ = 0;
    int64_t wall_start_;
    int64_t slept_ = 0;
    int sleeps_ = 0;
};

// Broken-down local time of a time_t; false when the platform cannot convert it.
bool local_time(std::time_t t, std::tm* out);

// The high-resolution performance counter.
int64_t counter_raw();
int64_t counter_frequency();

}  // namespace mf::platform
