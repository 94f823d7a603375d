// The lexical layer of the calibration file: one character at a time from a file
// or from an in-memory statement, with the token, text, number and peek rules that
// every statement uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace mf {

inline constexpr std::size_t sb_word_max = 81;  // a longer word is cut; the rest is the next token

class sb_lexer {
public:
    explicit sb_lexer(std::FILE* file) : file_(file) {}
    sb_lexer(const char* text, std::size_t size) : text_(text), size_(size) {}

    enum class kind { word, quoted, single, eol, eof };
    // Reads the next token into text; a quoted string is kept whole, whatever its
    // length. Line ends and "#" are left in the input for skip_line. An unclosed
    // quoted string gives eol or eof, and open_quote() tells it from a plain end.
    kind token(std::string& text);
    bool open_quote() const { return open_quote_; }

    // A required text (a word, a quoted string or a single-character token):
    // 0, ERR_EOL at a line end or "#", ERR_EOF at the end of the input.
    int32_t text(std::string& out);

    // Numbers follow formatted stream input: blanks and line ends are skipped first,
    // so a required number may come from a following line. 0, ERR_EOF when the input
    // ends first, ERR_SB_CALFILE_SYNTAX when no number is there. Integers beyond
    // the 64-bit range saturate; reals keep at most 255 characters.
    int32_t integer(int64_t* value);
    int32_t real(double* value);

    enum class peek_class { end, number, word, lbracket, colon, other };
    // Skips blanks and classes the next character without consuming it.
    peek_class peek();

    // Discards the rest of the line and its line end; false when the input ended.
    bool skip_line();

    // Ctrl-Z as the last byte of the input is an end-of-file mark (as DOS-era
    // editors write it) and reads as the end of the input on every platform.
    static constexpr int end_mark = 0x1A;

private:
    int get();
    void unget(int c);
    // Skips white space (line ends included) and an optional sign; *first is the
    // character after them. False when the input ended before a number began.
    bool number_start(int* first, bool* negative);
    void skip_blanks();

    std::FILE* file_ = nullptr;
    const char* text_ = nullptr;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
    int pushed_[4] = {};
    int npushed_ = 0;
    bool open_quote_ = false;
};

}  // namespace mf
