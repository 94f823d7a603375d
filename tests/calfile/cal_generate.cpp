#include "tests/calfile/cal_generate.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <sstream>
#include <vector>

#include "calfile/lexer.h"
#include "calfile/messages.h"
#include "calfile/names.h"
#include "calfile/parse.h"
#include "calfile/writer.h"
#include "common/msg.h"
#include "common/text.h"

namespace mf::test {

namespace {

// ------------------------------------------------------------------ generation

class gen {
public:
    gen(std::mt19937_64& rng, int32_t type) : rng_(rng), type_(type) {}
    cal_generated run();

private:
    using family = cal_family;

    int64_t uniform(int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(rng_); }
    bool chance(int percent) { return uniform(1, 100) <= percent; }
    template <typename T>
    const T& pick(const std::vector<T>& v) {
        return v[static_cast<std::size_t>(uniform(0, static_cast<int64_t>(v.size()) - 1))];
    }

    // A keyword in random case.
    std::string key(std::string word) {
        for (char& c : word)
            if (chance(30))
                c = static_cast<char>(std::islower(static_cast<unsigned char>(c)) ? std::toupper(c) : std::tolower(c));
        return word;
    }

    std::string integer(int64_t low, int64_t high) {
        int64_t v;
        switch (uniform(0, 5)) {
        case 0:
            v = low;
            break;
        case 1:
            v = high;
            break;
        case 2:
            v = low <= 0 && high >= 0 ? 0 : low;
            break;
        default:
            v = uniform(low, high);
            break;
        }
        return std::to_string(v);
    }

    std::string real(double low, double high) {
        double v;
        switch (uniform(0, 7)) {
        case 0:
            v = low;
            break;
        case 1:
            v = high;
            break;
        case 2:
            v = low <= 0 && high >= 0 ? 0 : low;
            break;
        case 3:  // a short decimal
            v = std::round(std::uniform_real_distribution<double>(low, high)(rng_) * 1000) / 1000;
            v = std::clamp(v, low, high);
            break;
        default:
            v = std::uniform_real_distribution<double>(low, high)(rng_);
            break;
        }
        char buffer[64];
        switch (uniform(0, 3)) {
        case 0:
            std::snprintf(buffer, sizeof buffer, "%.17g", v);
            break;
        case 1:
            std::snprintf(buffer, sizeof buffer, "%.17e", v);  // exponent form
            break;
        default: {
            // Fewer digits, still in range.
            const int digits = static_cast<int>(uniform(1, 12));
            std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
            double back = std::strtod(buffer, nullptr);
            if (back < low || back > high) std::snprintf(buffer, sizeof buffer, "%.17g", v);
            break;
        }
        }
        return buffer;
    }

    // A text the required-text rule reads: a word, a quoted string (blanks, long,
    // empty) or a single-character token.
    // Words longer than 81 characters go on as the next token; that is a value of
    // its own only in statements with optional words after the text.
    std::string text(bool long_words = true) {
        static const std::string word_chars =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-\\/:,#\"()=+*!$%&'";
        static const std::string quoted_chars =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _.-\\/:,";
        switch (uniform(0, 9)) {
        case 0:
            return "\"\"";
        case 1:
            return std::string(1, ",:[]"[uniform(0, 3)]);
        case 2:
        case 3: {  // quoted, possibly long, with blanks, tabs and bytes above 127
            std::string s = "\"";
            const int64_t n = chance(30) ? uniform(82, 700) : uniform(1, 40);
            for (int64_t i = 0; i < n; ++i) {
                const int64_t r = uniform(0, 40);
                s += r == 0 ? '\t' : r == 1 ? static_cast<char>(uniform(0xA0, 0xFF)) : pick_char(quoted_chars);
            }
            return s + "\"";
        }
        default:
            return word(long_words && chance(10) ? uniform(82, 120) : uniform(1, 20));
        }
    }
    // A word starting with a letter (the rule for optional names).
    std::string word(int64_t n) {
        static const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
        static const std::string rest =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-\\/:,#\"()=+*!$%&'";
        // Past 81 characters the word goes on as a token of its own; there it must
        // not start a comment or a quote.
        std::string s(1, pick_char(letters));
        for (int64_t i = 1; i < n; ++i)
            s += pick_char(n > 81 ? letters : rest);
        return s;
    }
    char pick_char(const std::string& set) { return set[static_cast<std::size_t>(uniform(0, set.size() - 1))]; }

    std::string period(int parts, int64_t limit) {
        static constexpr int64_t units[4] = {86400, 3600, 60, 1};
        const int64_t* u = parts == 4 ? units : units + 1;
        int64_t total = chance(20) ? (chance(50) ? 0 : limit) : uniform(0, limit);
        std::string out;
        for (int i = 0; i < parts; ++i) {
            const int64_t v = std::min<int64_t>(total / u[i], 100);
            total -= v * u[i];
            out += (i ? ":" : "") + std::to_string(v);
        }
        return out;
    }

