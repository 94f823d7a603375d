// POSIX serial ports: termios for the line, poll() for the time-outs.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <mutex>

#include "platform/posix/termios_map.h"
#include "platform/serial_port.h"

namespace mf::platform {

namespace {

using namespace posix;

int64_t now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

#ifdef CMSPAR
constexpr tcflag_t mark_space = CMSPAR;
#else
constexpr tcflag_t mark_space = 0;
#endif

// A modem-control line. Pseudo-terminals and some adapters have none; the
// caller decides whether that matters.
int modem_line(int fd, int line, bool on) {
    int bits = line;
    return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : errno;
}

// The pseudo-terminal driver forces 8 data bits and no parity whatever is asked
// (and the C library then fails the whole tcsetattr), so on the device end of a
// pty those two fields live in the record only.
bool is_pseudo_terminal(int fd) {
#ifdef __linux__
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
#else
    static_cast<void>(fd);
    return false;
#endif
}

class PosixSerialPort : public SerialPort {
public:
    explicit PosixSerialPort(int fd) : fd_(fd), pseudo_(is_pseudo_terminal(fd)) {
        termios tio{};
        if (::tcgetattr(fd_, &tio) == 0) shadow_from(tio);
    }
    ~PosixSerialPort() override {
        if (fd_ >= 0) ::close(fd_);
    }

    // termios keeps no event mask and sizes its queues itself; the values are
    // remembered so the port reads back what was set.
    int set_event_mask(uint32_t) override { return fd_ < 0 ? EBADF : 0; }
    int setup_queues(uint32_t in_size, uint32_t out_size) override {
        if (fd_ < 0) return EBADF;
        return in_size == 0 || out_size == 0 ? EINVAL : 0;
    }

    int get_settings(serial_settings* s) override {
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0) return errno;
        shadow_from(tio);
        *s = shadow_;
        return 0;
    }

    int set_settings(const serial_settings& s) override {
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0) return errno;
        speed_t speed{};
        if (!speed_of(s.baud, &speed)) return EINVAL;
        if (s.byte_size < 5 || s.byte_size > 8) return EINVAL;
        if (s.parity > SERIAL_PARITY_SPACE) return EINVAL;
        if ((s.parity == SERIAL_PARITY_MARK || s.parity == SERIAL_PARITY_SPACE) && mark_space == 0) return EINVAL;
        if (s.stop_bits > SERIAL_STOP_2) return EINVAL;

