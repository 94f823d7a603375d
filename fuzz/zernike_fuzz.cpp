// Any byte sequence as a Code V Zernike file: one of the reader's documented
// codes, never a crash, a hang or a read past the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/error_codes.h"
#include "common/msg.h"
#include "datafile/zernike_file.h"

namespace {

void quiet(const char*, ...) {}

bool documented(int32_t code) {
    switch (code) {
    case 0:
    case mf::ERR_PREMATURE_EOF:
    case mf::ERR_NOT_A_DATA_FILE:
    case mf::ERR_CORRUPT_DATA_FILE:
        return true;
    default:
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mf::u_set_msg_sink(&quiet);
    mf::data_header header{};
    mf::zernike_set set{};
    mf::sw_info sw{};
    mf::data_array shape{};
    const int32_t status =
        mf::read_zernike_memory(reinterpret_cast<const char*>(data), size, &header, &set, &sw, &shape);
    if (!documented(status)) std::abort();
    if (status == 0) {
        if (!mf::zernike_count_allowed(set.count)) std::abort();
        for (int i = set.count; i < 38; ++i)
            if (set.coefficients[i] != 0.0) std::abort();
    }
    mf::u_set_msg_sink(nullptr);
    return 0;
}
