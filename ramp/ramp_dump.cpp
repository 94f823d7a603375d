#include <cstddef>
#include <cstdio>
#include <cstring>

#include "ramp/ramp_file.h"

namespace mf {

namespace {

enum class Kind { Int, Float, Polar };

struct Field {
    const char* name;
    std::size_t offset;
    Kind kind;
};

#define RR_FIELD(member, kind) \
    { #member, offsetof(rr_ramp_hdr_t, member), Kind::kind }

// Listed fields in offset order; the reserved areas are left out.
const Field fields[] = {
    RR_FIELD(magicNumber, Int),
    RR_FIELD(rampType, Int),
    RR_FIELD(pztID, Int),
    RR_FIELD(rampID, Int),
    RR_FIELD(nPoints, Int),
    RR_FIELD(rampUp, Int),
    RR_FIELD(rampStart, Int),
    RR_FIELD(rampLinear, Int),
    RR_FIELD(rampEnd, Int),
    RR_FIELD(sampleClkFreq, Float),
    RR_FIELD(cameraRate, Float),
    RR_FIELD(updateRate, Int),
    RR_FIELD(grabSkip, Int),
    RR_FIELD(rampSlope, Float),
    RR_FIELD(trigStartAddr, Int),
    RR_FIELD(trigEndAddr, Int),
    RR_FIELD(rampGainDflt, Int),
    {"rampTriple[0]", offsetof(rr_ramp_hdr_t, rampTriple) + 0, Kind::Float},
    {"rampTriple[1]", offsetof(rr_ramp_hdr_t, rampTriple) + 4, Kind::Float},
    {"rampTriple[2]", offsetof(rr_ramp_hdr_t, rampTriple) + 8, Kind::Float},
    RR_FIELD(scanLen, Float),
    RR_FIELD(polar, Polar),
    RR_FIELD(offset, Int),
    RR_FIELD(nBuckets, Int),
    RR_FIELD(rampLin, Float),
    RR_FIELD(rampTrim, Float),
    RR_FIELD(cameraPClock, Float),
    RR_FIELD(cameraHPeriod, Int),
    RR_FIELD(cameraVPeriod, Int),
    RR_FIELD(cameraInterlace, Int),
    RR_FIELD(rampMux, Int),
    RR_FIELD(instrBdType, Int),
    RR_FIELD(compGain, Int),
    RR_FIELD(compFilter, Int),
    RR_FIELD(leakage, Int),
    RR_FIELD(adcMin, Int),
    RR_FIELD(adcMax, Int),
    RR_FIELD(adcFirst, Int),
    RR_FIELD(adcMid, Int),
    RR_FIELD(adcLast, Int),
    RR_FIELD(scanCal, Float),
    RR_FIELD(fringesPerFrame, Float),
    RR_FIELD(objMag, Float),
    RR_FIELD(wavelenSelect, Int),
};

#undef RR_FIELD

}  // namespace

void rr_dump_ramp_hdr(std::FILE* stream, const rr_ramp_hdr_t* hdr, const uint16_t* points, bool compact) {
    if (!stream || !hdr) return;
    const auto* base = reinterpret_cast<const unsigned char*>(hdr);
    for (const Field& f : fields) {
        const int first = static_cast<int>(f.offset) + 1;
        const int last = first + 3;
        std::fprintf(stream, "# %3d-%3d  %-18s ", first, last, f.name);
        switch (f.kind) {
        case Kind::Int: {
            int32_t v;
            std::memcpy(&v, base + f.offset, 4);
            std::fprintf(stream, "= %d\n", v);
            break;
        }
        case Kind::Float: {
            float v;
            std::memcpy(&v, base + f.offset, 4);
            std::fprintf(stream, "= %g\n", static_cast<double>(v));
            break;
        }
        case Kind::Polar:
            std::fprintf(stream, "= %c\n", static_cast<char>(hdr->polar & 0xFF));
            break;
        }
    }
    std::fprintf(stream, "# %3d-%3d  %-18s\n", static_cast<int>(offsetof(rr_ramp_hdr_t, spare)) + 1,
                 static_cast<int>(sizeof(rr_ramp_hdr_t)), "spare");
    std::fprintf(stream, "# sizeof rr_ramp_hdr_t = %d\n", static_cast<int>(sizeof(rr_ramp_hdr_t)));

    if (!points || hdr->nPoints <= 0) return;
    const int32_t n = hdr->nPoints;
    if (!compact) {
        for (int32_t i = 0; i < n; ++i)
            std::fprintf(stream, "%u\n", static_cast<unsigned>(points[i]));
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        std::fprintf(stream, "%u  ", static_cast<unsigned>(points[i]));
        if (i % 10 == 0) std::fputc('\n', stream);
    }
    std::fputc('\n', stream);
}

}  // namespace mf
