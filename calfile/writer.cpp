// sb_writeCal: the record as calibration file statements, in the fixed order the
// reader expects (Version before the statements whose meaning depends on the board,
// magnifications before the tables indexed by magnification), built in a temporary
// file and copied over the target only when complete.
#include "calfile/writer.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <algorithm>
#include <initializer_list>
#include <string>

#include "calfile/messages.h"
#include "calfile/names.h"
#include "calfile/sysinfo.h"
#include "common/dirs.h"
#include "common/error_codes.h"
#include "common/files.h"
#include "common/msg.h"
#include "common/text.h"
#include "platform/file_io.h"
#include "platform/host_handle.h"
#include "platform/files.h"

#if defined(__GNUC__)
#define MF_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define MF_PRINTF(a, b)
#endif

namespace mf {

namespace {

constexpr int W = 22;  // width of the padded item name

// The writer's message routine: same counter as the reader's, its own header naming
// the file the record was last read from.
void MF_PRINTF(2, 3) write_message(const sysInfo* si, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = u_vformat(fmt, args);
    va_end(args);
    int32_t& count = sb_message_count();
    const char* header = "";
    std::string where;
    if (count == 0) {
        header = "Error writing system calibration file";
        where = si->calFilePath ? " \"" + std::string(si->calFilePath) + "\":\n" : ":\n";
    }
    ++count;
    u_sink("%s%s%s\n", header, where.c_str(), text.c_str());
}

bool one_of(int32_t value, std::initializer_list<int32_t> set) {
    for (int32_t v : set)
        if (v == value) return true;
    return false;
}

bool has_text(const char* s) { return s && s[0]; }

// A text the reader can give back from a quoted string: no quote, no comment mark,
// no line end inside.
bool quotable(const char* s) { return std::strpbrk(s, "\"#\n") == nullptr; }

// A text as the reader's required-text rule reads it back: a plain word where it
// can be one, else a quoted string (texts with blanks, such as MotionCtrl
// parameters, would otherwise come back cut at the first blank).
std::string text_value(const char* s) {
    const std::size_t n = std::strlen(s);
    bool plain = n > 0 && n <= 81 && std::strchr(",:[]\"#", s[0]) == nullptr;
    for (const char* p = s; *p; ++p)
        if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') plain = false;
    return plain || !quotable(s) ? std::string(s) : "\"" + std::string(s) + "\"";
}

std::string print_real(char conversion, int precision, double value) {
    char buffer[512];
    const char format[] = {'%', '.', '*', conversion, '\0'};
    std::snprintf(buffer, sizeof buffer, format, precision, value);
    return buffer;
}

double parse_real(const std::string& text) {
    double value = 0;
    const char* first = text.c_str();
    if (*first == '-') ++first;
    std::from_chars(first, text.c_str() + text.size(), value);
    return text[0] == '-' ? -value : value;
}

// A real number in its documented conversion ('f' or 'g' with the documented
// precision) when that text reads back as the stored value; otherwise with as many
// more digits as needed, so that no value the statement accepted is rounded away.
// reads_back tells whether a number read from the file gives the stored value (the
// reader scales some values and keeps others in single precision).
template <typename ReadsBack>
std::string exact_real(char conversion, int precision, double shown, ReadsBack reads_back) {
    for (int p = precision; p <= 17; ++p) {
        std::string text = print_real(conversion, p, shown);
        if (reads_back(parse_real(text))) return text;
    }
    // Every digit of the shown value (a fixed conversion runs out of digits for
    // small values); for a scaled value one of its neighbours may be the one that
    // scales back exactly.
    if (std::string text = print_real('g', 17, shown); reads_back(parse_real(text))) return text;
    double down = shown, up = shown;
    for (int step = 0; step < 4; ++step) {
        down = std::nextafter(down, -HUGE_VAL);
        up = std::nextafter(up, HUGE_VAL);
        for (double candidate : {down, up}) {
            std::string text = print_real('g', 17, candidate);
            if (reads_back(parse_real(text))) return text;
        }
    }
    return print_real('g', 17, shown);
}

std::string exact_real(char conversion, int precision, double value) {
    return exact_real(conversion, precision, value, [value](double read) { return read == value; });
}

// %g, the writer's usual conversion for reals.
std::string real_g(double value) { return exact_real('g', 6, value); }
// A value the reader keeps in single precision. Near the top of its range the
// float may lie above the range (2147483647 is kept as 2147483648); the top of the
// range then stands for it.
std::string real_float(char conversion, int precision, float value, double high) {
    const double shown = static_cast<double>(value) > high && static_cast<float>(high) == value ? high : value;
    return exact_real(conversion, precision, shown, [value](double read) { return static_cast<float>(read) == value; });
}

class cal_writer {
public:
    explicit cal_writer(const sysInfo* si) : si_(si) {}

