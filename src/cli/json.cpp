#include "cli/json.h"

#include <cstdio>

namespace kiren::cli {

std::string JsonStr(const std::string& AText) {
  std::string out = "\"";
  for (const char ch : AText) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof(buf), "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

TJsonObject& TJsonObject::AddRaw(const std::string& AKey, const std::string& AJson) {
  if (!FBody.empty())
    FBody += ",";
  FBody += JsonStr(AKey) + ":" + AJson;
  return *this;
}

TJsonObject& TJsonObject::Add(const std::string& AKey, const std::string& AValue) {
  return AddRaw(AKey, JsonStr(AValue));
}

TJsonObject& TJsonObject::Add(const std::string& AKey, const char* AValue) {
  return AddRaw(AKey, JsonStr(AValue));
}

TJsonObject& TJsonObject::Add(const std::string& AKey, std::int64_t AValue) {
  return AddRaw(AKey, std::to_string(AValue));
}

TJsonObject& TJsonObject::Add(const std::string& AKey, bool AValue) {
  return AddRaw(AKey, AValue ? "true" : "false");
}

TJsonObject& TJsonObject::Add(const std::string& AKey, const std::vector<std::string>& AValues) {
  std::string list = "[";
  for (std::size_t i = 0; i < AValues.size(); ++i)
    list += (i ? "," : "") + JsonStr(AValues[i]);
  return AddRaw(AKey, list + "]");
}

TJsonObject& TJsonObject::Add(const std::string& AKey, const TJsonObject& AValue) {
  return AddRaw(AKey, AValue.Str());
}

TJsonObject& TJsonObject::Merge(const TJsonObject& AOther) {
  if (!AOther.FBody.empty())
    FBody += (FBody.empty() ? "" : ",") + AOther.FBody;
  return *this;
}

}  // namespace kiren::cli
