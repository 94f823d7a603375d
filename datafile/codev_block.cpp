#include "datafile/codev_block.h"

#include <cstring>
#include <ctime>

#include "common/errors.h"
#include "common/msg.h"
#include "common/text.h"
#include "platform/clock.h"

namespace mf {

namespace {

using codev::scan_float;
using codev::scan_i16;
using codev::scan_i32;
using codev::string_source;

std::string upper(std::string word) {
    for (char& c : word)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return word;
}

// A quoted fixed-width field: after the opening quote exactly width characters,
// or fewer when the line ends first (a hand-edited file); then a closing quote
// that the shorter form brings along is dropped and the text trimmed.
bool scan_quoted(string_source& in, char* field, int width) {
    in.skip_space();
    if (in.get() != '"') return false;
    char text[512];
    int n = 0;
    while (n < width) {
        const int c = in.get();
        if (c == codev::end_of_text || c == '\n') break;
        text[n++] = static_cast<char>(c);
    }
    text[n] = '\0';
    if (n < width) {
        int end = n;
        while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t'))
            --end;
        if (end > 0 && text[end - 1] == '"') text[end - 1] = '\0';
    }
    u_trim(text);
    std::memset(field, 0, static_cast<size_t>(width) + 1);
    std::memcpy(field, text, std::strlen(text));
    return true;
}

struct block_state {
    bool req = false;
    bool src = false;
    bool scf = false;
};

// Scans one key's value text; false when fewer values than the key needs were read.
bool apply_key(const std::string& key, const char* text, data_header& h, sw_info& sw, data_array* phase, int& shift,
               block_state& seen) {
    string_source in(text);
    if (key == "REQ") {
        int16_t a, b;
        float c, d, e;
        if (!(scan_i16(in, a) && scan_i16(in, b) && scan_float(in, c) && scan_float(in, d) && scan_float(in, e)))
            return false;
        h.req1 = a, h.req2 = b, h.req3 = c, h.req4 = d, h.req5 = e;
        seen.req = true;
    } else if (key == "TMS") {
        int32_t t;
        if (!scan_i32(in, t)) return false;
        h.time_stamp = t;
    } else if (key == "SWI") {
        int16_t type, n1, n2, n3;
        char name[30];
        if (!(scan_i16(in, type) && scan_i16(in, n1) && scan_i16(in, n2) && scan_i16(in, n3) &&
              scan_quoted(in, name, 29)))
            return false;
        sw.type = type, sw.number1 = n1, sw.number2 = n2, sw.number3 = n3;
        std::memcpy(sw.name, name, sizeof sw.name);
    } else if (key == "COM") {
        char text82[82];
        if (!scan_quoted(in, text82, 81)) return false;
        std::memcpy(h.comment, text82, sizeof h.comment);
    } else if (key == "SRC") {
        int16_t source, width, height;
        if (!(scan_i16(in, source) && scan_i16(in, width) && scan_i16(in, height))) return false;
        h.source = source;
        if (phase) phase->width = width, phase->height = height;
        seen.src = true;
    } else if (key == "MAG") {
        float a, b, c;
        int16_t d;
        if (!(scan_float(in, a) && scan_float(in, b) && scan_float(in, c) && scan_i16(in, d))) return false;
        h.mag1 = a, h.mag2 = b, h.mag3 = c, h.mag4 = d;
    } else if (key == "ACQ") {
        int16_t v;
        if (!scan_i16(in, v)) return false;
        h.acq = v;
    } else if (key == "IAC") {
        int16_t v;
        if (!scan_i16(in, v)) return false;
        h.iac = v;
    } else if (key == "RMP") {
        int16_t a, b, c;
        if (!(scan_i16(in, a) && scan_i16(in, b) && scan_i16(in, c))) return false;
        h.rmp1 = a, h.rmp2 = b, h.rmp3 = c;
    } else if (key == "LLV") {
        int16_t a;
        float b, c;
        if (!(scan_i16(in, a) && scan_float(in, b) && scan_float(in, c))) return false;
        h.llv1 = a, h.llv2 = b, h.llv3 = c;
    } else if (key == "MOD") {
        int32_t a, b;
        if (!(scan_i32(in, a) && scan_i32(in, b))) return false;
        h.mod1 = a, h.mod2 = b;
    } else if (key == "CON") {
        int32_t a;
        int16_t b, d;
        float c;
        if (!(scan_i32(in, a) && scan_i16(in, b) && scan_float(in, c) && scan_i16(in, d))) return false;
        h.con1 = a, h.con2 = b, h.con3 = c, h.con4 = d;
    } else if (key == "SGN") {
        int16_t v;
        if (!scan_i16(in, v)) return false;
        h.sgn = v;
    } else if (key == "SYS") {
        int16_t a, b, d;
        int32_t c;
        if (!(scan_i16(in, a) && scan_i16(in, b) && scan_i32(in, c) && scan_i16(in, d))) return false;
        h.sys1 = a, h.sys2 = b, h.sys4 = d;
        // The 16-bit field keeps the low half of a large value; the whole value
        // lives in the 32-bit field, which is 0 otherwise.
        h.sys3 = static_cast<int16_t>(c);
        h.sys3_long = c > 65535 ? c : 0;
    } else if (key == "ONM") {
        if (!scan_quoted(in, h.onm, 11)) return false;
    } else if (key == "PNM") {
        if (!scan_quoted(in, h.pnm, 39)) return false;
    } else if (key == "PAC") {
        int16_t v;
        if (!scan_i16(in, v)) return false;
        h.pac = v;
    } else if (key == "SCF") {
        int32_t code, k;
        if (!(scan_i32(in, code) && scan_i32(in, k))) return false;
        // A shift beyond the sample width cannot come from the writer and would
        // scramble every sample.
        if (k > 31) return false;
        h.phase_res = static_cast<int16_t>(code);
        shift = k;
        seen.scf = true;
    } else if (key == "ERR") {
        int16_t value;
        char text28[28];
        if (!(scan_i16(in, value) && scan_quoted(in, text28, 27))) return false;
        h.err_value = value;
        std::memcpy(h.err_text, text28, sizeof h.err_text);
    } else if (key == "PSN") {
        if (!scan_quoted(in, h.psn, 39)) return false;
    }
    return true;
}

}  // namespace

int32_t read_header_block(codev::text_source& in, data_header* header, sw_info* sw, data_array* phase, int* shift,
                          int* line) {
    data_header scratch_header{};
    sw_info scratch_sw{};
    int scratch_shift = -1;
    int scratch_line = 0;
    data_header& h = header ? *header : scratch_header;
    sw_info& s = sw ? *sw : scratch_sw;
    int& k = shift ? *shift : scratch_shift;
    int& counter = line ? *line : scratch_line;

    block_state seen;
    int32_t status = 0;
    char text[512];
    while (status == 0) {
        int c = in.get();
        if (c != '!') {
            in.unget();
            break;
        }
        c = in.get();
        while (codev::is_space(c))
            c = in.get();
        std::string key;
        while (c != codev::end_of_text && !codev::is_space(c)) {
            if (key.size() < 100) key += static_cast<char>(c);
            c = in.get();
        }
        while (codev::is_space(c))
            c = in.get();
        in.unget();
        if (key.empty() || !in.read_line(text, sizeof text, true)) {
            status = ERR_PREMATURE_EOF;
            break;
        }
        ++counter;
        if (!apply_key(upper(key), text, h, s, phase, k, seen)) status = ERR_CORRUPT_DATA_FILE;
    }
    if (status == 0 && !seen.src) h.source = 1;
    if (!seen.scf) {
        h.phase_res = 0;
        k = -1;
    }
    if (status != 0) {
        u_sink("Error reading line %d\n", counter);
        return status;
    }
    if (!seen.req) {
        u_sink("Header is missing line beginning with \"! REQ\"\n");
        return ERR_CORRUPT_DATA_FILE;
    }
    return 0;
}

namespace codev {

void append_header_block(std::string& out, const data_header& h, const sw_info& sw, int shift, int16_t width,
                         int16_t height) {
    auto line = [&out](const char* key) { out += "! ", out += key; };
    auto i = [&out](int64_t v) { out += ' ', append_int(out, v); };
    auto g = [&out](float v) { out += ' ', append_g(out, v); };
    auto quoted = [&out](const char* field, size_t size) {
        out += " \"";
        append_padded(out, field, size, static_cast<int>(size) - 1);
        out += '"';
    };
    line("REQ"), i(h.req1), i(h.req2), g(h.req3), g(h.req4), g(h.req5), out += '\n';
    line("TMS"), i(h.time_stamp), out += '\n';
    line("SWI"), i(sw.type), i(sw.number1), i(sw.number2), i(sw.number3), quoted(sw.name, sizeof sw.name), out += '\n';
    line("COM"), quoted(h.comment, sizeof h.comment), out += '\n';
    line("SRC"), i(h.source), i(width), i(height), out += '\n';
    line("MAG"), g(h.mag1), g(h.mag2), g(h.mag3), i(h.mag4), out += '\n';
    line("ACQ"), i(h.acq), out += '\n';
    line("IAC"), i(h.iac), out += '\n';
    line("RMP"), i(h.rmp1), i(h.rmp2), i(h.rmp3), out += '\n';
    line("LLV"), i(h.llv1), g(h.llv2), g(h.llv3), out += '\n';
    line("MOD"), i(h.mod1), i(h.mod2), out += '\n';
    line("CON"), i(h.con1), i(h.con2), g(h.con3), i(h.con4), out += '\n';
    line("SGN"), i(h.sgn), out += '\n';
    line("SYS"), i(h.sys1), i(h.sys2), i(h.sys3_long != 0 ? h.sys3_long : h.sys3), i(h.sys4), out += '\n';
    line("ONM"), quoted(h.onm, sizeof h.onm), out += '\n';
    line("PNM"), quoted(h.pnm, sizeof h.pnm), out += '\n';
    line("PAC"), i(h.pac), out += '\n';
    line("SCF"), i(h.phase_res), i(shift), out += '\n';
    line("ERR"), i(h.err_value), quoted(h.err_text, sizeof h.err_text), out += '\n';
    line("PSN"), quoted(h.psn, sizeof h.psn), out += '\n';
}

void append_title_line(std::string& out, const data_header& h, const sw_info& sw) {
    if (h.comment[0] != '\0') {
        out.append(h.comment, strnlen(h.comment, 80));
        out += '\n';
        return;
    }
    static const char* const type_names[] = {"Unknown Software ", "Ostrabel ", "Halcyonide ", "k3dev "};
    out += "Varo ";
    if (sw.type >= 0 && sw.type <= 3) out += type_names[sw.type];
    std::tm t{};
    if (h.time_stamp > 0 && platform::local_time(static_cast<std::time_t>(h.time_stamp), &t)) {
        static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        auto two = [&out](int v, char pad) {
            out += v < 10 ? pad : static_cast<char>('0' + v / 10 % 10);
            out += static_cast<char>('0' + v % 10);
        };
        out += days[(t.tm_wday % 7 + 7) % 7];
        out += ' ';
        out += months[(t.tm_mon % 12 + 12) % 12];
        out += ' ';
        two(t.tm_mday, ' ');
        out += ' ';
        two(t.tm_hour, '0');
        out += ':';
        two(t.tm_min, '0');
        out += ':';
        two(t.tm_sec, '0');
        out += ' ';
        append_int(out, int64_t{t.tm_year} + 1900);
    }
    out += '\n';
}

bool read_title_line(text_source& in, data_header& h) {
    char title[100];
    if (!in.read_line(title, sizeof title, true)) return false;
    if (h.comment[0] == '\0') {
        u_trim(title);
        std::memset(h.comment, 0, sizeof h.comment);
        std::memcpy(h.comment, title, strnlen(title, sizeof h.comment - 1));
    }
    return true;
}

int32_t scan_header_line(text_source& in, int line, const std::function<word_action(const std::string&)>& on_word) {
    for (;;) {
        int c = in.get();
        while (c == ' ' || c == '\t')
            c = in.get();
        if (c == '\n' || c == end_of_text) return 0;
        std::string word;
        bool too_long = false;
        while (c != end_of_text && !is_space(c)) {
            if (word.size() < 99)
                word += static_cast<char>(c);
            else
                too_long = true;
            c = in.get();
        }
        while (is_space(c))
            c = in.get();
        in.unget();
        switch (on_word(too_long ? std::string() : upper(word))) {
        case word_action::accepted:
            break;
        case word_action::bad_number:
            u_sink("Error reading line %d\n", line);
            return ERR_CORRUPT_DATA_FILE;
        case word_action::bad_value:
            return ERR_CORRUPT_DATA_FILE;
        case word_action::not_allowed:
            return ERR_NOT_A_DATA_FILE;
        }
    }
}

}  // namespace codev

int32_t write_header_block(std::FILE* stream, const data_header* header, const sw_info* sw, int shift,
                           const data_array* phase) {
    const data_header zero_header{};
    const sw_info zero_sw{};
    std::string text;
    codev::append_header_block(text, header ? *header : zero_header, sw ? *sw : zero_sw, shift,
                               phase ? phase->width : int16_t{0}, phase ? phase->height : int16_t{0});
    return stream && codev::write_text(stream, text) ? 0 : ERR_CANT_WRITE_FILE;
}

}  // namespace mf
