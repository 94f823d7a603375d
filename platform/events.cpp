#include "platform/events.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <string>

namespace mf::platform {

struct event {
    std::mutex lock;
    std::condition_variable changed;
    bool manual_reset = false;
    bool set = false;
    std::string name;
    int references = 1;
};

namespace {
// Guards the name map and every reference count.
std::mutex& registry_lock() {
    static std::mutex lock;
    return lock;
}
std::map<std::string, event*>& registry() {
    static std::map<std::string, event*> names;
    return names;
}

std::atomic<int> creations_until_failure{-1};

bool creation_fails() {
    int left = creations_until_failure.load();
    while (left >= 0) {
        if (creations_until_failure.compare_exchange_weak(left, left - 1)) return left == 0;
    }
    return false;
}

void retain(event* e) {
    std::lock_guard<std::mutex> hold(registry_lock());
    ++e->references;
}
}  // namespace

void event_fail_creation_after(int successes) { creations_until_failure.store(successes); }

event_handle event_create(const char* name, bool manual_reset, bool initially_set) {
    std::lock_guard<std::mutex> hold(registry_lock());
    if (name && *name) {
        auto found = registry().find(name);
        if (found != registry().end()) {
            ++found->second->references;
            return found->second;
        }
    }
    auto* e = creation_fails() ? nullptr : new (std::nothrow) event;
    if (!e) return nullptr;
    e->manual_reset = manual_reset;
    e->set = initially_set;
    if (name && *name) {
        try {
            e->name = name;
            registry()[e->name] = e;
        } catch (const std::bad_alloc&) {
            delete e;
            return nullptr;
        }
    }
    return e;
}

event_handle event_open(const char* name) {
    if (!name || !*name) return nullptr;
    std::lock_guard<std::mutex> hold(registry_lock());
    auto found = registry().find(name);
    if (found == registry().end()) return nullptr;
    ++found->second->references;
    return found->second;
}

event_handle event_duplicate(event_handle e) {
    if (e) retain(e);
    return e;
}

void event_close(event_handle e) {
    if (!e) return;
    {
        std::lock_guard<std::mutex> hold(registry_lock());
        if (--e->references > 0) return;
        if (!e->name.empty()) registry().erase(e->name);
    }
    delete e;
}

// A missing event (one that was never created, or could not be) is no event:
// setting or resetting it does nothing, it is never set, and a wait on it fails.
void event_set(event_handle e) {
    if (!e) return;
    {
        std::lock_guard<std::mutex> hold(e->lock);
        e->set = true;
    }
    if (e->manual_reset)
        e->changed.notify_all();
    else
        e->changed.notify_one();
}

void event_reset(event_handle e) {
    if (!e) return;
    std::lock_guard<std::mutex> hold(e->lock);
    e->set = false;
}

bool event_wait(event_handle e, int64_t timeout_ms) {
    if (!e) return false;
    // The waiter's own reference: another thread may close the last handle while
    // this one waits, and the event must outlive the wait.
    retain(e);
    bool taken = true;
    {
        std::unique_lock<std::mutex> hold(e->lock);
        auto is_set = [e] { return e->set; };
        if (timeout_ms < 0)
            e->changed.wait(hold, is_set);
        else
            taken = e->changed.wait_for(hold, std::chrono::milliseconds(timeout_ms), is_set);
        if (taken && !e->manual_reset) e->set = false;
    }
    event_close(e);
    return taken;
}

bool event_is_set(event_handle e) {
    if (!e) return false;
    std::lock_guard<std::mutex> hold(e->lock);
    return e->set;
}

}  // namespace mf::platform
