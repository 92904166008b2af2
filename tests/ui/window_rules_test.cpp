// Pure rules of the main window: enabling rules, service gate, key and card-code parsing,
// card-code increment and the settings file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <cstdlib>
#include <fstream>

#include "ui/control_rules.h"
#include "ui/editor_rules.h"
#include "ui/is_kiren.h"
#include "ui/settings_file.h"

namespace kiren {
namespace {

// ---- Enabling rules ------------------------------------------------------------------------

struct TRulesCase {
  const char* Name;
  TControlState State;
  bool PortClosed;
  // Expected flags.
  bool Port, WritePerco, EmitCard, Wiegand, ReadBlockTab;
  bool SetMode, ReadConfig, IssueTab, EmissionTab;
  std::optional<bool> ClearCard;
};

TEST(ControlRules, Table) {
  // State fields: WorkerExists, CardIsHere, VerMajor, ServiceGate, IssueTabVisible.
  const TRulesCase cases[] = {
      {"closed at start",
       {false, false, 0, false, false},
       true,
       true,
       false,
       false,
       false,
       false,
       false,
       false,
       false,
       true,
       std::nullopt},
      {"closed, gate open",
       {false, false, 0, true, false},
       true,
       true,
       false,
       false,
       false,
       true,
       false,
       false,
       false,
       true,
       std::nullopt},
      {"opening, no version yet",
       {false, false, 0, true, false},
       false,
       false,
       true,
       false,
       false,
       true,
       false,
       false,
       false,
       true,
       std::nullopt},
      {"open v2 with card",
       {true, true, 2, false, false},
       false,
       false,
       true,
       true,
       false,
       false,
       false,
       true,
       false,
       true,
       std::nullopt},
      {"open v3 no card",
       {true, false, 3, false, false},
       false,
       false,
       true,
       false,
       false,
       false,
       false,
       true,
       false,
       true,
       std::nullopt},
      {"open v4 with card",
       {true, true, 4, false, false},
       false,
       false,
       true,
       true,
       true,
       false,
       true,
       true,
       false,
       true,
       std::nullopt},
      {"open v5, gate open, card",
       {true, true, 5, true, false},
       false,
       false,
       true,
       true,
       true,
       true,
       true,
       true,
       true,
       false,
       true},
      {"open v2, gate open, card",
       {true, true, 2, true, false},
       false,
       false,
       true,
       true,
       false,
       true,
       false,
       true,
       true,
       false,
       false},
      {"open v5, gate open, no card",
       {true, false, 5, true, false},
       false,
       false,
       true,
       false,
       true,
       true,
       true,
       true,
       true,
       false,
       false},
      {"closed after issue tab shown",
       {false, true, 5, true, true},
       true,
       true,
       false,
       false,
       false,
       true,
       false,
       false,
       true,
       false,
       false},
      {"closed, gate shut, issue tab kept",
       {false, false, 5, false, true},
       true,
       true,
       false,
       false,
       false,
       false,
       false,
       false,
       true,
       false,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TControlFlags f = ControlRules(c.State, c.PortClosed);
    EXPECT_EQ(f.PortEnabled, c.Port);
    EXPECT_EQ(f.OpenCaption, c.PortClosed ? kOpenCaption : kCloseCaption);
    EXPECT_EQ(f.WritePercoSttEnabled, c.WritePerco);
    EXPECT_EQ(f.EmitCardEnabled, c.EmitCard);
    EXPECT_EQ(f.UseWiegandEnabled, c.Wiegand);
    EXPECT_EQ(f.ReadBlockTabVisible, c.ReadBlockTab);
    EXPECT_EQ(f.Service.SetModeEnabled, c.SetMode);
    EXPECT_EQ(f.Service.ReadConfigEnabled, c.ReadConfig);
    EXPECT_EQ(f.Service.EmissionPriorEnabled, c.ReadConfig);
    EXPECT_EQ(f.Service.IssueTabVisible, c.IssueTab);
    EXPECT_EQ(f.Service.EmissionTabVisible, c.EmissionTab);
    EXPECT_EQ(f.Service.ClearCardEnabled, c.ClearCard);
  }
}

TEST(ControlRules, ServiceRulesFollowTheirOwnArgument) {
  // ShowDevInfo applies the service rules with "connected" although UpdateControls ran
  // without a worker; only the argument counts.
  const TControlState s{false, true, 4, false, false};
  EXPECT_TRUE(ServiceRules(s, true).SetModeEnabled);
  EXPECT_FALSE(ServiceRules(s, false).SetModeEnabled);
}

TEST(ControlRules, ModeCaptionAndNextModeValue) {
  EXPECT_EQ(ModeMenuCaption(1), kModeOffCaption);
  for (int tag : {0, 2, 0x55, 255})
    EXPECT_EQ(ModeMenuCaption(tag), kModeOnCaption);
  EXPECT_EQ(NextModeValue(0), 1);
  EXPECT_EQ(NextModeValue(1), 0);
  EXPECT_EQ(NextModeValue(3), 254);
  EXPECT_EQ(NextModeValue(0x55), 172);
  EXPECT_EQ(NextModeValue(255), 2);
}

// ---- Service gate -----------------------------------------------------------------------------

class TSmbConf : public ::testing::Test {
 protected:
  std::string Write(const std::string& AText) {
    const std::string path = FDir.path().toStdString() + "/smb.conf";
    std::ofstream(path) << AText;
    return path;
  }
  QTemporaryDir FDir;
};

TEST_F(TSmbConf, WorkgroupOfTheGlobalSection) {
  const struct {
    const char* Text;
    const char* Workgroup;
  } cases[] = {
      {"[global]\n   workgroup = REROD\n", "REROD"},
      {"[Global]\nWorkGroup=rerod\n", "rerod"},
      {"; comment\n# workgroup = X\n[global]\n; workgroup = Y\n\tworkgroup =  OFFICE  \n",
       "OFFICE"},
      {"[homes]\nworkgroup = HOMES\n[global]\nserver string = x\n", ""},
      {"[global]\nworkgroup = A\n[printers]\nworkgroup = B\n", "A"},
      {"[global]\nworkgroup = \\\n  REROD\r\n", "REROD"},
      {"workgroup = OUTSIDE\n", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(GetWorkgroupName(Write(c.Text)), c.Workgroup);
  }
  EXPECT_EQ(GetWorkgroupName(FDir.path().toStdString() + "/missing.conf"), "");
}

TEST_F(TSmbConf, GateOpensOnlyForTheExactName) {
  EXPECT_TRUE(IsServiceWorkgroup("REROD"));
  for (const char* name : {"rerod", "Rerod", " REROD", "REROD ", "REROD2", ""})
    EXPECT_FALSE(IsServiceWorkgroup(name)) << name;
}

TEST_F(TSmbConf, GateIsFixedAfterFirstUse) {
  const std::string path = Write("[global]\nworkgroup = REROD\n");
  TServiceGate gate(path);
  EXPECT_TRUE(gate.IsKiren());
  Write("[global]\nworkgroup = OTHER\n");
  EXPECT_TRUE(gate.IsKiren());
  EXPECT_FALSE(TServiceGate(path).IsKiren());
}

// ---- Keys -----------------------------------------------------------------------------------

TEST(EditorRules, TryParseKey) {
  const TKey ff{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const struct {
    const char* Text;
    bool Ok;
    TKey Key;
  } cases[] = {
      {"FF FF FF FF FF FF", true, ff},
      {"FFFFFFFFFFFF", true, ff},
      {"  FF FF FF FF FF FF \t", true, ff},
      {"ff ffFF ff ffff", true, ff},
      {"ABCDEF", true, {0x41, 0x42, 0x43, 0x44, 0x45, 0x46}},
      {"FFFFFF", true, {0x46, 0x46, 0x46, 0x46, 0x46, 0x46}},
      {"ключ12", true, {0xEA, 0xEB, 0xFE, 0xF7, 0x31, 0x32}},
      {"A0 A1 A2 A3 A4 A5", true, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}},
      {"FF FF FF FF FF", false, {}},
      {"FF FF FF FF FF F", false, {}},
      {"FF FF FF FF FF FF FF", false, {}},
      {"GG GG GG GG GG GG", false, {}},
      {"", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    TKey key{};
    EXPECT_EQ(TryParseKey(c.Text, key), c.Ok);
    if (c.Ok) {
      EXPECT_EQ(key, c.Key);
    }
  }
}

// ---- Card code --------------------------------------------------------------------------------

TEST(EditorRules, CardCodeBytes) {
  const struct {
    const char* Text;
    bool Hex;
    int Size;
    Bytes Expected;  // empty: refused with Message
    std::string Message;
  } cases[] = {
      {"300", false, 4, {0x00, 0x00, 0x01, 0x2C}, ""},
      {"0", false, 4, {0, 0, 0, 0}, ""},
      {" 255 ", false, 4, {0, 0, 0, 0xFF}, ""},
      {"18446744073709551615", false, 8, Bytes(8, 0xFF), ""},
      {"18446744073709551615",
       false,
       10,
       {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       ""},
      {"18446744073709551615", false, 7, {}, "Введен слишком длинный код карты (максимум 7 байт)"},
      {"18446744073709551616", false, 8, {}, kMsgBadCardCode},
      {"12a", false, 4, {}, kMsgBadCardCode},
      {"", false, 4, {}, kMsgBadCardCode},
      {"-1", false, 4, {}, kMsgBadCardCode},
      {"00FF", true, 4, {0, 0, 0, 0xFF}, ""},
      {"abc", true, 4, {0, 0, 0x0A, 0xBC}, ""},
      {"AB CD", true, 4, {}, kMsgBadCardCode},
      {"0102030405", true, 5, {1, 2, 3, 4, 5}, ""},
      {"010203040506", true, 5, {}, "Введен слишком длинный код карты (максимум 5 байт)"},
      // A size no field allows: padded to 11 bytes, which the action then refuses.
      {"1", false, 2147483647, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, ""},
      {"XY", true, 4, {}, kMsgBadCardCode},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text) + (c.Hex ? " hex" : " dec"));
    if (c.Message.empty()) {
      EXPECT_EQ(CardCodeBytes(c.Text, c.Hex, c.Size), c.Expected);
    } else {
      try {
        CardCodeBytes(c.Text, c.Hex, c.Size);
        ADD_FAILURE() << "accepted";
      } catch (const TInputError& e) {
        EXPECT_EQ(e.what(), c.Message);
      }
    }
  }
}

TEST(EditorRules, IncCardCodeText) {
  const struct {
    const char* Text;
    bool Hex;
    const char* Expected;  // nullptr: refused with Message
    std::string Message;
  } cases[] = {
      {"0", false, "1", ""},
      {"299", false, "300", ""},
      {"9223372036854775807", false, "9223372036854775808", ""},
      {"18446744073709551615", false, "0", ""},
      {"18446744073709551616", false, nullptr, kMsgCannotIncCode},
      {"abc", false, nullptr, kMsgCannotIncCode},
      {"00FF", true, "100", ""},
      {"ff", true, "100", ""},
      {"FFFFFFFFFFFFFFFF", true, "0", ""},
      // Beyond 64 bits the hexadecimal digits are incremented in place.
      {"1FFFFFFFFFFFFFFFFF", true, "200000000000000000", ""},
      {"FFFFFFFFFFFFFFFFFFFF", true, nullptr, kMsgIncCodeTooLong},
      {"FFFFFFFFFFFFFFFFFFFFF", true, nullptr, kMsgIncCodeTooLong},
      {"FFFFFFFFFFFFFFFFFFF", true, "10000000000000000000", ""},
      {"", true, "01", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text) + (c.Hex ? " hex" : " dec"));
    if (c.Expected) {
      EXPECT_EQ(IncCardCodeText(c.Text, c.Hex), c.Expected);
    } else {
      try {
        IncCardCodeText(c.Text, c.Hex);
        ADD_FAILURE() << "accepted";
      } catch (const TInputError& e) {
        EXPECT_EQ(e.what(), c.Message);
      }
    }
  }
}

TEST(EditorRules, IncHexDigits) {
  std::string s = "19";
  IncHexDigits(s, 2);
  EXPECT_EQ(s, "1A");
  s = "0F";
  IncHexDigits(s, 2);
  EXPECT_EQ(s, "10");
  s = "FF";
  IncHexDigits(s, 2);
  EXPECT_EQ(s, "100");
  s = "1F";
  IncHexDigits(s, 1);  // at position 1 only the first digit counts
  EXPECT_EQ(s, "2F");
  s = "";
  IncHexDigits(s, 0);
  EXPECT_EQ(s, "1");
  s = "A F";
  EXPECT_THROW(IncHexDigits(s, 3), TInputError);  // the carry reaches the blank
  s = "1Ж";  // the message names the whole character, not one of its bytes
  try {
    IncHexDigits(s, s.size());
    ADD_FAILURE();
  } catch (const TInputError& e) {
    EXPECT_EQ(std::string(e.what()), ConversionErrorText("$Ж"));
  }
}

TEST(EditorRules, NumbersAndTexts) {
  EXPECT_EQ(StrToInt("252"), 252);
  EXPECT_EQ(StrToInt("-3"), -3);
  try {
    StrToInt("");
    ADD_FAILURE();
  } catch (const TInputError& e) {
    EXPECT_EQ(std::string(e.what()), ConversionErrorText(""));
  }
  EXPECT_THROW(StrToInt("1x"), TInputError);
  EXPECT_EQ(AddrText(4, 2, 5), "Блок: 4, Смещение: 2\r\nРазмер: 5");
  EXPECT_EQ(TrailerQuestionText(0),
            "Запись данных в указанный блок может привести к выходу из строя сектора №0 и "
            "невозможности использовать карту в рамках данной эмиссии. \r\n\r\n"
            "Если Вы уверены в своих действиях и настаиваете на продолжении, нажмите \"Да\".");
  EXPECT_EQ(TrimText(" \t\r\nab c\x01 "), "ab c");
}

// ---- Settings file ----------------------------------------------------------------------------

TEST(SettingsFile, LocationBesideTheProgramOrInTheUserFolder) {
  QTemporaryDir dir;
  const std::string prog = dir.path().toStdString() + "/bin";
  const std::string home = dir.path().toStdString() + "/config";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(prog)));
  EXPECT_EQ(SettingsFilePath(prog, home), QString::fromStdString(prog + "/settings.ini"));
  // A folder that cannot be written (or does not exist) sends the file to the user folder.
  EXPECT_EQ(SettingsFilePath(prog + "/missing", home),
            QString::fromStdString(home + "/kiren/settings.ini"));
  if (geteuid() != 0) {  // root may write anywhere
    ASSERT_EQ(::chmod(prog.c_str(), 0555), 0);
    EXPECT_EQ(SettingsFilePath(prog, home), QString::fromStdString(home + "/kiren/settings.ini"));
    ::chmod(prog.c_str(), 0755);
  }
}

TEST(SettingsFile, WritesTheCommonSectionAndReadsItBack) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/sub/settings.ini";
  TSettingsFile file(path);
  EXPECT_FALSE(file.Value("BlockNo"));
  ASSERT_TRUE(file.Write({{"BlockNo", "8"}, {"CardCode", "0x1F"}}));
  ASSERT_TRUE(file.Write({{"Offset", "2"}}));
  EXPECT_EQ(file.Value("BlockNo"), QString("8"));
  EXPECT_EQ(file.Value("Offset"), QString("2"));
  EXPECT_EQ(file.Value("CardCode"), QString("0x1F"));
  EXPECT_FALSE(file.Value("Size"));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray text = f.readAll();
  EXPECT_TRUE(text.startsWith("[Common]")) << text.toStdString();
  EXPECT_TRUE(text.contains("CardCode=0x1F"));
}

