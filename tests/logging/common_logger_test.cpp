#include "logging/common_logger.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "base/text_utils.h"
#include "log_fixture.h"
#include "logging/program_dir.h"

namespace kiren {
namespace {

using test::LogFixture;
using Logger = std::shared_ptr<ICommonLogger>;

// The calls the device worker makes per exchange, in its order.
void LogExchange(ICommonLogger& ALog, const Bytes& AReq, const Bytes* AAnswer, int AAttempt = 2) {
  ALog.AddEmptyLine();
  ALog.AddHexData(AReq, true, "");
  if (AAnswer)
    ALog.AddHexData(*AAnswer, false, "");
  else
    ALog.AddStr("Ошибка записи в COM-порт [попытка %d]: %s", {AAttempt, "Ввод/вывод прерван"}, true,
                "**");
}

TEST_F(LogFixture, DebugLogOfExchangesIsByteExact) {
  Logger log = NewLogger();
  const Bytes req = {0x01, 0x02, 0x0A}, answer = {0xFD, 0x00, 0xAB}, none;
  LogExchange(*log, req, &answer);
  fNow->MSec = 456;
  LogExchange(*log, req, &none);
  fNow->Sec = 7;
  fNow->MSec = 7;
  LogExchange(*log, req, nullptr);

  EXPECT_EQ(Names(fRoot), std::set<std::string>{"dbg_2019.07.09_11.41.05.txt"});
  const std::string want =
      "11:41:05.123 >> 01 02 0A\r\n"
      "11:41:05.123 << FD 00 AB\r\n"
      "\r\n"
      "11:41:05.456 >> 01 02 0A\r\n"
      "11:41:05.456 << \r\n"
      "\r\n"
      "11:41:07.007 >> 01 02 0A\r\n"
      "11:41:07.007 ** Ошибка записи в COM-порт [попытка 2]: Ввод/вывод прерван\r\n";
  const Bytes file = ReadBytes(fRoot + "dbg_2019.07.09_11.41.05.txt");
  EXPECT_EQ(file, EncodeText(want, TCodePage::Cp1251));
  // Windows-1251 on disk: "О" of "Ошибка" is the single byte 0xCE.
  EXPECT_NE(std::find(file.begin(), file.end(), 0xCE), file.end());
}

TEST_F(LogFixture, LineFormats) {
  Bytes big(1234);
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<std::uint8_t>(i);
  const Bytes three = {0x01, 0x02, 0x0A};
  const std::uint8_t raw[] = {0xAB, 0xCD};
  const struct {
    const char* Name;
    std::function<void(ICommonLogger&)> Act;
    std::string Want;
  } cases[] = {
      {"sizes",
       [&](ICommonLogger& l) {
         l.SetUseSizeForHexData(true);
         l.AddHexData(Bytes{}, true);
         l.AddHexData(Bytes(1, 0xFF), true);
         l.AddHexData(Bytes(12, 0), false);
         l.AddHexData(Bytes(123, 0), true, "p:");
         l.AddHexData(big, true);
       },
       "11:41:05.123 >> [0]   \r\n"
       "11:41:05.123 >> [1]   FF\r\n"
       "11:41:05.123 << [12]  " +
           BytesToHexStr(Bytes(12, 0)) +
           "\r\n"
           "11:41:05.123 >> [123] p:" +
           BytesToHexStr(Bytes(123, 0)) +
           "\r\n"
           "11:41:05.123 >> [1234] " +
           BytesToHexStr(big) + "\r\n"},
      {"delimiters and prefixes",
       [&](ICommonLogger& l) {
         l.AddHexData(three, "");
         l.AddHexData(three, "##", "tx ");
         l.AddHexData(raw, 2, false, "rx ");
         l.AddHexData(raw, 2, "**");
         l.AddHexData(raw, -1, true);
       },
       "11:41:05.123  01 02 0A\r\n"
       "11:41:05.123 ## tx 01 02 0A\r\n"
       "11:41:05.123 << rx AB CD\r\n"
       "11:41:05.123 ** AB CD\r\n"
       "11:41:05.123 >> \r\n"},
      {"texts",
       [](ICommonLogger& l) {
         l.AddStr("x", false, "");
         l.AddStr("y", true, "");
         l.AddStr("z", false, "--");
         l.AddStrSimple("s");
         l.AddTitleStr("t", "s", false, "");
         l.AddTitleStr("t", "s", true, "==");
       },
       "x\r\n11:41:05.123y\r\n -- z\r\ns\r\n"
       "\r\nt\r\ns\r\n"
       "\r\n11:41:05.123 == t\r\ns\r\n"},
      {"date in timestamp",
       [](ICommonLogger& l) {
         l.SetDateInTimestamp(true);
         l.AddStr("d", true, "");
       },
       "09.07.2019 11:41:05.123d\r\n"},
      {"pending empty lines",
       [](ICommonLogger& l) {
         l.AddEmptyLine();  // dropped by the open the first text triggers
         l.AddStrSimple("a");
         l.AddEmptyLine();
         l.AddEmptyLine();
         l.AddStrSimple("b");
         l.SetActive(false);
         l.AddEmptyLine();
         l.AddStrSimple("hidden");
         l.SetActive(true);
         l.AddStrSimple("c");  // same second: the file is appended to
         l.AddEmptyLine();
         l.Close();
         l.AddStrSimple("d");
       },
       "a\r\n\r\n\r\nb\r\nc\r\nd\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string dir = fRoot + c.Name + "/";
    Logger log = TCommonLogger::Create(dir, "dbg_", true, Clock());
    c.Act(*log);
    EXPECT_EQ(ReadCp1251(dir + "dbg_2019.07.09_11.41.05.txt"), c.Want);
  }
}

TEST_F(LogFixture, ByteOrderMarkAndBanner) {
  const Bytes kBom8 = {0xEF, 0xBB, 0xBF}, kNone;
  const struct {
    const char* Name;
    TCodePage CodePage;
    const char* Existing;  // nullptr: no file before
    bool Continue;
    Bytes Bom;
    std::string Want;
  } cases[] = {
      {"new cp1251", TCodePage::Cp1251, nullptr, false, kNone, "Журнал\r\n\r\nтекст\r\n"},
      {"new utf8", TCodePage::Utf8, nullptr, false, kBom8, "Журнал\r\n\r\nтекст\r\n"},
      {"empty utf8", TCodePage::Utf8, "", false, kBom8, "Журнал\r\n\r\nтекст\r\n"},
      {"old file", TCodePage::Utf8, "old\r\n", false, kNone, "old\r\nтекст\r\n"},
      {"old file continued", TCodePage::Utf8, "old\r\n", true, kNone,
       "old\r\nЖурнал\r\n\r\nтекст\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = fRoot + c.Name + ".log";
    if (c.Existing)
      WriteFile(path, c.Existing);
    Logger log = NewLogger();
    log->SetCodePage(c.CodePage);
    log->SetFileName(path);
    log->SetBanner(" \t Журнал");
    log->SetContinuePrevFile(c.Continue);
    log->AddEmptyLine();
    log->AddStrSimple("текст");
    Bytes want = c.Bom;
    for (std::uint8_t b : EncodeText(c.Want, c.CodePage))
      want.push_back(b);
    EXPECT_EQ(ReadBytes(path), want);
  }

  // UTF-16 little-endian: FF FE and the text's own code units.
  Logger log = NewLogger();
  log->SetCodePage(TCodePage::Utf16LE);
  log->SetFileName(fRoot + "wide.log");
  log->AddStrSimple("Я");
  EXPECT_EQ(ReadBytes(fRoot + "wide.log"), (Bytes{0xFF, 0xFE, 0x2F, 0x04, 0x0D, 0x00, 0x0A, 0x00}));
}

TEST_F(LogFixture, ClearKeepsCountersAndWritesNoHeaderAgain) {
  Logger log = NewLogger();
  log->SetCodePage(TCodePage::Utf8);
  log->SetBanner("B");
  log->SetMaxSize(30);
  const std::string path = fRoot + "dbg_2019.07.09_11.41.05.txt";
  const auto text = [&] {
    const Bytes b = ReadBytes(path);
    return std::string(b.begin(), b.end());
  };
  log->AddStrSimple("0123456789");  // counted: banner 3 + empty line 2 + 12
  log->Clear();
  log->AddStrSimple("x");
  EXPECT_EQ(text(), "x\r\n");
  log->AddStrSimple("0123456789");  // 20 + 12: the limit is passed
  log->Clear();
  log->AddStrSimple("y");  // reopens the same-second name, now empty: mark and banner again
  EXPECT_EQ(text(),
            "\xEF\xBB\xBF"
            "B\r\n\r\ny\r\n");
}

TEST_F(LogFixture, SizeRotation) {
  for (bool sameSecond : {true, false}) {
    SCOPED_TRACE(sameSecond ? "same second" : "next second");
    const std::string dir = fRoot + (sameSecond ? "same/" : "next/");
    SetTime(2019, 7, 9, 11, 41, 5, 123);
    Logger log = TCommonLogger::Create(dir, "dbg_", true, Clock());
    log->SetMaxSize(100);
    const std::string line(48, 'a');  // 50 bytes with CR LF
    log->AddStrSimple(line);
    log->AddStrSimple(line);  // 100 bytes: the limit is reached, not passed
    if (!sameSecond)
      fNow->Sec = 6;
    log->AddEmptyLine();  // dropped by the rotating open
    log->AddStrSimple("next");
    const std::string first = dir + "dbg_2019.07.09_11.41.05.txt";
    if (sameSecond) {
      EXPECT_EQ(Names(dir), std::set<std::string>{"dbg_2019.07.09_11.41.05.txt"});
      EXPECT_EQ(ReadCp1251(first), line + "\r\n" + line + "\r\nnext\r\n");
    } else {
      EXPECT_EQ(Names(dir), (std::set<std::string>{"dbg_2019.07.09_11.41.05.txt",
                                                   "dbg_2019.07.09_11.41.06.txt"}));
      EXPECT_EQ(ReadCp1251(first), line + "\r\n" + line + "\r\n");
      EXPECT_EQ(ReadCp1251(dir + "dbg_2019.07.09_11.41.06.txt"), "next\r\n");
    }
  }
}

TEST_F(LogFixture, ContinuePrevFile) {
  Logger log = NewLogger();
  log->SetContinuePrevFile(false);
  EXPECT_EQ(log->GetMaxSize(), 1048576);
  log->SetMaxSize(20);
  log->SetContinuePrevFile(true);
  EXPECT_EQ(log->GetMaxSize(), 20);

  const struct {
    const char* Name;
    std::vector<std::pair<std::string, std::string>> Files;  // name, content
    std::string Target;                                      // file the text goes to
  } cases[] = {
      {"one candidate",
       {{"dbg_a.txt", "a\r\n"},
        {"dbg_big.txt", std::string(20, 'b')},
        {"other_c.txt", ""},
        {"dbg_d.log", ""}},
       "dbg_a.txt"},
      {"two candidates",
       {{"dbg_a.txt", "a\r\n"}, {"dbg_b.txt", "b\r\n"}},
       "dbg_2019.07.09_11.41.05.txt"},
      {"none", {{"dbg_big.txt", std::string(25, 'b')}}, "dbg_2019.07.09_11.41.05.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string dir = fRoot + c.Name + "/";
    std::filesystem::create_directories(dir);
    for (const auto& [name, text] : c.Files)
      WriteFile(dir + name, text);
    Logger cont = TCommonLogger::Create(dir, "dbg_", true, Clock());
    cont->SetMaxSize(20);
    cont->SetContinuePrevFile(true);
    cont->AddStrSimple("new");
    const std::string* before = nullptr;
    for (const auto& f : c.Files)
      if (f.first == c.Target)
        before = &f.second;
    EXPECT_EQ(ReadCp1251(dir + c.Target), (before ? *before : std::string()) + "new\r\n");
  }
}

TEST_F(LogFixture, DayInDirSwitchesSettingsAndFolderAtMidnight) {
  Logger log = NewLogger();
  EXPECT_TRUE(log->GetDateInFileName());
  EXPECT_FALSE(log->GetDateInTimestamp());
  log->SetDayInDir(true);
  EXPECT_FALSE(log->GetDateInFileName());
  EXPECT_TRUE(log->GetDateInTimestamp());

  SetTime(2019, 7, 9, 23, 59, 59, 999);
  log->AddStrSimple("late");
  SetTime(2019, 7, 10, 0, 0, 1, 5);
  log->AddStr("early", true, "");
  EXPECT_EQ(ReadCp1251(fRoot + "2019.07.09/dbg_23.59.59.txt"), "late\r\n");
  EXPECT_EQ(ReadCp1251(fRoot + "2019.07.10/dbg_00.00.01.txt"), "10.07.2019 00:00:01.005early\r\n");

  log->SetDayInDir(false);  // only stored
  EXPECT_FALSE(log->GetDateInFileName());
  EXPECT_TRUE(log->GetDateInTimestamp());
}

TEST_F(LogFixture, UnwritableFolderGivesLastOpenErrorAndNoException) {
  WriteFile(fRoot + "plain_file", "x");
  Logger log = TCommonLogger::Create(fRoot + "plain_file/Logs", "dbg_", true, Clock());
  EXPECT_NO_THROW(LogExchange(*log, {0x01}, nullptr));
  EXPECT_FALSE(log->IsOpened());
  EXPECT_FALSE(log->GetLastOpenError().empty());
  EXPECT_FALSE(log->Open());

  // A name that is a folder: the folder exists, the file cannot be opened.
  std::filesystem::create_directories(fRoot + "dir.txt");
  log->SetFileName(fRoot + "dir.txt");
  EXPECT_NO_THROW(log->AddStrSimple("lost"));
  EXPECT_FALSE(log->IsOpened());
  EXPECT_FALSE(log->GetLastOpenError().empty());

  // The next write after the fault is mended opens the file and clears the error.
  log->SetFileName(fRoot + "ok.txt");
  log->AddStrSimple("kept");
  EXPECT_TRUE(log->IsOpened());
  EXPECT_EQ(log->GetLastOpenError(), "");
  EXPECT_EQ(ReadCp1251(fRoot + "ok.txt"), "kept\r\n");
}

TEST_F(LogFixture, DirAndFileNameSettings) {
  SetProgramDir(fRoot + "prog");
  EXPECT_EQ(ProgramDir(), fRoot + "prog/");
  const struct {
    std::string Value, Want;
  } dirs[] = {
      {"", ""},
      {"/var/x", "/var/x/"},
      {"/var/x/", "/var/x/"},
      {"Logs", fRoot + "prog/Logs/"},
      {"\\Logs", fRoot + "prog/Logs/"},
      {"a/b/", fRoot + "prog/a/b/"},
  };
  for (const auto& d : dirs)
    EXPECT_EQ(TCommonLogger::GetFullDir(d.Value), d.Want) << d.Value;

  Logger log = TCommonLogger::Create("Logs", "dbg_", true, Clock());
  EXPECT_EQ(log->GetDir(), fRoot + "prog/Logs/");
  log->AddStrSimple("first");  // creates the missing folder beside the program
  EXPECT_EQ(ReadCp1251(fRoot + "prog/Logs/dbg_2019.07.09_11.41.05.txt"), "first\r\n");

  log->SetFileName(fRoot + "fixed/name.log");
  EXPECT_EQ(log->GetFileName(), "name.log");
  EXPECT_EQ(log->GetDir(), fRoot + "fixed/");
  log->SetFileName("");  // back to generated names, same folder
  EXPECT_EQ(log->GetDir(), fRoot + "fixed/");
  log->SetFileName("bare.log");
  EXPECT_EQ(log->GetDir(), "");
  SetProgramDir("");
}

TEST_F(LogFixture, ActiveAndCodePageChangesCloseTheFile) {
  Logger log = NewLogger();
  EXPECT_TRUE(log->Open());
  log->SetCodePage(TCodePage::Cp1251);  // same code page: nothing happens
  EXPECT_TRUE(log->IsOpened());
  log->SetCodePage(TCodePage::Utf8);
  EXPECT_FALSE(log->IsOpened());
  EXPECT_TRUE(log->Open());
  log->SetActive(false);
  EXPECT_FALSE(log->IsOpened());
  log->AddStrSimple("ignored");
  EXPECT_FALSE(log->IsOpened());
  EXPECT_THROW(log->AddStr("%d", {"x"}, true, ""), std::invalid_argument);
}

TEST_F(LogFixture, FileChangedReachesTheMainThread) {
  std::vector<std::function<void()>> queue;
  SetMainThreadPoster([&queue](std::function<void()> ACall) { queue.push_back(std::move(ACall)); });
  std::vector<std::string> seen;
  Logger log = NewLogger();
  log->SetOnFileChanged([&](ICommonLogger*, const std::string& AName) { seen.push_back(AName); });

  EXPECT_TRUE(log->Open());  // on the main thread: at once
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], fRoot + "dbg_2019.07.09_11.41.05.txt");

  std::thread([&] { log->Open(); }).join();  // elsewhere: queued
  EXPECT_EQ(seen.size(), 1u);
  ASSERT_EQ(queue.size(), 1u);
  queue[0]();
  EXPECT_EQ(seen.size(), 2u);

  std::thread([&] { log->Open(); }).join();
  log.reset();  // a queued call for a logger that is gone does nothing
  queue[1]();
  EXPECT_EQ(seen.size(), 2u);
  SetMainThreadPoster(nullptr);
}

TEST_F(LogFixture, UseStatKeepsTextsIntact) {
  Logger log = NewLogger();
  log->SetUseStat(true);
  for (int i = 0; i < 50; ++i)
    log->AddStrSimple(std::string(2000, 'x'));
  log->SetUseStat(false);
  log->AddStrSimple("end");
  // Each text may be followed by a speed line; nothing else gets in.
  const std::regex speed("write speed: [0-9]+\\.[0-9]{3} ms");
  std::istringstream in(ReadCp1251(fRoot + "dbg_2019.07.09_11.41.05.txt"));
  int texts = 0;
  for (std::string line; std::getline(in, line);) {
    ASSERT_TRUE(line.ends_with('\r'));
    line.pop_back();
    if (line == std::string(2000, 'x') || line == "end")
      ++texts;
    else
      EXPECT_TRUE(std::regex_match(line, speed)) << line;
  }
  EXPECT_EQ(texts, 51);
}

TEST(Stat, TracksMinMaxAndAverage) {
  TStat s;
  EXPECT_EQ(s.avgSpeed(), 0);
  for (long double v : {4.0L, 2.0L, 6.0L})
    s.Add(v);
  EXPECT_EQ(s.minSpeed, 2.0L);
  EXPECT_EQ(s.maxSpeed, 6.0L);
  EXPECT_EQ(s.cnt, 3);
  EXPECT_EQ(s.avgSpeed(), 4.0L);
  s.Clear();
  EXPECT_EQ(s.cnt, 0);
}

}  // namespace
}  // namespace kiren
