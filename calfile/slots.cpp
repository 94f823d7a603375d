#include "calfile/sysinfo.h"

namespace mf {

namespace {
sysInfo slots[sys_slot_count] = {{0, 0, 0, nullptr}, {1, 0, 0, nullptr}, {2, 0, 0, nullptr}, {3, 0, 0, nullptr}};
}

sysInfo* sb_slot(int slot) { return slot >= 0 && slot < sys_slot_count ? &slots[slot] : nullptr; }

}  // namespace mf