    int32_t run(std::string* text);

private:
    void MF_PRINTF(2, 3) add(const char* fmt, ...) {
        va_list args;
        va_start(args, fmt);
        out_ += u_vformat(fmt, args);
        va_end(args);
    }
    void item(const char* name) { add("%-*s", W, name); }
    void text_item(const char* name, const char* value) {
        item(name);
        add("  %s\n", text_value(value).c_str());
    }
    void int_item(const char* name, int32_t value) {
        item(name);
        add("  %d\n", value);
    }
    void real_item(const char* name, double value) {
        item(name);
        add("  %s\n", real_g(value).c_str());
    }
    void error(int32_t code, const char* message) {
        write_message(si_, "%s", message);
        result_ = code;
    }
    bool board(std::initializer_list<int32_t> set) const { return one_of(si_->boardType, set); }
    bool type(std::initializer_list<int32_t> set) const { return one_of(si_->sysType, set); }

    void identity();
    void camera();
    void light();
    void llc();
    void llc_range();
    void scanner();
    void magnifications();
    void fenn();
    void fenn_table(const char* name, const double (*rows)[sb_max_fenn_values]);
    void motion();
    void pid_sets();
    void wave_monitor();
    void enc_zoom();
    void radius_scale(const char* name, const sb_radius_scale& s);

