#include "common/text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/alloc.h"
#include "common/msg.h"

namespace mf {

namespace {

// Drops white space outside double-quoted stretches and upper-cases the rest.
void squeeze_upper(char* text) {
    bool quoted = false;
    char* out = text;
    for (char* in = text; *in; ++in) {
        auto c = static_cast<unsigned char>(*in);
        if (c == '"') quoted = !quoted;
        if (!quoted && std::isspace(c)) continue;
        *out++ = static_cast<char>(std::toupper(c));
    }
    *out = '\0';
}

char* copy_text(const char* text) {
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(u_malloc(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

bool is_trimmed(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

int strxcmp(const char* text, const char* keyword) {
    char* a = copy_text(text);
    char* b = a ? copy_text(keyword) : nullptr;
    if (!a || !b) {
        u_free(a);
        u_sink("strxcmp: out of memory\n");
        return 0;
    }
    for (char* p = a; *p; ++p)
        if (*p == ':') *p = ' ';
    squeeze_upper(a);
    squeeze_upper(b);
    int order = std::strcmp(a, b);
    u_free(a);
    u_free(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int u_trim(char* text) {
    size_t length = std::strlen(text);
    size_t start = 0;
    while (start < length && is_trimmed(text[start]))
        ++start;
    size_t end = length;
    while (end > start && is_trimmed(text[end - 1]))
        --end;
    std::memmove(text, text + start, end - start);
    text[end - start] = '\0';
    return static_cast<int>(length - (end - start));
}

std::string u_vformat(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    const int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string text(static_cast<size_t>(n) + 1, '\0');
    va_copy(copy, args);
    std::vsnprintf(text.data(), text.size(), fmt, copy);
    va_end(copy);
    text.resize(static_cast<size_t>(n));
    return text;
}

}  // namespace mf
