// Settings strings and the fixed line discipline: pure record work, no port.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "common/error_codes.h"
#include "serial/sio.h"

namespace mf {

namespace {

const uint32_t supported_bauds[] = {150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

const char* const mode_words[] = {"r", "r+", "w", "w+", "a", "a+"};

}  // namespace

sio_text_kind sio_classify_settings(const char* text) {
    if (text == nullptr) return sio_text_kind::none;
    for (const char* word : mode_words)
        if (std::strcmp(text, word) == 0) return sio_text_kind::mode_word;
    return sio_text_kind::settings;
}

int32_t sio_parse_settings(const char* text, sio_line* line, bool* quiet) {
    *quiet = false;
    sio_line parsed;
    char* end = nullptr;

    long baud = std::strtol(text, &end, 10);
    bool known = false;
    for (uint32_t b : supported_bauds)
        if (baud == static_cast<long>(b)) known = true;
    if (!known) return ERR_INVALID_PARAM;
    parsed.baud = static_cast<uint32_t>(baud);

    if (*end != ',') return ERR_INVALID_PARAM;
    long bits = std::strtol(end + 1, &end, 10);
    if (bits < 5 || bits > 8) return ERR_INVALID_PARAM;
    parsed.data_bits = static_cast<uint8_t>(bits);

    if (*end != ',') return ERR_INVALID_PARAM;
    const char* field = end + 1;
    if (!std::isdigit(static_cast<unsigned char>(*field))) {
        *quiet = true;
        return ERR_PARAM_OUT_OF_RANGE;
    }
    long parity = std::strtol(field, &end, 10);
    if (parity < 0 || parity > 2) return ERR_INVALID_PARAM;
    parsed.parity = static_cast<uint8_t>(parity);
    parsed.parity_check = parity != 0;

    if (*end != ',') return ERR_INVALID_PARAM;
    // Compared in single precision: "1.50" means 1.5, "1.49" is refused.
    float stop = static_cast<float>(std::strtod(end + 1, &end));
    if (stop == 1.0f)
        parsed.stop_bits = platform::SERIAL_STOP_1;
    else if (stop == 1.5f)
        parsed.stop_bits = platform::SERIAL_STOP_1_5;
    else if (stop == 2.0f)
        parsed.stop_bits = platform::SERIAL_STOP_2;
    else
        return ERR_PARAM_OUT_OF_RANGE;

    *line = parsed;
    return 0;
}

void sio_apply_discipline(sio_settings* s, const sio_line& line, bool soft) {
    s->baud = line.baud;
    s->byte_size = line.data_bits;
    s->parity = line.parity;
    s->parity_check = line.parity_check;
    s->stop_bits = line.stop_bits;

    s->out_xon_xoff = soft;
    s->in_xon_xoff = soft;
    s->xon_char = 17;
    s->xoff_char = 19;
    s->xon_limit = 100;
    s->xoff_limit = 3996;
    s->dtr_control = platform::SERIAL_DTR_ENABLE;
    s->rts_control = platform::SERIAL_RTS_HANDSHAKE;
    // A software-handshake line must not stall on CTS or stop at the first
    // framing error; a hardware-handshake line does both.
    s->cts_out_flow = !soft;
    s->abort_on_error = !soft;
    s->binary = true;
}

sio_timeouts sio_fixed_timeouts() {
    sio_timeouts t;
    t.read_interval = 100;
    t.read_total_multiplier = 0;
    t.read_total_constant = 2000;
    t.write_total_multiplier = 0;
    t.write_total_constant = 1000;
    return t;
}

}  // namespace mf
