// Windows has no pseudo-terminal that opens as a COM port; the service reports
// itself missing so that callers skip what needs it.
#include <windows.h>

#include "platform/pty.h"

namespace mf::platform {

struct Pty::Impl {};

Pty::Pty() : impl_(std::make_unique<Impl>()) {}
Pty::~Pty() = default;

bool Pty::available() { return false; }

int Pty::open() { return ERROR_NOT_SUPPORTED; }

int Pty::read(void*, std::size_t, int, std::size_t* got) {
    *got = 0;
    return ERROR_NOT_SUPPORTED;
}

int Pty::write(const void*, std::size_t) { return ERROR_NOT_SUPPORTED; }

int Pty::line(serial_settings*) { return ERROR_NOT_SUPPORTED; }

int Pty::exclusive(bool* on) {
    *on = false;
    return ERROR_NOT_SUPPORTED;
}

void Pty::hang_up() {}

void Pty::close() {}

}  // namespace mf::platform
