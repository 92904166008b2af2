#include "logging/safe_logger.h"

#include <utility>

namespace kiren {

std::shared_ptr<ISafeLogger> TSafeLogger::Create(const std::string& ADir,
                                                 const std::string& APrefix, bool AActive,
                                                 TClock AClock) {
  return std::make_shared<TSafeLogger>(ADir, APrefix, AActive, std::move(AClock));
}

TSafeLogger::TSafeLogger(const std::string& ADir, const std::string& APrefix, bool AActive,
                         TClock AClock)
    : fLogger(TCommonLogger::Create(ADir, APrefix, AActive, std::move(AClock))) {}

std::shared_ptr<ICommonLogger> TSafeLogger::Lock() {
  fCS.lock();
  return fLogger;
}

void TSafeLogger::Unlock() {
  fCS.unlock();
}

bool TSafeLogger::GetActive() const {
  return Locked([](ICommonLogger& l) { return l.GetActive(); });
}

void TSafeLogger::SetActive(bool AValue) {
  Locked([&](ICommonLogger& l) { l.SetActive(AValue); });
}

std::string TSafeLogger::GetDir() const {
  return Locked([](ICommonLogger& l) { return l.GetDir(); });
}

void TSafeLogger::SetDir(const std::string& AValue) {
  Locked([&](ICommonLogger& l) { l.SetDir(AValue); });
}

std::string TSafeLogger::GetPrefix() const {
  return Locked([](ICommonLogger& l) { return l.GetPrefix(); });
}

void TSafeLogger::SetPrefix(const std::string& AValue) {
  Locked([&](ICommonLogger& l) { l.SetPrefix(AValue); });
}

bool TSafeLogger::GetDateInTimestamp() const {
  return Locked([](ICommonLogger& l) { return l.GetDateInTimestamp(); });
}

void TSafeLogger::SetDateInTimestamp(bool AValue) {
  Locked([&](ICommonLogger& l) { l.SetDateInTimestamp(AValue); });
}

std::int32_t TSafeLogger::GetMaxSize() const {
  return Locked([](ICommonLogger& l) { return l.GetMaxSize(); });
}

void TSafeLogger::SetMaxSize(std::int32_t AValue) {
  Locked([&](ICommonLogger& l) { l.SetMaxSize(AValue); });
}

TCodePage TSafeLogger::GetCodePage() const {
  return Locked([](ICommonLogger& l) { return l.GetCodePage(); });
}

void TSafeLogger::SetCodePage(TCodePage AValue) {
  Locked([&](ICommonLogger& l) { l.SetCodePage(AValue); });
}

std::string TSafeLogger::GetFileName() const {
  return Locked([](ICommonLogger& l) { return l.GetFileName(); });
}

void TSafeLogger::SetFileName(const std::string& AValue) {
  Locked([&](ICommonLogger& l) { l.SetFileName(AValue); });
}

bool TSafeLogger::GetUseSizeForHexData() const {
  return Locked([](ICommonLogger& l) { return l.GetUseSizeForHexData(); });
}

void TSafeLogger::SetUseSizeForHexData(bool AValue) {
  Locked([&](ICommonLogger& l) { l.SetUseSizeForHexData(AValue); });
}

TFileChangedEvent TSafeLogger::GetOnFileChanged() const {
  return Locked([](ICommonLogger& l) { return l.GetOnFileChanged(); });
}

void TSafeLogger::SetOnFileChanged(TFileChangedEvent AValue) {
  Locked([&](ICommonLogger& l) { l.SetOnFileChanged(std::move(AValue)); });
}

bool TSafeLogger::GetUseStat() const {
  return Locked([](ICommonLogger& l) { return l.GetUseStat(); });
}

void TSafeLogger::SetUseStat(bool AValue) {
  Locked([&](ICommonLogger& l) { l.SetUseStat(AValue); });
}

bool TSafeLogger::GetDateInFileName() const {
  return Locked([](ICommonLogger& l) { return l.GetDateInFileName(); });
}

void TSafeLogger::SetDateInFileName(bool AValue) {
  Locked([&](ICommonLogger& l) { l.SetDateInFileName(AValue); });
}

bool TSafeLogger::GetContinuePrevFile() const {
  return Locked([](ICommonLogger& l) { return l.GetContinuePrevFile(); });
}

void TSafeLogger::SetContinuePrevFile(bool AValue) {
  Locked([&](ICommonLogger& l) { l.SetContinuePrevFile(AValue); });
}

std::string TSafeLogger::GetFileExt() const {
  return Locked([](ICommonLogger& l) { return l.GetFileExt(); });
}

void TSafeLogger::SetFileExt(const std::string& AValue) {
  Locked([&](ICommonLogger& l) { l.SetFileExt(AValue); });
}

bool TSafeLogger::GetDayInDir() const {
  return Locked([](ICommonLogger& l) { return l.GetDayInDir(); });
}

void TSafeLogger::SetDayInDir(bool AValue) {
  Locked([&](ICommonLogger& l) { l.SetDayInDir(AValue); });
}

std::string TSafeLogger::GetBanner() const {
  return Locked([](ICommonLogger& l) { return l.GetBanner(); });
}

void TSafeLogger::SetBanner(const std::string& AValue) {
  Locked([&](ICommonLogger& l) { l.SetBanner(AValue); });
}

std::string TSafeLogger::GetLastOpenError() const {
  return Locked([](ICommonLogger& l) { return l.GetLastOpenError(); });
}

bool TSafeLogger::Open() {
  return Locked([](ICommonLogger& l) { return l.Open(); });
}

bool TSafeLogger::IsOpened() const {
  return Locked([](ICommonLogger& l) { return l.IsOpened(); });
}

void TSafeLogger::Clear() {
  Locked([](ICommonLogger& l) { l.Clear(); });
}

void TSafeLogger::Close() {
  Locked([](ICommonLogger& l) { l.Close(); });
}

void TSafeLogger::AddHexData(const Bytes& AData, bool IsReq, const std::string& APrefix) {
  Locked([&](ICommonLogger& l) { l.AddHexData(AData, IsReq, APrefix); });
}

void TSafeLogger::AddHexData(const std::uint8_t* AData, std::int32_t ASize, bool IsReq,
                             const std::string& APrefix) {
  Locked([&](ICommonLogger& l) { l.AddHexData(AData, ASize, IsReq, APrefix); });
}

void TSafeLogger::AddHexData(const Bytes& AData, const std::string& ADelim,
                             const std::string& APrefix) {
  Locked([&](ICommonLogger& l) { l.AddHexData(AData, ADelim, APrefix); });
}

void TSafeLogger::AddHexData(const std::uint8_t* AData, std::int32_t ASize,
                             const std::string& ADelim, const std::string& APrefix) {
  Locked([&](ICommonLogger& l) { l.AddHexData(AData, ASize, ADelim, APrefix); });
}

void TSafeLogger::AddEmptyLine() {
  Locked([](ICommonLogger& l) { l.AddEmptyLine(); });
}

void TSafeLogger::AddStrSimple(const std::string& AStr) {
  Locked([&](ICommonLogger& l) { l.AddStrSimple(AStr); });
}

void TSafeLogger::AddStr(const std::string& AStr, bool NeedTime, const std::string& ADelim) {
  Locked([&](ICommonLogger& l) { l.AddStr(AStr, NeedTime, ADelim); });
}

void TSafeLogger::AddStr(const std::string& AFormat, std::initializer_list<TFormatArg> AParams,
                         bool NeedTime, const std::string& ADelim) {
  Locked([&](ICommonLogger& l) { l.AddStr(AFormat, AParams, NeedTime, ADelim); });
}

void TSafeLogger::AddTitleStr(const std::string& ATitle, const std::string& AStr, bool NeedTime,
                              const std::string& ADelim) {
  Locked([&](ICommonLogger& l) { l.AddTitleStr(ATitle, AStr, NeedTime, ADelim); });
}

}  // namespace kiren
