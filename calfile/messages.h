// The message routine shared by the calibration file reader and writer: every
// message of one read (or one write) is counted, and the first one is preceded by a
// header naming the file or statement.
#pragma once

#include <cstdint>

#include "common/msg.h"

namespace mf {

// Messages reported since the count was last reset. Process-wide; belongs to the
// read or write in progress.
int32_t& sb_message_count();

// Reports one message of a read through the sink as "%s%s%s\n": the header
// "Error(s) reading system calibration " with "file \"<path>\":\n" (file mode),
// "info\n\"<statement>\":\n" (string mode) or "info:\n" for the first message, then
// the text. Counts it.
void sb_read_message(const char* fmt, ...) MF_PRINTF_FORMAT(1, 2);

enum class sb_source_kind { none, file, statement };
// The file path or statement string named in the header of the next first message.
void sb_set_message_source(sb_source_kind kind, const char* text);

}  // namespace mf
