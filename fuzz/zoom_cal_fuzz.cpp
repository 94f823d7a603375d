// Any byte sequence as an encoded zoom calibration file: 0 or
// ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE, never a crash; an accepted file always gives 2
// to 100 pairs, positions and magnifications strictly increasing and within range,
// and a refused one leaves the table as it was.
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "can/nodes/zoom_cal.h"
#include "common/error_codes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<mf::zoom_cal_entry> table{{1.0f, 1.0f}};
    std::string msg;
    const int32_t code = mf::tarn_enc_zoom_parse_text(std::string_view(reinterpret_cast<const char*>(data), size),
                                                      "fuzz.txt", &table, &msg);
    if (code != 0) {
        if (code != mf::ERR_TARN_ENC_ZOOM_INVALID_CAL_FILE || msg.empty()) __builtin_trap();
        if (table.size() != 1) __builtin_trap();
        return 0;
    }
    if (table.size() < 2 || table.size() > 100 || !msg.empty()) __builtin_trap();
    for (size_t i = 0; i < table.size(); ++i) {
        const mf::zoom_cal_entry& e = table[i];
        if (!(e.position >= 0 && e.position <= FLT_MAX)) __builtin_trap();
        if (!(e.magnification >= 0.5f && e.magnification <= 6.0f)) __builtin_trap();
        if (i > 0 && !(e.position > table[i - 1].position && e.magnification > table[i - 1].magnification))
            __builtin_trap();
    }
    return 0;
}
