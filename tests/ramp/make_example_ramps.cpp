// Regenerates the example ramp files: make_example_ramps <directory>.
#include <cstdio>

#include "common/errors.h"
#include "tests/ramp/example_ramps.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s directory\n", argv[0]);
        return 2;
    }
    if (int32_t status = mf::test::write_example_ramps(argv[1])) {
        std::fprintf(stderr, "writing example ramps failed: %s\n", mf::error_name(status));
        return 1;
    }
    return 0;
}
