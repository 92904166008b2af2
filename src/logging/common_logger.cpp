#include "logging/common_logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/private_dirs.h"
#include "base/text_utils.h"
#include "logging/program_dir.h"

namespace kiren {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr std::int32_t kContinueMaxSize = 1048576;

struct TMainThreadPoster {
  std::mutex Mutex;
  std::function<void(std::function<void()>)> Post;
  std::thread::id MainId;
};

TMainThreadPoster& Poster() {
  static TMainThreadPoster poster;
  return poster;
}

std::string Two(int AValue) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", AValue);
  return buf;
}

// "yyyy.mm.dd"
std::string DayText(const TLocalDateTime& ADT) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d.%02d.%02d", ADT.Year, ADT.Month, ADT.Day);
  return buf;
}

// "hh.nn.ss"
std::string FileTimeText(const TLocalDateTime& ADT) {
  return Two(ADT.Hour) + "." + Two(ADT.Min) + "." + Two(ADT.Sec);
}

bool SameDay(const TLocalDateTime& A, const TLocalDateTime& B) {
  return A.Year == B.Year && A.Month == B.Month && A.Day == B.Day;
}

std::string TrimLeft(const std::string& AText) {
  std::size_t i = 0;
  while (i < AText.size() && static_cast<unsigned char>(AText[i]) <= ' ')
    ++i;
  return AText.substr(i);
}

std::string LastErrorText(int AErrno) {
  return std::system_category().message(AErrno);
}

Bytes ByteOrderMark(TCodePage ACodePage) {
  switch (ACodePage) {
    case TCodePage::Utf8:
      return {0xEF, 0xBB, 0xBF};
    case TCodePage::Utf16LE:
      return {0xFF, 0xFE};
    case TCodePage::Cp1251:
      break;
  }
  return {};
}

}  // namespace

void TStat::Add(long double ASpeed) {
  if (cnt == 0 || ASpeed < minSpeed)
    minSpeed = ASpeed;
  if (cnt == 0 || ASpeed > maxSpeed)
    maxSpeed = ASpeed;
  sum += ASpeed;
  ++cnt;
}

void SetMainThreadPoster(std::function<void(std::function<void()>)> APost) {
  auto& poster = Poster();
  std::lock_guard<std::mutex> lock(poster.Mutex);
  poster.Post = std::move(APost);
  poster.MainId = std::this_thread::get_id();
}

// ---- construction and settings ----

std::shared_ptr<ICommonLogger> TCommonLogger::Create(const std::string& ADir,
                                                     const std::string& APrefix, bool AActive,
                                                     TClock AClock) {
  return std::make_shared<TCommonLogger>(ADir, APrefix, AActive, std::move(AClock));
}

TCommonLogger::TCommonLogger(const std::string& ADir, const std::string& APrefix, bool AActive,
                             TClock AClock)
    : fPrefix(APrefix), fActive(AActive), FClock(AClock ? std::move(AClock) : TClock(LocalNow)) {
  FLastDT = FClock();
  FStat.Clear();
  SetDir(ADir);
}

TCommonLogger::~TCommonLogger() {
  Close();
}

void TCommonLogger::SetActive(bool AValue) {
  if (fActive && !AValue)
    Close();
  fActive = AValue;
}

void TCommonLogger::SetCodePage(TCodePage AValue) {
  if (AValue == fEnc)
    return;
  fEnc = AValue;
  Close();
}

void TCommonLogger::SetFileName(const std::string& AValue) {
  if (AValue == fFileName)
    return;
  // Clearing the fixed name returns to generated names in the same folder.
  if (AValue.empty()) {
    fFileName.clear();
    return;
  }
  const auto slash = AValue.rfind('/');
  if (slash == std::string::npos) {
    fFileName = AValue;
    SetDir({});
  } else {
    fFileName = AValue.substr(slash + 1);
    SetDir(AValue.substr(0, slash + 1));
  }
}

void TCommonLogger::SetUseStat(bool AValue) {
  if (AValue == FUseStat)
    return;
  FUseStat = AValue;
  FWriteFile = AValue ? &TCommonLogger::TimedWrite : &TCommonLogger::PlainWrite;
}

void TCommonLogger::SetContinuePrevFile(bool AValue) {
  FContinuePrevFile = AValue;
  if (fMaxSize <= 0)
    fMaxSize = kContinueMaxSize;
}

void TCommonLogger::SetDayInDir(bool AValue) {
  if (AValue && !FDayInDir) {
    FDateInFileName = false;
    fUseDate = true;
    FLastDT = FClock();
  }
  FDayInDir = AValue;
}

// ---- class-level helpers ----

std::string TCommonLogger::BufToHex(const Bytes& ABuf) {
  return BytesToHexStr(ABuf);
}

std::string TCommonLogger::BufToHex(const std::uint8_t* ABuf, std::int32_t ASize) {
  return ASize > 0 && ABuf ? BytesToHexStr(ABuf, static_cast<std::size_t>(ASize)) : std::string();
}

