#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

#include "calfile/keywords.h"
#include "calfile/lexer.h"
#include "calfile/names.h"
#include "calfile/sysinfo.h"
#include "common/error_codes.h"

namespace mf {
namespace {

using kind = sb_lexer::kind;
using pc = sb_lexer::peek_class;

struct Lex {
    std::string text;
    sb_lexer lex;
    std::string buf;
    explicit Lex(std::string t) : text(std::move(t)), lex(text.data(), text.size()) {}
    kind next() { return lex.token(buf); }
};

TEST(CalLexer, WordsAreCutAfter81CharactersAndTheRestIsTheNextToken) {
    Lex l(std::string(85, 'w') + " x");
    EXPECT_EQ(l.next(), kind::word);
    EXPECT_EQ(std::string(l.buf), std::string(81, 'w'));
    EXPECT_EQ(l.next(), kind::word);
    EXPECT_EQ(std::string(l.buf), "wwww");
    EXPECT_EQ(l.next(), kind::word);
    EXPECT_EQ(std::string(l.buf), "x");
    EXPECT_EQ(l.next(), kind::eof);
}

TEST(CalLexer, QuotedStringsKeepBlanksAndCaseAndStopAtLineEndOrComment) {
    Lex l("  \"A b\tC\" tail\n");
    EXPECT_EQ(l.next(), kind::quoted);
    EXPECT_EQ(std::string(l.buf), "A b\tC");
    EXPECT_EQ(l.next(), kind::word);
    EXPECT_EQ(l.next(), kind::eol);
    EXPECT_EQ(Lex("\"open\nrest").next(), kind::eol);
    EXPECT_EQ(Lex("\"a#b\"").next(), kind::eol);
    EXPECT_EQ(Lex("\"never closed").next(), kind::eof);
    // A quoted text is kept whole, however long.
    Lex big("\"" + std::string(1000, 'q') + "\" next");
    EXPECT_EQ(big.next(), kind::quoted);
    EXPECT_EQ(big.buf, std::string(1000, 'q'));
    EXPECT_EQ(big.next(), kind::word);
    EXPECT_EQ(std::string(big.buf), "next");
}

TEST(CalLexer, CarriageReturnsAreDroppedAndSingleCharactersAreTokens) {
    Lex l("ab\rcd\r\n");
    EXPECT_EQ(l.next(), kind::word);
    EXPECT_EQ(std::string(l.buf), "abcd");
    EXPECT_EQ(l.next(), kind::eol);

    Lex b("[ 3 ,4]:x");
    int64_t v = 0;
    EXPECT_EQ(b.next(), kind::single);
    EXPECT_EQ(b.buf[0], '[');
    EXPECT_EQ(b.lex.integer(&v), 0);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(b.next(), kind::single);
    EXPECT_EQ(b.buf[0], ',');
    EXPECT_EQ(b.lex.integer(&v), 0);
    EXPECT_EQ(v, 4);
    EXPECT_EQ(b.next(), kind::single);
    EXPECT_EQ(b.buf[0], ']');
    EXPECT_EQ(b.next(), kind::single);
    EXPECT_EQ(b.buf[0], ':');
    EXPECT_EQ(b.next(), kind::word);
}

TEST(CalLexer, RequiredTextGivesEolAndEof) {
    std::string out;
    std::string a = "   # comment";
    EXPECT_EQ(sb_lexer(a.data(), a.size()).text(out), ERR_EOL);
    std::string b = "  \n";
    EXPECT_EQ(sb_lexer(b.data(), b.size()).text(out), ERR_EOL);
    std::string c = "   ";
    EXPECT_EQ(sb_lexer(c.data(), c.size()).text(out), ERR_EOF);
}

TEST(CalLexer, PeekClassesTheNextCharacterWithoutConsumingIt) {
    EXPECT_EQ(Lex("  -1").lex.peek(), pc::number);
    EXPECT_EQ(Lex(".5").lex.peek(), pc::number);
    EXPECT_EQ(Lex("\t7").lex.peek(), pc::number);
    EXPECT_EQ(Lex("name").lex.peek(), pc::word);
    EXPECT_EQ(Lex("[1,2]").lex.peek(), pc::lbracket);
    EXPECT_EQ(Lex(":30").lex.peek(), pc::colon);
    EXPECT_EQ(Lex("\"q\"").lex.peek(), pc::other);
    EXPECT_EQ(Lex("+5").lex.peek(), pc::other);
    EXPECT_EQ(Lex("\r\n").lex.peek(), pc::end);
    EXPECT_EQ(Lex(" # c").lex.peek(), pc::end);
    EXPECT_EQ(Lex("").lex.peek(), pc::end);
    Lex l(" 42");
    EXPECT_EQ(l.lex.peek(), pc::number);
    int64_t v = 0;
    EXPECT_EQ(l.lex.integer(&v), 0);
    EXPECT_EQ(v, 42);
}

TEST(CalLexer, IntegersFollowFormattedInput) {
    int64_t v = 0;
    Lex lines("\n \r\n  42 rest");
    EXPECT_EQ(lines.lex.integer(&v), 0);
    EXPECT_EQ(v, 42);
    Lex plus("+7");
    EXPECT_EQ(plus.lex.integer(&v), 0);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(Lex("x").lex.integer(&v), ERR_SB_CALFILE_SYNTAX);
    EXPECT_EQ(Lex("-").lex.integer(&v), ERR_SB_CALFILE_SYNTAX);
    EXPECT_EQ(Lex(" \n ").lex.integer(&v), ERR_EOF);
    Lex huge("99999999999999999999999");
    EXPECT_EQ(huge.lex.integer(&v), 0);
    EXPECT_EQ(v, INT64_MAX);
    Lex stop("12]");
    EXPECT_EQ(stop.lex.integer(&v), 0);
    EXPECT_EQ(stop.next(), kind::single);
}

TEST(CalLexer, RealsFollowFormattedInput) {
    double v = 0;
    Lex a("1.5e3");
    EXPECT_EQ(a.lex.real(&v), 0);
    EXPECT_EQ(v, 1500);
    Lex b("-.25,");
    EXPECT_EQ(b.lex.real(&v), 0);
    EXPECT_EQ(v, -0.25);
    EXPECT_EQ(b.next(), kind::single);
    // An exponent mark without digits is not part of the number.
    Lex c("2e+x");
    EXPECT_EQ(c.lex.real(&v), 0);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(c.next(), kind::word);
    EXPECT_EQ(std::string(c.buf), "e+x");
    Lex d("5:47");
    EXPECT_EQ(d.lex.real(&v), 0);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(d.lex.peek(), pc::colon);
    Lex e("1e400 1e-400");
    EXPECT_EQ(e.lex.real(&v), 0);
    EXPECT_TRUE(std::isinf(v));
    EXPECT_EQ(e.lex.real(&v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(Lex(".").lex.real(&v), ERR_SB_CALFILE_SYNTAX);
    EXPECT_EQ(Lex("inf").lex.real(&v), ERR_SB_CALFILE_SYNTAX);
    EXPECT_EQ(Lex("").lex.real(&v), ERR_EOF);
}

TEST(CalKeywords, TableIsSortedAndLookupIgnoresCase) {
    int count = 0;
    const sb_keyword* table = sb_keyword_table(&count);
    ASSERT_GT(count, 200);
    for (int i = 1; i < count; ++i)
        EXPECT_LT(std::string(table[i - 1].word), std::string(table[i].word));
    for (int i = 0; i < count; ++i) {
        std::string upper = table[i].word;
        for (char& ch : upper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(sb_lookup_keyword(upper.c_str()), table[i].token) << upper;
    }
    EXPECT_EQ(sb_lookup_keyword("uNiT"), TK_UNIT);
    EXPECT_EQ(sb_lookup_keyword("Configuration"), TK_CONFIG);
    EXPECT_EQ(sb_lookup_keyword("FennAvgK0"), TK_FENNAVG_K0);
    EXPECT_EQ(sb_lookup_keyword("FennSysInitPer"), TK_FENNZEROGAGEPER);
    EXPECT_EQ(sb_lookup_keyword(","), TK_COMMA);
    EXPECT_EQ(sb_lookup_keyword("]"), TK_RBRACKET);
    EXPECT_EQ(sb_lookup_keyword("knap"), TK_NONE_TOKEN);
    EXPECT_EQ(sb_lookup_keyword("unit "), TK_NONE_TOKEN);
    EXPECT_EQ(sb_lookup_keyword(""), TK_NONE_TOKEN);
    EXPECT_EQ(sb_lookup_keyword(std::string(200, 'a').c_str()), TK_NONE_TOKEN);
}

template <int N>
void expect_names_read_back(const char* const (&names)[N], sb_names table, std::initializer_list<int> without) {
    for (int i = 0; i < N; ++i) {
        if (std::find(without.begin(), without.end(), i) != without.end()) continue;
        EXPECT_EQ(sb_name_number(table, sb_lookup_keyword(names[i])), i) << names[i];
    }
}

TEST(CalKeywords, EveryPrintedNameReadsBackToItsNumber) {
    expect_names_read_back(sb_sys_type_names, sb_names::sys_type, {0, 1, 2, 3, 9, 36});
    expect_names_read_back(sb_board_names, sb_names::board, {2, 4});
    expect_names_read_back(sb_frame_grabber_names, sb_names::frame_grabber, {});
    expect_names_read_back(sb_camera_names, sb_names::camera, {10});
    expect_names_read_back(sb_align_names, sb_names::align, {});
    expect_names_read_back(sb_light_names, sb_names::light, {});
    expect_names_read_back(sb_llc_instr_names, sb_names::llc_instr, {});
    expect_names_read_back(sb_temp_sensor_names, sb_names::temp_sensor, {});
    expect_names_read_back(sb_pos_instr_names, sb_names::pos_instr, {});
    EXPECT_EQ(sb_name_number(sb_names::sys_type, TK_WOLD), SYS_CAIRN);
    EXPECT_EQ(sb_name_number(sb_names::sys_type, TK_STOB), SYS_KAME250);
    EXPECT_EQ(sb_name_number(sb_names::sys_type, TK_FENNSI), SYS_SKERRY);
    EXPECT_EQ(sb_name_number(sb_names::sys_type, TK_SPECIAL), SYS_SPECIAL);
    EXPECT_EQ(sb_name_number(sb_names::board, TK_WOLD), BOARD_CAIRN);
    EXPECT_EQ(sb_name_number(sb_names::camera, TK_XC77), CAM_XC77CE);
    EXPECT_EQ(sb_name_number(sb_names::board, TK_UNIT), -1);
    EXPECT_STREQ(sb_name(sb_camera_names, 33), "Unknown");
    EXPECT_STREQ(sb_name(sb_board_names, -1), "None");
}

}  // namespace
}  // namespace mf
