// Any bytes as a ramp configuration file: the reader gives one of its documented
// codes, and every line it accepts holds values inside the ranges the file format
// allows, with a file name that fits its field.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/alloc.h"
#include "common/errors.h"
#include "common/msg.h"
#include "ramp/ramp_config.h"

namespace {

void quiet(const char*, ...) {}

bool valid(const mf::rr_ramp_spec& s) {
    using namespace mf;
    const bool pmi = s.rampType == 1, btw = s.rampType == RAMP_TYPE_BTW;
    if (!pmi && !btw && s.rampType != RAMP_TYPE_SWLI) return false;
    if (s.wavelenSelect < 0 || s.wavelenSelect > 4 || (!btw && s.wavelenSelect != 0)) return false;
    if (std::memchr(s.fileName, '\0', sizeof s.fileName) == nullptr || s.fileName[0] == '\0') return false;
    if (!(s.scanLen >= 0 && s.scanLen < 1000) || (pmi ? s.scanLen != 0 : !(s.scanLen > 0))) return false;
    if (!(s.cameraRate > 0 && s.cameraRate <= 50000)) return false;
    if (s.cameraInterlace != 0 && s.cameraInterlace != 1) return false;
    if (s.grabSkip < 0 || s.grabSkip > 99) return false;
    if (!(s.fringesPerFrame > 0 && s.fringesPerFrame < 10)) return false;
    if (!(s.rampSlope >= 0 && s.rampSlope < 4000) || (!pmi && !(s.rampSlope > 0))) return false;
    if (!(s.objMag >= 0 && s.objMag < 1000) || (btw && !(s.objMag > 0))) return false;
    if (pmi ? s.scanCal != 0 : !(s.scanCal > 0.5f && s.scanCal < 1.5f)) return false;
    return s.hide == 0 || s.hide == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mf;
    u_set_msg_sink(quiet);
    rr_ramp_spec* specs = nullptr;
    int32_t count = -1;
    const int32_t status =
        rr_read_ramp_config_memory("fuzz", reinterpret_cast<const char*>(data), size, &specs, &count);
    if (status != 0) {
        if (status != ERR_CORRUPT_RAMP_CFG_FILE && status != ERR_NO_MEM) std::abort();
        if (specs || count != 0) std::abort();
    } else {
        if (!specs || count <= 0) std::abort();
        rr_ramp_hdr_t hdr{};
        for (int32_t i = 0; i < count; ++i) {
            if (!valid(specs[i])) std::abort();
            rr_match_ramp_spec(&specs[i], &hdr);
        }
    }
    u_free(specs);
    u_set_msg_sink(nullptr);
    return 0;
}