std::string TCommonLogger::Time2Str(const TLocalDateTime& ADT) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", ADT.Hour, ADT.Min, ADT.Sec, ADT.MSec);
  return buf;
}

std::string TCommonLogger::DateTime2Str(const TLocalDateTime& ADT) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d ", ADT.Day, ADT.Month, ADT.Year);
  return buf + Time2Str(ADT);
}

std::string TCommonLogger::NowTime2Str() {
  return Time2Str(LocalNow());
}

std::string TCommonLogger::NowDateTime2Str() {
  return DateTime2Str(LocalNow());
}

// An empty value stays empty, so that files go to the current folder: the file-system root,
// the other reading of "no folder", is not writable for an operator and would lose the log.
// A leading backslash ("\Logs") names a folder under the program folder, like a relative value.
std::string TCommonLogger::GetFullDir(const std::string& AValue) {
  if (AValue.empty())
    return {};
  std::string dir;
  if (AValue.front() == '/')
    dir = AValue;
  else
    dir = ProgramDir() + (AValue.front() == '\\' ? AValue.substr(1) : AValue);
  if (dir.back() != '/')
    dir += '/';
  return dir;
}

// ---- file handling ----

bool TCommonLogger::OpenFailed() {
  FLastOpenError = LastErrorText(errno);
  return false;
}

bool TCommonLogger::Open() {
  bool cont = FContinuePrevFile && fMaxSize > 0 && fCurSize < fMaxSize;
  Close();
  fCurSize = 0;
  const TLocalDateTime now = FClock();

  std::string dir = fDir;
  if (FDayInDir)
    dir += DayText(now) + "/";

  std::string name;
  if (!fFileName.empty()) {
    name = fFileName;
  } else {
    if (cont) {
      name = FindPrevFile(dir, fPrefix, fMaxSize);
      cont = !name.empty();
    }
    if (!cont)
      name = fPrefix + (FDateInFileName ? DayText(now) + "_" : std::string()) + FileTimeText(now) +
             FFileExt;
  }

  // Logs carry keys: new folders and files are for their owner alone.
  if (!dir.empty() && !CreatePrivateDirs(std::filesystem::path(dir).parent_path().string()))
    return OpenFailed();

  const std::string path = dir + name;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0)
    return OpenFailed();
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return OpenFailed();
  }
  f = fd;
  FLastDT = now;
  FLastOpenError.clear();
  if (fOnFileChanged) {
    fSyncFileName = path;
    NotifyFileChange();
  }

  const bool wasEmpty = st.st_size == 0;
  if (wasEmpty) {
    const Bytes bom = ByteOrderMark(fEnc);
    std::uint32_t written = 0;
    if (!bom.empty())
      (this->*FWriteFile)(bom.data(), static_cast<std::uint32_t>(bom.size()), written);
  }
  if (!FBanner.empty() && (wasEmpty || FContinuePrevFile)) {
    AddStrSimple(TrimLeft(FBanner));
    AddEmptyLine();
  }
  return true;
}

void TCommonLogger::Clear() {
  if (f >= 0)
    (void)!::ftruncate(f, 0);
}

void TCommonLogger::Close() {
  if (f >= 0) {
    ::close(f);
    f = -1;
    fCurSize = 0;
  }
  FEmptyLineCnt = 0;
}

std::string TCommonLogger::FindPrevFile(const std::string& ADir, const std::string& APrefix,
                                        std::int64_t AMaxSize) const {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string found;
  int candidates = 0;
  for (fs::directory_iterator it(ADir.empty() ? "." : ADir, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < APrefix.size() + FFileExt.size() || !name.starts_with(APrefix) ||
        !name.ends_with(FFileExt))
      continue;
    std::error_code entryEc;
    // Only files can be appended to; a folder of that name is no candidate.
    if (!it->is_regular_file(entryEc))
      continue;
    const auto size = it->file_size(entryEc);
    if (entryEc || static_cast<std::int64_t>(size) >= AMaxSize)
      continue;
    if (++candidates > 1)
      return {};
    found = name;
  }
  return found;
}

void TCommonLogger::NotifyFileChange() {
  const TFileChangedEvent callback = fOnFileChanged;
  const std::string path = fSyncFileName;
  std::function<void(std::function<void()>)> post;
  {
    auto& poster = Poster();
    std::lock_guard<std::mutex> lock(poster.Mutex);
    if (poster.MainId != std::this_thread::get_id())
      post = poster.Post;
  }
  std::weak_ptr<TCommonLogger> self = weak_from_this();
  if (!post || self.expired()) {
    callback(this, path);
    return;
  }
  // The queued call takes the callback and path of this moment and skips a logger that is
  // gone by the time it runs.
  post([self, callback, path] {
    if (auto logger = self.lock())
      callback(logger.get(), path);
  });
}

bool TCommonLogger::OpenDue() {
  if (f < 0)
    return true;
  if (fMaxSize > 0 && fCurSize >= fMaxSize)
    return true;
  return FDayInDir && !SameDay(FLastDT, FClock());
}

