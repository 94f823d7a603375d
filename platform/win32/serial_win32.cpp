// Windows serial ports: the communications API maps one to one onto the
// portable records.
#include <windows.h>

#include <cctype>
#include <mutex>

#include "platform/serial_port.h"

namespace mf::platform {

namespace {

int last() {
    DWORD e = GetLastError();
    return e == 0 ? static_cast<int>(ERROR_GEN_FAILURE) : static_cast<int>(e);
}

class Win32SerialPort : public SerialPort {
public:
    explicit Win32SerialPort(HANDLE h) : h_(h) {}
    ~Win32SerialPort() override {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }

    int set_event_mask(uint32_t mask) override {
        DWORD m = (mask & SERIAL_EV_RXCHAR) ? EV_RXCHAR : 0;
        return SetCommMask(h_, m) ? 0 : last();
    }

    int setup_queues(uint32_t in_size, uint32_t out_size) override {
        return SetupComm(h_, in_size, out_size) ? 0 : last();
    }

    int get_settings(serial_settings* s) override {
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        if (!GetCommState(h_, &dcb)) return last();
        s->length = SERIAL_SETTINGS_LENGTH;
        s->baud = dcb.BaudRate;
        s->binary = dcb.fBinary != 0;
        s->parity_check = dcb.fParity != 0;
        s->cts_out_flow = dcb.fOutxCtsFlow != 0;
        s->dsr_out_flow = dcb.fOutxDsrFlow != 0;
        s->dtr_control = static_cast<uint8_t>(dcb.fDtrControl);
        s->dsr_sensitivity = dcb.fDsrSensitivity != 0;
        s->tx_continue_on_xoff = dcb.fTXContinueOnXoff != 0;
        s->out_xon_xoff = dcb.fOutX != 0;
        s->in_xon_xoff = dcb.fInX != 0;
        s->error_replace = dcb.fErrorChar != 0;
        s->null_strip = dcb.fNull != 0;
        s->rts_control = static_cast<uint8_t>(dcb.fRtsControl);
        s->abort_on_error = dcb.fAbortOnError != 0;
        s->xon_limit = dcb.XonLim;
        s->xoff_limit = dcb.XoffLim;
        s->byte_size = dcb.ByteSize;
        s->parity = dcb.Parity;
        s->stop_bits = dcb.StopBits;
        s->xon_char = dcb.XonChar;
        s->xoff_char = dcb.XoffChar;
        s->error_char = dcb.ErrorChar;
        s->eof_char = dcb.EofChar;
        s->event_char = dcb.EvtChar;
        return 0;
    }

    int set_settings(const serial_settings& s) override {
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        dcb.BaudRate = s.baud;
        dcb.fBinary = s.binary;
        dcb.fParity = s.parity_check;
        dcb.fOutxCtsFlow = s.cts_out_flow;
        dcb.fOutxDsrFlow = s.dsr_out_flow;
        dcb.fDtrControl = s.dtr_control;
        dcb.fDsrSensitivity = s.dsr_sensitivity;
        dcb.fTXContinueOnXoff = s.tx_continue_on_xoff;
        dcb.fOutX = s.out_xon_xoff;
        dcb.fInX = s.in_xon_xoff;
        dcb.fErrorChar = s.error_replace;
        dcb.fNull = s.null_strip;
        dcb.fRtsControl = s.rts_control;
        dcb.fAbortOnError = s.abort_on_error;
        dcb.XonLim = s.xon_limit;
        dcb.XoffLim = s.xoff_limit;
        dcb.ByteSize = s.byte_size;
        dcb.Parity = s.parity;
        dcb.StopBits = s.stop_bits;
        dcb.XonChar = s.xon_char;
        dcb.XoffChar = s.xoff_char;
        dcb.ErrorChar = s.error_char;
        dcb.EofChar = s.eof_char;
        dcb.EvtChar = s.event_char;
        return SetCommState(h_, &dcb) ? 0 : last();
    }

