#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "base/bytes.h"
#include "base/codepage.h"
#include "base/text_utils.h"
#include "logging/format_str.h"

namespace kiren {

// Source of the current local time (LocalNow by default); tests install their own to fix
// timestamps and days.
using TClock = std::function<TLocalDateTime()>;

// Write-speed statistics.
struct TStat {
  long double minSpeed = 0;
  long double maxSpeed = 0;
  std::int64_t cnt = 0;
  long double sum = 0;

  void Clear() { *this = TStat(); }
  // The first value after Clear sets both bounds.
  void Add(long double ASpeed);
  long double avgSpeed() const { return cnt == 0 ? 0 : sum / static_cast<long double>(cnt); }
};

class ICommonLogger;

// Called with the logger and the full path of the file it has just opened.
using TFileChangedEvent = std::function<void(ICommonLogger* Sender, const std::string& FileName)>;

// Installs how OnFileChanged reaches the main thread: APost queues a call there and returns at
// once. The calling thread becomes the main thread. Without a poster, or on the main thread,
// the callback runs at once on the opening thread.
void SetMainThreadPoster(std::function<void(std::function<void()>)> APost);

// Text log in files: timestamped lines and hexadecimal dumps of byte buffers.
// Use through std::shared_ptr<ICommonLogger>; default arguments are declared here only.
// No Add operation throws on file-system trouble: a file that cannot be opened drops the text
// and leaves its reason in GetLastOpenError.
class ICommonLogger {
 public:
  virtual ~ICommonLogger() = default;

  // While false every Add operation does nothing; switching it off closes the file.
  virtual bool GetActive() const = 0;
  virtual void SetActive(bool AValue) = 0;
  // Log folder, stored through GetFullDir (absolute, ending in '/', or empty for the
  // current folder). An open file stays open.
  virtual std::string GetDir() const = 0;
  virtual void SetDir(const std::string& AValue) = 0;
  virtual std::string GetPrefix() const = 0;
  virtual void SetPrefix(const std::string& AValue) = 0;
  // Timestamps "dd.mm.yyyy hh:nn:ss.zzz" instead of "hh:nn:ss.zzz".
  virtual bool GetDateInTimestamp() const = 0;
  virtual void SetDateInTimestamp(bool AValue) = 0;
  // Bytes per file before a new file is started; 0 or less: no limit.
  virtual std::int32_t GetMaxSize() const = 0;
  virtual void SetMaxSize(std::int32_t AValue) = 0;
  // Encoding of the file; a change closes the file.
  virtual TCodePage GetCodePage() const = 0;
  virtual void SetCodePage(TCodePage AValue) = 0;
  // Fixed file name (without folder); setting a path also sets Dir from its folder part.
  virtual std::string GetFileName() const = 0;
  virtual void SetFileName(const std::string& AValue) = 0;
  // Hex lines carry "[count] " before the bytes.
  virtual bool GetUseSizeForHexData() const = 0;
  virtual void SetUseSizeForHexData(bool AValue) = 0;
  virtual TFileChangedEvent GetOnFileChanged() const = 0;
  virtual void SetOnFileChanged(TFileChangedEvent AValue) = 0;
  // Times every write and may add "write speed: ... ms" lines.
  virtual bool GetUseStat() const = 0;
  virtual void SetUseStat(bool AValue) = 0;
  // Generated names carry the date: prefix + "yyyy.mm.dd_hh.nn.ss" + ext, else "hh.nn.ss".
  virtual bool GetDateInFileName() const = 0;
  virtual void SetDateInFileName(bool AValue) = 0;
  // The first open appends to the only file of this prefix below MaxSize. Setting it
  // (either way) turns an unlimited MaxSize into 1 MiB.
  virtual bool GetContinuePrevFile() const = 0;
  virtual void SetContinuePrevFile(bool AValue) = 0;
  // Extension with its dot, ".txt" by default.
  virtual std::string GetFileExt() const = 0;
  virtual void SetFileExt(const std::string& AValue) = 0;
  // Files go into a "yyyy.mm.dd" subfolder and a new one is started each day. Switching it on
  // also turns DateInFileName off and DateInTimestamp on.
  virtual bool GetDayInDir() const = 0;
  virtual void SetDayInDir(bool AValue) = 0;
  // Written at the top of a new file (and of a continued one while ContinuePrevFile is on).
  virtual std::string GetBanner() const = 0;
  virtual void SetBanner(const std::string& AValue) = 0;
  // Reason of the last failed open; empty after a successful one.
  virtual std::string GetLastOpenError() const = 0;

