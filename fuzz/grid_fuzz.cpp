// Any byte sequence as a Code V grid file: one of the reader's documented codes,
// never a crash, a hang or a read past the input. A file that reads gives an
// array of exactly its declared shape; a failed read leaves no array behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/alloc.h"
#include "common/error_codes.h"
#include "common/msg.h"
#include "datafile/grid_file.h"

namespace {

void quiet(const char*, ...) {}

bool documented(int32_t code) {
    switch (code) {
    case 0:
    case mf::ERR_PREMATURE_EOF:
    case mf::ERR_NOT_A_DATA_FILE:
    case mf::ERR_CORRUPT_DATA_FILE:
    case mf::ERR_PARAM_OUT_OF_RANGE:
    case mf::ERR_NO_MEM:
        return true;
    default:
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mf::u_set_msg_sink(&quiet);
    mf::data_header header{};
    mf::data_array phase{};
    mf::sw_info sw{};
    const int32_t status = mf::read_grid_memory(reinterpret_cast<const char*>(data), size, &header, &phase, &sw);
    if (!documented(status)) std::abort();
    if (status == 0) {
        const size_t count = static_cast<size_t>(phase.width) * static_cast<size_t>(phase.height);
        if (phase.data == nullptr || phase.capacity != static_cast<int32_t>(count)) std::abort();
        for (size_t i = 0; i < count; ++i) {
            if (phase.data[i] > mf::invalid_phase) std::abort();
        }
    } else if (phase.data != nullptr && phase.capacity != static_cast<int32_t>(int64_t{phase.width} * phase.height)) {
        // A failure after the allocation leaves the whole array with the caller.
        std::abort();
    }
    mf::da_release(&phase);
    mf::u_set_msg_sink(nullptr);
    return 0;
}
