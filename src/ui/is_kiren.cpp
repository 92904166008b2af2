#include "ui/is_kiren.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace kiren {

namespace {

std::string Trim(const std::string& AText) {
  auto notBlank = [](unsigned char c) { return !std::isspace(c); };
  auto first = std::find_if(AText.begin(), AText.end(), notBlank);
  auto last = std::find_if(AText.rbegin(), AText.rend(), notBlank).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string Lower(std::string AText) {
  for (char& c : AText)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return AText;
}

// Next logical line: physical lines joined where one ends with a backslash.
bool ReadLogicalLine(std::istream& AIn, std::string& ALine) {
  ALine.clear();
  std::string part;
  bool any = false;
  while (std::getline(AIn, part)) {
    any = true;
    if (!part.empty() && part.back() == '\r')
      part.pop_back();
    if (!part.empty() && part.back() == '\\') {
      part.pop_back();
      ALine += part;
      continue;
    }
    ALine += part;
    return true;
  }
  return any;
}

}  // namespace

std::string GetWorkgroupName(const std::string& ASmbConfPath) {
  std::ifstream in(ASmbConfPath);
  if (!in)
    return {};
  std::string line, section, workgroup;
  while (ReadLogicalLine(in, line)) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#')
      continue;
    if (t[0] == '[') {
      const auto close = t.find(']');
      section =
          Lower(Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
      continue;
    }
    const auto eq = t.find('=');
    if (section != "global" || eq == std::string::npos)
      continue;
    if (Lower(Trim(t.substr(0, eq))) == "workgroup")
      workgroup = Trim(t.substr(eq + 1));
  }
  return workgroup;
}

bool IsServiceWorkgroup(const std::string& AWorkgroup) {
  return AWorkgroup == kServiceWorkgroup;
}

bool TServiceGate::IsKiren() {
  std::call_once(FOnce, [this] { FOpen = IsServiceWorkgroup(GetWorkgroupName(FPath)); });
  return FOpen;
}

}  // namespace kiren
