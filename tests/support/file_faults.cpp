#include "tests/support/file_faults.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>

#include "common/error_codes.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace mf::test {

namespace {
std::atomic<int> countdown{0};
std::atomic<int> fault_error{0};
std::atomic<bool> has_fired{false};
std::atomic<platform::file_op> fired_op{platform::file_op::open};

std::mutex seen_lock;
std::vector<platform::file_op> seen;

int hook(platform::file_op op) {
    {
        std::lock_guard<std::mutex> hold(seen_lock);
        seen.push_back(op);
    }
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
    {
        std::lock_guard<std::mutex> hold(seen_lock);
        seen.clear();
    }
    platform::set_file_fault_hook(hook);
}

FileFault::~FileFault() { platform::set_file_fault_hook(nullptr); }

bool FileFault::fired() const { return has_fired; }
platform::file_op FileFault::failed_op() const { return fired_op; }

std::vector<platform::file_op> FileFault::operations() const {
    std::lock_guard<std::mutex> hold(seen_lock);
    return seen;
}

std::string op_names(const std::vector<platform::file_op>& ops) {
    std::string out;
    for (platform::file_op op : ops)
        out += (out.empty() ? "" : " ") + std::string(op_name(op));
    return out;
}

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

namespace {
size_t entry_count(const std::string& folder) {
    std::error_code ec;
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++n;
    return n;
}
}  // namespace

int sweep_writer(const WriterSweep& sweep) {
    if (sweep.existing) write_file(sweep.target, sweep.old_contents);
    std::vector<size_t> before;
    for (const std::string& folder : sweep.folders)
        before.push_back(entry_count(folder));
    int32_t status = -1;
    return sweep_file_faults(
        [&] {
            if (sweep.existing) write_file(sweep.target, sweep.old_contents);
            status = sweep.write();
        },
        [&](int n, platform::file_op op, bool fired) {
            const std::string at = "fault at operation " + std::to_string(n) + " (" + op_name(op) + ")";
            const bool present = std::filesystem::exists(sweep.target);
            if (status == 0) {
                EXPECT_EQ(read_file(sweep.target), sweep.complete) << at;
            } else {
                EXPECT_TRUE(fired) << at << ": failed with " << status << " without a fault";
                EXPECT_EQ(status, n == 1 ? sweep.open_failure : ERR_CANT_WRITE_FILE) << at;
                EXPECT_EQ(present, sweep.existing) << at;
                if (sweep.existing) {
                    EXPECT_EQ(read_file(sweep.target), sweep.old_contents) << at;
                }
            }
            if (!sweep.existing && present) std::filesystem::remove(sweep.target);
            for (size_t i = 0; i < sweep.folders.size(); ++i)
                EXPECT_EQ(entry_count(sweep.folders[i]), before[i]) << at << " in " << sweep.folders[i];
        });
}

}  // namespace mf::test