  // Closes any open file and opens the one the settings name now.
  virtual bool Open() = 0;
  virtual bool IsOpened() const = 0;
  // Truncates the open file; counters, byte-order mark and banner are left alone.
  virtual void Clear() = 0;
  // Closes the file and drops pending empty lines.
  virtual void Close() = 0;

  // "T >> [S]Prefix HH HH" (IsReq) or "T << ..." (received bytes).
  virtual void AddHexData(const Bytes& AData, bool IsReq, const std::string& APrefix = {}) = 0;
  virtual void AddHexData(const std::uint8_t* AData, std::int32_t ASize, bool IsReq,
                          const std::string& APrefix = {}) = 0;
  // "T Delim [S]Prefix HH HH".
  virtual void AddHexData(const Bytes& AData, const std::string& ADelim,
                          const std::string& APrefix = {}) = 0;
  virtual void AddHexData(const std::uint8_t* AData, std::int32_t ASize, const std::string& ADelim,
                          const std::string& APrefix = {}) = 0;
  // A string literal delimiter would otherwise pick the bool overloads.
  void AddHexData(const Bytes& AData, const char* ADelim, const std::string& APrefix = {}) {
    AddHexData(AData, std::string(ADelim), APrefix);
  }
  void AddHexData(const std::uint8_t* AData, std::int32_t ASize, const char* ADelim,
                  const std::string& APrefix = {}) {
    AddHexData(AData, ASize, std::string(ADelim), APrefix);
  }
  // One more empty line in front of the next text.
  virtual void AddEmptyLine() = 0;
  // The text alone.
  virtual void AddStrSimple(const std::string& AStr) = 0;
  // "[T][ Delim ]Str".
  virtual void AddStr(const std::string& AStr, bool NeedTime = true,
                      const std::string& ADelim = {}) = 0;
  // AFormat filled by FormatStr (see format_str.h), then as above:
  //   AddStr("Ошибка записи в COM-порт [попытка %d]: %s", {attempts, text}, true, "**");
  // A format that does not fit its arguments throws std::invalid_argument, also while inactive.
  virtual void AddStr(const std::string& AFormat, std::initializer_list<TFormatArg> AParams,
                      bool NeedTime = true, const std::string& ADelim = {}) = 0;
  // An empty line, "[T][ Delim ]Title", then Str.
  virtual void AddTitleStr(const std::string& ATitle, const std::string& AStr, bool NeedTime = true,
                           const std::string& ADelim = {}) = 0;
};

// The file logger. Keeps at most one file open, opens it on the first text and starts a
// new one when the size limit or the day is reached. Not safe for concurrent use.
class TCommonLogger final : public ICommonLogger,
                            public std::enable_shared_from_this<TCommonLogger> {
 public:
  // AClock defaults to LocalNow.
  static std::shared_ptr<ICommonLogger> Create(const std::string& ADir, const std::string& APrefix,
                                               bool AActive, TClock AClock = {});
  TCommonLogger(const std::string& ADir, const std::string& APrefix, bool AActive,
                TClock AClock = {});
  ~TCommonLogger() override;
  TCommonLogger(const TCommonLogger&) = delete;
  TCommonLogger& operator=(const TCommonLogger&) = delete;
  using ICommonLogger::AddHexData;

  bool GetActive() const override { return fActive; }
  void SetActive(bool AValue) override;
  std::string GetDir() const override { return fDir; }
  void SetDir(const std::string& AValue) override { fDir = GetFullDir(AValue); }
  std::string GetPrefix() const override { return fPrefix; }
  void SetPrefix(const std::string& AValue) override { fPrefix = AValue; }
  bool GetDateInTimestamp() const override { return fUseDate; }
  void SetDateInTimestamp(bool AValue) override { fUseDate = AValue; }
  std::int32_t GetMaxSize() const override { return fMaxSize; }
  void SetMaxSize(std::int32_t AValue) override { fMaxSize = AValue; }
  TCodePage GetCodePage() const override { return fEnc; }
  void SetCodePage(TCodePage AValue) override;
  std::string GetFileName() const override { return fFileName; }
  void SetFileName(const std::string& AValue) override;
  bool GetUseSizeForHexData() const override { return FUseSizeForHexData; }
  void SetUseSizeForHexData(bool AValue) override { FUseSizeForHexData = AValue; }
  TFileChangedEvent GetOnFileChanged() const override { return fOnFileChanged; }
  void SetOnFileChanged(TFileChangedEvent AValue) override { fOnFileChanged = std::move(AValue); }
  bool GetUseStat() const override { return FUseStat; }
  void SetUseStat(bool AValue) override;
  bool GetDateInFileName() const override { return FDateInFileName; }
  void SetDateInFileName(bool AValue) override { FDateInFileName = AValue; }
  bool GetContinuePrevFile() const override { return FContinuePrevFile; }
  void SetContinuePrevFile(bool AValue) override;
  std::string GetFileExt() const override { return FFileExt; }
  void SetFileExt(const std::string& AValue) override { FFileExt = AValue; }
  bool GetDayInDir() const override { return FDayInDir; }
  void SetDayInDir(bool AValue) override;
  std::string GetBanner() const override { return FBanner; }
  void SetBanner(const std::string& AValue) override { FBanner = AValue; }
  std::string GetLastOpenError() const override { return FLastOpenError; }

  bool Open() override;
  bool IsOpened() const override { return f >= 0; }
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

  const TStat& GetStat() const { return FStat; }

  // Hex text of the bytes of request lines (">>"); BufToHex when unset. The debug log
  // installs one that can hide key bytes.
  using THexText = std::function<std::string(const std::uint8_t* AData, std::int32_t ASize)>;
  void SetRequestHexText(THexText AHexText) { FRequestHexText = std::move(AHexText); }

  // Hex text of a buffer: "01 02 0A".
  static std::string BufToHex(const Bytes& ABuf);
  static std::string BufToHex(const std::uint8_t* ABuf, std::int32_t ASize);
  // Local time as "hh:nn:ss.zzz" and "dd.mm.yyyy hh:nn:ss.zzz".
  static std::string NowTime2Str();
  static std::string NowDateTime2Str();
  static std::string Time2Str(const TLocalDateTime& ADT);
  static std::string DateTime2Str(const TLocalDateTime& ADT);
  // Folder for a configured value: empty stays empty, an absolute path is kept, a relative
  // one (or one led by a backslash, "\Logs") is taken under ProgramDir(); the result ends
  // in '/'.
  static std::string GetFullDir(const std::string& AValue);

 private:
  using TWriteFileFunc = bool (TCommonLogger::*)(const void* ABuffer,
                                                 std::uint32_t nNumberOfBytesToWrite,
                                                 std::uint32_t& lpNumberOfBytesWritten);

  std::string Timestamp() const;
  std::string SizeField(std::int32_t ASize) const;
  void WriteText(const std::string& AText);
  bool OpenDue();
  std::string FindPrevFile(const std::string& ADir, const std::string& APrefix,
                           std::int64_t AMaxSize) const;
  bool OpenFailed();
  void NotifyFileChange();
  bool PlainWrite(const void* ABuffer, std::uint32_t nNumberOfBytesToWrite,
                  std::uint32_t& lpNumberOfBytesWritten);
  bool TimedWrite(const void* ABuffer, std::uint32_t nNumberOfBytesToWrite,
                  std::uint32_t& lpNumberOfBytesWritten);

  int f = -1;  // file descriptor of the open log file
  std::string fDir;
  std::string fPrefix;
  bool fActive = false;
  bool fUseDate = false;
  std::int32_t fMaxSize = 0;
  std::int64_t fCurSize = 0;  // 64 bits: an unlimited file may pass 2 GiB
  TFileChangedEvent fOnFileChanged;
  TCodePage fEnc = TCodePage::Cp1251;
  std::string fFileName;
  std::string fSyncFileName;
  bool FUseSizeForHexData = false;
  TWriteFileFunc FWriteFile = &TCommonLogger::PlainWrite;
  bool FUseStat = false;
  TStat FStat;
  std::int32_t FEmptyLineCnt = 0;
  bool FDateInFileName = true;
  bool FContinuePrevFile = false;
  bool FDayInDir = false;
  std::string FFileExt = ".txt";
  std::string FBanner;
  TLocalDateTime FLastDT;  // only the day fields are used
  std::string FLastOpenError;
  TClock FClock;
  THexText FRequestHexText;
};

}  // namespace kiren
