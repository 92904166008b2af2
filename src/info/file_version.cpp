#include "info/file_version.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "info/version_constants.h"

namespace kiren {

void ReadFileVersionInfo(std::uint16_t, TFileVersionInfo& AInfo) {
  AInfo = TFileVersionInfo{};
  AInfo.CompanyName = KIREN_COMPANY_NAME;
  AInfo.FileDescription = KIREN_PRODUCT_NAME;
  AInfo.FileVersion = KIREN_PRODUCT_VERSION;
  AInfo.InternalName = KIREN_INTERNAL_NAME;
  AInfo.LegalCopyRight = KIREN_COPYRIGHT;
  AInfo.OriginalFileName = KIREN_INTERNAL_NAME;
  AInfo.ProductName = KIREN_PRODUCT_NAME;
  AInfo.ProductVersion = KIREN_PRODUCT_VERSION;
  AInfo.FileFunction = "Application";
#ifndef NDEBUG
  AInfo.DebugBuild = true;
#endif
}

std::uint16_t LangIdOfLocale(const std::string& ALang) {
  static const std::pair<const char*, std::uint16_t> kKnown[] = {
      {"ru", 1049}, {"ru-ru", 1049}, {"en-us", 1033}, {"en-gb", 2057},
      {"uk", 1058}, {"uk-ua", 1058}, {"be", 1059},    {"be-by", 1059},
  };
  std::string name = ALang;
  std::replace(name.begin(), name.end(), '_', '-');
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  for (const auto& [known, id] : kKnown)
    if (name == known)
      return id;
  return name.rfind("en", 0) == 0 ? kLangEnglishUs : kLangRussian;
}

}  // namespace kiren
