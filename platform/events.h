// Events: named and unnamed, manual or automatic reset. Names live in one registry
// per process; creating an event whose name is already registered opens the existing
// one, as the instrument PCs' named events do. Waits on an event are waits on another
// thread and run in real time.
#pragma once

#include <cstdint>

namespace mf::platform {

struct event;  // opaque
using event_handle = event*;

inline constexpr int64_t wait_forever = -1;

// Creates an event, or opens the registered one of that name (its reset mode and
// state are then left as they are). A null or empty name makes an unnamed event.
// Each returned handle is released with event_close. Null when memory runs out.
event_handle event_create(const char* name, bool manual_reset, bool initially_set);
// The registered event of that name with a new reference, or null when none exists.
event_handle event_open(const char* name);
// Another reference to the same event (null for null), released with event_close:
// lets a thread keep an event it uses alive however its other handles are closed.
event_handle event_duplicate(event_handle e);
// Drops one reference; the last one removes the name and frees the event. A thread
// waiting on the event holds its own reference until its wait ends. A null handle is
// ignored.
void event_close(event_handle e);

// A null handle (an event never created) is no event: set and reset do nothing,
// it is never set, and a wait on it fails at once.
void event_set(event_handle e);
void event_reset(event_handle e);
// Waits until the event is set (an automatic-reset event is cleared again by the
// wait that takes it). timeout_ms < 0 waits without limit. True when taken.
bool event_wait(event_handle e, int64_t timeout_ms);
// The current state, without taking or waiting.
bool event_is_set(event_handle e);

// Fault seam for tests: after `successes` more creations of a new event,
// event_create fails once (returns null); a negative count switches it off.
void event_fail_creation_after(int successes);

}  // namespace mf::platform
