// An open Code V grid file for the readers: seen in memory where the system can
// map it (or handed over as a complete image), else read through a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "datafile/codev_scan.h"
#include "datafile/data_header.h"
#include "datafile/grid_scan.h"
#include "platform/mapped_file.h"

namespace mf {

class grid_input {
public:
    grid_input() = default;
    // A complete image held by the caller.
    grid_input(const char* data, size_t size) : base_(data), size_(size) { text_.emplace(data, size); }
    ~grid_input();
    grid_input(const grid_input&) = delete;
    grid_input& operator=(const grid_input&) = delete;

    // ERR_CANT_OPEN_FILE when the file can be neither mapped nor opened.
    int32_t open(const char* path);

    codev::text_source& text() { return *text_; }
    // The whole text is in memory, so the samples can be scanned more than once.
    bool in_memory() const { return base_ != nullptr; }

    // Scans count samples from the text's read position (which a scan of a text
    // in memory leaves where it was).
    int32_t scan(size_t count, const grid::sample_map& m, const grid::sample_sink& sink);

private:
    platform::mapped_file map_;
    std::FILE* file_ = nullptr;
    const char* base_ = nullptr;
    size_t size_ = 0;
    std::optional<codev::text_source> text_;
};

// Reads a grid file up to its samples: the tag line, the comment block, the title
// and the header line into cleared records; phase gets the map's shape (no data),
// *count the number of samples and *map how they become phase samples. The codes
// and messages of read_grid_file for everything before the samples.
int32_t read_grid_preamble(codev::text_source& in, data_header* header, data_array* phase, sw_info* sw, size_t* count,
                           grid::sample_map* map);

}  // namespace mf
