#include "tests/support/capture.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "common/msg.h"
#include "common/text.h"

namespace mf::test {

namespace {
std::mutex capture_lock;
std::string captured;
u_msg_fn previous_sink = nullptr;

void capture_sink(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = u_vformat(fmt, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(capture_lock);
    captured += text;
}
}  // namespace

SinkCapture::SinkCapture() {
    std::lock_guard<std::mutex> hold(capture_lock);
    captured.clear();
    previous_sink = u_get_msg_sink();
    u_set_msg_sink(&capture_sink);
}

SinkCapture::~SinkCapture() { u_set_msg_sink(previous_sink); }

std::string SinkCapture::text() const {
    std::lock_guard<std::mutex> hold(capture_lock);
    return captured;
}

void SinkCapture::clear() {
    std::lock_guard<std::mutex> hold(capture_lock);
    captured.clear();
}

}  // namespace mf::test
