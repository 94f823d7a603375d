// Host hooks other than the message sink and the allocator.
#pragma once

namespace mf {

using u_idle_fn = void (*)();

// Every polling loop of the library calls the idle hook after each wait.
// Empty unless the host sets one; a null hook restores the empty one.
void u_set_idle_hook(u_idle_fn hook);
void u_idle();

}  // namespace mf
