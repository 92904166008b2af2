#include "logging/dbg_logger.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "base/private_dirs.h"
#include "logging/program_dir.h"

namespace kiren {

namespace {

std::string EnvValue(const char* AName) {
  const char* v = std::getenv(AName);
  return v ? std::string(v) : std::string();
}

// A folder made here is for the owner alone (0700): the logs carry keys.
bool UsableDir(const std::string& ADir) {
  return CreatePrivateDirs(ADir) && ::access(ADir.c_str(), W_OK | X_OK) == 0;
}

std::atomic<bool> gMaskKeys{false};

// The load-key request on the wire: FE, length, then the escaped body A1, key type, the six
// key bytes and the CRC. An escape pair (FF 00, FF 01) stands for one body byte.
constexpr std::uint8_t kWireStart = 0xFE;
constexpr std::uint8_t kWireEscape = 0xFF;
constexpr std::uint8_t kLoadKeyCommand = 0xA1;
constexpr int kFirstKeyByte = 2;  // body positions, from 0 for the command byte
constexpr int kLastKeyByte = 7;

bool IsLoadKeyRequest(const std::uint8_t* AData, std::int32_t ASize) {
  return ASize > 2 && AData[0] == kWireStart && AData[2] == kLoadKeyCommand;
}

std::string MaskedLoadKeyHex(const std::uint8_t* AData, std::int32_t ASize) {
  std::string out;
  int body = -1;  // body byte the current wire byte belongs to
  bool escapedByte = false;
  for (std::int32_t i = 0; i < ASize; ++i) {
    bool key = false;
    if (i >= 2) {
      if (escapedByte) {
        escapedByte = false;
        if (body >= kFirstKeyByte && body <= kLastKeyByte)
          continue;  // the second half of a hidden escape pair
      } else {
        ++body;
        escapedByte = AData[i] == kWireEscape;
        key = body >= kFirstKeyByte && body <= kLastKeyByte;
      }
    }
    if (!out.empty())
      out += ' ';
    out += key ? "**" : TCommonLogger::BufToHex(AData + i, 1);
  }
  return out;
}

std::string RequestHex(const std::uint8_t* AData, std::int32_t ASize, bool AMaskKeys) {
  if (AMaskKeys && IsLoadKeyRequest(AData, ASize))
    return MaskedLoadKeyHex(AData, ASize);
  return TCommonLogger::BufToHex(AData, ASize);
}

std::string StateHome() {
  const std::string xdg = EnvValue("XDG_STATE_HOME");
  if (!xdg.empty() && xdg.front() == '/')
    return xdg;
  std::string home = EnvValue("HOME");
  if (home.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
      home = pw->pw_dir;
  }
  return home + "/.local/state";
}

}  // namespace

std::string DbgLogDir() {
  const std::string forced = EnvValue("KIREN_LOG_DIR");
  if (!forced.empty())
    return TCommonLogger::GetFullDir(forced);
  const std::string besideProgram = ProgramDir() + "Logs/";
  if (UsableDir(besideProgram))
    return besideProgram;
  return StateHome() + "/kiren/Logs/";
}

void SetMaskKeys(bool AValue) {
  gMaskKeys = AValue;
}

bool GetMaskKeys() {
  return gMaskKeys;
}

std::string DbgRequestHex(const Bytes& AFrame, bool AMaskKeys) {
  return RequestHex(AFrame.data(), static_cast<std::int32_t>(AFrame.size()), AMaskKeys);
}

std::shared_ptr<ISafeLogger> DbgLogger() {
  static const std::shared_ptr<ISafeLogger> logger = [] {
    auto created = TSafeLogger::Create(DbgLogDir(), "dbg_", true);
    const auto inner = created->Lock();
    if (auto* common = dynamic_cast<TCommonLogger*>(inner.get()))
      common->SetRequestHexText([](const std::uint8_t* AData, std::int32_t ASize) {
        return RequestHex(AData, ASize, gMaskKeys);
      });
    created->Unlock();
    return created;
  }();
  return logger;
}

}  // namespace kiren
