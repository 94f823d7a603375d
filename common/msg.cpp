#include "common/msg.h"

#include <atomic>
#include <cstdarg>

#include "common/timeutil.h"

namespace mf {

namespace {
// Read by every thread that prints; set by the host.
std::atomic<u_msg_fn> current_sink{&u_msg};

void write_and_flush(std::FILE* stream, const char* fmt, va_list args) {
    std::vfprintf(stream, fmt, args);
    std::fflush(stream);
}
}  // namespace

void u_msg(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    write_and_flush(stderr, fmt, args);
    va_end(args);
}

void u_msg_stdout(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    write_and_flush(stdout, fmt, args);
    va_end(args);
}

void u_msg_stream(std::FILE* stream, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    write_and_flush(stream, fmt, args);
    va_end(args);
}

u_msg_fn u_get_msg_sink() { return current_sink.load(); }

void u_set_msg_sink(u_msg_fn sink) { current_sink.store(sink ? sink : &u_msg); }

std::FILE* u_msg_sink_stream() {
    const u_msg_fn sink = current_sink.load();
    if (sink == &u_msg) return stderr;
    if (sink == &u_msg_stdout) return stdout;
    return nullptr;
}

void u_msg_time(const char* fmt, ...) {
    char message[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(message, sizeof message, fmt, args);
    va_end(args);
    char stamp[41];
    u_time_text(stamp);
    // One call, so lines from two threads cannot interleave stamp and text.
    u_sink("%s %s", stamp, message);
}

}  // namespace mf
