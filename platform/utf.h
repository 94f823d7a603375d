// UTF-16 <-> UTF-8 conversion for wide paths (portable, no system calls).
#pragma once

#include <string>

namespace mf::platform {

std::string utf16_to_utf8(const std::u16string& text);
std::u16string utf8_to_utf16(const std::string& text);

}  // namespace mf::platform
