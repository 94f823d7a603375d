// The statements of the calibration file: value syntax, ranges and the record
// fields each one sets. A statement reads its values into locals and stores them
// only when the whole statement is good, so a rejected statement leaves the record
// as it was; a sub-record is created only for a statement that stores into it.
#include <cmath>
#include <cstring>

#include "calfile/messages.h"
#include "calfile/names.h"
#include "calfile/parse.h"
#include "calfile/record.h"
#include "common/error_codes.h"
#include "common/msg.h"

namespace mf {

namespace {

constexpr int32_t SYNTAX = ERR_SB_CALFILE_SYNTAX;
constexpr int32_t RANGE = ERR_SB_CALFILE_VALUE_RANGE;
constexpr double um = 1e-6;
using pc = sb_lexer::peek_class;

#define TRY(expr)                       \
    do {                                \
        const int32_t status_ = (expr); \
        if (status_) return status_;    \
    } while (0)

int32_t fail(int32_t code, const char* message) {
    sb_read_message("%s", message);
    return code;
}

int32_t get_int(sb_parse& p, int32_t* out, int64_t low, int64_t high) {
    int64_t v = 0;
    TRY(p.lex.integer(&v));
    if (v < low || v > high) {
        sb_read_message("%lld out of range [%lld,%lld]", static_cast<long long>(v), static_cast<long long>(low),
                        static_cast<long long>(high));
        return RANGE;
    }
    *out = static_cast<int32_t>(v);
    return 0;
}

enum class ends { closed, open_low };

int32_t get_real(sb_parse& p, double* out, double low, double high, ends e = ends::closed) {
    double v = 0;
    TRY(p.lex.real(&v));
    const bool low_ok = e == ends::open_low ? v > low : v >= low;
    if (!(low_ok && v <= high)) {  // also refuses NaN
        sb_read_message(e == ends::open_low ? "%g out of range (%g,%g]" : "%g out of range [%g,%g]", v, low, high);
        return RANGE;
    }
    *out = v;
    return 0;
}

// A sub-keyword or a name.
int32_t get_keyword(sb_parse& p, sb_token* token) {
    switch (p.lex.token(p.word)) {
    case sb_lexer::kind::eol:
        return fail(SYNTAX, "Unexpected end-of-line.");
    case sb_lexer::kind::eof:
        return fail(SYNTAX, "Unexpected end-of-file.");
    default:
        break;
    }
    *token = sb_lookup_keyword(p.word.c_str());
    if (*token == TK_NONE_TOKEN) {
        sb_read_message("Unrecognized token \"%s\"", p.word.c_str());
        return SYNTAX;
    }
    return 0;
}

int32_t get_name(sb_parse& p, sb_names table, int32_t* number) {
    sb_token token = TK_NONE_TOKEN;
    TRY(get_keyword(p, &token));
    *number = sb_name_number(table, token);
    return *number < 0 ? fail(SYNTAX, "Unexpected token.") : 0;
}

int32_t expect(sb_parse& p, char c) {
    if (p.lex.token(p.word) != sb_lexer::kind::single || p.word != std::string(1, c))
        return fail(SYNTAX, "Syntax error.");
    return 0;
}

int32_t need_number(sb_parse& p) { return p.lex.peek() == pc::number ? 0 : fail(SYNTAX, "Expected number."); }

bool number_follows(sb_parse& p) { return p.lex.peek() == pc::number; }

// Owned copies made before anything is replaced, so a failed allocation changes nothing.
struct owned_text {
    char* text = nullptr;
    ~owned_text() { u_free(text); }
    int32_t copy(const char* value) { return sb_set_text(&text, value); }
    void move_to(char** field) {
        u_free(*field);
        *field = text;
        text = nullptr;
    }
};

int32_t get_text(sb_parse& p, owned_text* out) {
    TRY(p.lex.text(p.word));
    return out->copy(p.word.c_str());
}

int32_t set_text(sb_parse& p, char** field) {
    owned_text t;
    TRY(get_text(p, &t));
    t.move_to(field);
    return 0;
}

bool is_board(const sysInfo* si, int32_t board) { return si->boardType == board; }

// ---------------------------------------------------------------- identity

int32_t system_type(sb_parse& p, int32_t type) {
    int32_t year = 0, week = 0, serial = 0, r = 0;
    TRY(get_int(p, &year, 0, 99));
    TRY(get_int(p, &week, 1, 52));
    TRY(get_int(p, &serial, 100, 999999));
    switch (p.lex.peek()) {
    case pc::end:
        break;
    case pc::word:
        p.lex.token(p.word);
        if (p.word != "R") return fail(SYNTAX, "Unrecognized string.");
        r = 1;
        break;
    default:
        return fail(SYNTAX, "Expected non-numeric string.");
    }
    p.si->sysType = type;
    p.si->dateCode = year * 100 + week;
    p.si->serialNum = serial;
    p.si->rFlag = r;
    p.given.sysType = true;
    return 0;
}

int32_t version(sb_parse& p) {
    int32_t grabber = 0, number = 0, board = 0;
    TRY(get_name(p, sb_names::frame_grabber, &grabber));
    TRY(get_int(p, &number, 0, 99999));
    TRY(get_name(p, sb_names::board, &board));
    p.si->frameGrabber = grabber;
    p.si->versionNum = number & 0xFF;
    p.si->boardType = board;
    p.given.version = true;
    return 0;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int32_t mac_address(sb_parse& p) {
    uint8_t mac[6];
    for (uint8_t& byte : mac) {
        TRY(p.lex.text(p.word));
        const char* s = p.word.c_str();
        if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && hex_digit(s[2]) >= 0) s += 2;
        if (hex_digit(*s) < 0) return fail(SYNTAX, "Syntax error.");
        unsigned value = 0;
        for (; hex_digit(*s) >= 0; ++s)
            value = (value << 4 | static_cast<unsigned>(hex_digit(*s))) & 0xFFFu;
        byte = static_cast<uint8_t>(value);
    }
    TRY(sb_need_can(p.si));
    std::memcpy(p.si->canInfo->mac, mac, sizeof mac);
    p.given.instrComm = true;
    return 0;
}

int32_t ramp(sb_parse& p) {
    sb_token sub = TK_NONE_TOKEN;
    TRY(get_keyword(p, &sub));
    if (sub != TK_CONFIG) return fail(SYNTAX, "Unexpected token.");
    owned_text name;
    TRY(get_text(p, &name));
    if (p.si->rampConfig != sb_default_ramp_config) u_free(const_cast<char*>(p.si->rampConfig));
    p.si->rampConfig = name.text;
    name.text = nullptr;
    return 0;
}

// ---------------------------------------------------------------- camera

int32_t custom_camera(sb_parse& p) {
    sb_camera& cam = p.si->camera;
    int32_t interlace = cam.interlaceFlag;
    int32_t c[9];
    std::memcpy(c, cam.c, sizeof c);
    int32_t* tail = nullptr;
    const char* log = nullptr;
    switch (p.si->boardType) {
    case BOARD_SABLEQV:
    case BOARD_FENN: {
        static constexpr int32_t preset[8] = {0, 1, 0, 1, 1, 1, 0, 1};
        interlace = 0;
        std::memcpy(c + 1, preset, sizeof preset);
        tail = &interlace;
        log = "Setting interlaceFlag to %d\n";
        break;
    }
    case BOARD_TARN:
    case BOARD_BRAE:
        interlace = 1;
        c[0] = 5;
        c[8] = 0;
        tail = &c[8];
        log = "Setting fieldCtrl to %d\n";
        break;
    case BOARD_CAN:
    case BOARD_NOTNEEDED:
        c[8] = 0;
        tail = &interlace;
        break;
    default:
        return fail(SYNTAX, "Unexpected token.");
    }
    switch (p.lex.peek()) {
    case pc::end:
        break;
    case pc::number:
        TRY(get_int(p, tail, 0, 1));
        break;
    default:
        return SYNTAX;
    }
    cam.type = CAM_CUSTOM;
    cam.interlaceFlag = interlace;
    std::memcpy(cam.c, c, sizeof c);
    if (log) u_sink(log, *tail);
    return 0;
}

int32_t camera_config(sb_parse& p) {
    sb_camera& cam = p.si->camera;
    if (is_board(p.si, BOARD_TARN) || is_board(p.si, BOARD_BRAE)) {
        int32_t interlace = 0, c0 = 0;
        TRY(get_int(p, &interlace, 0, 1));
        TRY(get_int(p, &c0, 0, 15));
        cam.interlaceFlag = interlace;
        cam.c[0] = c0;
        return 0;
    }
    if (is_board(p.si, BOARD_SABLEQV) || is_board(p.si, BOARD_FENN)) {
        static constexpr int32_t high[8] = {1, 1, 3, 1, 1, 1, 1, 1};
        int32_t c[8];
        for (int i = 0; i < 8; ++i)
            TRY(get_int(p, &c[i], 0, high[i]));
        std::memcpy(cam.c + 1, c, sizeof c);
        return 0;
    }
    return fail(SYNTAX, "Unexpected token.");
}

int32_t bad_pixels(sb_parse& p) {
    sb_camera& cam = p.si->camera;
    int32_t count = cam.badPixelCount;
    for (;;) {
        const pc next = p.lex.peek();
        if (next == pc::end) break;
        if (next != pc::lbracket) return fail(SYNTAX, "Syntax error.");
        int32_t x = 0, y = 0;
        TRY(expect(p, '['));
        TRY(get_int(p, &x, 0, 700));
        TRY(expect(p, ','));
        TRY(get_int(p, &y, 0, 484));
        TRY(expect(p, ']'));
        if (count == sb_max_bad_pixels) return fail(RANGE, "Too many camera bad pixels.");
        cam.badPixels[count++] = {x, y};
    }
    cam.badPixelCount = count;
    return 0;
}

int32_t camera_bpix(sb_parse& p) {
    int32_t flag = 0;
    TRY(get_int(p, &flag, 0, 1));
    owned_text name;
    switch (p.lex.peek()) {
    case pc::end:
        break;
    case pc::word:
        TRY(get_text(p, &name));
        break;
    default:
        return fail(SYNTAX, "Expected non-numeric string.");
    }
    p.si->camera.bpixFlag = flag;
    if (name.text) {
        name.move_to(&p.si->camera.bpixFile);
        p.given.bpixFile = true;
    }
    return 0;
}

int32_t camera_files(sb_parse& p) {
    char** files = p.si->camera.files;
    for (int i = 0; i < sb_max_camera_files; ++i) {
        u_free(files[i]);
        files[i] = nullptr;
    }
    TRY(set_text(p, &files[0]));
    for (int i = 1;; ++i) {
        const pc next = p.lex.peek();
        if (next == pc::end) return 0;
        if (next != pc::word) return fail(SYNTAX, "Expected non-numeric string.");
        p.lex.token(p.word);
        if (i == sb_max_camera_files) return fail(SYNTAX, "Too many camera file names.");
        if (i == 1 && p.word == "NULL") continue;
        TRY(sb_set_text(&files[i], p.word.c_str()));
    }
}

int32_t needs_magnifications(sb_parse& p, const char* message) {
    if (p.si->mag.count > 0) return 0;
    sb_read_message("%s", message);
    return -1;
}

int32_t camera(sb_parse& p) {
    sb_token sub = TK_NONE_TOKEN;
    TRY(get_keyword(p, &sub));
    sb_camera& cam = p.si->camera;
    int32_t v = 0;
    switch (sub) {
    case TK_TYPE: {
        int32_t type = 0;
        TRY(get_name(p, sb_names::camera, &type));
        if (type == CAM_CUSTOM) return custom_camera(p);
        cam.type = type;
        return 0;
    }
    case TK_CONFIG:
        return camera_config(p);
    case TK_DARK:
        TRY(get_int(p, &v, 0, 32767));
        cam.dark = v;
        return 0;
    case TK_ALIGN:
        TRY(get_name(p, sb_names::align, &v));
        cam.align = v;
        return 0;
    case TK_BAD:
    case TK_BPIXELS:
        return bad_pixels(p);
    case TK_BPIX:
        return camera_bpix(p);
    case TK_FILE:
        return camera_files(p);
    case TK_OPTIONS:
        TRY(get_int(p, &v, 0, 268435455));
        cam.options = static_cast<uint32_t>(v);
        return 0;
    case TK_PERIOD:
        return 0;
    case TK_PLL:
        TRY(get_int(p, &v, 0, 1));
        cam.pll = v;
        return 0;
    case TK_SPLITX:
    case TK_SPLITY: {
        int32_t location = 0, value = 0;
        TRY(get_int(p, &location, 1, 2047));
        TRY(get_int(p, &value, 0, 10));
        cam.splitDir = sub == TK_SPLITX ? 1 : 2;
        cam.splitLoc = location;
        cam.splitValue = value;
        p.given.split = true;
        return 0;
    }
    case TK_TRANS: {
        if (needs_magnifications(p,
                                 "A NomMag or SysMag specification must appear\nbefore a Camera Trans specification."))
            return 0;
        int32_t index = 0, x = 0, y = 0;
        TRY(get_int(p, &index, 0, sb_max_mags - 1));
        TRY(get_int(p, &x, -2047, 2047));
        TRY(get_int(p, &y, -2047, 2047));
        cam.trans[index][0] = x;
        cam.trans[index][1] = y;
        return 0;
    }
    default:
        return fail(SYNTAX, "Unexpected token.");
    }
}

// ---------------------------------------------------------------- light and LLC

int32_t light(sb_parse& p) {
    int32_t type = 0;
    TRY(get_name(p, sb_names::light, &type));
    sysInfo* si = p.si;
    double wave[sb_max_wavelengths] = {};
    double band[sb_max_wavelengths] = {};
    if (si->sysType == SYS_KAME250)
        wave[0] = 0.655 * um;
    else if (is_board(si, BOARD_CAIRN))
        wave[0] = 12.75 * um;
    else if (is_board(si, BOARD_FENN))
        wave[0] = 9 * um;
    else if (!is_board(si, BOARD_CAN))
        for (double& w : wave)
            w = 0.6328 * um;
    else {
        std::memcpy(wave, si->light.wavelength, sizeof wave);
        std::memcpy(band, si->light.bandwidth, sizeof band);
    }
    int items = 0;
    for (; items < sb_max_wavelengths; ++items) {
        const pc next = p.lex.peek();
        if (next == pc::end) break;
        double w = 0, b = 0;
        if (next == pc::number) {
            TRY(get_real(p, &w, 0.1, 15));
        } else if (next == pc::lbracket) {
            TRY(expect(p, '['));
            TRY(get_real(p, &w, 0.1, 15));
            TRY(expect(p, ','));
            TRY(get_real(p, &b, 0, 1));
            TRY(expect(p, ']'));
        } else {
            return fail(SYNTAX, "Syntax error.");
        }
        wave[items] = w * um;
        band[items] = b * um;
    }
    if (items == 0 && type != LIGHT_HENE) return fail(SYNTAX, "At least one wavelength value required.");
    si->light.type = type;
    std::memcpy(si->light.wavelength, wave, sizeof wave);
    std::memcpy(si->light.bandwidth, band, sizeof band);
    p.given.wavelengths += items;
    return 0;
}

// Two values, then an optional second pair when a number follows.
int32_t pairs(sb_parse& p, int32_t (&out)[4], int32_t high, int32_t high2, int* count) {
    int32_t v[4];
    std::memcpy(v, out, sizeof v);
    TRY(get_int(p, &v[0], 0, high));
    TRY(get_int(p, &v[1], 0, high));
    *count = 1;
    if (number_follows(p)) {
        TRY(get_int(p, &v[2], 0, high2));
        TRY(get_int(p, &v[3], 0, high2));
        *count = 2;
    }
    std::memcpy(out, v, sizeof v);
    return 0;
}

int32_t llc(sb_parse& p) {
    sb_token sub = TK_NONE_TOKEN;
    TRY(get_keyword(p, &sub));
    sb_llc& llc = p.si->llc;
    int32_t v = 0;
    int count = 0;
    switch (sub) {
    case TK_ALIGNMODEPCT: {
        double pct = 0;
        TRY(get_real(p, &pct, 0, 100));
        llc.alignModePct[0] = llc.alignModePct[1] = pct;
        return 0;
    }
    case TK_AVGCURLIMIT:
        return pairs(p, llc.avgCurLimit, 1000, 1000, &count);
    case TK_FWDVOLTAGE:
        return pairs(p, llc.fwdVoltage, 10000, 10000, &count);
    case TK_CONFIG: {
        int32_t first = 0, second = -1;
        TRY(get_int(p, &first, 0, 255));
        if (number_follows(p)) TRY(get_int(p, &second, 0, 255));
        llc.config[0] = static_cast<uint8_t>(first | 1);
        if (second >= 0) llc.config[1] = static_cast<uint8_t>(second | 1);
        return 0;
    }
    case TK_FREQ:
        TRY(get_int(p, &v, 0, 1000000));
        llc.freq[0] = llc.freq[1] = v;
        return 0;
    case TK_INSTR: {
        sb_token name = TK_NONE_TOKEN;
        TRY(get_keyword(p, &name));
        const int32_t instr = sb_name_number(sb_names::llc_instr, name);
        if (instr == LLC_CAIRN) {
            llc.instr = instr;
            u_free(llc.port);
            llc.port = nullptr;
            return 0;
        }
        if (instr != LLC_DD100MC && instr != LLC_DD100MC_B) return SYNTAX;
        TRY(set_text(p, &llc.port));
        llc.instr = instr;
        return 0;
    }
    case TK_OPTIONS:
        TRY(get_int(p, &v, 0, 268435455));
        llc.options = static_cast<uint32_t>(v);
        return 0;
    case TK_RANGE:
        TRY(pairs(p, llc.range, 65535, 4096, &count));
        p.given.llcRange = count;
        return 0;
    case TK_TARGET:
        TRY(get_int(p, &v, 64, 255));
        llc.target = v;
        p.given.llcTarget = true;
        return 0;
    default:
        return fail(SYNTAX, "Unexpected token.");
    }
}

// ---------------------------------------------------------------- scanner and magnification

int32_t scanner_serial(sb_parse& p, int32_t high, bool constants) {
    int32_t serial = 0;
    double k = sb_pifoc{}.k, beta = sb_pifoc{}.beta;
    TRY(get_int(p, &serial, 0, high));
    if (constants && number_follows(p)) {
        TRY(get_real(p, &k, 0.5, 2));
        TRY(get_real(p, &beta, 0, 0.1));
        if (beta != 0 && beta < 0.005) {
            sb_read_message("Beta = %g is non-zero and is not in range [%g,%g]", beta, 0.005, 0.1);
            return RANGE;
        }
    }
    TRY(sb_need_pifoc(p.si));
    p.si->scanner.pifoc->serial = serial;
    p.si->scanner.pifoc->k = k;
    p.si->scanner.pifoc->beta = beta;
    p.given.scanner = true;
    return 0;
}

int32_t magnifications(sb_parse& p, bool nominal) {
    sb_mags& mag = p.si->mag;
    double* values = nominal ? mag.nom : mag.sys;
    for (int i = 0; i < sb_max_mags; ++i)
        values[i] = 0;
    TRY(need_number(p));
    int n = 0;
    do {
        if (n == sb_max_mags) return fail(SYNTAX, "Too many NomMag or SysMag values.");
        TRY(get_real(p, &values[n], 0, 100));
        ++n;
    } while (number_follows(p));
    (nominal ? mag.nomCount : mag.sysCount) = n;
    mag.count = n;
    const int32_t other = nominal ? mag.sysCount : mag.nomCount;
    if (other > 0 && other != n)
        return fail(ERR_SB_CALFILE_INCONSISTENT,
                    "The number of NomMag values and\nthe number of SysMag values are mismatched.");
    return 0;
}

// ---------------------------------------------------------------- motion and accessories

int32_t pid_values(sb_parse& p, int axis) {
    int which = 3;  // 1 fast, 2 slow, 3 both
    if (p.lex.peek() == pc::word) {
        p.lex.token(p.word);
        const sb_token t = sb_lookup_keyword(p.word.c_str());
        if (t == TK_FAST)
            which = 1;
        else if (t == TK_SLOW)
            which = 2;
        else
            return fail(SYNTAX, "Unrecognized string.");
    }
    static constexpr int32_t low[6] = {-8388608, -8388608, 0, 0, 0, 0};
    static constexpr int32_t high[6] = {8388607, 8388607, 8388607, 8388607, 1, 8388607};
    sb_pid_set set{};
    for (int i = 0; i < 6; ++i)
        TRY(get_int(p, &set.i[i], low[i], high[i]));
    for (double& r : set.r)
        TRY(get_real(p, &r, -2, 2));
    TRY(sb_need_pid(p.si, axis));
    if (which & 1) p.si->motion.pid[axis]->fast = set;
    if (which & 2) p.si->motion.pid[axis]->slow = set;
    return 0;
}

int32_t sdc_cal(sb_parse& p) {
    int32_t index = 0;
    TRY(get_int(p, &index, 0, sb_max_mags - 1));
    sb_sdc_cal entry;
    for (int k = 0; k < 8; ++k) {
        const pc next = p.lex.peek();
        if (next == pc::end) break;
        if (next != pc::number) return SYNTAX;
        TRY(get_real(p, &entry.s[k], k < 6 ? -sb_unset : 0, sb_unset));
    }
    p.si->sdcCal[index] = entry;
    return 0;
}

int32_t radius_scale(sb_parse& p, sb_radius_scale* out) {
    sb_radius_scale s;
    TRY(get_int(p, &s.flag, 0, 1));
    TRY(get_real(p, &s.a, 0, 1));
    TRY(get_real(p, &s.b, 0, 1));
    TRY(get_int(p, &s.n, 0, 20));
    if (number_follows(p)) TRY(get_real(p, &s.c, 0, 1));
    s.given = 1;
    *out = s;
    return 0;
}

// A period of up to `parts` numbers separated by ":", largest unit first, each part
// 0..100; the running total in seconds must stay within 0..limit.
int32_t period(sb_parse& p, int parts, double limit, double* seconds, int* given) {
    static constexpr double units4[4] = {86400, 3600, 60, 1};
    const double* units = parts == 4 ? units4 : units4 + 1;
    double total = 0;
    int n = 0;
    for (;;) {
        double v = 0;
        TRY(get_real(p, &v, 0, 100));
        total += v * units[n++];
        if (total < 0 || total > limit) return fail(RANGE, "Value out-of-range.");
        if (n == parts) break;
        const pc next = p.lex.peek();
        if (next == pc::end) break;
        if (next != pc::colon) return fail(SYNTAX, "Syntax error.");
        TRY(expect(p, ':'));
    }
    *seconds = total;
    *given = n;
    return 0;
}

int32_t motion_ctrl(sb_parse& p) {
    owned_text name, params;
    TRY(get_text(p, &name));
    TRY(get_text(p, &params));
    name.move_to(&p.si->motion.motionCtrl[0]);
    params.move_to(&p.si->motion.motionCtrl[1]);
    return 0;
}

int32_t position_instrument(sb_parse& p) {
    int32_t instr = 0;
    TRY(get_name(p, sb_names::pos_instr, &instr));
    owned_text port, second;
    TRY(get_text(p, &port));
    if (p.lex.peek() != pc::end) TRY(get_text(p, &second));
    sb_motion& m = p.si->motion;
    m.posInstr = instr;
    port.move_to(&m.posPort);
    second.move_to(&m.posText);
    return 0;
}

int32_t temperature_sensor(sb_parse& p) {
    sb_token name = TK_NONE_TOKEN;
    TRY(get_keyword(p, &name));
    if (name != TK_EURO2216E) return SYNTAX;
    TRY(set_text(p, &p.si->motion.tempPort));
    p.si->motion.tempSensor = TEMP_EURO2216E;
    return 0;
}

// ---------------------------------------------------------------- wave monitor and generators

int32_t two_reals_scaled(sb_parse& p, double (&out)[2]) {
    double a = 0, b = 0;
    TRY(get_real(p, &a, 0, 2147483647.0));
    TRY(need_number(p));
    TRY(get_real(p, &b, 0, 2147483647.0));
    out[0] = a * 1e9;
    out[1] = b * 1e9;
    return 0;
}

int32_t max_buckets(sb_parse& p) {
    int32_t buckets = 0, megabytes = 0;
    TRY(get_int(p, &buckets, 0, 2147483647));
    TRY(need_number(p));
    TRY(get_int(p, &megabytes, 0, 2147483647));
    p.si->wm.maxBuckets = buckets;
    p.si->wm.memLimit = static_cast<int64_t>(megabytes) * 1048576;
    return 0;
}

int32_t abs_wave_meter(sb_parse& p) {
    int32_t flag = 0;
    TRY(get_int(p, &flag, 0, 1));
    TRY(set_text(p, &p.si->wm.absWaveMeterPort));
    p.si->wm.absWaveMeter = flag;
    return 0;
}

// A word read as a decimal integer the way the C library's atoi reads it: the
// leading digits count, a word without them is 0 (stored files rely on that).
int32_t word_integer(sb_parse& p, int32_t* out) {
    TRY(p.lex.text(p.word));
    const char* s = p.word.c_str();
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    int64_t v = 0;
    for (; *s >= '0' && *s <= '9'; ++s)
        if (v <= INT32_MAX) v = v * 10 + (*s - '0');
    if (v > INT32_MAX) v = INT32_MAX;
    *out = static_cast<int32_t>(negative ? -v : v);
    return 0;
}

int32_t dyn_wave_gen_values(sb_parse& p, int32_t (&v)[3]) {
    TRY(word_integer(p, &v[0]));
    TRY(get_int(p, &v[1], 0, 30));
    TRY(word_integer(p, &v[2]));
    if (v[2] != 0 && (v[2] < 96 || v[2] > 126)) {
        sb_read_message("%d out of range [%d,%d] and 0", v[2], 96, 126);
        return RANGE;
    }
    return 0;
}

int32_t dyn_wave_gen(sb_parse& p) {
    sysInfo* si = p.si;
    if (!si->dynWaveGen) si->dynWaveGen = sb_new_record<sb_dyn_wave_gen>();
    if (!si->dynWaveGen) return ERR_NO_MEM;
    int32_t v[3] = {};
    const int32_t status = dyn_wave_gen_values(p, v);
    if (status) {
        u_free(si->dynWaveGen);
        si->dynWaveGen = nullptr;
        return status;
    }
    std::memcpy(si->dynWaveGen->value, v, sizeof v);
    return 0;
}

// ---------------------------------------------------------------- encoded zoom

int32_t enc_zoom(sb_parse& p, sb_token keyword) {
    // Values first; the record is created (and changed) only for a good statement.
    int32_t a = 0, b = 0;
    double mags[sb_max_mags] = {};
    int n = 0;
    owned_text name;
    switch (keyword) {
    case TK_TARNENCZOOMCONFIG:
        TRY(get_int(p, &a, 0, 255));
        break;
    case TK_TARNENCZOOMBACKLASH:
        TRY(get_int(p, &a, -1000, 1000));
        break;
    case TK_TARNENCZOOMPROGLIM:
    case TK_TARNENCZOOMWANDLIM:
        TRY(get_int(p, &a, 0, 60000));
        TRY(get_int(p, &b, 0, 60000));
        break;
    case TK_TARNENCZOOMSTDMAGS:
        while (number_follows(p)) {
            if (n == sb_max_mags) return fail(SYNTAX, "Too many TarnEncZoomStdMag values.");
            TRY(get_real(p, &mags[n], 0, 100));
            ++n;
        }
        break;
    default:
        TRY(get_text(p, &name));
        break;
    }
    TRY(sb_need_enc_zoom(p.si));
    sb_enc_zoom& z = *p.si->encZoom;
    switch (keyword) {
    case TK_TARNENCZOOMCONFIG:
        z.config = a;
        break;
    case TK_TARNENCZOOMBACKLASH:
        z.backlash = a;
        break;
    case TK_TARNENCZOOMPROGLIM:
    case TK_TARNENCZOOMWANDLIM: {
        int32_t* lim = keyword == TK_TARNENCZOOMPROGLIM ? z.progLim : z.wandLim;
        lim[0] = a;
        lim[1] = b;
        break;
    }
    case TK_TARNENCZOOMSTDMAGS:
        std::memcpy(z.stdMags, mags, sizeof mags);
        z.stdMagCount = n;
        break;
    default:
        name.move_to(&z.calFile);
        break;
    }
    return 0;
}

// ---------------------------------------------------------------- Fenn

// The values of one Fenn statement, read before the Fenn record is touched.
struct fenn_values {
    double v[4] = {};
    int32_t index = 0;
    double row[sb_max_fenn_values];
    int32_t seconds = 0;
    int32_t settings[2] = {};
    owned_text text;
};

int32_t fenn_table(sb_parse& p, bool dispersion, fenn_values& f) {
    TRY(get_int(p, &f.index, 0, sb_max_mags - 1));
    TRY(need_number(p));
    const double limit = dispersion ? 6.283185307179586 : 100;
    for (double& v : f.row)
        v = sb_unset;
    int n = 0;
    do {
        if (n == sb_max_fenn_values) return fail(SYNTAX, "Too many FennDisper or FennAvg_K0 values.");
        TRY(get_real(p, &f.row[n], dispersion ? -limit : 0, limit));
        ++n;
    } while (number_follows(p));
    if (n < 2) return fail(SYNTAX, "Not enough FennDisper or FennAvg_K0 values.");
    return 0;
}

int32_t fenn(sb_parse& p, sb_token keyword) {
    // The tables indexed by magnification need an earlier NomMag or SysMag; refused
    // before anything is read or created.
    const char* needs = nullptr;
    if (keyword == TK_FENNDISPER || keyword == TK_FENNAVG_K0)
        needs = "A NomMag or SysMag specification must appear\nbefore an FennDisper or FennAvg_K0 specification.";
    else if (keyword == TK_FENNDMICENTER)
        needs = "A NomMag or SysMag specification must appear\nbefore an FennDmiCenter specification.";
    else if (keyword == TK_FENNTILTCENTER)
        needs = "A NomMag or SysMag specification must appear\nbefore an FennTiltCenter specification.";
    if (needs && needs_magnifications(p, needs)) return 0;

    fenn_values f;
    double v = 0;
    int parts = 0;
    const sb_fenn* old = p.si->fenn;
    switch (keyword) {
    case TK_FENNMATERIALS:
        TRY(get_text(p, &f.text));
        break;
    case TK_FENNSYS:
        TRY(get_real(p, &f.v[0], 0, 1));
        TRY(get_real(p, &f.v[1], 0, 1));
        TRY(get_real(p, &f.v[2], -1, 1));
        TRY(get_real(p, &f.v[3], 0, 10));
        break;
    case TK_FENNDMISCALE:
        TRY(get_real(p, &f.v[0], 1.5, 2.5));
        break;
    case TK_FENNIMAGEROT:
        TRY(get_real(p, &f.v[0], 0, 1));
        break;
    case TK_FENNZEROPTPOS:
        f.v[1] = HUGE_VAL;
        TRY(get_real(p, &f.v[0], -10, 10));
        if (number_follows(p)) TRY(get_real(p, &f.v[1], -10, 10));
        break;
    case TK_FENNDISPER:
    case TK_FENNAVG_K0:
        TRY(fenn_table(p, keyword == TK_FENNDISPER, f));
        break;
    case TK_FENNDMICENTER:
    case TK_FENNTILTCENTER:
        TRY(get_int(p, &f.index, 0, sb_max_mags - 1));
        TRY(get_real(p, &f.v[0], -100, 100));
        TRY(get_real(p, &f.v[1], -100, 100));
        break;
    case TK_FENNZEROGAGEPER:
        TRY(period(p, 4, 8640000, &v, &parts));
        f.seconds = static_cast<int32_t>(v);
        break;
    case TK_FENNTEMPERATURE:
        f.v[0] = old ? old->temperatureTol : sb_fenn{}.temperatureTol;
        TRY(period(p, 4, 8640000, &v, &parts));
        f.seconds = static_cast<int32_t>(v);
        if (parts == 4 && number_follows(p)) TRY(get_real(p, &f.v[0], 0, 5));
        break;
    default:  // FennLog
        f.settings[0] = old ? old->logSettings[0] : sb_fenn{}.logSettings[0];
        f.settings[1] = old ? old->logSettings[1] : sb_fenn{}.logSettings[1];
        TRY(get_text(p, &f.text));
        for (int32_t& s : f.settings) {
            if (!number_follows(p)) break;
            TRY(get_real(p, &v, 0, 2147483647.0));
            s = static_cast<int32_t>(v);
        }
        break;
    }

    TRY(sb_need_fenn(p.si));
    sb_fenn& r = *p.si->fenn;
    switch (keyword) {
    case TK_FENNMATERIALS:
        f.text.move_to(&r.materials);
        break;
    case TK_FENNSYS:
        std::memcpy(r.sys, f.v, sizeof r.sys);
        break;
    case TK_FENNDMISCALE:
        r.dmiScale = f.v[0];
        break;
    case TK_FENNIMAGEROT:
        r.imageRot = f.v[0];
        break;
    case TK_FENNZEROPTPOS:
        r.zeroPtPos[0] = f.v[0];
        r.zeroPtPos[1] = f.v[1];
        break;
    case TK_FENNDISPER:
    case TK_FENNAVG_K0:
        std::memcpy(keyword == TK_FENNDISPER ? r.disper[f.index] : r.avgK0[f.index], f.row, sizeof f.row);
        break;
    case TK_FENNDMICENTER:
    case TK_FENNTILTCENTER: {
        double* c = keyword == TK_FENNDMICENTER ? r.dmiCenter[f.index] : r.tiltCenter[f.index];
        c[0] = f.v[0];
        c[1] = f.v[1];
        break;
    }
    case TK_FENNZEROGAGEPER:
        r.zeroGagePer = f.seconds;
        break;
    case TK_FENNTEMPERATURE:
        r.temperaturePer = f.seconds;
        r.temperatureTol = f.v[0];
        break;
    default:
        f.text.move_to(&r.logFile);
        r.logSettings[0] = f.settings[0];
        r.logSettings[1] = f.settings[1];
        break;
    }
    return 0;
}

// ---------------------------------------------------------------- single values

int32_t set_int(sb_parse& p, int32_t* field, int32_t low, int32_t high) {
    int32_t v = 0;
    TRY(get_int(p, &v, low, high));
    *field = v;
    return 0;
}

int32_t set_real(sb_parse& p, double* field, double low, double high, ends e = ends::closed) {
    double v = 0;
    TRY(get_real(p, &v, low, high, e));
    *field = v;
    return 0;
}

int32_t set_float(sb_parse& p, float* field, double low, double high) {
    double v = 0;
    TRY(get_real(p, &v, low, high));
    *field = static_cast<float>(v);
    return 0;
}

char* remote_name = nullptr;

int axis_of(sb_token keyword, sb_token first) { return static_cast<int>(keyword) - static_cast<int>(first); }

}  // namespace

const char* sb_remote_name() { return remote_name; }

int32_t sb_statement(sb_parse& p, sb_token keyword) {
    sysInfo* si = p.si;
    const int32_t type = sb_name_number(sb_names::sys_type, keyword);
    if (type >= 0) return system_type(p, type);

    switch (keyword) {
    case TK_INSTRNAME:
        return set_text(p, &si->instrName);
    case TK_UNIT:
        return set_int(p, &si->unit, 0, 7);
    case TK_VERSION:
        return version(p);
    case TK_INSTRCOMM:
        TRY(set_text(p, &si->instrComm));
        p.given.instrComm = true;
        return 0;
    case TK_MACADDRESS:
        return mac_address(p);
    case TK_INVERTDATA:
        TRY(set_int(p, &si->invertData, 0, 255));
        p.given.invertData = true;
        return 0;
    case TK_REMOTE:
        return set_text(p, &remote_name);
    case TK_RAMP:
        return ramp(p);
    case TK_CAMERA:
        return camera(p);
    case TK_LIGHT:
        return light(p);
    case TK_LLC:
        return llc(p);
    case TK_ADC: {
        sb_token sub = TK_NONE_TOKEN;
        TRY(get_keyword(p, &sub));
        if (sub != TK_CLOCK) return fail(SYNTAX, "Unexpected token.");
        return set_int(p, &si->scanner.adcClock, 0, 511);
    }
    case TK_PIFOC:
        return scanner_serial(p, 999999, true);
    case TK_PZTID:
        return scanner_serial(p, 99999, false);
    case TK_PIFOCTYPE: {
        int32_t v = 0;
        TRY(get_int(p, &v, 0, 2));
        TRY(sb_need_pifoc(si));
        si->scanner.pifoc->type = v;
        return 0;
    }
    case TK_PIFOCPOLARITY:
        return set_int(p, &si->scanner.pifocPolarity, -1, 1);
    case TK_PZTPWR:
        return set_int(p, &si->scanner.pztpwr, -1, 1000);
    case TK_SCANCAL: {
        double a = 0, b = si->scanner.scanCal[1];
        TRY(get_real(p, &a, 0.85, 1.15));
        if (number_follows(p)) TRY(get_real(p, &b, 0.85, 1.15));
        si->scanner.scanCal[0] = a;
        si->scanner.scanCal[1] = b;
        return 0;
    }
    case TK_NOMMAG:
        return magnifications(p, true);
    case TK_SYSMAG:
        return magnifications(p, false);
    case TK_TURRET: {
        int32_t a = 0, b = si->motion.turret[1];
        TRY(get_int(p, &a, 0, 255));
        if (number_follows(p)) TRY(get_int(p, &b, 0, 255));
        si->motion.turret[0] = a;
        si->motion.turret[1] = b;
        return 0;
    }
    case TK_ZOOM:
        return set_int(p, &si->motion.zoom, 0, 255);
    case TK_MOTIONCTRL:
        return motion_ctrl(p);
    case TK_POSINSTR:
        return position_instrument(p);
    case TK_TEMPSENSOR:
        return temperature_sensor(p);
    case TK_PENDENTMENU:
        return set_text(p, &si->motion.pendentMenu);
    case TK_AXISCOMP_A:
    case TK_AXISCOMP_B:
    case TK_AXISCOMP_P:
    case TK_AXISCOMP_R:
    case TK_AXISCOMP_T:
    case TK_AXISCOMP_X:
    case TK_AXISCOMP_Y:
    case TK_AXISCOMP_Z:
        return set_text(p, &si->motion.axisComp[axis_of(keyword, TK_AXISCOMP_A)]);
    case TK_PIDVALS_A:
    case TK_PIDVALS_B:
    case TK_PIDVALS_P:
    case TK_PIDVALS_R:
    case TK_PIDVALS_T:
    case TK_PIDVALS_X:
    case TK_PIDVALS_Y:
    case TK_PIDVALS_Z:
        return pid_values(p, axis_of(keyword, TK_PIDVALS_A));
    case TK_XAXISBACKLASH:
        return set_float(p, &si->motion.xAxisBacklash, 0, 1000);
    case TK_YAXISBACKLASH:
        return set_float(p, &si->motion.yAxisBacklash, 0, 1000);
    case TK_ZAXISBACKLASH:
        return set_real(p, &si->motion.zAxisBacklash, 0, 100);
    case TK_ZAXISCAL:
        return set_real(p, &si->motion.zAxisCal, 0.85, 1.15);
    case TK_ZENCODER:
        return set_int(p, &si->motion.zEncoder, 0, 1);
    case TK_ZCANCLOSEDLOOP:
        return set_int(p, &si->motion.zCanClosedLoop, 0, 1);
    case TK_DIFFDISKRATE:
        return set_real(p, &si->motion.diffdiskrate, 10, 80);
    case TK_DIFFDISKFRACTION:
        return set_real(p, &si->motion.diffdiskfraction, 0, 2, ends::open_low);
    case TK_RINGSPOT:
        if (is_board(si, BOARD_TARN) ||
            (is_board(si, BOARD_CAN) &&
             (si->sysType == SYS_TARNCAN || si->sysType == SYS_SKERRY_CAN || si->sysType == SYS_BRAE_CAN)))
            si->ringSpot = 1;
        return 0;
    case TK_IGNOREDUALBRUSHMOTOR:
        si->present.dualBrushMotor = 0;
        return 0;
    case TK_IGNOREFOCUSNDW:
        si->present.focusNDW = 0;
        return 0;
    case TK_IGNORELAPS:
        si->present.laps = 0;
        return 0;
    case TK_IGNOREPZT:
        si->present.pzt = 0;
        return 0;
    case TK_IGNOREWAND:
        si->present.wand = 0;
        return 0;
    case TK_IGNOREZOOM:
        si->present.zoom = 0;
        return 0;
    case TK_NOINTENSAVG:
        si->noIntensAvg = 1;
        return 0;
    case TK_TOUCHSCREEN:
        si->touchScreen = 1;
        return 0;
    case TK_SDCCAL:
        return sdc_cal(p);
    case TK_RADCRVFOCCAL:
        return set_real(p, &si->radCrvFocCal, -100, 100);
    case TK_RADCRVPWRCAL:
        return set_real(p, &si->radCrvPwrCal, -100, 100);
    case TK_ENCODEDRADIUSSCALE:
        return radius_scale(p, &si->encodedRadiusScale);
    case TK_INTFRADIUSSCALE:
        return radius_scale(p, &si->intfRadiusScale);
    case TK_SLEEPTIMEOUT: {
        double seconds = 0;
        int parts = 0;
        TRY(period(p, 3, 20864, &seconds, &parts));
        si->sleepTimeout = static_cast<uint16_t>(seconds);
        return 0;
    }
    case TK_WMCOMM:
        TRY(set_text(p, &si->wm.comm));
        p.given.wmComm = true;
        return 0;
    case TK_WMSYSGAIN:
        TRY(set_float(p, &si->wm.sysGain, 0, 2147483647.0));
        p.given.wmSysGain = true;
        return 0;
    case TK_WMMONOPD:
        TRY(set_real(p, &si->wm.monOPD, 0, 2147483647.0));
        p.given.wmMonOPD = true;
        return 0;
    case TK_WMTUNERANGE:
        return two_reals_scaled(p, si->wm.tuneRange);
    case TK_WMTUNERATE:
        return two_reals_scaled(p, si->wm.tuneRate);
    case TK_WMMAXBUCKETS:
        return max_buckets(p);
    case TK_ABSWAVEMETER:
        return abs_wave_meter(p);
    case TK_DYNWAVEGEN:
        return dyn_wave_gen(p);
    case TK_FENNSIINVERTDATA:
        return set_int(p, &si->wm.fennsiInvertData, 0, 255);
    case TK_TARNENCZOOMCONFIG:
    case TK_TARNENCZOOMBACKLASH:
    case TK_TARNENCZOOMPROGLIM:
    case TK_TARNENCZOOMWANDLIM:
    case TK_TARNENCZOOMSTDMAGS:
    case TK_TARNENCZOOMCALFILE:
        return enc_zoom(p, keyword);
    case TK_FENNMATERIALS:
    case TK_FENNSYS:
    case TK_FENNDMISCALE:
    case TK_FENNIMAGEROT:
    case TK_FENNZEROPTPOS:
    case TK_FENNDISPER:
    case TK_FENNAVG_K0:
    case TK_FENNDMICENTER:
    case TK_FENNTILTCENTER:
    case TK_FENNZEROGAGEPER:
    case TK_FENNTEMPERATURE:
    case TK_FENNLOG:
        return fenn(p, keyword);
    default:
        return fail(SYNTAX, "Unexpected token.");
    }
}

}  // namespace mf