TEST(SettingsFile, FailedWriteIsReported) {
  QTemporaryDir dir;
  // The folder's place is taken by a file.
  QFile blocker(dir.path() + "/file");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  EXPECT_FALSE(TSettingsFile(dir.path() + "/file/settings.ini").Write({{"BlockNo", "9"}}));
  // The file's place is taken by a folder.
  ASSERT_TRUE(QDir().mkpath(dir.path() + "/settings.ini"));
  EXPECT_FALSE(TSettingsFile(dir.path() + "/settings.ini").Write({{"BlockNo", "9"}}));
}

TEST(SettingsFile, WriteCutShortLeavesTheOldFileWhole) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/settings.ini";
  TSettingsFile file(path);
  ASSERT_TRUE(file.Write({{"BlockNo", "8"}}));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray before = f.readAll();
  f.close();
  // The file system takes no more than a few bytes past the old size (even from root).
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = static_cast<rlim_t>(before.size() + 8);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = file.Write({{"CardCode", QString(64, 'F')}});
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"settings.ini"});
}

TEST(SettingsFile, WriteKeepsTheModeAndTheLink) {
  QTemporaryDir dir;
  const QString real = dir.path() + "/real.ini", link = dir.path() + "/settings.ini";
  ASSERT_TRUE(TSettingsFile(real).Write({{"BlockNo", "8"}}));
  ASSERT_TRUE(QFile::setPermissions(real, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
  ASSERT_TRUE(QFile::link(real, link));
  TSettingsFile file(link);
  ASSERT_TRUE(file.Write({{"Offset", "2"}}));
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(TSettingsFile(real).Value("Offset"), QString("2"));
  EXPECT_EQ(file.Value("BlockNo"), QString("8"));
  EXPECT_EQ(QFile::permissions(real) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
}

TEST(SettingsFile, ValuesThatAreNotPlainTextLoadSafely) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/settings.ini";
  std::ofstream(path.toStdString(), std::ios::binary)
      << "\xff\xfe garbage\n[Common]\nBlockNo=1,2\nOffset=@Variant(\\0\\0\\0\\x7f\\0)\n"
         "Size=@Invalid()\nLBS=@ByteArray(1)\nCardCode=\"0x1F\"\n"
      << std::string("\0\x80[[[=\n[Common\n", 15);
  TSettingsFile file(path);
  EXPECT_EQ(file.Value("BlockNo"), QString("1,2"));
  EXPECT_FALSE(file.Value("Offset"));
  EXPECT_FALSE(file.Value("Size"));
  EXPECT_EQ(file.Value("LBS"), QString("1"));
  EXPECT_EQ(file.Value("CardCode"), QString("0x1F"));
}

TEST(SettingsFile, FailedWriteKeepsTheOldFile) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root writes into read-only folders";
  QTemporaryDir dir;
  const QString path = dir.path() + "/settings.ini";
  TSettingsFile file(path);
  ASSERT_TRUE(file.Write({{"BlockNo", "8"}}));
  ASSERT_EQ(::chmod(dir.path().toLocal8Bit().constData(), 0555), 0);
  EXPECT_FALSE(file.Write({{"BlockNo", "9"}}));
  ::chmod(dir.path().toLocal8Bit().constData(), 0755);
  EXPECT_EQ(file.Value("BlockNo"), QString("8"));
}

}  // namespace
}  // namespace kiren
