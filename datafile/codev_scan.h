// Reading and writing the Code V text formats: a buffered character source that
// reads LF and CRLF files alike, scanf-compatible field scanners, and the number
// formatting the writers use (identical on every platform).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace mf::codev {

inline constexpr int end_of_text = -1;

inline bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

// A text read through one buffer. "\r\n" is delivered as '\n' (a lone '\r' stays),
// so a file written on Windows reads exactly like one written on Linux.
class text_source {
public:
    // Reads an open binary stream (not closed here) in chunks of chunk_size bytes.
    explicit text_source(std::FILE* file, size_t chunk_size = size_t{1} << 22);
    // A complete text held by the caller.
    text_source(const char* data, size_t size);
    ~text_source();
    text_source(const text_source&) = delete;
    text_source& operator=(const text_source&) = delete;

    // False when the buffer could not be allocated.
    bool ok() const { return data_ != nullptr || !file_; }

    int get();
    // Puts back the character the last get() returned (one level, like ungetc).
    void unget();
    int peek();

    // fgets into line (capacity bytes, zero-terminated): stops after a newline or
    // at capacity - 1 characters; with consume_rest the rest of an overlong line
    // is read and dropped. False when the text ended before any character.
    bool read_line(char* line, size_t capacity, bool consume_rest);

    // Bytes of the input not yet delivered (raw bytes, so a lower bound on what
    // the text still holds), or -1 when the stream cannot tell.
    int64_t remaining();

    // Direct access for bulk scanning: makes at least min_bytes available after
    // the read position, or everything up to the end of the input. Returns the
    // number of bytes available; 0 means the input is exhausted. -1: no memory.
    int64_t fill(size_t min_bytes);
    // Moves the unread bytes to the front and reads until the buffer is full.
    int64_t fill_buffer();
    const char* cursor() const { return data_ + pos_; }
    const char* limit() const { return data_ + end_; }
    void advance_to(const char* p) {
        pos_ = static_cast<size_t>(p - data_);
        step_ = 0;
    }
    bool at_input_end() const { return eof_; }

private:
    bool refill();
    void compact();
    bool read_more();

    std::FILE* file_ = nullptr;
    char* data_ = nullptr;
    bool owned_ = false;
    size_t capacity_ = 0;
    size_t pos_ = 0;
    size_t end_ = 0;
    size_t step_ = 0;  // bytes the last get() advanced (0: nothing to put back)
    bool eof_ = false;
    int64_t file_size_ = -1;
    int64_t consumed_before_ = 0;  // input bytes dropped from the front of the buffer
};

// The scanf conversions the formats use, over anything with get() and unget().

// "%d" / "%hd" / "%7d": white space, an optional sign and decimal digits, at most
// width characters after the white space (0: no limit). The value saturates at
// the 64-bit range; callers narrow it like the C library does.
template <typename Source>
bool scan_int(Source& in, int64_t& value, int width = 0) {
    int c = in.get();
    while (is_space(c))
        c = in.get();
    int used = 0;
    bool negative = false;
    if (c == '-' || c == '+') {
        negative = c == '-';
        ++used;
        if (width != 0 && used >= width) return false;
        c = in.get();
    }
    if (!is_digit(c)) {
        in.unget();
        return false;
    }
    uint64_t magnitude = 0;
    for (;;) {
        if (magnitude < (uint64_t{1} << 62)) magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
        ++used;
        if (width != 0 && used >= width) break;
        c = in.get();
        if (!is_digit(c)) {
            in.unget();
            break;
        }
    }
    if (magnitude > uint64_t{INT64_MAX}) magnitude = uint64_t{INT64_MAX};
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

// Collects the characters of a "%f" number: white space, sign, then "inf",
// "infinity", "nan" or decimal digits with a point and an exponent. Like the C
// library, an exponent mark without digits makes the field unreadable.
template <typename Source>
bool collect_float(Source& in, std::string& text) {
    text.clear();
    int c = in.get();
    while (is_space(c))
        c = in.get();
    if (c == '-' || c == '+') {
        if (c == '-') text += '-';
        c = in.get();
    }
    auto lower = [](int ch) { return ch >= 'A' && ch <= 'Z' ? ch + 32 : ch; };
    auto expect_word = [&](const char* word) {
        for (const char* w = word; *w; ++w) {
            if (lower(c) != *w) return false;
            text += static_cast<char>(c);
            c = in.get();
        }
        return true;
    };
    if (lower(c) == 'i') {
        if (!expect_word("inf")) return false;
        if (lower(c) == 'i' && !expect_word("inity")) return false;
        in.unget();
        return true;
    }
    if (lower(c) == 'n') {
        if (!expect_word("nan")) return false;
        in.unget();
        return true;
    }
    bool digits = false;
    while (is_digit(c)) {
        text += static_cast<char>(c);
        digits = true;
        c = in.get();
    }
    if (c == '.') {
        text += '.';
        c = in.get();
        while (is_digit(c)) {
            text += static_cast<char>(c);
            digits = true;
            c = in.get();
        }
    }
    if (!digits) {
        in.unget();
        return false;
    }
    if (c == 'e' || c == 'E') {
        text += 'e';
        c = in.get();
        if (c == '-' || c == '+') {
            text += static_cast<char>(c);
            c = in.get();
        }
        if (!is_digit(c)) return false;
        while (is_digit(c)) {
            text += static_cast<char>(c);
            c = in.get();
        }
    }
    in.unget();
    return true;
}

// Converts collected "%f" text; out-of-range values become infinity or zero.
bool parse_float(const std::string& text, double& value);
bool parse_float(const std::string& text, float& value);

template <typename Source, typename Float>
bool scan_float(Source& in, Float& value) {
    std::string text;
    return collect_float(in, text) && parse_float(text, value);
}

// A zero-terminated text scanned like sscanf scans it.
class string_source {
public:
    explicit string_source(const char* text) : p_(text) {}
    int get() {
        if (*p_ == '\0') {
            stepped_ = false;
            return end_of_text;
        }
        stepped_ = true;
        return static_cast<unsigned char>(*p_++);
    }
    void unget() {
        if (stepped_) --p_;
        stepped_ = false;
    }
    const char* position() const { return p_; }
    void skip_space() {
        while (is_space(static_cast<unsigned char>(*p_)))
            ++p_;
    }

private:
    const char* p_;
    bool stepped_ = false;
};

// Formatting shared by the writers: printf's "%g", "%f" and "%.*f" results
// computed by the standard library's own conversion, so the bytes do not depend
// on the platform's C runtime.
void append_g(std::string& out, double value);
void append_fixed(std::string& out, double value, int precision, int width = 0);
void append_int(std::string& out, int64_t value, int width = 0);
// "%-*s": the text of a fixed-width field (at most width characters), padded.
void append_padded(std::string& out, const char* field, size_t field_size, int width);

bool write_text(std::FILE* stream, const std::string& text);

}  // namespace mf::codev