        // Always raw: the Windows model has no other mode (binary is required there).
        tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
        tio.c_oflag &= ~OPOST;
        tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | mark_space);
        tio.c_cflag |= CREAD | CLOCAL | size_flag(pseudo_ ? 8 : s.byte_size);
        switch (pseudo_ ? static_cast<uint8_t>(SERIAL_PARITY_NONE) : s.parity) {
        case SERIAL_PARITY_ODD:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case SERIAL_PARITY_EVEN:
            tio.c_cflag |= PARENB;
            break;
        case SERIAL_PARITY_MARK:
            tio.c_cflag |= PARENB | PARODD | mark_space;
            break;
        case SERIAL_PARITY_SPACE:
            tio.c_cflag |= PARENB | mark_space;
            break;
        default:
            break;
        }
        if (s.parity_check) tio.c_iflag |= INPCK;
        // termios has no 1.5 stop bits: two are sent, which a receiver set for
        // 1.5 accepts; the record keeps 1.5 so the port reads back what was set.
        if (s.stop_bits != SERIAL_STOP_1) tio.c_cflag |= CSTOPB;
        if (s.out_xon_xoff) tio.c_iflag |= IXON;
        if (s.in_xon_xoff) tio.c_iflag |= IXOFF;
        tio.c_cc[VSTART] = static_cast<cc_t>(s.xon_char);
        tio.c_cc[VSTOP] = static_cast<cc_t>(s.xoff_char);
        // termios couples both directions of hardware flow control; output flow
        // control by CTS is the one that can stop this side, so it decides.
        if (s.cts_out_flow) tio.c_cflag |= CRTSCTS;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) return errno;
        if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return errno;

        // tcsetattr succeeds when any part was applied: check the parts that matter.
        termios now{};
        if (::tcgetattr(fd_, &now) != 0) return errno;
        const tcflag_t line_bits = CSIZE | PARENB | PARODD | CSTOPB;
        if ((now.c_cflag & line_bits) != (tio.c_cflag & line_bits) || ::cfgetospeed(&now) != speed) return EINVAL;

        // Modem lines are best effort: a device without them still carries data.
        if (s.dtr_control == SERIAL_DTR_ENABLE || s.dtr_control == SERIAL_DTR_HANDSHAKE)
            modem_line(fd_, TIOCM_DTR, true);
        else
            modem_line(fd_, TIOCM_DTR, false);
        modem_line(fd_, TIOCM_RTS, s.rts_control != SERIAL_RTS_DISABLE);

        shadow_ = s;
        shadow_.length = SERIAL_SETTINGS_LENGTH;
        configured_ = true;
        return 0;
    }

    int get_timeouts(serial_timeouts* t) override {
        if (fd_ < 0) return EBADF;
        *t = timeouts_;
        return 0;
    }

    int set_timeouts(const serial_timeouts& t) override {
        if (fd_ < 0) return EBADF;
        timeouts_ = t;
        return 0;
    }

    int read(void* buffer, std::size_t count, std::size_t* got) override {
        *got = 0;
        if (fd_ < 0) return EBADF;
        if (count == 0) return 0;
        auto* out = static_cast<unsigned char*>(buffer);
        const serial_timeouts t = timeouts_;
        const bool immediate =
            t.read_interval == SERIAL_MAX_TIMEOUT && t.read_total_multiplier == 0 && t.read_total_constant == 0;
        // Interval at maximum with multiplier at maximum: return as soon as
        // anything is there, waiting at most the constant for the first byte.
        const bool first_byte_only = t.read_interval == SERIAL_MAX_TIMEOUT &&
                                     t.read_total_multiplier == SERIAL_MAX_TIMEOUT && t.read_total_constant > 0 &&
                                     t.read_total_constant < SERIAL_MAX_TIMEOUT;
        const bool total_used = !first_byte_only && (t.read_total_multiplier != 0 || t.read_total_constant != 0);
        const bool interval_used = !first_byte_only && t.read_interval != 0 && t.read_interval != SERIAL_MAX_TIMEOUT;
        const int64_t start = now_ms();
        const int64_t total_deadline =
            first_byte_only ? start + t.read_total_constant
                            : start + static_cast<int64_t>(t.read_total_multiplier) * static_cast<int64_t>(count) +
                                  t.read_total_constant;
        int64_t last_byte = start;
        // Set when poll() said the line is readable or hung up: a read that then
        // gives nothing is end of file (the other end has gone), never a wait.
        bool readable = false;

        for (;;) {
            ssize_t n = ::read(fd_, out + *got, count - *got);
            if (n > 0) {
                *got += static_cast<std::size_t>(n);
                last_byte = now_ms();
                readable = false;
                if (*got == count || first_byte_only) return 0;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return errno;
            if (n == 0 && readable) return EIO;
            if (immediate) return 0;

            int64_t wait = -1;
            const int64_t now = now_ms();
            if (total_used || first_byte_only) wait = std::max<int64_t>(0, total_deadline - now);
            if (interval_used && *got > 0) {
                int64_t gap = std::max<int64_t>(0, last_byte + t.read_interval - now);
                wait = wait < 0 ? gap : std::min(wait, gap);
            }
            if (wait == 0) return 0;
            pollfd p{fd_, POLLIN, 0};
            int r = ::poll(&p, 1, wait < 0 ? -1 : static_cast<int>(std::min<int64_t>(wait, INT_MAX)));
            if (r < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (r > 0 && (p.revents & POLLNVAL) != 0) return EBADF;
            // Bytes still queued before a hang-up are read first; the read after
            // them sees end of file.
            if (r > 0) readable = (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        }
    }

    int write(const void* data, std::size_t count, std::size_t* written) override {
        *written = 0;
        if (fd_ < 0) return EBADF;
        const auto* in = static_cast<const unsigned char*>(data);
        const serial_timeouts t = timeouts_;
        const bool limited = t.write_total_multiplier != 0 || t.write_total_constant != 0;
        const int64_t deadline = now_ms() +
                                 static_cast<int64_t>(t.write_total_multiplier) * static_cast<int64_t>(count) +
                                 t.write_total_constant;
        while (*written < count) {
            ssize_t n = ::write(fd_, in + *written, count - *written);
            if (n > 0) {
                *written += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return errno;
            int64_t wait = -1;
            if (limited) {
                wait = deadline - now_ms();
                if (wait <= 0) return 0;
            }
            pollfd p{fd_, POLLOUT, 0};
            int r = ::poll(&p, 1, wait < 0 ? -1 : static_cast<int>(std::min<int64_t>(wait, INT_MAX)));
            if (r < 0 && errno != EINTR) return errno;
            if (r > 0 && (p.revents & POLLOUT) == 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return EIO;
        }
        return 0;
    }

    // termios reports no framing or parity errors without marking them in the
    // data stream, so the error flags stay clear here.
    int status(serial_status* st) override {
        *st = serial_status{};
        std::lock_guard<std::mutex> hold(close_guard_);
        if (fd_ < 0) return EBADF;
        int in = 0;
        if (::ioctl(fd_, FIONREAD, &in) != 0) return errno;
        int out = 0;
        if (::ioctl(fd_, TIOCOUTQ, &out) != 0) out = 0;
        st->in_queue = static_cast<uint32_t>(std::max(in, 0));
        st->out_queue = static_cast<uint32_t>(std::max(out, 0));
        return 0;
    }

    int purge(uint32_t flags) override {
        if (fd_ < 0) return EBADF;
        const bool rx = (flags & (SERIAL_PURGE_RXABORT | SERIAL_PURGE_RXCLEAR)) != 0;
        const bool tx = (flags & (SERIAL_PURGE_TXABORT | SERIAL_PURGE_TXCLEAR)) != 0;
        if (!rx && !tx) return 0;
        int which = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
        return ::tcflush(fd_, which) == 0 ? 0 : errno;
    }

    int set_dtr(bool on) override {
        if (fd_ < 0) return EBADF;
        return modem_line(fd_, TIOCM_DTR, on);
    }

    int close() override {
        std::lock_guard<std::mutex> hold(close_guard_);
        if (fd_ < 0) return EBADF;
        // The exclusive mode belongs to the terminal, not to this descriptor: left
        // set, it would keep every later unprivileged open out while the other end
        // of the line stays open.
        ::ioctl(fd_, TIOCNXCL);
        ::flock(fd_, LOCK_UN);
        if (::close(fd_) != 0 && errno != EINTR) return errno;
        fd_ = -1;
        return 0;
    }

private:
    void shadow_from(const termios& tio) {
        shadow_.length = SERIAL_SETTINGS_LENGTH;
        uint32_t baud = baud_of(::cfgetospeed(&tio));
        if (baud != 0) shadow_.baud = baud;
        if (!pseudo_ || !configured_) {
            shadow_.byte_size = size_of(tio.c_cflag);
            if ((tio.c_cflag & PARENB) == 0)
                shadow_.parity = SERIAL_PARITY_NONE;
            else if (mark_space != 0 && (tio.c_cflag & mark_space) != 0)
                shadow_.parity = (tio.c_cflag & PARODD) ? SERIAL_PARITY_MARK : SERIAL_PARITY_SPACE;
            else
                shadow_.parity = (tio.c_cflag & PARODD) ? SERIAL_PARITY_ODD : SERIAL_PARITY_EVEN;
        }
        shadow_.parity_check = (tio.c_iflag & INPCK) != 0;
        if ((tio.c_cflag & CSTOPB) == 0)
            shadow_.stop_bits = SERIAL_STOP_1;
        else if (shadow_.stop_bits == SERIAL_STOP_1)
            shadow_.stop_bits = SERIAL_STOP_2;
        shadow_.out_xon_xoff = (tio.c_iflag & IXON) != 0;
        shadow_.in_xon_xoff = (tio.c_iflag & IXOFF) != 0;
        shadow_.xon_char = static_cast<char>(tio.c_cc[VSTART]);
        shadow_.xoff_char = static_cast<char>(tio.c_cc[VSTOP]);
        shadow_.cts_out_flow = (tio.c_cflag & CRTSCTS) != 0;
    }

    int fd_;
    // The status query may come from another thread (the device-control worker)
    // while the owner closes: it must see the port open or closed, never run an
    // ioctl on a descriptor being closed or already reused.
    std::mutex close_guard_;
    bool pseudo_;
    bool configured_ = false;
    serial_settings shadow_{};
    serial_timeouts timeouts_{};
};

}  // namespace

int serial_open(const std::string& name, std::unique_ptr<SerialPort>* port) {
    port->reset();
    // Non-blocking so that reads and writes wait in poll() under our time-outs.
    int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    int err = 0;
    if (!::isatty(fd)) {
        err = ENOTTY;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // The advisory lock keeps out other users of this layer even when they
        // run with the privilege that ignores TIOCEXCL.
        err = errno == EWOULDBLOCK ? EBUSY : errno;
    } else if (::ioctl(fd, TIOCEXCL) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::close(fd);
        return err;
    }
    *port = std::make_unique<PosixSerialPort>(fd);
    return 0;
}

}  // namespace mf::platform
