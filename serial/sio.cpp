#include "serial/sio.h"

#include <map>
#include <mutex>

#include "common/error_codes.h"
#include "common/msg.h"
#include "platform/clock.h"

namespace mf {

namespace {

using platform::SerialPort;

// Open ports by handle. The device-control worker asks a port for its queue while
// the owner reads, so lookups hand out shared ownership.
struct PortTable {
    std::mutex lock;
    std::map<sio_handle, std::shared_ptr<SerialPort>> ports;
    std::map<std::string, sio_port_factory> virtual_ports;
    sio_handle next = 1;
};

PortTable& table() {
    static PortTable t;
    return t;
}

thread_local int last_os_error = 0;

// Keeps the system error of a failed call for sio_last_os_error.
int note(int os_error) {
    if (os_error != 0) last_os_error = os_error;
    return os_error;
}

std::shared_ptr<SerialPort> find(sio_handle handle) {
    if (handle == SIO_INVALID_HANDLE) return nullptr;
    PortTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    auto it = t.ports.find(handle);
    return it == t.ports.end() ? nullptr : it->second;
}

// A handle that is not the invalid value but names no open port fails as the
// system fails a call on a stale handle.
constexpr int stale_handle = 6;

int32_t get_state(SerialPort* port, sio_settings* s) {
    if (port == nullptr) {
        note(stale_handle);
        return ERR_CANT_GET_SERIAL;
    }
    s->length = platform::SERIAL_SETTINGS_LENGTH;
    return note(port->get_settings(s)) == 0 ? 0 : ERR_CANT_GET_SERIAL;
}

int32_t set_state(SerialPort* port, const sio_settings& s) {
    if (port == nullptr) {
        note(stale_handle);
        return ERR_CANT_SET_SERIAL;
    }
    return note(port->set_settings(s)) == 0 ? 0 : ERR_CANT_SET_SERIAL;
}

template <typename Change>
int32_t change_state(sio_handle handle, Change change) {
    if (handle == SIO_INVALID_HANDLE) return ERR_SERIAL_NOT_OPEN;
    auto port = find(handle);
    sio_settings s;
    int32_t err = get_state(port.get(), &s);
    if (err != 0) return err;
    change(s);
    return set_state(port.get(), s);
}

void print_invalid(const char* text) { u_sink("Com Settings Parameter: %s is Invalid.\n", text ? text : "(null)"); }

// Input that keeps arriving for longer than this is not stray bytes but a talking
// peer; sio_clear_buffer then gives up instead of spinning for ever. Bounded in
// time, since a slow talker (one byte every 50 ms) never fills any byte limit.
constexpr int64_t clear_limit_ms = 2000;

}  // namespace

int sio_last_os_error() { return last_os_error; }

void sio_add_virtual_port(const std::string& name, sio_port_factory factory) {
    PortTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    t.virtual_ports[name] = std::move(factory);
}

void sio_remove_virtual_port(const std::string& name) {
    PortTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    t.virtual_ports.erase(name);
}

int32_t sio_open(const char* name, sio_port* record) {
    if (record == nullptr) return ERR_CANT_OPEN_SERIAL;
    record->handle = SIO_INVALID_HANDLE;
    if (name == nullptr) return ERR_CANT_OPEN_SERIAL;
    PortTable& t = table();
    sio_port_factory factory;
    {
        std::lock_guard<std::mutex> hold(t.lock);
        auto it = t.virtual_ports.find(name);
        if (it != t.virtual_ports.end()) factory = it->second;
    }
    std::unique_ptr<SerialPort> opened;
    int os = factory ? factory(&opened) : platform::serial_open(name, &opened);
    if (os == 0 && !opened) os = stale_handle;
    if (note(os) != 0) return ERR_CANT_OPEN_SERIAL;

    std::shared_ptr<SerialPort> port(std::move(opened));
    {
        std::lock_guard<std::mutex> hold(t.lock);
        record->handle = t.next++;
        t.ports[record->handle] = port;
    }
    if (note(port->set_event_mask(platform::SERIAL_EV_RXCHAR)) != 0) return ERR_CANT_SET_SERIAL;
    if (note(port->setup_queues(SIO_QUEUE_SIZE, SIO_QUEUE_SIZE)) != 0) return ERR_CANT_SET_SERIAL;
    return 0;
}

int32_t sio_init(sio_handle handle, const char* settings, bool soft) {
    if (handle == SIO_INVALID_HANDLE) return ERR_SERIAL_NOT_OPEN;
    auto port = find(handle);
    sio_settings s;
    int32_t err = get_state(port.get(), &s);
    if (err != 0) {
        print_invalid(settings);
        return err;
    }

    sio_line line;
    sio_text_kind kind = sio_classify_settings(settings);
    if (kind == sio_text_kind::mode_word) u_sink("Com Settings Parameter: %s is ignored.\n", settings);
    if (kind == sio_text_kind::settings) {
        bool quiet = false;
        err = sio_parse_settings(settings, &line, &quiet);
        if (err != 0) {
            if (!quiet) print_invalid(settings);
            return err;
        }
    }

    sio_apply_discipline(&s, line, soft);
    // The time-outs are written first and their result is not checked.
    note(port->set_timeouts(sio_fixed_timeouts()));
    err = set_state(port.get(), s);
    note(port->set_dtr(true));
    if (err != 0) print_invalid(settings);
    return err;
}

int32_t sio_init_soft(sio_handle handle, const char* settings) { return sio_init(handle, settings, true); }

int32_t sio_set_baud(sio_handle handle, uint32_t baud) {
    return change_state(handle, [&](sio_settings& s) { s.baud = baud; });
}

int32_t sio_set_parity(sio_handle handle, uint32_t parity) {
    return change_state(handle, [&](sio_settings& s) {
        // Out-of-range values stay out of range so that the device refuses them.
        s.parity = static_cast<uint8_t>(parity > 0xFF ? 0xFF : parity);
        s.parity_check = parity != 0;
    });
}

int32_t sio_set_data_bits(sio_handle handle, uint32_t bits) {
    return change_state(handle,
                        [&](sio_settings& s) { s.byte_size = static_cast<uint8_t>(bits > 0xFF ? 0xFF : bits); });
}

int32_t sio_xon_xoff_on(sio_handle handle) {
    return change_state(handle, [](sio_settings& s) {
        s.out_xon_xoff = true;
        s.in_xon_xoff = true;
        s.xon_char = 17;
        s.xoff_char = 19;
        s.xon_limit = 100;
        s.xoff_limit = 3996;
    });
}

int32_t sio_xon_xoff_off(sio_handle handle) {
    return change_state(handle, [](sio_settings& s) {
        s.out_xon_xoff = false;
        s.in_xon_xoff = false;
        s.xon_char = 17;
        s.xoff_char = 19;
        s.xon_limit = 100;
        s.xoff_limit = 3996;
    });
}

int32_t sio_get_timeout(sio_handle handle, uint32_t* seconds) {
    *seconds = 0;
    if (handle == SIO_INVALID_HANDLE) return ERR_SERIAL_NOT_OPEN;
    auto port = find(handle);
    sio_timeouts t;
    if (!port) {
        note(stale_handle);
        return ERR_CANT_GET_SERIAL;
    }
    if (note(port->get_timeouts(&t)) != 0) return ERR_CANT_GET_SERIAL;
    *seconds = t.read_total_constant / 1000;
    return 0;
}

int32_t sio_set_timeout(sio_handle handle, uint32_t seconds) {
    if (handle == SIO_INVALID_HANDLE) return ERR_SERIAL_NOT_OPEN;
    auto port = find(handle);
    sio_timeouts t;
    if (!port) {
        note(stale_handle);
        return ERR_CANT_SET_SERIAL;
    }
    if (note(port->get_timeouts(&t)) != 0) return ERR_CANT_SET_SERIAL;
    constexpr uint32_t max_seconds = platform::SERIAL_MAX_TIMEOUT / 1000;
    t.read_total_constant = (seconds > max_seconds ? max_seconds : seconds) * 1000;
    return note(port->set_timeouts(t)) == 0 ? 0 : ERR_CANT_SET_SERIAL;
}

int32_t sio_get_state(sio_handle handle, sio_settings* settings) {
    if (handle == SIO_INVALID_HANDLE) return ERR_SERIAL_NOT_OPEN;
    auto port = find(handle);
    return get_state(port.get(), settings);
}

int32_t sio_set_state(sio_handle handle, const sio_settings* settings) {
    if (handle == SIO_INVALID_HANDLE) return ERR_SERIAL_NOT_OPEN;
    auto port = find(handle);
    return set_state(port.get(), *settings);
}

int sio_send_data(sio_handle handle, const void* data, uint32_t count, uint32_t* written) {
    *written = 0;
    auto port = find(handle);
    if (!port) return 1;
    std::size_t n = 0;
    int os = note(port->write(data, count, &n));
    *written = static_cast<uint32_t>(n);

    // Wait for the line to take the bytes. A device that never drains (flow
    // control held off for good) would keep this loop alive for ever, so the wait
    // is bounded by the write time-out and then counts as a failed send.
    sio_timeouts t;
    int64_t limit = 1000;
    if (port->get_timeouts(&t) == 0) {
        int64_t w = static_cast<int64_t>(t.write_total_multiplier) * count + t.write_total_constant;
        if (w > 0) limit = w;
    }
    const int64_t start = platform::monotonic_ms();
    bool drained = true;
    for (;;) {
        platform::serial_status st;
        if (note(port->status(&st)) != 0 || st.errors != 0 || st.out_queue == 0) break;
        if (platform::monotonic_ms() - start >= limit) {
            drained = false;
            break;
        }
        platform::sleep_ms(1);
    }
    return os == 0 && n == count && drained ? 0 : 1;
}

int sio_read_data(sio_handle handle, void* buffer, uint32_t count, uint32_t* got) {
    *got = 0;
    auto port = find(handle);
    if (!port) return 1;
    platform::serial_status st;
    bool status_ok = note(port->status(&st)) == 0;
    std::size_t n = 0;
    int os = note(port->read(buffer, count, &n));
    *got = static_cast<uint32_t>(n);
    status_ok = note(port->status(&st)) == 0 && status_ok;
    return status_ok && os == 0 && n == count ? 0 : 1;
}

int sio_port_status(sio_handle handle, uint32_t* in_queue, uint32_t* errors) {
    *in_queue = 0;
    *errors = 0;
    auto port = find(handle);
    if (!port) return 1;
    platform::serial_status st;
    if (note(port->status(&st)) != 0) return 1;
    *in_queue = st.in_queue;
    *errors = st.errors;
    return 0;
}

int sio_bytes_waiting(sio_handle handle, uint32_t* count) {
    uint32_t errors = 0;
    return sio_port_status(handle, count, &errors);
}

int sio_clear_buffer(sio_handle handle) {
    if (handle == SIO_INVALID_HANDLE) return ERR_SERIAL_NOT_OPEN;
    auto port = find(handle);
    if (!port) return 1;

    sio_timeouts t;
    const bool have_timeouts = note(port->get_timeouts(&t)) == 0;
    const uint32_t saved = t.read_total_constant;
    if (have_timeouts) {
        t.read_total_constant = 100;
        note(port->set_timeouts(t));
    }

    bool purged = false;
    bool got_byte = false;
    const int64_t start = platform::monotonic_ms();
    do {
        purged = note(port->purge(platform::SERIAL_PURGE_ALL)) == 0;
        got_byte = false;
        if (purged) {
            unsigned char byte = 0;
            uint32_t n = 0;
            sio_read_data(handle, &byte, 1, &n);
            got_byte = n == 1;
        }
    } while (purged && got_byte && platform::monotonic_ms() - start < clear_limit_ms);

    if (have_timeouts) {
        t.read_total_constant = saved;
        note(port->set_timeouts(t));
    }
    return purged && !got_byte ? 0 : 1;
}

int32_t sio_close(sio_port* record) {
    if (record == nullptr || record->handle == SIO_INVALID_HANDLE) return ERR_SERIAL_NOT_OPEN;
    auto port = find(record->handle);
    if (!port) {
        note(stale_handle);
        return ERR_CANT_CLOSE_SERIAL;
    }
    note(port->set_event_mask(0));
    note(port->set_dtr(false));
    note(port->purge(platform::SERIAL_PURGE_ALL));
    if (note(port->close()) != 0) return ERR_CANT_CLOSE_SERIAL;
    {
        PortTable& t = table();
        std::lock_guard<std::mutex> hold(t.lock);
        t.ports.erase(record->handle);
    }
    record->handle = SIO_INVALID_HANDLE;
    return 0;
}

}  // namespace mf