    int get_timeouts(serial_timeouts* t) override {
        COMMTIMEOUTS ct{};
        if (!GetCommTimeouts(h_, &ct)) return last();
        t->read_interval = ct.ReadIntervalTimeout;
        t->read_total_multiplier = ct.ReadTotalTimeoutMultiplier;
        t->read_total_constant = ct.ReadTotalTimeoutConstant;
        t->write_total_multiplier = ct.WriteTotalTimeoutMultiplier;
        t->write_total_constant = ct.WriteTotalTimeoutConstant;
        return 0;
    }

    int set_timeouts(const serial_timeouts& t) override {
        COMMTIMEOUTS ct{};
        ct.ReadIntervalTimeout = t.read_interval;
        ct.ReadTotalTimeoutMultiplier = t.read_total_multiplier;
        ct.ReadTotalTimeoutConstant = t.read_total_constant;
        ct.WriteTotalTimeoutMultiplier = t.write_total_multiplier;
        ct.WriteTotalTimeoutConstant = t.write_total_constant;
        return SetCommTimeouts(h_, &ct) ? 0 : last();
    }

    int read(void* buffer, std::size_t count, std::size_t* got) override {
        *got = 0;
        if (count > MAXDWORD) return ERROR_INVALID_PARAMETER;
        DWORD n = 0;
        if (!ReadFile(h_, buffer, static_cast<DWORD>(count), &n, nullptr)) {
            int e = last();
            *got = n;
            return e;
        }
        *got = n;
        return 0;
    }

    int write(const void* data, std::size_t count, std::size_t* written) override {
        *written = 0;
        if (count > MAXDWORD) return ERROR_INVALID_PARAMETER;
        DWORD n = 0;
        if (!WriteFile(h_, data, static_cast<DWORD>(count), &n, nullptr)) {
            int e = last();
            *written = n;
            return e;
        }
        *written = n;
        return 0;
    }

    int status(serial_status* st) override {
        *st = serial_status{};
        std::lock_guard<std::mutex> hold(close_guard_);
        if (h_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
        DWORD errors = 0;
        COMSTAT cs{};
        if (!ClearCommError(h_, &errors, &cs)) return last();
        uint32_t e = 0;
        if (errors & CE_RXOVER) e |= SERIAL_CE_RXOVER;
        if (errors & CE_OVERRUN) e |= SERIAL_CE_OVERRUN;
        if (errors & CE_RXPARITY) e |= SERIAL_CE_RXPARITY;
        if (errors & CE_FRAME) e |= SERIAL_CE_FRAME;
        if (errors & CE_BREAK) e |= SERIAL_CE_BREAK;
        st->errors = e;
        st->in_queue = cs.cbInQue;
        st->out_queue = cs.cbOutQue;
        return 0;
    }

    int purge(uint32_t flags) override {
        DWORD f = 0;
        if (flags & SERIAL_PURGE_TXABORT) f |= PURGE_TXABORT;
        if (flags & SERIAL_PURGE_RXABORT) f |= PURGE_RXABORT;
        if (flags & SERIAL_PURGE_TXCLEAR) f |= PURGE_TXCLEAR;
        if (flags & SERIAL_PURGE_RXCLEAR) f |= PURGE_RXCLEAR;
        return PurgeComm(h_, f) ? 0 : last();
    }

    int set_dtr(bool on) override { return EscapeCommFunction(h_, on ? SETDTR : CLRDTR) ? 0 : last(); }

    int close() override {
        std::lock_guard<std::mutex> hold(close_guard_);
        if (h_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
        if (!CloseHandle(h_)) return last();
        h_ = INVALID_HANDLE_VALUE;
        return 0;
    }

private:
    HANDLE h_;
    // The status query may come from another thread (the device-control worker)
    // while the owner closes: it sees the port open or closed, never a handle being
    // closed or already reused.
    std::mutex close_guard_;
};

// "COM10" and above open only through the device namespace; the prefix is
// harmless for the lower numbers, so every bare COM name gets it.
std::string device_path(const std::string& name) {
    if (name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(name[2])) == 'M' && name.find('\\') == std::string::npos) {
        return "\\\\.\\" + name;
    }
    return name;
}

}  // namespace

int serial_open(const std::string& name, std::unique_ptr<SerialPort>* port) {
    port->reset();
    HANDLE h = CreateFileA(device_path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last();
    *port = std::make_unique<Win32SerialPort>(h);
    return 0;
}

}  // namespace mf::platform
