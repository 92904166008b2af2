// Pure rules of the main window: enabling rules, service gate and the settings file. (Keys,
// card codes and the other operator inputs are the operator layer's, tests/operator.)
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

#include "operator/reader.h"
#include "ui/control_rules.h"
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
  bool Port = false;
  bool WritePerco = false;
  bool EmitCard = false;
  bool Wiegand = false;
  bool ReadBlockTab = false;
  bool SetMode = false;
  bool ReadConfig = false;
  bool IssueTab = false;
  bool EmissionTab = false;
  std::optional<bool> ClearCard;
};

TEST(ControlRules, Table) {
  const TRulesCase cases[] = {
      {.Name = "closed at start",
       .State = {.WorkerExists = false,
                 .CardIsHere = false,
                 .VerMajor = 0,
                 .ServiceGate = false,
                 .IssueTabVisible = false},
       .PortClosed = true,
       .Port = true,
       .WritePerco = false,
       .EmitCard = false,
       .Wiegand = false,
       .ReadBlockTab = false,
       .SetMode = false,
       .ReadConfig = false,
       .IssueTab = false,
       .EmissionTab = true,
       .ClearCard = std::nullopt},
      {.Name = "closed, gate open",
       .State = {.WorkerExists = false,
                 .CardIsHere = false,
                 .VerMajor = 0,
                 .ServiceGate = true,
                 .IssueTabVisible = false},
       .PortClosed = true,
       .Port = true,
       .WritePerco = false,
       .EmitCard = false,
       .Wiegand = false,
       .ReadBlockTab = true,
       .SetMode = false,
       .ReadConfig = false,
       .IssueTab = false,
       .EmissionTab = true,
       .ClearCard = std::nullopt},
      {.Name = "opening, no version yet",
       .State = {.WorkerExists = false,
                 .CardIsHere = false,
                 .VerMajor = 0,
                 .ServiceGate = true,
                 .IssueTabVisible = false},
       .PortClosed = false,
       .Port = false,
       .WritePerco = true,
       .EmitCard = false,
       .Wiegand = false,
       .ReadBlockTab = true,
       .SetMode = false,
       .ReadConfig = false,
       .IssueTab = false,
       .EmissionTab = true,
       .ClearCard = std::nullopt},
      {.Name = "open v2 with card",
       .State = {.WorkerExists = true,
                 .CardIsHere = true,
                 .VerMajor = 2,
                 .ServiceGate = false,
                 .IssueTabVisible = false},
       .PortClosed = false,
       .Port = false,
       .WritePerco = true,
       .EmitCard = true,
       .Wiegand = false,
       .ReadBlockTab = false,
       .SetMode = false,
       .ReadConfig = true,
       .IssueTab = false,
       .EmissionTab = true,
       .ClearCard = std::nullopt},
      {.Name = "open v3 no card",
       .State = {.WorkerExists = true,
                 .CardIsHere = false,
                 .VerMajor = 3,
                 .ServiceGate = false,
                 .IssueTabVisible = false},
       .PortClosed = false,
       .Port = false,
       .WritePerco = true,
       .EmitCard = false,
       .Wiegand = false,
       .ReadBlockTab = false,
       .SetMode = false,
       .ReadConfig = true,
       .IssueTab = false,
       .EmissionTab = true,
       .ClearCard = std::nullopt},
      {.Name = "open v4 with card",
       .State = {.WorkerExists = true,
                 .CardIsHere = true,
                 .VerMajor = 4,
                 .ServiceGate = false,
                 .IssueTabVisible = false},
       .PortClosed = false,
       .Port = false,
       .WritePerco = true,
       .EmitCard = true,
       .Wiegand = true,
       .ReadBlockTab = false,
       .SetMode = true,
       .ReadConfig = true,
       .IssueTab = false,
       .EmissionTab = true,
       .ClearCard = std::nullopt},
      {.Name = "open v5, gate open, card",
       .State = {.WorkerExists = true,
                 .CardIsHere = true,
                 .VerMajor = 5,
                 .ServiceGate = true,
                 .IssueTabVisible = false},
       .PortClosed = false,
       .Port = false,
       .WritePerco = true,
       .EmitCard = true,
       .Wiegand = true,
       .ReadBlockTab = true,
       .SetMode = true,
       .ReadConfig = true,
       .IssueTab = true,
       .EmissionTab = false,
       .ClearCard = true},
      {.Name = "open v2, gate open, card",
       .State = {.WorkerExists = true,
                 .CardIsHere = true,
                 .VerMajor = 2,
                 .ServiceGate = true,
                 .IssueTabVisible = false},
       .PortClosed = false,
       .Port = false,
       .WritePerco = true,
       .EmitCard = true,
       .Wiegand = false,
       .ReadBlockTab = true,
       .SetMode = false,
       .ReadConfig = true,
       .IssueTab = true,
       .EmissionTab = false,
       .ClearCard = false},
      {.Name = "open v5, gate open, no card",
       .State = {.WorkerExists = true,
                 .CardIsHere = false,
                 .VerMajor = 5,
                 .ServiceGate = true,
                 .IssueTabVisible = false},
       .PortClosed = false,
       .Port = false,
       .WritePerco = true,
       .EmitCard = false,
       .Wiegand = true,
       .ReadBlockTab = true,
       .SetMode = true,
       .ReadConfig = true,
       .IssueTab = true,
       .EmissionTab = false,
       .ClearCard = false},
      {.Name = "closed after issue tab shown",
       .State = {.WorkerExists = false,
                 .CardIsHere = true,
                 .VerMajor = 5,
                 .ServiceGate = true,
                 .IssueTabVisible = true},
       .PortClosed = true,
       .Port = true,
       .WritePerco = false,
       .EmitCard = false,
       .Wiegand = false,
       .ReadBlockTab = true,
       .SetMode = false,
       .ReadConfig = false,
       .IssueTab = true,
       .EmissionTab = false,
       .ClearCard = false},
      {.Name = "closed, gate shut, issue tab kept",
       .State = {.WorkerExists = false,
                 .CardIsHere = false,
                 .VerMajor = 5,
                 .ServiceGate = false,
                 .IssueTabVisible = true},
       .PortClosed = true,
       .Port = true,
       .WritePerco = false,
       .EmitCard = false,
       .Wiegand = false,
       .ReadBlockTab = false,
       .SetMode = false,
       .ReadConfig = false,
       .IssueTab = true,
       .EmissionTab = false,
       .ClearCard = false},
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
  const TControlState s{.WorkerExists = false, .CardIsHere = true, .VerMajor = 4};
  EXPECT_TRUE(ServiceRules(s, true).SetModeEnabled);
  EXPECT_FALSE(ServiceRules(s, false).SetModeEnabled);
}

TEST(ControlRules, ModeCaptionAndNextModeValue) {
  EXPECT_EQ(ModeMenuCaption(1), kModeOffCaption);
  for (int tag : {0, 2, 0x55, 255})
    EXPECT_EQ(ModeMenuCaption(tag), kModeOnCaption);
  EXPECT_EQ(op::NextModeValue(0), 1);
  EXPECT_EQ(op::NextModeValue(1), 0);
  EXPECT_EQ(op::NextModeValue(3), 254);
  EXPECT_EQ(op::NextModeValue(0x55), 172);
  EXPECT_EQ(op::NextModeValue(255), 2);
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
