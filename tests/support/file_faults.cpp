#include "tests/support/file_faults.h"

#include <atomic>

#include "platform/files.h"

namespace mf::test {

namespace {
std::atomic<int> countdown{0};
std::atomic<int> fault_error{0};
std::atomic<bool> has_fired{false};
std::atomic<platform::file_op> fired_op{platform::file_op::open};

int hook(platform::file_op op) {
    if (countdown.fetch_sub(1) != 1) return 0;
    has_fired = true;
    fired_op = op;
    return fault_error.load();
}
}  // namespace

FileFault::FileFault(int n, int error) {
    countdown = n;
    fault_error = error ? error : platform::io_error_number();
    has_fired = false;
    platform::set_file_fault_hook(hook);
}

FileFault::~FileFault() { platform::set_file_fault_hook(nullptr); }

bool FileFault::fired() const { return has_fired; }
platform::file_op FileFault::failed_op() const { return fired_op; }

const char* op_name(platform::file_op op) {
    switch (op) {
    case platform::file_op::open:
        return "open";
    case platform::file_op::read:
        return "read";
    case platform::file_op::write:
        return "write";
    case platform::file_op::sync:
        return "sync";
    case platform::file_op::rename:
        return "rename";
    case platform::file_op::close:
        return "close";
    }
    return "?";
}

int sweep_file_faults(const std::function<void()>& attempt,
                      const std::function<void(int n, platform::file_op op, bool fired)>& check) {
    for (int n = 1;; ++n) {
        bool fired = false;
        platform::file_op op{};
        {
            FileFault fault(n);
            attempt();
            fired = fault.fired();
            op = fault.failed_op();
        }
        check(n, op, fired);
        if (!fired) return n - 1;
    }
}

}  // namespace mf::test
