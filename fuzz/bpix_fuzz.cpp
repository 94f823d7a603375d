// Any byte sequence as a camera bad-pixel file: 0, ERR_CB_FILE_INVALID or
// ERR_NO_MEM, never a crash or a read past a line; a failure keeps no sections and
// every kept pixel lies inside its section's image.
#include <cstddef>
#include <cstdint>

#include "calfile/bpix.h"
#include "common/error_codes.h"
#include "common/msg.h"

namespace {

void quiet(const char*, ...) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mf::u_set_msg_sink(&quiet);
    static mf::sb_bpix_set set;
    mf::sb_bpix_lines lines(reinterpret_cast<const char*>(data), size);
    const int32_t code = mf::sb_read_bpix_lines(lines, "fuzz.dat", &set);
    if (code != 0 && code != mf::ERR_CB_FILE_INVALID && code != mf::ERR_NO_MEM) __builtin_trap();
    if (code != 0 && set.count != 0) __builtin_trap();
    if (set.count < 0 || set.count > mf::sb_max_bpix_sections) __builtin_trap();
    for (int i = 0; i < set.count; ++i) {
        const mf::sb_bpix_section& s = set.sections[i];
        for (int k = 0; k < s.count; ++k)
            if (s.pixels[k].x < 0 || s.pixels[k].x >= s.sizeX || s.pixels[k].y < 0 || s.pixels[k].y >= s.sizeY)
                __builtin_trap();
    }
    mf::sb_bpix_clear(&set);
    mf::u_set_msg_sink(nullptr);
    return 0;
}
