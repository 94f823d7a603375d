// sb_readCal: the four source forms, the statement loop, the message routine, the
// completion checks and the settings derived from board and system type.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "calfile/messages.h"
#include "calfile/parse.h"
#include "calfile/record.h"
#include "common/dirs.h"
#include "common/error_codes.h"
#include "common/files.h"
#include "common/msg.h"
#include "common/text.h"

namespace mf {

namespace {

int32_t message_count = 0;
sb_source_kind source_kind = sb_source_kind::none;
std::string source_text;

bool one_of(int32_t value, std::initializer_list<int32_t> set) {
    for (int32_t v : set)
        if (v == value) return true;
    return false;
}

int32_t incomplete(const char* message) {
    sb_read_message("%s", message);
    return ERR_SB_CALFILE_INCOMPLETE;
}

int32_t completion_checks(const sysInfo* si, const sb_given& g) {
    const int32_t board = si->boardType;
    const int32_t type = si->sysType;
    if (!g.sysType) return incomplete("Missing system type info.");
    if (!g.version) return incomplete("Missing frame grabber and instrument board Version info.");
    if (!one_of(board, {BOARD_NONE, BOARD_CAIRN, BOARD_NOTNEEDED, BOARD_CAN}) && !g.instrComm)
        return incomplete("Missing InstrComm info.");
    if (one_of(type, {SYS_CAIRN, SYS_FENN, SYS_RILLET}) && !g.invertData) return incomplete("Missing InvertData info.");
    if (board == BOARD_CAN && !g.instrComm) return incomplete("Missing MAC Address for CAN bus.");
    if (type == SYS_FENN && !(si->motion.motionCtrl[0] && si->motion.motionCtrl[0][0]))
        u_sink("Missing MotionCtrl info.\n");
    if (one_of(type, {SYS_SKERRY, SYS_SKERRY_CAN})) {
        if (!g.wmComm) {
            u_sink("Calibration file missing wave monitor comm info\n");
            return ERR_SB_CALFILE_INCOMPLETE;
        }
        if (!g.wmMonOPD) {
            u_sink("Calibration file missing wave monitor OPD info\n");
            return ERR_SB_CALFILE_INCOMPLETE;
        }
    }
    if (one_of(type, {SYS_BRAE_CAN, SYS_WSTARN, SYS_WSTARNCAN}) && !g.wmSysGain)
        u_sink("Calibration file missing system gain.\n");
    if (g.bpixFile && si->camera.badPixelCount > 0) {
        sb_read_message("Bad Camera pixels specified twice using: camera bad or bpixels and camera bpix");
        return ERR_SB_CALFILE_INVALID;
    }
    if ((board == BOARD_TARN || one_of(type, {SYS_TARNCAN, SYS_SKERRY_CAN, SYS_HOLMPH, SYS_ESKERCAN, SYS_BRAE_CAN})) &&
        !g.llcTarget)
        return incomplete("Missing LLCTarget info.");
    if (si->frameGrabber != FG_NONE && si->camera.type == CAM_UNKNOWN) return incomplete("Missing Camera Type info.");
    if ((board == BOARD_SABLEQV || board == BOARD_CAIRN) && g.wavelengths == 0)
        return incomplete("Missing Light info.");
    if (one_of(type, {SYS_SCARPSABLE, SYS_SCARPSABLEQV, SYS_SCARPSABLEICO, SYS_SCARPSABLEQVICO, SYS_LOOMA, SYS_LOOMAS,
                      SYS_LOOMBS, SYS_LOOMB, SYS_SCARPDELTA, SYS_FENN}) &&
        !g.scanner)
        return incomplete("Missing PIFOC info.");
    return 0;
}

void derive_settings(sysInfo* si, const sb_given& g) {
    int32_t* range = si->llc.range;
    auto first = [&](int32_t low, int32_t high) {
        range[0] = low;
        range[1] = high;
    };
    auto second = [&](int32_t low, int32_t high) {
        range[2] = low;
        range[3] = high;
    };
    auto kame = [&] { first(2, si->camera.type == CAM_DGFLY1024 ? 800 : 532); };
    const bool given = g.llcRange > 0;
    switch (si->boardType) {
    case BOARD_TARN:
    case BOARD_BRAE:
        if (!given) first(10, 159);
        break;
    case BOARD_CAIRN:
        if (si->sysType == SYS_KAME250)
            kame();
        else if (!given)
            first(0, 4095);
        break;
    case BOARD_NOTNEEDED:
        if (si->sysType == SYS_KAME250)
            kame();
        else
            first(10, 159);
        break;
    case BOARD_FENN:
        if (!given) first(0, 3685);
        break;
    case BOARD_SABLEQV:
        if (!given) first(0, 4095);
        if (g.llcRange < 2) second(0, 100);
        break;
    case BOARD_CAN:
        if (!given) first(0, 65535);
        if (g.llcRange < 2) second(0, 65535);
        break;
    default:
        break;
    }

    sb_motion& m = si->motion;
    if (si->boardType != BOARD_CAN && m.zoom == 2) {
        sb_read_message("This instrument cannot have a motorized zoom.");
        m.zoom = 0;
    }
    if (si->boardType == BOARD_CAN && one_of(si->sysType, {SYS_LOOMA, SYS_LOOMB}) && !sb_has_dual_brush_motor(si)) {
        if (m.turret[0] != 0) {
            sb_read_message("This instrument cannot have a motorized turret, no dual brush motor board.");
            m.turret[0] = 0;
            m.turret[1] = 1;
        }
        if (m.zoom != 0) {
            sb_read_message("This instrument cannot have a motorized zoom, no dual brush motor board.");
            m.zoom = 0;
        }
    }
}

}  // namespace

int32_t sb_read_statements(sb_lexer& lex, sysInfo* si) {
    sb_parse p{lex, si};
    int line = 0;
    int32_t result = 0;
    for (;;) {
        ++line;
        result = 0;
        const sb_lexer::kind k = lex.token(p.word);
        if (lex.open_quote()) {
            // A line that opens a quote and never closes it is no statement and no
            // comment: a text cut by the line end (or the end of the file), reported
            // with its line.
            result = ERR_EOL;
        } else if (k == sb_lexer::kind::eof) {
            break;
        } else if (k != sb_lexer::kind::eol) {
            const sb_token keyword = sb_lookup_keyword(p.word.c_str());
            if (keyword == TK_NONE_TOKEN) {
                sb_read_message("Unrecognized token \"%s\"", p.word.c_str());
                return ERR_SB_CALFILE_SYNTAX;
            }
            result = sb_statement(p, keyword);
        }
        // Running out of memory or of input ends the read without a line message.
        if (result == ERR_EOF || result == ERR_NO_MEM) return result;
        if (result) sb_read_message("Error in line %d.", line);
        if (message_count >= 10) break;
        if (!lex.skip_line()) break;
    }
    if (result) return result;
    if (message_count) return ERR_SB_CALFILE_INVALID;
    const int32_t status = completion_checks(si, p.given);
    if (status) return status;
    derive_settings(si, p.given);
    return message_count ? ERR_SB_CALFILE_INVALID : 0;
}

namespace {

int32_t read_file(sysInfo* si, const char* source) {
    std::string name;
    if (source && source[0]) {
        name = source;
    } else {
        // The computer name part is computed once per process; the digit is the slot's.
        const int digit = si->calFileNum >= 0 && si->calFileNum <= 9 ? si->calFileNum : si->slot;
        name = u_machine_name(digit);
        name.back() = static_cast<char>('0' + digit);
    }
    sb_set_message_source(sb_source_kind::file, name.c_str());
    const char* found = nullptr;
    const int32_t status = u_find_file(name.c_str(), &found);
    if (status || !found) {
        sb_read_message("Cannot access file.");
        return status ? status : ERR_CANT_READ_FILE;
    }
    const std::string path = found;
    sb_set_message_source(sb_source_kind::file, path.c_str());
    u_sink("Reading system calibration file: \"%s\"\n", path.c_str());
    // Binary mode: line ends are handled by the lexer, so CRLF files read alike everywhere.
    std::FILE* file = u_fopen(path.c_str(), "rb");
    if (!file) {
        sb_read_message("Cannot open file for reading.");
        return ERR_CANT_READ_FILE;
    }
    int32_t result = sb_set_text(&si->calFilePath, path.c_str());
    if (result == 0) {
        sb_setDefaults(si);
        sb_lexer lex(file);
        result = sb_read_statements(lex, si);
    }
    std::fclose(file);
    return result;
}

int32_t read_statement(sysInfo* si, const char* statement) {
    const std::size_t size = std::strlen(statement);
    char* text = static_cast<char*>(u_malloc(size + 1));
    if (!text) return ERR_NO_MEM;
    std::memcpy(text, statement, size + 1);
    sb_set_message_source(sb_source_kind::statement, statement);

    sb_lexer lex(text, size);
    sb_parse p{lex, si};
    int32_t result = 0;
    const sb_lexer::kind k = lex.token(p.word);
    if (lex.open_quote()) {
        result = ERR_EOL;
    } else if (k != sb_lexer::kind::eol && k != sb_lexer::kind::eof) {
        const sb_token keyword = sb_lookup_keyword(p.word.c_str());
        if (keyword == TK_NONE_TOKEN) {
            sb_read_message("Unrecognized token \"%s\"", p.word.c_str());
            result = ERR_SB_CALFILE_SYNTAX;
        } else {
            result = sb_statement(p, keyword);
        }
    }
    u_free(text);
    // A statement that was refused with a message alone (one that needs an earlier
    // statement) must not read as success.
    if (result == 0 && message_count > 0) result = ERR_SB_CALFILE_INVALID;
    return result;
}

}  // namespace

int32_t& sb_message_count() { return message_count; }

void sb_set_message_source(sb_source_kind kind, const char* text) {
    source_kind = text ? kind : sb_source_kind::none;
    source_text = text ? text : "";
}

void sb_read_message(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = u_vformat(fmt, args);
    va_end(args);
    const char* header = "";
    std::string where;
    if (message_count == 0) {
        header = "Error(s) reading system calibration ";
        switch (source_kind) {
        case sb_source_kind::file:
            where = "file \"" + source_text + "\":\n";
            break;
        case sb_source_kind::statement:
            where = "info\n\"" + source_text + "\":\n";
            break;
        case sb_source_kind::none:
            where = "info:\n";
            break;
        }
    }
    ++message_count;
    u_sink("%s%s%s\n", header, where.c_str(), text.c_str());
}

bool sb_has_dual_brush_motor(const sysInfo* si) {
    if (si->boardType != BOARD_CAN) return false;
    if (one_of(si->sysType, {SYS_SCARPSABLEICO, SYS_SCARPSABLEQVICO})) return true;
    if (one_of(si->sysType, {SYS_LOOMA, SYS_LOOMAS, SYS_LOOMAP, SYS_LOOMB, SYS_LOOMBS, SYS_LOOMBP}))
        return si->present.dualBrushMotor != 0;
    return false;
}

int32_t sb_readCal(int slot, const char* source) {
    sysInfo* si = sb_slot(slot);
    if (!si) return ERR_PARAM_OUT_OF_RANGE;
    message_count = 0;
    if (source && source[0] == '+') {
        if (std::strcmp(source, "+DEFAULTS") == 0) {
            sb_setDefaults(si);
            return 0;
        }
        return read_statement(si, source + 1);
    }
    return read_file(si, source);
}

}  // namespace mf
