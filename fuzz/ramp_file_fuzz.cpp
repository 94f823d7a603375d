// Any byte sequence as a ramp data file: the reader gives a documented code, and a
// ramp it accepts survives the check, the naming, the dump and a rewrite that
// reproduces the bytes it was read from.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "calfile/sysinfo.h"
#include "common/alloc.h"
#include "common/errors.h"
#include "common/msg.h"
#include "ramp/ramp_file.h"

namespace {

void quiet(const char*, ...) {}

std::vector<unsigned char> contents(std::FILE* f) {
    std::vector<unsigned char> bytes;
    std::rewind(f);
    unsigned char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mf;
    u_set_msg_sink(quiet);
    std::FILE* in = std::tmpfile();
    if (!in) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, in) != size) std::abort();
    std::rewind(in);
    rr_ramp_hdr_t hdr;
    uint16_t* points = nullptr;
    const int32_t status = rr_read_ramp_stream(in, &hdr, &points);
    std::fclose(in);
    if (status != 0) {
        if (status != ERR_PREMATURE_EOF && status != ERR_NOT_A_RAMP_FILE && status != ERR_CORRUPT_RAMP_FILE &&
            status != ERR_NO_MEM)
            std::abort();
        if (points) std::abort();
        u_set_msg_sink(nullptr);
        return 0;
    }
    if ((hdr.nPoints > 0) != (points != nullptr)) std::abort();
    if (size < rr_ramp_hdr_size + 2 * static_cast<size_t>(hdr.nPoints)) std::abort();

    static const uint16_t none[1] = {0};
    std::FILE* out = std::tmpfile();
    if (!out) std::abort();
    if (rr_write_ramp_stream(out, &hdr, points ? points : none) != 0) std::abort();
    const std::vector<unsigned char> again = contents(out);
    if (again.size() != rr_ramp_hdr_size + 2 * static_cast<size_t>(hdr.nPoints) ||
        std::memcmp(again.data(), data, again.size()) != 0)
        std::abort();
    std::rewind(out);
    rr_dump_ramp_hdr(out, &hdr, points, (hdr.rampID & 1) != 0);
    std::fclose(out);

    rr_get_std_ramp_filename(&hdr);
    int32_t code;
    rr_fringe_code(hdr.fringesPerFrame, &code);
    for (int32_t board : {int32_t{0}, int32_t{BOARD_SABLEQV}, int32_t{BOARD_CAN}}) {
        rr_ramp_hdr_t copy = hdr;
        const int32_t c = rr_check_ramp_hdr("fuzz", &copy, board, copy.pztID ^ (board & 1), board == 0 ? -1 : 5);
        if (c != 0 && c != ERR_WRONG_INSTR_BOARD && c != ERR_INVALID_PARAM && c != ERR_CORRUPT_RAMP_FILE) std::abort();
    }
    u_free(points);
    u_set_msg_sink(nullptr);
    return 0;
}
