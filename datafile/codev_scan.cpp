#include "datafile/codev_scan.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/alloc.h"

namespace mf::codev {

namespace {
// Bytes kept in front of the read position when the buffer moves, so that the
// last character (two bytes for "\r\n") can still be put back.
constexpr size_t kept_behind = 2;
}  // namespace

text_source::text_source(std::FILE* file, size_t chunk_size) : file_(file), owned_(true) {
    if (!file_) return;
    const long start = std::ftell(file_);
    if (start >= 0 && std::fseek(file_, 0, SEEK_END) == 0) {
        const long end = std::ftell(file_);
        if (end >= start) file_size_ = end - start;
        if (std::fseek(file_, start, SEEK_SET) != 0) file_size_ = -1;
    }
    size_t wanted = chunk_size;
    if (file_size_ >= 0 && static_cast<uint64_t>(file_size_) < chunk_size) wanted = static_cast<size_t>(file_size_);
    capacity_ = wanted + kept_behind + 64;
    data_ = static_cast<char*>(u_malloc(capacity_));
    if (!data_) capacity_ = 0;
}

text_source::text_source(const char* data, size_t size)
    : data_(const_cast<char*>(data)), capacity_(size), end_(size), eof_(true), file_size_(static_cast<int64_t>(size)) {}

text_source::~text_source() {
    if (owned_) u_free(data_);
}

void text_source::compact() {
    const size_t keep = pos_ < kept_behind ? pos_ : kept_behind;
    const size_t drop = pos_ - keep;
    if (drop == 0) return;
    std::memmove(data_, data_ + drop, end_ - drop);
    consumed_before_ += static_cast<int64_t>(drop);
    pos_ -= drop;
    end_ -= drop;
}

bool text_source::read_more() {
    const size_t wanted = capacity_ - end_;
    const size_t got = std::fread(data_ + end_, 1, wanted, file_);
    end_ += got;
    // A short read is the end of the input (or a read error, which ends it too).
    if (got < wanted) eof_ = true;
    return got > 0;
}

bool text_source::refill() {
    if (eof_ || !data_) return false;
    compact();
    if (end_ == capacity_) return false;
    return read_more();
}

int text_source::get() {
    if (pos_ == end_ && !refill()) {
        step_ = 0;
        return end_of_text;
    }
    const auto c = static_cast<unsigned char>(data_[pos_]);
    if (c == '\r') {
        if (pos_ + 1 == end_) refill();
        if (pos_ + 1 < end_ && data_[pos_ + 1] == '\n') {
            pos_ += 2;
            step_ = 2;
            return '\n';
        }
    }
    ++pos_;
    step_ = 1;
    return c;
}

void text_source::unget() {
    pos_ -= step_;
    step_ = 0;
}

int text_source::peek() {
    const int c = get();
    unget();
    return c;
}

bool text_source::read_line(char* line, size_t capacity, bool consume_rest) {
    size_t n = 0;
    int c = end_of_text;
    while (n + 1 < capacity) {
        c = get();
        if (c == end_of_text) break;
        line[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    line[n] = '\0';
    if (n == 0 && c == end_of_text) return false;
    if (consume_rest && c != '\n' && c != end_of_text) {
        do
            c = get();
        while (c != '\n' && c != end_of_text);
    }
    return true;
}

int64_t text_source::remaining() {
    if (file_size_ < 0) return -1;
    const int64_t delivered = consumed_before_ + static_cast<int64_t>(pos_);
    return file_size_ > delivered ? file_size_ - delivered : 0;
}

int64_t text_source::fill(size_t min_bytes) {
    step_ = 0;
    while (end_ - pos_ < min_bytes && !eof_ && data_) {
        compact();
        if (capacity_ - pos_ < min_bytes) {
            const size_t grown = pos_ + min_bytes + 64;
            auto* bigger = static_cast<char*>(u_realloc(data_, grown));
            if (!bigger) return -1;
            data_ = bigger;
            capacity_ = grown;
        }
        read_more();
    }
    return static_cast<int64_t>(end_ - pos_);
}

int64_t text_source::fill_buffer() {
    step_ = 0;
    if (data_ && !eof_) {
        compact();
        while (!eof_ && end_ < capacity_)
            read_more();
    }
    return static_cast<int64_t>(end_ - pos_);
}

bool parse_float(const std::string& text, double& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        const bool negative = !text.empty() && text[0] == '-';
        const size_t e = text.find('e');
        const bool tiny = e != std::string::npos && e + 1 < text.size() && text[e + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        if (negative) value = -value;
        return true;
    }
    return ec == std::errc() && ptr == last;
}

bool parse_float(const std::string& text, float& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        double wide = 0;
        if (!parse_float(text, wide)) return false;
        value = static_cast<float>(wide);
        if (std::isfinite(wide) && std::isinf(value))
            value = std::copysign(std::numeric_limits<float>::infinity(), value);
        return true;
    }
    return ec == std::errc() && ptr == last;
}

void append_g(std::string& out, double value) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    out.append(text, result.ptr);
}

void append_fixed(std::string& out, double value, int precision, int width) {
    char text[400];
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
    const auto length = static_cast<int>(result.ptr - text);
    if (length < width) out.append(static_cast<size_t>(width - length), ' ');
    out.append(text, result.ptr);
}

void append_int(std::string& out, int64_t value, int width) {
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, value);
    const auto length = static_cast<int>(result.ptr - text);
    if (length < width) out.append(static_cast<size_t>(width - length), ' ');
    out.append(text, result.ptr);
}

void append_padded(std::string& out, const char* field, size_t field_size, int width) {
    size_t length = strnlen(field, field_size);
    if (length > static_cast<size_t>(width)) length = static_cast<size_t>(width);
    out.append(field, length);
    out.append(static_cast<size_t>(width) - length, ' ');
}

bool write_text(std::FILE* stream, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

}  // namespace mf::codev
