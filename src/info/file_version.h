#pragma once

#include <cstdint>
#include <string>

namespace kiren {

// Version strings of the program. They come from build constants: the program carries no
// version resource of its own.
struct TFileVersionInfo {
  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string InternalName;
  std::string LegalCopyRight;
  std::string OriginalFileName;
  std::string ProductName;
  std::string ProductVersion;
  std::string FileFunction;
  bool DebugBuild = false;
};

// The only translation of the strings is Russian, so every ALangID gets it.
constexpr std::uint16_t kLangRussian = 1049;
constexpr std::uint16_t kLangEnglishUs = 1033;

void ReadFileVersionInfo(std::uint16_t ALangID, TFileVersionInfo& AInfo);

// The language ID of a locale name such as "ru-RU" or "en_US" (underscore read as hyphen);
// unknown names give 1033 when they start with "en" and 1049 otherwise.
std::uint16_t LangIdOfLocale(const std::string& ALang);

}  // namespace kiren