void TCommonLogger::WriteText(const std::string& AText) {
  if (OpenDue() && !Open())
    return;
  std::string text;
  if (FEmptyLineCnt > 0) {
    for (std::int32_t i = 0; i < FEmptyLineCnt; ++i)
      text += kCrLf;
    FEmptyLineCnt = 0;
  }
  text += AText;
  const Bytes bytes = EncodeText(text, fEnc);
  std::uint32_t written = 0;
  (this->*FWriteFile)(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written);
  fCurSize += static_cast<std::int64_t>(bytes.size());
}

bool TCommonLogger::PlainWrite(const void* ABuffer, std::uint32_t nNumberOfBytesToWrite,
                               std::uint32_t& lpNumberOfBytesWritten) {
  lpNumberOfBytesWritten = 0;
  const auto* p = static_cast<const char*>(ABuffer);
  while (f >= 0 && lpNumberOfBytesWritten < nNumberOfBytesToWrite) {
    const ssize_t n =
        ::write(f, p + lpNumberOfBytesWritten, nNumberOfBytesToWrite - lpNumberOfBytesWritten);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    lpNumberOfBytesWritten += static_cast<std::uint32_t>(n);
  }
  return lpNumberOfBytesWritten == nNumberOfBytesToWrite;
}

// Times the write alone; the speed line goes straight to the file, uncounted and untimed.
bool TCommonLogger::TimedWrite(const void* ABuffer, std::uint32_t nNumberOfBytesToWrite,
                               std::uint32_t& lpNumberOfBytesWritten) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = PlainWrite(ABuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  if (lpNumberOfBytesWritten > 0) {
    const long double v = static_cast<long double>(ms) / lpNumberOfBytesWritten;
    if (v >= 1e-6L) {
      const Bytes line = EncodeText(
          FormatStr("write speed: %.3f ms", {static_cast<double>(v * 1000)}) + kCrLf, fEnc);
      std::uint32_t written = 0;
      PlainWrite(line.data(), static_cast<std::uint32_t>(line.size()), written);
    }
  }
  return ok;
}

// ---- Add operations ----

std::string TCommonLogger::Timestamp() const {
  const TLocalDateTime now = FClock();
  return fUseDate ? DateTime2Str(now) : Time2Str(now);
}

std::string TCommonLogger::SizeField(std::int32_t ASize) const {
  if (!FUseSizeForHexData)
    return {};
  std::string s = "[" + std::to_string(ASize) + "] ";
  if (s.size() < 6)
    s.append(6 - s.size(), ' ');
  return s;
}

void TCommonLogger::AddHexData(const Bytes& AData, bool IsReq, const std::string& APrefix) {
  AddHexData(AData.data(), static_cast<std::int32_t>(AData.size()), IsReq, APrefix);
}

void TCommonLogger::AddHexData(const std::uint8_t* AData, std::int32_t ASize, bool IsReq,
                               const std::string& APrefix) {
  if (!fActive)
    return;
  const std::int32_t size = ASize > 0 ? ASize : 0;
  const std::string hex =
      IsReq && FRequestHexText ? FRequestHexText(AData, size) : BufToHex(AData, size);
  WriteText(Timestamp() + (IsReq ? " >> " : " << ") + SizeField(size) + APrefix + hex + kCrLf);
}

void TCommonLogger::AddHexData(const Bytes& AData, const std::string& ADelim,
                               const std::string& APrefix) {
  AddHexData(AData.data(), static_cast<std::int32_t>(AData.size()), ADelim, APrefix);
}

void TCommonLogger::AddHexData(const std::uint8_t* AData, std::int32_t ASize,
                               const std::string& ADelim, const std::string& APrefix) {
  if (!fActive)
    return;
  const std::int32_t size = ASize > 0 ? ASize : 0;
  WriteText(Timestamp() + " " + ADelim + " " + SizeField(size) + APrefix + BufToHex(AData, size) +
            kCrLf);
}

void TCommonLogger::AddEmptyLine() {
  if (fActive)
    ++FEmptyLineCnt;
}

void TCommonLogger::AddStrSimple(const std::string& AStr) {
  AddStr(AStr, false, std::string());
}

void TCommonLogger::AddStr(const std::string& AStr, bool NeedTime, const std::string& ADelim) {
  if (!fActive)
    return;
  WriteText((NeedTime ? Timestamp() : std::string()) +
            (ADelim.empty() ? std::string() : " " + ADelim + " ") + AStr + kCrLf);
}

void TCommonLogger::AddStr(const std::string& AFormat, std::initializer_list<TFormatArg> AParams,
                           bool NeedTime, const std::string& ADelim) {
  AddStr(FormatStr(AFormat, AParams), NeedTime, ADelim);
}

void TCommonLogger::AddTitleStr(const std::string& ATitle, const std::string& AStr, bool NeedTime,
                                const std::string& ADelim) {
  if (!fActive)
    return;
  WriteText(kCrLf + (NeedTime ? Timestamp() : std::string()) +
            (ADelim.empty() ? std::string() : " " + ADelim + " ") + ATitle + kCrLf + AStr + kCrLf);
}

}  // namespace kiren
