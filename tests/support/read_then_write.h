// What read_grid_file then write_data_file make of a grid file: the bytes every
// faster conversion path must reproduce. Header-only, as only the test binaries
// that link the data-file library use it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "datafile/data_header.h"
#include "datafile/data_file.h"
#include "datafile/grid_file.h"
#include "tests/support/temp_dir.h"

namespace mf::test {

inline std::string read_then_write(const TempDir& dir, const std::string& grid) {
    data_header header{};
    data_array phase{};
    sw_info sw{};
    EXPECT_EQ(read_grid_file(grid.c_str(), &header, &phase, &sw), 0);
    const std::string path = dir.file("reference.dat");
    EXPECT_EQ(write_data_file(path.c_str(), &sw, &header, nullptr, &phase), 0);
    da_release(&phase);
    std::string bytes = read_file(path);
    std::remove(path.c_str());
    return bytes;
}

}  // namespace mf::test
