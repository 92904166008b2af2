#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli_fixture.h"

namespace kiren::test {
namespace {

using namespace std::chrono_literals;

class TCliTest : public TCliFixture {
 protected:
  TCliTest() : TCliFixture("kiren-cli-test") {}
  void SetUp() override {
    FEnv = {"XDG_RUNTIME_DIR=" + FDir, "KIREN_LOG_DIR=" + FDir + "/logs", "LC_ALL=C.UTF-8"};
  }

  std::string StartSim(const std::vector<std::string>& AArgs = {}) {
    return StartSimProcess(AArgs);
  }
  void SimCommand(const std::string& ALine) { ASSERT_FALSE(FSim->Command(ALine).empty()) << ALine; }
};

TEST_F(TCliTest, InfoInTextAndJson) {
  const std::string port = StartSim();
  int status = -1;
  std::string out = RunCli({port, "info"}, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Версия: Kiren-M1 v5.3\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Режим работы \"Универсальная команда\" отключен"), std::string::npos) << out;
  EXPECT_NE(out.find("Параметры эмиссии не приоритетны"), std::string::npos) << out;
  EXPECT_NE(out.find("Конфигурация:\n  81: "), std::string::npos) << out;

  out = RunCli({"--json", port, "info"}, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.rfind("{\"ok\":true,\"port\":\"" + port + "\",\"version\":\"Kiren-M1 v5.3\"", 0),
            0u)
      << out;
  EXPECT_NE(out.find("\"config\":{\"81\":[\"4\",\"0\",\"5\",\"0\"]"), std::string::npos) << out;

