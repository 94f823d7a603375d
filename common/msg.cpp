#include "common/msg.h"

#include <atomic>
#include <cstdarg>
#include <new>
#include <string>

#include "common/text.h"
#include "common/timeutil.h"

namespace mf {

namespace {
// Read by every thread that prints; set by the host.
// The attribute-free type of the same pointer: gcc ignores (and warns about) a
// format attribute carried into a template argument.
using plain_sink_fn = void (*)(const char* fmt, ...);
std::atomic<plain_sink_fn> current_sink{&u_msg};

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

void u_sink(const char* fmt, ...) {
    // Most messages fit the stack; a longer one is formatted again into a string,
    // and when that cannot be allocated the message goes out cut rather than not
    // at all (and nothing is thrown on a library thread).
    char line[1024];
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    if (n >= static_cast<int>(sizeof line)) {
        try {
            const std::string text = u_vformat(fmt, again);
            va_end(again);
            u_get_msg_sink()("%s", text.c_str());
            return;
        } catch (const std::bad_alloc&) {
        }
    }
    va_end(again);
    u_get_msg_sink()("%s", n < 0 ? "" : line);
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
