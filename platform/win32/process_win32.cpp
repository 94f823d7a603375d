#include <windows.h>

#include <chrono>

#include "platform/process.h"

namespace mf::platform {

namespace {

// Quotes one argument so that the C runtime of the child splits it back unchanged.
std::string quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            out.append(backslashes * 2 + 1, '\\');
        else
            out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

HANDLE open_for_child(const char* path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

}  // namespace

// The child's memory is not watched here: both peaks stay unknown.
process_result run_process(const std::vector<std::string>& args, const std::string& stdout_path,
                           const std::string& stderr_path, bool) {
    process_result result;
    if (args.empty()) return result;
    std::string command;
    for (const std::string& a : args) {
        if (!command.empty()) command += ' ';
        command += quote(a);
    }
    HANDLE in = open_for_child("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = open_for_child(stdout_path.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = open_for_child(stderr_path.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info{};
    const auto start = std::chrono::steady_clock::now();
    const BOOL created =
        out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
        CreateProcessA(args[0].c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    for (HANDLE h : {in, out, err})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!created) return result;
    WaitForSingleObject(info.hProcess, INFINITE);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    result.started = true;
    result.exit_code = static_cast<int>(code);
    return result;
}

}  // namespace mf::platform
