#pragma once

#include <string>

namespace kiren {

// UTF-8 <-> code points. A malformed sequence decodes to U+FFFD, one per bad byte.
std::u32string Utf8ToU32(const std::string& AText);
std::string U32ToUtf8(const std::u32string& AText);
void AppendUtf8(std::string& AOut, char32_t ACodePoint);

}  // namespace kiren
