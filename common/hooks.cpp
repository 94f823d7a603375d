#include "common/hooks.h"

namespace mf {

namespace {
void no_idle() {}
u_idle_fn idle_hook = &no_idle;
}  // namespace

void u_set_idle_hook(u_idle_fn hook) { idle_hook = hook ? hook : &no_idle; }

void u_idle() { idle_hook(); }

}  // namespace mf
