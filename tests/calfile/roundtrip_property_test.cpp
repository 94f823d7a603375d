// The write/read round trip over generated files: every system type, every
// statement family, a fixed seed.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/calfile/cal_generate.h"

namespace mf {
namespace {

TEST(CalRoundTripProperty, GeneratedFilesOfEverySystemTypeReadBackTheSame) {
    constexpr int per_type = 100;
    std::mt19937_64 rng(20261208);
    int families[test::cal_family_count] = {};
    int failures = 0;
    for (int32_t type : test::cal_generated_types) {
        for (int i = 0; i < per_type && failures < 3; ++i) {
            const test::cal_generated file = test::random_cal_file(rng, type);
            for (int f = 0; f < test::cal_family_count; ++f)
                families[f] += file.families[f];
            const std::string failure = test::cal_round_trip(file.text);
            if (!failure.empty()) {
                ++failures;
                ADD_FAILURE() << "system type " << type << ", file " << i << ": " << failure;
            }
        }
    }
    // Every family appears in many files, not by luck in one.
    for (int f = 0; f < test::cal_family_count; ++f)
        EXPECT_GE(families[f], 50) << "statement family " << f;
}

}  // namespace
}  // namespace mf
