// Any byte sequence as a calibration file or as a "+" statement: a documented code,
// never a crash, a hang or a read past a buffer. The first byte picks the mode.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "calfile/lexer.h"
#include "calfile/messages.h"
#include "calfile/parse.h"
#include "calfile/sysinfo.h"
#include "common/error_codes.h"
#include "common/msg.h"

namespace {

void quiet(const char*, ...) {}

bool documented(int32_t code) {
    switch (code) {
    case 0:
    case mf::ERR_EOF:
    case mf::ERR_EOL:
    case mf::ERR_NO_MEM:
    case mf::ERR_SB_CALFILE_SYNTAX:
    case mf::ERR_SB_CALFILE_VALUE_RANGE:
    case mf::ERR_SB_CALFILE_INCONSISTENT:
    case mf::ERR_SB_CALFILE_INVALID:
    case mf::ERR_SB_CALFILE_INCOMPLETE:
        return true;
    default:
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    mf::u_set_msg_sink(&quiet);
    mf::sysInfo* si = mf::sb_slot(0);
    const char* text = reinterpret_cast<const char*>(data + 1);
    int32_t code = 0;
    if (data[0] & 1) {
        // String mode sees the text up to its first zero byte.
        std::string statement(text, size - 1);
        statement.resize(std::min(statement.find('\0'), statement.size()));
        code = mf::sb_readCal(0, ("+" + statement).c_str());
    } else {
        mf::sb_setDefaults(si);
        mf::sb_message_count() = 0;
        mf::sb_set_message_source(mf::sb_source_kind::file, "fuzz.cal");
        mf::sb_lexer lex(text, size - 1);
        code = mf::sb_read_statements(lex, si);
    }
    if (!documented(code)) __builtin_trap();
    mf::sb_setDefaults(si);
    mf::u_set_msg_sink(nullptr);
    return 0;
}
