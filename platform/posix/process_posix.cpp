#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/process.h"

extern char** environ;

namespace mf::platform {

namespace {

// The anonymous resident memory of a running process in kB ("RssAnon" of its
// status), or -1.
int64_t private_resident_kb(pid_t pid) {
#ifdef __linux__
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[4096];
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0) return -1;
    text[got] = '\0';
    const char* field = std::strstr(text, "\nRssAnon:");
    return field ? std::strtoll(field + 9, nullptr, 10) : -1;
#else
    (void)pid;
    return -1;
#endif
}

// Waits for the child, reading its own memory every 0.1 ms meanwhile when asked.
pid_t wait_for(pid_t pid, int* status, rusage* usage, int64_t* peak_private) {
    for (;;) {
        const pid_t waited = ::wait4(pid, status, peak_private ? WNOHANG : 0, usage);
        if (waited < 0 && errno == EINTR) continue;
        if (waited != 0) return waited;
        *peak_private = std::max(*peak_private, private_resident_kb(pid));
        const timespec pause{0, 100000};
        ::nanosleep(&pause, nullptr);
    }
}

}  // namespace

process_result run_process(const std::vector<std::string>& args, const std::string& stdout_path,
                           const std::string& stderr_path, bool watch_private) {
    process_result result;
    if (args.empty()) return result;
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    posix_spawn_file_actions_addopen(&actions, 2, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return result;

    int status = 0;
    rusage usage{};
    int64_t peak_private = -1;
    const pid_t waited = wait_for(pid, &status, &usage, watch_private ? &peak_private : nullptr);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (waited != pid) return result;
    // The program could not be executed at all: the child reports 127.
    result.started = !(WIFEXITED(status) && WEXITSTATUS(status) == 127 && ::access(argv[0], X_OK) != 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.peak_memory_kb = usage.ru_maxrss;
    result.peak_private_kb = peak_private;
    return result;
}

}  // namespace mf::platform
