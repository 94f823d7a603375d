// Threads whose join can time out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace mf::platform {

class thread {
public:
    thread() = default;
    ~thread();
    thread(const thread&) = delete;
    thread& operator=(const thread&) = delete;

    // Starts body on a new thread; false when one is still attached or the system
    // cannot start it.
    bool start(std::function<void()> body);
    // Waits for the body to return, at most timeout_ms (< 0: without limit). True when
    // it returned and the thread is released; false leaves it attached and running.
    bool join(int64_t timeout_ms);
    bool running() const;
    bool attached() const { return worker_.joinable(); }

private:
    struct state;
    std::shared_ptr<state> state_;
    std::thread worker_;
};

}  // namespace mf::platform
