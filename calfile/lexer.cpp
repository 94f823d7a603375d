#include "calfile/lexer.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "common/error_codes.h"

namespace mf {

namespace {

bool is_blank(int c) { return c == ' ' || c == '\t'; }
bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_letter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_single(int c) { return c == ',' || c == ':' || c == '[' || c == ']'; }

}  // namespace

int sb_lexer::get() {
    if (npushed_ > 0) return pushed_[--npushed_];
    int c = EOF;
    if (file_) {
        c = std::getc(file_);
        if (c == end_mark) {
            const int next = std::getc(file_);
            if (next == EOF) return EOF;
            std::ungetc(next, file_);
        }
    } else if (pos_ < size_) {
        c = static_cast<unsigned char>(text_[pos_++]);
        if (c == end_mark && pos_ == size_) return EOF;
    }
    return c;
}

void sb_lexer::unget(int c) {
    if (c != EOF && npushed_ < 4) pushed_[npushed_++] = c;
}

void sb_lexer::skip_blanks() {
    int c;
    do
        c = get();
    while (is_blank(c) || c == '\r');
    unget(c);
}

sb_lexer::kind sb_lexer::token(std::string& text) {
    text.clear();
    open_quote_ = false;
    skip_blanks();
    int c = get();
    if (c == EOF) return kind::eof;
    if (c == '\n' || c == '#') {
        unget(c);
        return kind::eol;
    }
    if (is_single(c)) {
        text.assign(1, static_cast<char>(c));
        return kind::single;
    }
    if (c == '"') {
        for (;;) {
            c = get();
            if (c == EOF) {
                open_quote_ = true;
                return kind::eof;
            }
            if (c == '\n' || c == '#') {
                unget(c);
                open_quote_ = true;
                return kind::eol;
            }
            if (c == '"') break;
            if (c == '\r') continue;
            text.push_back(static_cast<char>(c));
        }
        return kind::quoted;
    }
    for (;;) {
        if (c != '\r') text.push_back(static_cast<char>(c));
        if (text.size() == sb_word_max) break;
        c = get();
        if (c == EOF || is_blank(c) || c == '\n') {
            unget(c);
            break;
        }
    }
    return kind::word;
}

int32_t sb_lexer::text(std::string& out) {
    switch (token(out)) {
    case kind::eol:
        return ERR_EOL;
    case kind::eof:
        return ERR_EOF;
    default:
        return 0;
    }
}

bool sb_lexer::number_start(int* first, bool* negative) {
    int c;
    do
        c = get();
    while (is_space(c));
    if (c == EOF) return false;
    if (c == '+' || c == '-') {
        *negative = c == '-';
        c = get();
    }
    *first = c;
    return true;
}

int32_t sb_lexer::integer(int64_t* value) {
    bool negative = false;
    int c;
    if (!number_start(&c, &negative)) return ERR_EOF;
    if (!is_digit(c)) {
        unget(c);
        return ERR_SB_CALFILE_SYNTAX;
    }
    int64_t v = 0;
    for (; is_digit(c); c = get()) {
        const int digit = c - '0';
        if (v > (INT64_MAX - digit) / 10)
            v = INT64_MAX;
        else
            v = v * 10 + digit;
    }
    unget(c);
    *value = negative ? -v : v;
    return 0;
}

int32_t sb_lexer::real(double* value) {
    constexpr std::size_t cap = 255;
    char buf[cap + 1];
    std::size_t n = 0;
    auto keep = [&](int ch) {
        if (n < cap) buf[n++] = static_cast<char>(ch);
    };
    bool negative = false;
    int c;
    if (!number_start(&c, &negative)) return ERR_EOF;
    bool digits = false;
    for (; is_digit(c) && n < cap; c = get())
        keep(c), digits = true;
    if (c == '.' && n < cap) {
        keep(c);
        for (c = get(); is_digit(c) && n < cap; c = get())
            keep(c), digits = true;
    }
    if (!digits) {
        unget(c);
        return ERR_SB_CALFILE_SYNTAX;
    }
    if ((c == 'e' || c == 'E') && n < cap - 8) {
        // An exponent mark counts only when digits follow it.
        const int mark = c;
        int sign = get();
        int first = sign;
        if (sign == '+' || sign == '-') first = get();
        if (is_digit(first)) {
            keep('e');
            if (sign == '-') keep('-');
            for (c = first; is_digit(c) && n < cap; c = get())
                keep(c);
        } else {
            unget(first);
            if (first != sign) unget(sign);
            c = mark;
        }
    }
    unget(c);
    buf[n] = '\0';
    double v = 0;
    const auto result = std::from_chars(buf, buf + n, v);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on overflow or underflow.
        bool big = false;
        for (std::size_t i = 0; i < n && buf[i] != 'e'; ++i)
            if (buf[i] >= '1' && buf[i] <= '9') big = true;
        const char* e = buf;
        while (e < buf + n && *e != 'e')
            ++e;
        const bool negative_exponent = e + 1 < buf + n && e[1] == '-';
        v = big && !negative_exponent ? HUGE_VAL : 0.0;
    }
    *value = negative ? -v : v;
    return 0;
}

sb_lexer::peek_class sb_lexer::peek() {
    int c;
    do
        c = get();
    while (is_blank(c));
    unget(c);
    if (c == EOF || c == '\n' || c == '\r' || c == '#') return peek_class::end;
    if (c == '-' || c == '.' || is_digit(c)) return peek_class::number;
    if (is_letter(c)) return peek_class::word;
    if (c == '[') return peek_class::lbracket;
    if (c == ':') return peek_class::colon;
    return peek_class::other;
}

bool sb_lexer::skip_line() {
    for (;;) {
        const int c = get();
        if (c == EOF) return false;
        if (c == '\n') return true;
    }
}

}  // namespace mf