    const sysInfo* si_;
    std::string out_;
    int32_t result_ = 0;
    bool mags_written_ = false;  // statements indexed by magnification can follow
    int mag_count_ = 0;          // the magnification count the file gives the reader
};

void cal_writer::identity() {
    const sysInfo* si = si_;
    if (si->instrName) {
        item("InstrName");
        if (quotable(si->instrName))
            add("  \"%s\"\n", si->instrName);
        else
            add("  %s\n", text_value(si->instrName).c_str());
    }
    if (si->unit != 0) int_item("Unit", si->unit);

    const int32_t t = si->sysType;
    if (!((t >= 4 && t <= 8) || (t >= 10 && t <= 35))) error(ERR_SB_CAL_INFO_INCOMPLETE, "System type undefined.");
    item(t >= 0 && t <= 35 ? sb_sys_type_names[t] : sb_sys_type_names[0]);
    add("  %02d  %02d  %d  %s\n", si->dateCode / 100, si->dateCode % 100, si->serialNum, si->rFlag ? "R" : "");

    item("Version");
    add("  %s  %d  %s\n", sb_name(sb_frame_grabber_names, si->frameGrabber), si->versionNum,
        sb_name(sb_board_names, si->boardType));

    // The MAC address is kept on every board that has one, and the port on every
    // board: the reader accepts both anywhere.
    if (si->boardType == BOARD_CAN && !si->canInfo) error(ERR_INVALID_PARAM, "canInfo = NULL");
    if (si->canInfo) {
        const uint8_t* m = si->canInfo->mac;
        item("MacAddress");
        add("  %2.2X  %2.2X  %2.2X  %2.2X  %2.2X  %2.2X\n", m[0], m[1], m[2], m[3], m[4], m[5]);
    }
    if (si->instrComm) text_item("InstrComm", si->instrComm);
}

void cal_writer::camera() {
    const sb_camera& cam = si_->camera;
    if (si_->boardType != BOARD_NONE && !((cam.type >= 1 && cam.type <= 9) || (cam.type >= 11 && cam.type <= 32)))
        error(ERR_SB_CAL_INFO_INCOMPLETE, "Camera Type undefined.");
    int32_t tail = 0;
    if (board({BOARD_SABLEQV, BOARD_FENN}))
        tail = cam.interlaceFlag;
    else if (board({BOARD_TARN, BOARD_BRAE}))
        tail = cam.c[8];
    else if (board({BOARD_CAN, BOARD_NOTNEEDED}))
        tail = cam.interlaceFlag;  // the CUSTOM tail sets the interlace flag on these boards
    bool settings = cam.interlaceFlag != 0;
    for (int32_t c : cam.c)
        settings = settings || c != 0;
    // The custom settings are set only through CUSTOM (and Camera Config); a camera
    // that keeps settings from an earlier CUSTOM is written as CUSTOM with its
    // settings, then its own type.
    const bool custom = board({BOARD_SABLEQV, BOARD_FENN, BOARD_TARN, BOARD_BRAE, BOARD_CAN, BOARD_NOTNEEDED}) &&
                        (cam.type == CAM_CUSTOM || settings);
    item("Camera Type");
    add("  %s", custom ? sb_camera_names[CAM_CUSTOM] : sb_name(sb_camera_names, cam.type));
    if (tail != 0 && (custom || !board({BOARD_CAN, BOARD_NOTNEEDED}))) add("  %d", tail);
    add("\n");
    bool files = false;
    for (const char* f : cam.files)
        files = files || f != nullptr;
    if (files) {
        item("Camera File");
        add("  %s", text_value(cam.files[0] ? cam.files[0] : "").c_str());
        int last = 0;
        for (int i = 1; i < sb_max_camera_files; ++i)
            if (has_text(cam.files[i])) last = i;
        for (int i = 1; i <= last; ++i) {
            if (has_text(cam.files[i]))
                add("  %s", cam.files[i]);
            else if (i == 1)
                add(" NULL");
        }
        add("\n");
    }

    if (custom) {
        if (board({BOARD_SABLEQV, BOARD_FENN})) {
            item("Camera Config");
            add("  %d  %d  %d  %d  %d  %d  %d  %d\n", cam.c[1], cam.c[2], cam.c[3], cam.c[4], cam.c[5], cam.c[6],
                cam.c[7], cam.c[8]);
        } else if (board({BOARD_TARN, BOARD_BRAE})) {
            item("Camera Config");
            add("  %d  %d\n", cam.interlaceFlag, cam.c[0]);
        }
        if (cam.type != CAM_CUSTOM) {
            item("Camera Type");
            add("  %s", sb_name(sb_camera_names, cam.type));
            if (tail != 0 && !board({BOARD_CAN, BOARD_NOTNEEDED})) add("  %d", tail);
            add("\n");
        }
    }

    if (cam.dark > 0) int_item("Camera Dark", cam.dark);
    if (cam.align != 0) {
        item("Camera Align");
        add("  %s\n", sb_name(sb_align_names, cam.align));
    }

    // The bad-pixel file flag is written along with a bad-pixel list too: both are
    // values of their own.
    const int count = cam.badPixelCount < sb_max_bad_pixels ? cam.badPixelCount : sb_max_bad_pixels;
    if (cam.bpixFlag != 0 || has_text(cam.bpixFile)) {
        item("Camera Bpix");
        add("  %d", cam.bpixFlag);
        if (has_text(cam.bpixFile)) add("  %s", cam.bpixFile);
        add("\n");
    }
    for (int i = 0; i < count; ++i) {
        if (i % 6 == 0) {
            item("Camera BPixels");
            add(" ");
        }
        add(" [%d,%d]", cam.badPixels[i].x, cam.badPixels[i].y);
        if (i % 6 == 5 || i == count - 1) add("\n");
    }
    if (cam.options != 0) int_item("Camera Options", static_cast<int32_t>(cam.options));
    if (cam.pll != 1) int_item("Camera PLL", cam.pll);
    if (si_->rampConfig && std::strcmp(si_->rampConfig, sb_default_ramp_config) != 0)
        text_item("Ramp Config", si_->rampConfig);
}

void cal_writer::light() {
    const sb_light& l = si_->light;
    if (si_->boardType != BOARD_NONE && !(l.type >= 1 && l.type <= 5))
        error(ERR_SB_CAL_INFO_INCOMPLETE, "Light Type undefined.");
    item((std::string("Light ") + sb_name(sb_light_names, l.type)).c_str());
    add(" ");
    for (int i = 0; i < sb_max_wavelengths; ++i) {
        if (i > 0 && (l.wavelength[i - 1] == 0 || l.wavelength[i] == 0)) break;
        // Kept in metres, written in micrometres: the text must give the stored value
        // after the reader's conversion.
        auto micrometres = [](double metres) {
            return exact_real('f', 6, metres * 1e6, [metres](double read) { return read * 1e-6 == metres; });
        };
        if (l.bandwidth[i] != 0)
            add(" [%s,%s]", micrometres(l.wavelength[i]).c_str(), micrometres(l.bandwidth[i]).c_str());
        else
            add(" %s", micrometres(l.wavelength[i]).c_str());
    }
    add("\n");
}

// The pairs the reader derives for a board and system type when the file gives no
// LLC Range (first) or no second pair (second); false where it leaves them alone.
struct derived_range {
    bool first = false;
    int32_t low = 0, high = 0;
    bool second = false;
    int32_t low2 = 0, high2 = 0;
    bool forced = false;  // the reader sets the first pair whatever the file says
};

derived_range reader_range(const sysInfo* si) {
    derived_range d;
    auto first = [&](int32_t low, int32_t high) {
        d.first = true;
        d.low = low;
        d.high = high;
    };
    auto second = [&](int32_t low, int32_t high) {
        d.second = true;
        d.low2 = low;
        d.high2 = high;
    };
    switch (si->boardType) {
    case BOARD_TARN:
    case BOARD_BRAE:
        first(10, 159);
        break;
    case BOARD_CAIRN:
    case BOARD_NOTNEEDED:
        if (si->sysType == SYS_KAME250)
            first(2, si->camera.type == CAM_DGFLY1024 ? 800 : 532);
        else
            first(si->boardType == BOARD_CAIRN ? 0 : 10, si->boardType == BOARD_CAIRN ? 4095 : 159);
        d.forced = si->sysType == SYS_KAME250 || si->boardType == BOARD_NOTNEEDED;
        break;
    case BOARD_FENN:
        first(0, 3685);
        break;
    case BOARD_SABLEQV:
        first(0, 4095);
        second(0, 100);
        break;
    case BOARD_CAN:
        first(0, 65535);
        second(0, 65535);
        break;
    default:
        break;
    }
    return d;
}

void cal_writer::llc_range() {
    const int32_t* r = si_->llc.range;
    auto first_is = [&](int32_t low, int32_t high) { return r[0] == low && r[1] == high; };
    int pairs = 0;  // 0 nothing, 1 the first pair, 2 both
    auto want = [&](int n) {
        if (n > pairs) pairs = n;
    };
    if (board({BOARD_TARN, BOARD_BRAE}) && !first_is(10, 159)) want(1);
    if ((si_->boardType == BOARD_CAIRN || si_->sysType == SYS_KAME250) && !first_is(0, 4095)) want(1);
    if (si_->boardType == BOARD_CAN &&
        type({SYS_LOOMA, SYS_LOOMAS, SYS_LOOMAP, SYS_LOOMBS, SYS_LOOMBP, SYS_SCARPSABLEICO, SYS_SCARPSABLEQVICO}) &&
        !first_is(0, 65535))
        want(1);
    if ((si_->boardType == BOARD_SABLEQV || (si_->boardType == BOARD_CAN && si_->sysType == SYS_LOOMB)) &&
        !first_is(0, 4095))
        want(1);
    // Whatever the rules above leave out, a range that differs from what the reader
    // would derive is written, so that reading the file back gives it again; the
    // second pair only then, since a derived CAN second pair (0, 65535) is beyond
    // what the statement accepts.
    const derived_range d = reader_range(si_);
    if (!d.forced) {
        const int32_t low = d.first ? d.low : 0, high = d.first ? d.high : 0;
        if (!first_is(low, high)) want(1);
    }
    // A second pair beyond what the statement accepts (0..4096) can only come from
    // the CAN derivation and is left to it.
    const int32_t low2 = d.second ? d.low2 : 0, high2 = d.second ? d.high2 : 0;
    const bool expressible = r[2] >= 0 && r[2] <= 4096 && r[3] >= 0 && r[3] <= 4096;
    if ((r[2] != low2 || r[3] != high2) && expressible) want(2);
    if (pairs == 0) return;
    item("LLC Range");
    add("  %d  %d", r[0], r[1]);
    if (pairs == 2) add("  %d  %d", r[2], r[3]);
    add("\n");
}

void cal_writer::llc() {
    const sb_llc& l = si_->llc;
    if (l.instr == LLC_CAIRN) {
        // CAIRN takes no port; without this line the reader would lose it.
        item("LLC Instr");
        add("  %s\n", sb_llc_instr_names[LLC_CAIRN]);
    } else if (l.instr != LLC_NONE) {
        item("LLC Instr");
        add("  %s  %s\n", sb_name(sb_llc_instr_names, l.instr), text_value(l.port ? l.port : "").c_str());
    }
    llc_range();
    if (l.config[1] != 0) {
        item("LLC Config");
        add("  %d  %d\n", l.config[0], l.config[1]);
    } else if (l.config[0] != 1) {
        int_item("LLC Config", l.config[0]);
    }
    if (si_->light.type == LIGHT_LED || l.freq[0] != 35000) int_item("LLC Freq", l.freq[0]);
    if (type({SYS_TARN, SYS_HOLMTARN, SYS_ESKERCAN, SYS_ESKER, SYS_SKERRY, SYS_SKERRY_CAN, SYS_TARNCAN, SYS_HOLMPH,
              SYS_BRAE_CAN, SYS_WSTARN, SYS_WSTARNCAN}) ||
        si_->boardType == BOARD_TARN || l.target != 150)
        int_item("LLC Target", l.target);
    if (l.options != 0) int_item("LLC Options", static_cast<int32_t>(l.options));
    auto pairs = [&](const char* name, const int32_t* v) {
        if (v[0] == 0 && v[1] == 0 && v[2] == 0 && v[3] == 0) return;
        item(name);
        add("  %d  %d", v[0], v[1]);
        if (v[2] != 0 || v[3] != 0) add("  %d  %d", v[2], v[3]);
        add("\n");
    };
    pairs("LLC AvgCurLimit", l.avgCurLimit);
    pairs("LLC FwdVoltage", l.fwdVoltage);
    if (l.alignModePct[0] != 100) real_item("LLC AlignModePct", l.alignModePct[0]);
}

void cal_writer::scanner() {
    const sb_scanner& s = si_->scanner;
    if (s.pztpwr >= 0) int_item("PztPwr", s.pztpwr);
    if (s.adcClock != 0) int_item("ADC Clock", s.adcClock);
    if (const sb_pifoc* p = s.pifoc) {
        const sb_pifoc preset;
        item("Pifoc");
        if (type(
                {SYS_SCARPSABLE, SYS_SCARPSABLEQV, SYS_SCARPSABLEICO, SYS_SCARPDELTA, SYS_SCARPSABLEQVICO, SYS_FENN}) ||
            p->k != preset.k || p->beta != preset.beta)
            add("  %d  %s  %s\n", p->serial, exact_real('f', 6, p->k).c_str(), exact_real('f', 6, p->beta).c_str());
        else
            add("  %d\n", p->serial);
    }
    // The polarity lives outside the PIFOC record; written whenever it is set.
    if (s.pifocPolarity != 0) int_item("PifocPolarity", s.pifocPolarity);
    if (s.pifoc && s.pifoc->type != 0) int_item("PifocType", s.pifoc->type);
}

// The number of values of one magnification list: the stored count (zeros are
// values too), or more where the record holds values beyond it.
int mag_values(const double* values, int32_t stored) {
    int n = stored < 0 ? 0 : stored > sb_max_mags ? sb_max_mags : stored;
    for (int i = n; i < sb_max_mags; ++i)
        if (values[i] != 0) n = i + 1;
    return n;
}

void cal_writer::magnifications() {
    const sb_mags& m = si_->mag;
    int sys = mag_values(m.sys, m.sysCount);
    int nom = mag_values(m.nom, m.nomCount);
    // The reader refuses two lists of different lengths, so both are written with
    // the longer length; on these systems both always, with at least two values.
    if (type({SYS_CAIRN, SYS_KAME250, SYS_RILLET, SYS_FENN})) {
        sys = nom = std::max({sys, nom, 2});
    } else if (sys > 0 && nom > 0) {
        sys = nom = std::max(sys, nom);
    }
    auto list = [&](const char* name, const double* values, int n) {
        if (n == 0) return;
        item(name);
        for (int i = 0; i < n; ++i)
            add("  %s", exact_real('f', 4, values[i]).c_str());
        add("\n");
    };
    list("SysMag", m.sys, sys);
    list("NomMag", m.nom, nom);
    mags_written_ = sys > 0 || nom > 0;
    mag_count_ = nom > 0 ? nom : sys;
}

void cal_writer::fenn_table(const char* name, const double (*rows)[sb_max_fenn_values]) {
    for (int i = 0; i < sb_max_mags && mags_written_; ++i) {
        const double* row = rows[i];
        if (row[0] >= sb_unset) continue;
        item(name);
        add("  %d  %s", i, exact_real('g', 6, row[0]).c_str());
        for (int k = 1; k < sb_max_fenn_values && row[k] < sb_unset; ++k)
            add("  %s", exact_real('g', 6, row[k]).c_str());
        add("\n");
    }
}

void cal_writer::fenn() {
    const sb_fenn& f = *si_->fenn;
    const int count = mag_count_;
    auto g8 = [](double v) { return exact_real('g', 8, v); };
    if (f.materials) text_item("FennMaterials", f.materials);
    item("FennSys");
    add("  %s  %s  %s  %s\n", g8(f.sys[0]).c_str(), g8(f.sys[1]).c_str(), g8(f.sys[2]).c_str(), g8(f.sys[3]).c_str());
    // The unset scale (0) is outside the statement's range and is not written.
    if (f.dmiScale != 0) {
        item("FennDmiScale");
        add("  %s\n", g8(f.dmiScale).c_str());
    }
    item("FennImageRot");
    add("  %s\n", g8(f.imageRot).c_str());
    if (std::isfinite(f.zeroPtPos[0])) {
        item("FennZeroPtPos");
        add("  %s", real_g(f.zeroPtPos[0]).c_str());
        if (std::isfinite(f.zeroPtPos[1]))
            add("  %s\n", real_g(f.zeroPtPos[1]).c_str());
        else
            add("\n");
    }
    fenn_table("FennDisper", f.disper);
    fenn_table("FennAvg_K0", f.avgK0);
    auto centers = [&](const char* name, const double(*c)[2]) {
        for (int i = 0; i < sb_max_mags && mags_written_; ++i) {
            if (i >= count && c[i][0] == 0 && c[i][1] == 0) continue;
            item(name);
            add("  %d  %s  %s\n", i, exact_real('g', 3, c[i][0]).c_str(), exact_real('g', 3, c[i][1]).c_str());
        }
    };
    centers("FennDmiCenter", f.dmiCenter);
    centers("FennTiltCenter", f.tiltCenter);
    auto period = [&](const char* name, int32_t seconds) {
        item(name);
        add("  %d:%02d:%02d:%02d", seconds / 86400, seconds % 86400 / 3600, seconds % 3600 / 60, seconds % 60);
    };
    period("FennZeroGagePer", f.zeroGagePer);
    add("\n");
    period("FennTemperature", f.temperaturePer);
    add("   %s\n", exact_real('f', 2, f.temperatureTol).c_str());
    if (f.logFile) {
        item("FennLog");
        add("  %s", text_value(f.logFile).c_str());
        if (f.logSettings[0] != 1000000 || f.logSettings[1] != 500000)
            add("  %d  %d", f.logSettings[0], f.logSettings[1]);
        add("\n");
    }
}

bool same_set(const sb_pid_set& a, const sb_pid_set& b) {
    for (int i = 0; i < 6; ++i)
        if (a.i[i] != b.i[i]) return false;
    for (int i = 0; i < 4; ++i)
        if (a.r[i] != b.r[i]) return false;
    return true;
}

void cal_writer::pid_sets() {
    auto values = [&](const sb_pid_set& s) {
        add("  %d  %d  %d  %d  %d  %d  %s  %s  %s  %s\n", s.i[0], s.i[1], s.i[2], s.i[3], s.i[4], s.i[5],
            real_g(s.r[0]).c_str(), real_g(s.r[1]).c_str(), real_g(s.r[2]).c_str(), real_g(s.r[3]).c_str());
    };
    for (int axis = 0; axis < sb_pid_axis_count; ++axis) {
        const sb_pid_axis* pid = si_->motion.pid[axis];
        if (!pid) continue;
        const char letter = sb_pid_axis_letters[axis];
        const bool fast = !same_set(pid->fast, sb_default_pid_set);
        const bool slow = !same_set(pid->slow, sb_default_pid_set);
        if (fast && slow && same_set(pid->fast, pid->slow)) {
            add("PidVals_%c", letter);
            values(pid->fast);
            continue;
        }
        char name[32];
        if (fast) {
            std::snprintf(name, sizeof name, "PidVals_%c Fast", letter);
            item(name);
            values(pid->fast);
        }
        if (slow) {
            std::snprintf(name, sizeof name, "PidVals_%c Slow", letter);
            item(name);
            values(pid->slow);
        }
    }
}

void cal_writer::motion() {
    const sysInfo* si = si_;
    const sb_motion& m = si->motion;
    const sb_scanner& s = si->scanner;
    if (s.scanCal[1] != 0 && s.scanCal[1] != 1) {
        item("ScanCal");
        add("  %s  %s\n", real_g(s.scanCal[0]).c_str(), real_g(s.scanCal[1]).c_str());
    } else if (s.scanCal[0] != 0 && s.scanCal[0] != 1) {
        real_item("ScanCal", s.scanCal[0]);
    }
    if (m.turret[0] != 0 || m.turret[1] != 5) {
        item("Turret");
        if (m.turret[1] == 5)
            add("  %d\n", m.turret[0]);
        else
            add("  %d  %d\n", m.turret[0], m.turret[1]);
    }
    if (m.zoom != 0) int_item("Zoom", m.zoom);
    const sb_devices& d = si->present;
    if (!d.dualBrushMotor) add("IgnoreDualBrushMotor\n");
    if (!d.laps) add("IgnoreLAPS\n");
    if (!d.wand) add("IgnoreWand\n");
    if (!d.focusNDW) add("IgnoreFocusNDW\n");
    if (!d.zoom) add("IgnoreZoom\n");
    if (!d.pzt) add("IgnorePZT\n");
    if (si->ringSpot) add("RingSpot\n");
    if (m.diffdiskrate != -1) real_item("DiffDiskRate", m.diffdiskrate);
    if (m.diffdiskfraction != 0.85) real_item("DiffDiskFraction", m.diffdiskfraction);
    auto backlash = [&](const char* name, float value) {
        if (value == 0) return;
        item(name);
        add("  %s\n", real_float('g', 6, value, 1000).c_str());
    };
    backlash("XAxisBacklash", m.xAxisBacklash);
    backlash("YAxisBacklash", m.yAxisBacklash);
    if (m.zAxisCal != 0 && m.zAxisCal != 1) real_item("ZAxisCal", m.zAxisCal);
    // A backlash of 0 is a setting of its own, not the default 5.
    if (m.zAxisBacklash != 5) real_item("ZAxisBacklash", m.zAxisBacklash);
    if (m.zEncoder != 0) int_item("ZEncoder", m.zEncoder);
    if (m.zCanClosedLoop != 0) int_item("ZCanClosedLoop", m.zCanClosedLoop);
    // An entry is written up to its last value that differs from the unset entry
    // (the statement starts from the unset entry); a complete entry has all eight.
    const sb_sdc_cal unset;
    for (int i = 0; i < sb_max_mags; ++i) {
        const double* v = si->sdcCal[i].s;
        int n = 0;
        for (int k = 0; k < 8; ++k)
            if (v[k] != unset.s[k]) n = k + 1;
        if (n == 0) continue;
        item("SdcCal");
        add("  %d", i);
        for (int k = 0; k < n; ++k)
            add("  %s", real_g(v[k]).c_str());
        add("\n");
    }
    if (si->sysType == SYS_RILLET || si->radCrvFocCal != 1) real_item("RadCrvFocCal", si->radCrvFocCal);
    if (si->sysType == SYS_RILLET || si->radCrvPwrCal != 1) real_item("RadCrvPwrCal", si->radCrvPwrCal);
    // These systems cannot be read without InvertData, even when it is 0.
    if (si->invertData != 0 || type({SYS_CAIRN, SYS_FENN, SYS_RILLET})) int_item("InvertData", si->invertData);
    if (si->noIntensAvg) add("NoIntensAvg\n");
    if (si->touchScreen) add("TouchScreen\n");
    // Texts are written whenever the record holds them, an empty one as "".
    auto text = [](const char* s) { return text_value(s ? s : ""); };
    if (m.motionCtrl[0] || m.motionCtrl[1]) {
        item("MotionCtrl");
        add("  %s  %s\n", text(m.motionCtrl[0]).c_str(), text(m.motionCtrl[1]).c_str());
    }
    if (m.posInstr != 0 || m.posPort || m.posText) {
        item("PosInstr");
        add("  %s  %s", sb_name(sb_pos_instr_names, m.posInstr), text(m.posPort).c_str());
        if (m.posText) add("  %s", text(m.posText).c_str());
        add("\n");
    }
    if (m.tempSensor != 0) {
        item("TempSensor");
        add("  %s  %s\n", sb_name(sb_temp_sensor_names, m.tempSensor), text(m.tempPort).c_str());
    }
    if (m.pendentMenu) text_item("PendentMenu", m.pendentMenu);
    for (int axis = 0; axis < sb_pid_axis_count; ++axis) {
        if (!m.axisComp[axis]) continue;
        char name[16];
        std::snprintf(name, sizeof name, "AxisComp_%c", sb_pid_axis_letters[axis]);
        text_item(name, m.axisComp[axis]);
    }
    pid_sets();
}

void cal_writer::wave_monitor() {
    const sb_wave_monitor& wm = si_->wm;
    if (wm.comm) text_item("wmComm", wm.comm);
    if (wm.sysGain > 0) {
        item("wmSysGain");
        add("  %s\n", real_float('f', 6, wm.sysGain, 2147483647.0).c_str());
    }
    // The wave monitor systems cannot be read without wmMonOPD, even when it is 0.
    if (wm.monOPD > 0 || type({SYS_SKERRY, SYS_SKERRY_CAN})) {
        item("wmMonOPD");
        add("  %s\n", exact_real('f', 6, wm.monOPD).c_str());
    }
    auto tune = [&](const char* name, const double* v) {
        // 0 is a setting; only the infinite default means none.
        if (!std::isfinite(v[0]) || v[0] < 0) return;
        // Kept multiplied by 1e9: the text must give the stored value after the
        // reader's conversion.
        auto scaled = [](double stored) {
            return exact_real('f', 3, stored / 1e9, [stored](double read) { return read * 1e9 == stored; });
        };
        item(name);
        add("  %s  %s\n", scaled(v[0]).c_str(), scaled(v[1]).c_str());
    };
    tune("wmTuneRange", wm.tuneRange);
    tune("wmTuneRate", wm.tuneRate);
    if (wm.maxBuckets != 0 || wm.memLimit != 0) {
        item("wmMaxBuckets");
        add("  %d  %lld\n", wm.maxBuckets, static_cast<long long>(wm.memLimit / 1048576));
    }
    if (wm.fennsiInvertData != 0) int_item("FennsiInvertData", wm.fennsiInvertData);
    if (wm.absWaveMeter != 0 || wm.absWaveMeterPort) {
        item("AbsWaveMeter");
        add("  %d  %s\n", wm.absWaveMeter, text_value(wm.absWaveMeterPort ? wm.absWaveMeterPort : "").c_str());
    }
    if (const sb_dyn_wave_gen* g = si_->dynWaveGen) {
        item("DynWaveGen");
        add("  %d  %d  %d\n", g->value[0], g->value[1], g->value[2]);
    }
}

void cal_writer::enc_zoom() {
    const sb_enc_zoom* z = si_->encZoom;
    if (!z) return;
    int_item("TarnEncZoomConfig", z->config);
    if (z->backlash != 0) int_item("TarnEncZoomBacklash", z->backlash);
    auto limits = [&](const char* name, const int32_t* v) {
        if (v[0] == 0 && v[1] == 0) return;
        item(name);
        add("  %d  %d\n", v[0], v[1]);
    };
    limits("TarnEncZoomProgLim", z->progLim);
    limits("TarnEncZoomWandLim", z->wandLim);
    const int n = z->stdMagCount < sb_max_mags ? z->stdMagCount : sb_max_mags;
    if (n > 0) {
        item("TarnEncZoomStdMags");
        for (int i = 0; i < n; ++i)
            add("  %s", real_g(z->stdMags[i]).c_str());
        add("\n");
    }
    if (z->calFile) text_item("TarnEncZoomCalFile", z->calFile);
}

void cal_writer::radius_scale(const char* name, const sb_radius_scale& s) {
    if (!s.given && s.flag == 0 && s.a == 0 && s.b == 0 && s.n == 0 && s.c == 0) return;
    item(name);
    add("  %d  %s  %s  %d  %s\n", s.flag, real_g(s.a).c_str(), real_g(s.b).c_str(), s.n, real_g(s.c).c_str());
}

int32_t cal_writer::run(std::string* text) {
    const sysInfo* si = si_;
    add("# Varo System Calibration File\n");
    identity();
    camera();
    light();
    llc();
    scanner();
    magnifications();
    const sb_camera& cam = si->camera;
    const bool split = cam.splitDir == 1 || cam.splitDir == 2;
    if (split) {
        item(cam.splitDir == 1 ? "Camera SplitX" : "Camera SplitY");
        add("  %d  %d\n", cam.splitLoc, cam.splitValue);
    }
    // One line per magnification index with a split, and for any other index whose
    // translation is set (the statement takes every index once a magnification is
    // given).
    for (int i = 0; i < sb_max_mags && mags_written_; ++i) {
        if (!(split && i < mag_count_) && cam.trans[i][0] == 0 && cam.trans[i][1] == 0) continue;
        item("Camera Trans");
        add("  %d  %d  %d\n", i, cam.trans[i][0], cam.trans[i][1]);
    }
    // The Fenn statements are read on every system; their values are kept wherever
    // the record has them.
    if (si->fenn) fenn();
    motion();
    wave_monitor();
    enc_zoom();
    radius_scale("EncodedRadiusScale", si->encodedRadiusScale);
    radius_scale("IntfRadiusScale", si->intfRadiusScale);
    if (si->sleepTimeout != 14400) {
        const int s = si->sleepTimeout;
        item("SleepTimeout");
        add("  %d:%02d:%02d", s / 3600, s % 3600 / 60, s % 60);
    }
    *text = std::move(out_);
    return result_;
}

std::string temp_directory() {
    try {
        std::error_code ec;
        const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
        return ec ? std::string() : dir.string();
    } catch (...) {
        return std::string();  // a directory name the narrow form cannot carry
    }
}

}  // namespace

std::string sb_default_cal_path(const sysInfo* si) {
    const int digit = si->calFileNum >= 0 && si->calFileNum <= 9 ? si->calFileNum : si->slot;
    std::string name = u_machine_name(digit);
    name.back() = static_cast<char>('0' + digit);
    const char* config = u_config_dir();
    return paths::join(config ? config : "./", name, platform::path_separator());
}

int32_t sb_format_cal(const sysInfo* si, std::string* text) {
    cal_writer writer(si);
    return writer.run(text);
}

int32_t sb_writeCal(int slot, const char* path) {
    sysInfo* si = sb_slot(slot);
    if (!si) return ERR_PARAM_OUT_OF_RANGE;
    // A handle the host holds on the calibration file would keep the file from being
    // replaced (on Windows); it is closed and forgotten first.
    if (si->calFileHandle != 0) {
        platform::close_host_handle(si->calFileHandle);
        si->calFileHandle = 0;
    }
    sb_message_count() = 0;
    const std::string target = path && path[0] ? std::string(path) : sb_default_cal_path(si);

    const std::string directory = temp_directory();
    std::string temp;
    // Created exclusively and written through this handle only: no other
    // program can slip a file in under the name between creation and use.
    platform::file_handle file = directory.empty() ? platform::file_handle()
                                                   : platform::file_handle::create_unique(directory, "_calfile", &temp);
    if (!file.valid()) {
        write_message(si, "Cannot create temp file.");
        return ERR_CANT_CREATE_FILE;
    }
    std::string text;
    int32_t result = sb_format_cal(si, &text);
    // Text: lines end as text files on this system do; the reader takes LF and CR LF alike.
    bool written = file.write_text(text.data(), text.size());
    written = file.close() && written;
    if (!written) {
        write_message(si, "Cannot write temp file \"%s\": %s", temp.c_str(), std::strerror(platform::last_error()));
        result = ERR_CANT_WRITE_FILE;
    }
    // The copy replaces the target's contents as a whole, so a failure leaves it as it was.
    if (result == 0 && u_copy_file(temp.c_str(), target.c_str()) != 0) {
        write_message(si, "Cannot copy temp file \"%s\" to \"%s\"", temp.c_str(), target.c_str());
        result = ERR_CANT_WRITE_FILE;
    }
    platform::remove_file(temp);
    return result;
}

}  // namespace mf
