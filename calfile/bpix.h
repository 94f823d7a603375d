// The camera bad-pixel file: one section per camera mode (grab mode, undersampling,
// image size, frame rate), each with the coordinates of its bad pixels. Read when a
// calibration file says "Camera Bpix 1".
//
//   # comment
//   [mode label]  grab-mode  grab-under  size-x  size-y  grab-rate
//   x  y
//   x  y
//
// The sections of a slot are kept by this module, one set per slot (indexed by
// sysInfo::slot), and replaced as a whole by every read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "calfile/sysinfo.h"

namespace mf {

inline constexpr int sb_max_bpix_sections = 100;
inline constexpr int sb_bpix_line_max = 100;  // characters, line end not counted

struct sb_bpix_pixel {
    int32_t x;
    int32_t y;
    float value;  // 0 as read
};

struct sb_bpix_section {
    int32_t grabMode;       // 0..10
    int32_t grabUnder;      // 0..10
    uint16_t sizeX;         // 0..32767
    uint16_t sizeY;         // 0..32767
    double grabRate;        // 0..500
    sb_bpix_pixel* pixels;  // library allocator; null when count is 0
    int32_t count;
};

// A file's sections; owns the pixel lists.
struct sb_bpix_set {
    int32_t count = 0;
    sb_bpix_section sections[sb_max_bpix_sections] = {};
};

// Releases the pixel lists and empties the set.
void sb_bpix_clear(sb_bpix_set* set);

// The lines of a bad-pixel file, from a stream or from memory, with a line counter
// and one line of push-back so a section reader can leave the next section line in
// place.
class sb_bpix_lines {
public:
    explicit sb_bpix_lines(std::FILE* file) : file_(file) {}
    sb_bpix_lines(const char* data, std::size_t size) : data_(data), size_(size) {}

    enum class status { line, too_long, end };
    // The next line without its line end; too_long consumes the whole line.
    status next(std::string* line);
    void put_back() { pushed_ = true; }
    int number() const { return number_; }

private:
    int get();

    std::FILE* file_ = nullptr;
    const char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
    int number_ = 0;
    bool pushed_ = false;
    status last_ = status::end;
    std::string line_;
};

// Reads one section: comments, then a section line, then its pixel lines up to the
// next section line (left in place) or the end of the input (*at_end set). An input
// with nothing but comments left gives 0 with *found false. On an error the field
// messages and the "Error in line" text are appended to *messages and the result
// is ERR_CB_FILE_INVALID (ERR_NO_MEM when a pixel list cannot grow).
int32_t sb_read_bpix_section(sb_bpix_lines& lines, sb_bpix_section* section, bool* found, bool* at_end,
                             std::string* messages);

// Reads every section of a bad-pixel file into *set (emptied first, left empty on
// any failure). Errors are logged as one text naming the file.
int32_t sb_read_bpix_lines(sb_bpix_lines& lines, const char* path, sb_bpix_set* set);

// The bad-pixel file of a record: the Camera Bpix file name, or "bpix_%d.dat" with
// the serial number, in the configuration directory. 0, or ERR_INVALID_PARAM when
// there is no configuration directory.
int32_t gen_cam_ped_filename(const sysInfo* si, std::string* path);

// Reads the record's bad-pixel file into its slot's section set. 0 or an error code
// (ERR_INVALID_PARAM, ERR_CANT_OPEN_FILE, ERR_CB_FILE_INVALID, ERR_NO_MEM); on any
// failure the slot keeps no sections.
int32_t sb_read_bpix(sysInfo* si);

// The section set of a slot (0..3), or null for any other number.
const sb_bpix_set* sb_bpix_sections(int slot);
// Releases the sections of a slot.
void sb_bpix_release(int slot);

}  // namespace mf
