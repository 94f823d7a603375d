#include "common/hooks.h"

#include <atomic>

namespace mf {

namespace {
void no_idle() {}
// Any thread that polls calls it; the host sets it.
std::atomic<u_idle_fn> idle_hook{&no_idle};
}  // namespace

void u_set_idle_hook(u_idle_fn hook) { idle_hook.store(hook ? hook : &no_idle); }

void u_idle() { idle_hook.load()(); }

}  // namespace mf
