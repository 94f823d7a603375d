#include "platform/threads.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

namespace mf::platform {

struct thread::state {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
};

thread::~thread() {
    if (!worker_.joinable()) return;
    // A body still running keeps its own share of the state and is let go.
    if (state_ && !running())
        worker_.join();
    else
        worker_.detach();
}

bool thread::start(std::function<void()> body) {
    if (worker_.joinable()) return false;
    auto s = std::make_shared<state>();
    try {
        worker_ = std::thread([s, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> hold(s->lock);
            s->done = true;
            s->finished.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    state_ = std::move(s);
    return true;
}

bool thread::join(int64_t timeout_ms) {
    if (!worker_.joinable()) return true;
    {
        std::unique_lock<std::mutex> hold(state_->lock);
        auto done = [this] { return state_->done; };
        if (timeout_ms < 0)
            state_->finished.wait(hold, done);
        else if (!state_->finished.wait_for(hold, std::chrono::milliseconds(timeout_ms), done))
            return false;
    }
    worker_.join();
    state_.reset();
    return true;
}

bool thread::running() const {
    if (!state_) return false;
    std::lock_guard<std::mutex> hold(state_->lock);
    return !state_->done;
}

}  // namespace mf::platform
