#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "calfile/sysinfo.h"
#include "common/alloc.h"
#include "common/errors.h"
#include "common/msg.h"
#include "ramp/ramp_set.h"

namespace mf {

namespace {

bool positive(double v) { return std::isfinite(v) && v > 0.0; }

// Whole part of a value that must fit a header integer.
bool whole(double v, int32_t* out) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

int32_t refuse_source(const char* what) {
    u_sink("Error: cannot derive a ramp from source ramp values: %s\n", what);
    return ERR_INVALID_PARAM;
}

// 0.25 is a whole multiple of it, or it is a whole multiple of 0.25.
bool derivable_fpf(float fpf) {
    if (!(fpf > 0.0f) || !std::isfinite(fpf)) return false;
    const double up = 0.25 / static_cast<double>(fpf);
    const double down = static_cast<double>(fpf) / 0.25;
    return up == std::floor(up) || down == std::floor(down);
}

bool dac_value(double v, uint16_t* out) {
    if (!(v >= 0.0 && v < 65536.0)) return false;
    *out = static_cast<uint16_t>(v);
    return true;
}

// Resamples the source's points for a scan of c times its length: the trigger
// window keeps its place and length, the middle c of the source's scan is spread
// over it, and the run-up is scaled to meet it. False when the source's points and
// trigger addresses allow no such resampling.
bool resample(const rr_ramp_hdr_t& src, const uint16_t* p, double c, uint16_t* q, double* e_out) {
    const int32_t n = src.nPoints, s = src.trigStartAddr, t = src.trigEndAddr, o = src.offset;
    if (!(s >= 0 && s < t && t <= n)) return false;
    const int32_t w = t - s;
    const int32_t i0 = s + static_cast<int32_t>((1.0 - c) * w / 2.0);
    const int32_t i1 = s + static_cast<int32_t>((1.0 + c) * w / 2.0) + (n - t);
    if (!(i0 >= 0 && i0 < i1 && i1 <= n - 1)) return false;

    // Run-up: the source's run-up scaled so that it arrives where the new scan starts.
    const double from = static_cast<double>(p[s]) - o, to = static_cast<double>(p[i0]) - o;
    if (s > 0 && (from == 0.0 || to == 0.0)) return false;
    for (int32_t j = 0; j < s; ++j) {
        const double v = std::trunc((static_cast<double>(p[j]) - o) / (from / to)) + o;
        if (!dac_value(v, &q[j])) return false;
    }

    // e output points per source step: k whole ones, and the fraction r collected
    // in an accumulator that adds a point, between its neighbours, when it passes 1.
    const double e = static_cast<double>(n - s) / (i1 - i0);
    const int32_t k = static_cast<int32_t>(e);
    const double r = e - k;
    if (k < 1) return false;
    double f = p[i0], a = 0.0;
    int32_t out = s;
    auto emit = [&](double v) {
        if (out >= n) return true;  // the points end with the source's count
        if (!dac_value(v, &q[out])) return false;
        ++out;
        return true;
    };
    for (int32_t i = i0; i < i1; ++i) {
        const double step = (static_cast<double>(p[i + 1]) - p[i]) / e;
        for (int32_t m = 0; m < k; ++m) {
            if (!emit(std::trunc(f))) return false;
            f += step;
        }
        a += r;
        if (a > 1.0) {
            const int32_t previous = q[out - 1];
            if (!emit((previous + static_cast<int32_t>(std::trunc(f))) >> 1)) return false;
            f += step;
            a -= 1.0;
        }
    }
    if (a > 0.5 && !emit(std::trunc(f))) return false;
    *e_out = e;
    return true;
}

}  // namespace

int32_t rr_derive_ramp(const rr_ramp_entry* source, rr_ramp_entry* target, const rr_ramp_spec* spec) {
    if (!source || !target || !spec) return ERR_INVALID_PARAM;
    target->points = nullptr;
    if (spec->rampType != RAMP_TYPE_SWLI && spec->rampType != RAMP_TYPE_BTW) {
        u_sink("Error: derived ramp must be type SWLI or BTW\n");
        return ERR_INVALID_PARAM;
    }
    const rr_ramp_hdr_t& src = source->hdr;
    if (spec->scanLen > src.scanLen) {
        u_sink("Error: derived ramp must have smaller scan length\n");
        return ERR_PARAM_OUT_OF_RANGE;
    }
    if (!derivable_fpf(spec->fringesPerFrame)) {
        u_sink("Error: fringesPerFrame = %g is invalid for derived ramp\n", static_cast<double>(spec->fringesPerFrame));
        return ERR_INVALID_PARAM;
    }
    if (spec->rampType == RAMP_TYPE_BTW && !(spec->objMag > 0.0f)) {
        u_sink("Error: BTW ramp must specify an objective mag\n");
        return ERR_INVALID_PARAM;
    }
    // What the derivation divides by, and what it reads, must be there.
    if (!source->points || src.nPoints <= 0) return refuse_source("no points");
    if (!positive(src.scanLen) || !positive(spec->scanLen)) return refuse_source("scanLen");
    if (!positive(src.rampSlope) || !positive(spec->rampSlope)) return refuse_source("rampSlope");
    if (!positive(src.cameraRate) || !positive(spec->cameraRate)) return refuse_source("cameraRate");
    if (src.grabSkip < 0 || spec->grabSkip < 0) return refuse_source("grabSkip");
    if (!positive(src.sampleClkFreq)) return refuse_source("sampleClkFreq");

    const size_t n = static_cast<size_t>(src.nPoints);
    auto* q = static_cast<uint16_t*>(u_malloc(n * sizeof(uint16_t)));
    if (!q) return ERR_NO_MEM;
    rr_ramp_entry out = *source;
    out.points = q;
    rr_ramp_hdr_t& h = out.hdr;
    h.rampType = spec->rampType;
    h.wavelenSelect = spec->wavelenSelect;
    h.cameraRate = spec->cameraRate;
    h.scanLen = spec->scanLen;
    h.cameraInterlace = spec->cameraInterlace;
    h.grabSkip = spec->grabSkip;
    h.fringesPerFrame = spec->fringesPerFrame;
    h.rampSlope = spec->rampSlope;
    h.objMag = spec->objMag;
    h.scanCal = spec->scanCal;

    // h: the new scan speed over the source's, both in nm per second.
    const double g = static_cast<double>(h.cameraRate) / (h.grabSkip + 1.0);
    const double speed =
        static_cast<double>(h.rampSlope) * g /
        (static_cast<double>(src.rampSlope) * static_cast<double>(src.cameraRate) / (src.grabSkip + 1.0));

    int32_t status = 0;
    if (spec->scanLen == src.scanLen) {
        std::memcpy(q, source->points, n * sizeof(uint16_t));
    } else {
        std::memcpy(q, source->points, n * sizeof(uint16_t));
        double e = 0.0;
        const double c = static_cast<double>(spec->scanLen) / static_cast<double>(src.scanLen);
        if (!resample(src, source->points, c, q, &e)) {
            status = refuse_source("trigger addresses and points allow no shorter scan");
        } else {
            h.sampleClkFreq = static_cast<float>(static_cast<double>(h.sampleClkFreq) * e);
            if (!whole(65536.0 - 4000.0 / static_cast<double>(h.sampleClkFreq), &h.updateRate) ||
                !whole(static_cast<double>(h.trigEndAddr - h.trigStartAddr) * h.cameraRate / (h.grabSkip + 1.0) /
                           (1000.0 * static_cast<double>(h.sampleClkFreq)),
                       &h.nBuckets))
                status = refuse_source("sampleClkFreq");
        }
    }
    if (status == 0) {
        const double clock = static_cast<double>(h.sampleClkFreq) * speed;
        h.sampleClkFreq = static_cast<float>(clock);
        const double rate = 65536.0 - 4000.0 / static_cast<double>(h.sampleClkFreq);
        if (!positive(h.sampleClkFreq)) {
            status = refuse_source("sampleClkFreq");
        } else if (rate < 0.0) {
            u_sink("Error: sampleClkFreq = %g KHz is too low\n", static_cast<double>(h.sampleClkFreq));
            status = ERR_INVALID_PARAM;
        } else {
            h.updateRate = static_cast<int32_t>(std::lround(rate));
            if (!whole(g * (h.trigEndAddr - h.trigStartAddr) / (1000.0 * static_cast<double>(h.sampleClkFreq)),
                       &h.nBuckets))
                status = refuse_source("sampleClkFreq");
        }
    }
    if (status == 0 && h.compFilter > 0) {
        // Compensation follows the speed: a much slower ramp needs more gain, a much
        // faster one less.
        if (speed < 0.5 && h.compGain < 2) ++h.compGain;
        if (speed > 2.0 && h.compGain > 0) --h.compGain;
        for (int32_t* adc : {&h.adcMin, &h.adcMax, &h.adcFirst, &h.adcMid, &h.adcLast})
            if (status == 0 && !whole(*adc * speed, adc)) status = refuse_source("adc values");
    }
    if (status != 0) {
        u_free(q);
        return status;
    }
    // "+" and as much of the source's name as the field holds.
    out.name[0] = '+';
    std::memcpy(out.name + 1, source->name, rr_max_name - 1);
    out.name[rr_max_name] = '\0';
    *target = out;
    return 0;
}

int32_t rr_make_ext_profile(const sysInfo* si, const rr_ramp_spec* spec, rr_ramp_entry* entry, char* reason,
                            size_t reason_size) {
    if (!si || !spec || !entry || !reason || reason_size == 0) return ERR_INVALID_PARAM;
    reason[0] = '\0';
    static const char prefix[] = "extprofile";
    const char* name = spec->fileName;
    const char* p = name + sizeof prefix - 1;
    int64_t index = 0;
    bool digits = false;
    if (std::strncmp(name, prefix, sizeof prefix - 1) == 0) {
        for (; *p >= '0' && *p <= '9'; ++p) {
            digits = true;
            if (index < 1000000) index = index * 10 + (*p - '0');
        }
    }
    if (!digits || p[0] != '.' || p[1] == '\0' || p[2] == '\0') {
        std::snprintf(reason, reason_size, "Invalid external profile ramp name %s", name);
        return ERR_INVALID_PARAM;
    }
    const int32_t max = rr_get_max_num_instr_ramps(si);
    if (index > max) {
        std::snprintf(reason, reason_size, "External profile ramp index %d is greater than maximum %d",
                      static_cast<int>(index), max);
        return ERR_INVALID_PARAM;
    }
    // The number of frames and points follow from the scan; without a speed and a
    // frame rate there are none.
    if (!positive(spec->rampSlope) || !positive(spec->cameraRate) || !(spec->scanLen >= 0.0f)) {
        std::snprintf(reason, reason_size, "External profile ramp %s needs a scan speed and a camera rate", name);
        return ERR_INVALID_PARAM;
    }
    int32_t buckets = 0, points = 0;
    if (!whole(std::ceil(static_cast<double>(spec->scanLen) * 1000.0 / spec->rampSlope), &buckets) ||
        !whole(buckets / static_cast<double>(spec->cameraRate) * 5000.0, &points)) {
        std::snprintf(reason, reason_size, "External profile ramp %s needs a scan speed and a camera rate", name);
        return ERR_INVALID_PARAM;
    }
    rr_ramp_entry e{};
    std::snprintf(e.name, sizeof e.name, "%s", name);
    rr_ramp_hdr_t& h = e.hdr;
    h.magicNumber = rr_ramp_magic;
    h.rampType = spec->rampType;
    h.wavelenSelect = spec->wavelenSelect;
    h.sampleClkFreq = 5.0f;
    h.cameraRate = spec->cameraRate;
    h.grabSkip = spec->grabSkip;
    h.rampSlope = spec->rampSlope;
    h.scanLen = spec->scanLen;
    h.scanCal = spec->scanCal;
    h.fringesPerFrame = spec->fringesPerFrame;
    h.objMag = spec->objMag;
    h.cameraInterlace = spec->cameraInterlace;
    h.offset = 32768;
    h.instrBdType = si->boardType;
    h.nBuckets = buckets;
    h.nPoints = points;
    h.rampID = static_cast<int32_t>(index);
    h.polar = static_cast<unsigned char>(p[1]);
    e.rising = p[2] == 'n' ? 0 : 1;
    e.slot = static_cast<int32_t>(index);
    e.hide = spec->hide;
    *entry = e;
    return 0;
}

}  // namespace mf
