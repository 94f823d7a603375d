// Keyword comparison and trimming.
#pragma once

#include <cstdarg>
#include <string>

namespace mf {

// Relaxed comparison of a text with a keyword: ':' in the text counts as a blank,
// white space outside double quotes is ignored in both, case is ignored.
// -1, 0 or 1. When the working copies cannot be allocated the sink gets
// "strxcmp: out of memory\n" and the result is 0.
int strxcmp(const char* text, const char* keyword);

// Removes leading and trailing blanks, tabs and newlines in place (carriage
// returns stay); returns the number of characters removed.
int u_trim(char* text);

// printf-style formatting into a string of any length (args is not consumed).
std::string u_vformat(const char* fmt, va_list args);

}  // namespace mf
