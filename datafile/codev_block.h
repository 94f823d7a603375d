// The "!" comment block that carries the measurement header in the Code V grid
// and Zernike text files, and the pieces the two formats share: the title line
// and the word-by-word scan of the Code V header line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "datafile/codev_scan.h"
#include "datafile/data_header.h"

namespace mf {

// Reads the comment block from the start of line 2: every line beginning with
// "!" is a key and its values; unknown keys are skipped, the last of repeated
// keys wins. SRC values 2 and 3 go to phase's width and height (phase may be
// null), the SCF data shift to *shift (-1 without an SCF line). *line counts the
// lines read. The character after the block is left unread.
// ERR_PREMATURE_EOF (a key line without text), ERR_CORRUPT_DATA_FILE (too few
// values, or a data shift above 31, or no REQ line); each prints its message.
int32_t read_header_block(codev::text_source& in, data_header* header, sw_info* sw, data_array* phase, int* shift,
                          int* line);

// Writes the block with all twenty keys in their fixed order, SCF carrying
// shift. Null records are written as zero records. 0 or ERR_CANT_WRITE_FILE.
int32_t write_header_block(std::FILE* stream, const data_header* header, const sw_info* sw, int shift,
                           const data_array* phase);

namespace codev {

// The block's text, as write_header_block writes it.
void append_header_block(std::string& out, const data_header& header, const sw_info& sw, int shift, int16_t width,
                         int16_t height);

// The title line the writers put after the block, newline included: the first 80
// characters of the comment, or "Varo ", the software-type name and the time
// stamp as local time ("Wed Jun 30 21:49:08 1993") when it is above 0.
void append_title_line(std::string& out, const data_header& header, const sw_info& sw);

// Reads the title line (the whole line; up to 99 characters are kept) and, when
// the comment is empty, makes the trimmed title the comment. False at the end of
// the text.
bool read_title_line(text_source& in, data_header& header);

enum class word_action {
    accepted,
    bad_number,   // "Error reading line %d\n", ERR_CORRUPT_DATA_FILE
    bad_value,    // ERR_CORRUPT_DATA_FILE without a message
    not_allowed,  // ERR_NOT_A_DATA_FILE without a message
};

// Scans the Code V header line word by word. Each word (upper-cased; words over
// 99 characters are passed as "") goes to on_word, which reads the keyword's
// numbers from in. The white space after a word is skipped line ends included,
// so a last word without numbers lets the scan run into the next line.
int32_t scan_header_line(text_source& in, int line, const std::function<word_action(const std::string&)>& on_word);

// "%hd" and "%d": the scanned value narrowed to the field's width.
template <typename Source>
bool scan_i16(Source& in, int16_t& value) {
    int64_t v = 0;
    if (!scan_int(in, v)) return false;
    value = static_cast<int16_t>(v);
    return true;
}
template <typename Source>
bool scan_i32(Source& in, int32_t& value) {
    int64_t v = 0;
    if (!scan_int(in, v)) return false;
    value = static_cast<int32_t>(v);
    return true;
}

}  // namespace codev

}  // namespace mf
