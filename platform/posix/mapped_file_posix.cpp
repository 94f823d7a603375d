#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/mapped_file.h"
#include "platform/utf.h"

namespace mf::platform {

namespace {

// A file cut short by another program while it is mapped makes every access
// past its new end a bus error. The mappings open at a time are listed here;
// a bus error inside one of them maps zero-filled pages over the rest of it and
// marks it cut short, so that its reader sees the text end in NUL bytes (which
// no scan takes for a field) and reports the shortened file. A bus error
// anywhere else goes to the disposition there was before.
struct guarded_range {
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> cut_short{false};
};

constexpr int guarded_slots = 16;
guarded_range guarded[guarded_slots];
struct sigaction previous_bus {};
std::uintptr_t page_bytes = 4096;  // set before the handler is installed

void on_bus_error(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (guarded_range& range : guarded) {
        const std::uintptr_t begin = range.begin.load(), end = range.end.load();
        if (begin == 0 || address < begin || address >= end) continue;
        const std::uintptr_t page = address & ~(page_bytes - 1);
        const std::uintptr_t stop = (end + page_bytes - 1) & ~(page_bytes - 1);
        range.cut_short.store(true);
        if (::mmap(reinterpret_cast<void*>(page), stop - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                   0) != MAP_FAILED)
            return;  // the access is retried and reads zeros
        break;
    }
    // Not ours (or nothing could be mapped): what would have happened anyway.
    if (previous_bus.sa_flags & SA_SIGINFO) {
        if (previous_bus.sa_sigaction) return previous_bus.sa_sigaction(signal, info, context);
    } else if (previous_bus.sa_handler != SIG_DFL && previous_bus.sa_handler != SIG_IGN) {
        return previous_bus.sa_handler(signal);
    }
    // Delivered again when the handler returns (the signal is blocked in it).
    ::sigaction(SIGBUS, &previous_bus, nullptr);
    ::raise(signal);
}

void install_bus_guard() {
    static std::once_flag once;
    std::call_once(once, [] {
        page_bytes = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = &on_bus_error;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previous_bus);
    });
}

// A free slot for a new mapping, or -1 when all are taken (the mapping then
// goes unguarded).
int guard(const char* data, std::size_t size) {
    install_bus_guard();
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    for (int i = 0; i < guarded_slots; ++i) {
        std::uintptr_t expected = 0;
        if (guarded[i].begin.compare_exchange_strong(expected, begin)) {
            guarded[i].cut_short.store(false);
            guarded[i].end.store(begin + size);
            return i;
        }
    }
    return -1;
}

void unguard(int slot) {
    if (slot < 0) return;
    guarded[slot].end.store(0);
    guarded[slot].begin.store(0);
}

}  // namespace

mapped_file::~mapped_file() { close(); }

void mapped_file::close() {
    unguard(guard_);
    guard_ = -1;
    if (data_) ::munmap(const_cast<char*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
}

bool mapped_file::open(const std::string& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    void* view = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        view = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);  // the mapping keeps the file
    if (view == MAP_FAILED) return false;
    ::madvise(view, static_cast<std::size_t>(st.st_size), MADV_SEQUENTIAL);
    data_ = static_cast<const char*>(view);
    size_ = static_cast<std::size_t>(st.st_size);
    guard_ = guard(data_, size_);
    return true;
}

bool mapped_file::open(const std::u16string& path) { return open(utf16_to_utf8(path)); }

bool mapped_file::cut_short() const { return guard_ >= 0 && guarded[guard_].cut_short.load(); }

}  // namespace mf::platform
