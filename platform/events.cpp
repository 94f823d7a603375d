#include "platform/events.h"

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
}  // namespace

event_handle event_create(const char* name, bool manual_reset, bool initially_set) {
    std::lock_guard<std::mutex> hold(registry_lock());
    if (name && *name) {
        auto found = registry().find(name);
        if (found != registry().end()) {
            ++found->second->references;
            return found->second;
        }
    }
    auto* e = new (std::nothrow) event;
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

void event_close(event_handle e) {
    if (!e) return;
    {
        std::lock_guard<std::mutex> hold(registry_lock());
        if (--e->references > 0) return;
        if (!e->name.empty()) registry().erase(e->name);
    }
    delete e;
}

void event_set(event_handle e) {
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
    std::lock_guard<std::mutex> hold(e->lock);
    e->set = false;
}

bool event_wait(event_handle e, int64_t timeout_ms) {
    std::unique_lock<std::mutex> hold(e->lock);
    auto is_set = [e] { return e->set; };
    if (timeout_ms < 0) {
        e->changed.wait(hold, is_set);
    } else if (!e->changed.wait_for(hold, std::chrono::milliseconds(timeout_ms), is_set)) {
        return false;
    }
    if (!e->manual_reset) e->set = false;
    return true;
}

bool event_is_set(event_handle e) {
    std::lock_guard<std::mutex> hold(e->lock);
    return e->set;
}

}  // namespace mf::platform
