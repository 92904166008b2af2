#pragma once

#include <memory>
#include <mutex>

#include "logging/common_logger.h"

namespace kiren {

// A logger that may be shared between threads: every operation runs under one recursive lock.
class ISafeLogger : public ICommonLogger {
 public:
  // Takes the lock and hands out the wrapped logger, so that several calls land together.
  // The caller must call Unlock exactly once afterwards, on the same thread.
  virtual std::shared_ptr<ICommonLogger> Lock() = 0;
  virtual void Unlock() = 0;
};

// Owns one TCommonLogger and serialises every call to it. A call that throws releases the lock
// and the error reaches the caller.
class TSafeLogger final : public ISafeLogger {
 public:
  static std::shared_ptr<ISafeLogger> Create(const std::string& ADir, const std::string& APrefix,
                                             bool AActive, TClock AClock = {});
  TSafeLogger(const std::string& ADir, const std::string& APrefix, bool AActive,
              TClock AClock = {});
  TSafeLogger(const TSafeLogger&) = delete;
  TSafeLogger& operator=(const TSafeLogger&) = delete;
  using ICommonLogger::AddHexData;

  std::shared_ptr<ICommonLogger> Lock() override;
  void Unlock() override;

  bool GetActive() const override;
  void SetActive(bool AValue) override;
  std::string GetDir() const override;
  void SetDir(const std::string& AValue) override;
  std::string GetPrefix() const override;
  void SetPrefix(const std::string& AValue) override;
  bool GetDateInTimestamp() const override;
  void SetDateInTimestamp(bool AValue) override;
  std::int32_t GetMaxSize() const override;
  void SetMaxSize(std::int32_t AValue) override;
  TCodePage GetCodePage() const override;
  void SetCodePage(TCodePage AValue) override;
  std::string GetFileName() const override;
  void SetFileName(const std::string& AValue) override;
  bool GetUseSizeForHexData() const override;
  void SetUseSizeForHexData(bool AValue) override;
  TFileChangedEvent GetOnFileChanged() const override;
  void SetOnFileChanged(TFileChangedEvent AValue) override;
  bool GetUseStat() const override;
  void SetUseStat(bool AValue) override;
  bool GetDateInFileName() const override;
  void SetDateInFileName(bool AValue) override;
  bool GetContinuePrevFile() const override;
  void SetContinuePrevFile(bool AValue) override;
  std::string GetFileExt() const override;
  void SetFileExt(const std::string& AValue) override;
  bool GetDayInDir() const override;
  void SetDayInDir(bool AValue) override;
  std::string GetBanner() const override;
  void SetBanner(const std::string& AValue) override;
  std::string GetLastOpenError() const override;

  bool Open() override;
  bool IsOpened() const override;
  void Clear() override;
  void Close() override;

  void AddHexData(const Bytes& AData, bool IsReq, const std::string& APrefix) override;
  void AddHexData(const std::uint8_t* AData, std::int32_t ASize, bool IsReq,
                  const std::string& APrefix) override;
  void AddHexData(const Bytes& AData, const std::string& ADelim,
                  const std::string& APrefix) override;
  void AddHexData(const std::uint8_t* AData, std::int32_t ASize, const std::string& ADelim,
                  const std::string& APrefix) override;
  void AddEmptyLine() override;
  void AddStrSimple(const std::string& AStr) override;
  void AddStr(const std::string& AStr, bool NeedTime, const std::string& ADelim) override;
  void AddStr(const std::string& AFormat, std::initializer_list<TFormatArg> AParams, bool NeedTime,
              const std::string& ADelim) override;
  void AddTitleStr(const std::string& ATitle, const std::string& AStr, bool NeedTime,
                   const std::string& ADelim) override;

 private:
  // Runs AOp on the wrapped logger under the lock and returns its result.
  template <class TOp>
  auto Locked(TOp&& AOp) const {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    return AOp(*fLogger);
  }

  mutable std::recursive_mutex fCS;
  std::shared_ptr<ICommonLogger> fLogger;
};

}  // namespace kiren
