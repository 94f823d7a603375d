#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/process.h"

extern char** environ;

namespace mf::platform {

process_result run_process(const std::vector<std::string>& args, const std::string& stdout_path,
                           const std::string& stderr_path) {
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
    pid_t waited;
    do
        waited = ::wait4(pid, &status, 0, &usage);
    while (waited < 0 && errno == EINTR);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (waited != pid) return result;
    // The program could not be executed at all: the child reports 127.
    result.started = !(WIFEXITED(status) && WEXITSTATUS(status) == 127 && ::access(argv[0], X_OK) != 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.peak_memory_kb = usage.ru_maxrss;
    return result;
}

}  // namespace mf::platform
