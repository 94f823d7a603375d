// The message sink: every diagnostic of the library leaves through it.
#pragma once

#include <cstdio>

// Lets the compiler check the arguments of a printf-style function against its
// format (fmt: position of the format, first: of the first argument, 0 for a
// va_list). The C library's own format rules on mingw-w64.
#if defined(__MINGW32__) && defined(__MINGW_PRINTF_FORMAT)
#define MF_PRINTF_FORMAT(fmt, first) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, first)))
#elif defined(__GNUC__) || defined(__clang__)
#define MF_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define MF_PRINTF_FORMAT(fmt, first)
#endif

namespace mf {

// A printf-style writer. The process has one current sink, u_msg by default.
typedef void (*u_msg_fn)(const char* fmt, ...) MF_PRINTF_FORMAT(1, 2);

// Writes to standard error and flushes it: the default sink.
void u_msg(const char* fmt, ...) MF_PRINTF_FORMAT(1, 2);
// Writes to standard output and flushes it.
void u_msg_stdout(const char* fmt, ...) MF_PRINTF_FORMAT(1, 2);
// Writes to the given stream and flushes it.
void u_msg_stream(std::FILE* stream, const char* fmt, ...) MF_PRINTF_FORMAT(2, 3);

u_msg_fn u_get_msg_sink();
// Installs a sink; a null sink restores u_msg.
void u_set_msg_sink(u_msg_fn sink);
// The stream the current sink writes to: stdout or stderr for the two standard
// writers, null for any other sink.
std::FILE* u_msg_sink_stream();

// Passes a message to the current sink, formatted here (the sink gets "%s" and
// the text), so that every message's arguments are checked against its format.
void u_sink(const char* fmt, ...) MF_PRINTF_FORMAT(1, 2);

// Prefixes the message with the local time "%Y-%m-%d %H:%M:%S " and passes both to
// the sink; the formatted message is cut at 511 characters.
void u_msg_time(const char* fmt, ...) MF_PRINTF_FORMAT(1, 2);

}  // namespace mf
