#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/termios_map.h"
#include "platform/pty.h"

namespace mf::platform {

struct Pty::Impl {
    int master = -1;
    // Held open for the life of the pair: without it the controlling end sees a
    // hang-up whenever the serial layer closes the device, and the driver may
    // drop the line settings between two users.
    int device_hold = -1;
};

Pty::Pty() : impl_(std::make_unique<Impl>()) {}
Pty::~Pty() { close(); }

bool Pty::available() { return true; }

int Pty::open() {
    close();
    int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) return errno;
    char name[128];
    if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) {
        int e = errno;
        ::close(m);
        return e;
    }
    int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0) {
        int e = errno;
        ::close(m);
        return e;
    }
    termios tio{};
    if (::tcgetattr(s, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(s, TCSANOW, &tio);
    }
    ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
    impl_->master = m;
    impl_->device_hold = s;
    device_ = name;
    return 0;
}

int Pty::read(void* buffer, std::size_t count, int timeout_ms, std::size_t* got) {
    *got = 0;
    if (impl_->master < 0) return EBADF;
    pollfd p{impl_->master, POLLIN, 0};
    int r = ::poll(&p, 1, timeout_ms);
    if (r < 0) return errno == EINTR ? 0 : errno;
    if (r == 0 || (p.revents & POLLIN) == 0) return 0;
    ssize_t n = ::read(impl_->master, buffer, count);
    if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : errno;
    *got = static_cast<std::size_t>(n);
    return 0;
}

int Pty::write(const void* data, std::size_t count) {
    if (impl_->master < 0) return EBADF;
    const auto* p = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(impl_->master, p + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return errno;
        pollfd q{impl_->master, POLLOUT, 0};
        ::poll(&q, 1, 100);
    }
    return 0;
}

int Pty::line(serial_settings* s) {
    if (impl_->device_hold < 0) return EBADF;
    termios tio{};
    if (::tcgetattr(impl_->device_hold, &tio) != 0) return errno;
    *s = serial_settings{};
    s->baud = posix::baud_of(::cfgetospeed(&tio));
    s->byte_size = posix::size_of(tio.c_cflag);
    if ((tio.c_cflag & PARENB) == 0)
        s->parity = SERIAL_PARITY_NONE;
    else
        s->parity = (tio.c_cflag & PARODD) ? SERIAL_PARITY_ODD : SERIAL_PARITY_EVEN;
    s->parity_check = (tio.c_iflag & INPCK) != 0;
    s->stop_bits = (tio.c_cflag & CSTOPB) ? SERIAL_STOP_2 : SERIAL_STOP_1;
    s->out_xon_xoff = (tio.c_iflag & IXON) != 0;
    s->in_xon_xoff = (tio.c_iflag & IXOFF) != 0;
    s->xon_char = static_cast<char>(tio.c_cc[VSTART]);
    s->xoff_char = static_cast<char>(tio.c_cc[VSTOP]);
    s->cts_out_flow = (tio.c_cflag & CRTSCTS) != 0;
    s->binary = (tio.c_lflag & ICANON) == 0 && (tio.c_oflag & OPOST) == 0;
    return 0;
}

int Pty::exclusive(bool* on) {
    *on = false;
    if (impl_->device_hold < 0) return EBADF;
#ifdef TIOCGEXCL
    int state = 0;
    if (::ioctl(impl_->device_hold, TIOCGEXCL, &state) != 0) return errno;
    *on = state != 0;
    return 0;
#else
    return ENOTSUP;
#endif
}

void Pty::hang_up() {
    if (impl_->master >= 0) ::close(impl_->master);
    impl_->master = -1;
}

void Pty::close() {
    if (impl_->device_hold >= 0) ::close(impl_->device_hold);
    if (impl_->master >= 0) ::close(impl_->master);
    impl_->device_hold = -1;
    impl_->master = -1;
    device_.clear();
}

}  // namespace mf::platform
