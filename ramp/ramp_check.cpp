#include <cmath>
#include <cstdio>
#include <optional>

#include "calfile/sysinfo.h"
#include "common/errors.h"
#include "common/msg.h"
#include "ramp/ramp_file.h"

namespace mf {

namespace {

bool board_accepts(int32_t boardType, int32_t rampBoard) {
    if (boardType == BOARD_CAN) return rampBoard == 0 || rampBoard == BOARD_SABLEQV || rampBoard == BOARD_CAN;
    return rampBoard == 0 || rampBoard == boardType;
}

// The fringes per frame a ramp is used with, or nothing when its header allows none.
std::optional<float> accepted_fpf(const rr_ramp_hdr_t& hdr) {
    const float fpf = hdr.fringesPerFrame;
    if (rr_is_pmi(hdr.rampType)) {
        const int32_t n = hdr.nBuckets;
        if (n > 13) return fpf;
        const bool quarter = n == 5 || n == 7;
        const bool eighth = n == 11 || n == 13;
        if (fpf == 0.0f) {
            if (quarter) return 0.25f;
            if (eighth) return 0.125f;
            return std::nullopt;
        }
        if (fpf == 0.25f && quarter) return fpf;
        if (fpf == 0.125f && eighth) return fpf;
        return std::nullopt;
    }
    if (fpf != 0.0f) {
        // An odd multiple of a quarter fringe: 0.25, 0.75, 1.25, ...
        if (std::fmod(4.0 * fpf, 2.0) == 1.0) return fpf;
        return std::nullopt;
    }
    const float slope = hdr.rampSlope;
    if (slope == 81.0f) return 0.25f;
    if (slope == 243.0f) return 0.75f;
    if (slope == 405.0f) return 1.25f;
    if (slope == 567.0f) return 1.75f;
    return std::nullopt;
}

void adopt_scanner(const char* name, rr_ramp_hdr_t* hdr, int32_t serial, const char* scanner) {
    if (hdr->pztID == serial) return;
    u_sink("Warning: ramp data file \"%s\" was generated for a different %s\n", name, scanner);
    u_sink("Changing ramp S/N from %d to %d\n", hdr->pztID, serial);
    hdr->pztID = serial;
}

// Truncates a header value toward zero into an int, refusing what an int cannot hold.
bool whole_part(double v, int* out) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

int32_t rr_check_ramp_hdr(const char* filename, rr_ramp_hdr_t* hdr, int32_t boardType, int32_t pifocSerial,
                          int32_t pztSerial) {
    if (!hdr) return ERR_INVALID_PARAM;
    const char* name = filename ? filename : "";
    if (!board_accepts(boardType, hdr->instrBdType)) {
        u_sink("Error: ramp data file %s is not compatible with this instrument\n", name);
        return ERR_WRONG_INSTR_BOARD;
    }
    const int32_t type = hdr->rampType;
    if (rr_is_pmi(type)) {
        if (pztSerial == -1) {
            u_sink("Error: ramp data file \"%s\" can only be used with a PZT\n", name);
            return ERR_INVALID_PARAM;
        }
        adopt_scanner(name, hdr, pztSerial, "PZT");
    } else if (type != RAMP_TYPE_SWLI && type != RAMP_TYPE_BTW) {
        u_sink("Error: ramp data file \"%s\" is of unknown type %d\n", name, type);
        return ERR_CORRUPT_RAMP_FILE;
    } else {
        if (pifocSerial == -1) {
            u_sink("Error: ramp data file \"%s\" can only be used with a PIFOC\n", name);
            return ERR_INVALID_PARAM;
        }
        adopt_scanner(name, hdr, pifocSerial, "PIFOC");
    }
    const std::optional<float> fpf = accepted_fpf(*hdr);
    if (!fpf) {
        u_sink("Error: invalid fringesPerFrame %g in ramp data file \"%s\"\n",
               static_cast<double>(hdr->fringesPerFrame), name);
        return ERR_INVALID_PARAM;
    }
    if (*fpf != hdr->fringesPerFrame) hdr->fringesPerFrame = *fpf;
    return 0;
}

const char* rr_get_std_ramp_filename(const rr_ramp_hdr_t* hdr) {
    static char name[128];
    if (!hdr) return nullptr;
    const int32_t type = hdr->rampType;
    if (type != RAMP_TYPE_SWLI && type != RAMP_TYPE_BTW && !rr_is_pmi(type)) {
        u_sink("rr_get_std_ramp_filename: unsupported ramp type %d\n", type);
        return nullptr;
    }
    int rate = 0, scan = 0, slope = 0, mag = 0;
    const double frames_per_second = static_cast<double>(hdr->cameraRate) / (static_cast<double>(hdr->grabSkip) + 1.0);
    // Only the fields the type's name pattern shows are checked: a value the name
    // does not use cannot make it unnamable.
    const bool scanned = !rr_is_pmi(type);
    if (!whole_part(std::floor(frames_per_second + 0.5), &rate) ||
        (scanned && (!whole_part(hdr->scanLen, &scan) || !whole_part(hdr->rampSlope, &slope))) ||
        (type == RAMP_TYPE_BTW && !whole_part(hdr->objMag, &mag))) {
        u_sink("rr_get_std_ramp_filename: invalid ramp header values\n");
        return nullptr;
    }
    char rate_text[16];
    std::snprintf(rate_text, sizeof rate_text, "%d", rate);
    const char polar = static_cast<char>(hdr->polar & 0xFF);
    if (type == RAMP_TYPE_SWLI)
        std::snprintf(name, sizeof name, "d%ds%dc%s.%c%d", scan, slope, rate_text, polar, hdr->pztID);
    else if (type == RAMP_TYPE_BTW)
        std::snprintf(name, sizeof name, "d%ds%dc%sm%d.%c%d", scan, slope, rate_text, mag, polar, hdr->pztID);
    else
        std::snprintf(name, sizeof name, "p%dc%s.%c%d", hdr->nBuckets, rate_text, hdr->rampMux == 1 ? 'q' : 'p',
                      hdr->pztID);
    return name;
}

int32_t rr_fringe_code(float fringesPerFrame, int32_t* code) {
    static const float known[] = {0.25f, 0.75f, 1.25f, 1.75f, 2.25f, 2.75f, 5.25f};
    for (float v : known) {
        if (std::fabs(fringesPerFrame - v) <= 0.001f) {
            if (code) *code = static_cast<int32_t>(v * 4.0f);
            return 0;
        }
    }
    u_sink("Invalid fringesPerFrame %g\n", static_cast<double>(fringesPerFrame));
    return ERR_INTERNAL_HX;
}

int32_t rr_scan_type_to_fpf(int32_t scanType, float* fringesPerFrame) {
    static const struct {
        int32_t scanType;
        float fpf;
    } table[] = {{1, 0.25f}, {5, 0.75f}, {9, 1.25f}, {17, 1.75f}, {33, 2.25f}, {65, 2.75f}};
    for (const auto& e : table) {
        if (e.scanType == scanType) {
            if (fringesPerFrame) *fringesPerFrame = e.fpf;
            return 0;
        }
    }
    u_sink("Internal error: invalid scanType %d\n", scanType);
    return ERR_INTERNAL_HX;
}

}  // namespace mf