  out = RunCli({port, "mode", "on"}, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "Операция выполнена успешно\n");
  out = RunCli({"--json", port, "mode", "query"}, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("\"on\":true"), std::string::npos) << out;
}

TEST_F(TCliTest, FailuresGiveTheirExitStatus) {
  int status = -1;
  RunCli({"pts/999999", "info"}, status);
  EXPECT_EQ(status, 3);
  RunCli({"pts/1", "read-block", "--block", "300"}, status);
  EXPECT_EQ(status, 2);
  RunCli({"pts/1", "frobnicate"}, status);
  EXPECT_EQ(status, 2);
  RunCli({"info"}, status);
  EXPECT_EQ(status, 2) << "no port";
  const std::string portHelp = RunCli({"write-code", "--help"}, status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(portHelp.find("--count N"), std::string::npos) << portHelp;
}

// One line per card change, until SIGINT.
TEST_F(TCliTest, WatchPrintsCardChanges) {
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    const std::string port = StartSim();
    auto cli = Cli(json ? std::vector<std::string>{"--json", port, "watch"}
                        : std::vector<std::string>{port, "watch"});
    ASSERT_TRUE(cli->WaitFor(json ? "\"present\":false" : "Нет карты\n", 15s)) << cli->Output();
    SimCommand("put 04A1B20C");
    ASSERT_TRUE(cli->WaitFor(json ? "\"uid\":\"04A1B20C\"" : "UID: 04A1B20C", 15s))
        << cli->Output();
    SimCommand("remove");
    ASSERT_TRUE(cli->WaitFor(json ? "\"present\":false" : "Нет карты\n", 15s)) << cli->Output();
    cli->Signal(SIGINT);
    EXPECT_EQ(cli->Wait(15s), 0);
    const std::string& out = cli->Output();
    if (json) {
      EXPECT_EQ(out.rfind("{\"event\":\"device\",\"version\":\"Kiren-M1 v5.3\"}\n", 0), 0u) << out;
    } else {
      EXPECT_EQ(
          out.rfind("Версия: Kiren-M1 v5.3\nНет карты\nТип: Mifare Classic 1K; UID: 04A1B20C", 0),
          0u)
          << out;
    }
    FSim.reset();
  }
}

TEST_F(TCliTest, ReadBlockWithGoodAndBadKey) {
  const std::string port = StartSim({"--card", "written"});
  int status = -1;
  std::string out = RunCli({port, "read-block", "--block", "4", "--key", "A0A1A2A3A4A5"}, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "Блок 4: 01 23 45 67 89 00 00 00 00 00 00 00 00 00 00 00\n"
            "Операция выполнена успешно\n");
  out = RunCli({"--json", port, "read-block", "--block", "4"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(out, "{\"ok\":false,\"code\":7,\"text\":\"Ошибка: Ошибка аутентификации\"}\n");
}

// Three cards put on one after another get three consecutive codes of the journal's series; a
// card that refuses the write is reported with its number, UID and reason, and the run's status
// says it failed once no further card comes.
TEST_F(TCliTest, WriteCodeCountsThroughCards) {
  const std::string port = StartSim();
  const std::string journal = FDir + "/journal.sqlite3";
  auto cli = Cli({port, "write-code", "--block", "4", "--size", "5", "--code", "5", "--count", "3",
                  "--wait", "30", "--journal", journal});
  const char* uids[] = {"11111111", "22222222", "33333333"};
  for (int i = 0; i < 3; ++i) {
    SimCommand(std::string("put ") + uids[i]);
    ASSERT_TRUE(cli->WaitFor(std::string("(UID ") + uids[i] + ")", 20s)) << cli->Output();
    // The reader reports a swap only through the empty field in between.
    SimCommand("remove");
    if (i < 2) {
      ASSERT_TRUE(WaitStderr("Карта снята", i + 1));
    }
  }
  EXPECT_EQ(cli->Wait(20s), 0);
  // Each card: its line, the check's lines, the journal row.
  const std::string& written = cli->Output();
  std::size_t pos = 0;
  for (const char* line :
       {"Карта 1 из 3 (UID 11111111), код 0000000005: Операция выполнена успешно\n"
        "  Проверка: Проверено\n",
        "  Журнал: запись 1\n",
        "Карта 2 из 3 (UID 22222222), код 0000000006: Операция выполнена успешно\n"
        "  Проверка: Проверено\n",
        "  Журнал: запись 2\n",
        "Карта 3 из 3 (UID 33333333), код 0000000007: Операция выполнена успешно\n"
        "  Проверка: Проверено\n",
        "  Журнал: запись 3\n"}) {
    pos = written.find(line, pos);
    ASSERT_NE(pos, std::string::npos) << line << "\n" << written;
  }

  auto failing = Cli({"--json", port, "write-code", "--block", "4", "--size", "5", "--code", "0x10",
                      "--count", "3", "--wait", "3", "--series", "second", "--journal", journal});
  SimCommand("put 44444444");
  ASSERT_TRUE(failing->WaitFor("\"uid\":\"44444444\"", 20s)) << failing->Output();
  SimCommand("remove");
  ASSERT_TRUE(WaitStderr("Карта снята", 3));  // the two above and this one
  SimCommand("written 55555555");
  EXPECT_EQ(failing->Wait(20s), 1) << ReadText(FDir + "/cli.err") << FSim->Process().Output();
  const std::string& out = failing->Output();
  EXPECT_NE(out.find("{\"ok\":true,\"code\":0,\"text\":\"Операция выполнена успешно\",\"card\":1,"
                     "\"uid\":\"44444444\",\"card_code\":\"0000000010\""),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("{\"ok\":false,\"code\":7,\"text\":\"Ошибка: Ошибка аутентификации\","
                     "\"card\":2,\"uid\":\"55555555\",\"card_code\":\"0000000011\""),
            std::string::npos)
      << out;
}

// A reader that goes away between two cards ends the run at once, naming the card that was
// waited for and why.
TEST_F(TCliTest, WriteCodeStopsWhenTheReaderGoesAway) {
  const std::string port = StartSim();
  auto cli = Cli({port, "write-code", "--block", "4", "--size", "5", "--code", "5", "--count", "2",
                  "--wait", "60", "--journal", FDir + "/journal.sqlite3"});
  SimCommand("put 11111111");
  ASSERT_TRUE(cli->WaitFor("(UID 11111111)", 20s)) << cli->Output();
  ASSERT_TRUE(WaitStderr("Карта 2 из 2: поднесите карту", 1));
  FSim->Process().Signal(SIGKILL);  // the pseudo-terminal hangs up
  EXPECT_EQ(cli->Wait(20s), 3);
  EXPECT_NE(ReadText(FDir + "/cli.err").find("Карта 2 из 2: Связь со считывателем потеряна"),
            std::string::npos)
      << ReadText(FDir + "/cli.err");
}

// Values and command lines that cannot be used are refused with status 2 before the port is
// opened: the port here does not exist, so opening it would give 3.
TEST_F(TCliTest, BadValuesAreRefusedBeforeThePortOpens) {
  const std::string port = "pts/999999";
  const struct {
    std::vector<std::string> Args;
    const char* Stderr;
  } cases[] = {
      {{port, "issue", "--variant", "4", "--user-data", "0102XY"},
       "--user-data: Данные пользователя должны быть шестнадцатеричными"},
      {{port, "issue", "--variant", "1", "--factory-key", "FF FF FF"},
       "--factory-key: Заводской ключ должен содержать 6 байт"},
      {{port, "issue", "--variant", "1", "--emission", "70000"}, "--emission: Код эмиссии"},
      {{port, "write-code", "--block", "4", "--code", "0x"},
       "--code: Введен некорректный код карты"},
      {{port, "write-code", "--block", "4", "--code", "0x100000000"},
       "--code: Введен слишком длинный код карты (максимум 4 байт)"},
      {{port, "write-params", "--block", "4", "--size", "4", "--key", "ABCDE"},
       "--key: Ключ должен содержать 6 байт"},
      {{port, "read-block", "--block", "4", "--key", "ABCDEF"},
       "--key: Не удалось распознать пароль для считывания блока"},
      {{port, "info", "extra"}, "команда info не принимает слов, получено \"extra\""},
      {{port, "clear", "now"}, "команда clear не принимает слов"},
      {{port, "mode", "on", "off"}, "ожидается on, off или query"},
      {{"ports", "all"}, "команда ports не принимает слов"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args[1]);
    int status = -1;
    const std::string out = RunCli(c.Args, status);
    EXPECT_EQ(status, 2) << out;
    EXPECT_EQ(out, "");
    EXPECT_NE(ReadText(FDir + "/cli.err").find(c.Stderr), std::string::npos)
        << ReadText(FDir + "/cli.err");
  }
}

// With --json every refusal is one JSON object on stdout, also those of the command line.
TEST_F(TCliTest, JsonRefusalsAreJson) {
  const std::vector<std::vector<std::string>> cases = {
      {"--json", "pts/1", "frobnicate"},
      {"pts/1", "read-block", "--block", "4", "--bogus", "--json"},
      {"--json", "pts/1", "read-block", "--block"},
      {"--json", "info"},
      {"--json"},
      {"--json", "pts/999999", "issue", "--variant", "4", "--user-data", "XY"},
      {"--json", "pts/999999", "info", "extra"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.back());
    int status = -1;
    const std::string out = RunCli(args, status);
    EXPECT_EQ(status, 2) << out;
    EXPECT_EQ(out.rfind("{\"ok\":false,\"error\":\"", 0), 0u) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
  }
}

// A typo in the user data leaves the card as it was: nothing is cleared.
TEST_F(TCliTest, IssueWithBadUserDataLeavesTheCard) {
  const std::string port = StartSim({"--card", "written"});
  const std::vector<std::string> read = {port, "read-block", "--block",
                                         "4",  "--key",      "A0A1A2A3A4A5"};
  int status = -1;
  const std::string before = RunCli(read, status);
  ASSERT_EQ(status, 0) << before;
  RunCli({port, "issue", "--variant", "4", "--user-data", "00112233445566778899ZZ"}, status);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(RunCli(read, status), before);
  EXPECT_EQ(status, 0);
}

// A six-character key is an ASCII key for kiren-cli as for the window.
TEST_F(TCliTest, AsciiKeyForTheEmissionParameters) {
  const std::string port = StartSim();
  int status = -1;
  const std::string out = RunCli({port, "write-params", "--block", "4", "--size", "4", "--key",
                                  "ABCDEF", "--journal", FDir + "/journal.sqlite3"},
                                 status);
  EXPECT_EQ(status, 0) << out;
  FSim->Process().Write("show\n");
  EXPECT_TRUE(FSim->Process().WaitFor("emission: key 414243444546 block 4 offset 0 size 4", 5s))
      << FSim->Process().Output();
}

// The reader going away while a mode or priority command waits for its answer is a lost
// link (status 3), not a failed command.
TEST_F(TCliTest, LinkLostDuringModeOrPriority) {
  const struct {
    const char* Command;
    const char* Cmd;
    const char* Request;  // the command's request in the debug log
    int Before;           // such requests sent while connecting (a silent one goes out once)
  } cases[] = {{"mode", "52", ">> FE 04 52 02", 1}, {"priority", "a8", ">> FE 04 A8 02", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    const std::string port = StartSim();
    SimCommand(std::string("fault cmd ") + c.Cmd);
    SimCommand("fault count all");
    SimCommand("fault noanswer on");
    auto cli = Cli({port, c.Command, "query"});
    // Wait until the command's own request is out, then hang up.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    int sent = 0;
    while (sent <= c.Before && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(50ms);
      sent = 0;
      std::error_code ec;
      for (const auto& file : std::filesystem::directory_iterator(FDir + "/logs", ec)) {
        const std::string text = ReadText(file.path().string());
        for (auto pos = text.find(c.Request); pos != std::string::npos;
             pos = text.find(c.Request, pos + 1))
          ++sent;
      }
    }
    ASSERT_GT(sent, c.Before);
    SimCommand("hangup");
    EXPECT_EQ(cli->Wait(20s), 3) << cli->Output();
    EXPECT_NE(ReadText(FDir + "/cli.err").find("Связь со считывателем потеряна"), std::string::npos)
        << ReadText(FDir + "/cli.err");
    FSim.reset();
    std::filesystem::remove_all(FDir + "/logs");
  }
}

}  // namespace
}  // namespace kiren::test