    void line(family f, std::string s) {
        out_.families[static_cast<int>(f)] = true;
        (f == family::camera ? camera_ : statements_).push_back(std::move(s));
    }
    bool board(std::initializer_list<int32_t> set) const {
        return std::find(set.begin(), set.end(), board_) != set.end();
    }
    bool type(std::initializer_list<int32_t> set) const {
        return std::find(set.begin(), set.end(), type_) != set.end();
    }

    void identity_and_board();
    void camera();
    void light();
    void llc();
    void scanner();
    void magnifications();
    void motion();
    void wave();
    void enc_zoom();
    void fenn();

    std::mt19937_64& rng_;
    int32_t type_;
    int32_t board_ = 0;
    int32_t grabber_ = 0;
    std::vector<std::string> statements_;  // placed in random order after the fixed head
    std::vector<std::string> camera_;      // camera lines, in their order
    std::vector<std::string> head_mags_;   // the magnification lists
    std::vector<std::string> tail_;        // after the magnifications
    std::string head_;
    bool mags_ = false;
    cal_generated out_;
};

void gen::identity_and_board() {
    static const std::vector<std::pair<int32_t, const char*>> aliases = {{14, "wold"}, {19, "fennsi"}, {21, "stob"}};
    std::string name = sb_sys_type_names[type_];
    for (const auto& [t, alias] : aliases)
        if (t == type_ && chance(50)) name = alias;
    head_ += key(name) + " " + integer(0, 99) + " " + integer(1, 52) + " " + integer(100, 999999) +
             (chance(30) ? " R" : "") + "\n";

    static const std::vector<std::pair<int32_t, const char*>> boards = {{0, "None"},  {1, "SableQv"}, {3, "Tarn"},
                                                                        {5, "Cairn"}, {5, "wold"},    {6, "Brae"},
                                                                        {7, "Fenn"},  {8, "CAN"},     {9, "NOTNEEDED"}};
    const auto& b = pick(boards);
    board_ = b.first;
    grabber_ = static_cast<int32_t>(uniform(0, 12));
    head_ += key("Version") + " " + key(sb_frame_grabber_names[grabber_]) + " " + integer(0, 99999) + " " +
             key(b.second) + "\n";
    out_.families[static_cast<int>(family::identity)] = true;

    auto mac = [&] {
        std::string s = key("MacAddress");
        for (int i = 0; i < 6; ++i) {
            char byte[8];
            std::snprintf(byte, sizeof byte, chance(50) ? "%x" : "%02X", static_cast<unsigned>(uniform(0, 255)));
            s += std::string(" ") + (chance(20) ? "0x" : "") + byte;
        }
        return s;
    };
    const bool needs_comm = !board({0, 5, 9, 8});
    if (board_ == 8 || chance(20)) head_ += mac() + "\n";
    if (needs_comm || chance(30)) head_ += key("InstrComm") + " " + text() + "\n";
    if (type({14, 16, 17}) || chance(30)) head_ += key("InvertData") + " " + integer(0, 255) + "\n";
    if (chance(30)) line(family::identity, key("InstrName") + " " + text());
    if (chance(30)) line(family::identity, key("Unit") + " " + integer(0, 7));
    if (chance(20)) line(family::identity, key("Ramp") + " " + key("Config") + " " + text());
}

void gen::camera() {
    // The writer needs a known camera type on a board, the reader one with a frame grabber.
    static const std::vector<const char*> names = {
        "XC77",       "XC77CE",     "P62505",     "CID2220", "VIDICON", "EEV1715A", "TM6705",    "XC7500",
        "XC7500S",    "SMD4M15",    "CID2250",    "TM6710",  "SIM200",  "BASLER",   "SU320",     "DGFLY640",
        "DGFLY1024",  "IMPERXVGA",  "ADIMEC1000", "A311F",   "A312F",   "TM6740",   "DGFLY6200", "SCA640",
        "ADIMEC4050", "ADIMEC4150", "PIA640",     "E2V7899", "PIA1000", "SCA640G",  "A504K"};
    const bool custom_board = board({1, 7, 3, 6, 8, 9});
    const bool config_board = board({1, 7, 3, 6});
    auto type_line = [&] {
        if (custom_board && chance(30)) {
            std::string s = key("Camera") + " " + key("Type") + " " + key("CUSTOM");
            if (chance(60)) s += " " + integer(0, 1);
            return s;
        }
        return key("Camera") + " " + key("Type") + " " + key(pick(names));
    };
    if (board_ != 0 || grabber_ != 0 || chance(50)) {
        // Several type lines: settings of an earlier CUSTOM stay with a later type.
        const int n = static_cast<int>(uniform(1, 3));
        for (int i = 0; i < n; ++i)
            line(family::camera, type_line());
    } else if (chance(20)) {
        line(family::camera, key("Camera") + " " + key("Type") + " " + key("Unknown"));
    }
    if (config_board && chance(40)) {
        if (board({3, 6}))
            line(family::camera, key("Camera") + " " + key("Config") + " " + integer(0, 1) + " " + integer(0, 15));
        else
            line(family::camera, key("Camera") + " " + key("Config") + " " + integer(0, 1) + " " + integer(0, 1) + " " +
                                     integer(0, 3) + " " + integer(0, 1) + " " + integer(0, 1) + " " + integer(0, 1) +
                                     " " + integer(0, 1) + " " + integer(0, 1));
    }
    if (chance(30)) line(family::camera, key("Camera") + " " + key("Dark") + " " + integer(0, 32767));
    if (chance(30))
        line(family::camera,
             key("Camera") + " " + key("Align") + " " + key(pick<const char*>({"Default", "Center", "TopLeft"})));
    const bool bpix_file = chance(20);
    if (bpix_file || chance(20)) {
        std::string s = key("Camera") + " " + key("Bpix") + " " + integer(0, 1);
        if (bpix_file) s += " " + word(uniform(1, 81));
        line(family::camera, s);
    }
    if (!bpix_file && chance(30)) {
        int64_t total = uniform(1, 40);
        while (total > 0) {
            const int64_t n = std::min<int64_t>(total, uniform(1, 14));
            total -= n;
            std::string s = key("Camera") + " " + key(chance(50) ? "Bad" : "BPixels");
            for (int64_t i = 0; i < n; ++i)
                s += " [" + integer(0, 700) + (chance(50) ? " , " : ",") + integer(0, 484) + "]";
            line(family::camera, s);
        }
    }
    if (chance(30)) {
        std::string s = key("Camera") + " " + key("File") + " " + text(false);
        const int64_t n = uniform(0, 5);
        for (int64_t i = 0; i < n; ++i)
            s += " " + (i == 0 && chance(30) ? std::string("NULL") : word(uniform(1, 30)));
        line(family::camera, s);
    }
    if (chance(30)) line(family::camera, key("Camera") + " " + key("Options") + " " + integer(0, 268435455));
    if (chance(20)) line(family::camera, key("Camera") + " " + key("PLL") + " " + integer(0, 1));
    if (chance(10)) line(family::camera, key("Camera") + " " + key("Period"));
    if (chance(30))
        line(family::camera, key("Camera") + " " + key(chance(50) ? "SplitX" : "SplitY") + " " + integer(1, 2047) +
                                 " " + integer(0, 10));
}

void gen::light() {
    // Where a Light line presets four wavelengths, the default single wavelength has
    // no statement of its own (a documented difference): such files give Light.
    const bool presets_four = !board({8, 5, 7}) && type_ != 21;
    const bool required = board({1, 5}) || presets_four;
    if (!required && !chance(60)) return;
    // Unknown only where the writer takes it (no board).
    static const std::vector<const char*> names = {"HeNe", "Diode", "White", "Special", "LED"};
    const std::string name = board_ == 0 && chance(10) ? "Unknown" : pick(names);
    std::string s = key("Light") + " " + key(name);
    const int64_t items = uniform(name == "HeNe" && !required ? 0 : 1, 4);
    for (int64_t i = 0; i < items; ++i) {
        if (chance(40))
            s += " [" + real(0.1, 15) + "," + real(0, 1) + "]";
        else
            s += " " + real(0.1, 15);
    }
    line(family::light, s);
}

void gen::llc() {
    auto llc = [&](const std::string& rest) { line(family::llc, key("LLC") + " " + rest); };
    if (chance(20)) llc(key("AlignModePct") + " " + real(0, 100));
    for (const char* name : {"AvgCurLimit", "FwdVoltage"}) {
        if (!chance(20)) continue;
        const int64_t high = std::string(name) == "AvgCurLimit" ? 1000 : 10000;
        std::string s = key(name) + " " + integer(0, high) + " " + integer(0, high);
        if (chance(50)) s += " " + integer(0, high) + " " + integer(0, high);
        llc(s);
    }
    if (chance(20)) llc(key("Config") + " " + integer(0, 255) + (chance(50) ? " " + integer(0, 255) : ""));
    if (chance(20)) llc(key("Freq") + " " + integer(0, 1000000));
    if (chance(20)) {
        const int64_t which = uniform(1, 3);
        llc(key("Instr") + " " + key(sb_llc_instr_names[which]) + (which == 3 ? "" : " " + text()));
    }
    if (chance(20)) llc(key("Options") + " " + integer(0, 268435455));
    if (chance(30)) {
        std::string s = key("Range") + " " + integer(0, 65535) + " " + integer(0, 65535);
        if (chance(50)) s += " " + integer(0, 4096) + " " + integer(0, 4096);
        llc(s);
    }
    const bool target = board_ == 3 || type({23, 30, 25, 26, 33});
    if (target || chance(20)) llc(key("Target") + " " + integer(64, 255));
}

void gen::scanner() {
    const bool required = type({5, 7, 11, 13, 22, 28, 34, 31, 20, 16});
    if (required || chance(30)) {
        if (chance(50)) {
            std::string s = key("Pifoc") + " " + integer(0, 999999);
            if (chance(60)) {
                std::string beta = chance(30) ? "0" : real(0.005, 0.1);
                s += " " + real(0.5, 2) + " " + beta;
            }
            line(family::scanner, s);
        } else {
            line(family::scanner, key("PztId") + " " + integer(0, 99999));
        }
    }
    if (chance(20)) line(family::scanner, key("PifocType") + " " + integer(0, 2));
    if (chance(20)) line(family::scanner, key("PifocPolarity") + " " + integer(-1, 1));
    if (chance(20)) line(family::scanner, key("PztPwr") + " " + integer(-1, 1000));
    if (chance(20)) line(family::scanner, key("ADC") + " " + key("Clock") + " " + integer(0, 511));
    if (chance(20))
        line(family::scanner, key("ScanCal") + " " + real(0.85, 1.15) + (chance(50) ? " " + real(0.85, 1.15) : ""));
}

void gen::magnifications() {
    if (!chance(60)) return;
    // Both lists with one length (the reader refuses two lengths), or one list.
    const int64_t n = uniform(1, 15);
    const int64_t which = uniform(0, 2);  // 0 SysMag, 1 NomMag, 2 both
    auto list = [&](const char* name) {
        std::string s = key(name);
        for (int64_t i = 0; i < n; ++i)
            s += " " + real(0, 100);
        head_mags_.push_back(s);
    };
    if (which != 1) list("SysMag");
    if (which != 0) list("NomMag");
    out_.families[static_cast<int>(family::magnification)] = true;
    mags_ = true;
    const int64_t trans = uniform(0, 4);
    for (int64_t i = 0; i < trans; ++i) {
        tail_.push_back(key("Camera") + " " + key("Trans") + " " + integer(0, 14) + " " + integer(-2047, 2047) + " " +
                        integer(-2047, 2047));
        out_.families[static_cast<int>(family::camera_trans)] = true;
    }
}

void gen::motion() {
    auto add = [&](family f, const std::string& s) { line(f, s); };
    // A motorized zoom (2) only on a CAN board; LoomA and LoomB on CAN without the
    // dual brush motor board have neither turret nor zoom (both are refused after
    // reading).
    const bool no_dual_brush = chance(15);
    const bool loom_without_board = board_ == 8 && type({22, 31}) && no_dual_brush;
    if (chance(30)) {
        const std::string first = loom_without_board ? "0" : integer(0, 255);
        add(family::motion, key("Turret") + " " + first + (chance(50) ? " " + integer(0, 255) : ""));
    }
    if (chance(20) && !loom_without_board) {
        std::string zoom = integer(0, 255);
        if (zoom == "2" && board_ != 8) zoom = "3";
        add(family::motion, key("Zoom") + " " + zoom);
    }
    if (no_dual_brush) add(family::motion, key("IgnoreDualBrushMotor"));
    for (const char* flag : {"IgnoreFocusNDW", "IgnoreLAPS", "IgnorePZT", "IgnoreWand", "IgnoreZoom", "NoIntensAvg",
                             "TouchScreen", "RingSpot"})
        if (chance(15)) add(family::motion, key(flag));
    if (chance(20)) add(family::motion, key("XAxisBacklash") + " " + real(0, 1000));
    if (chance(20)) add(family::motion, key("YAxisBacklash") + " " + real(0, 1000));
    if (chance(20)) add(family::motion, key("ZAxisBacklash") + " " + real(0, 100));
    if (chance(20)) add(family::motion, key("ZAxisCal") + " " + real(0.85, 1.15));
    if (chance(15)) add(family::motion, key("ZEncoder") + " " + integer(0, 1));
    if (chance(15)) add(family::motion, key("ZCanClosedLoop") + " " + integer(0, 1));
    if (chance(20)) add(family::motion, key("DiffDiskRate") + " " + real(10, 80));
    if (chance(20)) {
        std::string v = real(0, 2);
        if (std::strtod(v.c_str(), nullptr) <= 0) v = "2";  // the low end is open
        add(family::motion, key("DiffDiskFraction") + " " + v);
    }
    if (chance(20)) add(family::radius, key("RadCrvFocCal") + " " + real(-100, 100));
    if (chance(20)) add(family::radius, key("RadCrvPwrCal") + " " + real(-100, 100));
    if (chance(25) || type_ == 16) add(family::motion, key("MotionCtrl") + " " + text() + " " + text());
    if (chance(20)) {
        std::string s = key("PosInstr") + " " + key(sb_pos_instr_names[uniform(0, 12)]) + " " + text();
        if (chance(50)) s += " " + text();
        add(family::motion, s);
    }
    if (chance(15)) add(family::motion, key("TempSensor") + " " + key("Euro2216e") + " " + text());
    if (chance(15)) add(family::motion, key("PendentMenu") + " " + text());
    for (int axis = 0; axis < sb_pid_axis_count; ++axis) {
        const std::string letter(1, sb_pid_axis_letters[axis]);
        if (chance(10)) add(family::motion, key("AxisComp_" + letter) + " " + text());
        const int64_t sets = chance(25) ? uniform(1, 3) : 0;
        for (int64_t k = 0; k < sets; ++k) {
            std::string s = key("PidVals_" + letter);
            const int64_t which = uniform(0, 2);
            if (which == 1) s += " " + key("Fast");
            if (which == 2) s += " " + key("Slow");
            s += " " + integer(-8388608, 8388607) + " " + integer(-8388608, 8388607) + " " + integer(0, 8388607) + " " +
                 integer(0, 8388607) + " " + integer(0, 1) + " " + integer(0, 8388607);
            for (int r = 0; r < 4; ++r)
                s += " " + real(-2, 2);
            add(family::pid, s);
        }
    }
    const int64_t sdc = chance(30) ? uniform(1, 4) : 0;
    for (int64_t i = 0; i < sdc; ++i) {
        std::string s = key("SdcCal") + " " + integer(0, 14);
        const int64_t n = uniform(0, 8);
        for (int64_t k = 0; k < n; ++k)
            s += " " + (k < 6 ? real(-3.4028234663852886e38, 3.4028234663852886e38) : real(0, 3.4028234663852886e38));
        add(family::sdc_cal, s);
    }
    for (const char* name : {"EncodedRadiusScale", "IntfRadiusScale"}) {
        if (!chance(20)) continue;
        std::string s = key(name) + " " + integer(0, 1) + " " + real(0, 1) + " " + real(0, 1) + " " + integer(0, 20);
        if (chance(50)) s += " " + real(0, 1);
        add(family::radius, s);
    }
    if (chance(20)) add(family::motion, key("SleepTimeout") + " " + period(3, 20864));
}

void gen::wave() {
    const bool skerry = type({19, 30});
    if (skerry || chance(20)) line(family::wave_monitor, key("wmComm") + " " + text());
    if (skerry || chance(20)) line(family::wave_monitor, key("wmMonOPD") + " " + real(0, 2147483647));
    if (chance(20)) line(family::wave_monitor, key("wmSysGain") + " " + real(0, 2147483647));
    for (const char* name : {"wmTuneRange", "wmTuneRate"})
        if (chance(15)) line(family::wave_monitor, key(name) + " " + real(0, 2147483647) + " " + real(0, 2147483647));
    if (chance(15))
        line(family::wave_monitor, key("wmMaxBuckets") + " " + integer(0, 2147483647) + " " + integer(0, 2147483647));
    if (chance(15)) line(family::wave_monitor, key("FennsiInvertData") + " " + integer(0, 255));
    if (chance(15)) line(family::wave_generators, key("AbsWaveMeter") + " " + integer(0, 1) + " " + text());
    if (chance(15)) {
        const std::string third = chance(30) ? "0" : integer(96, 126);
        line(family::wave_generators,
             key("DynWaveGen") + " " + integer(-2147483647, 2147483647) + " " + integer(0, 30) + " " + third);
    }
}

void gen::enc_zoom() {
    if (!chance(20)) return;
    auto add = [&](const std::string& s) { line(family::enc_zoom, s); };
    if (chance(60)) add(key("TarnEncZoomConfig") + " " + integer(0, 255));
    if (chance(60)) add(key("TarnEncZoomBacklash") + " " + integer(-1000, 1000));
    if (chance(50)) add(key("TarnEncZoomProgLim") + " " + integer(0, 60000) + " " + integer(0, 60000));
    if (chance(50)) add(key("TarnEncZoomWandLim") + " " + integer(0, 60000) + " " + integer(0, 60000));
    if (chance(50)) {
        std::string s = key("TarnEncZoomStdMags");
        const int64_t n = uniform(0, 15);
        for (int64_t i = 0; i < n; ++i)
            s += " " + real(0, 100);
        add(s);
    }
    if (chance(40)) add(key("TarnEncZoomCalFile") + " " + text());
}

void gen::fenn() {
    if (type_ != 16 && !chance(10)) return;
    auto add = [&](const std::string& s) { line(family::fenn, s); };
    if (chance(50)) add(key("FennMaterials") + " " + text());
    if (chance(50)) add(key("FennSys") + " " + real(0, 1) + " " + real(0, 1) + " " + real(-1, 1) + " " + real(0, 10));
    if (chance(50)) add(key("FennDmiScale") + " " + real(1.5, 2.5));
    if (chance(50)) add(key("FennImageRot") + " " + real(0, 1));
    if (chance(50)) add(key("FennZeroPtPos") + " " + real(-10, 10) + (chance(50) ? " " + real(-10, 10) : ""));
    if (chance(50)) add(key(chance(50) ? "FennZeroGagePer" : "FennSysInitPer") + " " + period(4, 8640000));
    if (chance(50)) add(key("FennTemperature") + " " + period(4, 8640000) + (chance(70) ? " " + real(0, 5) : ""));
    if (chance(50)) {
        std::string s = key("FennLog") + " " + text();
        if (chance(60)) s += " " + integer(0, 2147483647) + (chance(50) ? " " + real(0, 2147483647) : "");
        add(s);
    }
    if (!mags_) return;
    const int64_t tables = uniform(0, 6);
    for (int64_t i = 0; i < tables; ++i) {
        const int64_t kind = uniform(0, 3);
        std::string s;
        if (kind < 2) {
            const bool disper = kind == 0;
            s = key(disper ? "FennDisper" : (chance(50) ? "FennAvg_K0" : "FennAvgK0")) + " " + integer(0, 14);
            const int64_t n = uniform(2, 10);
            for (int64_t k = 0; k < n; ++k)
                s += " " + (disper ? real(-6.283185307179586, 6.283185307179586) : real(0, 100));
        } else {
            s = key(kind == 2 ? "FennDmiCenter" : "FennTiltCenter") + " " + integer(0, 14) + " " + real(-100, 100) +
                " " + real(-100, 100);
        }
        tail_.push_back(s);
        out_.families[static_cast<int>(family::fenn_tables)] = true;
    }
}

cal_generated gen::run() {
    identity_and_board();
    camera();
    light();
    llc();
    scanner();
    magnifications();
    motion();
    wave();
    enc_zoom();
    fenn();
    // Camera lines keep their order (a later type keeps an earlier CUSTOM's
    // settings); everything else is shuffled around them.
    std::shuffle(statements_.begin(), statements_.end(), rng_);
    std::string text = head_;
    for (const std::string& s : camera_)
        text += s + "\n";
    for (const std::string& s : statements_)
        text += s + (chance(5) ? "  # remark\n" : "\n");
    for (const std::string& s : head_mags_)
        text += s + "\n";
    std::shuffle(tail_.begin(), tail_.end(), rng_);
    for (const std::string& s : tail_)
        text += s + "\n";
    if (chance(10)) text += "\x1a";
    out_.text = std::move(text);
    return out_;
}

// ------------------------------------------------------------------ comparison

std::string str(const char* s) { return s ? s : ""; }

class differences {
public:
    template <typename T>
    void same(const char* what, const T& a, const T& b) {
        if constexpr (std::is_floating_point_v<T>) {
            if (a == b || (std::isnan(a) && std::isnan(b))) return;
            char line[160];
            std::snprintf(line, sizeof line, "%s: %.17g != %.17g\n", what, static_cast<double>(a),
                          static_cast<double>(b));
            out += line;
        } else {
            if (a == b) return;
            std::ostringstream line;
            line << what << ": " << +a << " != " << +b << "\n";
            out += line.str();
        }
    }
    void text(const char* what, const char* a, const char* b) {
        if (str(a) != str(b)) out += std::string(what) + ": \"" + str(a) + "\" != \"" + str(b) + "\"\n";
    }
    std::string out;
};

bool one_of(int32_t v, std::initializer_list<int32_t> set) { return std::find(set.begin(), set.end(), v) != set.end(); }

int list_length(const double* values, int32_t stored) {
    int n = std::clamp(stored, 0, sb_max_mags);
    for (int i = n; i < sb_max_mags; ++i)
        if (values[i] != 0) n = i + 1;
    return n;
}

}  // namespace

std::string cal_record_differences(const sysInfo& a, const sysInfo& b) {
    differences d;
#define SAME(field) d.same(#field, a.field, b.field)
#define SAME_TEXT(field) d.text(#field, a.field, b.field)
#define SAME_AS(field, expected) d.same(#field, expected, b.field)
    SAME(sysType);
    SAME(boardType);
    SAME(canInfo != nullptr);
    if (a.canInfo && b.canInfo) {
        for (int i = 0; i < 6; ++i)
            SAME(canInfo->mac[i]);
        SAME(canInfo->ip[0]);
        SAME(canInfo->led_product_id);
    }
    SAME_TEXT(instrName);
    SAME(unit);
    SAME(dateCode);
    SAME(serialNum);
    SAME(rFlag);
    SAME(frameGrabber);
    SAME(versionNum);
    SAME_TEXT(instrComm);
    SAME(invertData);
    SAME_TEXT(rampConfig);

    SAME(camera.type);
    SAME(camera.interlaceFlag);
    for (int i = 0; i < 9; ++i)
        SAME(camera.c[i]);
    for (int i = 0; i < sb_max_camera_files; ++i)
        SAME_TEXT(camera.files[i]);
    SAME(camera.dark);
    SAME(camera.align);
    SAME(camera.badPixelCount);
    for (int i = 0; i < a.camera.badPixelCount && i < sb_max_bad_pixels; ++i) {
        SAME(camera.badPixels[i].x);
        SAME(camera.badPixels[i].y);
    }
    SAME(camera.bpixFlag);
    SAME_TEXT(camera.bpixFile);
    SAME(camera.options);
    SAME(camera.pll);
    SAME(camera.splitDir);
    SAME(camera.splitLoc);
    SAME(camera.splitValue);
    for (int i = 0; i < sb_max_mags; ++i) {
        SAME(camera.trans[i][0]);
        SAME(camera.trans[i][1]);
    }

    // A light never given holds one wavelength, which the Light line presets to four
    // on the boards that preset all four.
    SAME(light.type);
    const sb_light default_light;
    bool light_default = a.light.type == default_light.type;
    for (int i = 0; i < sb_max_wavelengths; ++i)
        light_default = light_default && a.light.wavelength[i] == default_light.wavelength[i] &&
                        a.light.bandwidth[i] == default_light.bandwidth[i];
    const bool presets_four = !one_of(a.boardType, {BOARD_CAN, BOARD_CAIRN, BOARD_FENN}) && a.sysType != SYS_KAME250;
    for (int i = 0; i < sb_max_wavelengths; ++i) {
        if (light_default && presets_four)
            SAME_AS(light.wavelength[i], default_light.wavelength[0]);
        else
            SAME(light.wavelength[i]);
        SAME(light.bandwidth[i]);
    }

    for (int i = 0; i < 2; ++i) {
        SAME(llc.alignModePct[i]);
        SAME(llc.config[i]);
        SAME(llc.freq[i]);
    }
    for (int i = 0; i < 4; ++i) {
        SAME(llc.avgCurLimit[i]);
        SAME(llc.fwdVoltage[i]);
        SAME(llc.range[i]);
    }
    SAME(llc.instr);
    SAME_TEXT(llc.port);
    SAME(llc.options);
    SAME(llc.target);

    SAME(scanner.pifoc != nullptr);
    if (a.scanner.pifoc && b.scanner.pifoc) {
        SAME(scanner.pifoc->serial);
        SAME(scanner.pifoc->type);
        SAME(scanner.pifoc->k);
        SAME(scanner.pifoc->beta);
    }
    SAME(scanner.pifocPolarity);
    SAME(scanner.pztpwr);
    SAME(scanner.adcClock);
    SAME(scanner.scanCal[0]);
    SAME(scanner.scanCal[1]);

    // On the systems that always carry both lists, both come back with the longer
    // length (at least two).
    for (int i = 0; i < sb_max_mags; ++i) {
        SAME(mag.nom[i]);
        SAME(mag.sys[i]);
    }
    if (one_of(a.sysType, {SYS_CAIRN, SYS_KAME250, SYS_RILLET, SYS_FENN})) {
        const int32_t n = std::max({list_length(a.mag.sys, a.mag.sysCount), list_length(a.mag.nom, a.mag.nomCount), 2});
        SAME_AS(mag.count, n);
        SAME_AS(mag.nomCount, n);
        SAME_AS(mag.sysCount, n);
    } else {
        SAME(mag.count);
        SAME(mag.nomCount);
        SAME(mag.sysCount);
    }

    SAME(motion.turret[0]);
    SAME(motion.turret[1]);
    SAME(motion.zoom);
    SAME_TEXT(motion.motionCtrl[0]);
    SAME_TEXT(motion.motionCtrl[1]);
    SAME(motion.posInstr);
    SAME_TEXT(motion.posPort);
    SAME_TEXT(motion.posText);
    SAME(motion.tempSensor);
    SAME_TEXT(motion.tempPort);
    SAME_TEXT(motion.pendentMenu);
    // A PID record that holds the default sets is the same as none.
    const sb_pid_axis default_pid;
    for (int axis = 0; axis < sb_pid_axis_count; ++axis) {
        SAME_TEXT(motion.axisComp[axis]);
        const sb_pid_axis& pa = a.motion.pid[axis] ? *a.motion.pid[axis] : default_pid;
        const sb_pid_axis& pb = b.motion.pid[axis] ? *b.motion.pid[axis] : default_pid;
        for (int i = 0; i < 6; ++i) {
            d.same("motion.pid->fast.i", pa.fast.i[i], pb.fast.i[i]);
            d.same("motion.pid->slow.i", pa.slow.i[i], pb.slow.i[i]);
        }
        for (int i = 0; i < 4; ++i) {
            d.same("motion.pid->fast.r", pa.fast.r[i], pb.fast.r[i]);
            d.same("motion.pid->slow.r", pa.slow.r[i], pb.slow.r[i]);
        }
    }
    SAME(motion.xAxisBacklash);
    SAME(motion.yAxisBacklash);
    SAME(motion.zAxisBacklash);
    SAME(motion.zAxisCal);
    SAME(motion.zEncoder);
    SAME(motion.zCanClosedLoop);
    SAME(motion.diffdiskrate);
    SAME(motion.diffdiskfraction);

    SAME(present.dualBrushMotor);
    SAME(present.focusNDW);
    SAME(present.laps);
    SAME(present.pzt);
    SAME(present.wand);
    SAME(present.zoom);
    SAME(ringSpot);
    SAME(noIntensAvg);
    SAME(touchScreen);
    for (int i = 0; i < sb_max_mags; ++i)
        for (int k = 0; k < 8; ++k)
            SAME(sdcCal[i].s[k]);
    SAME(radCrvFocCal);
    SAME(radCrvPwrCal);
    for (const sb_radius_scale sysInfo::*scale : {&sysInfo::encodedRadiusScale, &sysInfo::intfRadiusScale}) {
        const sb_radius_scale& sa = a.*scale;
        const sb_radius_scale& sb = b.*scale;
        d.same("radius scale given", sa.given, sb.given);
        d.same("radius scale flag", sa.flag, sb.flag);
        d.same("radius scale a", sa.a, sb.a);
        d.same("radius scale b", sa.b, sb.b);
        d.same("radius scale n", sa.n, sb.n);
        d.same("radius scale c", sa.c, sb.c);
    }
    SAME(sleepTimeout);

    SAME_TEXT(wm.comm);
    SAME(wm.sysGain);
    SAME(wm.monOPD);
    for (int i = 0; i < 2; ++i) {
        SAME(wm.tuneRange[i]);
        SAME(wm.tuneRate[i]);
    }
    SAME(wm.maxBuckets);
    SAME(wm.memLimit);
    SAME(wm.absWaveMeter);
    SAME_TEXT(wm.absWaveMeterPort);
    SAME(wm.fennsiInvertData);

    SAME(dynWaveGen != nullptr);
    if (a.dynWaveGen && b.dynWaveGen) {
        for (int i = 0; i < 3; ++i)
            SAME(dynWaveGen->value[i]);
    }

    SAME(encZoom != nullptr);
    if (a.encZoom && b.encZoom) {
        SAME(encZoom->config);
        SAME(encZoom->backlash);
        SAME(encZoom->progLim[0]);
        SAME(encZoom->progLim[1]);
        SAME(encZoom->wandLim[0]);
        SAME(encZoom->wandLim[1]);
        SAME(encZoom->stdMagCount);
        for (int i = 0; i < sb_max_mags; ++i)
            SAME(encZoom->stdMags[i]);
        SAME_TEXT(encZoom->calFile);
    }

    SAME(fenn != nullptr);
    if (a.fenn && b.fenn) {
        SAME_TEXT(fenn->materials);
        for (int i = 0; i < 4; ++i)
            SAME(fenn->sys[i]);
        SAME(fenn->dmiScale);
        SAME(fenn->imageRot);
        SAME(fenn->zeroPtPos[0]);
        SAME(fenn->zeroPtPos[1]);
        for (int i = 0; i < sb_max_mags; ++i) {
            for (int k = 0; k < sb_max_fenn_values; ++k) {
                SAME(fenn->disper[i][k]);
                SAME(fenn->avgK0[i][k]);
            }
            for (int k = 0; k < 2; ++k) {
                SAME(fenn->dmiCenter[i][k]);
                SAME(fenn->tiltCenter[i][k]);
            }
        }
        SAME(fenn->zeroGagePer);
        SAME(fenn->temperaturePer);
        SAME(fenn->temperatureTol);
        SAME_TEXT(fenn->logFile);
        SAME(fenn->logSettings[0]);
        SAME(fenn->logSettings[1]);
    }
#undef SAME
#undef SAME_TEXT
#undef SAME_AS
    return d.out;
}

namespace {

std::string* sink_text = nullptr;

void capture(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = u_vformat(fmt, args);
    va_end(args);
    if (sink_text) *sink_text += text;
}

int32_t read_text(sysInfo* si, const std::string& text) {
    sb_setDefaults(si);
    sb_message_count() = 0;
    sb_set_message_source(sb_source_kind::file, "generated.cal");
    sb_lexer lex(text.data(), text.size());
    return sb_read_statements(lex, si);
}

}  // namespace

std::string cal_round_trip(const std::string& source) {
    std::string log;
    sink_text = &log;
    u_set_msg_sink(&capture);
    sysInfo* a = sb_slot(2);
    sysInfo* b = sb_slot(3);
    std::string failure;
    std::string first, second;
    int32_t code = read_text(a, source);
    if (code != 0) {
        failure = "the source does not read (" + std::to_string(code) + "):\n" + log;
    } else if ((code = sb_format_cal(a, &first)) != 0) {
        failure = "the record is not written (" + std::to_string(code) + "):\n" + log;
    } else if ((code = read_text(b, first)) != 0) {
        failure = "the written file does not read (" + std::to_string(code) + "):\n" + log + "written:\n" + first;
    } else if (const std::string diff = cal_record_differences(*a, *b); !diff.empty()) {
        failure = "fields differ after the round trip:\n" + diff + "written:\n" + first;
    } else if ((code = sb_format_cal(b, &second)) != 0 || second != first) {
        failure = "writing the record read back gives other bytes:\n" + first + "\n---\n" + second;
    }
    if (!failure.empty()) failure += "\nsource:\n" + source;
    sb_setDefaults(a);
    sb_setDefaults(b);
    u_set_msg_sink(nullptr);
    sink_text = nullptr;
    return failure;
}

std::string cal_settled_round_trip(const std::string& source) {
    std::string log;
    sink_text = &log;
    u_set_msg_sink(&capture);
    sysInfo* a = sb_slot(2);
    std::string first;
    const bool written = read_text(a, source) == 0 && sb_format_cal(a, &first) == 0;
    sb_setDefaults(a);
    u_set_msg_sink(nullptr);
    sink_text = nullptr;
    if (!written) return "";
    const std::string failure = cal_round_trip(first);
    return failure.empty() ? "" : failure + "\nfirst source:\n" + source;
}

cal_generated random_cal_file(std::mt19937_64& rng, int32_t sys_type) { return gen(rng, sys_type).run(); }

}  // namespace mf::test
