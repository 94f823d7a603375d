// The calibration write/read round trip. An even first byte seeds the file
// generator (every generated file must come back field for field and byte for
// byte); an odd first byte takes the rest as a calibration file: when it reads and
// its record is written, the written file must read and round-trip exactly.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "tests/calfile/cal_generate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string failure;
    if (data[0] & 1) {
        failure = mf::test::cal_settled_round_trip(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    } else {
        std::seed_seq seed(data + 1, data + size);
        std::mt19937_64 rng(seed);
        constexpr std::size_t types = std::size(mf::test::cal_generated_types);
        const int32_t type = mf::test::cal_generated_types[size > 1 ? data[1] % types : 0];
        failure = mf::test::cal_round_trip(mf::test::random_cal_file(rng, type).text);
    }
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        __builtin_trap();
    }
    return 0;
}
