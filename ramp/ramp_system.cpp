#include "calfile/sysinfo.h"
#include "common/errors.h"
#include "ramp/ramp_file.h"

namespace mf {

int32_t rr_scanner_serials(const sysInfo* si, int32_t* pifocSerial, int32_t* pztSerial) {
    if (!si) return ERR_SYS_INFO_NOT_AVAIL;
    const sb_pifoc* pifoc = si->scanner.pifoc;
    // These two system types drive their scans with a PIFOC only.
    const bool no_pzt = si->sysType == SYS_SCARPSABLE || si->sysType == SYS_SCARPSABLEICO;
    if (pifocSerial) *pifocSerial = pifoc ? pifoc->serial : -1;
    if (pztSerial) *pztSerial = no_pzt ? -1 : si->serialNum;
    return 0;
}

int32_t rr_check_ramp_for_system(const char* filename, rr_ramp_hdr_t* hdr, const sysInfo* si) {
    int32_t pifoc = -1, pzt = -1;
    if (int32_t status = rr_scanner_serials(si, &pifoc, &pzt)) return status;
    return rr_check_ramp_hdr(filename, hdr, si->boardType, pifoc, pzt);
}

}  // namespace mf
