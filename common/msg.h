// The message sink: every diagnostic of the library leaves through it.
#pragma once

#include <cstdio>

namespace mf {

// A printf-style writer. The process has one current sink, u_msg by default.
using u_msg_fn = void (*)(const char* fmt, ...);

// Writes to standard error and flushes it: the default sink.
void u_msg(const char* fmt, ...);
// Writes to standard output and flushes it.
void u_msg_stdout(const char* fmt, ...);
// Writes to the given stream and flushes it.
void u_msg_stream(std::FILE* stream, const char* fmt, ...);

u_msg_fn u_get_msg_sink();
// Installs a sink; a null sink restores u_msg.
void u_set_msg_sink(u_msg_fn sink);
// The stream the current sink writes to: stdout or stderr for the two standard
// writers, null for any other sink.
std::FILE* u_msg_sink_stream();

// Passes a message to the current sink.
template <typename... Args>
void u_sink(const char* fmt, Args... args) {
    u_get_msg_sink()(fmt, args...);
}

// Prefixes the message with the local time "%Y-%m-%d %H:%M:%S " and passes both to
// the sink; the formatted message is cut at 511 characters.
void u_msg_time(const char* fmt, ...);

}  // namespace mf
