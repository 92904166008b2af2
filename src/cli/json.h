#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiren::cli {

// A JSON string literal with quotes; control characters, quotes and backslashes escaped.
std::string JsonStr(const std::string& AText);

// Builds one JSON object member by member, in insertion order.
class TJsonObject {
 public:
  TJsonObject& Add(const std::string& AKey, const std::string& AValue);
  TJsonObject& Add(const std::string& AKey, const char* AValue);
  TJsonObject& Add(const std::string& AKey, std::int64_t AValue);
  TJsonObject& Add(const std::string& AKey, int AValue) {
    return Add(AKey, static_cast<std::int64_t>(AValue));
  }
  TJsonObject& Add(const std::string& AKey, bool AValue);
  TJsonObject& Add(const std::string& AKey, const std::vector<std::string>& AValues);
  TJsonObject& Add(const std::string& AKey, const TJsonObject& AValue);
  // AJson is already JSON text.
  TJsonObject& AddRaw(const std::string& AKey, const std::string& AJson);
  // Appends the members of AOther.
  TJsonObject& Merge(const TJsonObject& AOther);
  std::string Str() const { return "{" + FBody + "}"; }

 private:
  std::string FBody;
};

}  // namespace kiren::cli
